// One Candle frame as the operator renders it, the host left out: the frame
// geometry, the column strips on `workers` threads (W div n columns each, the
// last to the edge; they write every pixel of the flame buffer), then the
// composite over the background in bands of rows on as many threads. Buffers are reused, as a
// sequence's frames find them warm.
//
// preset: 0 the defaults, 1–5 the "Demos" items (Still Flame, Turb1-Soft,
// Turb2-Wiggly, Turb3-Wild, Turb4-Fluffy). Counters, ms per frame: columns
// (the strips, wall time), composite, and each strip's own time (left,
// right) for the balance; strips_cpu_ms, the CPU time of all strips
// together, and critical_cpu_ms, the CPU time of the slowest strip plus the
// slowest composite band: the frame time when every worker has a core of its own. The CPU
// figures are steadier than wall time on a busy machine. BM_CandleReference runs the
// straightforward evaluation over the same strips for comparison.
//
// The machine is shared and noisy: run with --benchmark_repetitions=7 and
// read the minimum and the median.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "candle/flame_colour.h"
#include "candle/flame_columns.h"
#include "tests/candle/flame_reference.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// CPU time of the calling thread, ms: what a strip costs whatever else runs.
double ThreadCpuMs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

struct Image {
  int width, height;
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint8_t*> rows;
  Image(int w, int h) : width(w), height(h), bytes(std::size_t(w) * h * 4), rows(h) {
    for (int y = 0; y < h; ++y) rows[y] = bytes.data() + std::size_t(y) * w * 4;
  }
};

candle::ControlCache Preset(int preset) {
  candle::ControlCache k = candle::DefaultCache();
  const float turb[6][3] = {{40, 30, 70}, {0, 0, 0},    {16, 54, 38},
                            {68, 59, 60}, {68, 36, 80}, {8, 36, 80}};
  k.turbulence = turb[preset][0], k.frequency1 = turb[preset][1], k.frequency2 = turb[preset][2];
  if (preset == 1) {  // the narrow outline of "Still Flame"
    k.bottomLeft = {0.361f, 0.913f}, k.topLeft = {0.361f, 0.132f};
    k.bottomRight = {0.638f, 0.913f}, k.topRight = {0.638f, 0.132f};
    k.curvePoint1 = {0.454f, 0.957f}, k.curvePoint2 = {0.546f, 0.87f};
  }
  return k;
}

struct Scene {
  Image background, flame, output;
  std::vector<fw::Gradient> gradients = std::vector<fw::Gradient>(fw::kGradientCount);
  Scene(int w, int h) : background(w, h), flame(w, h), output(w, h) {
    for (std::size_t i = 0; i < background.bytes.size(); ++i)
      background.bytes[i] = std::uint8_t(i * 7 / 5);
    candle::SeedGradients(2000, gradients.data());
  }
};

Scene& Get(int w) {
  static Scene hd(1920, 1080), uhd(3840, 2160);
  return w == 1920 ? hd : uhd;
}

