// What a flow adds to its nodes' own render times, at 1920 x 1080 with the
// real plug-ins: each iteration renders one frame of the flow through
// FlowRenderer, as `vorn serve` and `vorn render --comp` do. The counters:
//   frame_ms     the flow's frame time
//   nodes_ms     the sum of the nodes' render times in the frame
//   overhead_%   (frame time − nodes_ms) / nodes_ms: ordering, connecting,
//                the cache's digests and bookkeeping
//   cache_MiB    bytes the frame cache holds at the end (its bound: 512 MiB,
//                or 0 for the /cache:0 cases, as `vorn render` runs)
// Flows:
//   BlebCandle:  Read -> Bleb -> Merge over <- Candle
//   Bubbles:     Read -> Merge over <- Bubbles (stepped one frame an
//                iteration, after 30 warm-up steps)
// The machines are shared and noisy: run with --benchmark_repetitions=5 and
// read the medians.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "default_images.h"
#include "flow/flow_render.h"
#include "flow/merge.h"
#include "host.h"
#include "image_io.h"

namespace vorn::flow {
namespace {

constexpr int kWidth = 1920, kHeight = 1080;

// The plate every flow reads: the built-in test card written once as PNG.
const std::string& PlateFile() {
  static const std::string path = [] {
    const std::string p = (std::filesystem::temp_directory_path() /
                           ("vorn-flow-bench-" + std::to_string(getpid()) + ".png"))
                              .string();
    std::string error;
    ImageRef card = MakeTestCard(kWidth, kHeight, 1.0);
    if (!card || !WriteImage(*card, p, ImageFormat::Png, &error)) return std::string();
    return p;
  }();
  return path;
}

Host* Plugins() {
  static Host* host = [] {
    auto* h = new Host();
    PluginSearch search;
    search.folders = {FLOW_BENCH_PLUGIN_FOLDER};
    search.origin = "--plugins";
    std::string error;
    if (!h->LoadPlugins(search, true, &error)) return (Host*)nullptr;
    h->PrepareFrameMemory(kWidth, kHeight);
    return h;
  }();
  return host;
}

Node ToolNode(Host& host, const std::string& name, const std::string& tool) {
  Node node;
  node.name = name;
  std::string error;
  if (df::Registry* r = host.FindTool(tool, &error)) node.op = host.Doc().CreateOperator(r, &error);
  return node;
}

Node HostNode(const std::string& name, NodeKind kind) {
  Node node;
  node.name = name;
  node.kind = kind;
  node.read.file = PlateFile();
  return node;
}

bool BlebCandle(Host& host, Flow& flow, std::string* error) {
  Node warp = ToolNode(host, "Warp", "Bleb");
  if (!warp.op) return false;
  df::Input* amplitude = warp.op->FindInputByName("Amplitude 1");
  df::ValueState s = amplitude->State();
  s.constant[0] = 0.8;
  amplitude->RestoreState(s);
  return flow.Add(HostNode("Plate", NodeKind::Read), error) && flow.Add(std::move(warp), error) &&
         flow.Add(ToolNode(host, "Flame", "Candle"), error) &&
         flow.Add(HostNode("Over", NodeKind::Merge), error) &&
         flow.Connect("Plate", "Warp", "Input", error) &&
         flow.Connect("Warp", "Over", "B", error) && flow.Connect("Flame", "Over", "A", error);
}

bool Bubbles(Host& host, Flow& flow, std::string* error) {
  return flow.Add(HostNode("Plate", NodeKind::Read), error) &&
         flow.Add(ToolNode(host, "Bubbles", "Bubbles"), error) &&
         flow.Add(HostNode("Over", NodeKind::Merge), error) &&
         flow.Connect("Plate", "Over", "B", error) && flow.Connect("Bubbles", "Over", "A", error);
}

void RunFlow(benchmark::State& state, bool (*make)(Host&, Flow&, std::string*), int warmup) {
  Host* host = Plugins();
  if (!host || PlateFile().empty()) {
    state.SkipWithError("the plug-ins or the plate could not be had");
    return;
  }
  Flow flow;
  std::string error;
  if (!make(*host, flow, &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  flow.shot = {0, 1 << 20, 0};
  FlowRenderer renderer;
  const std::vector<int> none;
  if (!renderer.Prepare(
          flow, std::pair{kWidth, kHeight}, [&](size_t) -> const std::vector<int>& { return none; },
          {}, &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  renderer.SimulationsRestarted();  // its operators are new
  if (state.range(0) == 0) renderer.SetCacheBytes(0);
  const std::vector<bool> wanted(flow.nodes.size(), true);
  int frame = 0;
  for (; frame < warmup; ++frame)
    if (!renderer.Render(frame, wanted, &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
  auto nodesBefore = std::chrono::steady_clock::duration{};
  for (size_t i = 0; i < flow.nodes.size(); ++i) nodesBefore += renderer.RenderTime(i);
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state)
    if (!renderer.Render(frame++, wanted, &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
  auto nodes = std::chrono::steady_clock::duration{};
  for (size_t i = 0; i < flow.nodes.size(); ++i) nodes += renderer.RenderTime(i);
  const double nodesMs = std::chrono::duration<double, std::milli>(nodes - nodesBefore).count() /
                         double(state.iterations());
  const double frameMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() /
      double(state.iterations());
  state.counters["frame_ms"] = frameMs;
  state.counters["nodes_ms"] = nodesMs;
  state.counters["overhead_%"] = nodesMs > 0 ? 100.0 * (frameMs - nodesMs) / nodesMs : 0.0;
  state.counters["cache_MiB"] = double(renderer.CacheStats().bytes) / double(1 << 20);
  state.counters["cache_frames"] = double(renderer.CacheStats().frames);
}

void BM_FlowBlebCandle(benchmark::State& state) {
  RunFlow(state, BlebCandle, 0);
}
void BM_FlowBubbles(benchmark::State& state) {
  RunFlow(state, Bubbles, 30);
}

// The Merge node alone: over at full mix, in 1 or 2 row bands.
void BM_MergeOver(benchmark::State& state) {
  if (!Plugins()) {
    state.SkipWithError("the runtime could not be had");
    return;
  }
  ImageRef a = MakeTestCard(kWidth, kHeight, 1.0), b = MakeDarkBackground(kWidth, kHeight, 1.0);
  for (auto _ : state) {
    ImageRef out = MergeImages({}, a.get(), *b, int(state.range(0)));
    benchmark::DoNotOptimize(out.get());
  }
}

BENCHMARK(BM_MergeOver)
    ->ArgName("bands")
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlowBlebCandle)
    ->ArgName("cache")
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlowBubbles)
    ->ArgName("cache")
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vorn::flow

BENCHMARK_MAIN();
