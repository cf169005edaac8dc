// The birth phase: bubbles born along the source line, scattered in a disk,
// given speed, size and colour, optionally only where the birth matte is set.
// Every random draw comes from the calling thread's generator, in a fixed
// order per attempt.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "bubbles/bubble_simulation.h"
#include "framework/random.h"
#include "framework/values.h"

namespace bubbles {

namespace {

// Whether byte 2 (red) of the pixel under (x, y) is set; false outside.
bool MatteSet(const df::Image& image, float x, float y) {
  const int column = fw::TruncateToInt(double(image.width) * x);
  const int row = fw::TruncateToInt(double(image.height) * y);
  if (column < 0 || column >= image.width || row < 0 || row >= image.height) return false;
  return image.Pixel(column, row)[2] != 0;
}

int ClampStep(int step, int sizeSteps) {
  return std::clamp(step, 0, sizeSteps - 1);
}

// Size step at birth by type; one draw for types 0 and 2, none otherwise.
void SizeAtBirth(const BubbleSystem& s, Bubble& b) {
  int step = 0;
  if (s.params.bubbleType == 0)
    step = ClampStep(fw::TruncateToInt((fw::SignedRandom() * s.params.sizeVariance + 1.0) *
                                       s.params.bubbleSize * 2.0),
                     s.sizeSteps);
  else if (s.params.bubbleType == 2)
    step = ClampStep(
        fw::TruncateToInt((fw::SignedRandom() * s.params.sizeVariance + 1.0) * s.params.bubbleSize),
        s.sizeSteps);
  b.sizeIndex = b.baseSize = step;
}

// Five draws: one per channel and density, then one shared offset.
void ColourAtBirth(const StepParameters& p, Bubble& b) {
  b.red = float(fw::SignedRandom() * p.colorVariance * 255.0 + p.bubbleRed);
  b.green = float(fw::SignedRandom() * p.colorVariance * 255.0 + p.bubbleGreen);
  b.blue = float(fw::SignedRandom() * p.colorVariance * 255.0 + p.bubbleBlue);
  b.density = float(fw::SignedRandom() * p.colorVariance * 255.0 + p.bubbleDensity);
  const double mono = fw::SignedRandom() * p.monoVariance * 255.0;
  b.red = float(b.red + mono);
  b.green = float(b.green + mono);
  b.blue = float(b.blue + mono);
  b.density = float(b.density + mono);
}

}  // namespace

bool BirthBubbles(BubbleSystem& s, const SourceLine& line) {
  // Births beyond the live bound could never happen; capping the count also
  // bounds the rejections a huge quantity could ask for.
  const int count = std::min(
      fw::TruncateToInt(fw::JitteredValue(s.params.quantity, s.params.quantitySpread) + 0.5),
      s.liveLimit);
  if (count <= 0) return true;
  const int64_t maxRejected = 10 * int64_t(count);
  // A negative or undefined radius scatters nothing (a zero radius).
  const float radius = s.params.positionRadius > 0.0f ? s.params.positionRadius : 0.0f;
  const bool useMatte = s.params.useBirthMatte != 0 && s.birthImage != nullptr;

  int born = 0;
  int64_t rejected = 0;
  while (born < count) {
    if (AbortRequested(s)) return false;
    if (rejected > maxRejected) break;

    const int lifetime =
        fw::TruncateToInt(fw::JitteredValue(s.params.lifetime, s.params.lifetimeSpread) + 0.5);
    const int maxAge =
        fw::TruncateToInt(fw::JitteredValue(s.params.maxAgeMean, s.params.maxAgeSpread) + 0.5);
    if (lifetime < 1 || maxAge < 1) {
      // Uncounted, but bounded like a rejection so no value loops forever.
      ++rejected;
      continue;
    }

    // Each expression is worked out in double and rounded where it is stored
    // into a float (the base and scatter points, the velocity, the position).
    const float u = fw::UniformRandom();
    const float bx = float(line.leftX + u * (line.rightX - line.leftX));
    const float by = float(line.leftY + u * (line.rightY - line.leftY));
    float px, py;
    do {
      px = float(radius * fw::SignedRandom() + bx);
      py = float(radius * fw::SignedRandom() + by);
    } while (std::sqrt((double(px) - bx) * (double(px) - bx) +
                       (double(py) - by) * (double(py) - by)) > radius);

    const double speed =
        s.params.initialSpeed +
        double(s.params.initialSpeed) * (double(fw::UniformRandom()) * s.params.speedVariance);
    float vx = float(speed * s.params.directionX);
    float vy = float(speed * s.params.directionY);

    // Jitter of direction and length (both jitters are 0: the velocity is
    // only recomposed from its length and angle).
    double length = std::sqrt(double(vx) * vx + double(vy) * vy);
    double angle = length < 0.00001 ? 0.0 : std::atan2(double(vy), double(vx));
    angle += fw::SignedRandom() * s.params.angleJitter * 3.141592;
    length *= double(fw::UniformRandom()) * s.params.speedJitter + 1.0;
    vx = float(length * std::cos(angle));
    vy = float(length * std::sin(angle));

    // Advance by the part of the step between birth and the frame.
    vx = float(vx + double(u) * s.params.gravity * s.params.gravityX);
    vy = float(vy + double(u) * s.params.gravity * s.params.gravityY);
    const float x = float(px + double(u) * vx);
    const float y = float(py + double(u) * vy);

    if (useMatte && !MatteSet(*s.birthImage, x, y)) {
      ++rejected;
      continue;
    }

    Bubble* b = AcquireBubble(s);
    if (!b) break;  // out of memory or at the live bound: no more births this step
    b->lifetime = lifetime;
    b->maxAge = maxAge;
    b->x = x;
    b->y = y;
    b->vx = vx;
    b->vy = vy;
    SizeAtBirth(s, *b);
    ColourAtBirth(s.params, *b);
    b->serial = ++s.birthCount;
    b->next = s.liveList;
    s.liveList = b;
    s.liveCount += 1;
    ++born;
  }
  return true;
}

}  // namespace bubbles
