// vorn render --comp FLOW end to end with the real tools: a flow gives the
// bytes of its chain rendered tool by tool, sequential tools inside a flow
// match their single renders, chunks of a flow match one run, the one-node
// shorthand saves a flow that renders the same, and the example renders.
#include <gtest/gtest.h>

#include <fstream>

#include "vorn_runner.h"

namespace vorn::test {
namespace {

class FlowCli : public VornTest {
 protected:
  void SetUp() override {
    VornTest::SetUp();
    if (!BlebBuilt()) GTEST_SKIP() << "the tool libraries are not built";
  }
  RunResult Vorn(std::vector<std::string> args) {
    args.insert(args.begin(), {"--plugins", TOOL_PLUGIN_FOLDER});
    return Run(args);
  }
  void WriteFlow(const std::string& name, const std::string& text) {
    std::ofstream(Path(name)) << text;
  }
  // The decoded pixels of two files agree byte for byte.
  void ExpectSamePixels(const std::string& a, const std::string& b) {
    ImageRef x = Image(a), y = Image(b);
    ASSERT_TRUE(x && y);
    ASSERT_EQ(x->width, y->width);
    ASSERT_EQ(x->height, y->height);
    EXPECT_TRUE(std::equal(x->Data(), x->Data() + x->ByteCount(), y->Data())) << a << " vs " << b;
  }
};

std::string Flow(int first, int last, int simulationStart, const std::string& nodes,
                 const std::string& connections) {
  return R"({"format": "vorn flow", "version": 1, "size": [160, 90], "shot": {"first": )" +
         std::to_string(first) + R"(, "last": )" + std::to_string(last) +
         R"(, "simulationStart": )" + std::to_string(simulationStart) + R"(}, "nodes": [)" + nodes +
         R"(], "connections": [)" + connections + "]}";
}

TEST_F(FlowCli, AFlowRendersTheBytesOfItsChainRenderedToolByTool) {
  WriteFlow("chain.flow.json", Flow(0, 2, 0,
                                    R"({"name": "Flame", "class": "CandlePlugIn"},
                    {"name": "Warp", "class": "Bleb", "values": {"Amplitude 1": 1.5}},
                    {"name": "Out", "class": "Write", "file": "flow.#.tif"})",
                                    R"({"from": "Flame", "to": "Warp", "input": "Input"},
                    {"from": "Warp", "to": "Out", "input": "Image"})"));
  RunResult r = Vorn({"render", "--comp", "chain.flow.json", "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  // Through lossless 8-bit premultiplied files, one tool at a time.
  r = Vorn(
      {"render", "Candle", "--size", "160x90", "--frames", "0-2", "--out", "c.#.tif", "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  r = Vorn({"render", "Bleb", "--input", "Input=c.#.tif", "--set", "Amplitude 1=1.5", "--frames",
            "0-2", "--out", "b.#.tif", "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* f : {"0000", "0001", "0002"})
    ExpectSamePixels(std::string("flow.") + f + ".tif", std::string("b.") + f + ".tif");
  // --node with --out writes that node instead of the Write nodes.
  r = Vorn({"render", "--comp", "chain.flow.json", "--node", "Flame", "--frame", "1", "--out",
            "flame.png", "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  ExpectSamePixels("flame.png", "c.0001.tif");
}

TEST_F(FlowCli, SequentialToolsInAFlowMatchTheirSingleRenders) {
  // Bubbles steps from the shot's simulation start (frame 0) to the last
  // frame asked for, writing only the frames asked for.
  WriteFlow("bubbles.flow.json", Flow(3, 5, 0,
                                      R"({"name": "Bubbles", "class": "Bubbles"},
                    {"name": "Out", "class": "Write", "file": "flow.#.png"})",
                                      R"({"from": "Bubbles", "to": "Out", "input": "Image"})"));
  RunResult r = Vorn({"render", "--comp", "bubbles.flow.json", "--quiet", "--stats"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("3 frames asked, 6 rendered"), std::string::npos) << r.out;
  r = Vorn({"render", "Bubbles", "--size", "160x90", "--shot-start", "0", "--frames", "3-5",
            "--out", "single.#.png", "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* f : {"0003", "0004", "0005"})
    ExpectSamePixels(std::string("flow.") + f + ".png", std::string("single.") + f + ".png");
}

// Each operator keeps its own random generator state, so two tools in one
// flow render as they do alone.
TEST_F(FlowCli, CandleAndBubblesInOneFlowEachEqualToItsSingleRender) {
  WriteFlow("two.flow.json",
            Flow(0, 3, 0,
                 R"({"name": "Flame", "class": "Candle"}, {"name": "Bubbles", "class": "Bubbles"},
                    {"name": "C", "class": "Write", "file": "c.#.png"},
                    {"name": "B", "class": "Write", "file": "b.#.png"})",
                 R"({"from": "Flame", "to": "C", "input": "Image"},
                    {"from": "Bubbles", "to": "B", "input": "Image"})"));
  RunResult r = Vorn({"render", "--comp", "two.flow.json", "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* tool : {"Candle", "Bubbles"}) {
    r = Vorn({"render", tool, "--size", "160x90", "--frames", "0-3", "--out",
              std::string(tool) + ".#.png", "--quiet"});
    ASSERT_EQ(r.code, 0) << r.err;
  }
  for (const char* f : {"0000", "0001", "0002", "0003"}) {
    ExpectSamePixels(std::string("c.") + f + ".png", std::string("Candle.") + f + ".png");
    ExpectSamePixels(std::string("b.") + f + ".png", std::string("Bubbles.") + f + ".png");
  }
}

TEST_F(FlowCli, ChunksOfAFlowWithTwoWritesMatchOneRun) {
  WriteFlow("two.flow.json",
            Flow(1, 5, 1,
                 R"({"name": "Warp", "class": "Bleb", "values": {"Amplitude 1": {"keys": [
                       {"frame": 1, "value": 0}, {"frame": 5, "value": 2}]}}},
                    {"name": "Mix", "class": "Merge", "operation": "screen", "mix": 0.5},
                    {"name": "A", "class": "Write", "file": "a/w.#.png"},
                    {"name": "B", "class": "Write", "file": "b/m.#.png"})",
                 R"({"from": "Warp", "to": "A", "input": "Image"},
                    {"from": "Warp", "to": "Mix", "input": "A"},
                    {"from": "Mix", "to": "B", "input": "Image"})"));
  RunResult r = Vorn({"render", "--comp", "two.flow.json", "--list-frames"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "1\n2\n3\n4\n5\n");
  r = Vorn({"render", "--comp", "two.flow.json", "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  fs::rename(Path("a"), Path("whole-a"));
  fs::rename(Path("b"), Path("whole-b"));
  for (const char* chunk : {"1/2", "2/2"}) {
    r = Vorn({"render", "--comp", "two.flow.json", "--chunk", chunk, "--skip-existing", "--quiet"});
    ASSERT_EQ(r.code, 0) << r.err;
  }
  r = Vorn({"render", "--comp", "two.flow.json", "--check-outputs"});
  EXPECT_EQ(r.code, 0) << r.out;
  for (int f = 1; f <= 5; ++f) {
    const std::string n = "000" + std::to_string(f);
    EXPECT_TRUE(ReadText(Path("a/w." + n + ".png")) == ReadText(Path("whole-a/w." + n + ".png")))
        << n;
    EXPECT_TRUE(ReadText(Path("b/m." + n + ".png")) == ReadText(Path("whole-b/m." + n + ".png")))
        << n;
  }
}

TEST_F(FlowCli, AMalformedFlowWritesNothing) {
  WriteFlow(
      "bad.flow.json",
      Flow(
          1, 2, 1,
          R"({"name": "Mix", "class": "Merge"}, {"name": "Out", "class": "Write", "file": "o.#.png"},
                    {"name": "Glow", "class": "Sparkles"})",
          R"({"from": "Mix", "to": "Out", "input": "Image"})"));
  RunResult r = Vorn({"render", "--comp", "bad.flow.json", "--save", "again.flow.json"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("nodes[2] \"Glow\": unknown class \"Sparkles\""), std::string::npos)
      << r.err;
  EXPECT_EQ(Files(), std::vector<std::string>{"bad.flow.json"});
}

TEST_F(FlowCli, TheOneToolShorthandSavesAFlowThatRendersTheSame) {
  RunResult r =
      Vorn({"render", "Bleb", "--size", "96x54", "--set", "Amplitude 1=0@0,2@4", "--frames", "0-4",
            "--out", "w.#.png", "--save", "shot.flow.json", "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  fs::rename(Path("w.0004.png"), Path("single.png"));
  r = Vorn({"render", "--comp", "shot.flow.json", "--frame", "4", "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(ReadText(Path("w.0004.png")) == ReadText(Path("single.png")));
  r = Vorn({"show", "shot.flow.json"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\"Amplitude 1\" = keyframes 0 @ 0, 2 @ 4"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("input \"Image\" <- \"Bleb\""), std::string::npos) << r.out;
  // The tool's values load from the flow into the one-tool form too.
  r = Vorn({"render", "Bleb", "--comp", "shot.flow.json", "--size", "96x54", "--frame", "4",
            "--out", "again.png", "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  ExpectSamePixels("again.png", "single.png");
}

TEST_F(FlowCli, ABubblesPressInAFlowRendersAsTheSamePressOnTheCommandLine) {
  // The press is a key of 1 on the button's value, in the text as in the
  // tool's saved record.
  WriteFlow("press.flow.json", Flow(0, 5, 0, R"({"name": "Bubbles", "class": "Bubbles", "values":
                    {"Restart Bubbles": {"constant": 0, "keys": [{"frame": 3, "value": 1}]}}},
                    {"name": "Out", "class": "Write", "file": "flow.#.png"})",
                                    R"({"from": "Bubbles", "to": "Out", "input": "Image"})"));
  RunResult r = Vorn({"render", "--comp", "press.flow.json", "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  r = Vorn({"render", "Bubbles", "--size", "160x90", "--frames", "0-5", "--set",
            "Restart Bubbles=1@3", "--out", "one.#.png", "--save", "saved.flow.json", "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  r = Vorn({"render", "Bubbles", "--size", "160x90", "--frames", "0-5", "--out", "unpressed.#.png",
            "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* f : {"0000", "0002", "0003", "0005"})
    ExpectSamePixels(std::string("flow.") + f + ".png", std::string("one.") + f + ".png");
  EXPECT_FALSE(ReadText(Path("one.0005.png")) == ReadText(Path("unpressed.0005.png")));
  // The one-tool render saves the press, and the saved flow renders it.
  r = Vorn(
      {"render", "--comp", "saved.flow.json", "--frame", "5", "--out", "again.png", "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  ExpectSamePixels("again.png", "one.0005.png");
  r = Vorn({"show", "saved.flow.json"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\"Restart Bubbles\" = pressed at frame 3"), std::string::npos) << r.out;
}

TEST_F(FlowCli, AReadNodeOffsetsFramesAndTakesMissingOnesAsAsked) {
  RunResult r = Vorn({"render", "Bleb", "--size", "48x27", "--set", "Amplitude 1=0@1,2@4",
                      "--frames", "1,2,4", "--out", "s.#.png", "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  auto flow = [&](const std::string& missing) {
    WriteFlow("read.flow.json",
              Flow(0, 3, 0,
                   R"({"name": "Plate", "class": "Read", "file": "s.#.png", "frameOffset": 1,
                       "missingFrame": ")" +
                       missing + R"("}, {"name": "Out", "class": "Write", "file": "n.#.png"})",
                   R"({"from": "Plate", "to": "Out", "input": "Image"})"));
  };
  // Flow frame f reads file frame f + 1; file frame 3 is missing.
  flow("error");
  r = Vorn({"render", "--comp", "read.flow.json"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("node \"Plate\": frame 2: \"s.0003.png\" is not there"), std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(Path("n.0000.png")));
  flow("nearest");  // 2 and 4 are as near: the earlier
  r = Vorn({"render", "--comp", "read.flow.json", "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  ExpectSamePixels("n.0000.png", "s.0001.png");
  ExpectSamePixels("n.0002.png", "s.0002.png");
  ExpectSamePixels("n.0003.png", "s.0004.png");
  flow("black");
  r = Vorn({"render", "--comp", "read.flow.json", "--frame", "2", "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  // A plate under Bubbles is read for the frames asked for only, not for
  // the steps of the simulation before them (file frames 0 and 3 are missing).
  WriteFlow("under.flow.json", Flow(4, 4, 0,
                                    R"({"name": "Plate", "class": "Read", "file": "s.#.png"},
                    {"name": "Bubbles", "class": "Bubbles"}, {"name": "Over", "class": "Merge"},
                    {"name": "Out", "class": "Write", "file": "u.#.png"})",
                                    R"({"from": "Plate", "to": "Over", "input": "B"},
                    {"from": "Bubbles", "to": "Over", "input": "A"},
                    {"from": "Over", "to": "Out", "input": "Image"})"));
  r = Vorn({"render", "--comp", "under.flow.json", "--quiet"});
  EXPECT_EQ(r.code, 0) << r.err;
  ImageRef black = Image("n.0002.png");
  ASSERT_TRUE(black);
  EXPECT_EQ(black->width, 48);
  for (size_t i = 0; i < black->ByteCount(); i += 4)
    ASSERT_EQ(black->Data()[i] + black->Data()[i + 1] + black->Data()[i + 2], 0) << i;
}

TEST_F(FlowCli, TheExampleFlowRendersAsItStands) {
  const std::string example =
      std::string(VORN_SOURCE_DIR) + "/examples/plate-flame-bubbles.flow.json";
  RunResult r = Vorn({"render", "--comp", example, "--frame", "10", "--size", "160x90", "--out",
                      "example.png", "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::exists(Path("example.png")));
}

}  // namespace
}  // namespace vorn::test