template <class Kernel>
void RunFrame(benchmark::State& state, Kernel kernel) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const int preset = int(state.range(2)), workers = int(state.range(3));
  Scene& s = Get(w);
  const candle::ControlCache cache = Preset(preset);
  double columns = 0, composite = 0, left = 0, right = 0, cpu = 0, critical = 0;
  float time = 1.0f;
  for (auto _ : state) {
    const candle::FlameFrame frame = candle::BuildFrame(cache, w, h, 1.0f, time, false);
    const candle::FlameChunkContext ctx = candle::MakeChunkContext(frame, s.gradients.data());
    const auto t0 = Clock::now();
    std::vector<double> strip(workers), strip_cpu(workers);
    std::vector<std::thread> threads;
    const int per = w / workers;
    for (int k = 0; k < workers; ++k)
      threads.emplace_back([&, k] {
        const auto a = Clock::now();
        const double c = ThreadCpuMs();
        kernel(ctx, k * per, k == workers - 1 ? w : (k + 1) * per, s.flame.rows.data());
        strip[k] = Ms(a, Clock::now());
        strip_cpu[k] = ThreadCpuMs() - c;
      });
    for (auto& t : threads) t.join();
    const auto t1 = Clock::now();
    // The composite in bands of rows on the same workers.
    std::vector<double> band_cpu(workers);
    threads.clear();
    for (int k = 0; k < workers; ++k)
      threads.emplace_back([&, k] {
        const double c = ThreadCpuMs();
        candle::CompositeFlame(frame, s.flame.rows.data(), s.background.rows.data(), nullptr,
                               s.output.rows.data(), k * h / workers, (k + 1) * h / workers);
        band_cpu[k] = ThreadCpuMs() - c;
      });
    for (auto& t : threads) t.join();
    const auto t2 = Clock::now();
    const double compositeCpu = *std::max_element(band_cpu.begin(), band_cpu.end());
    columns += Ms(t0, t1);
    composite += Ms(t1, t2);
    left += strip.front();
    right += strip.back();
    for (double c : strip_cpu) cpu += c;
    critical += *std::max_element(strip_cpu.begin(), strip_cpu.end()) + compositeCpu;
    benchmark::DoNotOptimize(s.output.bytes.data());
    time += 0.04f;  // flicker and convection move on, as in a sequence
  }
  const double n = double(state.iterations());
  state.counters["columns_ms"] = columns / n;
  state.counters["composite_ms"] = composite / n;
  state.counters["left_strip_ms"] = left / n;
  state.counters["right_strip_ms"] = right / n;
  state.counters["strips_cpu_ms"] = cpu / n;
  state.counters["critical_cpu_ms"] = critical / n;
}

void BM_CandleFrame(benchmark::State& state) {
  RunFrame(state, [](const candle::FlameChunkContext& c, int b, int e, std::uint8_t* const* rows) {
    candle::RenderFlameColumns(c, b, e, rows, nullptr);
  });
}

void BM_CandleReference(benchmark::State& state) {
  RunFrame(state, [](const candle::FlameChunkContext& c, int b, int e, std::uint8_t* const* rows) {
    candle::ReferenceFlameColumns(c, b, e, rows);
  });
}

// Not a timing: how the shipped kernel's flame buffer compares with the
// straightforward evaluation at 1920 x 1080 for a preset, as counters: the
// share of pixels with identical bytes (per cent) and the largest difference
// of one byte.
void BM_CandleAgreement(benchmark::State& state) {
  const int w = 1920, h = 1080;
  Scene& s = Get(w);
  const candle::FlameFrame frame =
      candle::BuildFrame(Preset(int(state.range(0))), w, h, 1.0f, 2.5f, false);
  const candle::FlameChunkContext ctx = candle::MakeChunkContext(frame, s.gradients.data());
  Image fast(w, h), slow(w, h);
  for (auto _ : state) {
    candle::RenderFlameColumns(ctx, 0, w, fast.rows.data(), nullptr);
    candle::ReferenceFlameColumns(ctx, 0, w, slow.rows.data());
  }
  long same = 0;
  int largest = 0;
  for (std::size_t p = 0; p < fast.bytes.size(); p += 4) {
    bool equal = true;
    for (int k = 0; k < 4; ++k) {
      const int d = std::abs(int(fast.bytes[p + k]) - int(slow.bytes[p + k]));
      largest = std::max(largest, d);
      equal = equal && d == 0;
    }
    same += equal;
  }
  state.counters["identical_pct"] = 100.0 * double(same) / (double(w) * h);
  state.counters["largest_diff"] = largest;
}
BENCHMARK(BM_CandleAgreement)->DenseRange(0, 5)->Iterations(1)->Unit(benchmark::kMillisecond);

void Sizes(benchmark::internal::Benchmark* b) {
  for (int workers : {1, 2})
    for (int preset = 0; preset <= 5; ++preset) {
      b->Args({1920, 1080, preset, workers});
      b->Args({3840, 2160, preset, workers});
    }
  // More strips than cores even out the load of the default wind.
  b->Args({1920, 1080, 0, 4});
  b->Args({1920, 1080, 0, 8});
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_CandleFrame)->Apply(Sizes);
BENCHMARK(BM_CandleReference)
    ->Args({1920, 1080, 0, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
