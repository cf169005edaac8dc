// A copy of the simulation between frames: the living bubbles in their list
// order, the step and birth counters, the requests for the next frame and the
// generator state. Restoring it into any system of the tool makes the next
// frame the same as in the system it was taken from: what the renderer caches
// (sprites) and what every frame derives again (parameters, images) is not
// part of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bubbles/bubble_simulation.h"
#include "bubbles/bubble_system.h"
#include "framework/random.h"

namespace bubbles {

struct SimulationCopy {
  std::vector<Bubble> live;  // liveList from its head; `next` is not used
  uint64_t stepCount = 0;
  uint64_t birthCount = 0;
  int restartRequested = 0;
  int prerollRequested = 0;
  int tablesPending = 1;
  fw::RandomState random;

  std::size_t Bytes() const { return sizeof(*this) + live.capacity() * sizeof(Bubble); }
};

// The copy of `system` with its requests and generator state. False when
// memory runs out.
bool CopySimulation(const BubbleSystem& system, const FrameRequests& requests,
                    fw::RandomState random, SimulationCopy* out);

// Puts `copy` into `system` and `requests`: the living bubbles are replaced,
// the pool keeps its blocks. Builds the tables when the copy was taken after
// they were built and `requests` still has them pending. False when memory
// runs out: the system is then in no state to go on from.
bool RestoreFromCopy(const SimulationCopy& copy, BubbleSystem& system, FrameRequests& requests,
                     NoiseTables& tables);

}  // namespace bubbles
