// Image files to and from runtime images, the built-in images and the
// contact sheet's scaling.
#include "image_io.h"

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "contact_sheet.h"
#include "default_images.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;
namespace oiio = OIIO;

class ImageFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("vorn_image_io_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // Writes a float RGBA or grey file straight through the image library.
  void WriteFloat(const std::string& path, int w, int h, int channels,
                  const std::vector<float>& data, oiio::TypeDesc type = oiio::TypeDesc::FLOAT) {
    auto out = oiio::ImageOutput::create(path);
    ASSERT_TRUE(out);
    oiio::ImageSpec layout(w, h, channels, type);
    ASSERT_TRUE(out->open(path, layout));
    ASSERT_TRUE(out->write_image(oiio::TypeDesc::FLOAT, data.data()));
    ASSERT_TRUE(out->close());
  }

  fs::path dir_;
};

ImageRef Noise(int w, int h, unsigned seed) {
  ImageRef image = NewImage(w, h);
  std::mt19937 gen(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * 4; ++x) image->rows[y][x] = uint8_t(gen());
  // Transparent pixels with colour must keep their colour (unassociated alpha).
  image->Pixel(0, 0)[0] = 200, image->Pixel(0, 0)[3] = 0;
  return image;
}

bool SameBytes(const df::Image& a, const df::Image& b) {
  if (a.width != b.width || a.height != b.height) return false;
  for (int y = 0; y < a.height; ++y)
    if (std::memcmp(a.rows[y], b.rows[y], size_t(a.width) * 4) != 0) return false;
  return true;
}

TEST_F(ImageFiles, EveryWrittenFormatKeepsTheBytes) {
  ImageRef image = Noise(37, 23, 7);
  for (const char* name : {"a.png", "a.tif", "a.tiff", "a.exr"}) {
    const auto format = OutputFormatFor(name);
    ASSERT_TRUE(format) << name;
    std::string error;
    ASSERT_TRUE(WriteImage(*image, Path(name), *format, &error)) << error;
    ImageRef back = ReadImage(Path(name), &error);
    ASSERT_TRUE(back) << error;
    EXPECT_TRUE(SameBytes(*image, *back)) << name;
  }
  // Only the finished files are left: no temporary files.
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.exr", "a.png", "a.tif", "a.tiff"}));
}

TEST_F(ImageFiles, FormatByExtension) {
  EXPECT_EQ(OutputFormatFor("x/y.PNG"), ImageFormat::Png);
  EXPECT_EQ(OutputFormatFor("y.Exr"), ImageFormat::Exr);
  EXPECT_FALSE(OutputFormatFor("y.jpg"));
  EXPECT_FALSE(OutputFormatFor("y"));
  EXPECT_FALSE(OutputFormatFor("dir.png/file"));
}

TEST_F(ImageFiles, PixelAspectTravelsThroughExr) {
  ImageRef image = NewImage(8, 4, 2.0);
  std::string error;
  ASSERT_TRUE(WriteImage(*image, Path("a.exr"), ImageFormat::Exr, &error)) << error;
  ImageRef back = ReadImage(Path("a.exr"), &error);
  ASSERT_TRUE(back) << error;
  EXPECT_DOUBLE_EQ(back->aspect, 2.0);
}

TEST_F(ImageFiles, FloatValuesAreRoundedAndClamped) {
  // Values: in range, above 1, below 0, NaN; alpha 0.5.
  const std::vector<float> data = {0.5f,  1.0f / 255, 2.0f, 0.5f, -1.0f, NAN,
                                   0.25f, 0.5f,       0.0f, 1.0f, 0.1f,  0.5f};
  WriteFloat(Path("f.exr"), 3, 1, 4, data);
  std::string error;
  ImageRef image = ReadImage(Path("f.exr"), &error);
  ASSERT_TRUE(image) << error;
  const uint8_t* p = image->rows[0];
  EXPECT_EQ(p[2], 128);  // red 0.5
  EXPECT_EQ(p[1], 1);    // green 1/255
  EXPECT_EQ(p[0], 255);  // blue 2.0 clamped
  EXPECT_EQ(p[3], 128);
  EXPECT_EQ(p[6], 0);   // red -1 clamped
  EXPECT_EQ(p[5], 0);   // green NaN
  EXPECT_EQ(p[4], 64);  // blue 0.25
  EXPECT_EQ(p[8 + 2], 0);
  EXPECT_EQ(p[8 + 1], 255);
  EXPECT_EQ(p[8 + 0], 26);
}

TEST_F(ImageFiles, GreyAndSixteenBitFilesFillTheChannels) {
  WriteFloat(Path("g.png"), 2, 1, 1, {0.0f, 1.0f}, oiio::TypeDesc::UINT16);
  std::string error;
  ImageRef image = ReadImage(Path("g.png"), &error);
  ASSERT_TRUE(image) << error;
  const uint8_t* p = image->rows[0];
  EXPECT_EQ(std::vector<uint8_t>(p, p + 8),
            (std::vector<uint8_t>{0, 0, 0, 255, 255, 255, 255, 255}));
}

