// Inline implementation of the sampler, shared by the per-pixel entry points
// and the row pass so that both use the same code.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "bleb/area_sample.h"
#include "bleb/warp_params.h"

namespace bleb::sample {

using V4F = float __attribute__((vector_size(16)));
using V4I = std::int32_t __attribute__((vector_size(16)));
using V4D = double __attribute__((vector_size(32)));
using V4L = std::int64_t __attribute__((vector_size(32)));

#define BLEB_SAMPLE_INLINE [[gnu::always_inline]] inline

// Farthest distance a coordinate keeps; beyond it every box is "far away".
inline constexpr float kFar = 1e30f;

template <class T>
struct Source {
  const std::uint8_t* const* rows;
  const T* sums;
  std::size_t stride;  // table entries per row
  int width;
  int height;
  float wm;  // width - 2.0001, the largest coordinate a sample box keeps
  float hm;
  float w1;  // width - 1, the wrap period
  float h1;
  float halfW;
  float halfH;
};

template <class T>
Source<T> MakeSource(const SampleSource& s, const T* sums) {
  Source<T> r;
  r.rows = s.rows;
  r.sums = sums;
  r.stride = static_cast<std::size_t>(s.width) * 4;
  r.width = s.width;
  r.height = s.height;
  r.wm = static_cast<float>(s.width - 2.0001);
  r.hm = static_cast<float>(s.height - 2.0001);
  r.w1 = static_cast<float>(s.width - 1);
  r.h1 = static_cast<float>(s.height - 1);
  r.halfW = static_cast<float>((s.width - 1) / 2);
  r.halfH = static_cast<float>((s.height - 1) / 2);
  return r;
}

BLEB_SAMPLE_INLINE Pixel ToPixel(V4F v) {
  v = v > 0.0f ? v : 0.0f;
  v = v < 255.0f ? v : 255.0f;
  Pixel out;
#if defined(__SSE2__)
  const __m128i i = _mm_cvttps_epi32(reinterpret_cast<__m128>(v));
  const __m128i w = _mm_packs_epi32(i, i);
  const int packed = _mm_cvtsi128_si32(_mm_packus_epi16(w, w));
  std::memcpy(out.c, &packed, 4);
#else
  const V4I i = __builtin_convertvector(v, V4I);
  for (int b = 0; b < 4; ++b) out.c[b] = static_cast<std::uint8_t>(i[b]);
#endif
  return out;
}

// Two horizontally adjacent pixels as floats.
BLEB_SAMPLE_INLINE void LoadPair(const std::uint8_t* p, V4F& left, V4F& right) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  const __m128i words = _mm_unpacklo_epi8(bytes, zero);
  left = reinterpret_cast<V4F>(_mm_cvtepi32_ps(_mm_unpacklo_epi16(words, zero)));
  right = reinterpret_cast<V4F>(_mm_cvtepi32_ps(_mm_unpackhi_epi16(words, zero)));
#else
  const V4I l = {p[0], p[1], p[2], p[3]};
  const V4I r = {p[4], p[5], p[6], p[7]};
  left = __builtin_convertvector(l, V4F);
  right = __builtin_convertvector(r, V4F);
#endif
}

// Bilinear interpolation between pixels (ix, iy) and (ix + 1, iy + 1).
template <class T>
BLEB_SAMPLE_INLINE Pixel Bilinear(const Source<T>& s, int ix, int iy, float fx, float fy) {
  V4F p00, p10, p01, p11;
  LoadPair(s.rows[iy] + 4 * static_cast<std::size_t>(ix), p00, p10);
  LoadPair(s.rows[iy + 1] + 4 * static_cast<std::size_t>(ix), p01, p11);
  const V4F top = p00 + (p10 - p00) * fx;
  const V4F bottom = p01 + (p11 - p01) * fx;
  return ToPixel(top + (bottom - top) * fy);
}

template <class T>
BLEB_SAMPLE_INLINE V4D LoadSums(const Source<T>& s, int x, int y) {
  const T* e = s.sums + static_cast<std::size_t>(y) * s.stride + static_cast<std::size_t>(x) * 4;
  if constexpr (sizeof(T) == 4) {
    V4I v;
    std::memcpy(&v, e, sizeof(v));
    return __builtin_convertvector(v, V4D);
  } else {
    V4L v;
    std::memcpy(&v, e, sizeof(v));
    return __builtin_convertvector(v, V4D);
  }
}

