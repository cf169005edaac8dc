// Angles are entered in degrees; the tools turn them into radians with one
// factor, 3.141592654 / 180, slightly above π/180, kept so that renders match
// saved compositions. (Factors a tool's own conversions name differently
// stay where they are used.)
#pragma once

namespace fw {

inline constexpr double kDegreesToRadians = 0.017453292522222223;
// Half an angle in radians, as for the half-angle of a spread (exact: a
// halving).
inline constexpr double kHalfDegreesToRadians = kDegreesToRadians / 2;

}  // namespace fw
