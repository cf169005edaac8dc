// The update of a step: every living bubble ages, dies at the end of its life,
// is slowed in the gather region, moves under gravity and friction, grows by
// its type, is pushed by the wind and stirred by the swirl. Each bubble's
// step may run on any thread; only taking the ended ones out of the list
// walks it, over their marks, on one.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "bubbles/bubble_simulation.h"
#include "framework/noise.h"
#include "framework/values.h"

namespace bubbles {

namespace {

int SaturatingDifference(int a, int b) {
  const int64_t d = int64_t(a) - int64_t(b);
  return int(
      std::clamp<int64_t>(d, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// Byte 2 (red) of the pixel under (x, y), or -1 outside the image.
int RegionValue(const df::Image& image, float x, float y) {
  const int column = fw::TruncateToInt(double(image.width) * x);
  const int row = fw::TruncateToInt(double(image.height) * y);
  if (column < 0 || column >= image.width || row < 0 || row >= image.height) return -1;
  return image.Pixel(column, row)[2];
}

// Size step by age: the growth types' common ramp, sizeSteps × 0.025 ×
// bubbleSize × age / timeToMaxSize, truncated (the quotient is not).
int GrowthSteps(const BubbleSystem& s, int age) {
  const int timeToMax = std::max(s.params.timeToMaxSize, 1);
  return fw::TruncateToInt(s.sizeSteps * 0.025 * s.params.bubbleSize * (double(age) / timeToMax));
}

void Grow(const BubbleSystem& s, Bubble& b) {
  const int last = s.sizeSteps - 1;
  if (s.params.bubbleType == 1 || s.params.bubbleType == 3) {
    b.sizeIndex = std::clamp(GrowthSteps(s, b.age), 0, last);
  } else if (s.params.bubbleType == 2) {
    int64_t step = int64_t(GrowthSteps(s, b.age)) + b.baseSize;
    step = std::max<int64_t>(step, 0);
    step = std::min<int64_t>(step, 4 * int64_t(b.baseSize));
    b.sizeIndex = int(std::min<int64_t>(step, last));
  }
}

// Wind, swirl and motion work each expression out in double and round it
// where it is stored into a float: the unit offset from the wind source, the
// noise coordinates, the velocity and the position.
void Wind(const StepParameters& p, Bubble& b) {
  float dx = float(double(b.x) - p.windSourceX);
  float dy = float(double(b.y) - p.windSourceY);
  const double d = std::sqrt(double(dx) * dx + double(dy) * dy);
  if (d > 0.000001) {
    dx = float(dx / d);
    dy = float(dy / d);
  }
  const double c = double(p.windDirX) * dx + double(p.windDirY) * dy;
  if (c > p.windCosSpread) {
    const double w = (c - p.windCosSpread) / std::max(1.0 - p.windCosSpread, 0.000001) * c;
    b.x = float(b.x + double(p.windDirX) * p.windSpeed * w);
    b.y = float(b.y + double(p.windDirY) * p.windSpeed * w);
  }
}

// The swirl reaches its full strength after at least one step.
void Swirl(const BubbleSystem& s, Bubble& b, float sizeWeight, float time) {
  const double toMax = s.params.swirlTimeToMax < 1.0f ? 1.0 : double(s.params.swirlTimeToMax);
  const double ramp = std::min(double(b.age) / toMax, 1.0);
  const double weight = (1.0 - 1.5 * sizeWeight) * s.params.swirlMagnitude * ramp;
  const float x = float(double(b.x) * s.params.swirlDensity);
  const float y = float(double(b.y) * s.params.swirlDensity);
  const float z = float(double(time) * s.params.swirlDensity * 0.04);
  b.vx = float(b.vx + fw::GradientNoiseIn<double>(s.gradients, x, y, z) * weight);
  b.vy = float(b.vy + fw::GradientNoiseIn<double>(s.gradients, float(x + 3.14), float(y + 2.71),
                                                  float(z + 4.35)) *
                          weight);
}

struct Moves {
  bool gather, wind, swirl;
};

Moves MovesOf(const BubbleSystem& s) {
  return {s.params.gatherEnabled != 0 && s.burstImage != nullptr, s.params.windSpeed > 0.0001f,
          s.params.swirlDensity > 0.1f && s.gradients != nullptr};
}

void Move(const BubbleSystem& s, const Moves& moves, Bubble& b, float time) {
  double damping = s.params.friction;
  if (moves.gather) {
    const int region = RegionValue(*s.burstImage, b.x, b.y);
    if (region > 128) {
      damping = std::min(double(s.params.gatherSlowup) + s.params.friction, 1.0);
      b.gatherState = 1;
    } else if (region >= 0 && b.gatherState == 1) {
      b.gatherState = 2;
      b.age = SaturatingDifference(b.lifetime, s.params.burstAfterlife);
    }
  }

  // Larger "Variable Growth" bubbles fall faster and swirl less.
  const float sizeWeight = s.params.bubbleType == 2 ? float(b.baseSize * 0.025) : 0.0f;
  const double g =
      s.params.bubbleType == 2 ? (sizeWeight + 0.5) * s.params.gravity : double(s.params.gravity);
  b.vx = float(s.params.gravityX * g + (1.0 - damping) * b.vx);
  b.vy = float(s.params.gravityY * g + (1.0 - damping) * b.vy);
  b.x = float(double(b.x) + b.vx);
  b.y = float(double(b.y) + b.vy);

  Grow(s, b);
  if (moves.wind && b.gatherState == 0) Wind(s.params, b);
  if (moves.swirl) Swirl(s, b, sizeWeight, time);
}

// One more step of age: true when that ends the bubble's life.
bool Ages(Bubble& b) {
  b.age += 1;
  return b.age >= b.lifetime || b.age >= b.maxAge;
}

// The update down the live list, where it could not be listed.
void UpdateFromList(BubbleSystem& s, float time) {
  s.moversListLive = false;
  s.factCount = -1;
  const Moves moves = MovesOf(s);
  Bubble* kept = nullptr;  // the last bubble that stayed alive
  for (Bubble* b = s.liveList; b;) {
    if (AbortRequested(s)) return;
    Bubble* next = b->next;
    __builtin_prefetch(next);
    if (Ages(*b)) {
      (kept ? kept->next : s.liveList) = next;
      b->next = s.freeList;
      s.freeList = b;
      s.liveCount -= 1;
    } else {
      Move(s, moves, *b, time);
      kept = b;
    }
    b = next;
  }
}

}  // namespace

void UpdateBubbles(BubbleSystem& s, float time) {
  const int count = ListLive(s);
  if (count < 0) return UpdateFromList(s, time);
  BeginUpdate(s, count);
  StepBubbles(s, 0, count, time);
  RemoveEnded(s, count);
}

void BeginUpdate(BubbleSystem& s, int count) {
  s.factCount = -1;  // the bubbles move
  count = std::clamp(count, 0, s.moverCount);
  if (count > 0) std::fill(s.ended, s.ended + count, uint8_t(0));
}

void StepBubbles(const BubbleSystem& s, int begin, int end, float time) {
  const Moves moves = MovesOf(s);
  begin = std::max(begin, 0);
  end = std::min(end, s.moverCount);
  constexpr int kAhead = 4;  // bubbles fetched ahead of the one worked on
  for (int i = begin; i < end; ++i) {
    if (AbortRequested(s)) return;
    if (i + kAhead < end) __builtin_prefetch(s.movers[i + kAhead], 1);
    Bubble& b = *s.movers[i];
    if (Ages(b))
      s.ended[i] = 1;
    else
      Move(s, moves, b, time);
  }
}

void RemoveEnded(BubbleSystem& s, int count) {
  count = std::clamp(count, 0, s.moverCount);
  // Only the marks are read, eight at a time: a bubble is touched when it,
  // or the one after it, ended, and the survivors between two ended ones
  // move down the array as a block.
  int survivors = 0;
  for (int i = 0; i < count;) {
    int next = i;  // the next ended bubble, or count
    for (uint64_t marks; next + 8 <= count; next += 8) {
      std::memcpy(&marks, s.ended + next, 8);
      if (marks != 0) break;
    }
    while (next < count && !s.ended[next]) ++next;
    if (survivors != i)
      std::memmove(s.movers + survivors, s.movers + i, size_t(next - i) * sizeof(Bubble*));
    survivors += next - i;
    if (next == count) break;
    Bubble* b = s.movers[next];
    (survivors > 0 ? s.movers[survivors - 1]->next : s.liveList) = b->next;
    b->next = s.freeList;
    s.freeList = b;
    s.liveCount -= 1;
    i = next + 1;
  }
  // Movers beyond `count` (none after a whole step) still follow in the list.
  std::copy(s.movers + count, s.movers + s.moverCount, s.movers + survivors);
  s.moverCount = survivors + (s.moverCount - count);
}

}  // namespace bubbles
