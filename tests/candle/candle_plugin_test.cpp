// The built plug-in, loaded and driven through the runtime as a host would:
// registration, declarations, defaults, change handling and renders.
#include <dfsystem/dfsystem.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/support/plugin_host.h"

namespace {

using namespace df;
using testsupport::Pixels;
using testsupport::PluginHost;
using Strings = std::vector<std::string>;

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

TEST_F(CandleHost, RegistersTheRecordInItsTagOrder) {
  Registry* r = host.registry;
  const std::vector<uint32_t> order = {
      REG_InitFunc, REG_CleanupFunc, REG_CreateFunc,  REG_ClassID, REG_OpType,   REG_TileBitmap,
      REG_PackName, REG_ShortName,   REG_Description, REG_Name,    REG_HelpFile, REG_ToolCode};
  ASSERT_EQ(r->Tags().Size(), order.size());
  for (size_t k = 0; k < order.size(); ++k) EXPECT_EQ(r->Tags().Items()[k].tag, order[k]) << k;
  EXPECT_EQ(r->ClassID(), 0x80010085u);
  EXPECT_EQ(r->OpType(), 3);
  EXPECT_EQ(r->TileBitmap(), 101);
  EXPECT_EQ(r->PackName(), "Vorn_Tamb9");
  EXPECT_EQ(r->ShortName(), "Can");
  EXPECT_EQ(r->Description(), "Flame simulation");
  EXPECT_EQ(r->Name(), "Candle");
  EXPECT_EQ(r->HelpFile(), "Tamb9.hlp");
  EXPECT_EQ(r->ToolCode(), 0x01010902u);
  const Resource* tile = r->FindResource(101);
  ASSERT_NE(tile, nullptr);
  ASSERT_GE(tile->size, 54u);
  int32_t w, h;
  uint16_t bpp;
  std::memcpy(&w, tile->data + 18, 4);
  std::memcpy(&h, tile->data + 22, 4);
  std::memcpy(&bpp, tile->data + 28, 2);
  EXPECT_EQ(std::memcmp(tile->data, "BM", 2), 0);
  EXPECT_EQ(w, 116);
  EXPECT_EQ(std::abs(h), 87);
  EXPECT_EQ(bpp, 32);
}

std::string Text(const TagItem& t) {
  std::string s = std::string(TagName(t.tag)) + "=";
  switch (t.kind) {
    case TagKind::Integer:
      return s + (t.i > 0xFFFFFF ? FourCCText(uint32_t(t.i)) : std::to_string(t.i));
    case TagKind::Double: {
      char b[32];
      std::snprintf(b, sizeof b, "%.10g", t.d);
      return s + b;
    }
    case TagKind::String:
      return s + t.s;
    case TagKind::Pointer:
      return s + (t.p ? static_cast<const Input*>(t.p)->Name() : "null");
    case TagKind::Function:
      return s + "fn";
  }
  return s;
}

struct Declared {
  std::string page, caption, id;
  Strings tags;
};

Strings Slider(const char* min, const char* def, const char* top) {
  return {"INP_Control=SliC", std::string("INP_MinAllowed=") + min,
          std::string("INP_Default=") + def, std::string("INP_MaxScale=") + top};
}
Strings Colour(const char* group, int n, int channel, const char* def) {
  return {std::string("INP_GroupName=") + group,
          "INP_Control=ColC",
          "INP_ColorGroup=" + std::to_string(n),
          "INP_ColorChannel=" + std::to_string(channel),
          "INP_MinAllowed=0",
          "INP_MaxAllowed=1",
          std::string("INP_Default=") + def};
}
Strings Point(const char* x, const char* y, const char* link, bool notify) {
  Strings t = {"INP_Control=OffC", "INP_PreviewControl=PntC", std::string("INP_DefaultX=") + x,
               std::string("INP_DefaultY=") + y};
  if (link) t.push_back(std::string("INP_Link=") + link);
  if (notify) t.push_back("INP_Notify=1");
  return t;
}
const Strings kCheck = {"INP_Control=ChBC", "INP_CtlFlag02=0"};

TEST_F(CandleHost, DeclaresFourPagesThirtyFiveControlsTwoImagesAndTheOutput) {
  OperatorPtr op = Create();
  // The ring's first point and the pair's first get their link once the
  // last is declared: it follows their own tags.
  Strings bottomRight = Point("0.875", "0.913", nullptr, true);
  bottomRight.push_back("INP_Link=Curve Point 2");
  Strings source = Point("0.05", "0.45", nullptr, false);
  source.push_back("INP_Link=XY Wind Target");
  const std::vector<Declared> want = {
      {"Where", "Bottom Right", "BRig", bottomRight},
      {"Where", "Top Right", "TRig", Point("0.875", "0.13", "Bottom Right", true)},
      {"Where", "Top Left", "TLef", Point("0.125", "0.13", "Top Right", true)},
      {"Where", "Bottom Left", "BLef", Point("0.125", "0.913", "Top Left", true)},
      {"Where", "Curve Point 1", "CPo1", Point("0.375", "0.957", "Bottom Left", true)},
      {"Where", "Curve Point 2", "CPo2", Point("0.625", "0.87", "Curve Point 1", true)},
      {"Flame", "Flame Density", "Dens", Slider("0", "100", "100")},
      {"Flame", "Convection", "Conv", Slider("0", "40", "100")},
      {"Flame", "Flicker Speed", "FSpe", Slider("0", "50", "100")},
      {"Flame", "Turbulence", "Turb", Slider("0", "40", "100")},
      {"Flame", "Frequency 1", "Fre1", Slider("0", "30", "100")},
      {"Flame", "Frequency 2", "Fre2", Slider("0", "70", "100")},
      {"Flame", "Base Softness", "BSof", Slider("0", "10", "100")},
      {"Flame", "Edge Softness", "ESof", Slider("0", "30", "100")},
      {"Flame", "Use Matte", "Matt", kCheck},
      {"Flame", "Invert Matte", "RMat", kCheck},
      {"Flame", "Seed", "Seed", Slider("1", "2000", "9999999")},
      {"Flame",
       "Demos",
       "Dem1",
       {"INP_Control=ComC", "INP_ComboItem=No Change", "INP_ComboItem=Still Flame",
        "INP_ComboItem=Turb1-Soft", "INP_ComboItem=Turb2-Wiggly", "INP_ComboItem=Turb3-Wild",
        "INP_ComboItem=Turb4-Fluffy", "INP_Flag01=0", "INP_Notify=1"}},
      {"Wind", "Wind Speed", "WSpe", Slider("0", "30", "100")},
      {"Wind", "XY Wind Source", "WSou", source},
      {"Wind", "XY Wind Target", "WTar", Point("0.45", "0.45", "XY Wind Source", false)},
      {"Wind", "Wind Spread", "WSpr", Slider("0", "60", "180")},
      {"Colors", "Color 1 Red", "Red1", Colour("Color 1", 1, 0, "1")},
      {"Colors", "Color 1 Green", "Gre1", Colour("Color 1", 1, 1, "1")},
      {"Colors", "Color 1 Blue", "Blu1", Colour("Color 1", 1, 2, "1")},
      {"Colors", "Proportion Color 1", "Pro1", Slider("0", "50", "100")},
      {"Colors", "Color 2 Red", "Red2", Colour("Color 2", 2, 0, "1")},
      {"Colors", "Color 2 Green", "Gre2", Colour("Color 2", 2, 1, "1")},
      {"Colors", "Color 2 Blue", "Blu2", Colour("Color 2", 2, 2, "0")},
      {"Colors",
       "Proportion Demos",
       "Dem2",
       {"INP_Control=ComC", "INP_ComboItem=No Change", "INP_ComboItem=Evens", "INP_ComboItem=Edge",
        "INP_ComboItem=Center", "INP_Flag01=0", "INP_Notify=1"}},
      {"Colors", "Proportion Color 2", "Pro2", Slider("0", "50", "100")},
      {"Colors", "Color 3 Red", "Red3", Colour("Color 3", 3, 0, "1")},
      {"Colors", "Color 3 Green", "Gre3", Colour("Color 3", 3, 1, "0")},
      {"Colors", "Color 3 Blue", "Blu3", Colour("Color 3", 3, 2, "0")},
      {"Colors", "Proportion Color 3", "Pro3", Slider("0", "50", "100")},
      {"", "Background", "0x01706EC9", {}},
      {"", "Matte(optional)", "0x02706EC9", {"INP_Required=0"}},
  };
  EXPECT_EQ(op->Pages(), (Strings{"Where", "Flame", "Wind", "Colors"}));
  ASSERT_EQ(op->Inputs().size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    const Input& in = *op->Inputs()[i];
    SCOPED_TRACE(want[i].caption);
    EXPECT_EQ(in.Name(), want[i].caption);
    EXPECT_EQ(FourCCText(in.Id()), want[i].id);
    if (!want[i].page.empty()) {
      EXPECT_EQ(op->Pages().at(size_t(in.Page())), want[i].page);
    }
    Strings tags;
    for (const TagItem& t : in.Tags().Items()) tags.push_back(Text(t));
    EXPECT_EQ(tags, want[i].tags);
    const bool point = want[i].tags.size() > 1 && want[i].tags[0] == "INP_Control=OffC";
    const bool image = want[i].id.rfind("0x", 0) == 0;
    EXPECT_EQ(FourCCText(in.ValueType()), point ? "Poin" : image ? "Imag" : "Numb");
  }
  EXPECT_EQ(op->FindInputByName("Bottom Right")->Link(), op->FindInputByName("Curve Point 2"));
  EXPECT_EQ(op->FindInputByName("XY Wind Source")->Link(), op->FindInputByName("XY Wind Target"));
  ASSERT_EQ(op->Outputs().size(), 1u);
  EXPECT_EQ(op->Outputs()[0]->Name(), "Output");
  EXPECT_EQ(op->Outputs()[0]->Id(), 0x017475CFu);
  EXPECT_EQ(op->opMode, 2);
  EXPECT_EQ(op->opModeArg, 0);
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

const Values kDefaults = {
    {"Bottom Right", {0.875f, 0.913f}},
    {"Top Right", {0.875f, 0.13f}},
    {"Top Left", {0.125f, 0.13f}},
    {"Bottom Left", {0.125f, 0.913f}},
    {"Curve Point 1", {0.375f, 0.957f}},
    {"Curve Point 2", {0.625f, 0.87f}},
    {"Flame Density", {100}},
    {"Convection", {40}},
    {"Flicker Speed", {50}},
    {"Turbulence", {40}},
    {"Frequency 1", {30}},
    {"Frequency 2", {70}},
    {"Base Softness", {10}},
    {"Edge Softness", {30}},
    {"Use Matte", {0}},
    {"Invert Matte", {0}},
    {"Seed", {2000}},
    {"Demos", {0}},
    {"Wind Speed", {30}},
    {"XY Wind Source", {0.05f, 0.45f}},
    {"XY Wind Target", {0.45f, 0.45f}},
    {"Wind Spread", {60}},
    {"Color 1 Red", {1}},
    {"Color 1 Green", {1}},
    {"Color 1 Blue", {1}},
    {"Proportion Color 1", {50}},
    {"Color 2 Red", {1}},
    {"Color 2 Green", {1}},
    {"Color 2 Blue", {0}},
    {"Proportion Demos", {0}},
    {"Proportion Color 2", {50}},
    {"Color 3 Red", {1}},
    {"Color 3 Green", {0}},
    {"Color 3 Blue", {0}},
    {"Proportion Color 3", {50}},
};

TEST_F(CandleHost, AFreshOperatorShowsTheDefaults) {
  OperatorPtr op = Create();
  EXPECT_EQ(Snapshot(*op), kDefaults);
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

TEST_F(CandleHost, ResetRestoresEveryDefaultInOneStepAndNothingWhenGuarded) {
  OperatorPtr op = Create();
  Scramble(*op);
  const Values scrambled = Snapshot(*op);
  host.doc.notifyGuard = 1;
  EXPECT_EQ(Notify(host.doc, *op, nullptr, nullptr).steps, 0u);
  host.doc.notifyGuard = 0;
  EXPECT_EQ(Snapshot(*op), scrambled);

  const Change c = Notify(host.doc, *op, nullptr, nullptr);
  EXPECT_EQ(c.steps, 1u);
  EXPECT_EQ(c.caption, "Reset Candle");
  EXPECT_EQ(host.doc.UndoChangeCount(), 35u);
  EXPECT_EQ(Snapshot(*op), kDefaults);
  ASSERT_TRUE(host.doc.Undo());
  EXPECT_EQ(Snapshot(*op), scrambled);
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

TEST_F(CandleHost, BytesDoNotDependOnTheWorkerCount) {
  OperatorPtr op = Create();
  PluginHost::SetNumber(*op, "Wind Speed", 70);
  PluginHost::SetNumber(*op, "Turbulence", 70);
  PluginHost::SetNumber(*op, "Use Matte", 1);
  const Pixels bg = Picture(93, 71), matte = Picture(93, 71, 99);
  const Pixels one = Render(*op, bg, 2.5, 1, &matte);
  ASSERT_EQ(one.bytes.size(), bg.bytes.size());
  for (int workers : {3, 16, 200}) EXPECT_EQ(Render(*op, bg, 2.5, workers, &matte), one) << workers;
}

TEST_F(CandleHost, AMatteOfAnotherSizeGivesTheMismatchPattern) {
  OperatorPtr op = Create();
  const Pixels bg = Picture(64, 48), matte = Picture(64, 49);
  const Pixels out = Render(*op, bg, 0.5, 2, &matte);
  ASSERT_EQ(out.bytes.size(), bg.bytes.size());
  auto px = [&](int x, int y) {
    const uint8_t* p = out.bytes.data() + (size_t(y) * 64 + x) * 4;
    return std::vector<int>{p[0], p[1], p[2], p[3]};
  };
  const std::vector<int> red = {60, 60, 255, 255}, grey = {60, 60, 60, 60};
  EXPECT_EQ(px(0, 0), red);
  EXPECT_EQ(px(9, 0), red);
  EXPECT_EQ(px(10, 0), grey);
  EXPECT_EQ(px(13, 3), red);  // the band moves 64/48 columns a row
  EXPECT_EQ(px(14, 3), grey);
  EXPECT_EQ(px(63, 47), red);
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

TEST_F(CandleHost, NoBackgroundOrACancelledRenderDeliversNothing) {
  OperatorPtr op = Create();
  EXPECT_TRUE(PluginHost::Render(*op, {}, 0, 2).bytes.empty());
  op->abortFlag = 1;
  EXPECT_TRUE(Render(*op, Picture(30, 20)).bytes.empty());
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

TEST_F(CandleHost, SavedRecordCarriesTheClassIdAndTrailer) {
  OperatorPtr op = Create();
  PluginHost::SetNumber(*op, "Seed", 4321);
  std::vector<uint8_t> bytes;
  {
    CArchive archive(&bytes);
    std::string error;
    ASSERT_TRUE(host.doc.SaveOperator(op.get(), archive, &error)) << error;
  }
  ASSERT_GE(bytes.size(), 12u);
  const uint8_t classId[] = {0x85, 0x00, 0x01, 0x80};
  EXPECT_EQ(std::memcmp(bytes.data(), classId, 4), 0);
  const uint8_t trailer[] = {0, 0, 0, 0, 0x45, 0x6E, 0x64, 0x43};
  EXPECT_EQ(std::memcmp(bytes.data() + bytes.size() - 8, trailer, 8), 0);
  CArchive reader(bytes.data(), bytes.size());
  std::string error;
  OperatorPtr loaded = host.doc.LoadOperator(reader, &error);
  ASSERT_TRUE(loaded) << error;
  EXPECT_EQ(loaded->FindInputByName("Seed")->NumberAt(0), 4321);
}

}  // namespace
