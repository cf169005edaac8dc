#include "bleb/warp_map.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "bleb/warp_params.h"
#include "tests/bleb/reference/warp_map_reference.h"

namespace bleb {
namespace {

struct Maps {
  std::vector<float> x, y;
  Maps(int w, int h) : x(static_cast<std::size_t>(w) * h), y(x.size()) {}
};

Maps Fast(const WarpParams& p) {
  Maps m(p.width, p.height);
  MapRows(p, m.x.data(), m.y.data(), 0, p.height);
  return m;
}

Maps Reference(const WarpParams& p) {
  Maps m(p.width, p.height);
  MapRowsReference(p, m.x.data(), m.y.data(), 0, p.height);
  return m;
}

WarpControls SevenLobes() {
  WarpControls c = DefaultWarpControls();
  const float amps[kLobes] = {0.6f, 0.3f, 1.2f, -0.4f, 0.8f, 2.5f, -0.2f};
  const float sharp[kLobes] = {4, 1, 9, 2.5f, 30, 4, 500};
  for (int n = 0; n < kLobes; ++n) {
    c.amplitude[n] = amps[n];
    c.sharpness[n] = sharp[n];
  }
  return c;
}

TEST(WarpMap, NeutralControlsGiveTheScaledIdentity) {
  // Whatever the centre and aspect: x = j (W-1)/W, y = i (W-1)/W.
  for (float aspect : {1.0f, 1.5f, 0.75f}) {
    WarpControls c = DefaultWarpControls();
    c.centerX = 0.3f;
    c.centerY = 0.8f;
    const WarpParams p = MakeWarpParams(c, 97, 41, aspect);
    for (const Maps& m : {Fast(p), Reference(p)}) {
      for (int i = 0; i < p.height; ++i)
        for (int j = 0; j < p.width; ++j) {
          const std::size_t e = static_cast<std::size_t>(i) * p.width + j;
          ASSERT_NEAR(m.x[e], j * 96.0 / 97.0, 2e-4) << aspect << " " << i << " " << j;
          ASSERT_NEAR(m.y[e], i * 96.0 / 97.0, 2e-4) << aspect << " " << i << " " << j;
        }
    }
  }
}

TEST(WarpMap, VectorPathFollowsTheScalarFormulation) {
  std::vector<WarpControls> cases;
  cases.push_back(SevenLobes());
  WarpControls rotated = SevenLobes();
  rotated.rotate = 37.5f;
  rotated.scale = 0.7f;
  rotated.centerX = 0.37f;
  cases.push_back(rotated);
  WarpControls strong = DefaultWarpControls();
  for (int n = 0; n < kLobes; ++n) strong.amplitude[n] = 10.0f;
  strong.scale = 3.0f;
  strong.rotate = -200.0f;
  cases.push_back(strong);
  for (const WarpControls& c : cases) {
    // Odd width: the last vector block of a row is partial.
    const WarpParams p = MakeWarpParams(c, 1283, 240, 1.0f);
    const Maps fast = Fast(p), ref = Reference(p);
    double worst = 0;
    for (std::size_t e = 0; e < fast.x.size(); ++e) {
      worst = std::max(worst, std::fabs(double(fast.x[e]) - ref.x[e]));
      worst = std::max(worst, std::fabs(double(fast.y[e]) - ref.y[e]));
    }
    EXPECT_LT(worst, 1e-3) << "pixels";  // a few ulps of the coordinate
  }
}

TEST(WarpMap, CentreIsConvertedFromAFractionOfTheHeight) {
  // A lobe along +x at the default centre of a 1280 x 720 frame: the map is
  // mirror-symmetric about row 360, where the crosshair is drawn.
  WarpControls c = DefaultWarpControls();
  c.amplitude[0] = 1.5f;
  const WarpParams p = MakeWarpParams(c, 1280, 720, 1.0f);
  EXPECT_FLOAT_EQ(p.centerY, 0.5f * 720 / 1280);
  const Maps m = Fast(p);
  const double mid = 360.0 * 1279 / 1280;
  for (int t : {1, 50, 200, 359})
    for (int j : {0, 300, 700, 1279}) {
      const std::size_t up = static_cast<std::size_t>(360 - t) * 1280 + j;
      const std::size_t down = static_cast<std::size_t>(360 + t) * 1280 + j;
      EXPECT_NEAR(m.x[up], m.x[down], 1e-3) << t << " " << j;
      EXPECT_NEAR(m.y[up] - mid, mid - m.y[down], 1e-3) << t << " " << j;
    }
  // A square frame keeps the control value as it is.
  EXPECT_EQ(MakeWarpParams(c, 300, 200, 1.5f).centerY, 0.5f);
}

TEST(WarpMap, LobeDirectionsFollowTheImage) {
  // 200 x 200, centre at column and row 100; a pixel 60 rows above it sits
  // at r = 0.3. Angle control 90 points above the centre (lobeAngle -90,
  // toward -y): amplitude 1 doubles s there, so that pixel samples from
  // r = 0.15, and nothing changes where the lobe does not face.
  WarpControls c = DefaultWarpControls();
  c.lobeAngle[0] = -90.0f;
  c.amplitude[0] = 1.0f;
  const Maps m = Fast(MakeWarpParams(c, 200, 200, 1.0f));
  auto at = [](int i, int j) { return static_cast<std::size_t>(i) * 200 + j; };
  EXPECT_NEAR(m.y[at(40, 100)], 0.35 * 199, 0.01);
  EXPECT_NEAR(m.x[at(40, 100)], 0.5 * 199, 0.01);
  EXPECT_NEAR(m.y[at(160, 100)], 0.8 * 199, 0.01);
  EXPECT_NEAR(m.x[at(100, 160)], 0.8 * 199, 0.01);
  // Rotate 90 turns image and lobe together, clockwise: the lobe now faces
  // +x, and every position is turned by a quarter.
  c.rotate = 90.0f;
  const Maps r = Fast(MakeWarpParams(c, 200, 200, 1.0f));
  EXPECT_NEAR(r.x[at(100, 160)], 0.5 * 199, 0.01);
  EXPECT_NEAR(r.y[at(100, 160)], 0.35 * 199, 0.01);
  EXPECT_NEAR(r.x[at(40, 100)], 0.2 * 199, 0.01);
  EXPECT_NEAR(r.y[at(40, 100)], 0.5 * 199, 0.01);
}

TEST(WarpMap, NegligibleAmplitudesAreSkipped) {
  WarpControls c = DefaultWarpControls();
  const Maps base = Fast(MakeWarpParams(c, 64, 48, 1.0f));
  c.amplitude[2] = 0.0005f;
  c.amplitude[5] = -0.0005f;
  const Maps small = Fast(MakeWarpParams(c, 64, 48, 1.0f));
  EXPECT_EQ(base.x, small.x);
  EXPECT_EQ(base.y, small.y);
  c.amplitude[2] = 0.002f;
  const Maps visible = Fast(MakeWarpParams(c, 64, 48, 1.0f));
  EXPECT_NE(base.x, visible.x);
}

TEST(WarpMap, AbortStopsBeforeTheNextRow) {
  const WarpParams p = MakeWarpParams(SevenLobes(), 32, 16, 1.0f);
  Maps m(32, 16);
  std::fill(m.x.begin(), m.x.end(), -7.0f);
  std::atomic<int> abort{1};
  MapRows(p, m.x.data(), m.y.data(), 0, 16, &abort);
  for (float v : m.x) ASSERT_EQ(v, -7.0f);
}

}  // namespace
}  // namespace bleb
