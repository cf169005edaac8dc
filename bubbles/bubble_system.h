// The simulation state of the Bubbles tool: the bubble records, the pool they
// come from, the per-frame parameters derived from the controls, the frame's
// images and the sprite caches the renderer fills.
#pragma once

#include <atomic>
#include <cstdint>

#include "bubbles/bubble_sprite.h"
#include "framework/host.h"
#include "framework/noise.h"

namespace bubbles {

// Slots per pool block.
inline constexpr int kBlockSize = 1024;

// Upper bound on living bubbles. The sliders reach 1000 births a frame and a
// lifetime of 1000 frames, about a million bubbles; four times that (352 MiB
// of 88-byte slots) is far beyond any real shot and keeps a huge typed
// "Bubble Quantity" or "Lifetime" from exhausting memory: at the bound, the
// births of a step end as when memory runs out.
inline constexpr int kMaxLiveBubbles = 1 << 22;

// One slot of the pool.
struct Bubble {
  float x = 0, y = 0;    // fractions of the frame: column = x × width, row = y × height
  float vx = 0, vy = 0;  // the same units per step
  float red = 0, green = 0, blue = 0, density = 0;  // 0..255 scale, not clamped
  int age = 0;                                      // steps since birth
  int lifetime = 0;                                 // removed when age reaches it
  int maxAge = 0;                                   // a second limit, 5000
  int burst = 0;                                    // 1 once the renderer burst it
  int gatherState = 0;     // 0 never gathered, 1 inside the region, 2 left it
  int sizeIndex = 0;       // current size step, 0 .. sizeSteps − 1
  int baseSize = 0;        // size step at birth
  Bubble* next = nullptr;  // next bubble of liveList or freeList
  uint64_t serial = 0;     // births since the system was created, this one included
  int preTestAge = 0;      // age before this frame's burst test, for the fade
};

// The frame's rows per size step: each sprite's half side (-1 where no
// sprite is made: such a bubble draws nothing), and how far from its centre
// row a spray's fragments can land.
struct SpriteRows {
  int half[kSizeSteps];
  int sprayReach[kSizeSteps];
};

// What a drawn step's burst tests note of a listed bubble, so the afterlife
// draws, the sprites and the band plan that follow on one thread need not
// load the bubble again (most were last written by the cores that moved it):
// its size step, whether it burst by this test (its afterlife is still to be
// drawn), and what drawing it costs: its visible sprite width on each of
// rows [costTop, costEnd). Left uninitialised when allocated: only a test
// writes them, on a worker.
struct MoverFacts {
  int32_t costTop;
  int32_t costEnd;
  int32_t visible;
  int16_t sizeIndex;
  uint8_t burstNow;
};

// A pool block: an array of slots, its length, the next (older) block.
struct BubbleBlock {
  Bubble* slots = nullptr;
  int slotCount = 0;
  BubbleBlock* next = nullptr;
};

// What one step of the simulation takes from the controls, derived at the
// start of every frame (StepParametersFrom); the kernels only read it.
struct StepParameters {
  float quantity = 0, quantitySpread = 0;  // births per step: mean and spread
  float lifetime = 0, lifetimeSpread = 0;  // frames
  float maxAgeMean = 0, maxAgeSpread = 0;  // 5000 and 0
  float speedJitter = 0, angleJitter = 0;  // both 0
  float positionRadius = 0;                // fraction of the frame
  int timeToMaxSize = 1;                   // frames
  int bubbleType = 0;                      // 0 Assorted, 1 Shrinking, 2 Variable, 3 Linear
  float bubbleSize = 0;
  float sizeVariance = 0;
  float radiusStep = 0;  // pixels per size step: width / 18 / 80
  int useBirthMatte = 0;
  int burstEnabled = 0;
  float burstThreshold = 0;  // 1 − probability
  float burstQuantity = 0;
  float burstRadius = 0;
  int burstAfterlife = 0;  // frames
  int gatherEnabled = 0;
  float gatherSlowup = 0;
  float initialSpeed = 0;  // fraction of the frame per step
  float directionX = 0, directionY = 0;
  float speedVariance = 0;
  float gravity = 0;
  float gravityX = 0, gravityY = 0;
  float swirlDensity = 0;
  float swirlMagnitude = 0;
  float swirlTimeToMax = 0;  // raised to 1 at use
  float friction = 0;
  float windSpeed = 0;
  float windSourceX = 0, windSourceY = 0;
  float windDirX = 0, windDirY = 0;  // unit vector, or (0, 0)
  float windCosSpread = 0;
  float lightRed = 0, lightGreen = 0, lightBlue = 0;  // 0..255 scale
  float lightBrightness = 0;
  float lightSourceX = 0, lightSourceY = 0;
  float lightTargetX = 0, lightTargetY = 0;
  float lightZ = 0;
  float lightSpread = 0;  // degrees
  float lightGlisten = 0;
  float bubbleRed = 0, bubbleGreen = 0, bubbleBlue = 0;  // 0..255 scale
  float bubbleDensity = 0;                               // 255
  float colorVariance = 0;
  float monoVariance = 0;
  float minBrightness = 0;
  float shine = 0;
  float shineHighlight = 0;
  int reflectionsEnabled = 0;
  float reflectionIntensity = 0;
  int fadeMode = 0;  // 0 Color + Density, 1 Color, 2 Density
};

struct BubbleSystem {
  // Derived from the controls at the start of every frame (LoadFrameParameters).
  StepParameters params;

