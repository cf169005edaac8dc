// The chunk count the host chooses: bands that split the frame evenly near
// the wanted count. Expected values are worked out by hand from the band
// rule (extent / N rows a band, the leftover in the last).
#include "chunk_count.h"

#include <gtest/gtest.h>

namespace vorn {
namespace {

TEST(ChunkCount, EfficiencyOfEvenAndUnevenBands) {
  // 1080 rows in 64 chunks on 16 threads: 63 bands of 16, the last of 72
  // starts at 48 (after three rounds) and ends at 120; ideal 67.5.
  EXPECT_DOUBLE_EQ(EvenCostEfficiency(1080, 64, 16), 67.5 / 120);
  // 60 bands of 18: four rounds, the last with 12 of 16 threads busy.
  EXPECT_DOUBLE_EQ(EvenCostEfficiency(1080, 60, 16), 67.5 / 72);
  EXPECT_DOUBLE_EQ(EvenCostEfficiency(2160, 80, 16), 1.0);
  // Fewer chunks than threads: one round, the last band longest.
  EXPECT_DOUBLE_EQ(EvenCostEfficiency(10, 3, 8), (10.0 / 3) / 4);
  // More chunks than rows: every row in the last band.
  EXPECT_DOUBLE_EQ(EvenCostEfficiency(5, 8, 4), (5.0 / 4) / 5);
  EXPECT_EQ(EvenCostEfficiency(0, 8, 4), 0);
}

TEST(ChunkCount, ChoosesCountsThatSplitBothSidesEvenly) {
  // 60 divides 1920 and 1080; no count from 48 to 96 that is a multiple
  // of 16 does.
  EXPECT_EQ(ChooseChunkCount(1920, 1080, 64, 16), 60);
  // 80 divides 3840 and 2160 in five whole rounds of 16.
  EXPECT_EQ(ChooseChunkCount(3840, 2160, 64, 16), 80);
  // Already even: the wanted count stays.
  EXPECT_EQ(ChooseChunkCount(1920, 1080, 8, 2), 8);
  // Always within the bounds, whatever is asked.
  for (int wanted : {1, 2, 7, 4096, 100000}) {
    const int n = ChooseChunkCount(203, 117, wanted, 3);
    EXPECT_GE(n, 1);
    EXPECT_LE(n, 4096);
  }
}

}  // namespace
}  // namespace vorn
