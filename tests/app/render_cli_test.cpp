// vorn render end to end, with the probe tool: values, keyframes, presets,
// buttons, worker counts, image inputs, file formats and compositions.
#include <dfsystem/processors.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "default_images.h"
#include "vorn_runner.h"

namespace vorn::test {
namespace {

using Render = VornTest;

// Every byte of an image has one value.
void ExpectFilled(const df::Image& image, uint8_t value) {
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width * 4; ++x)
      ASSERT_EQ(image.rows[y][x], value) << "at byte " << x << " of row " << y;
}

uint8_t FillByte(double level) {
  return uint8_t(float(level) * 255.0f);
}

TEST_F(Render, SetsNumbersAndCombosAndWritesEachFormat) {
  const std::vector<std::vector<std::string>> outputs = {{"a.png"},
                                                         {"a.exr"},
                                                         {"a.tif"},
                                                         {"b.png", "--compression", "1"},
                                                         {"b.exr", "--compression", "piz"},
                                                         {"b.tif", "--compression", "lzw"}};
  for (const auto& output : outputs) {
    const std::string& out = output[0];
    std::vector<std::string> args = {"render",    "Probe",  "--set", "Mode=Fill", "--set",
                                     "Level=0.5", "--size", "64x32", "--out"};
    args.insert(args.end(), output.begin(), output.end());
    RunResult r = Probe(args);
    ASSERT_EQ(r.code, 0) << r.err;
    ImageRef image = Image(out);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 64);
    EXPECT_EQ(image->height, 32);
    ExpectFilled(*image, 127);
  }
  // Combo by index, tool by class name, case-insensitive item.
  RunResult r = Probe({"render", "ProbePlugIn", "--set", "Mode=1", "--set", "Level=1", "--size",
                       "8x8", "--out", "one.png"});
  ASSERT_EQ(r.code, 0) << r.err;
  ExpectFilled(*Image("one.png"), 255);
  r = Probe({"render", "Probe", "--set", "Mode=fill", "--set", "Level=0", "--size", "8x8", "--out",
             "c.png"});
  ASSERT_EQ(r.code, 0) << r.err;
  ExpectFilled(*Image("c.png"), 0);
}

TEST_F(Render, KeyframesInterpolateLinearlyOverTheFrames) {
  RunResult r = Probe({"render", "Probe", "--set", "Mode=Fill", "--set", "Level=0@0,1@10",
                       "--frames", "0-10", "--size", "4x4", "--out", "k.#.png"});
  ASSERT_EQ(r.code, 0) << r.err;
  for (int f = 0; f <= 10; ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "k.%04d.png", f);
    ImageRef image = Image(name);
    ASSERT_TRUE(image) << name;
    EXPECT_EQ(image->rows[0][0], FillByte(f / 10.0)) << name;
  }
  // Held beyond the last key; negative frames; a stepped list; one-digit padding.
  r = Probe({"render", "Probe", "--set", "Mode=Fill", "--set", "Level=0.2@-4,0.6@-2", "--frames",
             "-6--2x2", "--size", "4x4", "--out", "n.@.png"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Image("n.-6.png")->rows[0][0], FillByte(0.2));
  EXPECT_EQ(Image("n.-4.png")->rows[0][0], FillByte(0.2));
  EXPECT_EQ(Image("n.-2.png")->rows[0][0], FillByte(0.6));
  EXPECT_FALSE(fs::exists(Path("n.-5.png")));
}

TEST_F(Render, PresetsButtonsAndOrderOfSettings) {
  struct Case {
    std::vector<std::string> args;
    double level;
  };
  const std::vector<Case> cases = {
      {{"--preset", "Bright"}, 0.75},
      {{"--preset", "Dim"}, 0.25},
      {{"--preset", "Bright", "--set", "Level=0.1"}, 0.1},
      {{"--set", "Level=0.1", "--preset", "Bright"}, 0.75},
      {{"--set", "Demos=Bright"}, 0.75},
      {{"--set", "Level=0.1", "--set", "Poke=1"}, 1.0},
      {{"--set", "Level=0.1", "--set", "Poke=0"}, 0.1},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"render", "Probe", "--set", "Mode=Fill",
                                     "--size", "4x4",   "--out", "p.png"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult r = Probe(args);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Image("p.png")->rows[0][0], FillByte(c.level)) << ::testing::PrintToString(c.args);
  }
}