  // The current frame. The burst and reflection images may be null; all of
  // them have the birth image's size.
  df::Image* outputImage = nullptr;
  const df::Image* birthImage = nullptr;
  const df::Image* burstImage = nullptr;
  const df::Image* reflectionImage = nullptr;
  int width = 0, height = 0;
  float aspect = 1.0f;  // the birth image's

  int sizeSteps = kSizeSteps;

  // The pool: blocks of blockSize slots, newest block first; freeList and
  // liveList are chained through Bubble::next, liveList newest first.
  int blockSize = kBlockSize;
  BubbleBlock* blocks = nullptr;
  int blockCount = 0;
  Bubble* freeList = nullptr;
  Bubble* liveList = nullptr;
  int liveCount = 0;
  int liveLimit = kMaxLiveBubbles;  // AcquireBubble yields nothing at this many

  // In liveList order: from the burst decisions to the ageing of a drawn
  // step, every living bubble (LiveView); after the ageing, the bubbles the
  // step moves, so the moves can be split among threads. Owned, grown as
  // needed.
  Bubble** movers = nullptr;
  uint8_t* ended = nullptr;     // per mover: 1 when the update ended its life
  MoverFacts* facts = nullptr;  // per mover: its burst test's notes
  // Per mover: the rows [drawTops[i], drawBottoms[i]] it may draw on this
  // frame (none where drawTops[i] > drawBottoms[i]), noted by its test.
  int32_t* drawTops = nullptr;
  int32_t* drawBottoms = nullptr;
  SpriteRows spriteRows = {};  // the frame's, for the tests
  int factCount = -1;          // movers whose facts hold for this step, -1: none
  int moverCount = 0;
  int moverCapacity = 0;
  // Whether movers still lists the live list behind the births made since
  // it was listed (births go in front): the burst decisions then walk only
  // those births down the chain. Whatever else changes the list clears it.
  bool moversListLive = false;

  // One table per bubble type, one entry per size step; owned, filled by the
  // renderer on the Process thread before the bands start.
  BubbleSprite* spriteCaches[kBubbleTypes][kSizeSteps] = {};

  uint64_t stepCount = 0;   // steps since creation, the current one included
  uint64_t birthCount = 0;  // births since creation

  // Shared tables (built once by the operator) and the cancel flag (null:
  // never cancelled).
  const float* randomTable = nullptr;
  const fw::Gradient* gradients = nullptr;
  const std::atomic<int>* abortFlag = nullptr;
};

// A new, empty system with one block of `blockSize` slots, or null when
// memory runs out or blockSize is below 1.
BubbleSystem* CreateBubbleSystem(int blockSize);
// Frees the blocks, the sprites and the system; null is allowed.
void DestroyBubbleSystem(BubbleSystem* system);

// A zeroed slot from the free list, growing the pool by one block when it is
// empty. Null when liveCount has reached liveLimit or memory runs out. The
// caller links the slot into liveList.
Bubble* AcquireBubble(BubbleSystem& system);

// Ends every living bubble at once: liveList goes in front of freeList.
void ClearBubbles(BubbleSystem& system);

// Room in system.movers (and ended) for `count` bubbles, keeping the ones
// listed; false when memory runs out.
bool ReserveMovers(BubbleSystem& system, int count);

// The live list copied into system.movers, in list order: the bubbles
// copied, or -1 when they do not fit (no memory, or a list longer than
// liveCount). Where movers still lists the list behind the births made
// since (moversListLive), only those births are walked down the chain.
int ListLive(BubbleSystem& system);

// The live list copied into system.movers, in list order, by the burst
// decisions of a drawn step: the walks that follow in that step (sprites,
// band plan, ageing) then load bubbles from an array, all at once, instead
// of one after another down the chain. count -1: not copied (no memory);
// those walks follow the list.
struct LiveView {
  Bubble* const* items = nullptr;
  int count = -1;
};

// Calls f(bubble) for each living bubble in liveList order, from the view
// when it holds the list.
template <class F>
void ForEachLive(const BubbleSystem& system, LiveView live, F&& f) {
  if (live.count < 0) {
    for (Bubble* b = system.liveList; b; b = b->next) f(*b);
    return;
  }
  constexpr int kAhead = 8;  // bubbles fetched ahead of the one worked on
  for (int i = 0; i < live.count; ++i) {
    if (i + kAhead < live.count) __builtin_prefetch(live.items[i + kAhead]);
    f(*live.items[i]);
  }
}

// Whether the render has been cancelled.
inline bool AbortRequested(const BubbleSystem& system) {
  return system.abortFlag && system.abortFlag->load(std::memory_order_relaxed) != 0;
}

}  // namespace bubbles
