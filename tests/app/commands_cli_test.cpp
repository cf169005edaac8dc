// vorn tools, controls and demo end to end, Ctrl-C during a sequence, and
// the real tools where their plug-ins are built.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "default_images.h"
#include "run_program.h"
#include "vorn_runner.h"

namespace vorn::test {
namespace {

using Commands = VornTest;

TEST_F(Commands, ToolsListsEveryRegistrationValue) {
  RunResult r = Probe({"tools"});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* want : {"Probe  (ProbePlugIn)", "short name   Prb", "description  Test probe",
                           "class id     0x8001FF01", "tool code    0x0101FF01",
                           "pack         Vorn_Test", "help file    Probe.hlp", "probe.so"})
    EXPECT_NE(r.out.find(want), std::string::npos) << want << "\n" << r.out;
  r = Probe({"tools", "--json", "--tiles", "tiles"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\"classId\": \"0x8001FF01\""), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("wrote tiles/ProbePlugIn.png"), std::string::npos) << r.err;
  ImageRef tile = Image("tiles/ProbePlugIn.png");
  ASSERT_TRUE(tile);
  EXPECT_EQ(tile->width, 116);
  EXPECT_EQ(tile->height, 87);
}

// A listing that cannot be written (a full disk, a closed pipe) is a failure.
TEST_F(Commands, AListingThatCannotBeWrittenFails) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  const int closedPipe = fds[1];
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"tools"},
        {"tools", "--json"},
        {"controls", "--json", "Probe"},
        {"controls", "Probe"},
        {"render", "Probe", "--frames", "1-3", "--out", "o.#.png", "--list-outputs"},
        {"render", "Probe", "--frames", "1-20000", "--out", "o.#.png", "--list-outputs"}}) {
    std::vector<std::string> all = {"--plugins", PROBE_PLUGIN_FOLDER};
    all.insert(all.end(), args.begin(), args.end());
    for (const bool pipe : {false, true}) {
      RunResult r = Wait(Start(all, {}, [pipe, closedPipe] {
        const int fd = pipe ? closedPipe : open("/dev/full", O_WRONLY);
        dup2(fd, 1);
      }));
      EXPECT_EQ(r.code, 1) << ::testing::PrintToString(args) << (pipe ? " pipe" : " full");
      EXPECT_NE(r.err.find("vorn: error: cannot write to standard output"), std::string::npos)
          << r.err;
    }
  }
  close(closedPipe);
  EXPECT_TRUE(Files().empty());
}

TEST_F(Commands, PluginFoldersFromTheEnvironment) {
  RunResult r = Run({"tools"}, {{"VORN_PLUGIN_PATH", Path("stale") + ":" + PROBE_PLUGIN_FOLDER}});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("ProbePlugIn"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("stale (from VORN_PLUGIN_PATH) does not exist"), std::string::npos) << r.err;
  // --plugins replaces the environment; a library that fails to load is named.
  r = Run({"--plugins", std::string(PROBE_PLUGIN_FOLDER) + "/empty", "tools"},
          {{"VORN_PLUGIN_PATH", PROBE_PLUGIN_FOLDER}});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.find("ProbePlugIn"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("plug-in not loaded"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("empty_probe.so: registers no tool"), std::string::npos) << r.err;
  // A tool that declares its controls wrongly is refused with the reason.
  const std::string broken = std::string(PROBE_PLUGIN_FOLDER) + "/broken";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"controls", "Broken"},
        std::vector<std::string>{"render", "Broken", "--out", "b.png"}}) {
    std::vector<std::string> all = {"--plugins", broken};
    all.insert(all.end(), args.begin(), args.end());
    r = Run(all);
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_NE(r.err.find("is broken"), std::string::npos) << r.err;
  }
  EXPECT_TRUE(Files().empty());
}

