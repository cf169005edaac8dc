// Image files to and from runtime images (colour, alpha, formats, layers and
// metadata), the built-in images and the contact sheet's scaling.
#include "image_io.h"

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>

#include "colour_space.h"
#include "contact_sheet.h"
#include "default_images.h"
#include "exr_encoder.h"

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

ImageRef Noise(int w, int h, unsigned seed, bool opaque = false) {
  ImageRef image = NewImage(w, h);
  std::mt19937 gen(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * 4; ++x) image->rows[y][x] = uint8_t(gen());
  // Premultiplied: no colour above its alpha.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = image->Pixel(x, y);
      if (opaque) p[3] = 255;
      for (int c = 0; c < 3; ++c) p[c] = uint8_t(p[c] * p[3] / 255);
    }
  return image;
}

bool SameBytes(const df::Image& a, const df::Image& b) {
  if (a.width != b.width || a.height != b.height) return false;
  for (int y = 0; y < a.height; ++y)
    if (std::memcmp(a.rows[y], b.rows[y], size_t(a.width) * 4) != 0) return false;
  return true;
}

// Largest difference of any byte, or 256 when the sizes differ.
int LargestDifference(const df::Image& a, const df::Image& b) {
  if (a.width != b.width || a.height != b.height) return 256;
  int most = 0;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width * 4; ++x)
      most = std::max(most, std::abs(a.rows[y][x] - b.rows[y][x]));
  return most;
}

// The sRGB encoding and its inverse, from their definition.
double Encode(double linear) {
  return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}
double Decode(double encoded) {
  return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
}

std::vector<char> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

ImageRef ReadBack(const std::string& path) {
  std::string error;
  ImageRef image = ReadImage(path, &error);
  EXPECT_TRUE(image) << error;
  return image;
}

// A file's pixels as floats, read straight through the image library;
// straight alpha stays straight.
std::vector<float> FileValues(const std::string& path, oiio::ImageSpec* header = nullptr) {
  oiio::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = oiio::ImageInput::open(path, &config);
  EXPECT_TRUE(in) << path;
  if (!in) return {};
  if (header) *header = in->spec();
  std::vector<float> values(size_t(in->spec().image_pixels()) * size_t(in->spec().nchannels));
  EXPECT_TRUE(in->read_image(0, 0, 0, in->spec().nchannels, oiio::TypeDesc::FLOAT, values.data()));
  return values;
}

void WriteStraightPng(const std::string& path, int w, int h, const uint8_t* rgba) {
  auto out = oiio::ImageOutput::create("png");
  ASSERT_TRUE(out);
  oiio::ImageSpec layout(w, h, 4, oiio::TypeDesc::UINT8);
  layout.attribute("oiio:UnassociatedAlpha", 1);
  ASSERT_TRUE(out->open(path, layout));
  ASSERT_TRUE(out->write_image(oiio::TypeDesc::UINT8, rgba));
  ASSERT_TRUE(out->close());
}

TEST_F(ImageFiles, OpaqueImagesKeepTheirBytesInIntegerFormats) {
  ImageRef image = Noise(37, 23, 7, true);
  for (const char* name : {"a.png", "a.tif", "a.tiff"}) {
    std::string error;
    ASSERT_TRUE(WriteImage(*image, Path(name), *OutputFormatFor(name), &error)) << error;
    ImageRef back = ReadBack(Path(name));
    ASSERT_TRUE(back);
    EXPECT_TRUE(SameBytes(*image, *back)) << name;
  }
  WriteOptions sixteen;
  sixteen.depth = BitDepth::U16;
  std::string error;
  ASSERT_TRUE(WriteImage(*image, Path("b.png"), ImageFormat::Png, &error, sixteen)) << error;
  oiio::ImageSpec header;
  FileValues(Path("b.png"), &header);
  EXPECT_EQ(header.format, oiio::TypeDesc::UINT16);
  EXPECT_TRUE(SameBytes(*image, *ReadBack(Path("b.png"))));
  // Only the finished files are left: no temporary files.
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.png", "a.tif", "a.tiff", "b.png"}));
}

// Every (channel byte, alpha byte) pair once per channel, colour above alpha
// (additive light) included; the channels are shifted against each other.
ImageRef EveryPair() {
  ImageRef image = NewImage(256, 256);
  for (int a = 0; a < 256; ++a)
    for (int c = 0; c < 256; ++c) {
      uint8_t* p = image->Pixel(c, a);
      p[0] = uint8_t(c), p[1] = uint8_t((c + 85) % 256), p[2] = uint8_t((c + 170) % 256);
      p[3] = uint8_t(a);
    }
  return image;
}

// Runs of opaque, empty and partly transparent pixels, and of one colour
// (opaque or not) broken by one pixel, of many lengths, starting anywhere against the
// eight-pixel blocks the conversion checks, on rows of an odd width.
ImageRef Runs() {
  ImageRef image = NewImage(61, 24);
  std::mt19937 gen(7);
  for (int y = 0; y < image->height; ++y)
    for (int x = 0; x < image->width;) {
      const int kind = int(gen() % 4), length = 1 + int(gen() % (kind == 3 ? 40 : 19));
      const uint8_t one[4] = {uint8_t(gen()), uint8_t(gen()), uint8_t(gen()),
                              gen() % 2 ? uint8_t(255) : uint8_t(gen())};
      for (int i = 0; i < length && x < image->width; ++i, ++x) {
        uint8_t* p = image->Pixel(x, y);
        const uint8_t a = kind == 0 ? 255 : kind == 1 ? 0 : uint8_t(1 + gen() % 254);
        for (int c = 0; c < 3; ++c) p[c] = kind == 1 ? 0 : uint8_t(gen() % 256);
        p[3] = a;
        // One colour, but for a pixel amid it (a thin line across a flat field).
        if (kind == 3 && i != length / 2) std::memcpy(p, one, 4);
      }
    }
  return image;
}

