// The arc tangent and cosine of the wind weight, written out so that a lane
// loop over many columns and the one-pixel WindOffset give the same bits on
// every machine and instruction set (no library call, no contraction). Both
// stay within a few units in the last place of the library functions.
#pragma once

#include <cmath>

namespace candle {

// atan2(y, x) in −π..π; ±0 for (±0, 0).
inline float WindAtan2(float y, float x) {
  const float ax = std::fabs(x), ay = std::fabs(y);
  const float big = ax < ay ? ay : ax;
  const float small = ax < ay ? ax : ay;
  const float a = big > 0.0f ? small / (big > 0.0f ? big : 1.0f) : 0.0f;  // 0..1
  // Above tan(π/8) the argument moves to (a − 1)/(a + 1) and π/4 is added.
  const bool upper = a > 0.41421356f;
  const float t = upper ? (a - 1.0f) / (a + 1.0f) : a;
  const float z = t * t;
  const float p = (((8.05374449538e-2f * z - 1.38776856032e-1f) * z + 1.99777106478e-1f) * z -
                   3.33329491539e-1f) *
                      z * t +
                  t;
  float r = upper ? p + 0.78539816f : p;
  r = ay > ax ? 1.57079633f - r : r;
  r = x < 0.0f ? 3.14159265f - r : r;
  return std::copysign(r, y);
}

// cos(x), from a reduction to −π/4..π/4 by quarter turns. Arguments beyond
// 10⁵ are taken as 10⁵ (the wind weight never meets them).
inline float WindCos(float x) {
  float v = std::fabs(x);
  v = v < 1e5f ? v : 1e5f;
  const int quadrant = int(v * 0.63661977f + 0.5f);
  const float q = float(quadrant);
  // π/2 in three parts, each product exact in single precision.
  const float r = ((v - q * 1.5703125f) - q * 4.837512969970703125e-4f) - q * 7.54978995489e-8f;
  const float z = r * r;
  const float c =
      ((2.443315711809948e-5f * z - 1.388731625493765e-3f) * z + 4.166664568298827e-2f) * z * z -
      0.5f * z + 1.0f;
  const float s = ((-1.9515295891e-4f * z + 8.3321608736e-3f) * z - 1.6666654611e-1f) * z * r + r;
  const int k = quadrant & 3;
  const float m = (k & 1) ? s : c;
  return (k == 1 || k == 2) ? -m : m;
}

}  // namespace candle