TEST_F(Commands, ControlsInDeclarationOrderWithTheirDeclarations) {
  RunResult r = Probe({"controls", "Probe"});
  ASSERT_EQ(r.code, 0) << r.err;
  size_t at = 0;
  for (const char* want : {"Page \"Controls\"",
                           "Level",
                           "Levl",
                           "slider",
                           "allowed 0 or more; range up to 1; default 0.5",
                           "Mode",
                           "combo",
                           "items 0 \"Chunks\", 1 \"Fill\", 2 \"Copy\"",
                           "Where",
                           "position",
                           "default 0.5, 0.5; on-image point handle",
                           "Page \"Presets\"",
                           "Demos",
                           "notifies",
                           "Poke",
                           "button",
                           "Image inputs",
                           "Input",
                           "0x01706EC9  required",
                           "Matte(optional)",
                           "0x02706EC9  optional",
                           "Outputs",
                           "0x017475CF"}) {
    const size_t found = r.out.find(want, at);
    ASSERT_NE(found, std::string::npos) << want << "\n" << r.out;
    at = found;
  }
  r = Probe({"controls", "--json", "ProbePlugIn"});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* want : {"\"caption\": \"Level\"", "\"minAllowed\": 0", "\"maxScale\": 1",
                           "\"default\": 0.5", "\"control\": \"ComC\"", "\"notifies\": true",
                           "\"required\": false", "\"id\": \"Wher\"", "\"onImage\": \"PntC\""})
    EXPECT_NE(r.out.find(want), std::string::npos) << want;
  // The whole listing, byte for byte, as scripts read it.
  std::ifstream file(std::string(VORN_SOURCE_DIR) + "/tests/app/expected/probe_controls.json",
                     std::ios::binary);
  EXPECT_EQ(r.out, std::string(std::istreambuf_iterator<char>(file), {}));
}

TEST_F(Commands, InterruptKeepsOnlyWholeFrames) {
  // Each frame takes at least 150 ms (Delay is per chunk), so Ctrl-C lands mid-sequence.
  const pid_t pid = Start({"--plugins", PROBE_PLUGIN_FOLDER, "render", "Probe", "--set",
                           "Delay=150", "--workers", "1", "--set", "Mode=Fill", "--size", "256x256",
                           "--frames", "1-40", "--out", "i.#.png"});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!fs::exists(Path("i.0002.png")) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kill(pid, SIGINT);
  RunResult r = Wait(pid);
  EXPECT_EQ(r.code, 130) << r.err;
  EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
  const std::vector<std::string> files = Files();
  ASSERT_GE(files.size(), 2u);
  EXPECT_LT(files.size(), 40u);
  for (size_t i = 0; i < files.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "i.%04zu.png", i + 1);
    EXPECT_EQ(files[i], name);  // the finished frames, in order, and no temporary files
    ImageRef image = Image(files[i]);
    ASSERT_TRUE(image) << files[i];
    EXPECT_EQ(image->width, 256);
    EXPECT_EQ(image->rows[255][1023], 127);
  }
}

TEST_F(Commands, DemoRendersEveryPresetAndAContactSheet) {
  RunResult r = Probe({"demo", "--out", "demo", "--length", "3", "--size", "64x36"});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* seq : {"probe_dim", "probe_bright"})
    for (int f = 0; f < 3; ++f) {
      const std::string name =
          std::string("demo/") + seq + "/" + seq + ".000" + std::to_string(f) + ".png";
      EXPECT_TRUE(fs::exists(Path(name))) << name;
    }
  ImageRef sheet = Image("demo/contact_sheet.png");
  ASSERT_TRUE(sheet);
  EXPECT_GT(sheet->width, 2 * 64);
  EXPECT_NE(r.err.find("2 sequences in demo; contact sheet demo/contact_sheet.png"),
            std::string::npos)
      << r.err;
  if (FindProgram("ffmpeg").empty()) return;
  EXPECT_TRUE(fs::exists(Path("demo/probe_dim.mp4")));
  EXPECT_TRUE(fs::exists(Path("demo/probe_bright.mp4")));
  EXPECT_NE(r.err.find("; 2 MP4 files (demo/*.mp4)"), std::string::npos) << r.err;
}

// Help texts show what a user types: no parser artefacts such as a flag's
// default in braces, and each kind of value once in the table of values.
TEST_F(Commands, HelpTextsReadCleanly) {
  for (const char* command : {"tools", "controls", "render", "show", "demo", "serve"}) {
    RunResult r = Run({command, "--help"});
    ASSERT_EQ(r.code, 0) << command;
    EXPECT_EQ(r.out.find("{false}"), std::string::npos) << command << "\n" << r.out;
    EXPECT_EQ(r.out.find("{true}"), std::string::npos) << command << "\n" << r.out;
    if (std::string(command) != "render") continue;
    const size_t values = r.out.find("Values:");
    ASSERT_NE(values, std::string::npos);
    for (const char* kind :
         {"numbers", "points", "combos", "check boxes", "buttons", "keyframes"}) {
      const std::string row = std::string("\n  ") + kind + " ";
      const size_t at = r.out.find(row, values);
      EXPECT_NE(at, std::string::npos) << kind;
      EXPECT_EQ(r.out.find(row, at + 1), std::string::npos) << kind << " listed twice";
    }
  }
}

