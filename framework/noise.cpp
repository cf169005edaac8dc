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

template <typename T>
NoiseAxis MakeNoiseAxisIn(float c) {
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
  // c − floor(c) is exact in either type.
  const float fraction = c - f;
  const T t = fraction;
  const float weight = float((t * T(-2) + T(3)) * t * t);
  return {cell, fraction, weight};
}

template NoiseAxis MakeNoiseAxisIn<float>(float);
template NoiseAxis MakeNoiseAxisIn<double>(float);

namespace {

template <typename T>
inline float Corner(const Gradient* g, unsigned i, unsigned j, unsigned k, T fx, T fy, T fz) {
  const uint8_t* P = noisePermutation;
  const Gradient& v = g[P[(i + P[(j + P[k & 255u]) & 255u]) & 255u]];
  return float(T(v.x) * fx + T(v.y) * fy + T(v.z) * fz);
}

// a + s · (b − a) worked out in T, for the stored floats a, b and s.
template <typename T>
inline T Lerp(float s, float a, float b) {
  return T(a) + T(s) * (T(b) - T(a));
}

}  // namespace

template <typename T>
T GradientNoiseIn(const Gradient* g, float x, float y, float z) {
  const NoiseAxis ax = MakeNoiseAxisIn<T>(x), ay = MakeNoiseAxisIn<T>(y),
                  az = MakeNoiseAxisIn<T>(z);
  // Unsigned arithmetic: the low eight bits of the two's-complement sums.
  const unsigned i = unsigned(ax.cell), j = unsigned(ay.cell), k = unsigned(az.cell);
  const T fx = ax.fraction, fy = ay.fraction, fz = az.fraction;
  const T one = 1;
  const float v000 = Corner<T>(g, i, j, k, fx, fy, fz);
  const float v100 = Corner<T>(g, i + 1, j, k, fx - one, fy, fz);
  const float v010 = Corner<T>(g, i, j + 1, k, fx, fy - one, fz);
  const float v110 = Corner<T>(g, i + 1, j + 1, k, fx - one, fy - one, fz);
  const float v001 = Corner<T>(g, i, j, k + 1, fx, fy, fz - one);
  const float v101 = Corner<T>(g, i + 1, j, k + 1, fx - one, fy, fz - one);
  const float v011 = Corner<T>(g, i, j + 1, k + 1, fx, fy - one, fz - one);
  const float v111 = Corner<T>(g, i + 1, j + 1, k + 1, fx - one, fy - one, fz - one);
  const float x00 = float(Lerp<T>(ax.weight, v000, v100));
  const float x10 = float(Lerp<T>(ax.weight, v010, v110));
  const float x01 = float(Lerp<T>(ax.weight, v001, v101));
  const float x11 = float(Lerp<T>(ax.weight, v011, v111));
  const float y0 = float(Lerp<T>(ay.weight, x00, x10));
  const float y1 = float(Lerp<T>(ay.weight, x01, x11));
  return Lerp<T>(az.weight, y0, y1);
}

template float GradientNoiseIn<float>(const Gradient*, float, float, float);
template double GradientNoiseIn<double>(const Gradient*, float, float, float);

template <typename T>
float SmoothStepIn(float value, float edge0, float edge1) {
  const float d = float(T(edge1) - T(edge0));
  if (double(d) < 1e-10) return 0.0f;
  const float t = float((T(value) - T(edge0)) / T(d));
  if (std::signbit(t) && t != 0.0f) return 0.0f;
  if (t > 1.0f) return 1.0f;
  return float((T(t) * T(-2) + T(3)) * T(t) * T(t));
}

template float SmoothStepIn<float>(float, float, float);
template float SmoothStepIn<double>(float, float, float);

}  // namespace fw