// Files are written from per-run tables rather than a float image; for every
// format, sample depth and colour space the values in the file must be those
// of the float path.
TEST_F(ImageFiles, TheTablePathWritesWhatTheFloatPathWrites) {
  for (ImageRef (*make)() : {EveryPair, Runs}) {
    ImageRef image = make();
    struct Case {
      const char* ext;
      BitDepth depth;
    };
    const Case cases[] = {{"png", BitDepth::U8},   {"png", BitDepth::U16},   {"tif", BitDepth::U8},
                          {"tif", BitDepth::U16},  {"tif", BitDepth::Float}, {"jpg", BitDepth::U8},
                          {"dpx", BitDepth::U10},  {"dpx", BitDepth::U8},    {"dpx", BitDepth::U16},
                          {"exr", BitDepth::Half}, {"exr", BitDepth::Float}};
    int n = 0;
    for (const Case& c : cases)
      for (const char* space : {"", "sRGB", "linear", "Rec709"}) {
        const std::string id = std::to_string(image->width) + " wide, " + c.ext + " depth " +
                               std::to_string(int(c.depth)) + " space \"" + space + "\"";
        const std::string fast = Path("fast" + std::to_string(n) + "." + c.ext);
        const std::string slow = Path("slow" + std::to_string(n) + "." + c.ext);
        ++n;
        WriteOptions byTable, viaFloats;
        byTable.depth = viaFloats.depth = c.depth;
        byTable.colourSpace = viaFloats.colourSpace = space;
        viaFloats.floatPath = true;
        std::string error;
        ASSERT_TRUE(WriteImage(*image, fast, *OutputFormatFor(fast), &error, byTable)) << error;
        ASSERT_TRUE(WriteImage(*image, slow, *OutputFormatFor(slow), &error, viaFloats)) << error;
        oiio::ImageSpec fastHeader, slowHeader;
        const std::vector<float> a = FileValues(fast, &fastHeader),
                                 b = FileValues(slow, &slowHeader);
        EXPECT_EQ(fastHeader.nchannels, slowHeader.nchannels) << id;
        EXPECT_EQ(fastHeader.format, slowHeader.format) << id;
        EXPECT_EQ(fastHeader.get_int_attribute("oiio:BitsPerSample"),
                  slowHeader.get_int_attribute("oiio:BitsPerSample"))
            << id;
        EXPECT_EQ(a.size(),
                  size_t(image->width) * size_t(image->height) * size_t(fastHeader.nchannels))
            << id;
        size_t differ = 0;
        for (size_t i = 0; i < a.size() && i < b.size(); ++i)
          differ += std::memcmp(&a[i], &b[i], sizeof(float)) != 0;
        EXPECT_EQ(differ, 0u) << id;
        EXPECT_TRUE(a.size() == b.size()) << id;
      }
  }
}

// 10-bit DPX files are packed by vorn itself; the file must be the one the
// image library's writer makes of the float path, byte for byte: header
// (metadata and sizes) and every sample.
TEST_F(ImageFiles, TenBitDpxIsTheFileTheLibraryWrites) {
  for (ImageRef (*make)() : {EveryPair, Runs}) {
    ImageRef image = make();
    image->aspect = 0.5;
    for (const char* space : {"", "linear", "Rec709"}) {
      WriteOptions packed, library;
      packed.depth = library.depth = BitDepth::U10;
      packed.colourSpace = library.colourSpace = space;
      packed.metadata.copyright = library.metadata.copyright = "(c) a studio";
      packed.metadata.frameRateNum = library.metadata.frameRateNum = 24000;
      packed.metadata.frameRateDen = library.metadata.frameRateDen = 1001;
      library.floatPath = true;
      // The header holds the file's path: both are written to one.
      const std::string path = Path("f.dpx");
      std::string error;
      ASSERT_TRUE(WriteImage(*image, path, ImageFormat::Dpx, &error, library)) << error;
      const std::vector<char> want = FileBytes(path);
      ASSERT_TRUE(WriteImage(*image, path, ImageFormat::Dpx, &error, packed)) << error;
      const std::vector<char> got = FileBytes(path);
      ASSERT_EQ(got.size(), want.size()) << image->width << " wide, space \"" << space << "\"";
      EXPECT_TRUE(got == want) << image->width << " wide, space \"" << space << "\"";
      // And what the library reads back of it.
      oiio::ImageSpec header;
      FileValues(path, &header);
      EXPECT_EQ(header.width, image->width);
      EXPECT_EQ(header.get_int_attribute("oiio:BitsPerSample"), 10);
      EXPECT_EQ(header.get_string_attribute("Copyright"), "(c) a studio");
    }
  }
}

// Rows of equal pixels (runs longer and shorter than a coded run, the
// longest spanning most of a row, two rows of one colour) between noise and
// pixels that alternate, on rows of an odd width.
ImageRef EqualRuns() {
  ImageRef image = NewImage(301, 21);
  std::mt19937 gen(3);
  for (int y = 0; y < image->height; ++y)
    for (int x = 0; x < image->width;) {
      const int kind = int(gen() % 3), length = 1 + int(gen() % (kind == 0 ? 260 : 12));
      uint8_t pixel[2][4];
      for (auto& p : pixel) {
        p[3] = gen() % 2 ? 255 : uint8_t(gen());
        for (int c = 0; c < 3; ++c) p[c] = uint8_t(gen() % (p[3] + 1));
      }
      for (int i = 0; i < length && x < image->width; ++i, ++x) {
        if (kind == 2)
          for (int c = 0; c < 4; ++c) pixel[0][c] = uint8_t(gen() % 256 & pixel[0][3]);
        std::memcpy(image->Pixel(x, y), pixel[kind == 1 ? i % 2 : 0], 4);
      }
    }
  // An empty row and an opaque white one: every channel's samples alike, so
  // a run goes through the whole coded line.
  for (int x = 0; x < image->width; ++x)
    std::memset(image->Pixel(x, 0), 0, 4), std::memset(image->Pixel(x, 1), 255, 4);
  return image;
}

