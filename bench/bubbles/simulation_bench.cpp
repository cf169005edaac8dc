// Simulation-only steps (births and update, no render pass) at 1920 × 1080
// with each "Demos" preset after its preroll, and a dense shot; the living
// bubble count is reported beside the time per step.
#include <benchmark/benchmark.h>

#include <memory>

#include "bubbles/bubble_simulation.h"
#include "bubbles/bubbles_presets.h"
#include "bubbles/frame_parameters.h"
#include "framework/random.h"

namespace bubbles {
namespace {

constexpr int kWidth = 1920, kHeight = 1080;

// Steps after the preroll; `params` at 1920 × 1080 without images.
void RunSteps(benchmark::State& state, const FrameParameters& params) {
  auto tables = std::make_unique<NoiseTables>();
  fw::BuildNoiseTables(667, tables->gradients, tables->randomTable);
  BubbleSystem* system = CreateBubbleSystem(kBlockSize);
  system->gradients = tables->gradients;
  system->randomTable = tables->randomTable;
  system->width = kWidth;
  system->height = kHeight;
  LoadFrameParameters(params, *system);
  const SourceLine line = SourceLineOf(params);
  const int preroll = int(params.prerollFrames + 0.5f);
  for (int i = 0; i < preroll; ++i) StepSimulation(*system, float(i), line);

  float time = 0;
  for (auto _ : state) {
    StepSimulation(*system, time, line);
    time += 1;
  }
  state.counters["live"] = system->liveCount;
  state.counters["steps/s"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  DestroyBubbleSystem(system);
}

void BM_SimulationStep(benchmark::State& state) {
  RunSteps(state, PresetFrameParameters(int(state.range(0))));
}

// A dense shot: the default controls with 200 births a step, after 200
// steps (about 40,000 living bubbles).
void BM_DenseSimulationStep(benchmark::State& state) {
  FrameParameters p = DefaultFrameParameters();
  p.quantity = 200;
  p.prerollFrames = 200;
  RunSteps(state, p);
}

BENCHMARK(BM_SimulationStep)
    ->ArgName("preset")
    ->DenseRange(1, kPresetCount)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(3);
BENCHMARK(BM_DenseSimulationStep)->Unit(benchmark::kMicrosecond)->Repetitions(3);

}  // namespace
}  // namespace bubbles

BENCHMARK_MAIN();
