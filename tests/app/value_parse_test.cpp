#include "value_parse.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vorn {
namespace {

TEST(ParseNumber, AcceptsDecimals) {
  std::string error;
  EXPECT_EQ(*ParseNumber("2.5", &error), 2.5);
  EXPECT_EQ(*ParseNumber(" -0.75 ", &error), -0.75);
  EXPECT_EQ(*ParseNumber("+3", &error), 3.0);
  EXPECT_EQ(*ParseNumber(".5", &error), 0.5);
  EXPECT_EQ(*ParseNumber("5.", &error), 5.0);
  EXPECT_EQ(*ParseNumber("1e-3", &error), 0.001);
  EXPECT_EQ(*ParseNumber("2E2", &error), 200.0);
}

TEST(ParseNumber, RefusesMalformedAndNonFinite) {
  struct Case {
    const char* text;
    const char* why;
  };
  for (const Case& c :
       {Case{"", "empty"}, Case{"   ", "empty"}, Case{"abc", "not a decimal"},
        Case{"1..2", "not a decimal"}, Case{"1,5", "not a decimal"}, Case{"0x10", "not a decimal"},
        Case{"1e", "not a decimal"}, Case{"--1", "not a decimal"}, Case{"+-1", "not a decimal"},
        Case{"1 2", "not a decimal"}, Case{"nan", "not a finite"}, Case{"-inf", "not a finite"},
        Case{"Infinity", "not a finite"}, Case{"1e999", "beyond the range"},
        Case{"-1e400", "beyond the range"}}) {
    std::string error;
    EXPECT_FALSE(ParseNumber(c.text, &error)) << c.text;
    EXPECT_NE(error.find(c.why), std::string::npos) << c.text << ": " << error;
  }
}

TEST(FormatNumber, ShortestRoundTrip) {
  EXPECT_EQ(FormatNumber(0.1), "0.1");
  EXPECT_EQ(FormatNumber(-154.3), "-154.3");
  EXPECT_EQ(FormatNumber(1.0), "1");
  EXPECT_EQ(FormatNumber(0.001), "0.001");
}

TEST(SplitAssignment, SplitsAtFirstEquals) {
  std::string caption, value, error;
  ASSERT_TRUE(SplitAssignment("Fill Option=Black Edges", &caption, &value, &error));
  EXPECT_EQ(caption, "Fill Option");
  EXPECT_EQ(value, "Black Edges");
  ASSERT_TRUE(SplitAssignment("A=b=c", &caption, &value, &error));
  EXPECT_EQ(value, "b=c");
  EXPECT_FALSE(SplitAssignment("Level", &caption, &value, &error));
  EXPECT_NE(error.find("CAPTION=VALUE"), std::string::npos);
  EXPECT_FALSE(SplitAssignment("=1", &caption, &value, &error));
}

ControlSpec Slider(double lo) {
  ControlSpec s;
  s.kind = ValueKind::Number;
  s.minAllowed = lo;
  return s;
}

ControlSpec Combo() {
  ControlSpec s;
  s.kind = ValueKind::Combo;
  s.items = {"Duplicate Edges", "Black Edges", "Wrap Edges"};
  return s;
}

ControlSpec Kind(ValueKind k) {
  ControlSpec s;
  s.kind = k;
  return s;
}

double One(const ControlSpec& info, const std::string& text) {
  ParsedValue v;
  std::string error;
  EXPECT_TRUE(ParseControlValue(info, text, &v, &error)) << text << ": " << error;
  EXPECT_FALSE(v.animated);
  return v.keys.empty() ? NAN : v.keys[0].v[0];
}

std::string Refused(const ControlSpec& info, const std::string& text) {
  ParsedValue v;
  std::string error;
  EXPECT_FALSE(ParseControlValue(info, text, &v, &error)) << text;
  return error;
}

TEST(ControlValue, NumbersWithinTheAllowedRange) {
  EXPECT_EQ(One(Slider(0.001), "0.001"), 0.001);
  EXPECT_EQ(One(Slider(0.001), "250"), 250);  // the slider's top is no hard limit
  EXPECT_NE(Refused(Slider(0.001), "0").find("allowed range (0.001 or more)"), std::string::npos);
  ControlSpec colour = Slider(0);
  colour.maxAllowed = 1;
  EXPECT_NE(Refused(colour, "1.5").find("(0 to 1)"), std::string::npos);
  EXPECT_EQ(One(Kind(ValueKind::Number), "-1e300"), -1e300);  // scroll: no limits
  EXPECT_NE(Refused(Slider(0), "nan").find("finite"), std::string::npos);
}

TEST(ControlValue, CombosByTextOrIndex) {
  EXPECT_EQ(One(Combo(), "Black Edges"), 1);
  EXPECT_EQ(One(Combo(), "wrap edges"), 2);  // case is forgiven when unambiguous
  EXPECT_EQ(One(Combo(), "0"), 0);
  EXPECT_EQ(One(Combo(), "2"), 2);
  const std::string error = Refused(Combo(), "Mirror");
  EXPECT_NE(error.find("\"Duplicate Edges\", \"Black Edges\", \"Wrap Edges\""), std::string::npos);
  EXPECT_NE(error.find("0 to 2"), std::string::npos);
  Refused(Combo(), "3");
  Refused(Combo(), "1.5");
  Refused(Combo(), "-1");
}

TEST(ControlValue, CheckBoxesAndButtons) {
  for (const char* on : {"1", "on", "ON", "true", "yes"})
    EXPECT_EQ(One(Kind(ValueKind::CheckBox), on), 1);
  for (const char* off : {"0", "off", "false", "no"})
    EXPECT_EQ(One(Kind(ValueKind::CheckBox), off), 0);
  EXPECT_NE(Refused(Kind(ValueKind::CheckBox), "2").find("0/1"), std::string::npos);
  EXPECT_EQ(One(Kind(ValueKind::Button), "1"), 1);
  EXPECT_EQ(One(Kind(ValueKind::Button), "press"), 1);
  // Presses at frames: keys of 1 at whole frames; a key of 0 or a fraction is refused.
  ParsedValue v;
  std::string error;
  ASSERT_TRUE(ParseControlValue(Kind(ValueKind::Button), "1@20, press@45", &v, &error)) << error;
  ASSERT_EQ(v.keys.size(), 2u);
  EXPECT_EQ(v.keys[0].time, 20);
  EXPECT_EQ(v.keys[1].time, 45);
  EXPECT_NE(Refused(Kind(ValueKind::Button), "0@0,1@5").find("is not a press"), std::string::npos);
  EXPECT_NE(Refused(Kind(ValueKind::Button), "1@2.5").find("whole frame"), std::string::npos);
}

TEST(ControlValue, Points) {
  ParsedValue v;
  std::string error;
  ASSERT_TRUE(ParseControlValue(Kind(ValueKind::Point), "0.25, 0.75", &v, &error)) << error;
  EXPECT_EQ(v.keys[0].v[0], 0.25);
  EXPECT_EQ(v.keys[0].v[1], 0.75);
  EXPECT_NE(Refused(Kind(ValueKind::Point), "0.5").find("x,y"), std::string::npos);
  EXPECT_NE(Refused(Kind(ValueKind::Point), "1,2,3").find("x,y"), std::string::npos);
  EXPECT_NE(Refused(Kind(ValueKind::Point), "0.5,inf").find("finite"), std::string::npos);
  EXPECT_NE(Refused(Kind(ValueKind::Point), "0.5,1e39").find("3e38"), std::string::npos);
}

TEST(ControlValue, Keyframes) {
  ParsedValue v;
  std::string error;
  ASSERT_TRUE(ParseControlValue(Slider(-0.99), "0@0,2.5@48", &v, &error)) << error;
  ASSERT_TRUE(v.animated);
  ASSERT_EQ(v.keys.size(), 2u);
  EXPECT_EQ(v.keys[1].time, 48);
  EXPECT_EQ(v.keys[1].v[0], 2.5);
  ASSERT_TRUE(ParseControlValue(Slider(0), "1@-10; 2@-2.5", &v, &error)) << error;
  EXPECT_EQ(v.keys[0].time, -10);
  EXPECT_EQ(v.keys[1].time, -2.5);
  ASSERT_TRUE(ParseControlValue(Combo(), "Black Edges@0,Wrap Edges@10", &v, &error)) << error;
  EXPECT_EQ(v.keys[1].v[0], 2);
  ASSERT_TRUE(ParseControlValue(Kind(ValueKind::Point), "0.2,0.5@0;0.8,0.4@24", &v, &error));
  EXPECT_EQ(v.keys[1].v[0], 0.8);
  EXPECT_EQ(v.keys[1].v[1], 0.4);
  EXPECT_EQ(v.keys[1].time, 24);
  // The same, with commas between point keys.
  ASSERT_TRUE(ParseControlValue(Kind(ValueKind::Point), "0.2,0.5@0,0.8,0.4@24", &v, &error));
  EXPECT_EQ(v.keys.size(), 2u);
}

TEST(ControlValue, RefusesBadKeyframes) {
  EXPECT_NE(Refused(Slider(0), "1@0,2").find("value@frame"), std::string::npos);
  EXPECT_NE(Refused(Slider(0), "1@5,2@5").find("increase"), std::string::npos);
  EXPECT_NE(Refused(Slider(0), "1@5,2@1").find("increase"), std::string::npos);
  EXPECT_NE(Refused(Slider(0), "1@x").find("frame after '@'"), std::string::npos);
  EXPECT_NE(Refused(Slider(0), "1@nan").find("finite"), std::string::npos);
  EXPECT_NE(Refused(Slider(0), "-1@0,1@5").find("allowed range"), std::string::npos);
  EXPECT_NE(Refused(Kind(ValueKind::Point), "0.2@0,0.5@1").find("x,y@frame"), std::string::npos);
  EXPECT_NE(Refused(Kind(ValueKind::Point), "0.2,0.5@0;0.8").find("point keys"), std::string::npos);
}

TEST(ParseSize, WidthByHeight) {
  int w = 0, h = 0;
  std::string error;
  ASSERT_TRUE(ParseSize("1920x1080", 65536, 1LL << 28, &w, &h, &error));
  EXPECT_EQ(w, 1920);
  EXPECT_EQ(h, 1080);
  ASSERT_TRUE(ParseSize(" 64 X 32 ", 65536, 1LL << 28, &w, &h, &error));
  EXPECT_EQ(h, 32);
  for (const char* bad : {"0x10", "10x0", "-5x5", "1920", "axb", "1.5x2", "65537x1",
                          "99999999999999999999x1", "30000x30000"})
    EXPECT_FALSE(ParseSize(bad, 65536, 1LL << 28, &w, &h, &error)) << bad;
}

TEST(ParseCount, WholeNumbersInRange) {
  std::string error;
  EXPECT_EQ(*ParseCount("16", 1, 4096, &error), 16);
  for (const char* bad : {"0", "-1", "4097", "2.5", "", "8 workers"})
    EXPECT_FALSE(ParseCount(bad, 1, 4096, &error)) << bad;
}

}  // namespace
}  // namespace vorn
