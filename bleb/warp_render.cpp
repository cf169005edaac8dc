#include "bleb/warp_render.h"

#include "bleb/warp_sample.h"

namespace bleb {

RowBand ChunkRows(int k, int n, int height) {
  if (n < 1) n = 1;
  const int per = height / n;
  const int begin = k * per;
  const int end = k >= n - 1 ? height : begin + per;
  return {begin, end};
}

bool WarpRender::Prepare(const WarpParams& params, const std::uint8_t* const* src,
                         const std::atomic<int>* abort, bool forceWideSums) {
  Release();
  if (!CanWarp(params.width, params.height) || src == nullptr) return false;
  if (!tables_.Build(src, params.width, params.height, abort, forceWideSums)) return false;
  if (!map_.Allocate(params.width, params.height)) {
    tables_.Release();
    return false;
  }
  params_ = params;
  src_ = src;
  return true;
}

void WarpRender::MapRows(int begin, int end, const std::atomic<int>* abort) {
  if (!map_.x()) return;
  bleb::MapRows(params_, map_.x(), map_.y(), begin, end, abort);
}

void WarpRender::SampleRows(std::uint8_t* const* dst, int begin, int end,
                            const std::atomic<int>* abort) const {
  if (!map_.x()) return;
  const SampleSource source{src_, params_.width, params_.height, &tables_};
  bleb::SampleRows(source, map_.x(), map_.y(), params_.fillMode, dst, begin, end, abort);
}

void WarpRender::Finish(std::uint8_t* const* dst) const {
  if (!map_.x()) return;
  CopyBottomRow(dst, params_.width, params_.height);
}

void WarpRender::Release() {
  tables_.Release();
  map_.Release();
  src_ = nullptr;
}

}  // namespace bleb
