#include "bubbles/bubble_system.h"

#include <algorithm>
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
  if (!movers) return false;
  delete[] system.movers;
  system.movers = movers;
  system.moverCapacity = capacity;
  return true;
}

void ClearBubbles(BubbleSystem& system) {
  if (!system.liveList) return;
  Bubble* last = system.liveList;
  while (last->next) last = last->next;
  last->next = system.freeList;
  system.freeList = system.liveList;
  system.liveList = nullptr;
  system.liveCount = 0;
}

}  // namespace bubbles
