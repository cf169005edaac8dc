// A bounded queue with writer threads: the render loop hands finished frames
// over and goes on with the next frame while earlier ones are encoded and
// written. Push blocks while the queue is full, so memory stays bounded when
// writing is the slower side. The first failed write stops the queue: later
// jobs are dropped and Push reports it, so the render loop can stop too.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vorn {

template <class Job>
class WriterQueue {
 public:
  // `write` runs on a writer thread; it returns false with a reason to fail.
  using WriteFn = std::function<bool(Job&, std::string*)>;

  WriterQueue(size_t capacity, size_t threads, WriteFn write)
      : capacity_(capacity < 1 ? 1 : capacity), write_(std::move(write)) {
    if (threads < 1) threads = 1;
    for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Run(); });
  }

  ~WriterQueue() { Finish(nullptr); }

  WriterQueue(const WriterQueue&) = delete;
  WriterQueue& operator=(const WriterQueue&) = delete;

  // Queues a job, waiting for room. False (the job dropped) once a write failed.
  bool Push(Job job) {
    std::unique_lock lock(mutex_);
    roomFree_.wait(lock, [&] { return jobs_.size() < capacity_ || failed_; });
    if (failed_) return false;
    jobs_.push_back(std::move(job));
    jobAdded_.notify_one();
    return true;
  }

  // Drops the jobs not yet started; those being written finish.
  void DropPending() {
    std::lock_guard lock(mutex_);
    jobs_.clear();
    roomFree_.notify_all();
  }

  // Writes what is queued, stops the threads and reports the first failure.
  // Safe to call more than once.
  bool Finish(std::string* error) {
    {
      std::lock_guard lock(mutex_);
      closing_ = true;
    }
    jobAdded_.notify_all();
    for (std::thread& t : threads_)
      if (t.joinable()) t.join();
    std::lock_guard lock(mutex_);
    if (failed_ && error != nullptr) *error = error_;
    return !failed_;
  }

  bool Failed() const {
    std::lock_guard lock(mutex_);
    return failed_;
  }
  size_t Written() const {
    std::lock_guard lock(mutex_);
    return written_;
  }

 private:
  void Run() {
    while (true) {
      Job job;
      {
        std::unique_lock lock(mutex_);
        jobAdded_.wait(lock, [&] { return !jobs_.empty() || closing_ || failed_; });
        if (failed_ || jobs_.empty()) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
        roomFree_.notify_one();
      }
      std::string why;
      const bool ok = write_(job, &why);
      std::lock_guard lock(mutex_);
      if (ok) {
        ++written_;
      } else if (!failed_) {
        failed_ = true;
        error_ = why;
        jobs_.clear();
        roomFree_.notify_all();
        jobAdded_.notify_all();
      }
    }
  }

  const size_t capacity_;
  WriteFn write_;
  mutable std::mutex mutex_;
  std::condition_variable roomFree_;
  std::condition_variable jobAdded_;
  std::deque<Job> jobs_;
  std::vector<std::thread> threads_;
  bool closing_ = false;
  bool failed_ = false;
  size_t written_ = 0;
  std::string error_;
};

}  // namespace vorn
