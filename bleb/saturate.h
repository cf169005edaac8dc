// Saturating float-to-integer conversions. They truncate toward zero inside
// the target range, clamp outside it and give 0 for NaN, so no conversion of
// an out-of-range value is ever undefined.
#pragma once

#include <cstdint>
#include <limits>

namespace bleb {

template <class Int, class Float>
constexpr Int SaturatingTrunc(Float v) {
  constexpr Float lo = static_cast<Float>(std::numeric_limits<Int>::min());
  // The largest Float strictly below max()+1 (max() itself may not be exact).
  constexpr Float hiExclusive =
      static_cast<Float>(std::numeric_limits<Int>::max() / 2 + 1) * Float(2);
  if (!(v == v)) return 0;
  if (v <= lo) return std::numeric_limits<Int>::min();
  if (v >= hiExclusive) return std::numeric_limits<Int>::max();
  return static_cast<Int>(v);
}

inline int TruncToInt(double v) { return SaturatingTrunc<int>(v); }
inline int TruncToInt(float v) { return SaturatingTrunc<int>(v); }

}  // namespace bleb
