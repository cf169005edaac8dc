// WindOffset for every lane of a vector of columns and rows, written once
// for the eight-lane and the sixteen-lane paths.
#pragma once

#include "candle/flame_field.h"
#include "candle/flame_lanes.h"
#include "candle/flame_trig.h"

namespace candle {

// F is FloatLanes or WideFloatLanes, M its mask.
template <class F, class M>
FW_LANES_INLINE void WindVector(const FlameFrame& f, const WindCone& cone, F column, F row, F& dx,
                                F& dy) {
  F x = column - f.windSourceColumn;
  F y = row - f.windSourceRow;
  const F a = Abs(x), b = Abs(y);
  const F s = a * a + b * b;
  const F m = a < b ? b : a;
  const M zero = m < 1e-10f;
  const F mm = zero ? Fill<F>(1.0f) : m;
  const F r0 = s / mm + mm;
  const F r1 = 0.25f * r0 + s / r0;
  const F length = 0.5f * (r1 + s / r1);
  const F inverse = 1.0f / length;
  x = zero ? Fill<F>(0.0f) : x * inverse;
  y = zero ? Fill<F>(0.0f) : y * inverse;
  const M inside = ~(cone.dirX * x + cone.dirY * y <= cone.cosHalf);
  if (!Any(inside)) {
    dx = dy = Fill<F>(0.0f);
    return;
  }
  const F angle = ((x != 0.0f) | (y != 0.0f)) ? WindAtan2(y, x) : Fill<F>(0.0f);
  const F d = Abs(angle - cone.angle);
  const F between = d > 3.14159265f ? 6.28318531f - d : d;
  const F w = WindCos(between / (cone.halfAngle + 1e-5f) * 1.57079637f);
  dx = inside ? w * f.aspect * f.windStrength * x : Fill<F>(0.0f);
  dy = inside ? w * f.windStrength * y : Fill<F>(0.0f);
}

}  // namespace candle
