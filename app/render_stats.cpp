#include "render_stats.h"

#include <algorithm>
#include <cstdio>

namespace vorn {

void PrintRenderFigures(const RenderFigures& f, int workers, int threads,
                        const ChunkStats& chunks) {
  const double render = std::chrono::duration<double>(f.renderTime).count();
  // "frames" counts the frames delivered (written, or rendered under
  // --no-write) and "sequence" their rate; "simulated" and "render" count
  // every call of Process, simulation steps not asked for included;
  // "workers" is the chunk count a pass is cut into, "threads" the pool's.
  std::printf(
      "frames %d  simulated %d  size %dx%d  workers %d  threads %d  wall %.3f s  "
      "sequence %.2f frames/s  render %.2f ms/frame (%.2f frames/s)  write %.2f ms/frame  "
      "writer threads %d\n",
      f.delivered, f.rendered, f.width, f.height, workers, threads, f.wallSeconds,
      f.wallSeconds > 0 ? f.delivered / f.wallSeconds : 0.0,
      f.rendered ? 1000.0 * render / f.rendered : 0.0, render > 0 ? f.rendered / render : 0.0,
      f.written == 0 ? 0.0 : f.writeNanos / 1e6 / double(f.written), f.writers);
  // The first frames fault in fresh memory and warm the caches; the median
  // is the steady rate of a long sequence.
  if (!f.frameMs.empty()) {
    std::vector<double> ms = f.frameMs;
    const double first = ms.front();
    std::sort(ms.begin(), ms.end());
    const size_t n = ms.size();
    const double median = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
    std::printf("render per frame: first %.2f ms  median %.2f ms  fastest %.2f ms\n", first, median,
                ms.front());
  }
  for (const std::string& line : chunks.ModelLines()) std::printf("%s\n", line.c_str());
}

}  // namespace vorn
