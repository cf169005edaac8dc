#include "bleb/area_tables.h"

#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace bleb {
namespace {

// Four sums of one pixel as one vector.
template <class T>
struct QuadOf;
template <>
struct QuadOf<std::int32_t> {
  using type = std::int32_t __attribute__((vector_size(16)));
};
template <>
struct QuadOf<std::int64_t> {
  using type = std::int64_t __attribute__((vector_size(32)));
};

// Rows [begin, end) summed as if the image started at row begin.
template <class T>
bool Fill(T* t, const std::uint8_t* const* rows, int width, int begin, int end,
          const std::atomic<int>* abort) {
  using V = typename QuadOf<T>::type;
  const std::size_t stride = static_cast<std::size_t>(width) * 4;
  for (int y = begin; y < end; ++y) {
    if (abort && abort->load(std::memory_order_relaxed)) return false;
    const std::uint8_t* p = rows[y];
    T* out = t + static_cast<std::size_t>(y) * stride;
    const T* prev = y > begin ? out - stride : nullptr;
    V run = {0, 0, 0, 0};
    int x = 0;
#if defined(__SSE2__)
    if constexpr (sizeof(T) == 4) {
      // Four pixels at a time; the running sum is carried in two steps.
      const __m128i zero = _mm_setzero_si128();
      __m128i acc = _mm_setzero_si128();
      for (; x + 4 <= width; x += 4) {
        const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * x));
        const __m128i lo = _mm_unpacklo_epi8(px, zero);
        const __m128i hi = _mm_unpackhi_epi8(px, zero);
        const __m128i p0 = _mm_unpacklo_epi16(lo, zero), p1 = _mm_unpackhi_epi16(lo, zero);
        const __m128i p2 = _mm_unpacklo_epi16(hi, zero), p3 = _mm_unpackhi_epi16(hi, zero);
        const __m128i s0 = _mm_add_epi32(acc, p0);
        const __m128i s1 = _mm_add_epi32(acc, _mm_add_epi32(p0, p1));
        const __m128i s2 = _mm_add_epi32(s1, p2);
        const __m128i s3 = _mm_add_epi32(s1, _mm_add_epi32(p2, p3));
        acc = s3;
        __m128i* o = reinterpret_cast<__m128i*>(out + 4 * x);
        if (prev) {
          const __m128i* a = reinterpret_cast<const __m128i*>(prev + 4 * x);
          _mm_storeu_si128(o + 0, _mm_add_epi32(s0, _mm_loadu_si128(a + 0)));
          _mm_storeu_si128(o + 1, _mm_add_epi32(s1, _mm_loadu_si128(a + 1)));
          _mm_storeu_si128(o + 2, _mm_add_epi32(s2, _mm_loadu_si128(a + 2)));
          _mm_storeu_si128(o + 3, _mm_add_epi32(s3, _mm_loadu_si128(a + 3)));
        } else {
          _mm_storeu_si128(o + 0, s0);
          _mm_storeu_si128(o + 1, s1);
          _mm_storeu_si128(o + 2, s2);
          _mm_storeu_si128(o + 3, s3);
        }
      }
      std::memcpy(&run, &acc, sizeof(run));
    }
#endif
    for (; x < width; ++x) {
      const std::uint8_t* q = p + 4 * x;
      run += V{q[0], q[1], q[2], q[3]};
      V sum = run;
      if (prev) {
        V above;
        std::memcpy(&above, prev + 4 * x, sizeof(V));
        sum += above;
      }
      std::memcpy(out + 4 * x, &sum, sizeof(V));
    }
  }
  return true;
}

// Adds the sums of row `from` to rows [begin, end), entries [first, last).
template <class T>
void AddRow(T* t, std::size_t stride, int from, int begin, int end, std::size_t first,
            std::size_t last, const std::atomic<int>* abort) {
  const T* carry = t + static_cast<std::size_t>(from) * stride;
  for (int y = begin; y < end; ++y) {
    if (abort && abort->load(std::memory_order_relaxed)) return;
    T* out = t + static_cast<std::size_t>(y) * stride;
    for (std::size_t e = first; e < last; ++e) out[e] += carry[e];
  }
}

}  // namespace

bool NeedsWideSums(int width, int height) {
  if (width <= 0 || height <= 0) return false;
  const unsigned long long limit = std::numeric_limits<std::int32_t>::max();
  const unsigned long long pixels =
      static_cast<unsigned long long>(width) * static_cast<unsigned long long>(height);
  return pixels > limit / 255;
}

bool AreaTables::Build(const std::uint8_t* const* rows, int width, int height,
                       const std::atomic<int>* abort, bool forceWide) {
  if (width <= 0 || height <= 0 || rows == nullptr) {
    Release();
    return false;
  }
  const bool wide = forceWide || NeedsWideSums(width, height);
  if (!Allocate(width, height, wide)) return false;
  FillBand(rows, 0, height, abort);
  return true;
}

bool AreaTables::Allocate(int width, int height, bool wide) {
  if (width <= 0 || height <= 0) {
    Release();
    return false;
  }
  if (width == width_ && height == height_ && wide == this->wide()) return true;
  Release();
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  const std::size_t maxEntries = std::numeric_limits<std::size_t>::max() / 4 /
                                 (wide ? sizeof(std::int64_t) : sizeof(std::int32_t));
  if (pixels > maxEntries) return false;
  if (wide ? !wide64_.Allocate(pixels * 4) : !wide32_.Allocate(pixels * 4)) return false;
  width_ = width;
  height_ = height;
  return true;
}

void AreaTables::FillBand(const std::uint8_t* const* rows, int begin, int end,
                          const std::atomic<int>* abort) {
  if (empty() || rows == nullptr) return;
  begin = begin < 0 ? 0 : begin;
  end = end > height_ ? height_ : end;
  if (begin >= end) return;
  if (wide())
    Fill(wide64_.get(), rows, width_, begin, end, abort);
  else
    Fill(wide32_.get(), rows, width_, begin, end, abort);
}

void AreaTables::AddRowAbove(int begin, int end, int columnBegin, int columnEnd,
                             const std::atomic<int>* abort) {
  if (empty() || begin <= 0) return;
  end = end > height_ ? height_ : end;
  columnBegin = columnBegin < 0 ? 0 : columnBegin;
  columnEnd = columnEnd > width_ ? width_ : columnEnd;
  if (begin >= end || columnBegin >= columnEnd) return;
  const std::size_t stride = static_cast<std::size_t>(width_) * 4;
  const std::size_t first = static_cast<std::size_t>(columnBegin) * 4;
  const std::size_t last = static_cast<std::size_t>(columnEnd) * 4;
  if (wide())
    AddRow(wide64_.get(), stride, begin - 1, begin, end, first, last, abort);
  else
    AddRow(wide32_.get(), stride, begin - 1, begin, end, first, last, abort);
}

void AreaTables::Release() {
  wide32_.Release();
  wide64_.Release();
  width_ = 0;
  height_ = 0;
}

}  // namespace bleb
