// Three-dimensional gradient noise with smooth-step interpolation, its fixed
// permutation table, the gradient fill, the table of uniform random numbers,
// and the smooth step. Every named intermediate (a corner value, an
// interpolated value, a weight) is stored as a single-precision float; the
// arithmetic between them is carried out in a type the caller picks: float,
// or double as a compiler that widens every expression to double and rounds
// only on a store would have it.
#pragma once

#include <cstdint>

namespace fw {

struct Gradient {
  float x, y, z;
};

inline constexpr int kGradientCount = 256;
inline constexpr int kRandomTableSize = 65536;

// A fixed permutation of 0..255.
extern const uint8_t noisePermutation[256];

// Fills the 256 gradients from the calling thread's generator, two draws each
// (z first): unit vectors with z uniform in (−1, 1].
void FillGradients(Gradient* gradients);

// Seeds the generator, fills the gradients, then the 65536 uniform numbers.
void BuildNoiseTables(uint32_t seed, Gradient* gradients, float* randomTable);

// The noise at (x, y, z); 0 at every whole-numbered point. T (float or
// double) is the type the arithmetic between the stored floats is done in,
// and the type of the last interpolation, which is returned unstored.
template <typename T>
T GradientNoiseIn(const Gradient* gradients, float x, float y, float z);
extern template float GradientNoiseIn<float>(const Gradient*, float, float, float);
extern template double GradientNoiseIn<double>(const Gradient*, float, float, float);

// The noise in single-precision arithmetic throughout.
inline float GradientNoise(const Gradient* gradients, float x, float y, float z) {
  return GradientNoiseIn<float>(gradients, x, y, z);
}

// 0 below edge0, 1 above edge1, 3t² − 2t³ between; 0 when edge1 − edge0 < 1e-10.
// The width and t are stored as floats, the arithmetic is done in T.
template <typename T>
float SmoothStepIn(float value, float edge0, float edge1);
extern template float SmoothStepIn<float>(float, float, float);
extern template float SmoothStepIn<double>(float, float, float);

inline float SmoothStep(float value, float edge0, float edge1) {
  return SmoothStepIn<float>(value, edge0, edge1);
}

// Cell index and fraction of one coordinate: floor(c), c − floor(c), and the
// weight 3f² − 2f³ (worked out in T, stored as a float). Shared by
// GradientNoise and callers that hoist it.
struct NoiseAxis {
  int cell;
  float fraction;
  float weight;
};
template <typename T>
NoiseAxis MakeNoiseAxisIn(float c);
extern template NoiseAxis MakeNoiseAxisIn<float>(float);
extern template NoiseAxis MakeNoiseAxisIn<double>(float);

inline NoiseAxis MakeNoiseAxis(float c) {
  return MakeNoiseAxisIn<float>(c);
}

}  // namespace fw
