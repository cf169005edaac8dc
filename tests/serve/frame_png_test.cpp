// Frames sent as PNG: read back by the image library, they are exactly the
// RGBA bytes rendered, alpha included (not premultiplied, not dropped).
#include "serve/frame_png.h"

#include <OpenImageIO/imageio.h>
#include <unistd.h>

#include <cstdio>

#include "serve_fixture.h"

namespace servetest {
namespace {

using nlohmann::json;

// Decodes `png` as 8-bit RGBA exactly as stored (through a file: the image
// library's reader takes no memory buffer here); empty if it is no such PNG.
std::vector<uint8_t> DecodePng(const std::string& png, int* width, int* height) {
  const std::string path =
      ::testing::TempDir() + "vorn-frame-png-test-" + std::to_string(::getpid()) + ".png";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    const bool written = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    if (std::fclose(f) != 0 || !written) return {};
  } else {
    return {};
  }
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path, &config);
  std::vector<uint8_t> pixels;
  if (!in) {
    ADD_FAILURE() << OIIO::geterror();
  } else if (const OIIO::ImageSpec& header = in->spec();
             header.nchannels == 4 && header.format == OIIO::TypeDesc::UINT8) {
    *width = header.width;
    *height = header.height;
    pixels.resize(size_t(header.width) * size_t(header.height) * 4);
    if (!in->read_image(0, 0, 0, 4, OIIO::TypeDesc::UINT8, pixels.data())) pixels.clear();
  }
  in.reset();
  std::remove(path.c_str());
  return pixels;
}

TEST(FramePng, DecodesToTheSameBytesAtAnySizeAndAlpha) {
  for (const auto& [w, h] : {std::pair{1, 1}, {3, 5}, {257, 2}, {64, 36}}) {
    std::vector<uint8_t> rgba(size_t(w) * size_t(h) * 4);
    uint32_t state = 12345;
    for (uint8_t& b : rgba) {
      state = state * 1664525u + 1013904223u;
      b = uint8_t(state >> 24);
    }
    // Fully transparent pixels keep their colour; a run of equal rows too.
    rgba[0] = 200, rgba[3] = 0;
    if (h > 1) std::fill(rgba.begin() + w * 4, rgba.begin() + w * 8, uint8_t(77));
    std::string png;
    ASSERT_TRUE(vorn::serve::EncodePngRgba(rgba.data(), w, h, &png)) << w << "x" << h;
    int dw = 0, dh = 0;
    EXPECT_EQ(DecodePng(png, &dw, &dh), rgba) << w << "x" << h;
    EXPECT_EQ(dw, w);
    EXPECT_EQ(dh, h);
  }
  std::string png = "stale";
  const uint8_t pixel[4] = {1, 2, 3, 4};
  EXPECT_FALSE(vorn::serve::EncodePngRgba(pixel, 0, 1, &png));
  EXPECT_FALSE(vorn::serve::EncodePngRgba(nullptr, 1, 1, &png));
  EXPECT_TRUE(png.empty());
}

TEST_F(ServeTest, APngFrameIsTheRawFrameWithTheSameHeaders) {
  std::vector<std::string> tools = {"Bleb"};
  if (Has("Bubbles")) tools.push_back("Bubbles");  // transparent around its bubbles
  for (const std::string& tool : tools) {
    const std::string version = State(tool)["version"].dump();
    auto get = [&](const char* format) {
      return Get("/api/frame",
                 {{"tool", tool}, {"time", "0"}, {"version", version}, {"format", format}});
    };
    const auto raw = get("raw");
    const auto png = get("png");
    ASSERT_EQ(raw.status, 200) << raw.body;
    ASSERT_EQ(png.status, 200) << png.body;
    EXPECT_EQ(png.contentType, "image/png");
    EXPECT_EQ(png.headers, raw.headers) << tool;
    int w = 0, h = 0;
    const std::vector<uint8_t> decoded = DecodePng(png.body, &w, &h);
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 36);
    EXPECT_TRUE(decoded == std::vector<uint8_t>(raw.body.begin(), raw.body.end())) << tool;
    if (tool == "Bubbles") {
      size_t clear = 0;
      for (size_t i = 3; i < decoded.size(); i += 4) clear += decoded[i] < 255;
      EXPECT_GT(clear, 0u) << "a frame with transparency was checked";
    }
  }
  const auto bad = Get("/api/frame", {{"tool", "Bleb"}, {"time", "0"}, {"format", "jpeg"}});
  EXPECT_EQ(bad.status, 400);
  EXPECT_NE(bad.body.find("png"), std::string::npos);
}

// A band of rows is those rows of the whole frame, raw or as PNG, with the
// whole frame's headers; a band outside the frame is refused.
TEST_F(ServeTest, ABandOfAFrameIsThoseRowsOfTheWholeFrame) {
  ASSERT_EQ(Post("/api/change", R"({"tool":"Bleb","id":"Amp1","value":2,"time":0})").status, 200);
  const std::string version = State("Bleb")["version"].dump();
  auto get = [&](std::map<std::string, std::string> extra) {
    return FrameAt("Bleb", version, std::move(extra));
  };
  const auto whole = get({});
  ASSERT_EQ(whole.status, 200) << whole.body;
  const size_t stride = 64 * 4;
  const std::string rows10to14 = whole.body.substr(10 * stride, 5 * stride);
  const auto raw = get({{"top", "10"}, {"rows", "5"}});
  ASSERT_EQ(raw.status, 200) << raw.body;
  EXPECT_TRUE(raw.body == rows10to14);
  EXPECT_EQ(raw.headers, whole.headers);
  const auto png = get({{"top", "10"}, {"rows", "5"}, {"format", "png"}});
  ASSERT_EQ(png.status, 200) << png.body;
  int w = 0, h = 0;
  const std::vector<uint8_t> decoded = DecodePng(png.body, &w, &h);
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 5);
  EXPECT_TRUE(decoded == std::vector<uint8_t>(rows10to14.begin(), rows10to14.end()));
  // The rows from `top` to the end when no count is given.
  EXPECT_TRUE(get({{"top", "30"}}).body == whole.body.substr(30 * stride));

  for (const auto& [top, rows] :
       {std::pair{"36", "1"}, {"30", "7"}, {"0", "0"}, {"-1", "2"}, {"x", "2"}, {"0", "1e3"}}) {
    const auto bad = get({{"top", top}, {"rows", rows}});
    EXPECT_EQ(bad.status, 400) << top << " " << rows;
    EXPECT_TRUE(bad.body.find("top") != std::string::npos ||
                bad.body.find("rows") != std::string::npos)
        << bad.body;
  }
}

}  // namespace
}  // namespace servetest
