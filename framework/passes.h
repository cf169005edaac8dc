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
  // the pass or a chunk failed; true when every chunk ran to its end.
  bool Run(df::ThreadedOperator& op, df::Request* request, int number, Split split,
           const RenderFields& fields);
  // Runs pass `number` over `items` things of the tool's own (not rows or
  // columns) in `chunks` chunks (fields.workerCount when below 1): chunk k
  // of n covers items [k × items ÷ n, (k + 1) × items ÷ n), so they spread
  // evenly however few they are.
  bool RunOver(df::ThreadedOperator& op, df::Request* request, int number, int items,
               const RenderFields& fields, int chunks = 0);

  // What chunk `chunk` of the current pass covers, for ProcessChunk.
  ChunkWork Chunk(long chunk) const {
    if (evenly_) {
      if (chunk < 0 || chunk >= workers_) return {pass_, {0, 0}};
      return {pass_, {int(chunk * extent_ / workers_), int((chunk + 1) * extent_ / workers_)}};
    }
    return {pass_, ChunkBand(chunk, workers_, perChunk_, extent_)};
  }
  int Current() const { return pass_; }

 private:
  int pass_ = 0;
  int workers_ = 1;
  int perChunk_ = 0;
  long long extent_ = 0;
  bool evenly_ = false;
};

}  // namespace fw
