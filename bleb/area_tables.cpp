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

template <class T>
bool Fill(T* t, const std::uint8_t* const* rows, int width, int height,
          const std::atomic<int>* abort) {
  using V = typename QuadOf<T>::type;
  const std::size_t stride = static_cast<std::size_t>(width) * 4;
  for (int y = 0; y < height; ++y) {
    if (abort && abort->load(std::memory_order_relaxed)) return false;
    const std::uint8_t* p = rows[y];
    T* out = t + static_cast<std::size_t>(y) * stride;
    const T* prev = y ? out - stride : nullptr;
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
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  const bool wide = forceWide || NeedsWideSums(width, height);
  if (width == width_ && height == height_ && wide == this->wide()) {
    if (wide)
      Fill(wide64_.get(), rows, width, height, abort);
    else
      Fill(wide32_.get(), rows, width, height, abort);
    return true;
  }
  Release();
  const std::size_t maxEntries = std::numeric_limits<std::size_t>::max() / 4 /
                                 (wide ? sizeof(std::int64_t) : sizeof(std::int32_t));
  if (pixels > maxEntries) return false;
  if (wide ? !wide64_.Allocate(pixels * 4) : !wide32_.Allocate(pixels * 4)) return false;
  width_ = width;
  height_ = height;
  if (wide)
    Fill(wide64_.get(), rows, width, height, abort);
  else
    Fill(wide32_.get(), rows, width, height, abort);
  return true;
}

void AreaTables::Release() {
  wide32_.Release();
  wide64_.Release();
  width_ = 0;
  height_ = 0;
}

}  // namespace bleb