// Splits a command line as a shell would for these examples: blanks, and
// double quotes around an argument.
std::vector<std::string> SplitCommand(const std::string& line) {
  std::vector<std::string> args;
  std::string arg;
  bool quoted = false, any = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any) args.push_back(arg);
      arg.clear();
      any = false;
    } else {
      arg += c;
      any = true;
    }
  }
  if (any) args.push_back(arg);
  return args;
}

TEST_F(Commands, EveryExampleInTheHelpRuns) {
  if (!BlebBuilt()) GTEST_SKIP() << "the examples use the Bleb plug-in";
  RunResult help = Run({"--help"});
  ASSERT_EQ(help.code, 0);
  const size_t start = help.out.find("Examples:");
  ASSERT_NE(start, std::string::npos) << help.out;
  std::istringstream lines(help.out.substr(start));
  std::string line;
  std::string error;
  for (int f = 1001; f <= 1010; ++f)
    ASSERT_TRUE(WriteImage(*MakeTestCard(160, 90, 1), Path("plate." + std::to_string(f) + ".exr"),
                           ImageFormat::Exr, &error));
  int examples = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("  vorn ", 0) != 0) continue;
    std::vector<std::string> args = SplitCommand(line.substr(7));
    // Small frames keep the examples quick; everything else is as printed.
    if (args[0] == "render") args.insert(args.end(), {"--size", "160x90"});
    if (args[0] == "demo") args.insert(args.end(), {"--length", "2", "--size", "64x36"});
    RunResult r = Run(args);
    EXPECT_EQ(r.code, 0) << line << "\n" << r.err;
    ++examples;
  }
  EXPECT_GE(examples, 8);
  EXPECT_TRUE(fs::exists(Path("bleb.0048.png")));
  EXPECT_TRUE(fs::exists(Path("warp.1010.exr")));
  EXPECT_TRUE(fs::exists(Path("frame12.tif")));
  EXPECT_TRUE(fs::exists(Path("vorn-demo/contact_sheet.png")));
}

TEST_F(Commands, BlebRendersTheTestCardAndRefusesPresets) {
  if (!BlebBuilt()) GTEST_SKIP() << "the Bleb plug-in is not built";
  // Found beside the binary, with no --plugins and no VORN_PLUGIN_PATH.
  RunResult r = Run({"tools"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Bleb  (BlebPlugIn)"), std::string::npos) << r.out;
  r = Run({"render", "Bleb", "--size", "320x180", "--out", "identity.png"});
  ASSERT_EQ(r.code, 0) << r.err;
  ImageRef out = Image("identity.png");
  ImageRef card = MakeTestCard(320, 180, 1.0);
  ASSERT_EQ(out->width, 320);
  ASSERT_EQ(out->height, 180);
  // With every lobe at 0, scale 1 and no turn, the warp is the identity
  // up to the area filter: compare a few flat spots of the card.
  for (auto [x, y] : {std::pair{5, 5}, {314, 5}, {5, 174}, {314, 174}, {100, 70}, {220, 70}}) {
    const uint8_t* a = out->Pixel(x, y);
    const uint8_t* b = card->Pixel(x, y);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(a[c], b[c], 2) << x << "," << y << " channel " << c;
    EXPECT_EQ(a[3], 255);
  }
  r = Run({"render", "BlebPlugIn", "--set", "Fill Option=Black Edges", "--set", "Scale=0.5",
           "--set", "Amplitude 1=0@0,2.5@2", "--frames", "0-2", "--size", "160x90", "--out",
           "b.#.exr"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::exists(Path("b.0002.exr")));
  r = Run({"render", "Bleb", "--preset", "Big", "--out", "p.png"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("has no \"Demos\" combo"), std::string::npos) << r.err;
  r = Run({"render", "Bleb", "--set", "Scale=0", "--out", "p.png"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("allowed range (0.001 or more)"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Path("p.png")));
}

}  // namespace
}  // namespace vorn::test
