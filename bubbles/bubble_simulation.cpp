#include "bubbles/bubble_simulation.h"

#include <cmath>

#include "bubbles/bubble_burst.h"
#include "bubbles/bubble_render.h"
#include "framework/harness.h"
#include "framework/values.h"

namespace bubbles {

namespace {

constexpr uint32_t kTableSeed = 667;

// Counts the step and makes its births; false when they were cancelled.
bool StepBirths(BubbleSystem& system, const SourceLine& line) {
  system.stepCount += 1;
  return BirthBubbles(system, line);
}

}  // namespace

SourceLine SourceLineOf(const FrameParameters& p) {
  return {p.leftSourceX, p.leftSourceY, p.rightSourceX, p.rightSourceY};
}

void StepSimulation(BubbleSystem& system, float time, const SourceLine& line) {
  if (StepBirths(system, line)) UpdateBubbles(system, time);
}

bool BeginDrawnStep(BubbleSystem& system, const SourceLine& line, LiveView* live,
                    const BurstTestRun& tests) {
  if (!StepBirths(system, line)) return false;
  LiveView listed;
  if (const int count = tests ? ListLive(system) : -1; count >= 0) {
    BeginBurstTests(system);
    tests(count);
    SettleBursts(system, count);
    listed = {system.movers, count};
  } else {
    listed = DecideBursts(system);
  }
  PrepareSprites(system, listed);
  if (live) *live = listed;
  return true;
}

void BuildTables(NoiseTables& tables) {
  fw::BuildNoiseTables(kTableSeed, tables.gradients, tables.randomTable);
}

bool PrepareFrame(BubbleSystem& system, FrameRequests& requests, NoiseTables& tables,
                  const FrameParameters& params, const FrameImages& images) {
  if (requests.tablesPending == 1) {
    BuildTables(tables);
    requests.tablesPending = 0;
  }
  system.gradients = tables.gradients;
  system.randomTable = tables.randomTable;

  system.width = images.birth->width;
  system.height = images.birth->height;
  system.aspect = float(images.birth->aspect);
  LoadFrameParameters(params, system);
  system.birthImage = images.birth;
  system.burstImage = images.burst;
  system.reflectionImage = images.reflection;
  system.outputImage = images.output;
  if (!images.outputCleared) fw::ClearRows(images.output, 0, images.output->height);

  if (requests.restartRequested.load() == 1) {
    requests.restartRequested.store(0);
    ClearBubbles(system);
  }
  const SourceLine line = SourceLineOf(params);
  if (requests.prerollRequested.load() == 1) {
    const int steps = fw::TruncateToInt(double(params.prerollFrames) + 0.5);
    for (int i = 0; i < steps; ++i) {
      if (AbortRequested(system)) return false;  // the request stays for the next frame
      StepSimulation(system, float(i), line);
    }
    requests.prerollRequested.store(0);
  }
  return !AbortRequested(system);
}

}  // namespace bubbles
