// vorn render's colour handling end to end: colour-space options and $OCIO,
// clipping reported once, metadata carried from the main input, layers,
// bit depths and the formats written.
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cmath>

#include "default_images.h"
#include "vorn_runner.h"

namespace vorn::test {
namespace {

namespace oiio = OIIO;

class ColourCli : public VornTest {
 protected:
  // A float RGBA file of one colour, with the header attributes given.
  void WriteExr(const std::string& name, int w, int h, const float rgba[4],
                const std::function<void(oiio::ImageSpec&)>& header = nullptr) {
    auto out = oiio::ImageOutput::create("openexr");
    ASSERT_TRUE(out);
    oiio::ImageSpec layout(w, h, 4, oiio::TypeDesc::HALF);
    if (header) header(layout);
    std::vector<float> values(size_t(w) * size_t(h) * 4);
    for (size_t i = 0; i < values.size(); ++i) values[i] = rgba[i % 4];
    ASSERT_TRUE(out->open(Path(name), layout));
    ASSERT_TRUE(out->write_image(oiio::TypeDesc::FLOAT, values.data()));
    ASSERT_TRUE(out->close());
  }
  oiio::ImageSpec Header(const std::string& name, std::vector<float>* values = nullptr) {
    auto in = oiio::ImageInput::open(Path(name));
    EXPECT_TRUE(in) << name;
    if (!in) return {};
    if (values) {
      values->resize(size_t(in->spec().image_pixels()) * size_t(in->spec().nchannels));
      EXPECT_TRUE(
          in->read_image(0, 0, 0, in->spec().nchannels, oiio::TypeDesc::FLOAT, values->data()));
    }
    return in->spec();
  }
  // An OpenColorIO configuration of a raw and a scene-linear space, and one
  // more space `name`: `matrix` (row by row, 4 x 4) from scene-linear.
  std::string WriteOcioConfig(const std::string& name, const std::vector<double>& matrix) {
    std::ofstream config(Path("config.ocio"));
    config << R"(ocio_profile_version: 2
roles:
  default: raw
  scene_linear: lin
file_rules:
  - !<Rule> {name: Default, colorspace: default}
colorspaces:
  - !<ColorSpace>
    name: raw
    isdata: true
  - !<ColorSpace>
    name: lin
)";
    config << "  - !<ColorSpace>\n    name: " << name
           << "\n    from_scene_reference: !<MatrixTransform> {matrix: [";
    for (size_t i = 0; i < matrix.size(); ++i) config << (i ? ", " : "") << matrix[i];
    config << "]}\n";
    return Path("config.ocio");
  }
  RunResult Copy(std::vector<std::string> more,
                 const std::vector<std::pair<std::string, std::string>>& env = {}) {
    std::vector<std::string> args = {"render", "Probe", "--set", "Mode=Copy"};
    args.insert(args.end(), more.begin(), more.end());
    return Probe(args, env);
  }
};

TEST_F(ColourCli, UnknownColourSpacesAndDepthsAreRefusedBeforeWriting) {
  const float grey[4] = {0.2f, 0.2f, 0.2f, 1.0f};
  WriteExr("in.exr", 4, 4, grey);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--output-colorspace", "Kodak Log"},
        {"--input-colorspace", "Kodak Log"},
        {"--input-colorspace", "Input=Kodak Log"}}) {
    std::vector<std::string> all = {"--input", "Input=in.exr", "--out",
                                    "o.#.png", "--frames",     "1-2"};
    all.insert(all.end(), args.begin(), args.end());
    RunResult r = Copy(all);
    EXPECT_EQ(r.code, 2) << args[0];
    EXPECT_NE(r.err.find("unknown colour space \"Kodak Log\""), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\"sRGB\", "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\"Rec709\""), std::string::npos) << r.err;
  }
  RunResult r = Copy({"--out", "o.exr", "--bit-depth", "8"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("EXR is written in \"half\", \"float\""), std::string::npos) << r.err;
  r = Copy({"--input-layer", "Nothing=beauty", "--out", "o.png"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("Nothing"), std::string::npos) << r.err;
  EXPECT_EQ(Files(), std::vector<std::string>{"in.exr"});
}

TEST_F(ColourCli, ConfigurationOfOcioIsUsed) {
  // A space whose values are half the scene-linear ones.
  WriteOcioConfig("lin_half", {0.5, 0, 0, 0, 0, 0.5, 0, 0, 0, 0, 0.5, 0, 0, 0, 0, 1});
  const float value[4] = {0.1f, 0.1f, 0.1f, 1.0f};
  WriteExr("in.exr", 2, 2, value);
  const std::vector<std::pair<std::string, std::string>> env = {{"OCIO", Path("config.ocio")}};
  RunResult r =
      Copy({"--input", "Input=in.exr", "--input-colorspace", "lin_half", "--out", "o.exr"}, env);
  ASSERT_EQ(r.code, 0) << r.err;
  std::vector<float> values;
  Header("o.exr", &values);
  ASSERT_FALSE(values.empty());
  EXPECT_NEAR(values[0], 0.2, 0.01);
  // The configuration's names are listed; without it the name is unknown.
  r = Copy({"--output-colorspace", "nope", "--out", "n.png"}, env);
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("\"lin_half\""), std::string::npos) << r.err;
  r = Copy({"--input", "Input=in.exr", "--input-colorspace", "lin_half", "--out", "p.exr"},
           {{"OCIO", ""}});
  EXPECT_EQ(r.code, 2) << r.err;
  EXPECT_FALSE(fs::exists(Path("p.exr")));
}

