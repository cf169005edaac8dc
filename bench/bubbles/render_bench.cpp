// Bubbles frames at 1920 × 1080: whole frames of each "Demos" preset after
// its preroll and of the default controls after 200 frames, with 1 and 2
// workers, and where a frame's time goes: sprite making, the blits of intact
// bubbles, the fragment sprays, and the simulation step around them.
#include <benchmark/benchmark.h>
#include <dfsystem/dfsystem.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "bubbles/bubble_burst.h"
#include "bubbles/bubble_render.h"
#include "bubbles/bubble_simulation.h"
#include "bubbles/bubbles_presets.h"
#include "bubbles/frame_parameters.h"
#include "framework/harness.h"

namespace bubbles {
namespace {

constexpr int kWidth = 1920, kHeight = 1080;

struct ImageDeleter {
  void operator()(df::Image* im) const {
    if (im) im->Recycle();
  }
};
using ImagePtr = std::unique_ptr<df::Image, ImageDeleter>;

// Runs the bands of a drawn step on `workers` threads, the caller's among them.
class ThreadBands {
 public:
  explicit ThreadBands(int workers) : workers_(workers) {}
  void RenderBands(BubbleSystem& system) {
    std::vector<std::thread> threads;
    for (int k = 1; k < workers_; ++k) threads.emplace_back([&, k] { Band(system, k); });
    Band(system, 0);
    for (std::thread& t : threads) t.join();
  }

 private:
  void Band(BubbleSystem& system, int k) const {
    const fw::Band band = fw::ChunkBand(k, workers_, system.height);
    DrawBand(system, band.begin, band.end);
  }
  int workers_;
};

// The gather and burst region over the middle half of the columns and the
// top 40 % of the rows; a gradient to reflect.
df::Image* RegionImage() {
  df::Image* im = df::Image::Create(kWidth, kHeight);
  for (int y = 0; y < kHeight * 2 / 5; ++y)
    for (int x = kWidth / 4; x < kWidth * 3 / 4; ++x) im->Pixel(x, y)[2] = 255;
  return im;
}
df::Image* GradientImage() {
  df::Image* im = df::Image::Create(kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      uint8_t* p = im->Pixel(x, y);
      p[0] = uint8_t(x * 255 / (kWidth - 1));
      p[1] = uint8_t(y * 255 / (kHeight - 1));
      p[2] = 90;
      p[3] = 255;
    }
  }
  return im;
}

// One operator's shot: preset n (0 for the defaults) after `preroll` silent
// steps and one drawn frame (which makes the sprites).
struct Shot {
  Shot(int preset, int preroll, int workers) : bands(workers) {
    params = PresetFrameParameters(preset);
    params.prerollFrames = float(preroll);
    system = CreateBubbleSystem(kBlockSize);
    tables = std::make_unique<NoiseTables>();
    birth.reset(df::Image::Create(kWidth, kHeight));
    output.reset(df::Image::Create(kWidth, kHeight));
    region.reset(RegionImage());
    mirror.reset(GradientImage());
    requests.prerollRequested = 1;
    Frame();
  }
  ~Shot() { DestroyBubbleSystem(system); }

  void Frame() {
    const FrameImages images{birth.get(), region.get(), mirror.get(), output.get(), time};
    if (PrepareFrame(*system, requests, *tables, params, images) &&
        BeginDrawnStep(*system, SourceLineOf(params))) {
      bands.RenderBands(*system);
      UpdateBubbles(*system, std::trunc(time));
    }
    time += 1;
  }

