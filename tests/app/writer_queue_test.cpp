#include "writer_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace vorn {
namespace {

struct Job {
  int frame = 0;
  std::unique_ptr<int> payload;  // move-only, like an image reference
};

TEST(WriterQueue, WritesEveryJobInOrderWithOneThread) {
  std::vector<int> written;
  WriterQueue<Job> queue(2, 1, [&](Job& job, std::string*) {
    written.push_back(job.frame + *job.payload);
    return true;
  });
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(queue.Push({i, std::make_unique<int>(1000)}));
  std::string error;
  EXPECT_TRUE(queue.Finish(&error));
  ASSERT_EQ(written.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(written[size_t(i)], 1000 + i);
  EXPECT_EQ(queue.Written(), 50u);
}

TEST(WriterQueue, BoundsTheJobsWaiting) {
  std::atomic<bool> release{false};
  std::atomic<int> pushed{0};
  WriterQueue<Job> queue(2, 1, [&](Job&, std::string*) {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
  });
  std::thread producer([&] {
    for (int i = 0; i < 10; ++i) {
      queue.Push({i, nullptr});
      ++pushed;
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // One job in the writer's hands, two waiting; the fourth Push blocks.
  EXPECT_LE(pushed.load(), 3);
  release = true;
  producer.join();
  EXPECT_TRUE(queue.Finish(nullptr));
  EXPECT_EQ(queue.Written(), 10u);
}

TEST(WriterQueue, FirstFailureStopsTheQueue) {
  std::atomic<int> attempts{0};
  WriterQueue<Job> queue(4, 2, [&](Job& job, std::string* why) {
    ++attempts;
    if (job.frame == 3) {
      *why = "disk full at frame 3";
      return false;
    }
    return true;
  });
  bool refused = false;
  for (int i = 0; i < 1000 && !refused; ++i) refused = !queue.Push({i, nullptr});
  std::string error;
  EXPECT_FALSE(queue.Finish(&error));
  EXPECT_EQ(error, "disk full at frame 3");
  EXPECT_TRUE(refused);
  EXPECT_TRUE(queue.Failed());
  EXPECT_LT(attempts.load(), 1000);
}

TEST(WriterQueue, SeveralThreadsWriteEverything) {
  std::atomic<int> sum{0};
  WriterQueue<Job> queue(3, 4, [&](Job& job, std::string*) {
    sum += job.frame;
    return true;
  });
  for (int i = 1; i <= 200; ++i) queue.Push({i, nullptr});
  EXPECT_TRUE(queue.Finish(nullptr));
  EXPECT_EQ(sum.load(), 200 * 201 / 2);
}

}  // namespace
}  // namespace vorn