TEST_F(ImageFiles, DataWindowIsPlacedInTheDisplayWindow) {
  auto out = oiio::ImageOutput::create("openexr");
  ASSERT_TRUE(out);
  oiio::ImageSpec layout(2, 1, 4, oiio::TypeDesc::HALF);
  layout.x = 1, layout.y = 2;
  layout.full_x = 0, layout.full_y = 0, layout.full_width = 4, layout.full_height = 3;
  ASSERT_TRUE(out->open(Path("w.exr"), layout));
  const std::vector<float> white(8, 1.0f);
  ASSERT_TRUE(out->write_image(oiio::TypeDesc::FLOAT, white.data()));
  ASSERT_TRUE(out->close());
  std::string error;
  ImageRef image = ReadImage(Path("w.exr"), &error);
  ASSERT_TRUE(image) << error;
  EXPECT_EQ(image->width, 4);
  EXPECT_EQ(image->height, 3);
  EXPECT_EQ(image->Pixel(0, 2)[3], 0);
  EXPECT_EQ(image->Pixel(1, 2)[3], 255);
  EXPECT_EQ(image->Pixel(2, 2)[0], 255);
  EXPECT_EQ(image->Pixel(3, 2)[3], 0);
  EXPECT_EQ(image->Pixel(1, 1)[3], 0);
}

TEST_F(ImageFiles, UnreadableFilesAreRefusedWithTheirName) {
  std::string error;
  EXPECT_FALSE(ReadImage(Path("missing.png"), &error));
  EXPECT_NE(error.find("missing.png"), std::string::npos);

  std::ofstream(Path("garbage.png")) << "this is not a picture";
  EXPECT_FALSE(ReadImage(Path("garbage.png"), &error));
  EXPECT_NE(error.find("garbage.png"), std::string::npos);

  ImageRef image = Noise(64, 64, 3);
  ASSERT_TRUE(WriteImage(*image, Path("whole.png"), ImageFormat::Png, &error));
  for (const char* name : {"whole.png"}) {
    const auto size = fs::file_size(Path(name));
    fs::copy_file(Path(name), Path("cut.png"));
    fs::resize_file(Path("cut.png"), size / 2);
  }
  EXPECT_FALSE(ReadImage(Path("cut.png"), &error));
  EXPECT_NE(error.find("cut.png"), std::string::npos);
}

TEST_F(ImageFiles, FailedWriteLeavesNothing) {
  ImageRef image = Noise(4, 4, 1);
  std::string error;
  EXPECT_FALSE(WriteImage(*image, Path("no/such/folder/a.png"), ImageFormat::Png, &error));
  EXPECT_NE(error.find("a.png"), std::string::npos);
  ImageRef empty = NewImage(0, 0);
  EXPECT_FALSE(WriteImage(*empty, Path("empty.png"), ImageFormat::Png, &error));
  EXPECT_TRUE(Names().empty());
}

TEST(DefaultImages, OpaqueDeterministicAndAnySize) {
  ImageRef a = MakeTestCard(320, 180, 1.0), b = MakeTestCard(320, 180, 1.0);
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(SameBytes(*a, *b));
  int colours = 0;
  uint32_t last = 0;
  for (int y = 0; y < a->height; ++y)
    for (int x = 0; x < a->width; ++x) {
      const uint8_t* p = a->Pixel(x, y);
      EXPECT_EQ(p[3], 255);
      const uint32_t c = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
      colours += c != last;
      last = c;
    }
  EXPECT_GT(colours, 1000);  // detail everywhere, not flat fields
  // Corner marks tell orientation: red top left, blue bottom left.
  EXPECT_GT(a->Pixel(2, 2)[2], 200);
  EXPECT_GT(a->Pixel(2, 177)[0], 200);
  for (auto make : {MakeTestCard, MakeDarkBackground, MakeBlack}) {
    ImageRef tiny = make(1, 1, 0.5);
    ASSERT_TRUE(tiny);
    EXPECT_EQ(tiny->Pixel(0, 0)[3], 255);
    EXPECT_EQ(tiny->aspect, 0.5);
  }
  EXPECT_EQ(MakeDefaultImage("BubblesPlugIn", 2, 2, 1)->Pixel(1, 1)[2], 0);
}

TEST(ContactSheet, BoxFilterAveragesAndComposites) {
  ImageRef source = NewImage(2, 2);
  const uint8_t values[4] = {0, 100, 200, 100};
  for (int i = 0; i < 4; ++i) {
    uint8_t* p = source->Pixel(i % 2, i / 2);
    p[0] = p[1] = p[2] = values[i];
    p[3] = 255;
  }
  ImageRef target = NewImage(1, 1);
  ScaleInto(*source, target.get(), 0, 0, 1, 1);
  EXPECT_EQ(target->Pixel(0, 0)[0], 100);
  EXPECT_EQ(target->Pixel(0, 0)[3], 255);

  std::vector<SheetEntry> entries;
  entries.push_back({"one", MakeTestCard(64, 36, 1)});
  entries.push_back({"two", nullptr});
  entries.push_back({"three", MakeBlack(64, 64, 1)});
  ImageRef sheet = MakeContactSheet("TITLE", entries, 64, 2);
  ASSERT_TRUE(sheet);
  EXPECT_EQ(sheet->width, 16 + 2 * (64 + 16));
}

}  // namespace
}  // namespace vorn
