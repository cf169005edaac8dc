// The built plug-in, loaded and driven through the runtime as a host would:
// its presets, point links, noise seeding and renders.
#include <dfsystem/dfsystem.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/support/plugin_host.h"

namespace {

using namespace df;
using testsupport::Pixels;
using testsupport::PluginHost;

class CandleHost : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(host.Load(CANDLE_PLUGIN_PATH, "CandlePlugIn", &error)) << error;
  }
  OperatorPtr Create() {
    OperatorPtr op = host.Create();
    EXPECT_TRUE(op);
    return op;
  }
  static Input* In(Operator& op, const char* caption) {
    Input* in = op.FindInputByName(caption);
    EXPECT_NE(in, nullptr) << caption;
    return in;
  }
  PluginHost host;
};

// A background with every byte varying, alpha included.
Pixels Picture(int w, int h, int salt = 0) {
  Pixels p{w, h, std::vector<uint8_t>(size_t(w) * h * 4)};
  for (size_t i = 0; i < p.bytes.size(); ++i) p.bytes[i] = uint8_t((i * 37 + i / 7 + salt) % 251);
  return p;
}

Pixels Render(Operator& op, const Pixels& background, double time = 0.5, int workers = 2,
              const Pixels* matte = nullptr) {
  std::vector<std::pair<std::string, const Pixels*>> images = {{"Background", &background}};
  if (matte) images.push_back({"Matte(optional)", matte});
  return PluginHost::Render(op, images, time, workers);
}

// Every control's value: a number, or a point as two.
using Values = std::map<std::string, std::vector<double>>;
Values Snapshot(const Operator& op) {
  Values v;
  for (const auto& in : op.Inputs()) {
    if (in->IsImage()) continue;
    if (in->ValueType() == kTypePoint) {
      float x, y;
      in->PointAt(0, x, y);
      v[in->Name()] = {x, y};
    } else {
      v[in->Name()] = {in->NumberAt(0)};
    }
  }
  return v;
}

// Moves every control off its default and off every preset value, without
// notification.
void Scramble(Operator& op) {
  for (const auto& in : op.Inputs()) {
    if (in->IsImage()) continue;
    if (in->ValueType() == kTypePoint) {
      df::Point p(0.31f, 0.62f);
      in->SetValue(&p, 0, 0);
    } else {
      const bool unit = in->MaxAllowed() && *in->MaxAllowed() <= 1;
      Number n(in->ComboItems().empty() ? (unit ? 0.5 : 3) : 2);
      in->SetValue(&n, 0, 0);
    }
  }
}

// What a notification changed, as captions and new values; `steps` and
// `caption` describe the undo history it added.
struct Change {
  Values set;
  size_t steps;
  std::string caption;
};
Change Notify(CPipelineDoc& doc, Operator& op, Input* input, Parameter* value) {
  const Values before = Snapshot(op);
  const size_t steps = doc.UndoCount();
  op.NotifyChanged(input, value, 0);
  Change c{{}, doc.UndoCount() - steps, doc.UndoCaption()};
  for (const auto& [name, v] : Snapshot(op))
    if (before.at(name) != v) c.set[name] = v;
  return c;
}

TEST_F(CandleHost, EachDemoSetsExactlyItsControlsInOneStep) {
  const Values still = {{"Bottom Left", {0.361f, 0.913f}},
                        {"Top Left", {0.361f, 0.132f}},
                        {"Bottom Right", {0.638f, 0.913f}},
                        {"Top Right", {0.638f, 0.132f}},
                        {"Curve Point 1", {0.454f, 0.957f}},
                        {"Curve Point 2", {0.546f, 0.87f}},
                        {"Flame Density", {100}},
                        {"Convection", {40}},
                        {"Flicker Speed", {50}},
                        {"Turbulence", {0}},
                        {"Frequency 1", {0}},
                        {"Frequency 2", {0}},
                        {"Base Softness", {10}},
                        {"Edge Softness", {30}}};
  auto turb = [](double t, double f1, double f2) {
    return Values{{"Turbulence", {t}}, {"Frequency 1", {f1}}, {"Frequency 2", {f2}}};
  };
  const std::vector<std::tuple<double, std::string, Values>> cases = {
      {0, "No change", {{"Edge Softness", {30}}}}, {1, "Still flame", still},
      {2, "Turb1-soft", turb(16, 54, 38)},         {3, "Turb2-wiggly", turb(68, 59, 60)},
      {4, "Turb3-wild", turb(68, 36, 80)},         {5, "Turb4-fluffy", turb(8, 36, 80)},
      {9, "No change", {{"Edge Softness", {30}}}}, {-4, "No change", {{"Edge Softness", {30}}}},
  };
  OperatorPtr op = Create();
  Input* demos = In(*op, "Demos");
  Scramble(*op);
  const Values scrambled = Snapshot(*op);
  for (const auto& [item, caption, set] : cases) {
    SCOPED_TRACE(caption);
    Number n(item);
    host.doc.notifyGuard = 1;
    EXPECT_EQ(Notify(host.doc, *op, demos, &n).steps, 0u);
    host.doc.notifyGuard = 0;
    const Change c = Notify(host.doc, *op, demos, &n);
    EXPECT_EQ(c.steps, 1u);
    EXPECT_EQ(c.caption, caption);
    EXPECT_EQ(c.set, set);
    ASSERT_TRUE(host.doc.Undo());
    EXPECT_EQ(Snapshot(*op), scrambled);
  }
  // Through the host: the combo keeps its item and the preset follows.
  Number wild(4);
  ASSERT_EQ(demos->SetValue(&wild, 0, 1), 1u);
  EXPECT_EQ(host.doc.UndoCaption(), "Turb3-wild");
  EXPECT_EQ(demos->NumberAt(0), 4);
}