TEST_F(Render, WorkersSetTheChunkCount) {
  // Chunks mode writes its chunk number into each band of rows.
  RunResult r = Probe({"render", "Probe", "--size", "3x8", "--workers", "4", "--out", "w4.png"});
  ASSERT_EQ(r.code, 0) << r.err;
  ImageRef image = Image("w4.png");
  for (int y = 0; y < 8; ++y) EXPECT_EQ(image->rows[y][0], y / 2) << "row " << y;
  r = Probe({"render", "Probe", "--size", "3x8", "--out", "env.png"}, {{"NUM_PROC_VORN", "2"}});
  ASSERT_EQ(r.code, 0) << r.err;
  image = Image("env.png");
  EXPECT_EQ(image->rows[3][0], 0);
  EXPECT_EQ(image->rows[4][0], 1);
}

TEST_F(Render, ImageInputsAndBuiltInImages) {
  // Without a file, the required input gets the test card of --size.
  RunResult r =
      Probe({"render", "Probe", "--set", "Mode=Copy", "--size", "96x54", "--out", "card.png"});
  ASSERT_EQ(r.code, 0) << r.err;
  ImageRef card = Image("card.png");
  ImageRef expected = MakeTestCard(96, 54, 1.0);
  ASSERT_EQ(card->width, 96);
  ASSERT_EQ(card->height, 54);
  for (int y = 0; y < 54; ++y)
    ASSERT_EQ(std::memcmp(card->rows[y], expected->rows[y], 96 * 4), 0) << "row " << y;

  // A file given for the input is copied byte for byte, and sets the size.
  ImageRef source = NewImage(5, 3);
  for (int i = 0; i < 5 * 3 * 4; ++i) source->rows[0][i] = uint8_t(i * 17);
  std::string error;
  ASSERT_TRUE(WriteImage(*source, Path("in.tif"), ImageFormat::Tiff, &error)) << error;
  r = Probe(
      {"render", "Probe", "--input", "Input=in.tif", "--set", "Mode=Copy", "--out", "copy.exr"});
  ASSERT_EQ(r.code, 0) << r.err;
  ImageRef copy = Image("copy.exr");
  ASSERT_EQ(copy->width, 5);
  ASSERT_EQ(copy->height, 3);
  EXPECT_EQ(std::memcmp(copy->rows[0], source->rows[0], 5 * 3 * 4), 0);

  // An input sequence: one file per frame.
  for (int f = 1; f <= 2; ++f) {
    ImageRef frame = MakeBlack(4, 4, 1);
    frame->rows[0][0] = uint8_t(f * 50);
    ASSERT_TRUE(
        WriteImage(*frame, Path("seq." + std::to_string(f) + ".png"), ImageFormat::Png, &error));
  }
  r = Probe({"render", "Probe", "--input", "Input=seq.@.png", "--set", "Mode=Copy", "--frames",
             "1-2", "--out", "o.@.png"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Image("o.1.png")->rows[0][0], 50);
  EXPECT_EQ(Image("o.2.png")->rows[0][0], 100);
}

TEST_F(Render, MismatchedSizesWarnAndRenderThePattern) {
  std::string error;
  ASSERT_TRUE(WriteImage(*MakeBlack(32, 32, 1), Path("matte.png"), ImageFormat::Png, &error));
  RunResult r = Probe({"render", "Probe", "--input", "Matte(optional)=matte.png", "--size", "64x32",
                       "--out", "m.png"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("warning: image sizes disagree"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\"Matte(optional)\" is 32 x 32"), std::string::npos) << r.err;
  ImageRef m = Image("m.png");
  // First row: the red band covers columns 0-9 over a ground of 60.
  EXPECT_EQ(m->Pixel(0, 0)[2], 255);
  EXPECT_EQ(m->Pixel(9, 0)[3], 255);
  EXPECT_EQ(m->Pixel(9, 0)[0], 60);
  EXPECT_EQ(m->Pixel(10, 0)[2], 60);
}

TEST_F(Render, SavedCompositionsReloadExactly) {
  const std::vector<std::string> settings = {
      "--set", "Mode=Fill", "--set", "Level=0.2@0,0.8@4", "--set", "Where=0.25,0.75"};
  std::vector<std::string> args = {"render", "Probe",  "--frames", "0-4",   "--size",
                                   "4x4",    "--save", "a.vcomp",  "--out", "a.#.png"};
  args.insert(args.end(), settings.begin(), settings.end());
  RunResult r = Probe(args);
  ASSERT_EQ(r.code, 0) << r.err;
  // Loaded without naming the tool, saved again: the same bytes, the same frames.
  r = Probe({"render", "--comp", "a.vcomp", "--frames", "0-4", "--size", "4x4", "--save", "b.vcomp",
             "--out", "b.#.png"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadText(Path("a.vcomp")), ReadText(Path("b.vcomp")));
  const std::string bytes = ReadText(Path("a.vcomp"));
  ASSERT_GE(bytes.size(), 12u);
  EXPECT_EQ(bytes.substr(bytes.size() - 8), std::string("\0\0\0\0EndC", 8));
  for (int f = 0; f <= 4; ++f) {
    const std::string n = std::to_string(f);
    EXPECT_EQ(ReadText(Path("a.000" + n + ".png")), ReadText(Path("b.000" + n + ".png")));
  }
  // Command-line order: a later --set overrides the composition, an earlier one does not.
  r = Probe({"render", "Probe", "--comp", "a.vcomp", "--set", "Level=1", "--size", "4x4", "--out",
             "after.png"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Image("after.png")->rows[0][0], 255);
  r = Probe({"render", "Probe", "--set", "Level=1", "--comp", "a.vcomp", "--size", "4x4", "--out",
             "before.png"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Image("before.png")->rows[0][0], FillByte(0.2));
  // --save alone writes the composition and renders nothing.
  r = Probe({"render", "Probe", "--set", "Level=0.3", "--save", "only.vcomp"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::exists(Path("only.vcomp")));
}

TEST_F(Render, AFailedWriteStopsTheSequenceWithStatusOne) {
  // Frame 4's file name is taken by a folder, which no rename can replace,
  // while the run goes on (a folder there before it starts is refused).
  const pid_t pid =
      Start({"--plugins", PROBE_PLUGIN_FOLDER, "render", "Probe", "--size", "4x4", "--set",
             "Delay=150", "--workers", "1", "--frames", "1-5", "--out", "w.#.png"});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!fs::exists(Path("w.0001.png")) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  fs::create_directories(Path("w.0004.png"));
  RunResult r = Wait(pid);
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_NE(r.err.find("frame 4"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("of 5 frames written"), std::string::npos) << r.err;
  const std::vector<std::string> files = Files();
  ASSERT_FALSE(files.empty());
  EXPECT_EQ(files.front(), "w.0001.png");
  EXPECT_FALSE(fs::exists(Path("w.0005.png")));
  for (const std::string& f : files) EXPECT_EQ(f.find(".tmp"), std::string::npos) << f;
}

TEST_F(Render, ShowDescribesACompositionInWords) {
  RunResult r = Probe({"render", "Probe", "--set", "Mode=Copy", "--set", "Level=0@0,2.5@48",
                       "--set", "Where=0.25,0.5", "--save", "s.vcomp"});
  ASSERT_EQ(r.code, 0) << r.err;
  r = Probe({"show", "s.vcomp"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Probe  (ProbePlugIn), class id 0x8001FF01"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Levl  Level"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("keyframes: 0 @ 0, 2.5 @ 48"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("2 (Copy)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("0.25, 0.5"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("0x00000000 0x43646E45 (\"EndC\")"), std::string::npos) << r.out;
  r = Probe({"show", "--json", "s.vcomp"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\"caption\": \"Level\""), std::string::npos) << r.out;
  // Without the plug-in the record is still shown, by ids.
  r = Run({"--plugins", dir_.string(), "show", "s.vcomp"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("no loaded plug-in registers it"), std::string::npos) << r.out;
}

// Frames are encoded and written by a thread per core the run may use (a
// Slurm task's share), whatever the render's workers; --writers overrides.
TEST_F(Render, WritersDefaultToOnePerCore) {
  const int cores = df::AvailableProcessors();
  auto writers = [&](std::vector<std::string> extra,
                     const std::vector<std::pair<std::string, std::string>>& env = {}) {
    std::vector<std::string> args = {"render", "Probe",   "--size", "8x8",    "--frames",
                                     "1-2",    "--stats", "--out",  "s.#.png"};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult r = Probe(args, env);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("render per frame: first "), std::string::npos) << r.out;
    const size_t at = r.out.find("writer threads ");
    return at == std::string::npos ? -1 : std::atoi(r.out.c_str() + at + 15);
  };
  EXPECT_EQ(writers({"--workers", "1"}), std::clamp(cores, 1, 16));
  EXPECT_EQ(writers({"--workers", std::to_string(cores)}), std::clamp(cores, 1, 16));
  EXPECT_EQ(writers({"--workers", "1", "--writers", "3"}), 3);
  EXPECT_EQ(writers({"--workers", "1"}, {{"SLURM_CPUS_PER_TASK", "1"}}), 1);
  EXPECT_EQ(writers({}, {{"SLURM_CPUS_PER_TASK", "2"}}), std::min(cores, 2));
}

}  // namespace
}  // namespace vorn::test
