#include "chunk_stats.h"

#include <dfsystem/chunk_trace.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

namespace vorn {

ChunkStats::~ChunkStats() {
  if (on_) df::EnableChunkTrace(false);
  if (trace_) std::fclose(trace_);
}

bool ChunkStats::Start(const std::string& tracePath, std::string* error) {
  if (!tracePath.empty()) {
    trace_ = std::fopen(tracePath.c_str(), "w");
    if (!trace_) {
      *error = "cannot write " + tracePath + ": " + std::strerror(errno);
      return false;
    }
    tracePath_ = tracePath;
    std::fprintf(trace_,
                 "# vorn chunk trace: frame pass chunk start_ms end_ms cpu_ms thread\n"
                 "# start and end from the first pass's start; cpu_ms the processor time the\n"
                 "# chunk took (the clock's readings left out); thread the pool thread's index\n"
                 "# (-1: the thread that started the pass)\n");
  }
  df::TakeChunkTrace();  // nothing of an earlier render
  df::EnableChunkTrace(true);
  on_ = true;
  return true;
}

void ChunkStats::FrameStarted() {
  if (on_) frameCpu_ = df::ThreadCpuNow();
}

void ChunkStats::FrameDone(int frame) {
  if (!on_) return;
  // Each reading of the thread's processor time costs it ThreadCpuReadCost,
  // and a span between two readings holds one such cost. The frame's span
  // holds one of its own and two for each pass: one inside the pass's span,
  // which the pass's time leaves out, and one outside it.
  const int64_t reading = df::ThreadCpuReadCost();
  int64_t serialCpu = df::ThreadCpuNow() - frameCpu_ - reading;
  const df::ChunkTrace trace = df::TakeChunkTrace();
  FrameChunkTimes times;
  times.passes.resize(trace.passes.size());
  for (const df::PassTiming& p : trace.passes) {
    if (origin_ < 0) origin_ = p.start;
    maxChunks_ = std::max(maxChunks_, p.chunks);
    // While this thread runs a pass it wakes the workers, runs chunks and
    // waits: the pass's time is its chunks', so that is not serial work.
    if (p.caller == std::this_thread::get_id()) serialCpu -= p.callerCpu + 2 * reading;
  }
  const double serial = double(serialCpu) * 1e-9;
  for (const df::ChunkTiming& c : trace.chunks) {
    if (c.pass >= 0 && size_t(c.pass) < times.passes.size())
      times.passes[size_t(c.pass)].push_back(double(c.cpu) * 1e-9);
    if (trace_)
      std::fprintf(trace_, "%d %d %ld %.3f %.3f %.3f %d\n", frame, c.pass, c.chunk,
                   double(c.start - origin_) * 1e-6, double(c.end - origin_) * 1e-6,
                   double(c.cpu) * 1e-6, c.thread);
  }
  // What Process did outside its passes (reading controls, a simulation
  // step) runs on one thread whatever the core count.
  times.serial = std::max(0.0, serial);
  frames_.push_back(std::move(times));
}

std::vector<std::string> ChunkStats::ModelLines() const {
  std::vector<std::string> lines;
  if (maxChunks_ == 0) return lines;
  lines.push_back("modelled speed-up from the processor time of this run's chunks (" +
                  std::to_string(maxChunks_) + " chunks a pass):");
  // What each frame costs on one thread, and the part of it no core count
  // shortens: what limits the speed-up.
  double serial = 0, chunks = 0;
  size_t passes = 0;
  for (const FrameChunkTimes& f : frames_) {
    serial += f.serial;
    passes += f.passes.size();
    for (const std::vector<double>& pass : f.passes)
      for (double c : pass) chunks += c;
  }
  const double n = double(std::max<size_t>(frames_.size(), 1));
  char text[160];
  std::snprintf(text, sizeof text,
                "per frame: %.3f ms in chunks over %.1f passes, %.3f ms serial (%.1f %%)",
                1e3 * chunks / n, double(passes) / n, 1e3 * serial / n,
                chunks + serial > 0 ? 100.0 * serial / (chunks + serial) : 0.0);
  lines.push_back(text);
  for (int cores : {4, 8, 16, 32, 64}) lines.push_back(SpeedupLine(ModelSpeedup(frames_, cores)));
  return lines;
}

bool ChunkStats::Finish(std::string* error) {
  if (on_) df::EnableChunkTrace(false);
  on_ = false;
  if (!trace_) return true;
  const bool ok = std::ferror(trace_) == 0;
  const bool closed = std::fclose(trace_) == 0;
  trace_ = nullptr;
  if (ok && closed) return true;
  *error = "--stats-trace: could not write " + tracePath_;
  return false;
}

}  // namespace vorn