// Uncompressed and run-length coded EXR files are encoded by vorn itself;
// the file must be the one the image library's writer makes of the float
// path, byte for byte (header with its windows and metadata, line offsets,
// every chunk coded or kept plain as the library decides), and read back
// as the picture written.
TEST_F(ImageFiles, UncompressedAndRleExrAreTheFilesTheLibraryWrites) {
  // Rows too narrow for the encoder's blocks of pixels, too.
  for (ImageRef (*make)() : {EveryPair, Runs, EqualRuns, +[] { return Noise(1, 3, 5); },
                             +[] { return Noise(7, 2, 6); }}) {
    ImageRef image = make();
    image->aspect = 0.75;
    for (BitDepth depth : {BitDepth::Half, BitDepth::Float})
      for (const char* method : {"none", "rle"}) {
        WriteOptions encoded, library;
        encoded.depth = library.depth = depth;
        encoded.compression.method = library.compression.method = method;
        encoded.metadata.copyright = library.metadata.copyright = "(c) a studio";
        encoded.metadata.frameRateNum = library.metadata.frameRateNum = 25;
        encoded.metadata.frameRateDen = library.metadata.frameRateDen = 1;
        encoded.metadata.displayX = library.metadata.displayX = -7;
        encoded.metadata.displayY = library.metadata.displayY = 12;
        library.floatPath = true;
        // The header holds the time of writing, which may tick between the
        // two files: it is blanked in both.
        auto bytes = [](const std::string& path) {
          std::vector<char> b = FileBytes(path);
          const std::string date("capDate\0string\0", 15);
          const auto at = std::search(b.begin(), b.end(), date.begin(), date.end());
          if (at != b.end() && b.end() - at > 15 + 4 + 19)
            std::fill(at + 15 + 4, at + 15 + 4 + 19, 'x');
          return b;
        };
        const std::string id = std::to_string(image->width) + " wide, " +
                               (depth == BitDepth::Half ? "half " : "float ") + method;
        const std::string path = Path("f.exr");
        std::string error;
        ASSERT_TRUE(WriteImage(*image, path, ImageFormat::Exr, &error, library)) << error;
        const std::vector<char> want = bytes(path);
        ASSERT_TRUE(WriteImage(*image, path, ImageFormat::Exr, &error, encoded)) << error;
        const std::vector<char> got = bytes(path);
        ASSERT_EQ(got.size(), want.size()) << id;
        EXPECT_TRUE(got == want) << id;
        oiio::ImageSpec header;
        FileValues(path, &header);
        EXPECT_EQ(header.x, -7) << id;
        EXPECT_EQ(header.full_y, 12) << id;
        EXPECT_EQ(header.width, image->width) << id;
        EXPECT_EQ(header.get_string_attribute("compression"), method) << id;
        EXPECT_EQ(header.get_string_attribute("Copyright"), "(c) a studio") << id;
        EXPECT_FLOAT_EQ(header.get_float_attribute("PixelAspectRatio"), 1 / 0.75f) << id;
        ImageRef back = ReadBack(path);
        ASSERT_TRUE(back);
        EXPECT_LE(LargestDifference(*image, *back), 1) << id;
      }
  }
}

// Only plain scanline files, uncompressed or run-length coded, of half or
// float samples and a size the header can hold, are encoded by vorn; the
// channels are stored in the file's alphabetical order.
TEST(ExrEncoder, TakesOnlyTheLayoutsItEncodes) {
  auto layout = [](oiio::TypeDesc type, const char* compression) {
    oiio::ImageSpec l(300, 200, 4, type);
    l.channelnames = {"R", "G", "B", "A"};
    l.alpha_channel = 3;
    l.attribute("compression", compression);
    return l;
  };
  ExrHeader header;
  ASSERT_TRUE(MakeExrHeader("a.exr", layout(oiio::TypeDesc::HALF, "rle"), &header));
  EXPECT_TRUE(header.rle);
  EXPECT_EQ(header.sampleSize, 2u);
  EXPECT_EQ(header.channels, (std::vector<int>{3, 2, 1, 0}));
  ASSERT_TRUE(MakeExrHeader("a.exr", layout(oiio::TypeDesc::FLOAT, "none"), &header));
  EXPECT_FALSE(header.rle);
  EXPECT_EQ(header.sampleSize, 4u);
  EXPECT_FALSE(MakeExrHeader("a.exr", layout(oiio::TypeDesc::HALF, "zip"), &header));
  EXPECT_FALSE(MakeExrHeader("a.exr", layout(oiio::TypeDesc::UINT16, "none"), &header));
  oiio::ImageSpec tiled = layout(oiio::TypeDesc::HALF, "none");
  tiled.tile_width = tiled.tile_height = 64;
  EXPECT_FALSE(MakeExrHeader("a.exr", tiled, &header));
  // The last line or column would lie beyond what the header can hold.
  oiio::ImageSpec far = layout(oiio::TypeDesc::HALF, "rle");
  far.y = far.full_y = INT32_MAX - 100;
  EXPECT_FALSE(MakeExrHeader("a.exr", far, &header));
}

TEST_F(ImageFiles, TransparentImagesSurviveEveryFormatWithinOneLevel) {
  ImageRef image = Noise(41, 19, 11);
  // TIFF keeps premultiplied alpha as it is; PNG stores straight colour and
  // EXR scene-linear values, so the premultiplied bytes come back within a
  // level.
  for (const char* name : {"a.tif", "a.png", "a.exr"}) {
    std::string error;
    ASSERT_TRUE(WriteImage(*image, Path(name), *OutputFormatFor(name), &error)) << error;
    ImageRef back = ReadBack(Path(name));
    ASSERT_TRUE(back);
    EXPECT_LE(LargestDifference(*image, *back), std::string(name) == "a.tif" ? 0 : 1) << name;
  }
  WriteOptions asFloat;
  asFloat.depth = BitDepth::Float;
  std::string error;
  ASSERT_TRUE(WriteImage(*image, Path("f.exr"), ImageFormat::Exr, &error, asFloat)) << error;
  oiio::ImageSpec header;
  FileValues(Path("f.exr"), &header);
  EXPECT_EQ(header.format, oiio::TypeDesc::FLOAT);
  EXPECT_LE(LargestDifference(*image, *ReadBack(Path("f.exr"))), 1);
}

