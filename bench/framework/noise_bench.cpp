// Gradient noise as the flame evaluates it: one column at a time, a run of
// rows upward, at a fixed depth per frame. Reports ns per sample.
#include <benchmark/benchmark.h>

#include <vector>

#include "framework/noise.h"

namespace {

void BM_GradientNoiseUpOneColumn(benchmark::State& state) {
  std::vector<fw::Gradient> g(fw::kGradientCount);
  std::vector<float> table(fw::kRandomTableSize);
  fw::BuildNoiseTables(2000, g.data(), table.data());
  const int rows = int(state.range(0));
  const float scale = 0.013f, z = 3.7f;
  int column = 0;
  float sink = 0;
  for (auto _ : state) {
    const float x = float(column++ % 1920) * scale;
    for (int y = rows - 1; y >= 0; --y) sink += fw::GradientNoise(g.data(), x, float(y) * scale, z);
    benchmark::DoNotOptimize(sink);
  }
  state.SetItemsProcessed(state.iterations() * rows);
  state.counters["ns/sample"] =
      benchmark::Counter(double(state.iterations()) * rows,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_GradientNoiseUpOneColumn)->Arg(1080);

}  // namespace

BENCHMARK_MAIN();
