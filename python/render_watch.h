// Rendering frames without holding Python's lock, cancelled by Ctrl+C. An
// operator's frames all render on one thread of its own, so that state the
// tools keep per thread carries from frame to frame as in `vorn render`'s
// single loop. The calling thread waits, waking every few milliseconds to let
// Python run its signal handlers; when one raises (KeyboardInterrupt), the
// operator's abort flag stops the render and the exception stays set for
// the caller to raise.
#pragma once

#include <dfsystem/dfsystem.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame_driver.h"

namespace vorn::py {

// A thread that runs one job at a time.
class RenderThread {
 public:
  RenderThread();
  ~RenderThread();
  RenderThread(const RenderThread&) = delete;
  RenderThread& operator=(const RenderThread&) = delete;

  // Starts `job`; the previous one must have finished.
  void Start(std::function<void()> job);
  // True once the job started last has finished; waits at most `timeout`.
  bool WaitDone(std::chrono::milliseconds timeout);

 private:
  void Loop();

  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::function<void()> job_;
  bool busy_ = false, stopping_ = false;
  std::thread thread_;  // last: starts once the rest is made
};

// Runs `job` on `thread` and waits for it, called with the GIL released:
// every few milliseconds the GIL is taken back to let Python run its signal
// handlers; when one raises (KeyboardInterrupt), `interrupt` is called once
// and the exception stays set. True when that happened.
bool RunWatched(RenderThread& thread, std::function<void()> job,
                const std::function<void()>& interrupt);

struct WatchedFrame {
  RenderedFrame frame;
  bool interrupted = false;  // a Python exception is set: raise it
  std::vector<std::string> warnings;
};

// Renders frame `frame` of `op` through `driver` on `thread` with `workers`
// chunks (0: the host's rule, "NUM_PROC_VORN" or the processors). Called with
// the GIL released (it is taken back briefly to check for signals).
WatchedFrame RenderWatched(RenderThread& thread, df::Operator& op, const FrameDriver& driver,
                           int frame, int workers);

}  // namespace vorn::py
