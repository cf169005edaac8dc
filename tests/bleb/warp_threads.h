// A whole warp render on std::threads, one per chunk, split the way the
// host's workers split it. For tests and benchmarks; the plug-in runs the
// passes on the host's workers instead.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "bleb/warp_render.h"
#include "bleb/warp_sample.h"
#include "framework/bands.h"

namespace bleb {

struct WarpTimings {
  double mapMs = 0;     // map allocation and pass 1
  double tablesMs = 0;  // deciding on and building the tables
  double sampleMs = 0;  // pass 2 and the bottom row
};

template <class Chunk>
void RunChunks(int workers, Chunk&& chunk) {
  if (workers <= 1) {
    chunk(0);
    return;
  }
  std::vector<std::thread> threads;
  threads.reserve(workers - 1);
  for (int k = 1; k < workers; ++k) threads.emplace_back([&chunk, k] { chunk(k); });
  chunk(0);
  for (auto& t : threads) t.join();
}

struct RunOptions {
  const std::atomic<int>* abort = nullptr;
  WarpTimings* timings = nullptr;
  bool forceTables = false;     // build the tables even where no pixel reads them
  bool forceWideSums = false;   // 64-bit sums whatever the size
  WarpRender* reuse = nullptr;  // keeps the buffers for the next frame
  bool tablesInPasses = true;   // tables built by the workers, as the plug-in does
};

// Returns false when the buffers could not be allocated (output untouched).
inline bool RunWarp(const WarpParams& p, const std::uint8_t* const* src, std::uint8_t* const* dst,
                    int workers, const RunOptions& o = {}) {
  using Clock = std::chrono::steady_clock;
  auto ms = [](Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
  };
  if (!CanWarp(p.width, p.height)) {
    CopyImage(src, dst, p.width, p.height);
    return true;
  }
  if (workers < 1) workers = 1;
  WarpRender local;
  WarpRender& render = o.reuse ? *o.reuse : local;
  const auto t0 = Clock::now();
  if (!render.Prepare(p, src, o.abort)) return false;
  RunChunks(workers, [&](int k) {
    const fw::Band band = fw::ChunkBand(k, workers, p.height);
    render.MapRows(band.begin, band.end, o.abort);
  });
  const auto t1 = Clock::now();
  if (!render.PrepareSampling(o.abort, o.forceTables, o.forceWideSums, o.tablesInPasses))
    return false;
  if (render.TablesPending()) {
    RunChunks(workers, [&](int k) {
      const fw::Band band = fw::ChunkBand(k, workers, p.height);
      render.TableRows(band.begin, band.end, o.abort);
    });
    RunChunks(workers, [&](int k) {
      const fw::Band strip = fw::ChunkBand(k, workers, p.width);
      render.TableColumns(strip.begin, strip.end, workers, o.abort);
    });
  }
  const auto t2 = Clock::now();
  RunChunks(workers, [&](int k) {
    const fw::Band band = fw::ChunkBand(k, workers, p.height);
    render.SampleRows(dst, band.begin, band.end, o.abort);
  });
  render.Finish(dst);
  const auto t3 = Clock::now();
  if (o.timings) {
    o.timings->mapMs = ms(t0, t1);
    o.timings->tablesMs = ms(t1, t2);
    o.timings->sampleMs = ms(t2, t3);
  }
  return true;
}

}  // namespace bleb
