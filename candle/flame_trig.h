// The arc tangent and cosine of the wind weight, written out so that the
// lanes of a group of columns and the one-pixel WindOffset give the same bits
// on every machine and instruction set (no library call, no contraction).
// Both stay within a few units in the last place of the library functions.
// F is float or FloatLanes.
#pragma once

#include "candle/flame_lanes.h"

namespace candle {

// atan2(y, x) in −π..π; ±0 for (±0, 0).
template <class F>
FW_LANES_INLINE F WindAtan2(F y, F x) {
  const F ax = Abs(x), ay = Abs(y);
  const F big = ax < ay ? ay : ax;
  const F small = ax < ay ? ax : ay;
  const auto positive = big > 0.0f;
  const F a = positive ? small / (positive ? big : Fill<F>(1.0f)) : Fill<F>(0.0f);  // 0..1
  // Above tan(π/8) the argument moves to (a − 1)/(a + 1) and π/4 is added.
  const auto upper = a > 0.41421356f;
  const F t = upper ? (a - 1.0f) / (a + 1.0f) : a;
  const F z = t * t;
  const F p = (((8.05374449538e-2f * z - 1.38776856032e-1f) * z + 1.99777106478e-1f) * z -
               3.33329491539e-1f) *
                  z * t +
              t;
  F r = upper ? p + 0.78539816f : p;
  r = ay > ax ? 1.57079633f - r : r;
  r = x < 0.0f ? 3.14159265f - r : r;
  return CopySign(r, y);
}

// cos(x), from a reduction to −π/4..π/4 by quarter turns. Arguments beyond
// 10⁵ (and NaN) are taken as 10⁵; the wind weight never meets them.
template <class F>
FW_LANES_INLINE F WindCos(F x) {
  F v = Abs(x);
  v = v < 1e5f ? v : Fill<F>(1e5f);
  const auto quadrant = ToInt(v * 0.63661977f + 0.5f);
  const F q = ToFloat(quadrant);
  // π/2 in three parts, each product exact in single precision.
  const F r = ((v - q * 1.5703125f) - q * 4.837512969970703125e-4f) - q * 7.54978995489e-8f;
  const F z = r * r;
  const F c =
      ((2.443315711809948e-5f * z - 1.388731625493765e-3f) * z + 4.166664568298827e-2f) * z * z -
      0.5f * z + 1.0f;
  const F s = ((-1.9515295891e-4f * z + 8.3321608736e-3f) * z - 1.6666654611e-1f) * z * r + r;
  const auto k = quadrant & 3;
  const F m = (k & 1) != 0 ? s : c;
  return ((k == 1) | (k == 2)) ? -m : m;
}

}  // namespace candle
