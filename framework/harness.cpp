#include "framework/harness.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace fw {

int ParseWorkerCount(const char* text) {
  if (!text) return 0;
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = std::min<long>(value * 10 + (*p - '0'), kMaxWorkers);
  return int(negative ? -value : value);
}

int DetermineWorkerCount() {
  int count = 0;
  if (const int workers = df::ThreadRenderWorkers(); workers > 0) {
    count = workers;
  } else if (const char* env = std::getenv("NUM_PROC_VORN")) {
    count = ParseWorkerCount(env);
  } else if (const df::App* app = df::GetApp()) {
    count = app->processorCount;
  } else {
    count = 1;
  }
  return std::clamp(count, 1, kMaxWorkers);
}

void RecordImage(RenderFields& f, const df::Image& main) {
  f.width = main.width;
  f.height = main.height;
  f.aspect = float(main.aspect);
  SetWorkers(f, f.workerCount);  // the chunk sizes follow the size, whichever is set first
}

void SetWorkers(RenderFields& f, int workers) {
  f.workerCount = workers;
  f.rowsPerChunk = PerChunk(workers, f.height);
  f.colsPerChunk = PerChunk(workers, f.width);
}

void ChooseWorkers(RenderFields& f) {
  SetWorkers(f, DetermineWorkerCount());
}

int ChunkThreads() {
  const df::App* app = df::GetApp();
  int threads = app ? (app->chunkThreads > 0 ? app->chunkThreads : app->threadCount) : 1;
  if (const int workers = df::ThreadRenderWorkers(); workers > 0)
    threads = std::min(threads, workers);
  return std::max(threads, 1);
}

int EqualWorkChunkCount(int chunks) {
  if (!df::GetApp() || df::ThreadRenderWorkers() > 0 || std::getenv("NUM_PROC_VORN")) return chunks;
  const int threads = ChunkThreads();
  if (threads < 2 || chunks <= threads) return chunks;
  const long long whole = (chunks + (long long)threads - 1) / threads * threads;
  return whole > kMaxWorkers ? chunks : int(whole);
}

bool SizesDisagree(const df::Image* main, const df::Image* optional) {
  return main && optional && (optional->width != main->width || optional->height != main->height);
}

void ClearRows(df::Image* image, int begin, int end) {
  if (!image || image->width < 1) return;
  begin = std::max(begin, 0), end = std::min(end, image->height);
  for (int y = begin; y < end; ++y) std::memset(image->rows[y], 0, size_t(image->width) * 4);
}

void DrawMismatchPattern(df::Image* out) {
  if (!out || out->width <= 0 || out->height <= 0) return;
  const float step = float(out->width) / float(out->height);
  float c = 0.0f;
  for (int y = 0; y < out->height; ++y, c += step) {
    uint8_t* row = out->rows[y];
    std::memset(row, 60, size_t(out->width) * 4);
    // c never exceeds width + step, so the truncation stays in range.
    const long t = long(c);
    const long from = std::max<long>(t - 10, 0);
    const long to = std::min<long>(t + 10, out->width);
    for (long x = from; x < to; ++x) {
      row[x * 4 + 2] = 255;
      row[x * 4 + 3] = 255;
    }
  }
}

uint32_t Deliver(df::Request* request, df::Output* output, df::Image* image,
                 const std::atomic<int>& abortFlag) {
  if (Aborted(abortFlag) || !request) {
    if (image) image->Recycle();
    return 0;
  }
  return request->SetOutputData(output, image);
}

}  // namespace fw