// An output space that mixes channels cannot be written by per-channel
// tables: each written value must be the mix of the frame's linear values.
TEST_F(ColourCli, AnOutputSpaceMixingChannelsIsWrittenWhole) {
  const double m[3][3] = {{0.6, 0.3, 0.1}, {0.2, 0.7, 0.1}, {0.05, 0.15, 0.8}};
  std::vector<double> matrix;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) matrix.push_back(r < 3 && c < 3 ? m[r][c] : r == c ? 1.0 : 0.0);
  WriteOcioConfig("mixed", matrix);
  const float value[4] = {0.05f, 0.4f, 0.8f, 0.75f};
  WriteExr("in.exr", 3, 2, value);
  const std::vector<std::pair<std::string, std::string>> env = {{"OCIO", Path("config.ocio")}};
  for (const char* depth : {"float", "half"}) {
    const std::string plain = std::string("plain-") + depth + ".exr";
    const std::string mixed = std::string("mixed-") + depth + ".exr";
    ASSERT_EQ(Copy({"--input", "Input=in.exr", "--out", plain, "--bit-depth", depth}, env).code, 0);
    RunResult r = Copy({"--input", "Input=in.exr", "--out", mixed, "--bit-depth", depth,
                        "--output-colorspace", "mixed"},
                       env);
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<float> lin, out;
    Header(plain, &lin);
    Header(mixed, &out);
    ASSERT_EQ(lin.size(), out.size());
    ASSERT_EQ(lin.size(), size_t(3 * 2 * 4));
    const double tolerance = depth[0] == 'h' ? 2e-3 : 1e-5;
    for (size_t px = 0; px < lin.size(); px += 4) {
      for (int c = 0; c < 3; ++c) {
        double want = 0;
        for (int k = 0; k < 3; ++k) want += m[c][k] * lin[px + size_t(k)];
        EXPECT_NEAR(out[px + size_t(c)], want, tolerance) << depth << " channel " << c;
      }
      EXPECT_EQ(out[px + 3], lin[px + 3]);
    }
  }
}

TEST_F(ColourCli, ClippedValuesAreReportedOnce) {
  const float bright[4] = {4.0f, 0.5f, 0.0f, 1.0f};
  for (int f = 1; f <= 3; ++f) WriteExr("hot." + std::to_string(f) + ".exr", 4, 4, bright);
  RunResult r =
      Copy({"--input", "Input=hot.@.exr", "--frames", "1-3", "--out", "o.#.png", "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  r = Copy({"--input", "Input=hot.@.exr", "--frames", "1-3", "--out", "o.#.png"});
  ASSERT_EQ(r.code, 0) << r.err;
  const size_t at = r.err.find("above 1");
  EXPECT_NE(at, std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("above 1", at + 1), std::string::npos) << r.err;
  ImageRef out = Image("o.0002.png");
  ASSERT_TRUE(out);
  EXPECT_EQ(out->Pixel(0, 0)[2], 255);
}

// Premultiplied colour above alpha (light with little coverage) comes back
// whole through TIFF and EXR; PNG's straight alpha clips it, said once a run.
TEST_F(ColourCli, AdditiveLightIsKeptOrItsLossSaid) {
  ImageRef light = MakeTestCard(4, 4, 1);
  ASSERT_TRUE(light);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      uint8_t* p = light->Pixel(x, y);
      const uint8_t bgra[4] = {159, uint8_t(40 * x), 20, uint8_t(16 + 60 * y)};
      std::copy(bgra, bgra + 4, p);
    }
  std::string error;
  ASSERT_TRUE(WriteImage(*light, Path("light.tif"), ImageFormat::Tiff, &error)) << error;
  for (const char* out : {"t.#.tif", "e.#.exr", "p.#.png"}) {
    RunResult r = Copy({"--input", "Input=light.tif", "--frames", "1-3", "--out", out});
    ASSERT_EQ(r.code, 0) << r.err;
    const bool png = std::string(out) == "p.#.png";
    const size_t at = r.err.find("additive light");
    EXPECT_EQ(at != std::string::npos, png) << out << ": " << r.err;
    if (png) {
      EXPECT_NE(r.err.find("3 of 3 frames had additive light"), std::string::npos) << r.err;
      EXPECT_EQ(r.err.find("additive light", at + 1), std::string::npos) << r.err;
      continue;
    }
    std::string name = out;
    name.replace(name.find('#'), 1, "0002");
    ImageRef back = Image(name);
    ASSERT_TRUE(back);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x)
        for (int c = 0; c < 4; ++c)
          EXPECT_EQ(back->Pixel(x, y)[c], light->Pixel(x, y)[c]) << out << " " << x << "," << y;
  }
}

