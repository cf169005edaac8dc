#include "bubbles/band_balance.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "bubbles/bubble_render.h"

namespace bubbles {

namespace {

// A band clears its rows before drawing into them: clearing a row costs
// about what blending 1/32 of its pixels from a sprite does (measured at
// 1920 × 1080), so a row is worth 1 + width / 32 units besides its bubbles.
constexpr int kClearedPixelsPerUnit = 32;

}  // namespace

long double BandShares(int k, int chunks) {
  if (chunks < 2) return k >= 1 ? 1.0L : 0.0L;
  const long double n = chunks, j = std::clamp(k, 0, chunks);
  // Band i's share is (7/4 − 3/2 × i / (n − 1)) / n, summed over i < k.
  return (1.75L * j - 0.75L * j * (j - 1) / (n - 1)) / n;
}

namespace {

void Clear(BandPlan* plan) {
  plan->bubbles.clear();
  plan->tops.clear();
  plan->bottoms.clear();
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
    if (plan->bubbles.capacity() < living) {
      const size_t capacity = std::max(living, 2 * plan->bubbles.capacity());
      plan->bubbles.reserve(capacity);
      plan->tops.reserve(capacity);
      plan->bottoms.reserve(capacity);
    }
    // costs[y] holds the change of the per-row cost at row y; summed twice
    // below into the cost of rows [0, y).
    plan->costs.assign(size_t(height) + 1, 0);
    int64_t* change = plan->costs.data();
    // Each size step's sprite half-width, -1 where none is made (such a
    // bubble draws nothing), and how far from its centre row a spray's
    // fragments can land: a sprite row dy rows from the centre throws
    // between 1 and 2 times dy × the burst radius away (2 rows spare for
    // the rounding), and no further than the frame's height.
    int halfWidth[kSizeSteps], sprayReach[kSizeSteps];
    const double radius = std::fabs(double(system.params.burstRadius));
    for (int index = 0; index < kSizeSteps; ++index) {
      const BubbleSprite* sprite =
          FindSprite(system.spriteCaches, system.params.bubbleType, index, system.width);
      halfWidth[index] = sprite ? sprite->width / 2 : -1;
      const double reach =
          sprite ? 2.0 * std::max(sprite->width / 2, sprite->height) * radius + 2.0 : 0.0;
      sprayReach[index] = reach < height ? int(reach) + 1 : height;  // NaN: the whole frame
    }
    auto add = [&](const Bubble* b, const MoverFacts& facts) {
      if (facts.sizeIndex < 0 || facts.sizeIndex >= kSizeSteps) return;
      const int h = halfWidth[facts.sizeIndex];
      if (h < 0) return;
      const int px = facts.column, py = facts.row;
      // The centre lies within ±kFarPixel and the half-width below the
      // image's side limit: none of these sums overflows.
      const int top = std::clamp(py - h, 0, height), bottom = std::clamp(py + h + 1, 0, height);
      const bool offImage = px + h < 0 || px - h >= system.width || top >= bottom;
      if (facts.sprays) {
        const int reach = sprayReach[facts.sizeIndex];
        plan->bubbles.push_back(b);
        plan->tops.push_back(std::clamp(py - reach, 0, height - 1));
        plan->bottoms.push_back(std::clamp(py + reach, 0, height - 1));
      } else if (!offImage) {
        plan->bubbles.push_back(b);
        plan->tops.push_back(top);
        plan->bottoms.push_back(bottom - 1);
      }
      if (offImage) return;
      const int64_t visible = int64_t(std::min(px + h + 1, system.width)) - std::max(px - h, 0);
      change[top] += visible;
      change[bottom] -= visible;
    };
    // From the burst tests' notes where they hold: the bubbles themselves
    // are not loaded again.
    if (FactsHold(system, live)) {
      for (int i = 0; i < live.count; ++i) add(live.items[i], system.facts[i]);
    } else {
      ForEachLive(system, live, [&](const Bubble& b) { add(&b, FactsOf(system, b)); });
    }
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
      // The first row whose rows above hold the first k chunks' shares
      // (BandShares). Taken in long double (total × k may pass 2^63 on
      // absurd frames); a rounded share only moves a boundary, and any split
      // draws the same.
      const long double share = (long double)total * BandShares(k, chunks);
      // The rows' sums are whole: below the share is below its ceiling.
      const int64_t reach = int64_t(std::min(std::ceil(share), (long double)total));
      while (y < height && change[y] < reach) ++y;
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
