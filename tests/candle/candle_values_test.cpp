// The cache the flame is built from, from a frame's control values: the
// declared defaults and where each value goes.
#include <gtest/gtest.h>

#include "candle/candle_controls.h"

namespace candle {
namespace {

TEST(CandleValues, DefaultsAreTheDocumentedOnes) {
  const ControlCache c = DefaultCache();
  EXPECT_EQ(c.bottomRight.x, double(0.875f));
  EXPECT_EQ(c.curvePoint1.y, double(0.957f));
  EXPECT_EQ(c.windTarget.x, double(0.45f));
  EXPECT_EQ(c.flameDensity, 100.0f);
  EXPECT_EQ(c.frequency2, 70.0f);
  EXPECT_EQ(c.seed, 2000.0f);
  EXPECT_EQ(c.windSpread, 60.0f);
  // Colour 1 white, colour 2 yellow, colour 3 red.
  const float colours[3][3] = {{1, 1, 1}, {1, 1, 0}, {1, 0, 0}};
  const float* cached[3] = {c.color1, c.color2, c.color3};
  for (int n = 0; n < 3; ++n)
    for (int channel = 0; channel < 3; ++channel)
      EXPECT_EQ(cached[n][channel], colours[n][channel]) << n << " " << channel;
}

TEST(CandleValues, EachValueLandsInItsField) {
  auto row = [](const char* caption) { return fw::RowOf(kControls, caption); };
  Values v = Values::Defaults(kControls);
  v.SetPoint(row("Curve Point 2"), 0.3f, 0.6f);
  v.SetPoint(row("XY Wind Source"), 0.9f, 0.1f);
  v.SetNumber(row("Convection"), 11);
  v.SetNumber(row("Color 2 Green"), 0.25f);
  v.SetNumber(row("Color 3 Red"), 0.5f);
  v.SetNumber(row("Invert Matte"), 1);
  v.SetNumber(row("Proportion Color 3"), 9);
  const ControlCache c = CacheFrom(v);
  EXPECT_EQ(c.curvePoint2.x, double(0.3f));
  EXPECT_EQ(c.curvePoint2.y, double(0.6f));
  EXPECT_EQ(c.windSource.x, double(0.9f));
  EXPECT_EQ(c.windSource.y, double(0.1f));
  EXPECT_EQ(c.convection, 11.0f);
  EXPECT_EQ(c.color2[1], 0.25f);
  EXPECT_EQ(c.color3[0], 0.5f);
  EXPECT_EQ(c.invertMatte, 1.0f);
  EXPECT_EQ(c.useMatte, 0.0f);
  EXPECT_EQ(c.proportion3, 9.0f);
  EXPECT_EQ(c.proportion2, 50.0f);
}

}  // namespace
}  // namespace candle
