// How vorn drives tools: a tool whose frames depend on the frames before is
// stepped through the whole shot (the probe's "sequence" kind counts its
// steps into every pixel), points are set without notification, command-line
// keyframes cost memory in proportion to their count, and compositions with
// values out of range are taken with a warning.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "vorn_runner.h"

namespace vorn::test {
namespace {

using Sequence = VornTest;

const std::vector<std::pair<std::string, std::string>> kSequenceProbe = {
    {"PROBE_KIND", "sequence"}};

std::string Name(const char* prefix, int frame) {
  char name[64];
  std::snprintf(name, sizeof name, "%s.%04d.png", prefix, frame);
  return name;
}

// Steps since the probe's last restart, as its pixels tell them.
int Steps(const df::Image& image) {
  return image.rows[0][0] | (image.rows[0][1] << 8);
}

TEST_F(Sequence, EveryFrameOfTheShotIsSteppedAndOnlyTheAskedOnesWritten) {
  const std::vector<std::string> common = {"render", "Probe", "--size", "4x2"};
  auto render = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = common;
    args.insert(args.end(), extra.begin(), extra.end());
    RunResult r = Probe(args, kSequenceProbe);
    EXPECT_EQ(r.code, 0) << r.err;
    return r;
  };
  render({"--frames", "0-12", "--out", "all.#.png"});
  RunResult r = render({"--frames", "0-12x3", "--out", "odd.#.png"});
  EXPECT_NE(r.err.find("simulating frames 0 to 12, writing 5"), std::string::npos) << r.err;
  // One chunk of a farm job: frames 7-12 of a shot that starts at 0.
  render({"--frames", "7-12", "--shot-start", "0", "--out", "chunk.#.png"});
  for (int f = 0; f <= 12; ++f) {
    ImageRef all = Image(Name("all", f));
    ASSERT_TRUE(all);
    EXPECT_EQ(Steps(*all), f + 1) << f;
    EXPECT_EQ(all->rows[0][2], f) << f;
    const std::string whole = ReadText(Path(Name("all", f)));
    if (f % 3 == 0) {
      EXPECT_EQ(ReadText(Path(Name("odd", f))), whole) << f;
    }
    EXPECT_EQ(fs::exists(Path(Name("odd", f))), f % 3 == 0) << f;
    if (f >= 7) {
      EXPECT_EQ(ReadText(Path(Name("chunk", f))), whole) << f;
    }
    EXPECT_EQ(fs::exists(Path(Name("chunk", f))), f >= 7) << f;
  }
}

// Several writers finish frames out of order; a log still reads in frame
// order with the count rising by one a line.
TEST_F(Sequence, ProgressLinesFollowTheFramesWithSeveralWriters) {
  RunResult r = Probe({"render", "Probe", "--size", "96x64", "--frames", "1-24", "--writers", "4",
                       "--out", "p.#.tif"});
  ASSERT_EQ(r.code, 0) << r.err;
  std::istringstream lines(r.err);
  std::string line;
  int expected = 1;
  while (std::getline(lines, line)) {
    int frame = 0, count = 0;
    if (std::sscanf(line.c_str(), "frame %d done (%d of 24", &frame, &count) != 2) continue;
    EXPECT_EQ(frame, expected) << r.err;
    EXPECT_EQ(count, expected) << r.err;
    ++expected;
  }
  EXPECT_EQ(expected, 25) << r.err;
}

TEST_F(Sequence, ButtonsActBeforeTheShotsFirstStep) {
  // "Poke" restarts the probe with ten steps of preroll.
  for (const char* prefix : {"long", "chunk"}) {
    const bool chunk = std::string(prefix) == "chunk";
    std::vector<std::string> args = {"render",   "Probe",
                                     "--size",   "2x2",
                                     "--set",    "Poke=1",
                                     "--frames", chunk ? "5-6" : "0-6",
                                     "--out",    std::string(prefix) + ".#.png"};
    if (chunk) args.insert(args.end(), {"--shot-start", "0"});
    RunResult r = Probe(args, kSequenceProbe);
    ASSERT_EQ(r.code, 0) << r.err;
  }
  EXPECT_EQ(Steps(*Image(Name("long", 0))), 11);
  EXPECT_EQ(Steps(*Image(Name("chunk", 5))), 16);
  EXPECT_EQ(ReadText(Path(Name("chunk", 5))), ReadText(Path(Name("long", 5))));
  EXPECT_EQ(ReadText(Path(Name("chunk", 6))), ReadText(Path(Name("long", 6))));
  // A shot that starts before the frames of an input sequence needs them too.
  RunResult r = Probe({"render", "Probe", "--input", "Input=in.#.png", "--frames", "3",
                       "--shot-start", "1", "--out", "x.png"},
                      kSequenceProbe);
  EXPECT_EQ(r.code, 2) << r.err;
  EXPECT_NE(r.err.find("frame 1: cannot read image in.0001.png"), std::string::npos) << r.err;
  // A tool that renders each frame alone ignores --shot-start, and says so.
  r = Probe({"render", "Probe", "--size", "2x2", "--shot-start", "-5", "--out", "y.png"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("--shot-start has no effect"), std::string::npos) << r.err;
}

TEST_F(Sequence, PointsAreSetWithoutNotification) {
  // In the probe's "linked" kind a notified change of "Where" sets Level to 0.
  const std::vector<std::pair<std::string, std::string>> linked = {{"PROBE_KIND", "linked"}};
  for (const char* where : {"0.2,0.3", "0.1,0.1@0;0.9,0.9@4"}) {
    RunResult r = Probe({"render", "Probe", "--size", "2x2", "--set", "Mode=Fill", "--set",
                         "Level=0.6", "--set", std::string("Where=") + where, "--out", "p.png"},
                        linked);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Image("p.png")->rows[0][0], uint8_t(0.6f * 255.0f)) << where;
  }
}

TEST_F(Sequence, CommandLineKeyframesTakeLinearMemory) {
  auto peak = [&](int keys) {
    std::string value = "Level=";
    for (int k = 0; k < keys; ++k)
      value += (k ? "," : "") + std::to_string(k % 2) + "@" + std::to_string(k);
    struct rusage usage = {};
    RunResult r = Wait(Start({"--plugins", PROBE_PLUGIN_FOLDER, "render", "Probe", "--set", value,
                              "--save", "k.vcomp"}),
                       std::chrono::seconds(100), &usage);
    EXPECT_EQ(r.code, 0) << r.err;
    return usage.ru_maxrss;  // kilobytes
  };
  const long few = peak(2);
  const long many = peak(3000);
  // 3000 keys of 24 bytes are 72 kB; recording every earlier key again for
  // each new one would take about 200 MB.
  EXPECT_LT(many - few, 48 * 1024)
      << "peak " << few << " kB with 2 keys, " << many << " kB with 3000";
  RunResult r = Probe({"show", "k.vcomp"});
  EXPECT_NE(r.out.find("0 @ 2998, 1 @ 2999"), std::string::npos);
}

// The offset of the first value word after an entry's id in a saved record.
size_t EntryOf(const std::string& record, const char* id) {
  const size_t at = record.find(id);
  EXPECT_NE(at, std::string::npos) << id;
  return at;
}

TEST_F(Sequence, CompositionsAreCheckedAsShowAndRenderAlike) {
  ASSERT_EQ(Probe({"render", "Probe", "--set", "Level=0.5", "--save", "ok.vcomp"}).code, 0);
  const std::string record = ReadText(Path("ok.vcomp"));
  // Level (allowed 0 or more) saved as -2.5: the constant follows id and type.
  std::string low = record;
  const double minus = -2.5;
  low.replace(EntryOf(record, "Levl") + 8, 8,
              std::string(reinterpret_cast<const char*>(&minus), 8));
  std::ofstream(Path("low.vcomp"), std::ios::binary) << low;
  RunResult r = Probe(
      {"render", "--comp", "low.vcomp", "--size", "2x2", "--set", "Mode=Fill", "--out", "low.png"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("warning: --comp low.vcomp: \"Level\" was saved as -2.5, outside what it "
                       "takes (0 or more); 0 is used"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Image("low.png")->rows[0][0], 0);
  r = Probe({"show", "low.vcomp"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("\"Level\" was saved as -2.5"), std::string::npos) << r.err;

  // What render --comp refuses, show refuses with the same reason.
  std::ofstream(Path("long.vcomp"), std::ios::binary) << record << "tail";
  std::string point = record;
  point.replace(EntryOf(record, "Levl") + 4, 4, "Poin");  // Level stored as a point
  std::ofstream(Path("point.vcomp"), std::ios::binary) << point;
  for (const char* file : {"long.vcomp", "point.vcomp"}) {
    RunResult shown = Probe({"show", file});
    RunResult rendered = Probe({"render", "--comp", file, "--out", "x.png"});
    EXPECT_EQ(shown.code, 2) << file << ": " << shown.err;
    EXPECT_EQ(rendered.code, 2) << file << ": " << rendered.err;
    const size_t at = shown.err.find("cannot load composition");
    ASSERT_NE(at, std::string::npos) << shown.err;
    EXPECT_NE(rendered.err.find(shown.err.substr(at)), std::string::npos)
        << shown.err << " / " << rendered.err;
  }
}

TEST_F(Sequence, MessagesSayWhatWasWrong) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  std::ofstream(Path("file")) << "x";
  const std::vector<Case> cases = {
      {{"frobnicate"}, "unknown command \"frobnicate\"; commands: tools, controls, render"},
      {{"--plugins", "file", "tools"}, "file (from --plugins) is not a folder"},
      {{"demo", "--out", ""}, "--out: an empty value is not allowed"},
      {{"tools", "--tiles", ""}, "--tiles: an empty value is not allowed"},
  };
  for (const Case& c : cases) {
    RunResult r = Run(c.args);
    EXPECT_EQ(r.code, 2) << ::testing::PrintToString(c.args);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << ::testing::PrintToString(c.args) << "\n"
                                                        << r.err;
  }
}

}  // namespace
}  // namespace vorn::test
