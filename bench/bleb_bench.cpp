// One Bleb frame at HD and UHD, default controls and seven active lobes, with
// one and two workers; counters split the frame into table build, map pass
// and sampling pass (milliseconds per frame).
//
// lobes: 0 default controls, 1 seven lobes at the default sharpness 4 (a
// whole power), 2 the same lobes at sharpness 4.5 (the general power), 3 a
// compressing warp (Scale 0.6, the lobes pulling inward), the one case here
// that reads the integral tables.
// steady: 1 reuses the buffers of the previous frame, as a render of a
// sequence does; 0 allocates them afresh, as a first frame does.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "tests/bleb/reference/warp_map_reference.h"
#include "tests/bleb/warp_threads.h"

namespace {

struct Frame {
  int width, height;
  std::vector<std::uint8_t> in, out;
  std::vector<std::uint8_t*> inRows, outRows;
  Frame(int w, int h)
      : width(w), height(h), in(std::size_t(w) * h * 4), out(in.size()), inRows(h), outRows(h) {
    for (int y = 0; y < h; ++y) {
      inRows[y] = in.data() + std::size_t(y) * w * 4;
      outRows[y] = out.data() + std::size_t(y) * w * 4;
      for (int x = 0; x < w; ++x)
        for (int b = 0; b < 4; ++b)
          inRows[y][4 * x + b] = static_cast<std::uint8_t>(
              127.5 + 100 * std::sin(x * 0.021 + b) * std::cos(y * 0.017 - b) +
              20 * std::sin((x * 7 + y * 3) * 0.11));
    }
  }
};

bleb::WarpControls Controls(int lobes) {
  bleb::WarpControls c = bleb::DefaultWarpControls();
  if (lobes) {
    const float amps[bleb::kLobes] = {0.5f, 0.8f, 0.3f, 1.0f, 0.6f, 0.4f, 0.7f};
    for (int n = 0; n < bleb::kLobes; ++n) {
      c.amplitude[n] = lobes == 3 ? -0.6f * amps[n] : amps[n];
      if (lobes == 2) c.sharpness[n] = 4.5f;
    }
    if (lobes == 3) c.scale = 0.6f;
  }
  return c;
}

Frame& Get(int w) {
  static Frame hd(1920, 1080), uhd(3840, 2160);
  return w == 1920 ? hd : uhd;
}

void BM_BlebFrame(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const int lobes = static_cast<int>(state.range(2));
  const int workers = static_cast<int>(state.range(3));
  const bool steady = state.range(4) != 0;
  Frame& f = Get(w);
  const bleb::WarpParams p = bleb::MakeWarpParams(Controls(lobes), w, h, 1.0f);
  double tables = 0, map = 0, sample = 0;
  bleb::WarpRender render;
  for (auto _ : state) {
    bleb::WarpTimings t;
    bleb::RunOptions o;
    o.timings = &t;
    o.reuse = steady ? &render : nullptr;
    if (!bleb::RunWarp(p, f.inRows.data(), f.outRows.data(), workers, o)) {
      state.SkipWithError("out of memory");
      break;
    }
    tables += t.tablesMs;
    map += t.mapMs;
    sample += t.sampleMs;
    benchmark::DoNotOptimize(f.out.data());
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["tables_ms"] = tables / n;
  state.counters["map_ms"] = map / n;
  state.counters["sample_ms"] = sample / n;
}

void FrameArgs(benchmark::internal::Benchmark* b) {
  for (int steady : {1, 0})
    for (auto [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}})
      for (int lobes : {0, 1, 2, 3})
        for (int workers : {1, 2}) b->Args({w, h, lobes, workers, steady});
  b->ArgNames({"w", "h", "lobes", "workers", "steady"});
}
// The machines are shared and noisy: run with --benchmark_repetitions and
// read the minimum beside the median.
double Min(const std::vector<double>& v) {
  return *std::min_element(v.begin(), v.end());
}

BENCHMARK(BM_BlebFrame)
    ->Apply(FrameArgs)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ComputeStatistics("min", Min);

// The plain scalar map pass (atan2, powf, cos, sin per pixel), one thread,
// for comparison with the map_ms counter above.
void BM_BlebScalarMap(benchmark::State& state) {
  const bleb::WarpParams p = bleb::MakeWarpParams(Controls(1), 1920, 1080, 1.0f);
  std::vector<float> mx(1920 * 1080), my(mx.size());
  for (auto _ : state) {
    bleb::MapRowsReference(p, mx.data(), my.data(), 0, 1080);
    benchmark::DoNotOptimize(mx.data());
  }
}
BENCHMARK(BM_BlebScalarMap)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ComputeStatistics("min", Min);

}  // namespace

BENCHMARK_MAIN();
