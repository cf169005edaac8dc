// Whole frames through the runtime, as `vorn render --no-write` makes them:
// the real plug-in library loaded by the runtime's loader, an operator made
// in a document, controls set through their inputs, the tool's built-in image
// on its required input, and one request per frame (Process, then the
// delivered image taken and released). Each tool case runs at 1920 x 1080 and
// 3840 x 2160 with 1 and 2 workers; Bleb's cases also run the warp kernel
// alone with the same controls, buffers reused (the kernel's steady figure).
//
// Stepped tools (Bubbles) start from a fresh operator at frame 0 and are
// measured only after their warm-up frames, one step per iteration.
//
// The machines are shared and noisy: run with --benchmark_repetitions=5 (or
// more) and --benchmark_enable_random_interleaving=true, and read the median
// and the minimum (scripts/bench-e2e.sh does).
#include <benchmark/benchmark.h>
#include <dfsystem/dfsystem.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "default_images.h"

#if defined(E2E_HAVE_BLEB)
#include "tests/bleb/warp_threads.h"
#endif

namespace {

// Off with --default-allocator, to measure what keeping the blocks saves.
bool gKeepFreedBlocks = true;

struct ToolCase {
  const char* label;
  const char* library;
  const char* className;
  // Caption and value; a value with a comma is a point.
  std::vector<std::pair<std::string, std::string>> controls;
  int warmupFrames = 0;  // stepped tools: frames run before timing starts
};

// The seven lobes of the kernel benchmark, and a warp that compresses the
// image everywhere (Scale 0.6, every lobe pulling inward), the case that
// reads the integral tables.
constexpr float kLobeAmplitudes[7] = {0.5f, 0.8f, 0.3f, 1.0f, 0.6f, 0.4f, 0.7f};

std::vector<std::pair<std::string, std::string>> BlebLobes(bool compress) {
  std::vector<std::pair<std::string, std::string>> c;
  for (int n = 0; n < 7; ++n)
    c.push_back({"Amplitude " + std::to_string(n + 1),
                 std::to_string(compress ? -0.6f * kLobeAmplitudes[n] : kLobeAmplitudes[n])});
  if (compress) c.push_back({"Scale", "0.6"});
  return c;
}

std::vector<ToolCase> Cases() {
  std::vector<ToolCase> cases;
#if defined(E2E_BLEB_PLUGIN)
  cases.push_back({"Bleb7Lobes", E2E_BLEB_PLUGIN, "BlebPlugIn", BlebLobes(false)});
  cases.push_back({"BlebCompress", E2E_BLEB_PLUGIN, "BlebPlugIn", BlebLobes(true)});
#endif
#if defined(E2E_CANDLE_PLUGIN)
  cases.push_back({"Candle", E2E_CANDLE_PLUGIN, "CandlePlugIn", {}});
#endif
#if defined(E2E_BUBBLES_PLUGIN)
  // The first demonstration preset, measured once its first 120 steps have
  // filled the frame.
  cases.push_back({"Bubbles", E2E_BUBBLES_PLUGIN, "BubblesPlugIn", {{"Demos", "1"}}, 120});
#endif
  return cases;
}

// The runtime objects a vorn run holds, in its order: the application
// object, the loader, then the document (destroyed before the libraries).
struct Runtime {
  df::App app;
  df::PluginLoader loader;
  df::CPipelineDoc doc;
  std::map<std::tuple<std::string, int, int>, vorn::ImageRef> images;

  // As vorn sets its memory up: freed blocks kept, and once a reserve on
  // huge pages for the largest frames measured.
  Runtime() {
    if (!gKeepFreedBlocks) return;
    df::KeepFreedBlocks();
    static const bool reserved = df::ReserveHeapOnHugePages(size_t(80) * 3840 * 2160);
    (void)reserved;
  }

