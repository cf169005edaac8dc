// One render run: a tool, its inputs and settings, a list of frames, and the
// files written. Everything that can be checked is checked before anything is
// written; then frames render in increasing order on one operator while a
// writer thread encodes and writes the finished ones.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "host.h"

namespace vorn {

// --set, --preset and --comp, kept in command-line order.
struct RenderAction {
  enum class Kind { Set, Preset, Comp };
  Kind kind = Kind::Set;
  std::string text;
};

struct RenderSettings {
  std::string tool;                 // may stay empty when a --comp names the tool
  std::vector<std::string> inputs;  // "CAPTION=FILE"
  std::vector<RenderAction> actions;
  std::string frames;  // frame list; empty: `frame`, else an input sequence's frames, else 0
  std::string frame;
  std::string size;         // "WxH" for built-in images
  std::string aspect;       // pixel aspect of every input image
  std::string save;         // composition file to write
  std::string out;          // output pattern
  std::string workers;      // worker count ("" = the runtime's default)
  std::string compression;  // of the output files (\"\" = the format's default)
  std::string writers;      // writer threads ("" = one per core, at most 16)
  std::string shotStart;    // first frame of the shot ("" = the first frame asked for)
  std::string chunk;        // "K/N": render part K of N of the frame list ("" = all)
  std::string node;         // a flow's node to write with --out ("" = its Write nodes)
  // When set (absolute, links resolved), every file written and every folder
  // made must resolve inside this folder: the folder of a `vorn serve` export.
  std::string root;
  // How the files are read and written: --bit-depth, --input-colorspace
  // ("NAME" for every input or "CAPTION=NAME"), --input-layer
  // ("CAPTION=NAME") and --output-colorspace; empty: the defaults.
  std::string bitDepth;
  std::vector<std::string> inputColourSpaces;
  std::vector<std::string> inputLayers;
  std::string outputColourSpace;
  bool skipExisting = false;  // leave frames whose output file is there
  bool listOutputs = false;   // print each frame's output file, render nothing
  bool checkOutputs = false;  // print each missing output; exit 1 if there is one
  bool listFrames = false;    // print each frame this run would deliver, render nothing
  bool quiet = false;
  bool noWrite = false;    // render every frame, write no image (timing)
  bool stats = false;      // print timing figures at the end
  std::string statsTrace;  // with --stats: each chunk's times, to this file
  // For a caller on another thread: each file written adds 1 to `filesDone`;
  // a non-zero `cancel` ends the run before the next frame (finished frames
  // are still written, nothing else is).
  std::atomic<int>* filesDone = nullptr;
  const std::atomic<int>* cancel = nullptr;
};

struct RenderOutcome {
  int exitCode = kExitOk;
  std::vector<std::string> written;  // files, in frame order
};

// Runs a render and reports errors on stderr. Exit status: 0 when every frame
// was written, 1 when a frame or file failed, 2 for a request that cannot be
// met (nothing written), 128 + signal when interrupted.
RenderOutcome RunRender(Host& host, const RenderSettings& settings);

}  // namespace vorn
