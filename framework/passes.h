// Threaded render passes: a numbered pass runs over bands of rows or strips
// of columns through DoMultiProcess, and each chunk learns which pass and
// which band it serves.
#pragma once

#include "framework/harness.h"
#include "framework/host.h"

namespace fw {

enum class Split { kRows, kColumns };

struct ChunkWork {
  int pass;  // 0 when no pass is running
  Band band;
};

class RenderPasses {
 public:
  // Runs pass `number` (≥ 1): chunk k of fields.workerCount covers band k of
  // the rows (RowBand) or columns (ColumnBand). Returns false without running when
  // the render is already cancelled, and false when it was cancelled during
  // the pass; true when every chunk ran to its end.
  bool Run(df::ThreadedOperator& op, df::Request* request, int number, Split split,
           const RenderFields& fields);

  // What chunk `chunk` of the current pass covers, for ProcessChunk.
  ChunkWork Chunk(long chunk) const {
    return {pass_, ChunkBand(chunk, workers_, perChunk_, extent_)};
  }
  int Current() const { return pass_; }

 private:
  int pass_ = 0;
  int workers_ = 1;
  int perChunk_ = 0;
  int extent_ = 0;
};

}  // namespace fw
