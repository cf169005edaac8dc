// The operator's change handling: the two buttons become requests for the
// next frame, "Demos" applies a preset, and nothing happens under the
// document's notification guard.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "bubbles/bubbles_plugin.h"

namespace bubbles {
namespace {

using namespace df;

struct Operator : ::testing::Test {
  Operator() : tags{{OBJ_Document, static_cast<const void*>(&doc)}}, op(nullptr, nullptr, &tags) {}

  Input* In(const char* caption) { return op.FindInputByName(caption); }
  bool Press(const char* caption, double value = 1) {
    Number n(value);
    return In(caption)->SetValue(&n, 0, 1) == 1;
  }
  std::map<std::string, ValueState> Values() {
    std::map<std::string, ValueState> v;
    for (const auto& in : op.Inputs())
      if (!in->IsImage()) v[in->Name()] = in->State();
    return v;
  }

  CPipelineDoc doc;
  TagList tags;
  BubblesPlugIn op;
};

TEST_F(Operator, StartsWithAnEmptySimulationAndNoRequests) {
  ASSERT_NE(op.System(), nullptr);
  EXPECT_EQ(op.System()->liveCount, 0);
  EXPECT_EQ(op.System()->blockSize, 1024);
  EXPECT_EQ(op.Requests().restartRequested.load(), 0);
  EXPECT_EQ(op.Requests().prerollRequested.load(), 0);
  EXPECT_EQ(op.Requests().tablesPending, 1);
}

TEST_F(Operator, ButtonsRaiseRequestsOnlyWhenNotGuarded) {
  doc.notifyGuard = 1;
  ASSERT_TRUE(Press("Restart Bubbles"));
  ASSERT_TRUE(Press("Preroll Bubbles"));
  EXPECT_EQ(op.Requests().restartRequested.load(), 0);
  EXPECT_EQ(op.Requests().prerollRequested.load(), 0);
  doc.notifyGuard = 0;
  ASSERT_TRUE(Press("Restart Bubbles"));
  EXPECT_EQ(op.Requests().restartRequested.load(), 1);
  EXPECT_EQ(op.Requests().prerollRequested.load(), 0);
  ASSERT_TRUE(Press("Preroll Bubbles"));
  EXPECT_EQ(op.Requests().prerollRequested.load(), 1);
}

// The four presets as documented, in row order: caption, then the values of
// "Basic Bubbles", "Soap Bubbles", "Under Water", "Champagne Bubbles".
struct Documented {
  const char* caption;
  double v[4];
};
const Documented kPresets[] = {
    {"Preroll Frames", {80, 80, 45, 40}},
    {"Bubble Quantity", {3, 25, 9, 11}},
    {"Lifetime", {80, 132, 101, 80}},
    {"Bubble Size", {10, 3, 5, 10}},
    {"Bubble Size Variance", {100, 100, 100, 100}},
    {"Time to Maximum Size", {1, 1, 62, 48}},
    {"Burst Probability", {80, 2, 50, 50}},
    {"Burst Quantity", {100, 20, 100, 100}},
    {"Burst Radius", {8, 6, 4, 4}},
    {"Burst Afterlife", {1, 3, 0, 0}},
    {"Gather Slowup", {60, 60, 55, 80}},
    {"Swirl Density", {10, 75, 100, 100}},
    {"Swirl Magnitude", {0.8, 0.8, 0.2, 0.4}},
    {"Swirl Time to Maximum", {0, 0, 25, 0}},
    {"Gravity Angle", {90, 90, 90, 270}},
    {"Gravity", {12, 5, 0, 55}},
    {"Initial Velocity", {12, 1.5, 2.4, 0.5}},
    {"Velocity Direction", {270, 270, 270, 270}},
    {"Velocity Variance", {50, 25, 100, 200}},
    {"Light Spread", {100, 100, 100, 180}},
    {"Light Brightness", {80, 80, 100, 80}},
    {"Light Glisten", {0, 26, 0, 0}},
    {"Light Red", {0.6, 1, 0.3, 1}},
    {"Light Green", {0.6, 1, 0.3, 1}},
    {"Light Blue", {0.6, 1, 0.6, 1}},
    {"Bubble Red", {0, 0.02, 0, 0.4}},
    {"Bubble Green", {0, 0.02, 0, 0.8}},
    {"Bubble Blue", {0, 0.2, 0.8, 0.2}},
    {"Bubble Color Variance", {0, 50, 0, 0}},
    {"Bubble Monochrome Variance", {0, 100, 20, 0}},
    {"Reflection Intensity", {80, 34, 34, 52}},
    {"Minimum Brightness", {38, 38, 60, 60}},
    {"Shine", {45, 34, 34, 157}},
    {"Shine Highlight", {42, 42, 26, 22}},
    {"Friction", {0, 0, 0, 0}},
    {"Bubble Type", {0, 0, 2, 3}},
    {"Fade Mode", {0, 0, 0, 0}},
    {"Use Birth Matte", {0, 0, 0, 0}},
    {"Bubbles Burst", {1, 0, 0, 1}},
    {"Bubbles Gather", {0, 0, 0, 1}},
    {"Reflections", {1, 1, 1, 1}},
};

TEST_F(Operator, EachPresetSetsItsFortyOneValuesOneChangeAtATime) {
  for (int n = 1; n <= 4; ++n) {
    // Move every control off its preset value first.
    for (const Documented& d : kPresets) {
      const double v = d.v[n - 1];
      const bool oneIsLowest = In(d.caption)->MinAllowed().value_or(0) == 1;
      Number other(v != 1 ? 1 : oneIsLowest ? 2 : 0);
      ASSERT_EQ(In(d.caption)->SetValue(&other, 0, 1), 1u) << d.caption;
    }
    const std::map<std::string, ValueState> before = Values();
    const size_t steps = doc.UndoCount();
    ASSERT_TRUE(Press("Demos", n));
    // The choice itself, then 41 separate value changes: no bracket of its own.
    EXPECT_EQ(doc.UndoCount(), steps + 42) << n;
    EXPECT_EQ(doc.UndoChangeCount(), 1u);
    EXPECT_EQ(doc.UndoCaption(), "Change Reflections");
    std::vector<std::string> changed;
    for (const auto& [caption, state] : Values())
      if (state != before.at(caption)) changed.push_back(caption);
    EXPECT_EQ(changed.size(), 42u) << n;  // the 41 rows and "Demos" itself
    for (const Documented& d : kPresets)
      EXPECT_EQ(In(d.caption)->NumberAt(0), d.v[n - 1]) << d.caption << " of preset " << n;
    EXPECT_EQ(In("Demos")->NumberAt(0), n);
    // A preset neither restarts nor prerolls.
    EXPECT_EQ(op.Requests().restartRequested.load(), 0);
    EXPECT_EQ(op.Requests().prerollRequested.load(), 0);
  }
}

TEST_F(Operator, APresetLeavesPointsWindAndRadiusAlone) {
  Point p(0.33f, 0.66f);
  for (const char* point : {"XY Left Source", "XY Right Source", "XY Light Source",
                            "XY Light Target", "XY Wind Source", "XY Wind Target"})
    ASSERT_EQ(In(point)->SetValue(&p, 0, 0), 1u);
  Number radius(0.37), z(0.9), wind(12), spread(44);
  In("Position Radius")->SetValue(&radius, 0, 1);
  In("3D Light Z Position")->SetValue(&z, 0, 1);
  In("Wind Speed")->SetValue(&wind, 0, 1);
  In("Wind Spread")->SetValue(&spread, 0, 1);
  const auto before = Values();
  ASSERT_TRUE(Press("Demos", 3));  // "Under Water"
  const auto after = Values();
  for (const char* kept :
       {"XY Left Source", "XY Right Source", "XY Light Source", "XY Light Target", "XY Wind Source",
        "XY Wind Target", "Position Radius", "3D Light Z Position", "Wind Speed", "Wind Spread",
        "Restart Bubbles", "Preroll Bubbles"})
    EXPECT_EQ(after.at(kept), before.at(kept)) << kept;
  EXPECT_EQ(In("Bubble Type")->NumberAt(0), 2);  // "Variable Growth"
  EXPECT_EQ(In("Bubbles Burst")->NumberAt(0), 0);
}

TEST_F(Operator, NoChangeAndGuardedChoicesChangeNothing) {
  const auto before = Values();
  ASSERT_TRUE(Press("Demos", 0));  // "NO CHANGE"
  auto after = Values();
  after.erase("Demos");
  auto expected = before;
  expected.erase("Demos");
  EXPECT_EQ(after, expected);

  doc.notifyGuard = 1;
  const size_t steps = doc.UndoCount();
  ASSERT_TRUE(Press("Demos", 4));
  doc.notifyGuard = 0;
  EXPECT_EQ(doc.UndoCount(), steps + 1);  // the choice only
  EXPECT_EQ(In("Preroll Frames")->NumberAt(0), 150);
  EXPECT_EQ(In("Bubbles Gather")->NumberAt(0), 0);
}

}  // namespace
}  // namespace bubbles
