// Chunks and threads end to end: a frame's bytes whatever the chunk count,
// the chunk figures of --stats, and chunk progress inside a long frame.
#include <cctype>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "vorn_runner.h"

namespace vorn::test {
namespace {

class Chunks : public VornTest {};

// Each tool's default scene at an odd size (bands of unequal height), a
// stepped Bubbles shot long enough for bubbles to be born and move: the
// default chunk count (several per thread), one chunk, and counts above the
// thread count give the same files.
TEST_F(Chunks, EveryChunkCountGivesTheSameBytes) {
  for (const char* tool : {"Bleb", "Candle", "Bubbles"}) {
    std::string lower(tool);
    for (char& c : lower) c = char(std::tolower(c));
    if (!fs::exists(std::string(TOOL_PLUGIN_FOLDER) + "/" + lower + ".so")) continue;
    SCOPED_TRACE(tool);
    const std::string frames = lower == "bubbles" ? "0-24" : "0-1";
    const std::string last = lower == "bubbles" ? "0024" : "0001";
    std::string reference;
    for (const char* workers : {"", "1", "3", "64"}) {
      std::vector<std::string> args = {
          "--plugins", TOOL_PLUGIN_FOLDER, "render", tool,    "--size",
          "203x117",   "--frames",         frames,   "--out", lower + "." + workers + ".#.png"};
      if (*workers) args.insert(args.end(), {"--workers", workers});
      const RunResult r = Run(args);
      ASSERT_EQ(r.code, 0) << r.err;
      const std::string bytes = ReadText(Path(lower + "." + workers + "." + last + ".png"));
      ASSERT_FALSE(bytes.empty());
      if (reference.empty())
        reference = bytes;
      else
        EXPECT_EQ(bytes, reference) << "--workers " << workers;
    }
  }
}

// Left to itself, vorn chooses a chunk count whose bands split the frame
// evenly, planned for VORN_CHUNK_THREADS threads where set; a count the user
// sets is kept.
TEST_F(Chunks, TheHostChoosesEvenBandsUnlessTheUserSetsTheCount) {
  if (!BlebBuilt()) GTEST_SKIP() << "the Bleb plug-in is not built";
  const std::vector<std::string> render = {"--plugins",  TOOL_PLUGIN_FOLDER, "render",   "Bleb",
                                           "--size",     "1920x1080",        "--frames", "0",
                                           "--no-write", "--stats",          "--quiet"};
  const std::vector<std::pair<std::string, std::string>> planned = {{"VORN_CHUNK_THREADS", "16"}};
  RunResult r = Run(render, planned);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("  workers 60  "), std::string::npos) << r.out;
  std::vector<std::string> set = render;
  set.insert(set.end(), {"--workers", "64"});
  r = Run(set, planned);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("  workers 64  "), std::string::npos) << r.out;
  r = Run(render, {{"VORN_CHUNK_THREADS", "many"}});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("VORN_CHUNK_THREADS is \"many\"; it takes a whole number of threads from "
                       "1 to 4096"),
            std::string::npos)
      << r.err;
}

// The model's bounds hold (no more speed-up than cores or chunks, none
// gained past the chunk count; its arithmetic is tested on its own), and the
// trace has every chunk of Bleb's three passes (map, the bands' last rows,
// sampling) of every frame.
TEST_F(Chunks, StatsTraceEveryChunkAndModelTheSpeedUp) {
  if (!BlebBuilt()) GTEST_SKIP() << "the Bleb plug-in is not built";
  RunResult r =
      Run({"--plugins", TOOL_PLUGIN_FOLDER, "render", "Bleb", "--size", "160x90", "--frames", "0-2",
           "--workers", "8", "--no-write", "--stats", "--stats-trace", "trace.txt", "--quiet"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("frames 3  simulated 3  "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  workers 8  threads "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" sequence "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" render "), std::string::npos) << r.out;
  // "16 cores: 14.2× (89 %)"
  std::map<int, double> speedup;
  std::istringstream lines(r.out);
  for (std::string text; std::getline(lines, text);) {
    int cores = 0, percent = 0;
    double times = 0;
    if (std::sscanf(text.c_str(), "%d cores: %lf\u00d7 (%d %%)", &cores, &times, &percent) == 3)
      speedup[cores] = times;
  }
  ASSERT_EQ(speedup.size(), 5u) << r.out;
  EXPECT_GE(speedup[4], 1.0) << r.out;
  EXPECT_LE(speedup[4], 4.05) << r.out;
  EXPECT_LE(speedup[8], 8.05) << r.out;
  EXPECT_LE(speedup[4], speedup[8]) << r.out;
  EXPECT_EQ(speedup[8], speedup[64]) << r.out;

  std::istringstream trace(ReadText(Path("trace.txt")));
  std::set<std::pair<int, long>> seen;
  for (std::string text; std::getline(trace, text);) {
    if (text.empty() || text[0] == '#') continue;
    std::istringstream fields(text);
    int frame = -1, pass = -1, thread = -1;
    long chunk = -1;
    double start = 0, end = 0, cpu = 0;
    ASSERT_TRUE(fields >> frame >> pass >> chunk >> start >> end >> cpu >> thread) << text;
    EXPECT_TRUE(pass >= 0 && pass <= 2) << text;
    EXPECT_LE(start, end) << text;
    EXPECT_GE(start, 0.0) << text;
    EXPECT_GE(cpu, 0.0) << text;
    EXPECT_GE(thread, -1) << text;  // -1: the thread that started the pass
    EXPECT_TRUE(seen.insert({frame * 3 + pass, chunk}).second) << text;
  }
  EXPECT_EQ(seen.size(), 72u);

  r = Probe({"render", "Probe", "--no-write", "--stats-trace", "t.txt"});
  EXPECT_NE(r.code, 0);
  EXPECT_NE(r.err.find("--stats"), std::string::npos) << r.err;
}

// A frame of 8 chunks of 400 ms on the threads of this machine takes over a
// second: the log shows its chunks before the frame's own line.
TEST_F(Chunks, LongFrameShowsItsChunks) {
  const RunResult r = Probe(
      {"render", "Probe", "--size", "4x16", "--set", "Delay=400", "--workers", "8", "--no-write"},
      {{"SLURM_CPUS_PER_TASK", "2"}});
  ASSERT_EQ(r.code, 0) << r.err;
  const size_t chunks = r.err.find("frame 0: ");
  ASSERT_NE(chunks, std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" of 8 chunks", chunks), std::string::npos) << r.err;
  EXPECT_LT(chunks, r.err.find("frame 0 done")) << r.err;
}

}  // namespace
}  // namespace vorn::test
