// The warp's controls from a frame's control values: the declared defaults
// and where each value goes.
#include <gtest/gtest.h>

#include "bleb/bleb_controls.h"

namespace bleb {
namespace {

TEST(WarpControls, DefaultsAreTheDocumentedOnes) {
  const WarpControls c = DefaultWarpControls();
  EXPECT_EQ(c.scale, 1.0f);
  EXPECT_EQ(c.centerX, 0.5f);
  EXPECT_EQ(c.centerY, 0.5f);
  EXPECT_EQ(c.rotate, 0.0f);
  EXPECT_EQ(c.fillMode, kFillDuplicate);
  // Angle controls 0, 51.4, 102.8, 154.3, −154.3, −102.9, −51.4, negated.
  const float angles[kLobes] = {-0.0f, -51.4f, -102.8f, -154.3f, 154.3f, 102.9f, 51.4f};
  for (int n = 0; n < kLobes; ++n) {
    EXPECT_EQ(c.amplitude[n], 0.0f) << n;
    EXPECT_EQ(c.lobeAngle[n], angles[n]) << n;
    EXPECT_EQ(c.sharpness[n], 4.0f) << n;
  }
}

TEST(WarpControls, EachValueLandsInItsField) {
  auto row = [](const char* caption) { return fw::RowOf(kControls, caption); };
  Values v = Values::Defaults(kControls);
  v.SetPoint(row("XY Center"), 0.25f, 0.75f);
  v.SetNumber(row("Scale"), 2.5f);
  v.SetNumber(row("Rotate"), -30);
  v.SetNumber(row("Fill Option"), 2.9f);  // an item is truncated
  v.SetNumber(row("Amplitude 3"), 1.5f);
  v.SetNumber(row("Angle 3"), 30);
  v.SetNumber(row("Sharp 7"), 9);
  const WarpControls c = WarpControlsFrom(v);
  EXPECT_EQ(c.centerX, 0.25f);
  EXPECT_EQ(c.centerY, 0.75f);
  EXPECT_EQ(c.scale, 2.5f);
  EXPECT_EQ(c.rotate, -30.0f);
  EXPECT_EQ(c.fillMode, kFillWrap);
  EXPECT_EQ(c.amplitude[2], 1.5f);
  EXPECT_EQ(c.amplitude[1], 0.0f);
  EXPECT_EQ(c.lobeAngle[2], -30.0f);
  EXPECT_EQ(c.sharpness[6], 9.0f);
  EXPECT_EQ(c.sharpness[5], 4.0f);
}

}  // namespace
}  // namespace bleb
