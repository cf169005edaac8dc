// The control values of one frame as the simulation takes them, and their
// conversion into the simulation's derived fields.
#pragma once

#include "bubbles/bubble_system.h"
#include "bubbles/bubbles_controls.h"
#include "framework/control_values.h"

namespace bubbles {

// Numbers narrowed to single precision, points widened to double. Check
// boxes and combos stay numbers here (0/1, the item index).
struct FrameParameters {
  float prerollFrames = 0, quantity = 0, lifetime = 0, positionRadius = 0;
  double leftSourceX = 0, leftSourceY = 0;
  double rightSourceX = 0, rightSourceY = 0;
  float useBirthMatte = 0, bubbleType = 0, bubbleSize = 0, sizeVariance = 0, timeToMaxSize = 0;
  float burst = 0, burstProbability = 0, burstQuantity = 0, burstRadius = 0, burstAfterlife = 0;
  float gather = 0, gatherSlowup = 0;
  float initialVelocity = 0, velocityDirection = 0, velocityVariance = 0;
  float gravity = 0, gravityAngle = 0;
  float swirlDensity = 0, swirlMagnitude = 0, swirlTimeToMax = 0;
  float friction = 0;
  float windSpeed = 0;
  double windSourceX = 0, windSourceY = 0;
  double windTargetX = 0, windTargetY = 0;
  float windSpread = 0;
  float lightRed = 0, lightGreen = 0, lightBlue = 0, lightBrightness = 0;
  double lightSourceX = 0, lightSourceY = 0;
  double lightTargetX = 0, lightTargetY = 0;
  float lightZ = 0, lightSpread = 0, lightGlisten = 0;
  float bubbleRed = 0, bubbleGreen = 0, bubbleBlue = 0;
  float colorVariance = 0, monoVariance = 0, minBrightness = 0;
  float shine = 0, shineHighlight = 0;
  float reflections = 0, reflectionIntensity = 0;
  float fadeMode = 0;
};

using Values = fw::ControlValues<kControlCount>;

// The parameters from a frame's control values. The two buttons and "Demos"
// are not read.
FrameParameters ParametersFrom(const Values& values);

// Every control at its declared default.
FrameParameters DefaultFrameParameters();

// Every control at its declared default, then demonstration preset n (1 to
// 4; any other n leaves the defaults).
FrameParameters PresetFrameParameters(int n);

// What a step takes from `p` for a frame `width` pixels wide whose bubbles
// grow in `sizeSteps` steps.
StepParameters StepParametersFrom(const FrameParameters& p, int width, int sizeSteps);

// Writes the step parameters of `system` from `p`; the system's width must be
// the frame's already.
void LoadFrameParameters(const FrameParameters& p, BubbleSystem& system);

}  // namespace bubbles
