// Reduced frames for dragging: each pixel the alpha-weighted average of its
// block, blocks cut off at the frame's edges, and through the API a band of
// the reduced frame with the whole frame's headers.
#include "serve/frame_preview.h"

#include "serve_fixture.h"

namespace servetest {
namespace {

using vorn::serve::ReduceRgbaRows;

TEST(FramePreview, BlocksAverageColourByAlphaAndAreCutOffAtTheEdges) {
  // 3 x 3 RGBA, reduced by 2 to 2 x 2. Worked by hand:
  //  (0,0) block of four: alpha 255, 255, 0, 51 -> alpha (561 + 2) / 4 = 140;
  //        red 200*255 + 100*255 + 9*0 + 50*51 = 79050, / 561 -> 140.9 -> 141
  //  (1,0) right column, two pixels: both opaque, red 10 and 21 -> 15.5 -> 16
  //  (0,1) bottom row, two pixels, both transparent: plain mean 7 and 8 -> 8
  //  (1,1) corner pixel alone: unchanged.
  // clang-format off
  const uint8_t f[] = {
      200, 0, 0, 255,   100, 0, 0, 255,   10, 1, 2, 255,
        9, 0, 0,   0,    50, 0, 0,  51,   21, 3, 4, 255,
        7, 0, 0,   0,     8, 0, 0,   0,   33, 44, 55, 66};
  // clang-format on
  const std::vector<uint8_t> all = ReduceRgbaRows(f, 3, 3, 2, 0, 2);
  const std::vector<uint8_t> want = {141, 0, 0, 140, 16, 2, 3, 255, 8, 0, 0, 0, 33, 44, 55, 66};
  EXPECT_EQ(all, want);
  // One reduced row alone is that row of the whole.
  EXPECT_EQ(ReduceRgbaRows(f, 3, 3, 2, 1, 1), std::vector<uint8_t>(want.begin() + 8, want.end()));
  // Factor 1 is the frame itself.
  EXPECT_EQ(ReduceRgbaRows(f, 3, 3, 1, 0, 3), std::vector<uint8_t>(std::begin(f), std::end(f)));
  // The largest block of opaque white stays white (no overflow in the sums).
  std::vector<uint8_t> white(8 * 8 * 4, 255);
  EXPECT_EQ(ReduceRgbaRows(white.data(), 8, 8, 8, 0, 1), std::vector<uint8_t>(4, 255));
}

TEST_F(ServeTest, AReducedFrameIsTheReductionOfTheFrameInBands) {
  ASSERT_EQ(Post("/api/change", R"({"tool":"Bleb","id":"Amp1","value":2,"time":0})").status, 200);
  const std::string version = State("Bleb")["version"].dump();
  auto get = [&](std::map<std::string, std::string> extra) {
    return FrameAt("Bleb", version, std::move(extra));
  };
  const auto whole = get({});
  ASSERT_EQ(whole.status, 200) << whole.body;
  // The fixture's frames are 64 x 36: reduced by 3, 22 x 12 (the last
  // column of blocks one pixel wide).
  const auto* px = reinterpret_cast<const uint8_t*>(whole.body.data());
  const std::vector<uint8_t> reduced = ReduceRgbaRows(px, 64, 36, 3, 0, 12);
  ASSERT_EQ(reduced.size(), size_t(22 * 12 * 4));
  const auto full = get({{"scale", "3"}});
  ASSERT_EQ(full.status, 200) << full.body;
  EXPECT_TRUE(full.body == std::string(reduced.begin(), reduced.end()));
  const auto band = get({{"scale", "3"}, {"top", "4"}, {"rows", "5"}});
  ASSERT_EQ(band.status, 200) << band.body;
  EXPECT_TRUE(band.body == full.body.substr(4 * 22 * 4, 5 * 22 * 4));
  // The headers describe the whole frame and say how it was reduced.
  auto header = [](const auto& response, const std::string& name) {
    for (const auto& [key, value] : response.headers)
      if (key == name) return value;
    return std::string("(none)");
  };
  EXPECT_EQ(header(band, "X-Width"), "64");
  EXPECT_EQ(header(band, "X-Height"), "36");
  EXPECT_EQ(header(band, "X-Scale"), "3");
  EXPECT_EQ(header(whole, "X-Scale"), "1");

  for (const char* scale : {"0", "9", "-2", "1.5", "x"}) {
    const auto bad = get({{"scale", scale}});
    EXPECT_EQ(bad.status, 400) << scale;
    EXPECT_NE(bad.body.find("scale"), std::string::npos) << bad.body;
  }
  // Bands are counted in reduced rows: row 12 is past the end.
  EXPECT_EQ(get({{"scale", "3"}, {"top", "12"}}).status, 400);
}

}  // namespace
}  // namespace servetest
