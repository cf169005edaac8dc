#include "bleb/warp_render.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "bleb/warp_sample.h"
#include "framework/bands.h"

namespace bleb {

bool WarpRender::Prepare(const WarpParams& params, const std::uint8_t* const* src,
                         const std::atomic<int>* abort) {
  (void)abort;
  src_ = nullptr;
  if (!CanWarp(params.width, params.height) || src == nullptr ||
      !map_.Allocate(params.width, params.height)) {
    Release();
    return false;
  }
  if (rowStateSize_ != params.height) {
    rowState_.reset(new (std::nothrow) std::uint8_t[params.height]);
    rowStateSize_ = rowState_ ? params.height : 0;
    if (!rowState_) {
      Release();
      return false;
    }
  }
  std::memset(rowState_.get(), kUnknown, params.height);
  params_ = params;
  src_ = src;
  tablesCurrent_ = false;
  tablesPending_ = false;
  return true;
}

void WarpRender::MapRows(int begin, int end, const std::atomic<int>* abort) {
  if (!src_) return;
  begin = std::max(begin, 0);
  end = std::min(end, params_.height);
  // Each row's boxes are checked as soon as the row below is mapped, while
  // both are still in cache; after the first row that needs the tables the
  // rest of the band need not be checked. The band's last row waits for
  // PrepareSampling.
  bool found = false;
  for (int i = begin; i < end; ++i) {
    bleb::MapRows(params_, map_.x(), map_.y(), i, i + 1, abort);
    if (abort && abort->load(std::memory_order_relaxed)) return;
    if (i > begin && !found) {
      found = RowNeedsTables(map_.x(), map_.y(), params_.width, params_.height, i - 1,
                             params_.fillMode);
      rowState_[i - 1] = found ? kNeedsTables : kBilinearOnly;
    }
  }
}

void WarpRender::CheckLastRow(int begin, int end) {
  const int row = std::min(end, params_.height - 1) - 1;
  if (!src_ || row < std::max(begin, 0) || rowState_[row] != kUnknown) return;
  // A band that found a row needing the tables left the rest open: no need.
  for (int i = std::max(begin, 0); i < row; ++i)
    if (rowState_[i] == kNeedsTables) return;
  rowState_[row] =
      RowNeedsTables(map_.x(), map_.y(), params_.width, params_.height, row, params_.fillMode)
          ? kNeedsTables
          : kBilinearOnly;
}

bool WarpRender::PrepareSampling(const std::atomic<int>* abort, bool forceTables,
                                 bool forceWideSums, bool tablesInPasses) {
  tablesPending_ = false;
  if (!src_) return false;
  if (abort && abort->load(std::memory_order_relaxed)) return true;  // pass 2 stops at once
  bool needed = forceTables;
  for (int i = 0; i < params_.height - 1 && !needed; ++i) {
    if (rowState_[i] == kUnknown)
      rowState_[i] =
          RowNeedsTables(map_.x(), map_.y(), params_.width, params_.height, i, params_.fillMode)
              ? kNeedsTables
              : kBilinearOnly;
    needed = rowState_[i] == kNeedsTables;
  }
  if (!needed) return true;
  const bool built =
      tablesInPasses
          ? tables_.Allocate(params_.width, params_.height,
                             forceWideSums || NeedsWideSums(params_.width, params_.height))
          : tables_.Build(src_, params_.width, params_.height, abort, forceWideSums);
  if (!built) {
    Release();
    return false;
  }
  // Complete once the caller has run the two table passes, before pass 2.
  tablesPending_ = tablesInPasses;
  tablesCurrent_ = true;
  return true;
}

void WarpRender::TableRows(int begin, int end, const std::atomic<int>* abort) {
  if (tablesPending_) tables_.FillBand(src_, begin, end, abort);
}

void WarpRender::TableColumns(int begin, int end, int workers, const std::atomic<int>* abort) {
  if (!tablesPending_) return;
  // Top to bottom: each band's carry is the last row of the band above,
  // itself completed by this loop for these columns.
  for (int k = 1; k < workers; ++k) {
    const fw::Band band = fw::ChunkBand(k, workers, params_.height);
    tables_.AddRowAbove(band.begin, band.end, begin, end, abort);
  }
}

void WarpRender::SampleRows(std::uint8_t* const* dst, int begin, int end,
                            const std::atomic<int>* abort) const {
  if (!src_) return;
  // Tables built for an earlier render of this size are stale unless this
  // render built them again; an unbuilt set is passed as none.
  const SampleSource source{src_, params_.width, params_.height,
                            tablesCurrent_ ? &tables_ : nullptr};
  bleb::SampleRows(source, map_.x(), map_.y(), params_.fillMode, dst, begin, end, abort);
}

void WarpRender::Finish(std::uint8_t* const* dst) const {
  if (!src_) return;
  CopyBottomRow(dst, params_.width, params_.height);
}

void WarpRender::Release() {
  tables_.Release();
  map_.Release();
  rowState_.reset();
  rowStateSize_ = 0;
  src_ = nullptr;
  tablesCurrent_ = false;
  tablesPending_ = false;
}

}  // namespace bleb
