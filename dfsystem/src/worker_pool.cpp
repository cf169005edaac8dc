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

WorkerPool::Job* WorkerPool::Open() const {
  for (Job* job : queue_)
    if (job->users < job->limit && job->next.load(std::memory_order_relaxed) < job->n) return job;
  return nullptr;
}

int WorkerPool::CurrentThread() {
  return tWorkerIndex;
}

void WorkerPool::WorkerLoop(int index) {
  tWorkerIndex = index;
  std::unique_lock lock(mutex_);
  for (;;) {
    Job* job = nullptr;
    wake_.wait(lock, [&] { return stopping_ || (job = Open()) != nullptr; });
    if (stopping_) return;
    ++job->users;
    lock.unlock();
    Work(job);
    lock.lock();
    // Every chunk is claimed: the job leaves the queue. Its caller returns
    // once the last thread has left it.
    Unqueue(job);
    if (--job->users == 0) done_.notify_all();
  }
}

bool WorkerPool::Run(long n, int threads, const std::function<void(long)>& body) {
  if (n < 1) return false;
  threads = std::max(1, threads);
  Job job{&body, n, threads};
  std::unique_lock lock(mutex_);
  // The calling thread is one of the job's threads: it starts at once, and
  // with one thread nothing is woken.
  ++job.users;
  if (threads > 1 && n > 1) {
    Grow(threads - 1);
    queue_.push_back(&job);
    wake_.notify_all();
  }
  lock.unlock();
  Work(&job);
  lock.lock();
  // Claimed to the end: no thread takes the job after this, and the caller
  // waits for those still running its chunks.
  Unqueue(&job);
  --job.users;
  done_.wait(lock, [&job] { return job.users == 0; });
  return !job.failed.load(std::memory_order_relaxed);
}

}  // namespace df
