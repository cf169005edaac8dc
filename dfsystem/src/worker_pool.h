// The runtime's persistent worker threads, shared by every operator's
// DoMultiProcess. Jobs are served in arrival order; a chunk index is claimed
// atomically, so n may exceed the number of threads.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace df {

class WorkerPool {
 public:
  static WorkerPool& Instance();
  ~WorkerPool();

  // Runs body(k) for k = 0 .. n−1 on `threads` workers (the pool grows to that
  // size) and returns when all have finished. False when a call of body threw.
  bool Run(long n, int threads, const std::function<void(long)>& body);
  // The index of the pool thread calling, 0 up to the pool's size; −1 on
  // other threads.
  static int CurrentThread();

 private:
  struct Job {
    const std::function<void(long)>* body;
    long n;
    long next = 0;
    long finished = 0;
    bool failed = false;
  };

  void Grow(int threads);
  void WorkerLoop(int index);
  // Claims the next chunk of the front job; null when none is queued.
  Job* Claim(long& chunk);
  void Execute(Job* job, long chunk);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::deque<Job*> queue_;
  std::vector<std::thread> threads_;
  bool stopping_ = false;
};

}  // namespace df
