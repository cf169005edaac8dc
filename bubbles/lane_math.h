// Eight-lane float and int vectors for the blit kernels, and the power
// function s^e for s in [0, 1] written as exp2(e · log2 s) with polynomial
// fits. Every operation is a correctly rounded IEEE one and nothing is
// contracted, so the baseline build and the AVX2 clone give the same bits,
// and the scalar form (lane 0 of a broadcast) gives the same bits as a lane.
#pragma once

#include <cfloat>
#include <cstdint>

// Kernels marked BUBBLES_ISA_CLONES get an AVX2 clone beside the baseline,
// chosen once at load time. ThreadSanitizer cannot run load-time resolvers,
// so its builds keep the baseline only.
#if defined(__SANITIZE_THREAD__) || defined(BUBBLES_NO_ISA_CLONES)
#define BUBBLES_ISA_CLONES
#else
#define BUBBLES_ISA_CLONES __attribute__((target_clones("avx2", "default")))
#endif
#define BUBBLES_INLINE [[gnu::always_inline]] inline

// The vectors pass only between always-inline functions of one library, so
// the note that their ABI differs with AVX does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace bubbles::lanes {

constexpr int kLanes = 8;
using VF = float __attribute__((vector_size(4 * kLanes)));
using VI = int32_t __attribute__((vector_size(4 * kLanes)));
using VU = uint32_t __attribute__((vector_size(4 * kLanes)));

// log2 of lanes in [FLT_MIN, 1]; smaller values (and 0) count as FLT_MIN.
// With d = 2^k m, m in [sqrt(1/2), sqrt(2)) and t = (m − 1) / (m + 1),
// log2(m) = t g(t²) with g a fit of relative error below 1e-9.
BUBBLES_INLINE VF Log2(const VF& x) {
  const VF d = (x >= FLT_MIN) ? x : FLT_MIN;
  const VU bits = __builtin_bit_cast(VU, d);
  VI k = __builtin_bit_cast(VI, bits >> 23u) - 127;
  VF m = __builtin_bit_cast(VF, (bits & 0x007FFFFFu) | 0x3F800000u);
  const VI big = m > 1.41421356f;  // −1 in lanes where true
  m = big ? m * 0.5f : m;
  k -= big;
  const VF t = (m - 1.0f) / (m + 1.0f);
  const VF u = t * t;
  VF g = u * 0.43171769745887384f + 0.57671518601902343f;
  g = g * u + 0.96179883880211f;
  g = g * u + 2.8853900798033363f;
  return __builtin_convertvector(k, VF) + t * g;
}

// 2^t for t ≤ 0 (the powers of s in [0, 1]). Below −125 the result is
// negligible; the exponent is clamped there so the scale factor stays a
// normal number. NaN gives the small end. 2^f for |f| ≤ 1/2 is a fit of
// error 2e-7.
BUBBLES_INLINE VF Exp2(const VF& x) {
  VF t = (x > -125.0f) ? x : -125.0f;
  t = (t < 0.0f) ? t : 0.0f;
  constexpr float kRound = 12582912.0f;  // 1.5 × 2^23: rounds to a whole number
  const VF shifted = t + kRound;
  const VF f = t - (shifted - kRound);
  const VI n = __builtin_bit_cast(VI, shifted) - __builtin_bit_cast(int32_t, kRound);
  VF p = f * 0.0013390863364671234f + 0.0096760319183220541f;
  p = p * f + 0.055503571142190778f;
  p = p * f + 0.24022107485308338f;
  p = p * f + 0.69314718802622878f;
  p = p * f + 1.0f;  // exact at whole t: 2^0 is 1, s^0 is 1
  const VU scale = __builtin_bit_cast(VU, n + 127) << 23u;
  return p * __builtin_bit_cast(VF, scale);
}

// s^e for s in [0, 1] and e ≥ 0: within a few parts in a million of the
// exact power; 1 for e = 0, and below 2^-125 (as good as 0) for s = 0, e > 0.
BUBBLES_INLINE VF Power(const VF& s, float e) {
  return Exp2(Log2(s) * e);
}

// The same for one value: lane 0 of a broadcast, so it matches the lanes.
BUBBLES_INLINE float Power(float s, float e) {
  const VF v = VF{} + s;
  return Power(v, e)[0];
}

}  // namespace bubbles::lanes
