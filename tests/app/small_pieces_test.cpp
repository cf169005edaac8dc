// Plug-in search order, progress texts, JSON output and the shot settings a
// composition keeps.
#include <gtest/gtest.h>

#include <cmath>

#include "composition.h"
#include "json_document.h"
#include "plugin_paths.h"
#include "progress.h"

namespace vorn {
namespace {

// What a composition keeps of its shot goes through the record's settings and
// back; a hand-edited value vorn would not take is refused, an unknown id left.
TEST(ShotSettings, RoundTripAndRefusals) {
  ShotSettings shot{-40, std::pair{96, 54}, 0.9};
  ShotSettings back;
  std::string error;
  ASSERT_TRUE(ReadShotSettings(ShotSettingsRecord(shot), &back, &error)) << error;
  EXPECT_EQ(back, shot);
  ASSERT_TRUE(ReadShotSettings({}, &back, &error));
  EXPECT_EQ(back, ShotSettings{});
  const uint32_t frame = df::FourCC("ShFr"), w = df::FourCC("ImgW"), h = df::FourCC("ImgH"),
                 aspect = df::FourCC("ImgA");
  const std::vector<std::pair<std::vector<df::SavedSetting>, const char*>> refused = {
      {{{frame, 2.5}}, "not a whole frame number"},
      {{{frame, 1e12}}, "not a whole frame number"},
      {{{w, 0}, {h, 54}}, "each side must be 1 to"},
      {{{w, 96.5}, {h, 54}}, "is not a size"},
      {{{w, 96}}, "one side is missing"},
      {{{aspect, 1000}}, "pixel aspect"},
  };
  for (const auto& [settings, why] : refused) {
    EXPECT_FALSE(ReadShotSettings(settings, &back, &error)) << why;
    EXPECT_NE(error.find(why), std::string::npos) << error;
  }
  EXPECT_TRUE(ReadShotSettings({{df::FourCC("Zzzz"), 1e300}}, &back, &error)) << error;
}

TEST(PluginFolders, OverridesThenEnvironmentThenBesideTheBinary) {
  const std::vector<std::string> rel = {"../lib/vorn", "../lib/vorn"};
  PluginSearch s = PluginFolders({"/a", "/b"}, "/env", "/opt/x/bin", rel);
  EXPECT_EQ(s.folders, (std::vector<std::string>{"/a", "/b"}));
  EXPECT_EQ(s.origin, "--plugins");

  s = PluginFolders({}, "/e1::/e2:", "/opt/x/bin", rel);
  EXPECT_EQ(s.folders, (std::vector<std::string>{"/e1", "/e2"}));
  EXPECT_EQ(s.origin, "VORN_PLUGIN_PATH");

  // Empty or all-empty VORN_PLUGIN_PATH falls back; the same folder twice is tried once.
  for (const char* env : {static_cast<const char*>(nullptr), "", ":"}) {
    s = PluginFolders({}, env, "/opt/x/bin", rel);
    EXPECT_EQ(s.folders, (std::vector<std::string>{"/opt/x/lib/vorn"}));
  }
  s = PluginFolders({}, nullptr, "/opt/x/bin", {"../lib/vorn", "../lib64/vorn"});
  EXPECT_EQ(s.folders, (std::vector<std::string>{"/opt/x/lib/vorn", "/opt/x/lib64/vorn"}));
}

TEST(Progress, DurationsAndLines) {
  EXPECT_EQ(FormatDuration(0), "0:00");
  EXPECT_EQ(FormatDuration(65.4), "1:05");
  EXPECT_EQ(FormatDuration(3723), "1:02:03");
  EXPECT_EQ(FormatDuration(-1), "?");
  EXPECT_EQ(ProgressLine(ProgressStyle::Lines, 10, 100, 1010, 5.0),
            "frame 1010 done (10 of 100, 10%, 2.00 fps, 0:45 left)");
  EXPECT_NE(ProgressLine(ProgressStyle::Lines, 2, 3, 7, 1.0).find("(2 of 3, 66%,"),
            std::string::npos);
  const std::string bar = ProgressLine(ProgressStyle::Bar, 50, 100, 0, 10.0);
  EXPECT_EQ(bar.substr(0, 32), "[===============>              ]");
  EXPECT_NE(bar.find("frame 50 of 100 50%"), std::string::npos);
  EXPECT_NE(bar.find("5.00 fps"), std::string::npos);
  EXPECT_NE(bar.find("0:10 left"), std::string::npos);
}

// Writer threads finish frames out of order; the log reads in the
// sequence's order with the count rising by one a line. Frames finished
// after one that never finishes are still reported at the end.
TEST(Progress, LinesComeInTheSequencesOrder) {
  std::FILE* log = std::tmpfile();
  ASSERT_NE(log, nullptr);
  Progress progress(ProgressStyle::Lines, {10, 11, 12, 13, 14, 15}, log);
  for (int frame : {12, 10, 11, 99, 15, 13}) progress.FrameDone(frame);  // 14 fails
  progress.Finish();
  std::rewind(log);
  std::vector<std::pair<int, int>> lines;  // (frame, count)
  int frame = 0, count = 0;
  while (std::fscanf(log, "frame %d done (%d of 6%*[^\n]\n", &frame, &count) == 2)
    lines.push_back({frame, count});
  std::fclose(log);
  const std::vector<std::pair<int, int>> want = {{10, 1}, {11, 2}, {12, 3}, {13, 4}, {15, 5}};
  EXPECT_EQ(lines, want);
}

TEST(JsonDocument, PrintsNumbersAndTextAsTheListingsDo) {
  const JsonDoc json = {
      {"name", JsonString("say \"hi\"\n\x01")},
      {"list", JsonDoc::array({JsonNumber(0.5), JsonNumber(-3), JsonNumber(NAN), JsonNumber(100000),
                               JsonNumber(-0.0), JsonNumber(1e300), true})},
      {"empty", JsonDoc::array()},
      // UTF-8 kept; a Latin-1 byte and a cut sequence become their characters.
      {"text", JsonDoc::array({JsonString("\xC3\xA9t\xC3\xA9"), JsonString("caf\xE9"),
                               JsonString("\xFF\xC3")})}};
  EXPECT_EQ(JsonText(json),
            "{\n"
            "  \"name\": \"say \\\"hi\\\"\\n\\u0001\",\n"
            "  \"list\": [\n    0.5,\n    -3,\n    null,\n    100000,\n    -0.0,\n    1e+300,\n"
            "    true\n  ],\n"
            "  \"empty\": [],\n"
            "  \"text\": [\n    \"\xC3\xA9t\xC3\xA9\",\n    \"caf\xC3\xA9\",\n"
            "    \"\xC3\xBF\xC3\x83\"\n  ]\n"
            "}\n");
}

}  // namespace
}  // namespace vorn