TEST_F(ImageFiles, KnownValuesInLinearFiles) {
  // sRGB 130 is linear 0.2232.
  ImageRef grey = NewImage(1, 1);
  uint8_t* p = grey->Pixel(0, 0);
  p[0] = p[1] = p[2] = 130, p[3] = 255;
  std::string error;
  ASSERT_TRUE(WriteImage(*grey, Path("grey.exr"), ImageFormat::Exr, &error)) << error;
  std::vector<float> v = FileValues(Path("grey.exr"));
  ASSERT_EQ(v.size(), 4u);
  EXPECT_NEAR(v[0], 0.2232, 0.001);
  EXPECT_NEAR(v[0], Decode(130 / 255.0), 0.0005);
  EXPECT_EQ(v[3], 1.0f);
  EXPECT_EQ(ReadBack(Path("grey.exr"))->Pixel(0, 0)[2], 130);

  // Straight (200, alpha 128) is premultiplied 100 in the tools' image and
  // linear 200/255 decoded, times 128/255, in EXR.
  const uint8_t straight[4] = {200, 200, 200, 128};
  WriteStraightPng(Path("half.png"), 1, 1, straight);
  ImageRef half = ReadBack(Path("half.png"));
  ASSERT_TRUE(half);
  EXPECT_EQ(half->Pixel(0, 0)[0], 100);
  EXPECT_EQ(half->Pixel(0, 0)[3], 128);
  ASSERT_TRUE(WriteImage(*half, Path("half.exr"), ImageFormat::Exr, &error)) << error;
  v = FileValues(Path("half.exr"));
  EXPECT_NEAR(v[0], Decode(200 / 255.0) * 128 / 255, 0.004);
  EXPECT_NEAR(v[3], 128 / 255.0, 0.001);
  // Back to PNG: straight 200 within a level.
  ASSERT_TRUE(WriteImage(*half, Path("back.png"), ImageFormat::Png, &error)) << error;
  v = FileValues(Path("back.png"));
  EXPECT_NEAR(v[0] * 255, 200, 1.01);
  EXPECT_NEAR(v[3] * 255, 128, 0.01);
}

TEST_F(ImageFiles, StraightPngRoundTrips) {
  // Straight colour with every alpha, written by the image library.
  const int w = 256, h = 16;
  std::vector<uint8_t> straight(size_t(w) * h * 4);
  std::mt19937 gen(5);
  for (size_t i = 0; i < straight.size(); ++i) straight[i] = uint8_t(gen());
  for (size_t i = 0; i < straight.size(); i += 4) straight[i + 3] = uint8_t(i / 4 % 256);
  WriteStraightPng(Path("in.png"), w, h, straight.data());
  ImageRef image = ReadBack(Path("in.png"));
  ASSERT_TRUE(image);
  std::string error;
  ASSERT_TRUE(WriteImage(*image, Path("out.png"), ImageFormat::Png, &error)) << error;
  auto in = oiio::ImageInput::create("png");
  oiio::ImageSpec config, header;
  config.attribute("oiio:UnassociatedAlpha", 1);
  ASSERT_TRUE(in->open(Path("out.png"), header, config));
  std::vector<uint8_t> back(straight.size());
  ASSERT_TRUE(in->read_image(0, 0, 0, 4, oiio::TypeDesc::UINT8, back.data()));
  for (size_t i = 0; i < straight.size(); i += 4) {
    const int a = straight[i + 3];
    ASSERT_EQ(back[i + 3], a);
    for (size_t c = 0; c < 3; ++c) {
      // Straight values within a level where alpha is at least half...
      if (a >= 128) {
        ASSERT_NEAR(back[i + c], straight[i + c], 1) << "alpha " << a;
      }
      // ...and premultiplied values within a level everywhere.
      ASSERT_NEAR(back[i + c] * a / 255.0, straight[i + c] * a / 255.0, 1.0) << "alpha " << a;
    }
  }
  // Through EXR and back: within a level of the first reading.
  ASSERT_TRUE(WriteImage(*image, Path("mid.exr"), ImageFormat::Exr, &error)) << error;
  EXPECT_LE(LargestDifference(*image, *ReadBack(Path("mid.exr"))), 1);
}

TEST_F(ImageFiles, FormatsAndDepthsByName) {
  EXPECT_EQ(OutputFormatFor("x/y.PNG"), ImageFormat::Png);
  EXPECT_EQ(OutputFormatFor("y.Exr"), ImageFormat::Exr);
  EXPECT_EQ(OutputFormatFor("y.jpg"), ImageFormat::Jpeg);
  EXPECT_EQ(OutputFormatFor("y.JPEG"), ImageFormat::Jpeg);
  EXPECT_EQ(OutputFormatFor("y.dpx"), ImageFormat::Dpx);
  EXPECT_FALSE(OutputFormatFor("y.gif"));
  EXPECT_FALSE(OutputFormatFor("y"));
  EXPECT_FALSE(OutputFormatFor("dir.png/file"));
  BitDepth depth;
  std::string error;
  EXPECT_TRUE(ParseBitDepth(ImageFormat::Png, "16", &depth, &error));
  EXPECT_EQ(depth, BitDepth::U16);
  EXPECT_TRUE(ParseBitDepth(ImageFormat::Exr, "float", &depth, &error));
  EXPECT_EQ(depth, BitDepth::Float);
  EXPECT_FALSE(ParseBitDepth(ImageFormat::Exr, "8", &depth, &error));
  EXPECT_NE(error.find("\"half\""), std::string::npos) << error;
  EXPECT_FALSE(ParseBitDepth(ImageFormat::Jpeg, "16", &depth, &error));
  // The messages and the help read the same table as the writer.
  EXPECT_EQ(OutputFormatsText(),
            "PNG (.png), EXR (.exr), TIFF (.tif, .tiff), DPX (.dpx) or JPEG (.jpg, .jpeg)");
  EXPECT_EQ(OutputExtensionsHelp(), ".png, .exr, .tif, .dpx, .jpg");
  EXPECT_EQ(CompressionHelp(),
            "PNG: level 0-9 (default 6); EXR: none, rle, zips, zip (default), piz, dwaa (dwaa is "
            "lossy; none and rle keep up with a two-core render); TIFF: none, lzw, zip "
            "(default); JPEG: quality 1-100 (default 95)");
  EXPECT_EQ(BitDepthHelp(),
            "Output samples: PNG 8 (default) or 16; EXR half (default) or float; TIFF 8 "
            "(default), 16 or float; DPX 10 (default), 8 or 16; JPEG 8");
  Compression compression;
  EXPECT_FALSE(ParseCompression(ImageFormat::Tiff, "piz", &compression, &error));
  EXPECT_EQ(error, "TIFF takes the compression \"none\", \"lzw\", \"zip\" (default \"zip\")");
  EXPECT_FALSE(ParseCompression(ImageFormat::Dpx, "zip", &compression, &error));
  EXPECT_TRUE(ParseCompression(ImageFormat::Jpeg, "80", &compression, &error));
  EXPECT_EQ(compression.level, 80);
}

