// Every request vorn cannot meet exits with status 2, names the problem and
// what is allowed, and writes nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "default_images.h"
#include "vorn_runner.h"

namespace vorn::test {
namespace {

struct Case {
  std::vector<std::string> args;  // after "render Probe"
  std::string message;            // part of what stderr must say
};

class Errors : public VornTest {
 protected:
  // Runs "render Probe" with each case's arguments (and a small --size and an
  // --out unless the case gives them): status 2, the message, nothing written.
  void ExpectRefused(const std::vector<Case>& cases, const std::vector<std::string>& before) {
    for (const Case& c : cases) {
      auto has = [&](const char* opt) {
        return std::find(c.args.begin(), c.args.end(), opt) != c.args.end();
      };
      std::vector<std::string> args = {"render", "Probe"};
      if (!has("--size")) args.insert(args.end(), {"--size", "8x8"});
      if (!has("--out")) args.insert(args.end(), {"--out", "out.png"});
      args.insert(args.end(), c.args.begin(), c.args.end());
      RunResult r = Probe(args);
      EXPECT_EQ(r.code, 2) << ::testing::PrintToString(args) << "\n" << r.err;
      EXPECT_NE(r.err.find(c.message), std::string::npos)
          << ::testing::PrintToString(args) << "\nstderr: " << r.err;
      EXPECT_EQ(Files(), before) << ::testing::PrintToString(args);
    }
  }
};

TEST_F(Errors, RefusedRequestsExitTwoAndWriteNothing) {
  // Inputs the cases may name; nothing else may appear.
  std::ofstream(Path("garbage.png")) << "not an image at all";
  std::string error;
  ASSERT_TRUE(WriteImage(*MakeTestCard(64, 64, 1), Path("whole.png"), ImageFormat::Png, &error));
  fs::copy_file(Path("whole.png"), Path("cut.png"));
  fs::resize_file(Path("cut.png"), fs::file_size(Path("cut.png")) / 3);
  std::ofstream(Path("bad.vcomp")) << "garbage!";
  ASSERT_EQ(Probe({"render", "Probe", "--set", "Level=0.3", "--save", "ok.vcomp"}).code, 0);
  const std::string record = ReadText(Path("ok.vcomp"));
  std::ofstream(Path("short.vcomp"), std::ios::binary) << record.substr(0, record.size() - 6);
  std::ofstream(Path("long.vcomp"), std::ios::binary) << record << "tail";
  const std::vector<std::string> before = Files();

  const std::vector<Case> cases = {
      {{"--set", "Nope=1"}, "no control \"Nope\"; controls: \"Level\", \"Mode\""},
      {{"--set", "Input=1"}, "is an image input; connect a file with --input"},
      {{"--set", "Level"}, "has no '='"},
      {{"--set", "Level=abc"}, "\"Level\": \"abc\" is not a decimal number"},
      {{"--set", "Level=1..2"}, "is not a decimal number"},
      {{"--set", "Level="}, "empty value"},
      {{"--set", "Level=nan"}, "not a finite number"},
      {{"--set", "Level=-inf"}, "not a finite number"},
      {{"--set", "Level=1e999"}, "beyond the range"},
      {{"--set", "Level=-1"}, "-1 is outside the allowed range (0 or more)"},
      {{"--set", "Level=1@5,0@2"}, "must increase"},
      {{"--set", "Mode=Paint"}, "items: \"Chunks\", \"Fill\", \"Copy\" (or their index 0 to 2)"},
      {{"--set", "Mode=3"}, "is not an item"},
      {{"--set", "Where=0.5"}, "write x,y"},
      {{"--set", "Poke=0@0,1@3"}, "\"0@0\" is not a press"},
      {{"--preset", "Blinding"}, "items: \"Dim\", \"Bright\""},
      {{"--input", "Nope=whole.png"},
       "no image input \"Nope\"; image inputs: \"Input\", \"Matte(optional)\""},
      {{"--input", "Level=whole.png"}, "is a control, not an image input"},
      {{"--input", "Input=missing.png"}, "missing.png"},
      // Inputs come before outputs, in the order a user mends them.
      {{"--input", "Input=missing.png", "--out", "whole.png/o.png"}, "missing.png"},
      {{"--input", "Input=garbage.png"}, "cannot read image garbage.png"},
      {{"--input", "Input=cut.png"}, "cut.png"},
      {{"--input", "Input=seq.#.png", "--frames", "1-3", "--out", "o.#.png"},
       "frame 1: cannot read image seq.0001.png"},
      {{"--input", "Input=whole.png", "--input", "Input=whole.png"}, "given twice"},
      {{"--frames", "5-1"}, "runs backwards"},
      {{"--frames", "1-x"}, "--frames"},
      {{"--frames", "1,,2"}, "empty item"},
      {{"--frame", "1-3"}, "one frame number"},
      {{"--frames", "1-3"}, "names one file for 3 frames; put # (or @, %04d)"},
      {{"--out", "a.gif"},
       "end the name in PNG (.png), EXR (.exr), TIFF (.tif, .tiff), DPX (.dpx) or JPEG"},
      {{"--out", "a.%s.png"}, "frame field"},
      {{"--compression", "fast"}, "PNG takes a compression level 0 (fastest) to 9"},
      {{"--out", "a.exr", "--compression", "b44"}, "EXR takes the compression \"none\", \"rle\""},
      {{"--out", "whole.png/a.png"}, "the folder whole.png for whole.png/a.png is not a folder"},
      {{"--frames", "1-2", "--out", "d#/a.#.png"},
       "may go in the file name only, not in a folder name"},
      {{"--frames", "1-2", "--out", "d%d/a.%04d.png"}, "not in a folder name"},
      {{"--size", "0x10"}, "--size"},
      {{"--size", "huge"}, "WIDTHxHEIGHT"},
      {{"--aspect", "0"}, "--aspect"},
      {{"--workers", "0"}, "--workers: \"0\" is not a whole number from 1 to 4096"},
      {{"--workers", "two"}, "--workers"},
      {{"--comp", "missing.vcomp"}, "missing.vcomp does not exist"},
      {{"--comp", "bad.vcomp"}, "cannot load bad.vcomp: not a vorn composition"},
      {{"--comp", "short.vcomp"}, "cannot load composition short.vcomp"},
      {{"--comp", "long.vcomp"}, "data after the end"},
      {{"--save", "whole.png/x.vcomp"}, "--save: the folder whole.png"},
      {{"--bogus"}, "--bogus"},
  };
  ExpectRefused(cases, before);
}

// Requests that would silently lose a file or mean a default.
TEST_F(Errors, EmptyValuesAndSelfOverwritesAreRefused) {
  std::string error;
  ASSERT_TRUE(WriteImage(*MakeTestCard(8, 8, 1), Path("whole.png"), ImageFormat::Png, &error));
  const std::vector<std::string> before = Files();
  const std::vector<Case> cases = {
      {{"--save", "out.png"}, "--save and --out both name out.png"},
      {{"--input", "Input=whole.png", "--out", "whole.png"},
       "frame 0 would be written over whole.png, which is the image of \"Input\""},
      {{"--input", "Input=."}, "it is a folder, not an image file"},
      {{"--frames", "5", "--shot-start", "6"},
       "--shot-start 6 is after the first frame asked for (5)"},
      {{"--shot-start", "x"}, "--shot-start: \"x\" is not a whole number"},
      {{"--frames", ""}, "--frames: an empty value is not allowed; give LIST"},
      {{"--frame", " "}, "--frame: an empty value is not allowed"},
      {{"--size", ""}, "--size: an empty value is not allowed; give WxH"},
      {{"--workers", ""}, "--workers: an empty value is not allowed"},
      {{"--out", ""}, "--out: an empty value is not allowed"},
      {{"--compression", ""}, "--compression: an empty value is not allowed"},
      {{"--comp", ""}, "--comp: an empty value is not allowed"},
  };
  ExpectRefused(cases, before);
}

uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string BigEndian(uint32_t v) {
  return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

// A PNG whose header claims a size its data does not have.
std::string LyingPng(uint32_t width, uint32_t height) {
  std::string ihdr =
      "IHDR" + BigEndian(width) + BigEndian(height) + std::string("\x08\x06\0\0\0", 5);
  std::string png = "\x89PNG\r\n\x1a\n";
  png += BigEndian(13) + ihdr + BigEndian(Crc32(ihdr));
  const std::string iend = "IEND";
  png += BigEndian(0) + iend + BigEndian(Crc32(iend));
  return png;
}

TEST_F(Errors, HostileInputsAreRefusedOrRenderedSafely) {
  std::ofstream(Path("huge.png"), std::ios::binary) << LyingPng(60000, 60000);
  std::ofstream(Path("wide.png"), std::ios::binary) << LyingPng(70000, 1);
  std::ofstream(Path("empty.png"), std::ios::binary) << "";
  ASSERT_EQ(Probe({"render", "Probe", "--save", "ok.vcomp"}).code, 0);
  std::string record = ReadText(Path("ok.vcomp"));
  record.replace(12, 4, "\xff\xff\xff\xff");  // entry count after class id, "DFhd", version
  std::ofstream(Path("count.vcomp"), std::ios::binary) << record;
  const std::vector<std::string> before = Files();
  for (const char* file : {"huge.png", "wide.png", "empty.png"}) {
    RunResult r =
        Probe({"render", "Probe", "--input", std::string("Input=") + file, "--out", "o.png"});
    EXPECT_EQ(r.code, 2) << file << ": " << r.err;
    EXPECT_NE(r.err.find(file), std::string::npos) << r.err;
  }
  RunResult r = Probe({"render", "Probe", "--comp", "count.vcomp", "--out", "o.png"});
  EXPECT_EQ(r.code, 2) << r.err;
  r = Probe({"show", "count.vcomp"});
  EXPECT_EQ(r.code, 2) << r.err;
  // Files that are no composition at all are called that.
  for (const char* file : {"huge.png", "empty.png"}) {
    r = Probe({"show", file});
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_NE(r.err.find(std::string(file) + ": not a vorn composition"), std::string::npos)
        << r.err;
  }
  EXPECT_EQ(Files(), before);

  // Tiny and odd sizes, more workers than rows, a mismatched matte: all render.
  std::string error;
  ASSERT_TRUE(WriteImage(*MakeTestCard(1, 1, 1), Path("one.png"), ImageFormat::Png, &error));
  ASSERT_TRUE(WriteImage(*MakeTestCard(7, 3, 1), Path("odd.png"), ImageFormat::Png, &error));
  for (const char* mode : {"Chunks", "Fill", "Copy"}) {
    for (const char* file : {"one.png", "odd.png"}) {
      r = Probe({"render", "Probe", "--input", std::string("Input=") + file, "--input",
                 "Matte(optional)=one.png", "--set", std::string("Mode=") + mode, "--workers", "16",
                 "--out", "r.png"});
      EXPECT_EQ(r.code, 0) << file << " " << mode << ": " << r.err;
    }
  }
  if (!BlebBuilt()) return;
  for (const char* size : {"1x1", "7x3", "2x301"}) {
    r = Run({"render", "Bleb", "--size", size, "--set", "Amplitude 3=5", "--set", "Scale=0.01",
             "--workers", "7", "--out", "b.png"});
    EXPECT_EQ(r.code, 0) << size << ": " << r.err;
  }
}

// Every output file of the request is checked before anything is written
// or any folder made: a name taken by a folder or by what is not a regular
// file, a name too long, at any frame, not only the first. Missing folders
// are made, once the request has passed.
TEST_F(Errors, EveryOutputIsCheckedBeforeAnythingIsWritten) {
  auto entries = [&] {  // every entry, links and folders included, unfollowed
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir_))
      names.push_back(fs::relative(e.path(), dir_).string());
    std::sort(names.begin(), names.end());
    return names;
  };
  fs::create_directories(Path("taken/f.0002.png"));
  ASSERT_EQ(mkfifo(Path("pipe.vcomp").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(Path("f.0003.png").c_str(), 0600), 0);
  fs::create_symlink("/dev/null", Path("null.png"));
  fs::create_symlink("/dev/null", Path("null.vcomp"));
  const std::string name249 = std::string(249, 'n');  // frame 10 makes a 256-byte name
  const std::vector<std::string> before = entries();
  const std::vector<Case> cases = {
      {{"--frames", "0-3", "--out", "taken/f.#.png"}, "frame 2: taken/f.0002.png is a folder"},
      {{"--frames", "0-3", "--out", "f.#.png"}, "frame 3: f.0003.png is not a regular file"},
      {{"--out", "null.png"}, "null.png is not a regular file"},
      {{"--save", "pipe.vcomp"}, "--save: pipe.vcomp is not a regular file"},
      {{"--save", "null.vcomp"}, "--save: null.vcomp is not a regular file"},
      {{"--frames", "8-10", "--out", name249 + ".%d.png"}, "frame 10: the name"},
      // Nothing is made for a request refused later, folders included.
      {{"--frames", "0-3", "--out", "new/deeper/f.#.png", "--set", "Nope=1"}, "Nope"},
      {{"--save", "new/s.vcomp", "--input", "Input=missing.png"}, "missing.png"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"render", "Probe", "--size", "8x8"};
    if (std::find(c.args.begin(), c.args.end(), "--out") == c.args.end())
      args.insert(args.end(), {"--out", "out.png"});
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult r = Probe(args);
    EXPECT_EQ(r.code, 2) << ::testing::PrintToString(args) << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << ::testing::PrintToString(args) << r.err;
    EXPECT_EQ(entries(), before) << ::testing::PrintToString(args);
  }
  EXPECT_TRUE(fs::is_character_file("/dev/null"));

  // Missing folders are made, for the frames and the composition alike.
  RunResult r = Probe({"render", "Probe", "--size", "8x8", "--frames", "1-2", "--out",
                       "out/warp.####.exr", "--save", "comps/shot/s.vcomp"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Image("out/warp.0001.exr"));
  EXPECT_TRUE(Image("out/warp.0002.exr"));
  EXPECT_TRUE(fs::is_regular_file(Path("comps/shot/s.vcomp")));
  r = Probe({"render", "Probe", "--size", "8x8", "--frames", "8-9", "--out", name249 + ".%d.png"});
  EXPECT_EQ(r.code, 0) << r.err;
}

TEST_F(Errors, UnknownToolsListTheRegisteredOnes) {
  RunResult r = Probe({"render", "Nope", "--out", "a.png"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("unknown tool \"Nope\"; tools: \"Probe\" (ProbePlugIn)"), std::string::npos)
      << r.err;
  r = Probe({"controls", "Nope"});
  EXPECT_EQ(r.code, 2);
  r = Probe({"render", "--out", "a.png"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("name a tool"), std::string::npos) << r.err;
  r = Probe({"render", "Probe"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("nothing to write"), std::string::npos) << r.err;
  r = Run({"--plugins", Path("nowhere"), "tools"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("nowhere"), std::string::npos) << r.err;
  r = Run({"frobnicate"});
  EXPECT_EQ(r.code, 2);
  r = Run({});
  EXPECT_EQ(r.code, 2);
  r = Probe({"show", "missing.vcomp"});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(Files().empty());
}

}  // namespace
}  // namespace vorn::test
