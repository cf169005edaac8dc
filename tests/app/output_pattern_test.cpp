#include "output_pattern.h"

#include <gtest/gtest.h>

namespace vorn {
namespace {

std::string Format(const std::string& pattern, int frame) {
  std::string error;
  auto p = FramePattern::Parse(pattern, &error);
  EXPECT_TRUE(p) << pattern << ": " << error;
  return p ? p->Format(frame) : "";
}

TEST(FramePattern, PaddingStyles) {
  EXPECT_EQ(Format("out.#.png", 7), "out.0007.png");
  EXPECT_EQ(Format("out.####.png", 7), "out.0007.png");
  EXPECT_EQ(Format("out.##.png", 7), "out.07.png");
  EXPECT_EQ(Format("out.@.png", 7), "out.7.png");
  EXPECT_EQ(Format("out.@@@.png", 7), "out.007.png");
  EXPECT_EQ(Format("out.%04d.png", 7), "out.0007.png");
  EXPECT_EQ(Format("out.%d.png", 7), "out.7.png");
  EXPECT_EQ(Format("out.%06d.exr", 123), "out.000123.exr");
  // Padding is a minimum width: longer numbers are not cut.
  EXPECT_EQ(Format("out.#.png", 123456), "out.123456.png");
}

TEST(FramePattern, NegativeFramesFollowPrintf) {
  EXPECT_EQ(Format("f.#.png", -5), "f.-005.png");
  EXPECT_EQ(Format("f.%04d.png", -5), "f.-005.png");
  EXPECT_EQ(Format("f.@.png", -5), "f.-5.png");
}

TEST(FramePattern, LiteralsAndSeveralFields) {
  EXPECT_EQ(Format("100%%_#.png", 1), "100%_0001.png");
  EXPECT_EQ(Format("shot_@@/frame.#.png", 3), "shot_03/frame.0003.png");
  std::string error;
  auto plain = FramePattern::Parse("still.png", &error);
  ASSERT_TRUE(plain);
  EXPECT_FALSE(plain->HasFrame());
  EXPECT_EQ(plain->Format(42), "still.png");
  EXPECT_TRUE(FramePattern::Parse("a.#.png", &error)->HasFrame());
}

TEST(FramePattern, RefusesUnsupportedSequences) {
  std::string error;
  for (const char* bad :
       {"a.%s.png", "a.%4d.png", "a.%", "a.%0", "a.%017d.png", "a.@@@@@@@@@@@@@@@@@.png"}) {
    EXPECT_FALSE(FramePattern::Parse(bad, &error)) << bad;
    EXPECT_NE(error.find(bad), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace vorn
