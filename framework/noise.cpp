#include "framework/noise.h"

#include <cmath>
#include <limits>

#include "framework/random.h"

namespace fw {

// clang-format off
const uint8_t noisePermutation[256] = {
    225, 155, 210, 108, 175, 199, 221, 144, 203, 116,  70, 213,  69, 158,  33, 252,
      5,  82, 173, 133, 222, 139, 174,  27,   9,  71,  90, 246,  75, 130,  91, 191,
    169, 138,   2, 151, 194, 235,  81,   7,  25, 113, 228, 159, 205, 253, 134, 142,
    248,  65, 224, 217,  22, 121, 229,  63,  89, 103,  96, 104, 156,  17, 201, 129,
     36,   8, 165, 110, 237, 117, 231,  56, 132, 211, 152,  20, 181, 111, 239, 218,
    170, 163,  51, 172, 157,  47,  80, 212, 176, 250,  87,  49,  99, 242, 136, 189,
    162, 115,  44,  43, 124,  94, 150,  16, 141, 247,  32,  10, 198, 223, 255,  72,
     53, 131,  84,  57, 220, 197,  58,  50, 208,  11, 241,  28,   3, 192,  62, 202,
     18, 215, 153,  24,  76,  41,  15, 179,  39,  46,  55,   6, 128, 167,  23, 188,
    106,  34, 187, 140, 164,  73, 112, 182, 244, 195, 227,  13,  35,  77, 196, 185,
     26, 200, 226, 119,  31, 123, 168, 125, 249,  68, 183, 230, 177, 135, 160, 180,
     12,   1, 243, 148, 102, 166,  38, 238, 251,  37, 240, 126,  64,  74, 161,  40,
    184, 149, 171, 178, 101,  66,  29,  59, 146,  61, 254, 107,  42,  86, 154,   4,
    236, 232, 120,  21, 233, 209,  45,  98, 193, 114,  78,  19, 206,  14, 118, 127,
     48,  79, 147,  85,  30, 207, 219,  54,  88, 234, 190, 122,  95,  67, 143, 109,
    137, 214, 145,  93,  92, 100, 245,   0, 216, 186,  60,  83, 105,  97, 204,  52,
};
// clang-format on

void FillGradients(Gradient* gradients) {
  for (int i = 0; i < kGradientCount; ++i) {
    const int r1 = Random();
    const float z = float(r1 * 0.000030517578125 * -2.0 + 1.0);
    const float rho = float(std::sqrt(1.0 - double(z) * double(z)));
    const int r2 = Random();
    const double theta = r2 * 0.000030517578125 * 6.2831854;
    gradients[i] = {float(rho * std::cos(theta)), float(rho * std::sin(theta)), z};
  }
}

void BuildNoiseTables(uint32_t seed, Gradient* gradients, float* randomTable) {
  SeedRandom(seed);
  FillGradients(gradients);
  for (int i = 0; i < kRandomTableSize; ++i) randomTable[i] = UniformRandom();
}

NoiseAxis MakeNoiseAxis(float c) {
  int cell;
  float f;
  if (c > -2147483520.0f && c < 2147483520.0f) {
    // floor without a library call: truncate, then step down below zero.
    cell = int(c);
    f = float(cell);
    if (c < f) {
      --cell;
      f -= 1.0f;
    }
  } else {
    // Far out (or NaN): some cell, saturated; the fraction is what floor gives.
    f = std::floor(c);
    cell = !(f == f) ? 0
           : f > 0   ? std::numeric_limits<int>::max()
                     : std::numeric_limits<int>::min();
  }
  const float fraction = c - f;
  const float weight = (fraction * -2.0f + 3.0f) * fraction * fraction;
  return {cell, fraction, weight};
}

namespace {

inline float Corner(const Gradient* g, unsigned i, unsigned j, unsigned k, float fx, float fy,
                    float fz) {
  const uint8_t* P = noisePermutation;
  const Gradient& v = g[P[(i + P[(j + P[k & 255u]) & 255u]) & 255u]];
  return v.x * fx + v.y * fy + v.z * fz;
}

}  // namespace

float GradientNoise(const Gradient* g, float x, float y, float z) {
  const NoiseAxis ax = MakeNoiseAxis(x), ay = MakeNoiseAxis(y), az = MakeNoiseAxis(z);
  // Unsigned arithmetic: the low eight bits of the two's-complement sums.
  const unsigned i = unsigned(ax.cell), j = unsigned(ay.cell), k = unsigned(az.cell);
  const float fx = ax.fraction, fy = ay.fraction, fz = az.fraction;
  const float v000 = Corner(g, i, j, k, fx, fy, fz);
  const float v100 = Corner(g, i + 1, j, k, fx - 1, fy, fz);
  const float v010 = Corner(g, i, j + 1, k, fx, fy - 1, fz);
  const float v110 = Corner(g, i + 1, j + 1, k, fx - 1, fy - 1, fz);
  const float v001 = Corner(g, i, j, k + 1, fx, fy, fz - 1);
  const float v101 = Corner(g, i + 1, j, k + 1, fx - 1, fy, fz - 1);
  const float v011 = Corner(g, i, j + 1, k + 1, fx, fy - 1, fz - 1);
  const float v111 = Corner(g, i + 1, j + 1, k + 1, fx - 1, fy - 1, fz - 1);
  const float sx = ax.weight, sy = ay.weight, sz = az.weight;
  const float x00 = v000 + sx * (v100 - v000);
  const float x10 = v010 + sx * (v110 - v010);
  const float x01 = v001 + sx * (v101 - v001);
  const float x11 = v011 + sx * (v111 - v011);
  const float y0 = x00 + sy * (x10 - x00);
  const float y1 = x01 + sy * (x11 - x01);
  return y0 + sz * (y1 - y0);
}

float SmoothStep(float value, float edge0, float edge1) {
  const float d = edge1 - edge0;
  if (double(d) < 1e-10) return 0.0f;
  const float t = (value - edge0) / d;
  if (std::signbit(t) && t != 0.0f) return 0.0f;
  if (t > 1.0f) return 1.0f;
  return (t * -2.0f + 3.0f) * t * t;
}

}  // namespace fw