// A writer reuses the library's header for the same layout within a second:
// layouts that differ only in the last bit of a value, written one after
// the other, each get their own.
TEST_F(ImageFiles, EachFileHasTheHeaderOfItsOwnLayout) {
  const std::string path = Path("h.exr");
  for (float ratio : {1.5f, std::nextafter(1.5f, 2.0f), 1.5f}) {
    ImageRef image = NewImage(8, 4, 1.0 / double(ratio));
    WriteOptions options;
    options.compression.method = "rle";
    std::string error;
    ASSERT_TRUE(WriteImage(*image, path, ImageFormat::Exr, &error, options)) << error;
    oiio::ImageSpec header;
    FileValues(path, &header);
    EXPECT_EQ(header.get_float_attribute("PixelAspectRatio"), ratio);
  }
}

TEST_F(ImageFiles, PixelAspectTravelsThroughExr) {
  ImageRef image = NewImage(8, 4, 2.0);
  std::string error;
  ASSERT_TRUE(WriteImage(*image, Path("a.exr"), ImageFormat::Exr, &error)) << error;
  ImageRef back = ReadImage(Path("a.exr"), &error);
  ASSERT_TRUE(back) << error;
  EXPECT_DOUBLE_EQ(back->aspect, 2.0);
}

TEST_F(ImageFiles, LinearValuesAreEncodedRoundedAndClipped) {
  // Premultiplied linear values: in range, above 1, below 0, NaN; alpha 0.5.
  const std::vector<float> data = {0.5f,  1.0f / 255, 2.0f, 0.5f, -1.0f, NAN,
                                   0.25f, 0.5f,       0.0f, 1.0f, 0.1f,  0.5f};
  WriteFloat(Path("f.exr"), 3, 1, 4, data);
  std::string error;
  float brightest = 0;
  ImageRef image = ReadImage(Path("f.exr"), &error, {}, &brightest);
  ASSERT_TRUE(image) << error;
  // Divided by alpha, encoded, multiplied again, rounded and clipped.
  auto expected = [&](float v) {
    if (!(v > 0)) return 0L;
    return std::lround(std::min(1.0, Encode(v / 0.5) * 0.5) * 255);
  };
  const uint8_t* p = image->rows[0];
  for (size_t x = 0; x < 3; ++x) {
    EXPECT_EQ(p[x * 4 + 2], expected(data[x * 4 + 0])) << x;
    EXPECT_EQ(p[x * 4 + 1], expected(data[x * 4 + 1])) << x;
    EXPECT_EQ(p[x * 4 + 0], expected(data[x * 4 + 2])) << x;
    EXPECT_EQ(p[x * 4 + 3], 128);
  }
  EXPECT_LT(brightest, 1.0f);  // 2.0 at alpha 0.5 still fits

  // Opaque values above 1 clip, and the reading says so.
  WriteFloat(Path("bright.exr"), 2, 1, 4, {4.0f, 1.0f, 0.5f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f});
  image = ReadImage(Path("bright.exr"), &error, {}, &brightest);
  ASSERT_TRUE(image) << error;
  EXPECT_EQ(image->rows[0][2], 255);
  EXPECT_EQ(image->rows[0][1], 255);
  EXPECT_EQ(image->rows[0][0], std::lround(Encode(0.5) * 255));
  EXPECT_NEAR(brightest, Encode(4.0), 0.01);
}

TEST_F(ImageFiles, DarkLinearRampKeepsItsSteps) {
  const int w = 512;
  std::vector<float> ramp(size_t(w) * 4);
  for (size_t x = 0; x < size_t(w); ++x) {
    const float v = 0.02f * float(x) / float(w - 1);
    ramp[x * 4 + 0] = ramp[x * 4 + 1] = ramp[x * 4 + 2] = v;
    ramp[x * 4 + 3] = 1.0f;
  }
  WriteFloat(Path("ramp.exr"), w, 1, 4, ramp, oiio::TypeDesc::HALF);
  ImageRef image = ReadBack(Path("ramp.exr"));
  ASSERT_TRUE(image);
  std::set<int> codes;
  for (int x = 0; x < w; ++x) codes.insert(image->Pixel(x, 0)[1]);
  EXPECT_GE(codes.size(), 30u);
  EXPECT_NEAR(image->Pixel(w - 1, 0)[1], Encode(0.02) * 255, 0.6);
}

