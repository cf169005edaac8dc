#include "frame_list.h"

#include <gtest/gtest.h>

namespace vorn {
namespace {

std::vector<int> Frames(const std::string& text) {
  std::vector<int> frames;
  std::string error;
  EXPECT_TRUE(ParseFrameList(text, &frames, &error)) << text << ": " << error;
  return frames;
}

std::string Error(const std::string& text) {
  std::vector<int> frames;
  std::string error;
  EXPECT_FALSE(ParseFrameList(text, &frames, &error)) << text;
  return error;
}

TEST(FrameList, RangesStepsAndLists) {
  EXPECT_EQ(Frames("7"), (std::vector<int>{7}));
  EXPECT_EQ(Frames("1-5"), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(Frames("1-10x3"), (std::vector<int>{1, 4, 7, 10}));
  EXPECT_EQ(Frames("1-10X4"), (std::vector<int>{1, 5, 9}));
  EXPECT_EQ(Frames("1,5,10-12"), (std::vector<int>{1, 5, 10, 11, 12}));
  EXPECT_EQ(Frames(" 3 , 1 "), (std::vector<int>{1, 3}));
  EXPECT_EQ(Frames("5-5"), (std::vector<int>{5}));
  // A step beyond the span names the first frame only.
  EXPECT_EQ(Frames("0-3x99999999999"), (std::vector<int>{0}));
}

TEST(FrameList, NegativeFrames) {
  EXPECT_EQ(Frames("-3"), (std::vector<int>{-3}));
  EXPECT_EQ(Frames("-3--1"), (std::vector<int>{-3, -2, -1}));
  EXPECT_EQ(Frames("-2-1"), (std::vector<int>{-2, -1, 0, 1}));
  EXPECT_EQ(Frames("-10--4x3"), (std::vector<int>{-10, -7, -4}));
  EXPECT_EQ(Frames("-2147483648"), (std::vector<int>{INT32_MIN}));
}

TEST(FrameList, SortedWithoutDuplicates) {
  // Frames render in increasing order on one operator, whatever the list says.
  EXPECT_EQ(Frames("10,1-3,2,-1"), (std::vector<int>{-1, 1, 2, 3, 10}));
}

TEST(FrameList, RefusesMalformedLists) {
  EXPECT_NE(Error("").find("empty"), std::string::npos);
  EXPECT_NE(Error("1,,2").find("empty item"), std::string::npos);
  EXPECT_NE(Error("1,").find("empty item"), std::string::npos);
  EXPECT_NE(Error("5-1").find("backwards"), std::string::npos);
  EXPECT_NE(Error("1-10x0").find("at least 1"), std::string::npos);
  EXPECT_NE(Error("1-10x-2").find("step"), std::string::npos);
  EXPECT_NE(Error("1-").find("end frame"), std::string::npos);
  EXPECT_NE(Error("1-10x").find("step"), std::string::npos);
  for (const char* bad : {"a", "1.5", "1-2-3", "--1", "+1", "1 2", "0x10", "1e3"})
    EXPECT_NE(Error(bad).find('"'), std::string::npos) << bad;
}

TEST(FrameList, RefusesOverflowAndHugeLists) {
  EXPECT_NE(Error("2147483648").find("between"), std::string::npos);
  EXPECT_NE(Error("-99999999999999999999").find("between"), std::string::npos);
  EXPECT_NE(Error("1-2000000000").find("more than"), std::string::npos);
  EXPECT_NE(Error("1-600000,700000-1300000").find("more than"), std::string::npos);
  EXPECT_EQ(Frames("1-2000000000x2000").size(), 1000000u);
}

TEST(FrameList, CompactForm) {
  EXPECT_EQ(FormatFrameList({1, 2, 3, 4, 10}), "1-4,10");
  EXPECT_EQ(FormatFrameList({1, 3, 5, 7}), "1-7x2");
  EXPECT_EQ(FormatFrameList({-3, -2, -1}), "-3--1");
  EXPECT_EQ(FormatFrameList({5, 6}), "5,6");
  EXPECT_EQ(FormatFrameList({}), "");
}

}  // namespace
}  // namespace vorn
