#include "bubbles/bubble_burst.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

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

LiveView DecideBursts(BubbleSystem& system) {
  auto decide = [&](Bubble* b) {
    b->preTestAge = b->age;
    if (!BurstTest(system, *b)) return;
    b->burst = 1;
    const int k =
        fw::TruncateToInt(double(fw::UniformRandom()) * system.params.burstAfterlife + 1.0);
    const int64_t age = int64_t(b->lifetime) - k;
    b->age = int(std::max<int64_t>(age, std::numeric_limits<int>::min()));
  };
  const int count = ListLive(system);
  if (count < 0) {
    for (Bubble* b = system.liveList; b; b = b->next) {
      __builtin_prefetch(b->next);
      decide(b);
    }
    return {};
  }
  // From the array, the bubbles can be fetched ahead of their turn.
  constexpr int kAhead = 8;
  for (int i = 0; i < count; ++i) {
    if (i + kAhead < count) __builtin_prefetch(system.movers[i + kAhead]);
    decide(system.movers[i]);
  }
  return {system.movers, count};
}

}  // namespace bubbles