TEST_F(ColourCli, MetadataOfTheMainInputIsCarried) {
  const float grey[4] = {0.2f, 0.2f, 0.2f, 1.0f};
  WriteExr("plate.exr", 8, 4, grey, [](oiio::ImageSpec& layout) {
    layout.full_x = layout.x = 100;
    layout.full_y = layout.y = 50;
    layout.attribute("Copyright", "(c) the show");
    const int rate[2] = {24000, 1001};
    layout.attribute("FramesPerSecond", oiio::TypeRational, rate);
    layout.attribute("PixelAspectRatio", 2.0f);
  });
  const float other[4] = {1, 1, 1, 1};
  WriteExr("matte.exr", 8, 4, other,
           [](oiio::ImageSpec& layout) { layout.attribute("Copyright", "(c) someone else"); });
  // The matte comes first on the command line; the main input still decides.
  RunResult r = Copy(
      {"--input", "Matte(optional)=matte.exr", "--input", "Input=plate.exr", "--out", "o.exr"});
  ASSERT_EQ(r.code, 0) << r.err;
  oiio::ImageSpec header = Header("o.exr");
  EXPECT_EQ(header.get_string_attribute("Copyright"), "(c) the show");
  EXPECT_EQ(header.full_x, 100);
  EXPECT_EQ(header.full_y, 50);
  EXPECT_EQ(header.full_width, 8);
  EXPECT_FLOAT_EQ(header.get_float_attribute("PixelAspectRatio"), 2.0f);
  const oiio::ParamValue* rate = header.find_attribute("FramesPerSecond");
  ASSERT_TRUE(rate);
  ASSERT_EQ(rate->type(), oiio::TypeRational);
  EXPECT_EQ(static_cast<const int*>(rate->data())[0], 24000);
  EXPECT_EQ(static_cast<const int*>(rate->data())[1], 1001);
  EXPECT_EQ(std::string(header.get_string_attribute("Software")).rfind("vorn ", 0), 0u);
  // The value survives the trip through the tools' 8 bits.
  std::vector<float> values;
  Header("o.exr", &values);
  EXPECT_NEAR(values[0], 0.2, 0.004);
}

TEST_F(ColourCli, LayersFormatsAndDepths) {
  auto out = oiio::ImageOutput::create("openexr");
  ASSERT_TRUE(out);
  oiio::ImageSpec layout(4, 2, 4, oiio::TypeDesc::HALF);
  layout.channelnames = {"beauty.R", "beauty.G", "beauty.B", "beauty.A"};
  layout.alpha_channel = -1;
  ASSERT_TRUE(out->open(Path("layers.exr"), layout));
  const std::vector<float> values(4 * 2 * 4, 1.0f);
  ASSERT_TRUE(out->write_image(oiio::TypeDesc::FLOAT, values.data()));
  ASSERT_TRUE(out->close());

  RunResult r =
      Copy({"--input", "Input=layers.exr", "--input-layer", "Input=specular", "--out", "o.png"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("its layers: \"beauty\""), std::string::npos) << r.err;
  for (const char* name : {"o.png", "o.dpx", "o.jpg", "o16.png", "of.tif"}) {
    std::vector<std::string> args = {
        "--input", "Input=layers.exr", "--input-layer", "Input=beauty", "--out", name};
    if (std::string(name) == "o16.png") args.insert(args.end(), {"--bit-depth", "16"});
    if (std::string(name) == "of.tif") args.insert(args.end(), {"--bit-depth", "float"});
    r = Copy(args);
    ASSERT_EQ(r.code, 0) << name << ": " << r.err;
    ImageRef image = Image(name);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Pixel(3, 1)[0], 255) << name;
  }
  EXPECT_EQ(Header("o16.png").format, oiio::TypeDesc::UINT16);
  EXPECT_EQ(Header("of.tif").format, oiio::TypeDesc::FLOAT);
  EXPECT_EQ(Header("o.dpx").nchannels, 3);
}

}  // namespace
}  // namespace vorn::test
