#include "bubbles/frame_parameters.h"

#include <cmath>

#include "bubbles/bubbles_presets.h"
#include "framework/values.h"

namespace bubbles {

FrameParameters ParametersFrom(const Values& v) {
  FrameParameters p;
  p.prerollFrames = v.Number(kPrerollFrames);
  p.quantity = v.Number(kQuantity);
  p.lifetime = v.Number(kLifetime);
  p.positionRadius = v.Number(kPositionRadius);
  p.leftSourceX = v.X(kLeftSource);
  p.leftSourceY = v.Y(kLeftSource);
  p.rightSourceX = v.X(kRightSource);
  p.rightSourceY = v.Y(kRightSource);
  p.useBirthMatte = v.Number(kUseBirthMatte);
  p.bubbleType = v.Number(kBubbleType);
  p.bubbleSize = v.Number(kBubbleSize);
  p.sizeVariance = v.Number(kSizeVariance);
  p.timeToMaxSize = v.Number(kTimeToMaxSize);
  p.burst = v.Number(kBurst);
  p.burstProbability = v.Number(kBurstProbability);
  p.burstQuantity = v.Number(kBurstQuantity);
  p.burstRadius = v.Number(kBurstRadius);
  p.burstAfterlife = v.Number(kBurstAfterlife);
  p.gather = v.Number(kGather);
  p.gatherSlowup = v.Number(kGatherSlowup);
  p.initialVelocity = v.Number(kInitialVelocity);
  p.velocityDirection = v.Number(kVelocityDirection);
  p.velocityVariance = v.Number(kVelocityVariance);
  p.gravity = v.Number(kGravity);
  p.gravityAngle = v.Number(kGravityAngle);
  p.swirlDensity = v.Number(kSwirlDensity);
  p.swirlMagnitude = v.Number(kSwirlMagnitude);
  p.swirlTimeToMax = v.Number(kSwirlTimeToMax);
  p.friction = v.Number(kFriction);
  p.windSpeed = v.Number(kWindSpeed);
  p.windSourceX = v.X(kWindSource);
  p.windSourceY = v.Y(kWindSource);
  p.windTargetX = v.X(kWindTarget);
  p.windTargetY = v.Y(kWindTarget);
  p.windSpread = v.Number(kWindSpread);
  p.lightRed = v.Number(kLightRed);
  p.lightGreen = v.Number(kLightGreen);
  p.lightBlue = v.Number(kLightBlue);
  p.lightBrightness = v.Number(kLightBrightness);
  p.lightSourceX = v.X(kLightSource);
  p.lightSourceY = v.Y(kLightSource);
  p.lightTargetX = v.X(kLightTarget);
  p.lightTargetY = v.Y(kLightTarget);
  p.lightZ = v.Number(kLightZ);
  p.lightSpread = v.Number(kLightSpread);
  p.lightGlisten = v.Number(kLightGlisten);
  p.bubbleRed = v.Number(kBubbleRed);
  p.bubbleGreen = v.Number(kBubbleGreen);
  p.bubbleBlue = v.Number(kBubbleBlue);
  p.colorVariance = v.Number(kColorVariance);
  p.monoVariance = v.Number(kMonoVariance);
  p.minBrightness = v.Number(kMinBrightness);
  p.shine = v.Number(kShine);
  p.shineHighlight = v.Number(kShineHighlight);
  p.reflections = v.Number(kReflections);
  p.reflectionIntensity = v.Number(kReflectionIntensity);
  p.fadeMode = v.Number(kFadeMode);
  return p;
}

FrameParameters DefaultFrameParameters() {
  return ParametersFrom(Values::Defaults(kControls));
}

FrameParameters PresetFrameParameters(int n) {
  Values v = Values::Defaults(kControls);
  for (const fw::ControlChange& c : DemoPreset(n).changes)
    v.SetNumber(c.row, fw::NarrowControl(c.x));
  return ParametersFrom(v);
}

namespace {

// Degrees to radians: 3.14159 / 180 for the velocity direction,
// 3.141592654 / 180 for the gravity angle, and half of the latter for the
// wind's half-spread.
constexpr double kVelocityDegToRad = 0.01745327777777778;
constexpr double kGravityDegToRad = 0.017453292522222223;
constexpr double kHalfDegToRad = 0.008726646261111111;

// Products are formed in double from the float value and stored as floats.
float Scaled(float value, double factor) {
  return float(double(value) * factor);
}

}  // namespace

void LoadFrameParameters(const FrameParameters& p, BubbleSystem& s) {
  s.quantity = p.quantity;
  s.quantitySpread = Scaled(p.quantity, 0.1);
  s.lifetime = p.lifetime;
  s.lifetimeSpread = Scaled(p.lifetime, 0.1);
  s.maxAgeMean = 5000.0f;
  s.maxAgeSpread = 0.0f;
  s.speedJitter = 0.0f;
  s.angleJitter = 0.0f;
  s.positionRadius = p.positionRadius;
  s.timeToMaxSize = fw::TruncateToInt(p.timeToMaxSize);
  s.bubbleType = fw::TruncateToInt(p.bubbleType);
  s.bubbleSize = p.bubbleSize;
  s.sizeVariance = Scaled(p.sizeVariance, 0.01);
  s.radiusStep = float(double(s.width) * 0.05555555555555555 / (s.sizeSteps - 1));
  s.useBirthMatte = fw::TruncateToInt(p.useBirthMatte);
  s.burstEnabled = fw::TruncateToInt(p.burst);
  s.burstThreshold = float(1.0 - double(p.burstProbability) * 0.01);
  s.burstQuantity = Scaled(p.burstQuantity, 0.01);
  s.burstRadius = Scaled(p.burstRadius, 0.1);
  s.burstAfterlife = fw::TruncateToInt(p.burstAfterlife);
  s.gatherEnabled = fw::TruncateToInt(p.gather);
  s.gatherSlowup = Scaled(p.gatherSlowup, 0.01);
  s.initialSpeed = Scaled(p.initialVelocity, 0.0003333333333333333);
  s.directionX = float(std::cos(double(p.velocityDirection) * kVelocityDegToRad));
  s.directionY = float(std::sin(double(p.velocityDirection) * kVelocityDegToRad));
  s.speedVariance = Scaled(p.velocityVariance, 0.01);
  s.gravity = Scaled(p.gravity, 0.00016666666666666666);
  s.gravityX = float(std::cos(double(p.gravityAngle) * kGravityDegToRad));
  s.gravityY = float(std::sin(double(p.gravityAngle) * kGravityDegToRad));
  s.swirlDensity = p.swirlDensity;
  s.swirlMagnitude = Scaled(p.swirlMagnitude, 0.01);
  s.swirlTimeToMax = p.swirlTimeToMax;
  s.friction = Scaled(p.friction, 0.01);
  s.windSpeed = Scaled(p.windSpeed, 0.01);
  s.windSourceX = float(p.windSourceX);
  s.windSourceY = float(p.windSourceY);
  const float dx = float(p.windTargetX - p.windSourceX);
  const float dy = float(p.windTargetY - p.windSourceY);
  const double length = std::sqrt(double(dx) * dx + double(dy) * dy);
  if (length > 0.00001) {
    s.windDirX = float(dx / length);
    s.windDirY = float(dy / length);
  } else {
    s.windDirX = s.windDirY = 0.0f;
  }
  s.windCosSpread = float(std::cos(double(p.windSpread) * kHalfDegToRad));
  s.lightRed = Scaled(p.lightRed, 255.0);
  s.lightGreen = Scaled(p.lightGreen, 255.0);
  s.lightBlue = Scaled(p.lightBlue, 255.0);
  s.lightBrightness = Scaled(p.lightBrightness, 0.01);
  s.lightSourceX = float(p.lightSourceX);
  s.lightSourceY = float(p.lightSourceY);
  s.lightTargetX = float(p.lightTargetX);
  s.lightTargetY = float(p.lightTargetY);
  s.lightZ = p.lightZ;
  s.lightSpread = p.lightSpread;
  s.lightGlisten = p.lightGlisten;
  s.bubbleRed = Scaled(p.bubbleRed, 255.0);
  s.bubbleGreen = Scaled(p.bubbleGreen, 255.0);
  s.bubbleBlue = Scaled(p.bubbleBlue, 255.0);
  s.bubbleDensity = 255.0f;
  s.colorVariance = Scaled(p.colorVariance, 0.01);
  s.monoVariance = Scaled(p.monoVariance, 0.01);
  s.minBrightness = Scaled(p.minBrightness, 0.01);
  s.shine = p.shine;
  s.shineHighlight = p.shineHighlight;
  s.reflectionsEnabled = fw::TruncateToInt(p.reflections);
  s.reflectionIntensity = Scaled(p.reflectionIntensity, 0.02);
  s.fadeMode = fw::TruncateToInt(p.fadeMode);
}

}  // namespace bubbles
