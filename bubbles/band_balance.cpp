#include "bubbles/band_balance.h"

#include <algorithm>
#include <new>

#include "bubbles/bubble_render.h"

namespace bubbles {

bool BalanceBands(const BubbleSystem& system, int chunks, std::vector<int>* bounds,
                  std::vector<int64_t>* costs) {
  bounds->clear();
  const int height = system.height;
  if (height < 1 || chunks < 1 || system.width < 1) return false;
  try {
    // costs[y] holds the change of the per-row cost at row y; summed twice
    // below into the cost of rows [0, y).
    costs->assign(size_t(height) + 1, 0);
    int64_t* change = costs->data();
    for (const Bubble* b = system.liveList; b; b = b->next) {
      const BubbleSprite* sprite =
          FindSprite(system.spriteCaches, system.params.bubbleType, b->sizeIndex, system.width);
      if (!sprite) continue;
      const int h = sprite->width / 2;
      const int px = CentreColumn(system, *b), py = CentreRow(system, *b);
      if (px + h < 0 || px - h >= system.width) continue;
      // The centre is within a few frame sizes of the image, the half-width
      // below the image's side limit: no sum here overflows an int64_t.
      const int top = std::clamp(py - h, 0, height), bottom = std::clamp(py + h + 1, 0, height);
      if (top >= bottom) continue;
      const int64_t visible = int64_t(std::min(px + h + 1, system.width)) - std::max(px - h, 0);
      change[top] += visible;
      change[bottom] -= visible;
    }
    // Prefix sums: per-row cost (one unit a row besides the bubbles), then
    // the cost of the rows above each row.
    int64_t rowCost = 0, above = 0;
    for (int y = 0; y <= height; ++y) {
      rowCost += change[y];
      const int64_t cost = rowCost + 1;
      change[y] = above;
      above += cost;
    }
    const int64_t total = change[height];
    bounds->resize(size_t(chunks) + 1);
    (*bounds)[0] = 0;
    int y = 0;
    for (int k = 1; k < chunks; ++k) {
      // The first row whose rows above hold k chunks' shares. The share is
      // taken in long double (total × k may pass 2^63 on absurd frames); a
      // rounded share only moves a boundary, and any split draws the same.
      const long double share = (long double)total * k / chunks;
      while (y < height && (long double)change[y] < share) ++y;
      (*bounds)[size_t(k)] = y;
    }
    (*bounds)[size_t(chunks)] = height;
    return true;
  } catch (const std::bad_alloc&) {
    bounds->clear();
    return false;
  }
}

}  // namespace bubbles
