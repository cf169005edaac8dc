// Button presses at frames, as the command line makes them and as a saved
// composition replays them: `render --comp` and a farm chunk of it render
// the frames of the run that pressed, with the shot and the images' size
// taken from the composition, and `show` lists them.
#include <gtest/gtest.h>

#include "value_parse.h"
#include "vorn_runner.h"

namespace vorn::test {
namespace {

using Presses = VornTest;

TEST_F(Presses, APressAtAFrameIsSavedAndReplayedByCompAndByAChunk) {
  if (!fs::exists(std::string(TOOL_PLUGIN_FOLDER) + "/bubbles.so"))
    GTEST_SKIP() << "the Bubbles plug-in is not built";
  auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--plugins", TOOL_PLUGIN_FOLDER, "render"});
    RunResult r = Run(args);
    EXPECT_EQ(r.code, 0) << r.err;
    return r;
  };
  const std::vector<std::string> shot = {"Bubbles", "--size", "96x54", "--shot-start", "0"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = shot;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  run(with({"--frame", "30", "--out", "plain.png"}));
  run(with({"--set", "Restart Bubbles=1@20", "--set", "Preroll Bubbles=1@24", "--frame", "30",
            "--out", "direct.png", "--save", "p.vcomp"}));
  const std::string direct = ReadText(Path("direct.png"));
  ASSERT_FALSE(direct.empty());
  ASSERT_NE(direct, ReadText(Path("plain.png")));  // the presses change frame 30

  // The composition alone, with a plain frame: the same bytes.
  run({"--comp", "p.vcomp", "--frame", "30", "--out", "comp.png"});
  EXPECT_EQ(ReadText(Path("comp.png")), direct);
  // The last of two chunks of frames 18-30, which simulates through both presses.
  run({"--comp", "p.vcomp", "--frames", "18-30", "--chunk", "2/2", "--out", "chunk.#.png"});
  EXPECT_FALSE(fs::exists(Path("chunk.0018.png")));
  EXPECT_EQ(ReadText(Path("chunk.0030.png")), direct);
  // Without the press the composition would render what the plain run did.
  run({"--comp", "p.vcomp", "--frame", "19", "--out", "before.png"});
  run(with({"--frame", "19", "--out", "plain19.png"}));
  EXPECT_EQ(ReadText(Path("before.png")), ReadText(Path("plain19.png")));
  // A frame before the shot the composition was made for is refused, unless
  // --shot-start says where the shot starts.
  std::vector<std::string> early = {"--plugins", TOOL_PLUGIN_FOLDER, "render", "--comp",
                                    "p.vcomp",   "--frame",          "-1",     "--out",
                                    "early.png"};
  RunResult r = Run(early);
  EXPECT_EQ(r.code, 2) << r.err;
  EXPECT_NE(r.err.find("starts at frame 0"), std::string::npos) << r.err;
  early.insert(early.end(), {"--shot-start", "-1"});
  EXPECT_EQ(Run(early).code, 0);

  r = Run({"--plugins", TOOL_PLUGIN_FOLDER, "show", "p.vcomp"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("presses      2\n"), std::string::npos) << r.out;
  // Each press on a line of its own: the button's id, caption and frame.
  auto rest = [&](const std::string& start) {
    const size_t at = r.out.find(start, r.out.find("presses "));
    if (at == std::string::npos) return std::string("(no line)");
    const size_t from = at + start.size();
    return std::string(Trim(r.out.substr(from, r.out.find('\n', from) - from)));
  };
  EXPECT_EQ(rest("  Kill  Restart Bubbles "), "at frame 20") << r.out;
  EXPECT_EQ(rest("  Prol  Preroll Bubbles "), "at frame 24") << r.out;
  EXPECT_NE(r.out.find("shot         first frame 0, built-in images 96 x 54, pixel aspect 1\n"),
            std::string::npos)
      << r.out;
  r = Run({"--plugins", TOOL_PLUGIN_FOLDER, "show", "--json", "p.vcomp"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string json = r.out;
  for (const char* part :
       {"\"caption\": \"Restart Bubbles\",\n      \"frame\": 20", "\"firstFrame\": 0"})
    EXPECT_NE(json.find(part), std::string::npos) << json;
}

}  // namespace
}  // namespace vorn::test
