// Helpers for the simulation tests: a system loaded from control values, a
// render pass that records what it would draw, and test images.
#pragma once

#include <dfsystem/dfsystem.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "bubbles/bubble_simulation.h"
#include "bubbles/bubble_system.h"
#include "bubbles/frame_parameters.h"
#include "framework/random.h"

namespace bubbles::test {

// A system with one block, loaded from `params` for a width × height frame.
struct Simulation {
  explicit Simulation(int width = 720, int height = 576) {
    system = CreateBubbleSystem(kBlockSize);
    tables = std::make_unique<NoiseTables>();
    fw::BuildNoiseTables(667, tables->gradients, tables->randomTable);
    system->gradients = tables->gradients;
    system->randomTable = tables->randomTable;
    system->width = width;
    system->height = height;
    Load();
  }
  ~Simulation() { DestroyBubbleSystem(system); }
  Simulation(const Simulation&) = delete;
  Simulation& operator=(const Simulation&) = delete;

  void Load() { LoadFrameParameters(params, *system); }

  // Living bubbles, newest first.
  std::vector<const Bubble*> Live() const {
    std::vector<const Bubble*> v;
    for (const Bubble* b = system->liveList; b; b = b->next) v.push_back(b);
    return v;
  }

  FrameParameters params = DefaultFrameParameters();
  BubbleSystem* system = nullptr;
  std::unique_ptr<NoiseTables> tables;
  std::atomic<int> abort{0};
};

// A band pass that draws nothing and records, per call, the serials and
// ages of the bubbles it was given.
class RecordingRenderer {
 public:
  void RenderBands(const BubbleSystem& system) {
    passes.emplace_back();
    for (const Bubble* b = system.liveList; b; b = b->next)
      passes.back().push_back({b->serial, b->age});
  }
  struct Seen {
    uint64_t serial;
    int age;
  };
  std::vector<std::vector<Seen>> passes;
};

// A drawn step as the operator runs it, with `renderer` as its band pass.
inline void DrawnStep(BubbleSystem& system, float time, const SourceLine& line,
                      RecordingRenderer& renderer) {
  if (!BeginDrawnStep(system, line)) return;
  renderer.RenderBands(system);
  UpdateBubbles(system, time);
}

// A frame as the operator runs it: the preparation, then the drawn step.
inline void RunFrame(BubbleSystem& system, FrameRequests& requests, NoiseTables& tables,
                     const FrameParameters& params, const FrameImages& images,
                     RecordingRenderer& renderer) {
  if (PrepareFrame(system, requests, tables, params, images))
    DrawnStep(system, std::trunc(images.time), SourceLineOf(params), renderer);
}

// An image cleared to zero with byte 2 (red) of every pixel set to `red`.
inline df::Image* RedImage(int width, int height, uint8_t red) {
  df::Image* im = df::Image::Create(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) im->Pixel(x, y)[2] = red;
  return im;
}

struct ImageDeleter {
  void operator()(df::Image* im) const {
    if (im) im->Recycle();
  }
};
using ImagePtr = std::unique_ptr<df::Image, ImageDeleter>;

// The 15-bit draws that follow seeding the generator with `seed`.
inline std::vector<int> DrawsAfterSeed(uint32_t seed, int count) {
  fw::SeedRandom(seed);
  std::vector<int> v;
  for (int i = 0; i < count; ++i) v.push_back(fw::Random());
  return v;
}

// How many draws were made since seeding with `seed`: the position of the
// generator's next draw in the seeded sequence (searched up to `limit`).
inline int DrawsMadeSince(uint32_t seed, int limit) {
  const int next = fw::Random();
  const int next2 = fw::Random();
  const std::vector<int> seq = DrawsAfterSeed(seed, limit + 2);
  for (int i = 0; i < limit; ++i)
    if (seq[i] == next && seq[i + 1] == next2) return i;
  return -1;
}

}  // namespace bubbles::test
