#include "bmp.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace vorn {
namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// A bitmap file with the given header values and `pixels` as its pixel data.
std::vector<uint8_t> MakeBmp(int32_t width, int32_t height, uint16_t bits,
                             const std::vector<uint8_t>& pixels, uint32_t compression = 0) {
  std::vector<uint8_t> b(54, 0);
  b[0] = 'B', b[1] = 'M';
  Put32(b, 2, uint32_t(54 + pixels.size()));
  Put32(b, 10, 54);
  Put32(b, 14, 40);
  Put32(b, 18, uint32_t(width));
  Put32(b, 22, uint32_t(height));
  b[26] = 1;
  b[28] = uint8_t(bits);
  Put32(b, 30, compression);
  for (uint8_t v : pixels) b.push_back(v);
  return b;
}

TEST(DecodeBmp, BottomUpRowsBecomeTopDown) {
  // Bottom row first in the file: (1,2,3,4) (5,6,7,8), then the top row.
  const std::vector<uint8_t> px = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  Bitmap bmp;
  std::string error;
  ASSERT_TRUE(DecodeBmp(MakeBmp(2, 2, 32, px).data(), 54 + px.size(), &bmp, &error)) << error;
  EXPECT_EQ(bmp.width, 2);
  EXPECT_EQ(bmp.height, 2);
  const std::vector<uint8_t> top_first = {9, 10, 11, 12, 13, 14, 15, 16, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(bmp.bgra, top_first);
  // Negative height: rows already top-down.
  ASSERT_TRUE(DecodeBmp(MakeBmp(2, -2, 32, px).data(), 54 + px.size(), &bmp, &error));
  EXPECT_EQ(bmp.bgra, px);
}

TEST(DecodeBmp, TwentyFourBitRowsArePaddedAndOpaque) {
  // One pixel per row, rows padded to 4 bytes.
  const std::vector<uint8_t> px = {10, 20, 30, 0, 40, 50, 60, 0};
  Bitmap bmp;
  std::string error;
  ASSERT_TRUE(DecodeBmp(MakeBmp(1, 2, 24, px).data(), 54 + px.size(), &bmp, &error)) << error;
  EXPECT_EQ(bmp.bgra, (std::vector<uint8_t>{40, 50, 60, 255, 10, 20, 30, 255}));
}

TEST(DecodeBmp, ZeroAlphaMeansOpaque) {
  const std::vector<uint8_t> px = {1, 2, 3, 0};
  Bitmap bmp;
  std::string error;
  ASSERT_TRUE(DecodeBmp(MakeBmp(1, 1, 32, px).data(), 58, &bmp, &error));
  EXPECT_EQ(bmp.bgra[3], 255);
}

TEST(DecodeBmp, RefusesHostileHeaders) {
  const std::vector<uint8_t> px(16, 0);
  std::string error;
  Bitmap bmp;
  struct Case {
    std::vector<uint8_t> bytes;
    const char* why;
  };
  std::vector<Case> cases = {
      {MakeBmp(2, 2, 32, {1, 2, 3}), "runs past the end"},
      {MakeBmp(0, 2, 32, px), "not usable"},
      {MakeBmp(2, INT32_MIN, 32, px), "not usable"},
      {MakeBmp(100000, 1, 32, px), "not usable"},
      {MakeBmp(2, 2, 8, px), "bits per pixel"},
      {MakeBmp(2, 2, 32, px, 1), "compressed"},
      {MakeBmp(2, 2, 32, px, 3), "bit-field"},
      {{'B', 'M', 0, 0}, "not a bitmap"},
      {std::vector<uint8_t>(60, 0), "not a bitmap"},
  };
  Put32(cases.back().bytes, 0, 0);
  std::vector<uint8_t> lying = MakeBmp(2, 2, 32, px);
  Put32(lying, 10, 0xFFFFFFF0u);  // pixel offset far beyond the file
  cases.push_back({lying, "runs past the end"});
  std::vector<uint8_t> bigInfo = MakeBmp(2, 2, 32, px);
  Put32(bigInfo, 14, 0x7FFFFFFF);
  cases.push_back({bigInfo, "does not fit"});
  for (const Case& c : cases) {
    EXPECT_FALSE(DecodeBmp(c.bytes.data(), c.bytes.size(), &bmp, &error)) << c.why;
    EXPECT_NE(error.find(c.why), std::string::npos) << error;
  }
  EXPECT_FALSE(DecodeBmp(nullptr, 0, &bmp, &error));
}

TEST(DecodeBmp, ReadsTheShippedTiles) {
  std::ifstream in(std::string(VORN_SOURCE_DIR) + "/resources/bleb.bmp", std::ios::binary);
  ASSERT_TRUE(in);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  Bitmap bmp;
  std::string error;
  ASSERT_TRUE(DecodeBmp(bytes.data(), bytes.size(), &bmp, &error)) << error;
  EXPECT_EQ(bmp.width, 116);
  EXPECT_EQ(bmp.height, 87);
}

}  // namespace
}  // namespace vorn
