#include "render_watch.h"

#include <pybind11/pybind11.h>

namespace vorn::py {

namespace {

// How often a pending signal is looked for while a frame renders.
constexpr auto kSignalCheck = std::chrono::milliseconds(20);

}  // namespace

RenderThread::RenderThread() : thread_([this] { Loop(); }) {}

RenderThread::~RenderThread() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void RenderThread::Start(std::function<void()> job) {
  std::lock_guard lock(mutex_);
  job_ = std::move(job);
  busy_ = true;
  wake_.notify_all();
}

bool RenderThread::WaitDone(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return done_.wait_for(lock, timeout, [this] { return !busy_; });
}

void RenderThread::Loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || (busy_ && job_); });
    if (stopping_) return;
    std::function<void()> job = std::move(job_);
    job_ = nullptr;
    lock.unlock();
    job();
    lock.lock();
    busy_ = false;
    done_.notify_all();
  }
}

bool RunWatched(RenderThread& thread, std::function<void()> job,
                const std::function<void()>& interrupt) {
  bool interrupted = false;
  thread.Start(std::move(job));
  while (!thread.WaitDone(kSignalCheck)) {
    if (interrupted) continue;
    int raised = 0;
    {
      pybind11::gil_scoped_acquire gil;
      raised = PyErr_CheckSignals();
    }
    if (raised != 0) {
      interrupted = true;
      interrupt();
    }
  }
  return interrupted;
}

WatchedFrame RenderWatched(RenderThread& thread, df::Operator& op, const FrameDriver& driver,
                           int frame, int workers) {
  WatchedFrame out;
  std::mutex warningsMutex;
  op.abortFlag.store(0);
  out.interrupted = RunWatched(
      thread,
      [&] {
        df::SetThreadRenderWorkers(workers);
        out.frame = driver.Render(op, frame, [&](const std::string& text) {
          std::lock_guard lock(warningsMutex);
          out.warnings.push_back(text);
        });
      },
      [&] { op.abortFlag.store(1); });
  return out;
}

}  // namespace vorn::py