TEST_F(CandleHost, EachProportionDemoSetsTheThreeProportions) {
  auto props = [](double a, double b, double c) {
    return Values{
        {"Proportion Color 1", {a}}, {"Proportion Color 2", {b}}, {"Proportion Color 3", {c}}};
  };
  const std::vector<std::tuple<double, std::string, Values>> cases = {
      {0, "No change", props(50, 50, 50)}, {1, "Evens", props(50, 50, 50)},
      {2, "Edge", props(20, 40, 100)},     {3, "Center", props(100, 50, 10)},
      {7, "No change", props(50, 50, 50)},
  };
  OperatorPtr op = Create();
  Input* combo = In(*op, "Proportion Demos");
  Scramble(*op);
  for (const auto& [item, caption, set] : cases) {
    Number n(item);
    const Change c = Notify(host.doc, *op, combo, &n);
    EXPECT_EQ(c.steps, 1u) << caption;
    EXPECT_EQ(c.caption, caption);
    EXPECT_EQ(c.set, set) << caption;
    ASSERT_TRUE(host.doc.Undo());
  }
}

TEST_F(CandleHost, MovingAnOutlinePointRealignsTheOthersFromTheLastRender) {
  OperatorPtr op = Create();
  const std::vector<std::tuple<const char*, float, float>> outline = {
      {"Bottom Left", 0.2f, 0.9f},     {"Bottom Right", 0.8f, 0.92f},
      {"Top Left", 0.3f, 0.25f},       {"Top Right", 0.7f, 0.3f},
      {"Curve Point 1", 0.45f, 0.97f}, {"Curve Point 2", 0.55f, 0.85f}};
  for (auto [name, x, y] : outline) ASSERT_TRUE(PluginHost::SetPoint(*op, name, x, y));
  // Before any render the links work from the defaults.
  Change c = Notify(host.doc, *op, In(*op, "Curve Point 2"), nullptr);
  EXPECT_EQ(c.caption, "Overlay");
  EXPECT_EQ(c.set, (Values{{"Top Left", {0.125f, 0.13f}},
                           {"Top Right", {0.875f, 0.13f}},
                           {"Curve Point 1", {0.375f, 0.957f}}}));
  ASSERT_TRUE(host.doc.Undo());
  Render(*op, Picture(40, 30));

  // Third of the base 0.2: the top corners above the bottom ones at the
  // height of "Top Left", the curve points at 0.4 and 0.6 at their heights.
  const Values derived = {{"Top Left", {0.2f, 0.25f}},
                          {"Top Right", {0.8f, 0.25f}},
                          {"Curve Point 1", {float(0.2f + (0.8f - double(0.2f)) / 3), 0.97f}},
                          {"Curve Point 2", {float(0.2f + 2 * (0.8f - double(0.2f)) / 3), 0.85f}}};
  auto without = [&](std::initializer_list<const char*> skip) {
    Values v = derived;
    for (const char* s : skip) v.erase(s);
    return v;
  };
  const std::vector<std::pair<const char*, Values>> branches = {
      {"Bottom Left", derived},
      {"Bottom Right", derived},
      {"Top Left", without({"Top Left"})},
      {"Top Right", without({"Top Right"})},
      {"Curve Point 1", without({"Curve Point 1"})},
      {"Curve Point 2", without({"Curve Point 2"})},
  };
  for (const auto& [name, set] : branches) {
    SCOPED_TRACE(name);
    df::Point moved(0.5f, 0.5f);
    host.doc.notifyGuard = 1;
    EXPECT_EQ(Notify(host.doc, *op, In(*op, name), &moved).steps, 0u);
    host.doc.notifyGuard = 0;
    c = Notify(host.doc, *op, In(*op, name), &moved);
    EXPECT_EQ(c.steps, 1u);
    EXPECT_EQ(c.caption, "Overlay");
    ASSERT_EQ(c.set.size(), set.size());
    for (const auto& [point, xy] : set) {
      ASSERT_TRUE(c.set.count(point)) << point;
      EXPECT_FLOAT_EQ(float(c.set.at(point)[0]), float(xy[0])) << point;
      EXPECT_FLOAT_EQ(float(c.set.at(point)[1]), float(xy[1])) << point;
    }
    ASSERT_TRUE(host.doc.Undo());
  }
  // Any other input: nothing of the tool's own.
  Number seed(5);
  EXPECT_EQ(Notify(host.doc, *op, In(*op, "Seed"), &seed).steps, 0u);
  EXPECT_EQ(Notify(host.doc, *op, In(*op, "XY Wind Source"), nullptr).steps, 0u);
}

