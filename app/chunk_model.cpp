#include "chunk_model.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <queue>

namespace vorn {

double ListScheduleMakespan(const std::vector<double>& chunks, int threads) {
  // Times at which the threads come free, earliest on top.
  std::priority_queue<double, std::vector<double>, std::greater<double>> free;
  for (int t = 0; t < std::max(1, threads) && size_t(t) < chunks.size(); ++t) free.push(0.0);
  double makespan = 0;
  for (double c : chunks) {
    const double end = free.top() + std::max(0.0, c);
    free.pop();
    free.push(end);
    makespan = std::max(makespan, end);
  }
  return makespan;
}

double ModelledSeconds(const std::vector<FrameChunkTimes>& frames, int threads) {
  double total = 0;
  for (const FrameChunkTimes& f : frames) {
    total += std::max(0.0, f.serial);
    for (const std::vector<double>& pass : f.passes) total += ListScheduleMakespan(pass, threads);
  }
  return total;
}

ModelledSpeedup ModelSpeedup(const std::vector<FrameChunkTimes>& frames, int cores) {
  ModelledSpeedup s;
  s.cores = std::max(1, cores);
  const double one = ModelledSeconds(frames, 1), many = ModelledSeconds(frames, s.cores);
  s.speedup = many > 0 ? one / many : 1.0;
  s.efficiency = s.speedup / s.cores;
  return s;
}

std::string SpeedupLine(const ModelledSpeedup& s) {
  char text[64];
  std::snprintf(text, sizeof text, "%d cores: %.1f\u00d7 (%.0f %%)", s.cores, s.speedup,
                100.0 * s.efficiency);
  return text;
}

}  // namespace vorn
