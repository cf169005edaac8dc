#include "bubbles/bubble_burst.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "bubbles/band_balance.h"
#include "bubbles/bubble_render.h"
#include "framework/random.h"
#include "framework/values.h"

namespace bubbles {

bool BurstTest(const BubbleSystem& system, const Bubble& bubble) {
  const df::Image* region = system.burstImage;
  if (!system.params.burstEnabled || !region || !system.randomTable) return false;
  const int px = CentreColumn(system, bubble);
  const int py = CentreRow(system, bubble);
  if (px < 0 || py < 0 || px >= system.width || py >= system.height) return false;
  if (px >= region->width || py >= region->height) return false;
  const bool inRegion = region->Pixel(px, py)[2] > 128;
  const bool lastFrame = int64_t(bubble.lifetime) - bubble.age == 1;
  if (!inRegion && !lastFrame) return false;
  const std::size_t index =
      (std::size_t(px) + std::size_t(system.width) * std::size_t(py)) & 0xFFFF;
  return system.randomTable[index] < system.params.burstQuantity;
}

namespace {

// The afterlife of a bubble burst this step, from the calling thread's generator.
void DrawAfterlife(const BubbleSystem& system, Bubble& b) {
  const int k = fw::TruncateToInt(double(fw::UniformRandom()) * system.params.burstAfterlife + 1.0);
  const int64_t age = int64_t(b.lifetime) - k;
  b.age = int(std::max<int64_t>(age, std::numeric_limits<int>::min()));
}

}  // namespace

void BeginBurstTests(BubbleSystem& system) {
  system.factCount = -1;
  system.spriteRows = SpriteRowsOf(system);
}

void TestBursts(const BubbleSystem& system, int begin, int end) {
  begin = std::max(begin, 0);
  end = std::min(end, system.moverCount);
  constexpr int kAhead = 4;  // bubbles fetched ahead of the one worked on
  for (int i = begin; i < end; ++i) {
    if (i + kAhead < end) __builtin_prefetch(system.movers[i + kAhead], 1);
    Bubble& b = *system.movers[i];
    b.preTestAge = b.age;
    const bool bursts = BurstTest(system, b);
    if (bursts) b.burst = 1;
    const BubbleRows rows = RowsOf(system, system.spriteRows, b);
    system.facts[i] = {rows.costTop, rows.costEnd, rows.visible,
                       int16_t(std::clamp(b.sizeIndex, -1, kSizeSteps)), bursts};
    system.drawTops[i] = rows.drawTop;
    system.drawBottoms[i] = rows.drawBottom;
  }
}

void SettleBursts(BubbleSystem& system, int count) {
  count = std::clamp(count, 0, system.moverCount);
  for (int i = 0; i < count; ++i)
    if (system.facts[i].burstNow) DrawAfterlife(system, *system.movers[i]);
  system.factCount = count;
}

LiveView DecideBursts(BubbleSystem& system) {
  const int count = ListLive(system);
  if (count < 0) {
    for (Bubble* b = system.liveList; b; b = b->next) {
      __builtin_prefetch(b->next);
      b->preTestAge = b->age;
      if (!BurstTest(system, *b)) continue;
      b->burst = 1;
      DrawAfterlife(system, *b);
    }
    return {};
  }
  BeginBurstTests(system);
  TestBursts(system, 0, count);
  SettleBursts(system, count);
  return {system.movers, count};
}

}  // namespace bubbles
