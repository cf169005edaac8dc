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

WorkerPool::Job* WorkerPool::Claim(long& chunk) {
  // Caller holds mutex_.
  while (!queue_.empty()) {
    Job* job = queue_.front();
    if (job->next < job->n) {
      chunk = job->next++;
      if (job->next == job->n) queue_.pop_front();
      return job;
    }
    queue_.pop_front();
  }
  return nullptr;
}

void WorkerPool::Execute(Job* job, long chunk) {
  bool failed = false;
  try {
    (*job->body)(chunk);
  } catch (...) {
    failed = true;
  }
  std::lock_guard lock(mutex_);
  job->failed = job->failed || failed;
  if (++job->finished == job->n) done_.notify_all();
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
    long chunk = 0;
    Job* job = Claim(chunk);
    if (!job) continue;
    lock.unlock();
    Execute(job, chunk);
    lock.lock();
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
    while (job.next < job.n) {
      const long chunk = job.next++;
      if (job.next == job.n) queue_.erase(std::find(queue_.begin(), queue_.end(), &job));
      lock.unlock();
      Execute(&job, chunk);
      lock.lock();
    }
  }
  done_.wait(lock, [&job] { return job.finished == job.n; });
  return !job.failed;
}

}  // namespace df
