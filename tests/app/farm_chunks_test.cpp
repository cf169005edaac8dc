// The pieces of a farm render: parts of a frame list, the frames of a
// sequence on disk, and what counts as a written output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "frame_chunks.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

std::vector<size_t> Sizes(size_t size, int count) {
  std::vector<size_t> sizes;
  for (int k = 1; k <= count; ++k) {
    const IndexRange r = ChunkRange(size, {k, count});
    sizes.push_back(r.end - r.begin);
  }
  return sizes;
}

TEST(FarmChunks, PartsAreContiguousLargerFirstAndDifferByOneAtMost) {
  EXPECT_EQ(Sizes(24, 4), (std::vector<size_t>{6, 6, 6, 6}));
  EXPECT_EQ(Sizes(10, 4), (std::vector<size_t>{3, 3, 2, 2}));
  EXPECT_EQ(Sizes(1000, 64).front(), 16u);  // 1000 = 40 x 16 + 24 x 15
  EXPECT_EQ(Sizes(1000, 64)[39], 16u);
  EXPECT_EQ(Sizes(1000, 64)[40], 15u);
  EXPECT_EQ(Sizes(2, 5), (std::vector<size_t>{1, 1, 0, 0, 0}));
  EXPECT_EQ(ChunkRange(10, {3, 4}).begin, 6u);
  EXPECT_EQ(ChunkRange(10, {3, 4}).end, 8u);
  for (size_t size : {0, 1, 7, 24, 100, 997})
    for (int count : {1, 2, 3, 4, 7, 64, 1000}) {
      size_t expectedBegin = 0, smallest = size, largest = 0, previous = size + 1;
      for (int k = 1; k <= count; ++k) {
        const IndexRange r = ChunkRange(size, {k, count});
        ASSERT_EQ(r.begin, expectedBegin) << size << " " << k << "/" << count;
        ASSERT_LE(r.end - r.begin, previous) << size << " " << k << "/" << count;
        previous = r.end - r.begin;
        smallest = std::min(smallest, previous);
        largest = std::max(largest, previous);
        expectedBegin = r.end;
      }
      EXPECT_EQ(expectedBegin, size) << size << " in " << count;
      EXPECT_LE(largest - smallest, 1u) << size << " in " << count;
    }
}

TEST(FarmChunks, ChunkTexts) {
  ChunkSpec c;
  std::string error;
  ASSERT_TRUE(ParseChunk("3/8", &c, &error)) << error;
  EXPECT_EQ(c.index, 3);
  EXPECT_EQ(c.count, 8);
  ASSERT_TRUE(ParseChunk(" 1 / 1 ", &c, &error)) << error;
  EXPECT_EQ(c.index, 1);
  for (const char* bad :
       {"0/3", "4/3", "3", "/3", "3/", "a/b", "1/0", "-1/3", "1/2/3", "1.5/3", "1/99999999999"}) {
    error.clear();
    EXPECT_FALSE(ParseChunk(bad, &c, &error)) << bad;
    EXPECT_NE(error.find(bad), std::string::npos) << error;
  }
  ParseChunk("5/4", &c, &error);
  EXPECT_NE(error.find("from 1 to 4"), std::string::npos) << error;
}

class FarmFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("vorn_farm_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Touch(const std::string& name, const std::string& bytes = "x") {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  std::string In(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(FarmFiles, FramesOnDiskAreTheNamesThePatternWouldGive) {
  for (const char* name :
       {"plate.0001.exr", "plate.0003.exr", "plate.-005.exr", "plate.12345.exr", "plate.1.exr",
        "plate.0002.exr.tmp", ".plate.0004.exr.k2Fz", "plate.0007.png", "other.0008.exr"})
    Touch(name);
  // A folder under a frame's name is listed; reading it then fails by name.
  fs::create_directory(dir_ / "plate.0009.exr");
  std::vector<int> frames;
  std::string error;
  auto pattern = FramePattern::Parse(In("plate.#.exr"), &error);
  ASSERT_TRUE(pattern) << error;
  ASSERT_TRUE(FramesOnDisk(*pattern, &frames, &error)) << error;
  EXPECT_EQ(frames, (std::vector<int>{-5, 1, 3, 9, 12345}));

  // One digit field per '@', and a '-' that is a separator, not a sign.
  Touch("shot-7.png");
  Touch("shot-12.png");
  pattern = FramePattern::Parse(In("shot-@.png"), &error);
  ASSERT_TRUE(FramesOnDisk(*pattern, &frames, &error)) << error;
  EXPECT_EQ(frames, (std::vector<int>{7, 12}));

  pattern = FramePattern::Parse(In("seq.#/frame.png"), &error);
  EXPECT_FALSE(FramesOnDisk(*pattern, &frames, &error));
  EXPECT_NE(error.find("folder name"), std::string::npos) << error;
  pattern = FramePattern::Parse(In("missing/x.#.png"), &error);
  EXPECT_FALSE(FramesOnDisk(*pattern, &frames, &error));
  EXPECT_NE(error.find("cannot read the folder"), std::string::npos) << error;
}

TEST_F(FarmFiles, TheFirstSequenceInputGivesTheFrames) {
  Touch("a.0010.png");
  Touch("a.0011.png");
  Touch("b.0020.png");
  Touch("still.#.png");  // a file whose name holds a '#' is one image
  std::vector<int> frames;
  std::string error;
  EXPECT_EQ(SequenceFramesOnDisk(
                {"Matte=" + In("still.#.png"), "Input=" + In("a.#.png"), "Other=" + In("b.#.png")},
                &frames, &error),
            SequenceScan::Found)
      << error;
  EXPECT_EQ(frames, (std::vector<int>{10, 11}));
  EXPECT_EQ(SequenceFramesOnDisk({"Matte=" + In("still.#.png"), "Bad"}, &frames, &error),
            SequenceScan::NoSequence);
  EXPECT_EQ(SequenceFramesOnDisk({"Input=" + In("c.#.png")}, &frames, &error),
            SequenceScan::Failed);
  EXPECT_NE(error.find("no file of the sequence is in " + dir_.string()), std::string::npos)
      << error;
  EXPECT_NE(error.find("give --frames"), std::string::npos) << error;
}

TEST_F(FarmFiles, AnOutputIsPresentWhenItIsAFileWithBytes) {
  Touch("full.png", "PNG");
  Touch("empty.png", "");
  fs::create_directory(dir_ / "folder.png");
  fs::create_symlink(dir_ / "full.png", dir_ / "link.png");
  fs::create_symlink(dir_ / "gone.png", dir_ / "dangling.png");
  EXPECT_TRUE(OutputPresent(In("full.png")));
  EXPECT_TRUE(OutputPresent(In("link.png")));
  EXPECT_FALSE(OutputPresent(In("empty.png")));
  EXPECT_FALSE(OutputPresent(In("folder.png")));
  EXPECT_FALSE(OutputPresent(In("dangling.png")));
  EXPECT_FALSE(OutputPresent(In("none.png")));
}

}  // namespace
}  // namespace vorn
