#include "bleb/warp_sample.h"

#include <algorithm>
#include <cstring>

#include "bleb/area_sample_inl.h"

namespace bleb {
namespace {

BLEB_SAMPLE_INLINE float Min(float a, float b) { return b < a ? b : a; }
BLEB_SAMPLE_INLINE float Max(float a, float b) { return b > a ? b : a; }

template <class T>
void SampleRowsT(const sample::Source<T>& s, const float* mapX, const float* mapY, int mode,
                 std::uint8_t* const* dst, int begin, int end, const std::atomic<int>* abort) {
  const int width = s.width;
  for (int i = begin; i < end; ++i) {
    if (abort && abort->load(std::memory_order_relaxed)) return;
    const float* ax = mapX + static_cast<std::size_t>(i) * width;
    const float* ay = mapY + static_cast<std::size_t>(i) * width;
    const float* bx = ax + width;
    const float* by = ay + width;
    std::uint8_t* out = dst[i];
    for (int j = 1; j < width - 1; ++j) {
      // The x extent uses columns j - 1 and j, the y extent columns j and j + 1.
      const float x0 = Min(Min(ax[j - 1], ax[j]), Min(bx[j - 1], bx[j]));
      const float x1 = Max(Max(ax[j - 1], ax[j]), Max(bx[j - 1], bx[j]));
      const float y0 = Min(Min(ay[j], ay[j + 1]), Min(by[j], by[j + 1]));
      const float y1 = Max(Max(ay[j], ay[j + 1]), Max(by[j], by[j + 1]));
      const Pixel p = sample::SampleBoxT(s, x0, y0, x1, y1, mode);
      std::memcpy(out + 4 * static_cast<std::size_t>(j), p.c, 4);
    }
    std::memcpy(out + 4 * static_cast<std::size_t>(width - 1),
                out + 4 * static_cast<std::size_t>(width - 2), 4);
    std::memcpy(out, out + 4, 4);
  }
}

}  // namespace

bool CanWarp(int width, int height) { return width >= 3 && height >= 2; }

void CopyImage(const std::uint8_t* const* src, std::uint8_t* const* dst, int width, int height) {
  if (width <= 0) return;
  for (int y = 0; y < height; ++y)
    std::memcpy(dst[y], src[y], 4 * static_cast<std::size_t>(width));
}

void SampleRows(const SampleSource& src, const float* mapX, const float* mapY, int fillMode,
                std::uint8_t* const* dst, int begin, int end, const std::atomic<int>* abort) {
  if (!CanWarp(src.width, src.height) || src.tables == nullptr) return;
  begin = std::max(begin, 0);
  end = std::min(end, src.height - 1);
  if (begin >= end) return;
  if (src.tables->wide())
    SampleRowsT(sample::MakeSource(src, src.tables->sums64()), mapX, mapY, fillMode, dst, begin,
                end, abort);
  else
    SampleRowsT(sample::MakeSource(src, src.tables->sums32()), mapX, mapY, fillMode, dst, begin,
                end, abort);
}

void CopyBottomRow(std::uint8_t* const* dst, int width, int height) {
  if (width <= 0 || height < 2) return;
  std::memcpy(dst[height - 1], dst[height - 2], 4 * static_cast<std::size_t>(width));
}

}  // namespace bleb