  FrameParameters params;
  BubbleSystem* system = nullptr;
  std::unique_ptr<NoiseTables> tables;
  FrameRequests requests;
  ImagePtr birth, output, region, mirror;
  ThreadBands bands;
  float time = 0;
};

int PrerollOf(int preset) {
  return int(PresetFrameParameters(preset).prerollFrames + 0.5f);
}

void Counters(benchmark::State& state, const Shot& shot) {
  state.counters["live"] = shot.system->liveCount;
}

// Whole frames (births, bursts, bands, update) of a preset after its preroll.
void BM_PresetFrame(benchmark::State& state) {
  const int preset = int(state.range(0)), workers = int(state.range(1));
  Shot shot(preset, PrerollOf(preset), workers);
  for (auto _ : state) shot.Frame();
  Counters(state, shot);
}
BENCHMARK(BM_PresetFrame)
    ->ArgNames({"preset", "workers"})
    ->ArgsProduct({{1, 2, 3, 4}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The default controls after 200 frames.
void BM_DefaultFrame(benchmark::State& state) {
  Shot shot(0, 199, int(state.range(0)));
  for (auto _ : state) shot.Frame();
  Counters(state, shot);
}
BENCHMARK(BM_DefaultFrame)
    ->ArgName("workers")
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The bands alone, one worker, over a frozen shot: the blits of every
// bubble (and the sprays of the bursting ones), no simulation.
void BM_BandsOnly(benchmark::State& state) {
  const int preset = int(state.range(0));
  Shot shot(preset, preset ? PrerollOf(preset) : 199, 1);
  BubbleSystem& s = *shot.system;
  for (auto _ : state) {
    for (int y = 0; y < kHeight; ++y) std::memset(s.outputImage->rows[y], 0, size_t(kWidth) * 4);
    DrawBand(s, 0, kHeight);
  }
  Counters(state, shot);
}
BENCHMARK(BM_BandsOnly)->ArgName("preset")->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

// The fragment sprays alone: every bubble of the frozen shot drawn as a burst.
void BM_SpraysOnly(benchmark::State& state) {
  Shot shot(4, PrerollOf(4), 1);
  BubbleSystem& s = *shot.system;
  std::vector<int> saved;
  for (Bubble* b = s.liveList; b; b = b->next) {
    saved.push_back(b->burst);
    b->burst = 1;
  }
  for (auto _ : state) DrawBand(s, 0, kHeight);
  Counters(state, shot);
  for (Bubble* b = s.liveList; b; b = b->next) {
    b->burst = saved.front();
    saved.erase(saved.begin());
  }
}
BENCHMARK(BM_SpraysOnly)->Unit(benchmark::kMillisecond);

// One large disc (radius 107, the largest size at 1920 wide) blitted over
// and over: the cost per covered pixel, lit (two powers per pixel), lit with
// a reflection, and flat.
void BM_BlitDisc(benchmark::State& state) {
  const int mode = int(state.range(0));  // 0 flat, 1 lit, 2 lit and reflecting
  BubbleSprite* sprite = MakeSprite(107.2f, kWidth);
  ImagePtr out(df::Image::Create(256, 256));
  ImagePtr mirror(GradientImage());
  BubbleLook look;
  look.px = look.py = 128;
  look.color[0] = 90;
  look.color[1] = 160;
  look.color[2] = 230;
  look.color[3] = 255;
  look.lightFactor = 1.0f;
  look.lightLevel = mode ? 250 : -1;
  look.lightVector[0] = -0.5f;
  look.lightVector[1] = -0.5f;
  look.lightVector[2] = 0.7071f;
  BlitShade shade;
  shade.shine = 45;
  shade.shineHighlight = 10;
  shade.minBrightness = 0.6f;
  shade.reflectionIntensity = 1.0f;
  if (mode == 2) {
    shade.reflectionRows = mirror->rows;
    shade.reflectionWidth = kWidth;
    shade.reflectionHeight = kHeight;
  }
  const BlitTarget target{out->rows, 256, 256, 0, 256};
  long pixels = 0;
  for (int y = 0; y < sprite->height; ++y) pixels += sprite->spanEnd[y] - sprite->spanBegin[y];
  for (auto _ : state) BlitBubble(target, look, *sprite, shade);
  state.counters["ns/px"] =
      benchmark::Counter(double(pixels) * state.iterations() * 1e-9,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  ReleaseSprite(sprite);
}
BENCHMARK(BM_BlitDisc)->ArgName("flat0_lit1_reflect2")->DenseRange(0, 2);

// Making the 81 sprites of one type at 1920 pixels wide (once per type, size
// step and width; the first drawn frame of a shot pays it).
void BM_SpriteMaking(benchmark::State& state) {
  const float step = float(kWidth * 0.05555555555555555 / 80);
  for (auto _ : state) {
    for (int index = 0; index < kSizeSteps; ++index) {
      BubbleSprite* s = MakeSprite(SpriteRadius(0, index, kWidth, step), kWidth);
      benchmark::DoNotOptimize(s);
      ReleaseSprite(s);
    }
  }
}
BENCHMARK(BM_SpriteMaking)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bubbles

BENCHMARK_MAIN();
