#include "worker_pool.h"

#include <algorithm>

namespace df {
namespace {
thread_local int tWorkerIndex = -1;
}

WorkerPool& WorkerPool::Instance() {
  static WorkerPool pool;
  return pool;
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void WorkerPool::Grow(int threads) {
  // Caller holds mutex_.
  while (int(threads_.size()) < threads) {
    const int index = int(threads_.size());
    threads_.emplace_back([this, index] { WorkerLoop(index); });
  }
}

void WorkerPool::Work(Job* job) {
  for (long chunk; (chunk = job->next.fetch_add(1, std::memory_order_relaxed)) < job->n;) {
    try {
      (*job->body)(chunk);
    } catch (...) {
      job->failed.store(true, std::memory_order_relaxed);
    }
  }
}

void WorkerPool::Unqueue(Job* job) {
  const auto at = std::find(queue_.begin(), queue_.end(), job);
  if (at != queue_.end()) queue_.erase(at);
}

int WorkerPool::CurrentThread() {
  return tWorkerIndex;
}

void WorkerPool::WorkerLoop(int index) {
  tWorkerIndex = index;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    Job* job = queue_.front();
    ++job->users;
    lock.unlock();
    Work(job);
    lock.lock();
    // Every chunk is claimed: the next thread to come free takes the next
    // job. The caller returns once the last thread has left.
    Unqueue(job);
    if (--job->users == 0) done_.notify_all();
  }
}

bool WorkerPool::Run(long n, int threads, const std::function<void(long)>& body) {
  if (n < 1) return false;
  Job job{&body, n};
  std::unique_lock lock(mutex_);
  Grow(std::max(1, threads));
  queue_.push_back(&job);
  wake_.notify_all();
  if (tWorkerIndex >= 0) {
    // A chunk that starts its own pass helps with it instead of blocking a worker.
    ++job.users;
    lock.unlock();
    Work(&job);
    lock.lock();
    Unqueue(&job);
    --job.users;
  }
  // Claimed to the end and left by all: every chunk has run. A thread that
  // takes the job from the queue does so under the lock, so none can come
  // to it after this.
  done_.wait(
      lock, [&job] { return job.users == 0 && job.next.load(std::memory_order_relaxed) >= job.n; });
  Unqueue(&job);
  return !job.failed.load(std::memory_order_relaxed);
}

}  // namespace df
