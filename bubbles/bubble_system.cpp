#include "bubbles/bubble_system.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace bubbles {

namespace {

// A block of `size` zeroed slots chained in array order, or null.
BubbleBlock* NewBlock(int size) {
  BubbleBlock* block = new (std::nothrow) BubbleBlock;
  if (!block) return nullptr;
  block->slots = new (std::nothrow) Bubble[size_t(size)]();
  if (!block->slots) {
    delete block;
    return nullptr;
  }
  block->slotCount = size;
  for (int i = 0; i + 1 < size; ++i) block->slots[i].next = &block->slots[i + 1];
  return block;
}

// Puts a new block at the head of the pool and its slots on the free list.
bool Grow(BubbleSystem& system) {
  BubbleBlock* block = NewBlock(system.blockSize);
  if (!block) return false;
  block->next = system.blocks;
  system.blocks = block;
  system.blockCount += 1;
  block->slots[block->slotCount - 1].next = system.freeList;
  system.freeList = block->slots;
  return true;
}

}  // namespace

BubbleSystem* CreateBubbleSystem(int blockSize) {
  if (blockSize < 1) return nullptr;
  BubbleSystem* system = new (std::nothrow) BubbleSystem;
  if (!system) return nullptr;
  system->blockSize = blockSize;
  system->sizeSteps = kSizeSteps;
  if (!Grow(*system)) {
    delete system;
    return nullptr;
  }
  return system;
}

void DestroyBubbleSystem(BubbleSystem* system) {
  if (!system) return;
  for (auto& table : system->spriteCaches)
    for (BubbleSprite*& sprite : table) {
      ReleaseSprite(sprite);
      sprite = nullptr;
    }
  for (BubbleBlock* block = system->blocks; block;) {
    BubbleBlock* next = block->next;
    delete[] block->slots;
    delete block;
    block = next;
  }
  delete[] system->movers;
  delete[] system->ended;
  delete[] system->facts;
  delete[] system->drawTops;
  delete[] system->drawBottoms;
  delete system;
}

Bubble* AcquireBubble(BubbleSystem& system) {
  if (system.liveCount >= system.liveLimit) return nullptr;
  if (!system.freeList && !Grow(system)) return nullptr;
  Bubble* slot = system.freeList;
  system.freeList = slot->next;
  *slot = Bubble{};
  return slot;
}

bool ReserveMovers(BubbleSystem& system, int count) {
  if (count <= system.moverCapacity) return true;
  const int capacity = std::max(count, std::min(kMaxLiveBubbles, 2 * system.moverCapacity));
  Bubble** movers = new (std::nothrow) Bubble*[size_t(capacity)];
  uint8_t* ended = movers ? new (std::nothrow) uint8_t[size_t(capacity)] : nullptr;
  MoverFacts* facts = ended ? new (std::nothrow) MoverFacts[size_t(capacity)] : nullptr;
  int32_t* tops = facts ? new (std::nothrow) int32_t[size_t(capacity)] : nullptr;
  int32_t* bottoms = tops ? new (std::nothrow) int32_t[size_t(capacity)] : nullptr;
  if (!bottoms) {
    delete[] movers;
    delete[] ended;
    delete[] facts;
    delete[] tops;
    return false;
  }
  delete[] system.drawTops;
  system.drawTops = tops;
  delete[] system.drawBottoms;
  system.drawBottoms = bottoms;
  delete[] system.ended;
  system.ended = ended;
  delete[] system.facts;
  system.facts = facts;
  system.factCount = -1;
  if (system.movers)
    std::copy(system.movers, system.movers + std::clamp(system.moverCount, 0, system.moverCapacity),
              movers);
  delete[] system.movers;
  system.movers = movers;
  system.moverCapacity = capacity;
  return true;
}

int ListLive(BubbleSystem& system) {
  system.factCount = -1;
  const int count = system.liveCount;
  const bool kept = system.moversListLive;
  system.moversListLive = false;
  if (count < 0 || !ReserveMovers(system, count)) return -1;
  const int listed = system.moverCount, born = count - listed;
  if (kept && listed >= 0 && born >= 0) {
    Bubble* b = system.liveList;
    for (int i = 0; i < born && b; ++i) b = b->next;
    if (b == (listed > 0 ? system.movers[0] : nullptr)) {
      if (listed > 0)
        std::memmove(system.movers + born, system.movers, size_t(listed) * sizeof(Bubble*));
      b = system.liveList;
      for (int i = 0; i < born; ++i, b = b->next) system.movers[i] = b;
      system.moversListLive = true;
      return system.moverCount = count;
    }
  }
  // The whole chain: each bubble waits on the one before, most of them last
  // written by the cores that moved them.
  system.moverCount = 0;
  int n = 0;
  for (Bubble* b = system.liveList; b; b = b->next) {
    __builtin_prefetch(b->next);
    if (n == count) return -1;
    system.movers[n++] = b;
  }
  system.moversListLive = true;
  return system.moverCount = n;
}

void ClearBubbles(BubbleSystem& system) {
  system.moversListLive = false;
  system.factCount = -1;
  if (!system.liveList) return;
  Bubble* last = system.liveList;
  while (last->next) last = last->next;
  last->next = system.freeList;
  system.freeList = system.liveList;
  system.liveList = nullptr;
  system.liveCount = 0;
}

}  // namespace bubbles
