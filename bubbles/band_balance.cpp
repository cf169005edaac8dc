#include "bubbles/band_balance.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <new>

#include "bubbles/bubble_render.h"

namespace bubbles {

namespace {

// A band clears its rows before drawing into them: clearing a row costs
// about what blending 1/32 of its pixels from a sprite does (measured at
// 1920 × 1080), so a row is worth 1 + width / 32 units besides its bubbles.
constexpr int kClearedPixelsPerUnit = 32;

}  // namespace

long double BandShares(int k, int chunks, int threads) {
  if (chunks < 2) return k >= 1 ? 1.0L : 0.0L;
  const long double n = chunks, j = std::clamp(k, 0, chunks);
  const long double a = threads >= chunks ? 0.0L : 0.75L * (1 - std::max(threads, 1) / n);
  // Band i's share is (1 + a − 2a × i / (n − 1)) / n, summed over i < k.
  return ((1 + a) * j - a * j * (j - 1) / (n - 1)) / n;
}

SpriteRows SpriteRowsOf(const BubbleSystem& system) {
  SpriteRows rows;
  const double radius = std::fabs(double(system.params.burstRadius));
  for (int index = 0; index < kSizeSteps; ++index) {
    const int side = SpriteSide(
        SpriteRadius(system.params.bubbleType, index, system.width, system.params.radiusStep),
        system.width);
    rows.half[index] = side > 0 ? side / 2 : -1;
    const double reach = side > 0 ? 2.0 * side * radius + 2.0 : 0.0;
    rows.sprayReach[index] = reach < system.height ? int(reach) + 1 : system.height;  // NaN too
  }
  return rows;
}

BubbleRows RowsOf(const BubbleSystem& system, const SpriteRows& rows, const Bubble& b) {
  BubbleRows r = {INT32_MAX, -1, 0, 0, 0};
  const int width = system.width, height = system.height, index = b.sizeIndex;
  if (width < 1 || height < 1 || index < 0 || index >= kSizeSteps || rows.half[index] < 0) return r;
  const int h = rows.half[index];
  const int px = CentreColumn(system, b), py = CentreRow(system, b);
  // The centre lies within ±kFarPixel and the half side and the reach below
  // the image's side limit: none of these sums overflows.
  const int top = std::clamp(py - h, 0, height), bottom = std::clamp(py + h + 1, 0, height);
  const bool offImage = px + h < 0 || px - h >= width || top >= bottom;
  if (b.burst || b.gatherState == 2) {
    const int reach = rows.sprayReach[index];
    r.drawTop = std::clamp(py - reach, 0, height - 1);
    r.drawBottom = std::clamp(py + reach, 0, height - 1);
  } else if (!offImage) {
    r.drawTop = top;
    r.drawBottom = bottom - 1;
  }
  if (!offImage)
    r.costTop = top, r.costEnd = bottom,
    r.visible = std::min(px + h + 1, width) - std::max(px - h, 0);
  return r;
}

size_t BandPlan::Drawn() const {
  size_t n = 0;
  for (size_t i = 0; i < count; ++i) n += tops[i] <= bottoms[i];
  return n;
}

namespace {

void Clear(BandPlan* plan) {
  plan->bubbles = nullptr;
  plan->tops = plan->bottoms = nullptr;
  plan->count = 0;
  plan->listed.clear();
  plan->listedTops.clear();
  plan->listedBottoms.clear();
  plan->bounds.clear();
}

}  // namespace

bool PlanBands(const BubbleSystem& system, int chunks, int threads, BandPlan* plan, LiveView live) {
  Clear(plan);
  const int height = system.height;
  if (height < 1 || chunks < 1 || system.width < 1) return false;
  try {
    // costs[y] holds the change of the per-row cost at row y; summed twice
    // below into the cost of rows [0, y).
    plan->costs.assign(size_t(height) + 1, 0);
    int64_t* change = plan->costs.data();
    auto cost = [change](int32_t top, int32_t end, int32_t visible) {
      change[top] += visible;
      change[end] -= visible;
    };
    if (FactsHold(system, live)) {
      // The burst tests noted every bubble's rows: the bubbles themselves
      // are not loaded again.
      for (int i = 0; i < live.count; ++i) {
        const MoverFacts& f = system.facts[i];
        cost(f.costTop, f.costEnd, f.visible);
      }
      plan->bubbles = live.items;
      plan->tops = system.drawTops, plan->bottoms = system.drawBottoms;
      plan->count = size_t(live.count);
    } else {
      // Grown by doubling: a list that grows with the crowd would otherwise
      // move to fresh memory every frame, and fresh memory costs page faults.
      const size_t living = size_t(std::max(system.liveCount, 0));
      if (plan->listed.capacity() < living) {
        const size_t capacity = std::max(living, 2 * plan->listed.capacity());
        plan->listed.reserve(capacity);
        plan->listedTops.reserve(capacity);
        plan->listedBottoms.reserve(capacity);
      }
      const SpriteRows rows = SpriteRowsOf(system);
      ForEachLive(system, live, [&](const Bubble& b) {
        const BubbleRows r = RowsOf(system, rows, b);
        cost(r.costTop, r.costEnd, r.visible);
        if (r.drawTop > r.drawBottom) return;
        plan->listed.push_back(&b);
        plan->listedTops.push_back(r.drawTop);
        plan->listedBottoms.push_back(r.drawBottom);
      });
      plan->bubbles = plan->listed.data();
      plan->tops = plan->listedTops.data(), plan->bottoms = plan->listedBottoms.data();
      plan->count = plan->listed.size();
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
      const long double share = (long double)total * BandShares(k, chunks, threads);
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
