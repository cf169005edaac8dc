#include "chunk_count.h"

#include <dfsystem/app.h>

#include <algorithm>
#include <cstdlib>

namespace vorn {

double EvenCostEfficiency(int extent, int chunks, int threads) {
  if (extent < 1 || chunks < 1 || threads < 1) return 0;
  const long long per = extent / chunks;  // 0: every row in the last band
  const long long t = std::min(threads, chunks);
  // The first chunks - 1 bands of `per` rows are dealt round the threads;
  // the last band starts on the first thread to come free.
  const long long before = chunks - 1;
  const long long lastStart = (before / t) * per;
  const long long lastEnd = lastStart + per + extent % chunks;
  const long long others = ((before + t - 1) / t) * per;
  const double makespan = double(std::max(lastEnd, others));
  return (double(extent) / double(t)) / makespan;
}

int ChooseChunkCount(int width, int height, int wanted, int threads) {
  wanted = std::clamp(wanted, 1, df::kMaxWorkers);
  const int lo = std::max(1, wanted * 3 / 4);
  const int hi = std::min(df::kMaxWorkers, std::max(wanted, wanted * 3 / 2));
  int best = wanted;
  double bestScore = -1;
  for (int n = lo; n <= hi; ++n) {
    const double score =
        std::min(EvenCostEfficiency(width, n, threads), EvenCostEfficiency(height, n, threads));
    // Scores within a hair are equal: the nearer count wins.
    const bool better = score > bestScore + 1e-9 ||
                        (score > bestScore - 1e-9 &&
                         (std::abs(n - wanted) < std::abs(best - wanted) ||
                          (std::abs(n - wanted) == std::abs(best - wanted) && n > best)));
    if (better) best = n, bestScore = score;
  }
  return best;
}

}  // namespace vorn
