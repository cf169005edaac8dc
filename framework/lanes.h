// Lanes: N floats (or 32-bit integers) side by side in one vector of the
// compiler's vector extension, and the arithmetic the tools' kernels share on
// them. Every operation here is the element-wise, correctly rounded IEEE one,
// and the kernels are built without contraction into fused multiply-adds, so a
// lane computes exactly what the same code on one float computes, and every
// instruction-set clone of a kernel gives the same bits as the baseline.
#pragma once

#include <cfloat>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <type_traits>
#include <utility>

// Kernels marked FW_ISA_CLONES get an AVX2 clone beside the baseline, chosen
// once at load time; FW_WIDE_ISA_CLONES adds an AVX-512 (x86-64-v4) clone,
// for kernels written in sixteen-lane vectors. ThreadSanitizer cannot run
// load-time resolvers, so its builds keep the baseline only.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define FW_LANES_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(FW_LANES_THREAD_SANITIZER)
#define FW_ISA_CLONES
#define FW_WIDE_ISA_CLONES
#else
#define FW_ISA_CLONES __attribute__((target_clones("avx2", "default")))
#define FW_WIDE_ISA_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#endif

// The lane helpers are always inlined into their kernel, so each clone gets
// its own instructions.
#define FW_LANES_INLINE [[gnu::always_inline]] inline

// The vectors pass only between always-inline functions of one library, so
// the note that their ABI differs with AVX does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace fw::lanes {

// The vector types of N lanes. (A typedef, not an alias: the vector size of
// an alias template is not carried by the alias.)
template <int N>
struct Of {
  typedef float Floats __attribute__((vector_size(4 * N)));
  typedef std::int32_t Ints __attribute__((vector_size(4 * N)));
  typedef std::uint32_t Words __attribute__((vector_size(4 * N)));
};
template <int N>
using Floats = typename Of<N>::Floats;
template <int N>
using Ints = typename Of<N>::Ints;
template <int N>
using Words = typename Of<N>::Words;

// A float vector type, and the integer types of the same width.
template <class F>
concept FloatVector = !std::is_arithmetic_v<F> && requires(F f) {
  { f[0] } -> std::same_as<float&>;
};
template <class V>
inline constexpr int kCount = int(sizeof(V) / 4);
template <class F>
using IntsLike = Ints<kCount<F>>;
template <class F>
using WordsLike = Words<kCount<F>>;

// Every lane v (the float itself for F = float).
template <class F>
FW_LANES_INLINE F Fill(float v) {
  if constexpr (sizeof(F) == sizeof(float)) {
    return v;
  } else {
    F lanes{};  // every lane is set below (zeroed so GCC does not see it as unset)
    for (int l = 0; l < kCount<F>; ++l) lanes[l] = v;
    return lanes;
  }
}

FW_LANES_INLINE float Abs(float a) {
  return std::fabs(a);
}
template <FloatVector F>
FW_LANES_INLINE F Abs(F a) {
  return F(IntsLike<F>(a) & 0x7FFFFFFF);
}

// |a| with the sign of b.
FW_LANES_INLINE float CopySign(float a, float b) {
  return std::copysign(a, b);
}
template <FloatVector F>
FW_LANES_INLINE F CopySign(F a, F b) {
  using I = IntsLike<F>;
  return F((I(a) & 0x7FFFFFFF) | (I(b) & std::int32_t(0x80000000u)));
}

// Truncation toward zero; the callers keep the values in range.
FW_LANES_INLINE int ToInt(float a) {
  return int(a);
}
template <FloatVector F>
FW_LANES_INLINE IntsLike<F> ToInt(F a) {
  return __builtin_convertvector(a, IntsLike<F>);
}
FW_LANES_INLINE float ToFloat(int a) {
  return float(a);
}
template <class I>
requires requires(I i) {
  { i[0] } -> std::same_as<std::int32_t&>;
}
FW_LANES_INLINE Floats<kCount<I>> ToFloat(I a) {
  return __builtin_convertvector(a, Floats<kCount<I>>);
}

// Through a plain array, which the vectoriser turns into one vector square
// root (element access into the vector type stays scalar).
template <FloatVector F>
FW_LANES_INLINE F Sqrt(F a) {
  float v[kCount<F>];
  __builtin_memcpy(v, &a, sizeof v);
  for (int l = 0; l < kCount<F>; ++l) v[l] = __builtin_sqrtf(v[l]);
  F r;
  __builtin_memcpy(&r, v, sizeof v);
  return r;
}

