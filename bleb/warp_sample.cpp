#include "bleb/warp_sample.h"

#include <algorithm>
#include <cstring>

#include "bleb/area_sample_inl.h"
#include "framework/lanes.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

// The boxes of eight neighbouring output pixels (columns j .. j + 7), and
// for the lanes whose box lies inside the image with an area up to 1 (the
// common case; `fast`), the bilinear sample's pixel and fractions, computed
// with the very operations SampleBox would apply.
struct Block {
  VF x0, x1, y0, y1;
  VI fast;
  VI ix, iy;
  VF fx, fy;
};

template <class T>
BLEB_SAMPLE_INLINE Block Boxes(const sample::Source<T>& s, const float* ax, const float* ay,
                               const float* bx, const float* by, int j, int mode) {
  Block b;
  // The x extent uses columns j - 1 and j, the y extent columns j and j + 1.
  b.x0 = Min(Min(Load(ax + j - 1), Load(ax + j)), Min(Load(bx + j - 1), Load(bx + j)));
  b.x1 = Max(Max(Load(ax + j - 1), Load(ax + j)), Max(Load(bx + j - 1), Load(bx + j)));
  b.y0 = Min(Min(Load(ay + j), Load(ay + j + 1)), Min(Load(by + j), Load(by + j + 1)));
  b.y1 = Max(Max(Load(ay + j), Load(ay + j + 1)), Max(Load(by + j), Load(by + j + 1)));
  const VF x0 = b.x0, x1 = b.x1, y0 = b.y0, y1 = b.y1;
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
  b.fast = fast & (area <= 1.0f);
  const VF u = (cx0 + cx1) / 2.0f + 0.5f;
  const VF v = (cy0 + cy1) / 2.0f + 0.5f;
  b.ix = __builtin_convertvector(u, VI);
  b.iy = __builtin_convertvector(v, VI);
  b.fx = u - __builtin_convertvector(b.ix, VF);
  b.fy = v - __builtin_convertvector(b.iy, VF);
  return b;
}

// Lanes not on the fast path go through SampleBox itself.
template <class T>
BLEB_SAMPLE_INLINE void SlowLanes(const sample::Source<T>& s, const Block& b, int mode,
                                  std::uint8_t* out) {
  std::uint64_t w[kLanes / 2];
  std::memcpy(w, &b.fast, sizeof(w));
  if ((w[0] & w[1] & w[2] & w[3]) == ~std::uint64_t(0)) return;
  for (int k = 0; k < kLanes; ++k)
    if (!b.fast[k]) {
      const Pixel p = sample::SampleBoxT(s, b.x0[k], b.y0[k], b.x1[k], b.y1[k], mode);
      std::memcpy(out + 4 * k, p.c, 4);
    }
}

