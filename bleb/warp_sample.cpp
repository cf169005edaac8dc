#include "bleb/warp_sample.h"

#include <algorithm>
#include <cstring>

#include "bleb/area_sample_inl.h"
#include "bleb/isa_clones.h"

namespace bleb {
namespace {

BLEB_SAMPLE_INLINE float Min(float a, float b) {
  return b < a ? b : a;
}
BLEB_SAMPLE_INLINE float Max(float a, float b) {
  return b > a ? b : a;
}

constexpr int kLanes = 8;
using VF = float __attribute__((vector_size(4 * kLanes)));
using VI = std::int32_t __attribute__((vector_size(4 * kLanes)));

BLEB_SAMPLE_INLINE VF Load(const float* p) {
  VF v;
  std::memcpy(&v, p, sizeof(v));
  return v;
}
BLEB_SAMPLE_INLINE VF Min(VF a, VF b) {
  return b < a ? b : a;
}
BLEB_SAMPLE_INLINE VF Max(VF a, VF b) {
  return b > a ? b : a;
}

// One output row. Eight columns at a time find their boxes; lanes whose box
// lies inside the image with an area up to 1 (the common case) take the
// bilinear sample directly, with the very operations SampleBox would apply,
// and every other lane goes through SampleBox itself.
template <class T>
BLEB_SAMPLE_INLINE void SampleRow(const sample::Source<T>& s, const float* ax, const float* ay,
                                  const float* bx, const float* by, int mode, std::uint8_t* out) {
  const int width = s.width;
  int j = 1;
  for (; j + kLanes <= width - 1; j += kLanes) {
    // The x extent uses columns j - 1 and j, the y extent columns j and j + 1.
    const VF x0 = Min(Min(Load(ax + j - 1), Load(ax + j)), Min(Load(bx + j - 1), Load(bx + j)));
    const VF x1 = Max(Max(Load(ax + j - 1), Load(ax + j)), Max(Load(bx + j - 1), Load(bx + j)));
    const VF y0 = Min(Min(Load(ay + j), Load(ay + j + 1)), Min(Load(by + j), Load(by + j + 1)));
    const VF y1 = Max(Max(Load(ay + j), Load(ay + j + 1)), Max(Load(by + j), Load(by + j + 1)));
    // NaN in any lane leaves that lane to SampleBox.
    const VI finite = (x0 == x0) & (x1 == x1) & (y0 == y0) & (y1 == y1);
    const VI inside = finite & (x0 >= 0.0f) & (x1 <= s.w1) & (y0 >= 0.0f) & (y1 <= s.h1);
    VI fast = inside;
    if (mode == kFillBlack) fast &= ~((x1 < 0.0001f) | (x0 > s.wm) | (y1 < 0.0001f) | (y0 > s.hm));
    VF cx0 = x0 > 0.0f ? x0 : 0.0f;
    cx0 = cx0 < s.wm ? cx0 : s.wm;
    VF cx1 = x1 > cx0 ? x1 : cx0;
    cx1 = cx1 < s.wm ? cx1 : s.wm;
    VF cy0 = y0 > 0.0f ? y0 : 0.0f;
    cy0 = cy0 < s.hm ? cy0 : s.hm;
    VF cy1 = y1 > cy0 ? y1 : cy0;
    cy1 = cy1 < s.hm ? cy1 : s.hm;
    const VF area = (cy1 - cy0) * (cx1 - cx0);
    fast &= area <= 1.0f;
    const VF u = (cx0 + cx1) / 2.0f + 0.5f;
    const VF v = (cy0 + cy1) / 2.0f + 0.5f;
    const VI ix = __builtin_convertvector(u, VI);
    const VI iy = __builtin_convertvector(v, VI);
    const VF fx = u - __builtin_convertvector(ix, VF);
    const VF fy = v - __builtin_convertvector(iy, VF);
    for (int k = 0; k < kLanes; ++k) {
      const Pixel p = fast[k] ? sample::Bilinear(s, ix[k], iy[k], fx[k], fy[k])
                              : sample::SampleBoxT(s, x0[k], y0[k], x1[k], y1[k], mode);
      std::memcpy(out + 4 * static_cast<std::size_t>(j + k), p.c, 4);
    }
  }
  for (; j < width - 1; ++j) {
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

template <class T>
BLEB_SAMPLE_INLINE void SampleRowsT(const sample::Source<T>& s, const float* mapX,
                                    const float* mapY, int mode, std::uint8_t* const* dst,
                                    int begin, int end, const std::atomic<int>* abort) {
  const std::size_t width = static_cast<std::size_t>(s.width);
  for (int i = begin; i < end; ++i) {
    if (abort && abort->load(std::memory_order_relaxed)) return;
    const float* ax = mapX + static_cast<std::size_t>(i) * width;
    const float* ay = mapY + static_cast<std::size_t>(i) * width;
    SampleRow(s, ax, ay, ax + width, ay + width, mode, dst[i]);
  }
}

}  // namespace

namespace detail {

BLEB_ISA_CLONES void SampleRows32(const sample::Source<std::int32_t>& s, const float* mapX,
                                  const float* mapY, int mode, std::uint8_t* const* dst, int begin,
                                  int end, const std::atomic<int>* abort) {
  SampleRowsT(s, mapX, mapY, mode, dst, begin, end, abort);
}

BLEB_ISA_CLONES void SampleRows64(const sample::Source<std::int64_t>& s, const float* mapX,
                                  const float* mapY, int mode, std::uint8_t* const* dst, int begin,
                                  int end, const std::atomic<int>* abort) {
  SampleRowsT(s, mapX, mapY, mode, dst, begin, end, abort);
}

}  // namespace detail

bool CanWarp(int width, int height) {
  return width >= 3 && height >= 2;
}

namespace detail {

BLEB_ISA_CLONES bool RowNeedsTables(const float* mapX, const float* mapY, int width, int height,
                                    int i, int fillMode) {
  const float w1 = static_cast<float>(width - 1), h1 = static_cast<float>(height - 1);
  // Clamping and cutting at the borders only shrink a box, so its own area
  // bounds every area sampled for it. Wrap moves the box first, which can
  // widen it by an ulp of its centre: keep a margin there.
  const float outsideLimit = fillMode == kFillWrap ? 0.98f : 1.0f;
  const std::size_t row = static_cast<std::size_t>(i) * width;
  const float* ax = mapX + row;
  const float* ay = mapY + row;
  const float* bx = ax + width;
  const float* by = ay + width;
  int j = 1;
  for (; j + kLanes <= width - 1; j += kLanes) {
    const VF x0 = Min(Min(Load(ax + j - 1), Load(ax + j)), Min(Load(bx + j - 1), Load(bx + j)));
    const VF x1 = Max(Max(Load(ax + j - 1), Load(ax + j)), Max(Load(bx + j - 1), Load(bx + j)));
    const VF y0 = Min(Min(Load(ay + j), Load(ay + j + 1)), Min(Load(by + j), Load(by + j + 1)));
    const VF y1 = Max(Max(Load(ay + j), Load(ay + j + 1)), Max(Load(by + j), Load(by + j + 1)));
    const VI inside = (x0 >= 0.0f) & (x1 <= w1) & (y0 >= 0.0f) & (y1 <= h1);
    const VF area = (y1 - y0) * (x1 - x0);
    // NaN fails every compare and so counts as needing the tables.
    const VI small = (inside & (area <= 1.0f)) | (~inside & (area <= outsideLimit));
    std::uint64_t w[kLanes / 2];
    const VI big = ~small;
    std::memcpy(w, &big, sizeof(w));
    if (w[0] | w[1] | w[2] | w[3]) return true;
  }
  for (; j < width - 1; ++j) {
    const float x0 = Min(Min(ax[j - 1], ax[j]), Min(bx[j - 1], bx[j]));
    const float x1 = Max(Max(ax[j - 1], ax[j]), Max(bx[j - 1], bx[j]));
    const float y0 = Min(Min(ay[j], ay[j + 1]), Min(by[j], by[j + 1]));
    const float y1 = Max(Max(ay[j], ay[j + 1]), Max(by[j], by[j + 1]));
    const bool inside = x0 >= 0.0f && x1 <= w1 && y0 >= 0.0f && y1 <= h1;
    const float area = (y1 - y0) * (x1 - x0);
    if (!(area <= (inside ? 1.0f : outsideLimit))) return true;
  }
  return false;
}

}  // namespace detail

bool RowNeedsTables(const float* mapX, const float* mapY, int width, int height, int i,
                    int fillMode) {
  if (!CanWarp(width, height) || i < 0 || i >= height - 1) return false;
  return detail::RowNeedsTables(mapX, mapY, width, height, i, fillMode);
}

void CopyImage(const std::uint8_t* const* src, std::uint8_t* const* dst, int width, int height) {
  if (width <= 0) return;
  for (int y = 0; y < height; ++y) std::memcpy(dst[y], src[y], 4 * static_cast<std::size_t>(width));
}

void SampleRows(const SampleSource& src, const float* mapX, const float* mapY, int fillMode,
                std::uint8_t* const* dst, int begin, int end, const std::atomic<int>* abort) {
  if (!CanWarp(src.width, src.height)) return;
  begin = std::max(begin, 0);
  end = std::min(end, src.height - 1);
  if (begin >= end) return;
  if (!src.tables || src.tables->empty())
    detail::SampleRows32(sample::MakeSource<std::int32_t>(src, nullptr), mapX, mapY, fillMode, dst,
                         begin, end, abort);
  else if (src.tables->wide())
    detail::SampleRows64(sample::MakeSource(src, src.tables->sums64()), mapX, mapY, fillMode, dst,
                         begin, end, abort);
  else
    detail::SampleRows32(sample::MakeSource(src, src.tables->sums32()), mapX, mapY, fillMode, dst,
                         begin, end, abort);
}

void CopyBottomRow(std::uint8_t* const* dst, int width, int height) {
  if (width <= 0 || height < 2) return;
  std::memcpy(dst[height - 1], dst[height - 2], 4 * static_cast<std::size_t>(width));
}

}  // namespace bleb
