// The flame's shape: per-frame geometry from the controls, the base curve,
// the normalised distance from the base centre, wind displacement and the
// multi-octave turbulence that pushes the distance outwards.
//
// Flame space: column c = trunc(W·x), flame row r = trunc((H − 1) − H·y) for a
// point given as image fractions, so flame rows count upward from the bottom
// edge. Every float-to-integer conversion truncates toward zero and saturates.
#pragma once

#include <cstdint>

#include "candle/candle_controls.h"
#include "framework/noise.h"

namespace candle {

// Built once per frame; read-only for the workers and the compositor.
struct FlameFrame {
  int x0 = 0, x1 = 0;  // left and right base columns, x0 ≤ x1
  int baseLeftRow = 0, baseRightRow = 0, topRow = 0;
  int curveRow1 = 0, curveRow2 = 0;
  int lowestBaseRow = 0;  // lowest row of the base curve over x0..x1
  float halfWidth = 1e-5f;
  float flameHeight = 1e-5f;
  float centre = 0;  // (x0 + x1) / 2
  int width = 0, height = 0;
  float aspect = 1;
  float lowFrequency = 0, highFrequency = 0;
  float convectionRate = 0;    // "Convection" × 0.4
  float flickerRate = 0;       // "Flicker Speed" / 10.4
  float turbulenceAmount = 0;  // "Turbulence" × 0.0003157861496194777
  float density = 0;           // "Flame Density" / 100
  int useMatte = 0;            // "Use Matte" on and a matte present
  int invertMatte = 0;         // "Invert Matte" on
  // trunc(255 × value) of the colours, in the order R1, R2, R3, G1, G2, G3, B1, B2, B3.
  int colourBytes[9] = {};
  float baseSoftness = 0;  // rows
  float windStrength = 0;  // "Wind Speed" × 0.03
  float windSourceColumn = 0, windSourceRow = 0;
  float windTargetColumn = 0, windTargetRow = 0;
  float windSpread = 0;  // degrees
  float proportion1 = 0, proportion2 = 0, proportion3 = 0;
  float time = 0;
  float edgeStart = 1;  // 1 − "Edge Softness" / 100
};

// The frame's geometry and rates from the cached controls and the background
// (width, height, aspect, frame time) and whether a matte is connected.
FlameFrame BuildFrame(const ControlCache& cache, int width, int height, float aspect, float time,
                      bool mattePresent);

// A double narrowed to float; beyond the float range ±infinity (a plain
// conversion would be undefined there).
inline float NarrowToFloat(double v) {
  constexpr double kLargest = 3.4028234663852886e38;
  if (v > kLargest) return __builtin_inff();
  if (v < -kLargest) return -__builtin_inff();
  return float(v);
}

// Frequency of a "Frequency" slider value: 1 / 1.930782^(10 − F/10).
float SliderFrequency(float value);

// lo when x < lo, else the smaller of x and hi.
inline float Clamp(float x, float lo, float hi) {
  if (x < lo) return lo;
  return hi < x ? hi : x;
}

// Catmull-Rom spline through values[0..count−1] at t in 0..1; the first and
// last values are replaced by the linear extrapolations of their neighbours.
// t is held just inside 0..1 (a NaN counts as 0). 0 when count < 4.
float CatmullRom(float t, int count, const float values[]);

// Flame row of the base curve (bottom left, the two curve points, bottom
// right) at a column; columns outside x0..x1 get the curve's end values.
float BaseCurveRow(int column, const FlameFrame& frame);

// Distance of a sample from the base centre, 1 on the outline of the upper
// half-ellipse over the base row `baseRow`.
float FlameDistance(float column, float row, const FlameFrame& frame, float baseRow);

// Normalises (x, y) in place and returns its length; below 1e-10 both become 0.
float NormalizeLength(float& x, float& y);

// Per-frame constants of the wind cone.
struct WindCone {
  float dirX = 0, dirY = 0;  // unit direction from source to target
  float halfAngle = 0;       // half the spread, radians
  float cosHalf = 1;         // samples whose direction has a dot product above this are inside
  float angle = 0;           // direction of the wind, radians
};
WindCone MakeWindCone(const FlameFrame& frame);

struct WindStep {
  float dx = 0, dy = 0;
};
// Displacement the wind adds at (column, row): along the direction from the
// source, strongest on the cone's axis and fading to 0 at its edge.
WindStep WindOffset(int column, int row, const FlameFrame& frame, const WindCone& cone);

// The angle between two directions, wrapped into 0..π.
float AngleBetween(float a, float b);

// Sum over octaves of noise(720·f·x/W, 576·f·y/H, f·z) / f, for f from the
// low frequency (at least 1e-5) by factors of 2.17 while below the high one;
// 0 when the high frequency does not exceed the low one. The factors 720 and
// 576 make the pattern independent of the image size.
float Turbulence(const fw::Gradient* gradients, float x, float y, float z, float lowFrequency,
                 float highFrequency, int width, int height);

// Seeds the calling thread's generator and fills the 256 gradients, two draws
// each, z first.
void SeedGradients(int seed, fw::Gradient* gradients);

}  // namespace candle
