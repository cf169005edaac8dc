#include "bubbles/simulation_copy.h"

#include <new>

namespace bubbles {

bool CopySimulation(const BubbleSystem& system, const FrameRequests& requests,
                    fw::RandomState random, SimulationCopy* out) {
  try {
    out->live.clear();
    out->live.reserve(size_t(system.liveCount));
    for (const Bubble* b = system.liveList; b; b = b->next) {
      out->live.push_back(*b);
      out->live.back().next = nullptr;
    }
  } catch (const std::bad_alloc&) {
    out->live = {};
    return false;
  }
  out->stepCount = system.stepCount;
  out->birthCount = system.birthCount;
  out->restartRequested = requests.restartRequested.load();
  out->prerollRequested = requests.prerollRequested.load();
  out->tablesPending = requests.tablesPending;
  out->random = random;
  return true;
}

bool RestoreFromCopy(const SimulationCopy& copy, BubbleSystem& system, FrameRequests& requests,
                     NoiseTables& tables) {
  if (copy.tablesPending == 0 && requests.tablesPending == 1) {
    // The tables are the same whenever they are built; the draws that build
    // them here must not move the generator the copy holds.
    fw::RandomState scratch;
    fw::RandomScope scope(scratch);
    BuildTables(tables);
  }
  requests.tablesPending = copy.tablesPending;
  ClearBubbles(system);
  // The list is rebuilt from its tail, each bubble pushed at the head.
  for (auto b = copy.live.rbegin(); b != copy.live.rend(); ++b) {
    Bubble* slot = AcquireBubble(system);
    if (!slot) return false;
    *slot = *b;
    slot->next = system.liveList;
    system.liveList = slot;
    system.liveCount += 1;
  }
  system.stepCount = copy.stepCount;
  system.birthCount = copy.birthCount;
  requests.restartRequested.store(copy.restartRequested);
  requests.prerollRequested.store(copy.prerollRequested);
  return true;
}

}  // namespace bubbles
