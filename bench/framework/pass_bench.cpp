// What a pass costs beside its chunks' own work: many small chunks through
// the runtime's pool, as the tools' passes run them. Reports µs per pass;
// the chunks' work (a fixed count of steps) is the same for every variant.
#include <benchmark/benchmark.h>
#include <dfsystem/app.h>
#include <dfsystem/operator.h>

#include <atomic>
#include <cstdint>

namespace {

struct Steps final : df::ThreadedOperator {
  using ThreadedOperator::ThreadedOperator;
  void ProcessChunk(df::Request*, long k) override {
    uint64_t x = uint64_t(k) + 1;
    for (int i = 0; i < steps; ++i) x = x * 6364136223846793005u + 1442695040888963407u;
    sink.fetch_add(x & 1, std::memory_order_relaxed);
  }
  int steps = 0;
  std::atomic<uint64_t> sink{0};
};

// Arguments: chunks a pass, steps a chunk (a step is a few ns).
void BM_Pass(benchmark::State& state) {
  df::App app;
  app.threadCount = 2;
  Steps op(nullptr, nullptr, nullptr);
  op.steps = int(state.range(1));
  const long chunks = long(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(op.DoMultiProcess(nullptr, chunks));
  state.counters["us/pass"] = benchmark::Counter(
      double(state.iterations()) * 1e-6, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Pass)
    ->ArgNames({"chunks", "steps"})
    ->Args({16, 100})
    ->Args({64, 100})
    ->Args({256, 100})
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