// Whether any lane of a mask (of 4, 8 or 16 lanes) is set: the halves OR-ed
// together down to two 64-bit words, all in registers (reading the mask back
// from memory as words stalls the processor's store forwarding).
template <class M>
FW_LANES_INLINE bool Any(M m) {
  using Half = std::int32_t __attribute__((vector_size(16)));
  using Pair = std::uint64_t __attribute__((vector_size(16)));
  if constexpr (sizeof(M) == 64) {
    using Eight = std::int32_t __attribute__((vector_size(32)));
    const Eight low = __builtin_shufflevector(m, m, 0, 1, 2, 3, 4, 5, 6, 7);
    const Eight high = __builtin_shufflevector(m, m, 8, 9, 10, 11, 12, 13, 14, 15);
    return Any(low | high);
  } else if constexpr (sizeof(M) == 32) {
    const Half low = __builtin_shufflevector(m, m, 0, 1, 2, 3);
    const Half high = __builtin_shufflevector(m, m, 4, 5, 6, 7);
    const Pair w = Pair(low | high);
    return (w[0] | w[1]) != 0;
  } else {
    static_assert(sizeof(M) == 16);
    const Pair w = Pair(m);
    return (w[0] | w[1]) != 0;
  }
}

// log2 of lanes in [FLT_MIN, FLT_MAX]; smaller values (0, negatives) count as
// FLT_MIN, others give finite garbage. With d = 2^k m, m in
// [sqrt(1/2), sqrt(2)) and t = (m − 1) / (m + 1), log2(m) = t g(t²) with g a
// Chebyshev fit of relative error 7e-10.
template <FloatVector F>
FW_LANES_INLINE F Log2(F x) {
  using I = IntsLike<F>;
  using U = WordsLike<F>;
  const F d = (x >= FLT_MIN) ? x : FLT_MIN;
  const U bits = __builtin_bit_cast(U, d);
  I k = __builtin_bit_cast(I, bits >> 23u) - 127;
  F m = __builtin_bit_cast(F, (bits & 0x007FFFFFu) | 0x3F800000u);
  const I big = m > 1.41421356f;  // −1 in lanes where true
  m = big ? m * 0.5f : m;
  k -= big;
  const F t = (m - 1.0f) / (m + 1.0f);
  const F u = t * t;
  F g = u * 0.43171769745887384f + 0.57671518601902343f;
  g = g * u + 0.96179883880211f;
  g = g * u + 2.8853900798033363f;
  return __builtin_convertvector(k, F) + t * g;
}

// The two uses of Exp2: the largest exponent taken, and the constant term of
// the fit of 2^f.
struct Exp2Fit {
  float highest;
  float constant;
};
// Exponents up to 128 (infinity), with the constant of the least error:
// within 8e-8 of 2^f.
inline constexpr Exp2Fit kExp2Full{128.0f, 1.0000000754548972f};
// Exponents up to 0 only (the powers of s in [0, 1]), exact at whole t: 2^0
// is 1, and s^0 is 1. Within 2e-7 of 2^f.
inline constexpr Exp2Fit kExp2UpToOne{0.0f, 1.0f};

// 2^t, the exponent clamped first to [−125, fit.highest]: below −125 the
// result is negligible and the scale factor stays a normal number, and NaN
// gives the small end. t is rounded to the nearest whole n by adding
// 1.5 × 2^23; 2^f for |f| ≤ 1/2 is a Chebyshev fit.
template <FloatVector F>
FW_LANES_INLINE F Exp2(F x, const Exp2Fit& fit) {
  using I = IntsLike<F>;
  using U = WordsLike<F>;
  F t = (x > -125.0f) ? x : -125.0f;
  t = (t < fit.highest) ? t : fit.highest;
  constexpr float kRound = 12582912.0f;  // 1.5 × 2^23: rounds to a whole number
  const F shifted = t + kRound;
  const F f = t - (shifted - kRound);
  const I n = __builtin_bit_cast(I, shifted) - __builtin_bit_cast(std::int32_t, kRound);
  F p = f * 0.0013390863364671234f + 0.0096760319183220541f;
  p = p * f + 0.055503571142190778f;
  p = p * f + 0.24022107485308338f;
  p = p * f + 0.69314718802622878f;
  p = p * f + fit.constant;
  const U scale = __builtin_bit_cast(U, n + 127) << 23u;
  return p * __builtin_bit_cast(F, scale);
}

// s^e for s in [0, 1] and e ≥ 0: within a few parts in a million of the
// exact power; 1 for e = 0, and below 2^-125 (as good as 0) for s = 0, e > 0.
template <FloatVector F>
FW_LANES_INLINE F UnitPower(F s, float e) {
  return Exp2(Log2(s) * e, kExp2UpToOne);
}

// The same for one value: lane 0 of an eight-lane broadcast, so it matches
// the lanes.
FW_LANES_INLINE float UnitPower(float s, float e) {
  const Floats<8> v = Floats<8>{} + s;
  return UnitPower(v, e)[0];
}

// Whether the processor has the 512-bit registers a sixteen-lane path that
// was compiled for x86-64-v4 needs. Asked once.
inline bool HasWideRegisters() {
#if defined(__x86_64__)
  static const bool wide = __builtin_cpu_supports("avx512f") &&
                           __builtin_cpu_supports("avx512vl") &&
                           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq");
  return wide;
#else
  return false;
#endif
}

}  // namespace fw::lanes
