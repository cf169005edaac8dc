// The frame loop of a render run: frames render in increasing order on one
// operator through the frame driver while writer threads encode and write
// the finished ones. `vorn render` and `vorn serve`'s export both run it.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "chunk_stats.h"
#include "frame_driver.h"
#include "host.h"
#include "image_io.h"
#include "output_pattern.h"
#include "render_stats.h"

namespace vorn {

struct FrameRun {
  df::Operator* op = nullptr;
  const FrameDriver* driver = nullptr;
  std::vector<int> steps;   // the frames Process runs for, increasing
  std::vector<int> frames;  // those delivered: a subset of `steps`
  // Where frame f is written; null: nothing is written (--no-write).
  const FramePattern* pattern = nullptr;
  ImageFormat format = ImageFormat::Png;
  WriteOptions write;
  int writers = 1;
  // When set, each file is checked to resolve inside this folder just
  // before it is written.
  std::string root;
  bool quiet = false;
  // Each file written adds 1 to `filesDone`; a non-zero `cancel` ends the
  // run before the next frame (finished frames are still written).
  std::atomic<int>* filesDone = nullptr;
  const std::atomic<int>* cancel = nullptr;
  ChunkStats* chunks = nullptr;  // with --stats: each frame's chunks
  bool frameTimes = false;       // with --stats: each frame's render time
};

struct FrameRunResult {
  int exitCode = kExitOk;
  std::vector<std::string> written;  // files, in frame order
  RenderFigures figures;
};

// Runs the frames, reporting progress and errors on stderr. Exit status 0
// when every frame was delivered, 1 when a frame or file failed, 128 +
// signal when interrupted.
FrameRunResult RunFrames(const FrameRun& run);

}  // namespace vorn
