// The runtime's persistent worker threads, shared by every operator's
// DoMultiProcess. The thread that starts a job works on it as one of its
// threads, the pool's threads join in arrival order; a chunk index is
// claimed by an atomic count, without the lock, so n may exceed the number
// of threads and many small chunks cost little.
#pragma once

#include <atomic>
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

  // Runs body(k) for k = 0 .. n−1 on `threads` threads, the calling one and
  // up to threads − 1 of the pool's (which grows to that size), and returns
  // when all have finished. False when a call of body threw.
  bool Run(long n, int threads, const std::function<void(long)>& body);
  // The index of the pool thread calling, 0 up to the pool's size; −1 on
  // other threads (those that started a job).
  static int CurrentThread();

 private:
  // Chunks are claimed without the lock (`next`); the lock guards the queue
  // and the count of threads working on a job, which the caller waits on.
  struct Job {
    const std::function<void(long)>* body;
    long n;
    int limit;  // threads that may work on it at once
    std::atomic<long> next{0};
    std::atomic<bool> failed{false};
    int users = 0;  // threads that took the job and have not left it
  };

  void Grow(int threads);
  void WorkerLoop(int index);
  // Runs chunks of `job` until every one is claimed.
  static void Work(Job* job);
  // Caller holds mutex_: `job` leaves the queue if it is still there.
  void Unqueue(Job* job);
  // Caller holds mutex_: the first queued job with chunks to claim and room
  // for another thread; null when there is none.
  Job* Open() const;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::deque<Job*> queue_;
  std::vector<std::thread> threads_;
  bool stopping_ = false;
};

}  // namespace df
