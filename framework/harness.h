// The render harness every tool's Process follows: worker count, bands, size
// check, mismatch pattern and delivery.
#pragma once

#include <atomic>
#include <cstdint>

#include "framework/bands.h"
#include "framework/host.h"

namespace fw {

// Upper bound on the worker count: the runtime's.
using df::kMaxWorkers;

// "NUM_PROC_VORN" as a decimal integer: optional leading blanks and sign, then
// the digits up to the first other character; no digits give 0. Saturates at
// kMaxWorkers (and at its negative for a minus sign).
int ParseWorkerCount(const char* text);
// The worker count for a render: the calling thread's render worker count
// when the host set one, else "NUM_PROC_VORN" when set, else the application
// object's processorCount, else 1; at least 1, at most kMaxWorkers.
int DetermineWorkerCount();

// Per-render fields every tool keeps.
struct RenderFields {
  int width = 0;
  int height = 0;
  float aspect = 1.0f;
  int workerCount = 1;
  int rowsPerChunk = 0;
  int colsPerChunk = 0;
};
// Records the main image's size and aspect (and the chunk sizes for them).
void RecordImage(RenderFields& f, const df::Image& main);
// Sets workerCount, and rowsPerChunk and colsPerChunk (PerChunk) for the
// recorded size.
void SetWorkers(RenderFields& f, int workers);
// SetWorkers with DetermineWorkerCount.
void ChooseWorkers(RenderFields& f);

// The threads a pass's chunks are planned for: those the chunk count was
// chosen for (App::chunkThreads, else the pool's), at most a thread's
// render workers where a host set them; at least 1.
int ChunkThreads();

// The chunks of a pass whose chunks the tool cuts to equal work: `chunks`
// rounded up to a whole number per thread the count was chosen for, so no
// thread takes one more than another. `chunks` as it is where the user or
// the host set the count ("NUM_PROC_VORN", a thread's render workers) or
// there are no more chunks than threads.
int EqualWorkChunkCount(int chunks);

// The rows, or the columns, chunk k of the render's split covers.
inline Band RowBand(const RenderFields& f, long chunk) {
  return ChunkBand(chunk, f.workerCount, f.rowsPerChunk, f.height);
}
inline Band ColumnBand(const RenderFields& f, long chunk) {
  return ChunkBand(chunk, f.workerCount, f.colsPerChunk, f.width);
}

// An optional image disagrees when present and of another width or height.
bool SizesDisagree(const df::Image* main, const df::Image* optional);
// Rows [begin, end) of `image` (within its height) made transparent black:
// for a tool whose output the runtime made unwritten (Image::Contents), the
// rows no pass wrote.
void ClearRows(df::Image* image, int begin, int end);

// Dark grey ground with a 20-pixel red band from the top-left to the bottom-right.
void DrawMismatchPattern(df::Image* out);

inline bool Aborted(const std::atomic<int>& flag) {
  return flag.load(std::memory_order_relaxed) != 0;
}

// Last step of Process: a cancelled render releases the output and delivers
// nothing (result 0); otherwise the output is handed on.
uint32_t Deliver(df::Request* request, df::Output* output, df::Image* image,
                 const std::atomic<int>& abortFlag);

}  // namespace fw