TEST_F(ImageFiles, DpxAndJpegHoldTheImageOverBlack) {
  ImageRef image = NewImage(64, 32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x) {
      uint8_t* p = image->Pixel(x, y);
      p[0] = uint8_t(x * 4), p[1] = uint8_t(y * 8), p[2] = 128, p[3] = 255;
    }
  uint8_t* half = image->Pixel(10, 10);
  half[3] = 128, half[0] = half[1] = half[2] = 100;  // premultiplied
  std::string error;
  ASSERT_TRUE(WriteImage(*image, Path("a.dpx"), ImageFormat::Dpx, &error)) << error;
  oiio::ImageSpec header;
  FileValues(Path("a.dpx"), &header);
  EXPECT_EQ(header.nchannels, 3);
  EXPECT_EQ(header.get_int_attribute("oiio:BitsPerSample"), 10);
  ImageRef dpx = ReadBack(Path("a.dpx"));
  ASSERT_TRUE(dpx);
  EXPECT_EQ(dpx->Pixel(10, 10)[0], 100);
  EXPECT_EQ(dpx->Pixel(10, 10)[3], 255);
  dpx->Pixel(10, 10)[3] = 128;
  EXPECT_TRUE(SameBytes(*image, *dpx));

  ASSERT_TRUE(WriteImage(*image, Path("a.jpg"), ImageFormat::Jpeg, &error)) << error;
  ImageRef jpeg = ReadBack(Path("a.jpg"));
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(jpeg->Pixel(10, 10)[3], 255);
  long total = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x)
      for (int c = 0; c < 3; ++c) total += std::abs(jpeg->Pixel(x, y)[c] - image->Pixel(x, y)[c]);
  EXPECT_LT(double(total) / (64 * 32 * 3), 3.0);
  Compression quality;
  EXPECT_TRUE(ParseCompression(ImageFormat::Jpeg, "80", &quality, &error));
  EXPECT_EQ(quality.level, 80);
  EXPECT_FALSE(ParseCompression(ImageFormat::Jpeg, "101", &quality, &error));
  EXPECT_FALSE(ParseCompression(ImageFormat::Dpx, "zip", &quality, &error));
}

TEST_F(ImageFiles, MetadataIsWrittenAndRead) {
  ImageRef image = Noise(6, 4, 2, true);
  WriteOptions options;
  options.metadata.copyright = "(c) a studio";
  options.metadata.frameRateNum = 25, options.metadata.frameRateDen = 1;
  options.metadata.displayX = 10, options.metadata.displayY = -4;
  std::string error;
  ASSERT_TRUE(WriteImage(*image, Path("m.exr"), ImageFormat::Exr, &error, options)) << error;
  oiio::ImageSpec header;
  FileValues(Path("m.exr"), &header);
  EXPECT_EQ(std::string(header.get_string_attribute("Software")).rfind("vorn ", 0), 0u)
      << header.serialize(oiio::ImageSpec::SerialText);
  EXPECT_EQ(header.full_x, 10);
  EXPECT_EQ(header.full_y, -4);
  ImageMetadata read;
  ImageRef back = ReadImage(Path("m.exr"), &error, {}, nullptr, &read);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->width, 6);
  EXPECT_EQ(read.copyright, "(c) a studio");
  EXPECT_EQ(read.frameRateNum, 25);
  EXPECT_EQ(read.frameRateDen, 1);
  EXPECT_EQ(read.displayX, 10);
  EXPECT_EQ(read.displayY, -4);
  ASSERT_TRUE(WriteImage(*image, Path("m.png"), ImageFormat::Png, &error, options)) << error;
  FileValues(Path("m.png"), &header);
  EXPECT_EQ(header.get_string_attribute("Copyright"), "(c) a studio");
  EXPECT_EQ(header.get_string_attribute("oiio:ColorSpace"), "sRGB");
}

TEST_F(ImageFiles, LayersOfAMultiLayerFile) {
  auto out = oiio::ImageOutput::create("openexr");
  ASSERT_TRUE(out);
  oiio::ImageSpec layout(2, 1, 5, oiio::TypeDesc::HALF);
  layout.channelnames = {"diffuse.R", "diffuse.G", "diffuse.B", "diffuse.A", "depth.Z"};
  layout.alpha_channel = -1;
  ASSERT_TRUE(out->open(Path("layers.exr"), layout));
  const std::vector<float> values = {1, 0.5f, 0, 1, 7, 0, 0, 0.25f, 1, 9};
  ASSERT_TRUE(out->write_image(oiio::TypeDesc::FLOAT, values.data()));
  ASSERT_TRUE(out->close());
  std::string error;
  ImageRef image = ReadImage(Path("layers.exr"), &error, {"", "diffuse"});
  ASSERT_TRUE(image) << error;
  EXPECT_EQ(image->Pixel(0, 0)[2], 255);
  EXPECT_EQ(image->Pixel(0, 0)[1], std::lround(Encode(0.5) * 255));
  EXPECT_EQ(image->Pixel(1, 0)[0], std::lround(Encode(0.25) * 255));
  // A wrong name or none: the file's layers are named.
  EXPECT_FALSE(ReadImage(Path("layers.exr"), &error, {"", "specular"}));
  EXPECT_NE(error.find("\"specular\""), std::string::npos) << error;
  EXPECT_NE(error.find("\"depth\""), std::string::npos) << error;
  EXPECT_NE(error.find("\"diffuse\""), std::string::npos) << error;
  EXPECT_FALSE(ReadImage(Path("layers.exr"), &error));
  EXPECT_NE(error.find("--input-layer"), std::string::npos) << error;
  ImageInfo info;
  EXPECT_FALSE(ReadImageInfo(Path("layers.exr"), &info, &error, {"", "nope"}));
  EXPECT_TRUE(ReadImageInfo(Path("layers.exr"), &info, &error, {"", "diffuse"})) << error;
}

