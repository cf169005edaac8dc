// A `vorn render` request once checked: the operator with its values, the
// frames asked for and those Process runs for, the bound inputs and the
// output files. Everything that can be checked is checked before anything
// is written. Each function reports its error on stderr and returns false.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frame_driver.h"
#include "image_io.h"
#include "output_pattern.h"
#include "render.h"

namespace vorn {

struct RenderJob {
  df::OperatorPtr op;
  std::string className, toolName;
  std::vector<int> allFrames;                // the whole list asked for, increasing
  std::vector<int> frames;                   // this chunk of them, less the frames skipped
  std::vector<int> chunkFrames, firstFrame;  // this chunk; the list's first frame
  size_t skipped = 0;                        // frames left because their output is there
  std::string chunkNote;
  std::vector<int> steps;  // rendered, increasing; `frames` is a subset
  bool stepped = false;
  int shotStart = 0;                    // a stepped tool's first step
  InputChoices inputs;                  // --input and how the files are read, --size, --aspect
  std::optional<FramePattern> pattern;  // --out, unless --no-write
  ImageFormat format = ImageFormat::Png;
  WriteOptions write;
  int writers = 1;
  FrameDriver driver;
};

// render_request.cpp: the tool, the numbers, the frames and the outputs, the
// inputs, then (render_values.cpp) --set, --preset and --comp. A check of the
// outputs stops after the frames and the pattern.
bool CheckRenderRequest(Host& host, const RenderSettings& s, RenderJob* job);

// --workers N: the chunk count the tools read ("NUM_PROC_VORN") and a cap on
// the pool's threads. False with the reason when N is not a count from 1 to
// kMaxWorkers.
bool ApplyWorkerCount(Host& host, const std::string& workers, std::string* error);

// The frames Process runs for. A tool whose frames depend on every frame
// simulated before is stepped through every frame from `shotStart` to the
// last frame asked for, so that a frame is the same whatever else is asked
// for; other tools render the frames asked for alone.
bool PlanSteps(bool stepped, int shotStart, const std::string& toolName,
               const std::vector<int>& frames, std::vector<int>* steps, std::string* error);

// render_outputs.cpp: the output files on disk.
// Leaves the frames whose output is there already (and the steps after the
// last frame left to render).
void SkipExisting(RenderJob& job);
// Prints the output file of every frame that is missing or not whole, one
// per line on stdout; exit status 1 when there is one.
int ReportMissingOutputs(const RenderJob& job, bool quiet);
// No file is written twice or over an input of the same run: `save` (may be
// empty) and a frame of `pattern`, or a frame over an image it is made from.
bool CheckOverwrites(const FrameDriver& driver, const std::vector<int>& steps,
                     const FramePattern* pattern, const std::vector<int>& frames,
                     const std::string& save, std::string* error);

// render_values.cpp: control values and saved compositions.
// Applies --set, --preset and --comp in command-line order, before the
// first frame rendered.
bool ApplyActions(Host& host, const RenderSettings& s, RenderJob& job);
// Writes the operator's saved record to `path` (--save), with the shot's
// first frame (of a stepped tool) and the size and aspect of the built-in
// images, so that `render --comp` of it renders the same frames.
bool SaveComposition(Host& host, RenderJob& job, const std::string& path);

}  // namespace vorn