template <class T>
BLEB_SAMPLE_INLINE V4L LoadSumsExact(const Source<T>& s, int x, int y) {
  const T* e = s.sums + static_cast<std::size_t>(y) * s.stride + static_cast<std::size_t>(x) * 4;
  if constexpr (sizeof(T) == 4) {
    V4I v;
    std::memcpy(&v, e, sizeof(v));
    return __builtin_convertvector(v, V4L);
  } else {
    V4L v;
    std::memcpy(&v, e, sizeof(v));
    return v;
  }
}

// Tables bilinearly interpolated at (x, y), x and y within the image.
template <class T>
BLEB_SAMPLE_INLINE V4D InterpolatedSum(const Source<T>& s, float x, float y) {
  const int ix = static_cast<int>(x);
  const int iy = static_cast<int>(y);
  const double fx = x - static_cast<float>(ix);
  const double fy = y - static_cast<float>(iy);
  const V4D a = LoadSums(s, ix, iy);
  const V4D b = LoadSums(s, ix + 1, iy);
  const V4D c = LoadSums(s, ix, iy + 1);
  const V4D d = LoadSums(s, ix + 1, iy + 1);
  const V4D top = a + (b - a) * fx;
  const V4D bottom = c + (d - c) * fx;
  return top + (bottom - top) * fy;
}

template <class T>
BLEB_SAMPLE_INLINE Pixel AreaSampleT(const Source<T>& s, float x0, float y0, float x1, float y1,
                                     int mode) {
  if (x1 < x0) std::swap(x0, x1);
  if (y1 < y0) std::swap(y0, y1);
  if (mode == kFillBlack && (x1 < 0.0001f || x0 > s.wm || y1 < 0.0001f || y0 > s.hm))
    return Pixel{{0, 0, 0, 0}};
  // Clamp into the image; written so that NaN ends at the low bound.
  x0 = x0 > 0.0f ? x0 : 0.0f;
  x0 = x0 < s.wm ? x0 : s.wm;
  x1 = x1 > x0 ? x1 : x0;
  x1 = x1 < s.wm ? x1 : s.wm;
  y0 = y0 > 0.0f ? y0 : 0.0f;
  y0 = y0 < s.hm ? y0 : s.hm;
  y1 = y1 > y0 ? y1 : y0;
  y1 = y1 < s.hm ? y1 : s.hm;
  const float area = (y1 - y0) * (x1 - x0);

  if (area <= 1.0f || s.sums == nullptr) {
    // Bilinear at the box centre. A two-row image has hm < 0, so v may sit
    // just below 0.5; truncation still gives row 0.
    const float u = (x0 + x1) / 2.0f + 0.5f;
    const float v = (y0 + y1) / 2.0f + 0.5f;
    const int ix = static_cast<int>(u);
    const int iy = static_cast<int>(v);
    const float fx = u - static_cast<float>(ix);
    const float fy = v - static_cast<float>(iy);
    return Bilinear(s, ix, iy, fx, fy);
  }

  if (area <= 100.0f) {
    // Interpolated integral, in double: the sums exceed 2^24 on large frames.
    const V4D total = InterpolatedSum(s, x1, y1) - InterpolatedSum(s, x0, y1) -
                      InterpolatedSum(s, x1, y0) + InterpolatedSum(s, x0, y0);
    V4D v = total / static_cast<double>(area);
    v = v > 0.0 ? v : 0.0;
    v = v < 255.0 ? v : 255.0;
    const V4I i = __builtin_convertvector(v, V4I);
    return Pixel{{static_cast<std::uint8_t>(i[0]), static_cast<std::uint8_t>(i[1]),
                  static_cast<std::uint8_t>(i[2]), static_cast<std::uint8_t>(i[3])}};
  }

  // Whole pixels (ix0, ix1] x (iy0, iy1], averaged exactly.
  const int ix0 = static_cast<int>(x0);
  const int iy0 = static_cast<int>(y0);
  int ix1 = static_cast<int>(x1 + 0.5f);
  int iy1 = static_cast<int>(y1 + 0.5f);
  if (ix1 > s.width - 1) ix1 = s.width - 1;
  if (iy1 > s.height - 1) iy1 = s.height - 1;
  const std::int64_t n = static_cast<std::int64_t>(iy1 - iy0) * (ix1 - ix0);
  if (n == 0) {
    // A thin box at the border: the one pixel it starts in, not a zero sum.
    const std::uint8_t* p = s.rows[iy0] + 4 * static_cast<std::size_t>(ix0);
    return Pixel{{p[0], p[1], p[2], p[3]}};
  }
  const V4L sum = LoadSumsExact(s, ix1, iy1) - LoadSumsExact(s, ix1, iy0) -
                  LoadSumsExact(s, ix0, iy1) + LoadSumsExact(s, ix0, iy0);
  Pixel out;
  for (int b = 0; b < 4; ++b) {
    const std::int64_t v = sum[b] / n;
    out.c[b] = static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
  }
  return out;
}