// The last columns of a row, one at a time, and the border copies.
template <class T>
BLEB_SAMPLE_INLINE void FinishRow(const sample::Source<T>& s, const float* ax, const float* ay,
                                  const float* bx, const float* by, int j, int mode,
                                  std::uint8_t* out) {
  const int width = s.width;
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

// One output row, eight columns at a time, one fast lane at a time.
template <class T>
BLEB_SAMPLE_INLINE void SampleRow(const sample::Source<T>& s, const float* ax, const float* ay,
                                  const float* bx, const float* by, int mode, std::uint8_t* out) {
  int j = 1;
  for (; j + kLanes <= s.width - 1; j += kLanes) {
    const Block b = Boxes(s, ax, ay, bx, by, j, mode);
    std::uint8_t* o = out + 4 * static_cast<std::size_t>(j);
    for (int k = 0; k < kLanes; ++k)
      if (b.fast[k]) {
        const Pixel p = sample::Bilinear(s, b.ix[k], b.iy[k], b.fx[k], b.fy[k]);
        std::memcpy(o + 4 * k, p.c, 4);
      }
    SlowLanes(s, b, mode, o);
  }
  FinishRow(s, ax, ay, bx, by, j, mode, out);
}

#if defined(__x86_64__)
#define BLEB_BYTE_LANES 1

// Source rows evenly spaced in memory, close enough together that the byte
// offset of every pixel from the first row fits 32 bits: the addressing of
// the byte-lane path. A host's images are one block; rows anywhere else take
// the lane-by-lane path.
struct RowBlock {
  const std::uint8_t* base = nullptr;
  std::int32_t stride = 0;
};

bool EvenRows(const std::uint8_t* const* rows, int width, int height, RowBlock* out) {
  if (height < 2 || width < 1) return false;
  const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(rows[0]);
  const std::uintptr_t next = reinterpret_cast<std::uintptr_t>(rows[1]);
  const std::uintptr_t stride = next - base;
  const std::uintptr_t rowBytes = static_cast<std::uintptr_t>(width) * 4;
  constexpr std::uintptr_t kLimit = 0x7FFFFFF0;
  if (next < base || stride < rowBytes || stride > kLimit / static_cast<std::uintptr_t>(height))
    return false;
  for (int y = 2; y < height; ++y)
    if (reinterpret_cast<std::uintptr_t>(rows[y]) != base + stride * static_cast<std::uintptr_t>(y))
      return false;
  out->base = rows[0];
  out->stride = static_cast<std::int32_t>(stride);
  return true;
}

using VU = std::uint32_t __attribute__((vector_size(4 * kLanes)));

// The two neighbouring 4-byte pixels at base + offset of each lane: the left
// ones in `left`, the right ones in `right`. Plain loads, one per lane: this
// machine's gather instructions were slower than the loads they replace.
[[gnu::always_inline]] inline __attribute__((target("avx2"))) void LoadPairs(
    const std::uint8_t* base, VI offset, VU& left, VU& right) {
  using VL = long long __attribute__((vector_size(32)));
  long long q[kLanes];
  for (int k = 0; k < kLanes; ++k) std::memcpy(&q[k], base + offset[k], 8);
  const VU low = reinterpret_cast<VU>(VL{q[0], q[1], q[2], q[3]});
  const VU high = reinterpret_cast<VU>(VL{q[4], q[5], q[6], q[7]});
  left = __builtin_shufflevector(low, high, 0, 2, 4, 6, 8, 10, 12, 14);
  right = __builtin_shufflevector(low, high, 1, 3, 5, 7, 9, 11, 13, 15);
}

// One output row with the fast lanes of each block of eight done together:
// the four pixels around each sample loaded, then each byte interpolated
// across the eight lanes with the operations of the one-lane bilinear
// sample, in the same order, so the bytes are the same.
template <class T>
__attribute__((target("avx2"))) inline void SampleRowByBytes(const sample::Source<T>& s,
                                                             RowBlock rb, const float* ax,
                                                             const float* ay, const float* bx,
                                                             const float* by, int mode,
                                                             std::uint8_t* out) {
  const std::uint8_t* below = rb.base + rb.stride;
  int j = 1;
  for (; j + kLanes <= s.width - 1; j += kLanes) {
    const Block b = Boxes(s, ax, ay, bx, by, j, mode);
    std::uint8_t* o = out + 4 * static_cast<std::size_t>(j);
    // Where no lane has the one-pixel sample (a compressing warp reads areas
    // from the tables), the byte lanes would be work thrown away.
    std::uint64_t w[kLanes / 2];
    std::memcpy(w, &b.fast, sizeof(w));
    if ((w[0] | w[1] | w[2] | w[3]) == 0) {
      SlowLanes(s, b, mode, o);
      continue;
    }
    const VI zero = {};
    const VI offset = (b.fast ? b.iy : zero) * rb.stride + (b.fast ? b.ix : zero) * 4;
    VU q00, q10, q01, q11;
    LoadPairs(rb.base, offset, q00, q10);
    LoadPairs(below, offset, q01, q11);
    VU packed = {};
    for (unsigned c = 0; c < 4; ++c) {
      const unsigned shift = 8 * c;
      const VF p00 = __builtin_convertvector((q00 >> shift) & 255u, VF);
      const VF p10 = __builtin_convertvector((q10 >> shift) & 255u, VF);
      const VF p01 = __builtin_convertvector((q01 >> shift) & 255u, VF);
      const VF p11 = __builtin_convertvector((q11 >> shift) & 255u, VF);
      const VF top = p00 + (p10 - p00) * b.fx;
      const VF bottom = p01 + (p11 - p01) * b.fx;
      VF v = top + (bottom - top) * b.fy;
      v = v > 0.0f ? v : 0.0f;
      v = v < 255.0f ? v : 255.0f;
      packed |= __builtin_convertvector(__builtin_convertvector(v, VI), VU) << shift;
    }
    std::memcpy(o, &packed, sizeof(packed));
    SlowLanes(s, b, mode, o);
  }
  FinishRow(s, ax, ay, bx, by, j, mode, out);
}

template <class T>
__attribute__((target("avx2"))) inline void SampleRowsByBytesT(
    const sample::Source<T>& s, RowBlock rb, const float* mapX, const float* mapY, int mode,
    std::uint8_t* const* dst, int begin, int end, const std::atomic<int>* abort) {
  const std::size_t width = static_cast<std::size_t>(s.width);
  for (int i = begin; i < end; ++i) {
    if (abort && abort->load(std::memory_order_relaxed)) return;
    const float* ax = mapX + static_cast<std::size_t>(i) * width;
    const float* ay = mapY + static_cast<std::size_t>(i) * width;
    SampleRowByBytes(s, rb, ax, ay, ax + width, ay + width, mode, dst[i]);
  }
}

bool CanRunByBytes() {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
}
#endif

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

FW_ISA_CLONES void SampleRows32(const sample::Source<std::int32_t>& s, const float* mapX,
                                const float* mapY, int mode, std::uint8_t* const* dst, int begin,
                                int end, const std::atomic<int>* abort) {
  SampleRowsT(s, mapX, mapY, mode, dst, begin, end, abort);
}

FW_ISA_CLONES void SampleRows64(const sample::Source<std::int64_t>& s, const float* mapX,
                                const float* mapY, int mode, std::uint8_t* const* dst, int begin,
                                int end, const std::atomic<int>* abort) {
  SampleRowsT(s, mapX, mapY, mode, dst, begin, end, abort);
}

#if defined(BLEB_BYTE_LANES)
__attribute__((target("avx2"))) void SampleRows32ByBytes(const sample::Source<std::int32_t>& s,
                                                         RowBlock rb, const float* mapX,
                                                         const float* mapY, int mode,
                                                         std::uint8_t* const* dst, int begin,
                                                         int end, const std::atomic<int>* abort) {
  SampleRowsByBytesT(s, rb, mapX, mapY, mode, dst, begin, end, abort);
}

__attribute__((target("avx2"))) void SampleRows64ByBytes(const sample::Source<std::int64_t>& s,
                                                         RowBlock rb, const float* mapX,
                                                         const float* mapY, int mode,
                                                         std::uint8_t* const* dst, int begin,
                                                         int end, const std::atomic<int>* abort) {
  SampleRowsByBytesT(s, rb, mapX, mapY, mode, dst, begin, end, abort);
}
#endif

}  // namespace detail

bool CanWarp(int width, int height) {
  return width >= 3 && height >= 2;
}

namespace detail {

FW_ISA_CLONES bool RowNeedsTables(const float* mapX, const float* mapY, int width, int height,
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
#if defined(BLEB_BYTE_LANES)
  RowBlock rb;
  if (CanRunByBytes() && EvenRows(src.rows, src.width, src.height, &rb)) {
    if (!src.tables || src.tables->empty())
      detail::SampleRows32ByBytes(sample::MakeSource<std::int32_t>(src, nullptr), rb, mapX, mapY,
                                  fillMode, dst, begin, end, abort);
    else if (src.tables->wide())
      detail::SampleRows64ByBytes(sample::MakeSource(src, src.tables->sums64()), rb, mapX, mapY,
                                  fillMode, dst, begin, end, abort);
    else
      detail::SampleRows32ByBytes(sample::MakeSource(src, src.tables->sums32()), rb, mapX, mapY,
                                  fillMode, dst, begin, end, abort);
    return;
  }
#endif
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
