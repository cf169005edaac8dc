// A model of how a render would scale to more cores, from the chunk times of
// one run: each pass's chunks are list-scheduled in chunk order on k threads
// (a chunk starts on the thread that comes free first), passes wait for each
// other, and the part of a frame outside its passes runs on one thread.
#pragma once

#include <string>
#include <vector>

namespace vorn {

// One frame as the model sees it.
struct FrameChunkTimes {
  double serial = 0;                        // outside the passes (seconds)
  std::vector<std::vector<double>> passes;  // each pass's chunk times, in chunk order
};

// The time from the first chunk's start to the last one's end when the
// chunks are handed, in order, to whichever of `threads` threads is free
// first (at least 1 thread).
double ListScheduleMakespan(const std::vector<double>& chunks, int threads);

// The frames' time on `threads` threads: serial parts plus each pass's makespan.
double ModelledSeconds(const std::vector<FrameChunkTimes>& frames, int threads);

struct ModelledSpeedup {
  int cores = 1;
  double speedup = 1;     // one-thread time over the time on `cores` threads
  double efficiency = 1;  // speedup ÷ cores
};
ModelledSpeedup ModelSpeedup(const std::vector<FrameChunkTimes>& frames, int cores);

// "16 cores: 14.2× (89 %)".
std::string SpeedupLine(const ModelledSpeedup& s);

}  // namespace vorn
