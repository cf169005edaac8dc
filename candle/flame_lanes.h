// Lanes: the values of a group of adjacent columns side by side, as vectors
// of the compiler's vector extension, with the few helpers the flame kernel
// needs. Every operation is the element-wise IEEE operation, so a lane
// computes exactly what the same code on one float computes; the helpers
// have float overloads for that.
#pragma once

#include <cmath>
#include <cstdint>

#define CANDLE_INLINE inline __attribute__((always_inline))

// Functions marked CANDLE_ISA_CLONES get an AVX2 clone beside the baseline,
// chosen once at load time. Every clone runs the same correctly
// rounded operations (no contraction into fused multiply-adds), so all give
// the same bits. ThreadSanitizer cannot run load-time resolvers: its builds
// keep the baseline only.
#if defined(CANDLE_NO_ISA_CLONES)
#define CANDLE_ISA_CLONES
#else
#define CANDLE_ISA_CLONES __attribute__((target_clones("avx2", "default")))
#endif

namespace candle {

#if defined(__clang__)
// Clang refuses vectors wider than the baseline between inline functions.
inline constexpr int kLanes = 4;
#else
// Eight lanes, one AVX2 register: measured faster here than sixteen (fewer
// lanes idle at the flame's edges, fewer noise cells per group) and than four.
inline constexpr int kLanes = 8;
#endif

using FloatLanes = float __attribute__((vector_size(kLanes * 4)));
using IntLanes = std::int32_t __attribute__((vector_size(kLanes * 4)));
using WordLanes = std::uint32_t __attribute__((vector_size(kLanes * 4)));

// Two rows of a group side by side, for code whose rows are independent:
// with 512-bit registers one instruction works both.
using WideFloatLanes = float __attribute__((vector_size(kLanes * 8)));
using WideIntLanes = std::int32_t __attribute__((vector_size(kLanes * 8)));
using WideWordLanes = std::uint32_t __attribute__((vector_size(kLanes * 8)));

CANDLE_INLINE float Abs(float a) {
  return std::fabs(a);
}
CANDLE_INLINE FloatLanes Abs(FloatLanes a) {
  return FloatLanes(IntLanes(a) & 0x7FFFFFFF);
}
CANDLE_INLINE WideFloatLanes Abs(WideFloatLanes a) {
  return WideFloatLanes(WideIntLanes(a) & 0x7FFFFFFF);
}

// |a| with the sign of b.
CANDLE_INLINE float CopySign(float a, float b) {
  return std::copysign(a, b);
}
CANDLE_INLINE FloatLanes CopySign(FloatLanes a, FloatLanes b) {
  return FloatLanes((IntLanes(a) & 0x7FFFFFFF) | (IntLanes(b) & int32_t(0x80000000u)));
}
CANDLE_INLINE WideFloatLanes CopySign(WideFloatLanes a, WideFloatLanes b) {
  return WideFloatLanes((WideIntLanes(a) & 0x7FFFFFFF) | (WideIntLanes(b) & int32_t(0x80000000u)));
}

// Truncation toward zero; the callers keep the values in range.
CANDLE_INLINE int ToInt(float a) {
  return int(a);
}
CANDLE_INLINE IntLanes ToInt(FloatLanes a) {
  return __builtin_convertvector(a, IntLanes);
}
CANDLE_INLINE WideIntLanes ToInt(WideFloatLanes a) {
  return __builtin_convertvector(a, WideIntLanes);
}
CANDLE_INLINE float ToFloat(int a) {
  return float(a);
}
CANDLE_INLINE FloatLanes ToFloat(IntLanes a) {
  return __builtin_convertvector(a, FloatLanes);
}
CANDLE_INLINE WideFloatLanes ToFloat(WideIntLanes a) {
  return __builtin_convertvector(a, WideFloatLanes);
}

template <class F>
CANDLE_INLINE F Fill(float v) {
  if constexpr (sizeof(F) == sizeof(float)) {
    return v;
  } else {
    F lanes;
    for (int l = 0; l < int(sizeof(F) / sizeof(float)); ++l) lanes[l] = v;
    return lanes;
  }
}

// Through a plain array, which the vectoriser turns into one vector square
// root (element access into the vector type stays scalar).
CANDLE_INLINE FloatLanes Sqrt(FloatLanes a) {
  float v[kLanes];
  __builtin_memcpy(v, &a, sizeof v);
  for (int l = 0; l < kLanes; ++l) v[l] = __builtin_sqrtf(v[l]);
  FloatLanes r;
  __builtin_memcpy(&r, v, sizeof v);
  return r;
}

CANDLE_INLINE WideFloatLanes Sqrt(WideFloatLanes a) {
  float v[2 * kLanes];
  __builtin_memcpy(v, &a, sizeof v);
  for (int l = 0; l < 2 * kLanes; ++l) v[l] = __builtin_sqrtf(v[l]);
  WideFloatLanes r;
  __builtin_memcpy(&r, v, sizeof v);
  return r;
}

// Whether any lane of a mask is set: the halves OR-ed together down to two
// 64-bit words, all in registers (reading the mask back from memory as
// words stalls the processor's store forwarding).
template <class M>
CANDLE_INLINE bool Any(M m) {
  using Half = std::int32_t __attribute__((vector_size(16)));
  using Words = std::uint64_t __attribute__((vector_size(16)));
  if constexpr (sizeof(M) == 64) {
    using Eight = std::int32_t __attribute__((vector_size(32)));
    const Eight low = __builtin_shufflevector(m, m, 0, 1, 2, 3, 4, 5, 6, 7);
    const Eight high = __builtin_shufflevector(m, m, 8, 9, 10, 11, 12, 13, 14, 15);
    return Any(low | high);
  } else if constexpr (sizeof(M) == 32) {
    const Half low = __builtin_shufflevector(m, m, 0, 1, 2, 3);
    const Half high = __builtin_shufflevector(m, m, 4, 5, 6, 7);
    const Words w = Words(low | high);
    return (w[0] | w[1]) != 0;
  } else {
    static_assert(sizeof(M) == 16);
    const Words w = Words(m);
    return (w[0] | w[1]) != 0;
  }
}

}  // namespace candle