BLEB_SAMPLE_INLINE float Tame(float v) {
  if (!(v == v)) return kFar;
  return v < -kFar ? -kFar : (v > kFar ? kFar : v);
}

template <class T>
BLEB_SAMPLE_INLINE Pixel SampleBoxT(const Source<T>& s, float x0, float y0, float x1, float y1,
                                    int mode) {
  x0 = Tame(x0);
  y0 = Tame(y0);
  x1 = Tame(x1);
  y1 = Tame(y1);
  if (x1 < x0) std::swap(x0, x1);
  if (y1 < y0) std::swap(y0, y1);
  if (x0 >= 0.0f && x1 <= s.w1 && y0 >= 0.0f && y1 <= s.h1)
    return AreaSampleT(s, x0, y0, x1, y1, mode);
  if (mode != kFillBlack && mode != kFillWrap)
    return AreaSampleT(s, x0, y0, x1, y1, kFillDuplicate);

  if (mode == kFillWrap) {
    float hx = (x1 - x0) / 2.0f;
    float hy = (y1 - y0) / 2.0f;
    float mx = std::fmod((x0 + x1) / 2.0f, s.w1);
    if (mx < 0.0f) mx += s.w1;
    float my = std::fmod((y0 + y1) / 2.0f, s.h1);
    if (my < 0.0f) my += s.h1;
    hx = hx < s.halfW ? hx : s.halfW;
    hy = hy < s.halfH ? hy : s.halfH;
    x0 = mx - hx;
    x1 = mx + hx;
    y0 = my - hy;
    y1 = my + hy;
  }

  // Cut the box at the borders. In wrap mode the part below 0 moves up by
  // the period and the part beyond the border down by it.
  float xc[4], yc[4];
  int nx = 0, ny = 0;
  xc[nx++] = x0;
  const bool left = x0 < 0.0f;
  if (left) xc[nx++] = 0.0f;
  const bool right = x1 > s.w1;
  if (right) xc[nx++] = s.w1;
  xc[nx++] = x1;
  yc[ny++] = y0;
  const bool above = y0 < 0.0f;
  if (above) yc[ny++] = 0.0f;
  const bool below = y1 > s.h1;
  if (below) yc[ny++] = s.h1;
  yc[ny++] = y1;

  const float k = 1.0f / ((y1 - y0) * (x1 - x0) + 0.00001f);
  V4F sum = {0, 0, 0, 0};
  for (int iy = 0; iy + 1 < ny; ++iy) {
    float ya = yc[iy], yb = yc[iy + 1];
    if (mode == kFillWrap) {
      if (above && iy == 0) {
        ya += s.h1;
        yb += s.h1;
      } else if (below && iy + 2 == ny) {
        ya -= s.h1;
        yb -= s.h1;
      }
    }
    for (int ix = 0; ix + 1 < nx; ++ix) {
      float xa = xc[ix], xb = xc[ix + 1];
      if (mode == kFillWrap) {
        if (left && ix == 0) {
          xa += s.w1;
          xb += s.w1;
        } else if (right && ix + 2 == nx) {
          xa -= s.w1;
          xb -= s.w1;
        }
      }
      const float weight = (xb - xa) * k * (yb - ya);
      const Pixel p = AreaSampleT(s, xa, ya, xb, yb, mode);
      const V4I v = {p.c[0], p.c[1], p.c[2], p.c[3]};
      sum += __builtin_convertvector(v, V4F) * weight;
    }
  }
  return ToPixel(sum);
}

}  // namespace bleb::sample
