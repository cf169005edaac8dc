// Three-dimensional gradient noise with smooth-step interpolation, its fixed
// permutation table, the gradient fill, the table of uniform random numbers,
// and the smooth step. Every intermediate is a single-precision float.
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

// The noise at (x, y, z); 0 at every whole-numbered point.
float GradientNoise(const Gradient* gradients, float x, float y, float z);

// 0 below edge0, 1 above edge1, 3t² − 2t³ between; 0 when edge1 − edge0 < 1e-10.
float SmoothStep(float value, float edge0, float edge1);

// Cell index and fraction of one coordinate: floor(c), c − floor(c), and the
// weight 3f² − 2f³. Shared by GradientNoise and callers that hoist it.
struct NoiseAxis {
  int cell;
  float fraction;
  float weight;
};
NoiseAxis MakeNoiseAxis(float c);

}  // namespace fw
