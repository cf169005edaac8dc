// The derived fields of the simulation, from control values, against the
// documented formulas and examples.
#include "bubbles/frame_parameters.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/bubbles/simulation_support.h"

namespace bubbles {
namespace {

TEST(FrameParameters, DefaultsGiveTheDocumentedDerivedFields) {
  test::Simulation sim(720, 576);
  const BubbleSystem& s = *sim.system;
  EXPECT_EQ(s.params.radiusStep, 0.5f);  // 720 / 18 / 80
  EXPECT_EQ(s.params.quantity, 20.0f);
  EXPECT_EQ(s.params.quantitySpread, 2.0f);
  EXPECT_EQ(s.params.lifetime, 200.0f);
  EXPECT_EQ(s.params.lifetimeSpread, 20.0f);
  EXPECT_EQ(s.params.maxAgeMean, 5000.0f);
  EXPECT_EQ(s.params.maxAgeSpread, 0.0f);
  EXPECT_EQ(s.params.speedJitter, 0.0f);
  EXPECT_EQ(s.params.angleJitter, 0.0f);
  EXPECT_EQ(s.params.timeToMaxSize, 25);
  EXPECT_FLOAT_EQ(s.params.sizeVariance, 0.04f);
  EXPECT_FLOAT_EQ(s.params.burstThreshold, 0.5f);
  EXPECT_FLOAT_EQ(s.params.burstQuantity, 1.0f);
  EXPECT_FLOAT_EQ(s.params.burstRadius, 1.0f);
  EXPECT_EQ(s.params.burstAfterlife, 6);
  EXPECT_FLOAT_EQ(s.params.gatherSlowup, 0.8f);
  EXPECT_FLOAT_EQ(s.params.initialSpeed, 0.001f);  // 3 / 3000
  EXPECT_NEAR(s.params.directionX, 0.0f, 1e-5);    // 90 degrees
  EXPECT_NEAR(s.params.directionY, 1.0f, 1e-6);
  EXPECT_FLOAT_EQ(s.params.gravity, 20.0f / 6000.0f);
  EXPECT_NEAR(s.params.gravityX, 0.0f, 1e-6);
  EXPECT_NEAR(s.params.gravityY, 1.0f, 1e-6);
  EXPECT_FLOAT_EQ(s.params.swirlMagnitude, 0.01f);
  EXPECT_FLOAT_EQ(s.params.windCosSpread, float(std::cos(15.0 * M_PI / 180.0)));
  EXPECT_FLOAT_EQ(s.params.lightRed, 127.5f);
  EXPECT_FLOAT_EQ(s.params.lightBrightness, 1.0f);
  EXPECT_FLOAT_EQ(s.params.bubbleBlue, 25.5f);
  EXPECT_EQ(s.params.bubbleDensity, 255.0f);
  EXPECT_FLOAT_EQ(s.params.minBrightness, 0.6f);
  EXPECT_FLOAT_EQ(s.params.reflectionIntensity, 1.0f);  // 50 × 0.02
  EXPECT_FLOAT_EQ(s.params.lightSourceX, 0.2f);
  EXPECT_FLOAT_EQ(s.params.lightTargetY, 0.4f);
  EXPECT_EQ(s.params.fadeMode, 0);
  // Default wind: from (0.9, 0.7) towards (0.7, 0.7), i.e. leftwards.
  EXPECT_FLOAT_EQ(s.params.windDirX, -1.0f);
  EXPECT_EQ(s.params.windDirY, 0.0f);
}

TEST(FrameParameters, AnglesSpreadsAndCombos) {
  test::Simulation sim;
  sim.params.gravityAngle = -90;
  sim.params.windSpread = 180;
  sim.params.bubbleType = 3.7f;  // a fractional combo value is truncated
  sim.params.fadeMode = 2;
  sim.params.velocityDirection = 180;
  sim.Load();
  EXPECT_NEAR(sim.system->params.gravityY, -1.0f, 1e-6);
  EXPECT_NEAR(sim.system->params.windCosSpread, 0.0f, 1e-6);  // a half plane
  EXPECT_EQ(sim.system->params.bubbleType, 3);
  EXPECT_EQ(sim.system->params.fadeMode, 2);
  EXPECT_NEAR(sim.system->params.directionX, -1.0f, 1e-6);

  sim.params.windSpread = 0;
  sim.Load();
  EXPECT_EQ(sim.system->params.windCosSpread, 1.0f);
}

TEST(FrameParameters, WindDirectionIsAUnitVectorOrNothing) {
  test::Simulation sim;
  sim.params.windSourceX = 0.2;
  sim.params.windSourceY = 0.1;
  sim.params.windTargetX = 0.5;
  sim.params.windTargetY = 0.5;
  sim.Load();
  EXPECT_FLOAT_EQ(sim.system->params.windDirX, 0.6f);
  EXPECT_FLOAT_EQ(sim.system->params.windDirY, 0.8f);

  // Target on the source: no direction, so the wind moves nothing.
  sim.params.windTargetX = sim.params.windSourceX;
  sim.params.windTargetY = sim.params.windSourceY;
  sim.Load();
  EXPECT_EQ(sim.system->params.windDirX, 0.0f);
  EXPECT_EQ(sim.system->params.windDirY, 0.0f);
}

TEST(FrameParameters, HugeTypedValuesSaturateTheIntegerFields) {
  test::Simulation sim;
  sim.params.timeToMaxSize = 1e30f;
  sim.params.burstAfterlife = -1e30f;
  sim.params.bubbleType = 3e9f;
  sim.Load();
  EXPECT_EQ(sim.system->params.timeToMaxSize, 2147483647);
  EXPECT_EQ(sim.system->params.burstAfterlife, -2147483647 - 1);
  EXPECT_EQ(sim.system->params.bubbleType, 2147483647);
}

TEST(FrameParameters, ValuesLandInTheirFieldsAndPresetsOverTheDefaults) {
  auto row = [](const char* caption) { return fw::RowOf(kControls, caption); };
  Values v = Values::Defaults(kControls);
  v.SetPoint(row("XY Right Source"), 0.75f, 0.25f);
  v.SetNumber(row("Gravity Angle"), -45);
  v.SetNumber(row("Bubble Green"), 0.5f);
  v.SetNumber(row("Fade Mode"), 2);
  const FrameParameters p = ParametersFrom(v);
  EXPECT_EQ(p.rightSourceX, 0.75);
  EXPECT_EQ(p.rightSourceY, 0.25);
  EXPECT_EQ(p.leftSourceX, double(0.1f));
  EXPECT_EQ(p.gravityAngle, -45.0f);
  EXPECT_EQ(p.gravity, 20.0f);
  EXPECT_EQ(p.bubbleGreen, 0.5f);
  EXPECT_EQ(p.bubbleRed, 0.1f);
  EXPECT_EQ(p.fadeMode, 2.0f);

  // "Champagne Bubbles" over the defaults; untouched controls keep theirs.
  const FrameParameters champagne = PresetFrameParameters(4);
  EXPECT_EQ(champagne.gravityAngle, 270.0f);
  EXPECT_EQ(champagne.shine, 157.0f);
  EXPECT_EQ(champagne.bubbleGreen, 0.8f);
  EXPECT_EQ(champagne.windSpread, 30.0f);
  EXPECT_EQ(PresetFrameParameters(5).quantity, 20.0f);  // no such preset
}

}  // namespace
}  // namespace bubbles
