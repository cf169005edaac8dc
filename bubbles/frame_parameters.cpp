#include "bubbles/frame_parameters.h"

#include <cmath>

#include "bubbles/bubbles_presets.h"
#include "framework/angles.h"
#include "framework/values.h"

namespace bubbles {

FrameParameters ParametersFrom(const Values& v) {
  return {
      .prerollFrames = v.Number(kPrerollFrames),
      .quantity = v.Number(kQuantity),
      .lifetime = v.Number(kLifetime),
      .positionRadius = v.Number(kPositionRadius),
      .leftSourceX = v.X(kLeftSource),
      .leftSourceY = v.Y(kLeftSource),
      .rightSourceX = v.X(kRightSource),
      .rightSourceY = v.Y(kRightSource),
      .useBirthMatte = v.Number(kUseBirthMatte),
      .bubbleType = v.Number(kBubbleType),
      .bubbleSize = v.Number(kBubbleSize),
      .sizeVariance = v.Number(kSizeVariance),
      .timeToMaxSize = v.Number(kTimeToMaxSize),
      .burst = v.Number(kBurst),
      .burstProbability = v.Number(kBurstProbability),
      .burstQuantity = v.Number(kBurstQuantity),
      .burstRadius = v.Number(kBurstRadius),
      .burstAfterlife = v.Number(kBurstAfterlife),
      .gather = v.Number(kGather),
      .gatherSlowup = v.Number(kGatherSlowup),
      .initialVelocity = v.Number(kInitialVelocity),
      .velocityDirection = v.Number(kVelocityDirection),
      .velocityVariance = v.Number(kVelocityVariance),
      .gravity = v.Number(kGravity),
      .gravityAngle = v.Number(kGravityAngle),
      .swirlDensity = v.Number(kSwirlDensity),
      .swirlMagnitude = v.Number(kSwirlMagnitude),
      .swirlTimeToMax = v.Number(kSwirlTimeToMax),
      .friction = v.Number(kFriction),
      .windSpeed = v.Number(kWindSpeed),
      .windSourceX = v.X(kWindSource),
      .windSourceY = v.Y(kWindSource),
      .windTargetX = v.X(kWindTarget),
      .windTargetY = v.Y(kWindTarget),
      .windSpread = v.Number(kWindSpread),
      .lightRed = v.Number(kLightRed),
      .lightGreen = v.Number(kLightGreen),
      .lightBlue = v.Number(kLightBlue),
      .lightBrightness = v.Number(kLightBrightness),
      .lightSourceX = v.X(kLightSource),
      .lightSourceY = v.Y(kLightSource),
      .lightTargetX = v.X(kLightTarget),
      .lightTargetY = v.Y(kLightTarget),
      .lightZ = v.Number(kLightZ),
      .lightSpread = v.Number(kLightSpread),
      .lightGlisten = v.Number(kLightGlisten),
      .bubbleRed = v.Number(kBubbleRed),
      .bubbleGreen = v.Number(kBubbleGreen),
      .bubbleBlue = v.Number(kBubbleBlue),
      .colorVariance = v.Number(kColorVariance),
      .monoVariance = v.Number(kMonoVariance),
      .minBrightness = v.Number(kMinBrightness),
      .shine = v.Number(kShine),
      .shineHighlight = v.Number(kShineHighlight),
      .reflections = v.Number(kReflections),
      .reflectionIntensity = v.Number(kReflectionIntensity),
      .fadeMode = v.Number(kFadeMode),
  };
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
constexpr double kGravityDegToRad = fw::kDegreesToRadians;
constexpr double kHalfDegToRad = fw::kHalfDegreesToRadians;

// Products are formed in double from the float value and stored as floats.
float Scaled(float value, double factor) {
  return float(double(value) * factor);
}

}  // namespace

StepParameters StepParametersFrom(const FrameParameters& p, int width, int sizeSteps) {
  StepParameters s;
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
  s.radiusStep = float(double(width) * 0.05555555555555555 / (sizeSteps - 1));
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
  return s;
}

void LoadFrameParameters(const FrameParameters& p, BubbleSystem& system) {
  system.params = StepParametersFrom(p, system.width, system.sizeSteps);
}

}  // namespace bubbles