  df::Registry* Tool(const ToolCase& c, std::string* error) {
    if (!loader.Load(c.library, error)) return nullptr;
    df::Registry* r = df::ClassRegistry->FindByClassName(c.className);
    if (!r) *error = std::string("no class ") + c.className + " in " + c.library;
    return r;
  }
  // The built-in image, made once per tool and size.
  df::Image* Image(const std::string& className, int w, int h) {
    vorn::ImageRef& ref = images[{className, w, h}];
    if (!ref) ref = vorn::MakeDefaultImage(className, w, h, 1.0);
    return ref.get();
  }
};

Runtime& TheRuntime() {
  static Runtime runtime;
  return runtime;
}

bool SetControl(df::Operator& op, const std::string& caption, const std::string& value) {
  df::Input* input = op.FindInputByName(caption);
  if (!input) return false;
  const std::size_t comma = value.find(',');
  if (comma != std::string::npos) {
    df::Point p(std::strtof(value.c_str(), nullptr),
                std::strtof(value.c_str() + comma + 1, nullptr));
    return input->SetValue(&p, 0, 0) != 0;
  }
  df::Number n(std::strtod(value.c_str(), nullptr));
  return input->SetValue(&n, 0, 1) != 0;
}

// One frame the way vorn render makes it; false when nothing was delivered.
bool RenderFrame(df::Operator& op, df::Input* input, df::Image* image, df::Output* output,
                 int frame) {
  df::Request request(&op, frame);
  request.SetInputImage(input, image);
  op.Process(&request);
  df::Parameter* value = request.TakeOutputData(output);
  if (!value) return false;
  value->Recycle();
  return true;
}

void SetWorkers(int workers) {
  setenv("NUM_PROC_VORN", std::to_string(workers).c_str(), 1);
  TheRuntime().app.processorCount = workers;
  TheRuntime().app.threadCount = workers;
}

void BM_Vorn(benchmark::State& state, const ToolCase& c) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  SetWorkers(static_cast<int>(state.range(2)));
  Runtime& rt = TheRuntime();
  std::string error;
  df::Registry* registry = rt.Tool(c, &error);
  df::OperatorPtr op = registry ? rt.doc.CreateOperator(registry, &error) : nullptr;
  if (!op) {
    state.SkipWithError(error.c_str());
    return;
  }
  for (const auto& [caption, value] : c.controls)
    if (!SetControl(*op, caption, value)) {
      state.SkipWithError(("cannot set " + caption).c_str());
      return;
    }
  df::Input* input = nullptr;
  for (const auto& in : op->Inputs())
    if (in->ValueType() == df::kTypeImage && in->Required() && !input) input = in.get();
  df::Image* image = rt.Image(c.className, w, h);
  df::Output* output = op->Outputs().empty() ? nullptr : op->Outputs()[0].get();
  if (!input || !image || !output) {
    state.SkipWithError("no image input, image or output");
    return;
  }
  int frame = 0;
  for (; frame < c.warmupFrames; ++frame) RenderFrame(*op, input, image, output, frame);
  for (auto _ : state)
    if (!RenderFrame(*op, input, image, output, frame++)) {
      state.SkipWithError("no image delivered");
      break;
    }
}

#if defined(E2E_HAVE_BLEB)
// The warp kernel alone on the same image and controls, buffers kept from
// frame to frame: the figure the end-to-end time is held against.
void BM_BlebKernel(benchmark::State& state, bool compress) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const int workers = static_cast<int>(state.range(2));
  bleb::WarpControls controls = bleb::DefaultWarpControls();
  for (int n = 0; n < bleb::kLobes; ++n)
    controls.amplitude[n] = compress ? -0.6f * kLobeAmplitudes[n] : kLobeAmplitudes[n];
  if (compress) controls.scale = 0.6f;
  const bleb::WarpParams p = bleb::MakeWarpParams(controls, w, h, 1.0f);
  df::Image* in = TheRuntime().Image("BlebPlugIn", w, h);
  vorn::ImageRef out(df::Image::Create(w, h));
  if (!in || !out) {
    state.SkipWithError("out of memory");
    return;
  }
  bleb::WarpRender render;
  bleb::RunOptions o;
  o.reuse = &render;
  for (auto _ : state)
    if (!bleb::RunWarp(p, in->rows, out->rows, workers, o)) {
      state.SkipWithError("out of memory");
      break;
    }
}
#endif

double Min(const std::vector<double>& v) {
  double m = v.empty() ? 0 : v[0];
  for (double x : v) m = x < m ? x : m;
  return m;
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (auto [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}})
    for (int workers : {1, 2}) b->Args({w, h, workers});
  b->ArgNames({"w", "h", "workers"});
  b->Unit(benchmark::kMillisecond)->UseRealTime()->ComputeStatistics("min", Min);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == "--default-allocator") {
      gKeepFreedBlocks = false;
      for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
      --argc;
      break;
    }
  static const std::vector<ToolCase> cases = Cases();
  for (const ToolCase& c : cases)
    benchmark::RegisterBenchmark((std::string("Vorn/") + c.label).c_str(), BM_Vorn, c)
        ->Apply(Sizes);
#if defined(E2E_HAVE_BLEB)
  benchmark::RegisterBenchmark("Kernel/Bleb7Lobes", BM_BlebKernel, false)->Apply(Sizes);
  benchmark::RegisterBenchmark("Kernel/BlebCompress", BM_BlebKernel, true)->Apply(Sizes);
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
