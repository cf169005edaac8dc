// The speed-up model against schedules worked by hand, and the chunk count
// shown while a long frame renders.
#include "chunk_model.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "progress.h"

namespace vorn {
namespace {

TEST(ChunkModel, ListSchedulesInChunkOrder) {
  // 2 threads, {3,1,1,1,2}: A takes 3 (free at 3); B takes 1, 1, 1 (free at
  // 1, 2, 3); the last chunk starts at 3 and ends at 5.
  EXPECT_DOUBLE_EQ(ListScheduleMakespan({3, 1, 1, 1, 2}, 2), 5);
  EXPECT_DOUBLE_EQ(ListScheduleMakespan({3, 1, 1, 1, 2}, 1), 8);
  EXPECT_DOUBLE_EQ(ListScheduleMakespan({3, 1, 1, 1, 2}, 8), 3);
  // In chunk order, not longest first: the heavy last chunk starts at 2 (6,
  // where longest-first would give 4).
  EXPECT_DOUBLE_EQ(ListScheduleMakespan({1, 1, 1, 1, 4}, 2), 6);
  // 3 threads, {2,2,1,3,1,1}: A 0-2, B 0-2, C 0-1, C 1-4, A 2-3, B 2-3.
  EXPECT_DOUBLE_EQ(ListScheduleMakespan({2, 2, 1, 3, 1, 1}, 3), 4);
  EXPECT_DOUBLE_EQ(ListScheduleMakespan({}, 4), 0);
  EXPECT_DOUBLE_EQ(ListScheduleMakespan({2, 2}, 0), 4);  // at least one thread
}

TEST(ChunkModel, PassesWaitForEachOtherAndTheSerialPartStaysSerial) {
  // Frame 1: 2 s serial, then passes {3,1,1,1,2} and {1,1,1,1,4}: 18 s on one
  // thread, 2 + 5 + 6 = 13 s on two, 2 + 3 + 4 = 9 s on eight.
  // Frame 2: one pass of four 1 s chunks: 4 s, 2 s, 1 s.
  const std::vector<FrameChunkTimes> frames = {
      {2.0, {{3, 1, 1, 1, 2}, {1, 1, 1, 1, 4}}},
      {0.0, {{1, 1, 1, 1}}},
  };
  EXPECT_DOUBLE_EQ(ModelledSeconds(frames, 1), 22);
  EXPECT_DOUBLE_EQ(ModelledSeconds(frames, 2), 15);
  EXPECT_DOUBLE_EQ(ModelledSeconds(frames, 8), 10);
  const ModelledSpeedup two = ModelSpeedup(frames, 2);
  EXPECT_DOUBLE_EQ(two.speedup, 22.0 / 15.0);
  EXPECT_DOUBLE_EQ(two.efficiency, 11.0 / 15.0);
  EXPECT_EQ(SpeedupLine(two), "2 cores: 1.5\u00d7 (73 %)");
  EXPECT_EQ(SpeedupLine({16, 14.2, 0.8875}), "16 cores: 14.2\u00d7 (89 %)");
  EXPECT_DOUBLE_EQ(ModelSpeedup({}, 16).speedup, 1.0);  // nothing measured
}

TEST(ChunkProgress, LongFramesShowTheirChunks) {
  EXPECT_EQ(ChunkProgressText(12, {1, 5, 16}), "frame 12: 5 of 16 chunks");
  EXPECT_EQ(ChunkProgressText(12, {2, 0, 16}), "frame 12: 0 of 16 chunks, pass 2");
  EXPECT_EQ(ChunkProgressText(3, {0, 0, 0}), "frame 3: rendering");

  std::FILE* log = std::tmpfile();
  ASSERT_NE(log, nullptr);
  std::atomic<long> done{0};
  {
    Progress progress(ProgressStyle::Lines, {7, 8}, log);
    progress.WatchChunks(
        [&] {
          return ChunkCount{1, done.load(), 4};
        },
        std::chrono::milliseconds(0));
    progress.FrameStarted(7);
    for (; done < 4; ++done) std::this_thread::sleep_for(std::chrono::milliseconds(150));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    progress.FrameRendered();
    progress.FrameDone(7);
    progress.Finish();
  }
  std::rewind(log);
  std::string text;
  for (int c; (c = std::fgetc(log)) != EOF;) text += char(c);
  std::fclose(log);
  EXPECT_NE(text.find("frame 7: "), std::string::npos) << text;
  EXPECT_NE(text.find(" of 4 chunks\n"), std::string::npos) << text;
  EXPECT_NE(text.find("frame 7 done (1 of 2"), std::string::npos) << text;
}

}  // namespace
}  // namespace vorn