TEST_F(ImageFiles, ColourSpacesByName) {
  // Built-in names work without a configuration; others are refused with
  // the known ones named.
  std::string error;
  for (const char* name : {"sRGB", "linear", "Rec709"})
    EXPECT_TRUE(CheckColourSpace(name, &error)) << name << ": " << error;
  EXPECT_FALSE(CheckColourSpace("no such space", &error));
  EXPECT_NE(error.find("\"linear\""), std::string::npos) << error;
  EXPECT_NE(error.find("no such space"), std::string::npos) << error;
  // An sRGB file read as linear is encoded once more.
  ImageRef grey = NewImage(1, 1);
  uint8_t* p = grey->Pixel(0, 0);
  p[0] = p[1] = p[2] = 56, p[3] = 255;
  ASSERT_TRUE(WriteImage(*grey, Path("g.png"), ImageFormat::Png, &error)) << error;
  ImageRef asLinear = ReadImage(Path("g.png"), &error, {"linear", ""});
  ASSERT_TRUE(asLinear) << error;
  EXPECT_NEAR(asLinear->Pixel(0, 0)[0], Encode(56 / 255.0) * 255, 0.6);
  // Written as linear into an integer file: decoded.
  WriteOptions linear;
  linear.colourSpace = "linear";
  ASSERT_TRUE(WriteImage(*grey, Path("l.png"), ImageFormat::Png, &error, linear)) << error;
  EXPECT_NEAR(FileValues(Path("l.png"))[0] * 255, Decode(56 / 255.0) * 255, 0.6);
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

// Every written format and layout, cut inside its header, in the middle of
// its pixels and near their end, is refused with the file's name: no row of a
// cut file is read as black or junk. Noise keeps the pixels most of the file.
TEST_F(ImageFiles, FilesCutShortAreRefusedInEveryFormat) {
  struct Case {
    std::string name;
    ImageFormat format;
    BitDepth depth;
    std::string compression;
    bool lastByte;  // the last byte holds a pixel: a cut of one byte is a cut
  };
  const std::vector<Case> cases = {
      {"a.png", ImageFormat::Png, BitDepth::U8, "", false},
      {"b.png", ImageFormat::Png, BitDepth::U16, "0", false},
      {"a.exr", ImageFormat::Exr, BitDepth::Half, "none", true},
      {"b.exr", ImageFormat::Exr, BitDepth::Float, "zip", true},
      {"c.exr", ImageFormat::Exr, BitDepth::Half, "zips", true},
      {"d.exr", ImageFormat::Exr, BitDepth::Half, "piz", true},
      {"e.exr", ImageFormat::Exr, BitDepth::Half, "rle", true},
      {"a.tif", ImageFormat::Tiff, BitDepth::U8, "none", true},
      {"b.tif", ImageFormat::Tiff, BitDepth::U16, "lzw", false},
      {"c.tif", ImageFormat::Tiff, BitDepth::Float, "zip", false},
      {"a.dpx", ImageFormat::Dpx, BitDepth::U8, "", true},
      {"b.dpx", ImageFormat::Dpx, BitDepth::U10, "", true},
      {"c.dpx", ImageFormat::Dpx, BitDepth::U16, "", true},
      {"a.jpg", ImageFormat::Jpeg, BitDepth::U8, "", false},
  };
  ImageRef image = Noise(96, 80, 11, true);
  for (const Case& c : cases) {
    WriteOptions options;
    options.depth = c.depth;
    std::string error;
    ASSERT_TRUE(ParseCompression(c.format, c.compression, &options.compression, &error)) << error;
    ASSERT_TRUE(WriteImage(*image, Path(c.name), c.format, &error, options)) << error;
    ASSERT_TRUE(ReadImage(Path(c.name), &error)) << c.name << ": " << error;
    const auto size = fs::file_size(Path(c.name));
    std::vector<uintmax_t> cuts = {size / 50, size / 2, size * 9 / 10};
    if (c.lastByte) cuts.push_back(size - 1);
    for (uintmax_t cut : cuts) {
      const std::string name = "cut_" + std::to_string(cut) + "_" + c.name;
      fs::copy_file(Path(c.name), Path(name));
      fs::resize_file(Path(name), cut);
      error.clear();
      EXPECT_FALSE(ReadImage(Path(name), &error)) << name << " of " << size;
      EXPECT_NE(error.find(name), std::string::npos) << error;
      // EXR and DPX say where each block lies: their header alone finds the cut.
      ImageInfo info;
      if (c.format == ImageFormat::Exr || c.format == ImageFormat::Dpx) {
        EXPECT_FALSE(ReadImageInfo(Path(name), &info, &error)) << name;
      }
    }
  }
}

// Other formats the library reads, cut inside their pixels, are refused too.
TEST_F(ImageFiles, OtherFormatsCutShortAreRefused) {
  const int w = 48, h = 40;
  std::vector<float> values(size_t(w) * h * 3);
  std::mt19937 gen(9);
  for (float& v : values) v = float(gen() % 256) / 255.0f;
  std::vector<std::string> tried;
  for (const char* name : {"a.bmp", "a.tga", "a.ppm", "a.hdr", "a.sgi", "a.fits", "a.webp", "a.gif",
                           "a.jp2", "a.psd"}) {
    auto out = oiio::ImageOutput::create(name);
    if (!out) continue;  // no writer for it here
    oiio::ImageSpec layout(w, h, 3, oiio::TypeDesc::UINT8);
    if (!out->open(Path(name), layout) || !out->write_image(oiio::TypeDesc::FLOAT, values.data()) ||
        !out->close())
      continue;
    std::string error;
    ASSERT_TRUE(ReadImage(Path(name), &error)) << name << ": " << error;
    tried.push_back(name);
    const auto size = fs::file_size(Path(name));
    for (uintmax_t cut : {size / 2, size * 9 / 10}) {
      const std::string cutName = "cut_" + std::to_string(cut) + "_" + name;
      fs::copy_file(Path(name), Path(cutName));
      fs::resize_file(Path(cutName), cut);
      EXPECT_FALSE(ReadImage(Path(cutName), &error)) << cutName << " of " << size;
    }
  }
  EXPECT_GE(tried.size(), 5u) << ::testing::PrintToString(tried);
}

// The block checks refuse no whole file: EXR of every compression (lossless
// ones read the same as uncompressed), tiles with mipmap levels rounded down
// and up, decreasing line order, a data window off the origin and a file of
// two parts of different sizes.
TEST_F(ImageFiles, WholeFilesOfEveryBlockLayoutAreRead) {
  const int w = 37, h = 70;
  std::vector<float> values(size_t(w) * h * 4);
  std::mt19937 gen(5);
  for (float& v : values) v = float(gen() % 1000) / 1000.0f;
  // Writes level 0 (and smaller levels, halved as the rounding says) of a
  // w x h file with its data window at (x, y).
  auto write = [&](const std::string& name, const std::string& compression, int tile, int levels,
                   int rounding, int x, int y, const char* order) {
    auto out = oiio::ImageOutput::create("openexr");
    ASSERT_TRUE(out);
    oiio::ImageSpec layout(w, h, 4, oiio::TypeDesc::HALF);
    layout.x = layout.full_x = x, layout.y = layout.full_y = y;
    layout.attribute("compression", compression);
    if (order) layout.attribute("openexr:lineOrder", order);
    if (tile > 0) layout.tile_width = layout.tile_height = tile;
    if (levels > 1) {
      layout.attribute("textureformat", "Plain Texture");
      layout.attribute("openexr:levelmode", 1);
      layout.attribute("openexr:roundingmode", rounding);
    }
    ASSERT_TRUE(out->open(Path(name), layout, oiio::ImageOutput::Create)) << out->geterror();
    ASSERT_TRUE(out->write_image(oiio::TypeDesc::FLOAT, values.data())) << out->geterror();
    for (int level = 1, lw = w, lh = h; level < levels; ++level) {
      lw = std::max(1, rounding ? (lw + 1) / 2 : lw / 2);
      lh = std::max(1, rounding ? (lh + 1) / 2 : lh / 2);
      oiio::ImageSpec smaller = layout;
      smaller.width = smaller.full_width = lw, smaller.height = smaller.full_height = lh;
      ASSERT_TRUE(out->open(Path(name), smaller, oiio::ImageOutput::AppendMIPLevel))
          << out->geterror();
      ASSERT_TRUE(out->write_image(oiio::TypeDesc::FLOAT, values.data())) << out->geterror();
    }
    ASSERT_TRUE(out->close());
  };
  write("none.exr", "none", 0, 1, 0, 0, 0, nullptr);
  std::string error;
  ImageRef plain = ReadImage(Path("none.exr"), &error);
  ASSERT_TRUE(plain) << error;
  for (const char* c : {"rle", "zips", "zip", "piz", "pxr24", "b44", "b44a", "dwaa", "dwab"}) {
    const std::string name = std::string(c) + ".exr";
    write(name, c, 0, 1, 0, 0, 0, nullptr);
    ImageRef image = ReadImage(Path(name), &error);
    ASSERT_TRUE(image) << name << ": " << error;
    if (std::string("rle zips zip piz").find(c) != std::string::npos) {
      EXPECT_TRUE(SameBytes(*plain, *image)) << name;
    }
  }
  write("mip_down.exr", "zip", 16, 7, 0, 0, 0, nullptr);
  write("mip_up.exr", "piz", 8, 8, 1, 0, 0, nullptr);
  write("decreasing.exr", "zip", 0, 1, 0, 0, 0, "decreasingY");
  write("offset.exr", "piz", 0, 1, 0, -3, -45, nullptr);
  write("tiles_offset.exr", "none", 16, 1, 0, 5, -7, nullptr);
  for (const char* name :
       {"mip_down.exr", "mip_up.exr", "decreasing.exr", "offset.exr", "tiles_offset.exr"}) {
    ImageRef image = ReadImage(Path(name), &error);
    ASSERT_TRUE(image) << name << ": " << error;
    EXPECT_TRUE(SameBytes(*plain, *image)) << name;
  }

  // Two parts: the second, larger one read by its name.
  auto out = oiio::ImageOutput::create("openexr");
  ASSERT_TRUE(out);
  oiio::ImageSpec parts[2] = {oiio::ImageSpec(5, 3, 4, oiio::TypeDesc::HALF),
                              oiio::ImageSpec(w, h, 4, oiio::TypeDesc::FLOAT)};
  parts[0].full_width = w, parts[0].full_height = h;  // one display window for all parts
  parts[0].attribute("oiio:subimagename", "small");
  parts[1].attribute("oiio:subimagename", "large");
  parts[1].attribute("compression", "zip");
  ASSERT_TRUE(out->open(Path("parts.exr"), 2, parts)) << out->geterror();
  ASSERT_TRUE(out->write_image(oiio::TypeDesc::FLOAT, values.data()));
  ASSERT_TRUE(out->open(Path("parts.exr"), parts[1], oiio::ImageOutput::AppendSubimage));
  ASSERT_TRUE(out->write_image(oiio::TypeDesc::FLOAT, values.data()));
  ASSERT_TRUE(out->close());
  ImageRef small = ReadImage(Path("parts.exr"), &error);
  ASSERT_TRUE(small) << error;
  EXPECT_EQ(small->width, w);
  EXPECT_EQ(small->Pixel(5, 0)[3], 0);
  ImageRef large = ReadImage(Path("parts.exr"), &error, {"", "large"});
  ASSERT_TRUE(large) << error;
  EXPECT_LE(LargestDifference(*plain, *large), 1);  // float, not half, values
}

// Only a lower pixel limit can be set for inputs, and a bad one is named.
TEST_F(ImageFiles, TheInputPixelLimitCanBeLowered) {
  ImageRef image = Noise(40, 30, 2);
  std::string error;
  ASSERT_TRUE(WriteImage(*image, Path("a.png"), ImageFormat::Png, &error)) << error;
  ImageInfo info;
  struct Case {
    const char* limit;
    bool reads;
    const char* message;
  };
  for (const Case& c : {Case{"1200", true, ""}, Case{"1199", false, "at most 1199 pixels"},
                        Case{"268435457", false, "from 1 to 268435456"},
                        Case{"lots", false, "VORN_MAX_INPUT_PIXELS is \"lots\""}}) {
    ::setenv("VORN_MAX_INPUT_PIXELS", c.limit, 1);
    error.clear();
    EXPECT_EQ(ReadImageInfo(Path("a.png"), &info, &error), c.reads) << c.limit;
    EXPECT_EQ(bool(ReadImage(Path("a.png"), &error)), c.reads) << c.limit;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.limit << ": " << error;
  }
  ::unsetenv("VORN_MAX_INPUT_PIXELS");
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
  // A half-transparent premultiplied pixel adds its colour to the ground's
  // share left by its alpha: 100 + 60 × 127 / 255.
  uint8_t* ground = target->Pixel(0, 0);
  ground[0] = ground[1] = ground[2] = 60;
  ImageRef glass = NewImage(1, 1);
  uint8_t* g = glass->Pixel(0, 0);
  g[0] = g[1] = g[2] = 100, g[3] = 128;
  ScaleInto(*glass, target.get(), 0, 0, 1, 1);
  EXPECT_EQ(target->Pixel(0, 0)[0], 130);

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
