// PNG files encoded by vorn itself: read back through libpng and the image
// library, with the chunks the image library's own PNG writer gives.
#include "png_encoder.h"

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "image_io.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;
namespace oiio = OIIO;

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Straight RGBA bytes as libpng decodes the file; empty when it cannot.
std::vector<uint8_t> LibpngPixels(const std::vector<uint8_t>& file, int* w, int* h) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return {};
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
  *w = int(image.width), *h = int(image.height);
  return pixels;
}

class PngFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vorn_png_" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

// Random premultiplied pixels, a few with colour above alpha; `smooth` makes
// them compress like a picture, otherwise they hardly compress at all.
ImageRef Picture(int w, int h, bool smooth) {
  ImageRef image = NewImage(w, h);
  std::mt19937 gen(7);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = image->Pixel(x, y);
      p[3] = smooth ? uint8_t(255 - (x + y) % 200) : uint8_t(gen());
      for (int c = 0; c < 3; ++c)
        p[c] = smooth ? uint8_t(std::min<int>(p[3], (x * (c + 1) + y) % 256)) : uint8_t(gen());
    }
  return image;
}

TEST_F(PngFiles, SameChunksAndPixelsAsTheLibraryWriterAtEveryLevel) {
  ImageRef image = Picture(203, 117, true);
  image->aspect = 0.5;
  for (const char* space : {"", "Rec709"})
    for (int level = 0; level <= 9; ++level) {
      const std::string id = std::string("space \"") + space + "\" level " + std::to_string(level);
      WriteOptions ours, library;
      ours.colourSpace = library.colourSpace = space;
      ours.compression.level = library.compression.level = level;
      ours.metadata.copyright = library.metadata.copyright = "(c) the makers";
      ours.metadata.frameRateNum = library.metadata.frameRateNum = 24000;
      ours.metadata.frameRateDen = library.metadata.frameRateDen = 1001;
      library.floatPath = true;  // encoded by the image library's PNG writer
      std::string error;
      ASSERT_TRUE(WriteImage(*image, Path("ours.png"), ImageFormat::Png, &error, ours)) << error;
      ASSERT_TRUE(WriteImage(*image, Path("lib.png"), ImageFormat::Png, &error, library)) << error;
      const std::vector<uint8_t> a = FileBytes(Path("ours.png")), b = FileBytes(Path("lib.png"));
      PngChunks ca, cb;
      ASSERT_TRUE(SplitPngChunks(a.data(), a.size(), &ca)) << id;
      ASSERT_TRUE(SplitPngChunks(b.data(), b.size(), &cb)) << id;
      EXPECT_FALSE(ca.before.empty()) << id;
      EXPECT_TRUE(ca.before == cb.before) << id;
      EXPECT_TRUE(ca.after == cb.after) << id;
      ASSERT_GT(a.size(), 33u);
      EXPECT_EQ(std::memcmp(a.data(), b.data(), 33), 0) << id << ": signature and IHDR";
      int w = 0, h = 0;
      const std::vector<uint8_t> pa = LibpngPixels(a, &w, &h);
      EXPECT_EQ(w, 203);
      EXPECT_EQ(h, 117);
      EXPECT_FALSE(pa.empty()) << id;
      EXPECT_TRUE(pa == LibpngPixels(b, &w, &h)) << id;
      // The image library reads it with the metadata it wrote.
      oiio::ImageSpec straight;
      straight.attribute("oiio:UnassociatedAlpha", 1);
      auto in = oiio::ImageInput::open(Path("ours.png"), &straight);
      ASSERT_TRUE(in) << id;
      EXPECT_EQ(in->spec().get_string_attribute("Copyright"), "(c) the makers") << id;
      EXPECT_FLOAT_EQ(in->spec().get_float_attribute("PixelAspectRatio"), 2.0f) << id;
      std::vector<uint8_t> viaLibrary(pa.size());
      ASSERT_TRUE(in->read_image(0, 0, 0, 4, oiio::TypeDesc::UINT8, viaLibrary.data())) << id;
      EXPECT_TRUE(viaLibrary == pa) << id;
    }
}

// Data that hardly compresses spans several image data chunks; every row
// filter meets every kind of byte.
TEST_F(PngFiles, LargeFilesSpanSeveralDataChunks) {
  ImageRef image = Picture(700, 500, false);
  std::string error;
  ASSERT_TRUE(WriteImage(*image, Path("noise.png"), ImageFormat::Png, &error)) << error;
  WriteOptions library;
  library.floatPath = true;
  ASSERT_TRUE(WriteImage(*image, Path("lib.png"), ImageFormat::Png, &error, library)) << error;
  const std::vector<uint8_t> a = FileBytes(Path("noise.png"));
  int idat = 0;
  for (size_t at = 8; at + 8 <= a.size();) {
    const size_t length =
        size_t(a[at]) << 24 | size_t(a[at + 1]) << 16 | size_t(a[at + 2]) << 8 | size_t(a[at + 3]);
    idat += std::memcmp(&a[at + 4], "IDAT", 4) == 0;
    at += length + 12;
  }
  EXPECT_GE(idat, 2);
  int w = 0, h = 0;
  const std::vector<uint8_t> pixels = LibpngPixels(a, &w, &h);
  EXPECT_FALSE(pixels.empty());
  EXPECT_TRUE(pixels == LibpngPixels(FileBytes(Path("lib.png")), &w, &h));
}

TEST(PngChunkSplit, RefusesWhatIsNotAWholePng) {
  PngChunks chunks;
  const uint8_t notPng[12] = {'G', 'I', 'F', '8', '9', 'a'};
  EXPECT_FALSE(SplitPngChunks(notPng, sizeof notPng, &chunks));
  // A signature and a chunk whose length runs past the end.
  const uint8_t cut[20] = {0x89, 'P',  'N',  'G',  '\r', '\n', 0x1a, '\n',
                           0x7f, 0xff, 0xff, 0xff, 'I',  'H',  'D',  'R'};
  EXPECT_FALSE(SplitPngChunks(cut, sizeof cut, &chunks));
}

}  // namespace
}  // namespace vorn
