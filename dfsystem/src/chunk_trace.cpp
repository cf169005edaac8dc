#include "dfsystem/chunk_trace.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

#include "worker_pool.h"

namespace df {
namespace {

std::atomic<bool> gTracing{false};
std::mutex gTraceMutex;
ChunkTrace gTrace;  // guarded by gTraceMutex
int gNextPass = 0;  // guarded by gTraceMutex

std::atomic<int> gPasses{0};
std::atomic<long> gDone{0};
std::atomic<long> gTotal{0};

}  // namespace

void EnableChunkTrace(bool on) {
  if (on) ThreadCpuReadCost();  // measured before anything is timed
  gTracing.store(on);
}

bool ChunkTraceEnabled() {
  return gTracing.load(std::memory_order_relaxed);
}

ChunkTrace TakeChunkTrace() {
  std::lock_guard lock(gTraceMutex);
  ChunkTrace taken = std::move(gTrace);
  gTrace = {};
  // Room for as much as was taken: the passes of the next frame record
  // without growing the lists, which would count in the time they measure.
  gTrace.passes.reserve(taken.passes.size());
  gTrace.chunks.reserve(taken.chunks.size());
  gNextPass = 0;
  return taken;
}

int64_t TraceNow() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t ThreadCpuNow() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

int64_t ThreadCpuReadCost() {
  static const int64_t cost = [] {
    int64_t least = -1;
    for (int i = 0; i < 32; ++i) {
      const int64_t first = ThreadCpuNow(), second = ThreadCpuNow();
      if (least < 0 || second - first < least) least = second - first;
    }
    return std::max<int64_t>(least, 0);
  }();
  return cost;
}

ChunkProgress CurrentChunkProgress() {
  return {gPasses.load(std::memory_order_relaxed), gDone.load(std::memory_order_relaxed),
          gTotal.load(std::memory_order_relaxed)};
}

void ResetChunkProgress() {
  gPasses.store(0, std::memory_order_relaxed);
  gDone.store(0, std::memory_order_relaxed);
  gTotal.store(0, std::memory_order_relaxed);
}

PassRecorder::PassRecorder(long chunks, bool counted)
    : tracing_(ChunkTraceEnabled()), counted_(counted) {
  if (counted_) {
    gDone.store(0, std::memory_order_relaxed);
    gTotal.store(chunks, std::memory_order_relaxed);
    gPasses.fetch_add(1, std::memory_order_relaxed);
  }
  if (!tracing_) return;
  // The caller's time runs from before the recording's own work to after
  // it: what the recorder costs is not counted as the frame's serial work.
  callerStart_ = ThreadCpuNow();
  pass_.chunks = chunks;
  // A chunk that failed keeps its end of 0 and is left out of the trace.
  chunks_.assign(size_t(chunks), ChunkTiming{0, 0, 0, 0, 0, 0});
  pass_.caller = std::this_thread::get_id();
  pass_.start = TraceNow();
}

PassRecorder::~PassRecorder() {
  if (!tracing_) return;
  pass_.end = TraceNow();
  std::lock_guard lock(gTraceMutex);
  pass_.pass = gNextPass++;
  for (ChunkTiming& c : chunks_) {
    if (c.end == 0) continue;
    c.pass = pass_.pass;
    gTrace.chunks.push_back(c);
  }
  pass_.callerCpu = std::max<int64_t>(0, ThreadCpuNow() - callerStart_ - ThreadCpuReadCost());
  gTrace.passes.push_back(pass_);
}

void PassRecorder::ChunkDone(long k, Stamp start) {
  if (counted_) gDone.fetch_add(1, std::memory_order_relaxed);
  if (!tracing_) return;
  // Each chunk index is claimed once, so its slot has one writer; the pool's
  // completion wait orders these writes before the destructor reads them.
  const int64_t cpu = std::max<int64_t>(0, ThreadCpuNow() - start.cpu - ThreadCpuReadCost());
  chunks_[size_t(k)] = {0, k, start.wall, TraceNow(), cpu, WorkerPool::CurrentThread()};
}

}  // namespace df
