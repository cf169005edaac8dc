// The timing figures of `vorn render --stats`: what the frame loop measured,
// printed on stdout when the run ends.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "chunk_stats.h"

namespace vorn {

struct RenderFigures {
  int delivered = 0;          // frames written, or rendered under --no-write
  int rendered = 0;           // calls of Process, simulation steps not asked for included
  int width = 0, height = 0;  // of the first frame delivered
  double wallSeconds = 0.0;
  std::chrono::steady_clock::duration renderTime{};
  std::vector<double> frameMs;  // each frame's render
  long long writeNanos = 0;     // writing, summed over the files written
  int written = 0;
  int writers = 0;  // writer threads; 0 when nothing was written
};

// Prints the figures, the per-frame render times and the chunk model's
// lines. `workers` is the chunk count a pass is cut into, `threads` the
// pool's.
void PrintRenderFigures(const RenderFigures& figures, int workers, int threads,
                        const ChunkStats& chunks);

}  // namespace vorn
