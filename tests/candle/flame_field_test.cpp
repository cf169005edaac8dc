// The flame's geometry, spline, wind and turbulence, against values worked
// out from the written rules.
#include "candle/flame_field.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "candle/flame_wind_lanes.h"

namespace candle {
namespace {

// Catmull-Rom in its textbook form, for comparison.
double TextbookSpline(double p0, double p1, double p2, double p3, double t) {
  return 0.5 * (2 * p1 + (p2 - p0) * t + (2 * p0 - 5 * p1 + 4 * p2 - p3) * t * t +
                (3 * p1 - p0 - 3 * p2 + p3) * t * t * t);
}

TEST(CatmullRom, ReproducesALineHoldsTheEndsAndIgnoresTheEndValues) {
  const float line[6] = {1000, 0, 10, 20, 30, -1000};  // ends are extrapolated, not read
  EXPECT_NEAR(CatmullRom(0.5f, 6, line), 15.0f, 1e-5);
  EXPECT_NEAR(CatmullRom(0.1f, 6, line), 3.0f, 1e-5);
  // t is held at 0.99999988 above and at 1e-7 below, NaN included.
  EXPECT_FLOAT_EQ(CatmullRom(1.0f, 6, line), CatmullRom(7.0f, 6, line));
  EXPECT_NEAR(CatmullRom(1.0f, 6, line), 30 * 0.99999988, 1e-5);
  EXPECT_NEAR(CatmullRom(-2.0f, 6, line), 30 * 1e-7, 1e-6);
  EXPECT_EQ(CatmullRom(std::nanf(""), 6, line), CatmullRom(0.0f, 6, line));
  EXPECT_EQ(CatmullRom(0.5f, 3, line), 0.0f);
  // A bend agrees with the textbook form inside the middle segment.
  const float bend[6] = {0, 7, 3, 11, 7, 0};
  EXPECT_NEAR(CatmullRom(0.5f, 6, bend), TextbookSpline(7, 3, 11, 7, 0.5), 1e-4);
}

TEST(BuildFrame, DefaultOutlineOnA200By100Frame) {
  const FlameFrame f = BuildFrame(DefaultCache(), 200, 100, 1.0f, 0.0f, false);
  // Columns 200·0.125 and 200·0.875; rows trunc(99 − 100·y) of the float points.
  EXPECT_EQ(f.x0, 25);
  EXPECT_EQ(f.x1, 175);
  EXPECT_EQ(f.baseLeftRow, 7);
  EXPECT_EQ(f.baseRightRow, 7);
  EXPECT_EQ(f.topRow, 86);
  EXPECT_EQ(f.curveRow1, 3);
  EXPECT_EQ(f.curveRow2, 11);
  EXPECT_EQ(f.halfWidth, 75.0f);
  EXPECT_EQ(f.centre, 100.0f);
  // The base curve dips below curve row 1 between the left corner and it:
  // first segment P0 = 7 − (3 − 7) = 11, 7, 3, 11.
  int lowest = 7;
  for (int c = 25; c <= 175; ++c) {
    const double t = (c - 25) / 150.0 * 3;
    const int k = std::min(int(t), 2);
    const double p[6] = {11, 7, 3, 11, 7, 3};
    lowest = std::min(lowest, int(TextbookSpline(p[k], p[k + 1], p[k + 2], p[k + 3], t - k)));
  }
  EXPECT_EQ(f.lowestBaseRow, lowest);
  EXPECT_EQ(f.flameHeight, float(86 - lowest + 1));
  // Rates and colours of the defaults.
  EXPECT_FLOAT_EQ(f.convectionRate, 16.0f);
  EXPECT_FLOAT_EQ(f.flickerRate, 50 / 10.4f);
  EXPECT_FLOAT_EQ(f.density, 1.0f);
  EXPECT_FLOAT_EQ(f.windStrength, 0.9f);
  EXPECT_FLOAT_EQ(f.edgeStart, 0.7f);
  const int bytes[9] = {255, 255, 255, 255, 255, 0, 255, 0, 0};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(f.colourBytes[i], bytes[i]) << i;
  EXPECT_FLOAT_EQ(f.windSourceColumn, 10.0f);
  EXPECT_FLOAT_EQ(f.windSourceRow, 54.0f);
  EXPECT_FLOAT_EQ(f.windTargetColumn, 90.0f);
}

TEST(BuildFrame, FrequenciesOrderAndSeparate) {
  ControlCache k = DefaultCache();
  EXPECT_FLOAT_EQ(SliderFrequency(100), 1.0f);
  EXPECT_NEAR(SliderFrequency(0), 0.00139, 1e-5);
  k.frequency1 = 80;
  k.frequency2 = 20;
  FlameFrame f = BuildFrame(k, 64, 48, 1.0f, 0.0f, false);
  EXPECT_FLOAT_EQ(f.lowFrequency, float(std::pow(1.930782, -8.0)));
  EXPECT_FLOAT_EQ(f.highFrequency, float(std::pow(1.930782, -2.0)));
  k.frequency2 = 80;
  f = BuildFrame(k, 64, 48, 1.0f, 0.0f, false);
  EXPECT_FLOAT_EQ(f.highFrequency, f.lowFrequency + 0.001f);
}

TEST(BuildFrame, SwappedCornersAndDegenerateOutlinesStayDefined) {
  ControlCache k = DefaultCache();
  std::swap(k.bottomLeft, k.bottomRight);
  const FlameFrame a = BuildFrame(DefaultCache(), 300, 200, 1.0f, 0.0f, false);
  const FlameFrame b = BuildFrame(k, 300, 200, 1.0f, 0.0f, false);
  EXPECT_EQ(a.x0, b.x0);
  EXPECT_EQ(a.x1, b.x1);
  EXPECT_EQ(a.halfWidth, b.halfWidth);

  // Every point on one spot, on a one-pixel image, and points far outside.
  for (double at : {0.5, -1e12, 1e12}) {
    ControlCache one = DefaultCache();
    for (CachedPoint* p :
         {&one.bottomLeft, &one.bottomRight, &one.topLeft, &one.curvePoint1, &one.curvePoint2})
      *p = {at, at};
    for (int size : {1, 50}) {
      const FlameFrame f = BuildFrame(one, size, size, 1.0f, 0.0f, false);
      EXPECT_GE(f.halfWidth, 1e-5f);
      EXPECT_GE(f.flameHeight, 1e-5f);
      EXPECT_TRUE(std::isfinite(f.centre));
      EXPECT_TRUE(std::isfinite(BaseCurveRow(0, f)));
    }
  }
}

TEST(NormalizeLength, UnitVectorAndLength) {
  float x = 3, y = -4;
  EXPECT_FLOAT_EQ(NormalizeLength(x, y), 5.0f);
  EXPECT_FLOAT_EQ(x, 0.6f);
  EXPECT_FLOAT_EQ(y, -0.8f);
  x = 1e-11f, y = 0;
  EXPECT_EQ(NormalizeLength(x, y), 0.0f);
  EXPECT_EQ(x, 0.0f);
}

// A frame whose wind blows from `source` towards `target` (image fractions).
FlameFrame Windy(double sx, double sy, double tx, double ty, float aspect = 1.0f) {
  ControlCache k = DefaultCache();
  k.windSource = {sx, sy};
  k.windTarget = {tx, ty};
  return BuildFrame(k, 101, 101, aspect, 0.0f, false);
}

TEST(WindOffset, PushesAlongTheConeAndNothingOutsideIt) {
  // Default: from (5, 54) to the right, spread 60°, strength 0.9.
  const FlameFrame f = BuildFrame(DefaultCache(), 200, 100, 2.0f, 0.0f, false);
  const WindCone cone = MakeWindCone(f);
  const WindStep axis = WindOffset(60, 54, f, cone);
  EXPECT_NEAR(axis.dx, 2.0f * 0.9f, 1e-5);  // g = 1 on the axis, times the aspect
  EXPECT_NEAR(axis.dy, 0.0f, 1e-5);
  // 29° off the axis: inside, weaker, upward; 31° off: outside.
  const float in = 29 * 3.14159265f / 180, out = 31 * 3.14159265f / 180;
  const WindStep near =
      WindOffset(10 + int(100 * std::cos(in)), 54 + int(100 * std::sin(in)), f, cone);
  EXPECT_GT(near.dx, 0.0f);
  EXPECT_LT(near.dx, axis.dx / 2);
  EXPECT_GT(near.dy, 0.0f);
  const WindStep far =
      WindOffset(10 + int(100 * std::cos(out)), 54 + int(100 * std::sin(out)), f, cone);
  EXPECT_EQ(far.dx, 0.0f);
  EXPECT_EQ(far.dy, 0.0f);
  // Behind the source.
  EXPECT_EQ(WindOffset(0, 54, f, cone).dx, 0.0f);
}

TEST(WindOffset, LeftwardAndVerticalWindsBlowAwayFromTheSource) {
  // Leftward: source right, target left; a sample on the axis moves left.
  // On 101 x 101 the source sits at column 90.9, row 49.5.
  FlameFrame f = Windy(0.9, 0.5, 0.1, 0.5);
  WindCone cone = MakeWindCone(f);
  EXPECT_NEAR(WindOffset(40, 49, f, cone).dx, -0.9f, 1e-3);
  const WindStep above = WindOffset(40, 55, f, cone);
  const WindStep below = WindOffset(40, 44, f, cone);
  EXPECT_LT(above.dx, 0.0f);
  EXPECT_LT(below.dx, 0.0f);
  EXPECT_FLOAT_EQ(above.dx, below.dx);

  // Upward (flame rows grow upward): both sides of the axis push up, equally.
  // Source at column 50.5, row 9.1; the samples 6.5 columns either side.
  f = Windy(0.5, 0.9, 0.5, 0.1);
  cone = MakeWindCone(f);
  const WindStep left = WindOffset(44, 80, f, cone);
  const WindStep right = WindOffset(57, 80, f, cone);
  EXPECT_GT(left.dy, 0.0f);
  EXPECT_FLOAT_EQ(left.dy, right.dy);
  EXPECT_FLOAT_EQ(left.dx, -right.dx);
  // Downward likewise.
  f = Windy(0.5, 0.1, 0.5, 0.9);
  cone = MakeWindCone(f);
  EXPECT_LT(WindOffset(44, 20, f, cone).dy, 0.0f);
  EXPECT_FLOAT_EQ(WindOffset(44, 20, f, cone).dy, WindOffset(57, 20, f, cone).dy);

  EXPECT_NEAR(AngleBetween(3.0f, -3.0f), 2 * 3.14159265f - 6.0f, 1e-5);
  EXPECT_NEAR(AngleBetween(-0.5f, 0.25f), 0.75f, 1e-6);
}

// The row batches of the column kernel, on every path this processor has,
// give exactly the bits of the one-pixel WindOffset: odd and even batch
// lengths, the source inside the batch, winds in four directions, a wide
// spread and non-square pixels.
TEST(WindRows, EveryPathGivesTheBitsOfWindOffset) {
  ControlCache wide = DefaultCache();
  wide.windSpread = 170;
  const FlameFrame frames[] = {Windy(0.05, 0.46, 0.9, 0.46, 2.0f), Windy(0.9, 0.5, 0.1, 0.5),
                               Windy(0.5, 0.9, 0.5, 0.1), Windy(0.5, 0.1, 0.5, 0.9, 0.5f),
                               BuildFrame(wide, 101, 101, 1.0f, 0.0f, false)};
  for (const FlameFrame& f : frames) {
    const WindCone cone = MakeWindCone(f);
    for (int c0 = -3; c0 < 101; c0 += 8) {
      FloatLanes column;
      for (int l = 0; l < kLanes; ++l) column[l] = float(c0 + l);
      for (int rows : {1, 2, 7, 32}) {
        for (int row0 = -2; row0 < 101; row0 += rows) {
          FloatLanes dx[32], dy[32], nx[32], ny[32];
          WindRows(f, cone, column, row0, rows, dx, dy);
          WindRowsNarrow(f, cone, column, row0, rows, nx, ny);
          for (int k = 0; k < rows; ++k)
            for (int l = 0; l < kLanes; ++l) {
              const WindStep one = WindOffset(c0 + l, row0 + k, f, cone);
              ASSERT_EQ(std::bit_cast<std::uint32_t>(dx[k][l]),
                        std::bit_cast<std::uint32_t>(one.dx))
                  << "column " << c0 + l << " row " << row0 + k;
              ASSERT_EQ(std::bit_cast<std::uint32_t>(dy[k][l]),
                        std::bit_cast<std::uint32_t>(one.dy));
              ASSERT_EQ(std::bit_cast<std::uint32_t>(nx[k][l]),
                        std::bit_cast<std::uint32_t>(one.dx));
              ASSERT_EQ(std::bit_cast<std::uint32_t>(ny[k][l]),
                        std::bit_cast<std::uint32_t>(one.dy));
            }
        }
      }
    }
  }
}

TEST(Turbulence, OctavesRunFromLowToHighByFactorsOf2_17) {
  fw::Gradient g[256];
  SeedGradients(2000, g);
  const float x = 37.5f, y = -12.25f, z = 3.7f;
  auto octave = [&](float f) {
    return fw::GradientNoise(g, 720.0f * f * x / 160.0f, 576.0f * f * y / 90.0f, f * z) / f;
  };
  // Equal frequencies give a gap of 0.001: exactly one octave.
  EXPECT_EQ(Turbulence(g, x, y, z, 0.3f, 0.301f, 160, 90), octave(0.3f));
  // 0.3, 0.651, 1.41267 are below 2; 3.07 is not.
  const float f2 = float(0.3f * 2.17), f3 = float(f2 * 2.17);
  EXPECT_EQ(Turbulence(g, x, y, z, 0.3f, 2.0f, 160, 90), octave(0.3f) + octave(f2) + octave(f3));
  EXPECT_EQ(Turbulence(g, x, y, z, 0.5f, 0.5f, 160, 90), 0.0f);
  // The low frequency is raised to 1e-5.
  EXPECT_EQ(Turbulence(g, x, y, z, 0.0f, 1.5e-5f, 160, 90), octave(1e-5f));
  // An unbounded top frequency still ends, and far-out samples give no fault.
  const float t =
      Turbulence(g, 0.0f, 1e30f, z, 0.001f, std::numeric_limits<float>::infinity(), 160, 90);
  (void)t;
}

TEST(SeedGradients, SeedsTheDesktopGeneratorAndFillsUnitVectors) {
  fw::Gradient a[256], b[256];
  SeedGradients(2000, a);
  SeedGradients(2000, b);
  EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
  // First entry from the recurrence state·214013 + 2531011, z first.
  uint32_t state = 2000;
  auto draw = [&] {
    state = state * 214013u + 2531011u;
    return int((state >> 16) & 0x7FFF);
  };
  const int r1 = draw(), r2 = draw();
  const float z = float(1.0 - 2.0 * r1 / 32768.0);
  const double rho = std::sqrt(1.0 - double(z) * z);
  EXPECT_EQ(a[0].z, z);
  EXPECT_NEAR(a[0].x, rho * std::cos(r2 / 32768.0 * 6.283185307179586), 1e-6);
  EXPECT_NEAR(a[0].y, rho * std::sin(r2 / 32768.0 * 6.283185307179586), 1e-6);
  for (const fw::Gradient& v : a) EXPECT_NEAR(v.x * v.x + v.y * v.y + v.z * v.z, 1.0f, 1e-5);
  SeedGradients(2001, b);
  EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
}

}  // namespace
}  // namespace candle
