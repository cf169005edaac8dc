#include "bubbles/band_balance.h"

#include <algorithm>
#include <new>

#include "bubbles/bubble_render.h"

namespace bubbles {

namespace {

// A band clears its rows before drawing into them: clearing a row costs
// about what blending 1/32 of its pixels from a sprite does (measured at
// 1920 × 1080), so a row is worth 1 + width / 32 units besides its bubbles.
constexpr int kClearedPixelsPerUnit = 32;

void Clear(BandPlan* plan) {
  plan->bubbles.clear();
  plan->bounds.clear();
}

}  // namespace

bool PlanBands(const BubbleSystem& system, int chunks, BandPlan* plan, LiveView live) {
  Clear(plan);
  const int height = system.height;
  if (height < 1 || chunks < 1 || system.width < 1) return false;
  try {
    // Grown by doubling: a list that grows with the crowd would otherwise
    // move to fresh memory every frame, and fresh memory costs page faults.
    const size_t living = size_t(std::max(system.liveCount, 0));
    if (plan->bubbles.capacity() < living)
      plan->bubbles.reserve(std::max(living, 2 * plan->bubbles.capacity()));
    // costs[y] holds the change of the per-row cost at row y; summed twice
    // below into the cost of rows [0, y).
    plan->costs.assign(size_t(height) + 1, 0);
    int64_t* change = plan->costs.data();
    ForEachLive(system, live, [&](const Bubble& bubble) {
      const Bubble* b = &bubble;
      const BubbleSprite* sprite =
          FindSprite(system.spriteCaches, system.params.bubbleType, b->sizeIndex, system.width);
      if (!sprite) return;  // draws nothing
      const int h = sprite->width / 2;
      const int px = CentreColumn(system, *b), py = CentreRow(system, *b);
      // The centre lies within ±kFarPixel and the half-width below the
      // image's side limit: none of these sums overflows.
      const int top = std::clamp(py - h, 0, height), bottom = std::clamp(py + h + 1, 0, height);
      const bool offImage = px + h < 0 || px - h >= system.width || top >= bottom;
      if (b->burst || b->gatherState == 2) {
        plan->bubbles.push_back({b, 0, height - 1});
      } else if (!offImage) {
        plan->bubbles.push_back({b, top, bottom - 1});
      }
      if (offImage) return;
      const int64_t visible = int64_t(std::min(px + h + 1, system.width)) - std::max(px - h, 0);
      change[top] += visible;
      change[bottom] -= visible;
    });
    // Prefix sums: per-row cost (the row's own units besides its bubbles), then
    // the cost of the rows above each row.
    const int64_t rowUnits = 1 + system.width / kClearedPixelsPerUnit;
    int64_t rowCost = 0, above = 0;
    for (int y = 0; y <= height; ++y) {
      rowCost += change[y];
      const int64_t cost = rowCost + rowUnits;
      change[y] = above;
      above += cost;
    }
    const int64_t total = change[height];
    plan->bounds.resize(size_t(chunks) + 1);
    plan->bounds[0] = 0;
    int y = 0;
    for (int k = 1; k < chunks; ++k) {
      // The first row whose rows above hold k chunks' shares. The share is
      // taken in long double (total × k may pass 2^63 on absurd frames); a
      // rounded share only moves a boundary, and any split draws the same.
      const long double share = (long double)total * k / chunks;
      while (y < height && (long double)change[y] < share) ++y;
      plan->bounds[size_t(k)] = y;
    }
    plan->bounds[size_t(chunks)] = height;
    return true;
  } catch (const std::bad_alloc&) {
    Clear(plan);
    return false;
  }
}

}  // namespace bubbles
