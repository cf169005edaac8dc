#include "bubbles/frame_parameters.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "framework/angles.h"
#include "framework/values.h"

namespace bubbles {

using P = FrameParameters;

const NumberField kNumberFields[] = {
    {kPrerollFrames, &P::prerollFrames},
    {kQuantity, &P::quantity},
    {kLifetime, &P::lifetime},
    {kPositionRadius, &P::positionRadius},
    {kUseBirthMatte, &P::useBirthMatte},
    {kBubbleType, &P::bubbleType},
    {kBubbleSize, &P::bubbleSize},
    {kSizeVariance, &P::sizeVariance},
    {kTimeToMaxSize, &P::timeToMaxSize},
    {kBurst, &P::burst},
    {kBurstProbability, &P::burstProbability},
    {kBurstQuantity, &P::burstQuantity},
    {kBurstRadius, &P::burstRadius},
    {kBurstAfterlife, &P::burstAfterlife},
    {kGather, &P::gather},
    {kGatherSlowup, &P::gatherSlowup},
    {kInitialVelocity, &P::initialVelocity},
    {kVelocityDirection, &P::velocityDirection},
    {kVelocityVariance, &P::velocityVariance},
    {kGravity, &P::gravity},
    {kGravityAngle, &P::gravityAngle},
    {kSwirlDensity, &P::swirlDensity},
    {kSwirlMagnitude, &P::swirlMagnitude},
    {kSwirlTimeToMax, &P::swirlTimeToMax},
    {kFriction, &P::friction},
    {kWindSpeed, &P::windSpeed},
    {kWindSpread, &P::windSpread},
    {kLightRed, &P::lightRed},
    {kLightGreen, &P::lightGreen},
    {kLightBlue, &P::lightBlue},
    {kLightBrightness, &P::lightBrightness},
    {kLightZ, &P::lightZ},
    {kLightSpread, &P::lightSpread},
    {kLightGlisten, &P::lightGlisten},
    {kBubbleRed, &P::bubbleRed},
    {kBubbleGreen, &P::bubbleGreen},
    {kBubbleBlue, &P::bubbleBlue},
    {kColorVariance, &P::colorVariance},
    {kMonoVariance, &P::monoVariance},
    {kMinBrightness, &P::minBrightness},
    {kShine, &P::shine},
    {kShineHighlight, &P::shineHighlight},
    {kReflections, &P::reflections},
    {kReflectionIntensity, &P::reflectionIntensity},
    {kFadeMode, &P::fadeMode},
};
const int kNumberFieldCount = int(sizeof(kNumberFields) / sizeof(kNumberFields[0]));

const PointField kPointFields[] = {
    {kLeftSource, &P::leftSourceX, &P::leftSourceY},
    {kRightSource, &P::rightSourceX, &P::rightSourceY},
    {kWindSource, &P::windSourceX, &P::windSourceY},
    {kWindTarget, &P::windTargetX, &P::windTargetY},
    {kLightSource, &P::lightSourceX, &P::lightSourceY},
    {kLightTarget, &P::lightTargetX, &P::lightTargetY},
};
const int kPointFieldCount = int(sizeof(kPointFields) / sizeof(kPointFields[0]));

// Every control but the two buttons and "Demos" has a field.
static_assert(sizeof(kNumberFields) / sizeof(kNumberFields[0]) +
                  sizeof(kPointFields) / sizeof(kPointFields[0]) ==
              kControlCount - 3);

float NarrowValue(double value) {
  constexpr double kMax = std::numeric_limits<float>::max();
  return std::isnan(value) ? 0.0f : float(std::clamp(value, -kMax, kMax));
}

FrameParameters DefaultFrameParameters() {
  FrameParameters p;
  for (const NumberField& f : kNumberFields) p.*f.field = float(kControls[f.row].def);
  for (const PointField& f : kPointFields) {
    // A point's value arrives as two floats.
    p.*f.x = double(float(kControls[f.row].def));
    p.*f.y = double(float(kControls[f.row].defY));
  }
  return p;
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
