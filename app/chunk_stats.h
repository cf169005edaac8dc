// The chunk figures of `vorn render --stats`: the runtime records every
// chunk's start, end and thread; this keeps them per frame, writes them to a
// trace file when asked and models the speed-up on more cores.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "chunk_model.h"

namespace vorn {

class ChunkStats {
 public:
  ChunkStats() = default;
  ~ChunkStats();
  ChunkStats(const ChunkStats&) = delete;
  ChunkStats& operator=(const ChunkStats&) = delete;

  // Turns the runtime's recording on; with a trace path, opens that file
  // (false with the reason when it cannot be written).
  bool Start(const std::string& tracePath, std::string* error);
  // Around one call of Process, on its thread: takes what the runtime
  // recorded, and the processor time of Process outside its passes (what
  // the thread spends starting and waiting for its passes is left out).
  void FrameStarted();
  void FrameDone(int frame);
  // The model's lines: "16 cores: 14.2× (89 %)" for 4 to 64 cores, after a
  // line naming the chunks per pass; nothing when no pass ran.
  std::vector<std::string> ModelLines() const;
  // Closes the trace file; false with the reason when it could not be written.
  bool Finish(std::string* error);

 private:
  bool on_ = false;
  std::FILE* trace_ = nullptr;
  std::string tracePath_;
  long long origin_ = -1;   // the first pass's start, ns
  long long frameCpu_ = 0;  // the Process thread's processor time at its start
  long maxChunks_ = 0;
  std::vector<FrameChunkTimes> frames_;
};

}  // namespace vorn
