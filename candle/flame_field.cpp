#include "candle/flame_field.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>

#include "candle/flame_trig.h"
#include "framework/random.h"
#include "framework/values.h"

namespace candle {

namespace {

// Column of an image fraction: trunc(W·x).
int ColumnOf(int width, double x) {
  return fw::TruncateToInt(width * x);
}

// Flame row of an image fraction measured from the top: trunc((H − 1) − H·y).
int RowOf(int height, double y) {
  return fw::TruncateToInt((height - 1) - height * y);
}

float AtLeast(float v, float floor) {
  return std::fabs(v) < floor ? floor : v;
}

// Beyond this many base columns the lowest base row is taken from this many
// evenly spaced columns: outlines far outside the image would otherwise cost
// billions of spline evaluations.
constexpr int64_t kMaxBaseSamples = int64_t(1) << 22;

int LowestBaseRow(const FlameFrame& f) {
  int lowest = f.baseLeftRow;
  const int64_t span = int64_t(f.x1) - f.x0;
  const int64_t samples = std::min(span, kMaxBaseSamples);
  for (int64_t i = 0; i <= samples; ++i) {
    const int64_t c = samples == span ? f.x0 + i : f.x0 + span * i / samples;
    lowest = std::min(lowest, fw::TruncateToInt(BaseCurveRow(int(c), f)));
  }
  return lowest;
}

}  // namespace

float SliderFrequency(float value) {
  return NarrowToFloat(1.0 / std::pow(1.930782, 10.0 - 0.1 * value));
}

FlameFrame BuildFrame(const ControlCache& k, int width, int height, float aspect, float time,
                      bool mattePresent) {
  FlameFrame f;
  f.width = width;
  f.height = height;
  f.aspect = aspect;
  f.time = time;

  f.x0 = ColumnOf(width, k.bottomLeft.x);
  f.x1 = ColumnOf(width, k.bottomRight.x);
  if (f.x1 < f.x0) std::swap(f.x0, f.x1);

  int rBL = RowOf(height, k.bottomLeft.y);
  int rBR = RowOf(height, k.bottomRight.y);
  int rTL = RowOf(height, k.topLeft.y);
  f.curveRow1 = RowOf(height, k.curvePoint1.y);
  f.curveRow2 = RowOf(height, k.curvePoint2.y);
  // Two compare-and-swap steps: the top row ends as the highest of the three.
  if (rBL > rTL) std::swap(rBL, rTL);
  if (rTL < rBR) std::swap(rTL, rBR);
  f.baseLeftRow = rBL;
  f.baseRightRow = rBR;
  f.topRow = rTL;

  f.convectionRate = float(k.convection * 0.4);
  f.flickerRate = float(k.flickerSpeed * 0.09615384615384615);
  f.turbulenceAmount = float(k.turbulence * 0.0003157861496194777);
  f.density = float(k.flameDensity * 0.01);
  const float* colours[3] = {k.color1, k.color2, k.color3};
  for (int channel = 0; channel < 3; ++channel)
    for (int n = 0; n < 3; ++n)
      f.colourBytes[channel * 3 + n] = fw::TruncateToInt(255.0f * colours[n][channel]);
  f.baseSoftness = k.baseSoftness;

  const float f1 = SliderFrequency(k.frequency1), f2 = SliderFrequency(k.frequency2);
  f.lowFrequency = std::min(f1, f2);
  f.highFrequency = f1 == f2 ? float(f.lowFrequency + 0.001) : std::max(f1, f2);

  // Halves of the base span and its centre; 64-bit sums, as the columns may
  // be saturated.
  f.halfWidth = AtLeast(float((int64_t(f.x1) - f.x0 + 1) / 2), 1e-5f);
  f.centre = float(double(int64_t(f.x0) + f.x1) * 0.5);

  f.useMatte = k.useMatte != 0 && mattePresent ? 1 : 0;
  f.invertMatte = k.invertMatte != 0 ? 1 : 0;

  f.lowestBaseRow = LowestBaseRow(f);
  f.flameHeight = AtLeast(float(int64_t(f.topRow) - f.lowestBaseRow + 1), 1e-5f);

  f.windStrength = float(k.windSpeed * 0.03);
  f.windSourceColumn = NarrowToFloat(width * k.windSource.x);
  f.windSourceRow = NarrowToFloat((height - 1) - height * k.windSource.y);
  f.windTargetColumn = NarrowToFloat(width * k.windTarget.x);
  f.windTargetRow = NarrowToFloat((height - 1) - height * k.windTarget.y);
  f.windSpread = k.windSpread;
  f.proportion1 = k.proportion1;
  f.proportion2 = k.proportion2;
  f.proportion3 = k.proportion3;
  f.edgeStart = float(1.0 - k.edgeSoftness * 0.01);
  return f;
}

float CatmullRom(float t, int count, const float values[]) {
  if (count - 3 < 1) return 0.0f;
  auto at = [&](int i) {
    if (i == 0) return values[1] - (values[2] - values[1]);
    if (i == count - 1) return values[count - 2] - (values[count - 3] - values[count - 2]);
    return values[i];
  };
  if (t >= 1.0f)
    t = std::bit_cast<float>(0x3F7FFFFEu);
  else if (!(t > 0.0f))
    t = 1e-7f;
  t = Clamp(t, 0.0f, 1.0f);
  const float e = t * float(count - 3);
  const int k = int(e);  // 0 ≤ e < count − 3
  const float f = e - float(k);
  const float p0 = at(k), p1 = at(k + 1), p2 = at(k + 2), p3 = at(k + 3);
  return p1 + f * (0.5f * (p2 - p0) + f * ((p0 - 2.5f * p1 + 2.0f * p2 - 0.5f * p3) +
                                           f * (-0.5f * p0 + 1.5f * p1 - 1.5f * p2 + 0.5f * p3)));
}

float BaseCurveRow(int column, const FlameFrame& f) {
  const float rows[6] = {
      0.0f, float(f.baseLeftRow), float(f.curveRow1), float(f.curveRow2), float(f.baseRightRow),
      0.0f};
  float span = float(int64_t(f.x1) - f.x0);
  if (std::fabs(span) < 1e-10f) span = 1e-10f;
  return CatmullRom(float(int64_t(column) - f.x0) / span, 6, rows);
}

float FlameDistance(float column, float row, const FlameFrame& f, float baseRow) {
  const float dx = std::fabs(column - f.centre) / f.halfWidth;
  const float dy = (row - baseRow) / f.flameHeight;
  return std::sqrt(dx * dx + dy * dy);
}

float NormalizeLength(float& x, float& y) {
  const float a = std::fabs(x), b = std::fabs(y);
  const float s = a * a + b * b;
  const float m = std::max(a, b);
  if (m < 1e-10f) {
    x = y = 0.0f;
    return 0.0f;
  }
  // Two Newton steps for the square root from an estimate above it.
  const float r0 = s / m + m;
  const float r1 = 0.25f * r0 + s / r0;
  const float length = 0.5f * (r1 + s / r1);
  const float inverse = 1.0f / length;
  x *= inverse;
  y *= inverse;
  return length;
}

WindCone MakeWindCone(const FlameFrame& f) {
  WindCone cone;
  cone.dirX = f.windTargetColumn - f.windSourceColumn;
  cone.dirY = f.windTargetRow - f.windSourceRow;
  NormalizeLength(cone.dirX, cone.dirY);
  cone.halfAngle = float(f.windSpread * 0.008726646259971648);
  cone.cosHalf = WindCos(cone.halfAngle);
  // A zero direction has the angle 0; any other its true angle.
  cone.angle = cone.dirX != 0.0f || cone.dirY != 0.0f ? WindAtan2(cone.dirY, cone.dirX) : 0.0f;
  return cone;
}

float AngleBetween(float a, float b) {
  const float d = std::fabs(a - b);
  return d > 3.14159265f ? 6.28318531f - d : d;
}

WindStep WindOffset(int column, int row, const FlameFrame& f, const WindCone& cone) {
  float vx = float(column) - f.windSourceColumn;
  float vy = float(row) - f.windSourceRow;
  NormalizeLength(vx, vy);
  if (cone.dirX * vx + cone.dirY * vy <= cone.cosHalf) return {};
  const float angle = vx != 0.0f || vy != 0.0f ? WindAtan2(vy, vx) : 0.0f;
  const float g = WindCos(AngleBetween(angle, cone.angle) / (cone.halfAngle + 1e-5f) * 1.57079637f);
  return {g * f.aspect * f.windStrength * vx, g * f.windStrength * vy};
}

float Turbulence(const fw::Gradient* gradients, float x, float y, float z, float low, float high,
                 int width, int height) {
  float f = low < 1e-5f ? 1e-5f : low;
  if (high <= f) return 0.0f;
  const float w = float(width), h = float(height);
  float sum = 0.0f;
  do {
    sum += fw::GradientNoise(gradients, 720.0f * f * x / w, 576.0f * f * y / h, f * z) / f;
    f = NarrowToFloat(f * 2.17);
  } while (f < high);
  return sum;
}

void SeedGradients(int seed, fw::Gradient* gradients) {
  fw::SeedRandom(uint32_t(seed));
  for (int i = 0; i < fw::kGradientCount; ++i) {
    const int r1 = fw::Random();
    const float z = float(r1 * 0.000030517578125 * -2.0 + 1.0);
    const float rho = float(std::sqrt(1.0 - double(z) * double(z)));
    const int r2 = fw::Random();
    const double theta = r2 * 0.000030517578125 * 6.283185307179586;
    gradients[i] = {float(rho * std::cos(theta)), float(rho * std::sin(theta)), z};
  }
}

}  // namespace candle