TEST_F(CandleHost, TheNoiseIsReseededOnlyByEarlyFramesOrANewOperator) {
  const Pixels bg = Picture(64, 48);
  auto fresh = [&](double seed, double time) {
    OperatorPtr op = Create();
    PluginHost::SetNumber(*op, "Seed", seed);
    return Render(*op, bg, time);
  };
  const Pixels old = fresh(2000, 0.5), renewed = fresh(77, 0.5);
  ASSERT_NE(old, renewed);

  OperatorPtr op = Create();
  Render(*op, bg, 0.05);  // seeds 2000
  PluginHost::SetNumber(*op, "Seed", 77);
  Render(*op, bg, 0.1);  // time 0.1 and above keeps the table
  EXPECT_EQ(Render(*op, bg, 0.5), old);
  Render(*op, bg, 0.0999);  // below 0.1: seeds 77
  PluginHost::SetNumber(*op, "Seed", 2000);
  EXPECT_EQ(Render(*op, bg, 0.5), renewed);
}

TEST_F(CandleHost, TheOutputIsTheBackgroundWhereThereIsNoFlame) {
  OperatorPtr op = Create();
  PluginHost::SetNumber(*op, "Wind Speed", 0);
  const int w = 120, h = 60;
  const Pixels bg = Picture(w, h);
  const Pixels out = Render(*op, bg);
  int flame = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const size_t i = (size_t(y) * w + x) * 4;
      const bool same = std::memcmp(&out.bytes[i], &bg.bytes[i], 4) == 0;
      if (x < 14 || x > 106) {
        EXPECT_TRUE(same) << x << "," << y;
      }
      flame += !same;
    }
  EXPECT_GT(flame, 1000);
  // Invert Matte alone changes nothing; a matte of zeros with Use Matte hides the flame.
  const Pixels black = {w, h, std::vector<uint8_t>(size_t(w) * h * 4, 0)};
  PluginHost::SetNumber(*op, "Invert Matte", 1);
  EXPECT_EQ(Render(*op, bg, 0.5, 2, &black), out);
  PluginHost::SetNumber(*op, "Invert Matte", 0);
  PluginHost::SetNumber(*op, "Use Matte", 1);
  EXPECT_EQ(Render(*op, bg, 0.5, 2, &black), bg);
}

TEST_F(CandleHost, HostileValuesRenderWithoutFault) {
  // ASan and UBSan watch: degenerate outlines, one-pixel images, a zero third
  // proportion, the largest seed, unbounded frequencies, wide cones.
  OperatorPtr op = Create();
  for (const char* p : {"Bottom Left", "Bottom Right", "Top Left", "Curve Point 1", "Curve Point 2",
                        "XY Wind Source", "XY Wind Target"})
    PluginHost::SetPoint(*op, p, 0.5f, 0.5f);
  PluginHost::SetNumber(*op, "Proportion Color 3", 0);
  PluginHost::SetNumber(*op, "Seed", 1e12);
  PluginHost::SetNumber(*op, "Wind Spread", 720);
  PluginHost::SetNumber(*op, "Frequency 2", 3000);
  PluginHost::SetNumber(*op, "Base Softness", 0);
  for (auto [w, h] : {std::pair{1, 1}, {1, 9}, {9, 1}, {17, 13}}) {
    EXPECT_EQ(Render(*op, Picture(w, h), 0.0, 4).bytes.size(), size_t(w) * h * 4);
    EXPECT_EQ(Render(*op, Picture(w, h), 7.0, 1).bytes.size(), size_t(w) * h * 4);
  }
  PluginHost::SetPoint(*op, "Bottom Left", -4e9f, 3e9f);
  PluginHost::SetPoint(*op, "Curve Point 1", 1e30f, -1e30f);
  PluginHost::SetPoint(*op, "XY Wind Source", 1e30f, 0.5f);
  PluginHost::SetNumber(*op, "Wind Speed", 1e9);
  EXPECT_EQ(Render(*op, Picture(20, 10)).bytes.size(), 800u);

  // Every unbounded slider typed far beyond the float range, at far times.
  OperatorPtr huge = Create();
  for (const char* n : {"Flame Density", "Convection", "Flicker Speed", "Turbulence", "Frequency 1",
                        "Base Softness", "Edge Softness", "Seed", "Wind Speed", "Wind Spread",
                        "Proportion Color 1", "Proportion Color 3"})
    PluginHost::SetNumber(*huge, n, 1e300);
  for (double time : {0.0, 1e300, -1e300})
    EXPECT_EQ(Render(*huge, Picture(20, 10), time).bytes.size(), 800u) << time;
}

}  // namespace
