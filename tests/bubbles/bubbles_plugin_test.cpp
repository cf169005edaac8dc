// The built plug-in, loaded and driven through the runtime as a host would:
// what its frames hold, frame after frame, and huge typed values.
#include <dfsystem/dfsystem.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/plugin_host.h"

namespace {

using namespace df;
using testsupport::Pixels;
using testsupport::PluginHost;

class BubblesHost : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(host.Load(BUBBLES_PLUGIN_PATH, "BubblesPlugIn", &error)) << error;
  }
  OperatorPtr Create() {
    OperatorPtr op = host.Create();
    EXPECT_TRUE(op);
    return op;
  }
  PluginHost host;
};

Pixels Plate(int width, int height, uint8_t red) {
  Pixels p{width, height, std::vector<uint8_t>(size_t(width) * height * 4, 0)};
  for (size_t i = 2; i < p.bytes.size(); i += 4) p.bytes[i] = red;
  return p;
}

int Drawn(const Pixels& p) {
  int drawn = 0;
  for (size_t k = 3; k < p.bytes.size(); k += 4) drawn += p.bytes[k] != 0;
  return drawn;
}

TEST_F(BubblesHost, OutputHoldsTheBubblesAloneOverTransparentBlack) {
  const Pixels grey{80, 60, std::vector<uint8_t>(80 * 60 * 4, 200)};
  // No bubbles: nothing of the birth image comes through.
  OperatorPtr none = Create();
  ASSERT_TRUE(PluginHost::SetNumber(*none, "Bubble Quantity", 0));
  PluginHost::Render(*none, {{"Birth", &grey}}, 0, 2);
  EXPECT_TRUE(PluginHost::Render(*none, {{"Birth", &grey}}, 1, 2) == Plate(80, 60, 0));
  // Bubbles on the source line; the top rows stay empty.
  OperatorPtr op = Create();
  ASSERT_TRUE(PluginHost::SetNumber(*op, "Bubble Size", 20));
  PluginHost::Render(*op, {{"Birth", &grey}}, 0, 2);
  const Pixels out = PluginHost::Render(*op, {{"Birth", &grey}}, 1, 2);
  EXPECT_GT(Drawn(out), 0);
  for (size_t k = 0; k < size_t(80) * 4 * 10; ++k) ASSERT_EQ(out.bytes[k], 0) << k;
}

TEST_F(BubblesHost, EachRequestStepsTheSimulationEvenForTheSameTime) {
  OperatorPtr op = Create();
  ASSERT_TRUE(PluginHost::SetNumber(*op, "Demos", 1));  // "Basic Bubbles"
  ASSERT_TRUE(PluginHost::SetNumber(*op, "Preroll Bubbles", 1));
  const Pixels birth = Plate(96, 64, 255);
  PluginHost::Render(*op, {{"Birth", &birth}}, 0, 2);
  const Pixels first = PluginHost::Render(*op, {{"Birth", &birth}}, 1, 2);
  const Pixels again = PluginHost::Render(*op, {{"Birth", &birth}}, 1, 2);
  EXPECT_GT(Drawn(first), 0);
  EXPECT_FALSE(first == again);
}

// Typed values far beyond the sliders send bubbles far outside the frame and
// make sizes and counts huge: every frame still comes out, without undefined
// behaviour (the sanitizer runs check that).
TEST_F(BubblesHost, HugeTypedValuesStillGiveFrames) {
  OperatorPtr op = Create();
  for (const char* caption :
       {"Initial Velocity", "Velocity Variance", "Gravity", "Swirl Magnitude", "Wind Speed",
        "Bubble Size", "Bubble Size Variance", "Time to Maximum Size", "Lifetime",
        "Position Radius", "Burst Radius", "Burst Afterlife", "Gather Slowup", "Friction",
        "Light Brightness", "Shine", "Light Glisten", "Reflection Intensity"})
    ASSERT_TRUE(PluginHost::SetNumber(*op, caption, 1e300)) << caption;
  for (const char* check : {"Bubbles Burst", "Bubbles Gather", "Reflections"})
    ASSERT_TRUE(PluginHost::SetNumber(*op, check, 1));
  ASSERT_TRUE(PluginHost::SetNumber(*op, "Bubble Type", 2));
  ASSERT_TRUE(PluginHost::SetNumber(*op, "Preroll Frames", 3));
  ASSERT_TRUE(PluginHost::SetNumber(*op, "Preroll Bubbles", 1));
  ASSERT_TRUE(PluginHost::SetPoint(*op, "XY Right Source", 1e6f, -1e6f));
  const Pixels birth = Plate(40, 30, 255), region = Plate(40, 30, 200);
  for (int frame = 0; frame < 3; ++frame) {
    const Pixels out = PluginHost::Render(
        *op, {{"Birth", &birth}, {"Burst(optional)", &region}, {"Reflection(optional)", &birth}},
        frame, 3);
    EXPECT_EQ(out.width, 40) << frame;
    ASSERT_TRUE(PluginHost::SetNumber(*op, "Bubble Type", frame));
  }
}

// A copy of the simulation taken between frames goes on, in the operator it
// came from or in another of the tool, with the very bytes the uninterrupted
// simulation gives: bubbles, counters, pending requests, the generator
// (bursts draw from it) and the tables.
TEST_F(BubblesHost, ACopiedSimulationGoesOnWithTheBytesOfTheOriginal) {
  // Bubbles burst in the left half only: the others live on.
  const Pixels birth = Plate(64, 48, 255);
  Pixels region = Plate(64, 48, 0);
  for (size_t y = 0; y < 48; ++y)
    for (size_t x = 0; x < 32; ++x) region.bytes[(y * 64 + x) * 4 + 2] = 200;
  const auto scene = [&](Operator& op) {
    EXPECT_TRUE(PluginHost::SetNumber(op, "Demos", 1));
    EXPECT_TRUE(PluginHost::SetNumber(op, "Bubbles Burst", 1));
    EXPECT_TRUE(PluginHost::SetNumber(op, "Burst Probability", 40));
    EXPECT_TRUE(PluginHost::SetNumber(op, "Preroll Frames", 4));
    EXPECT_TRUE(PluginHost::SetNumber(op, "Preroll Bubbles", 1));
  };
  const auto frame = [&](Operator& op, int f) {
    if (f == 8) {
      EXPECT_TRUE(PluginHost::SetNumber(op, "Restart Bubbles", 1, f));
    }
    return PluginHost::Render(op, {{"Birth", &birth}, {"Burst(optional)", &region}}, f, 2);
  };
  constexpr int kFrames = 12, kCopyAfter = 5;
  OperatorPtr a = Create();
  scene(*a);
  const std::shared_ptr<const SimulationState> start = a->SaveSimulation();
  ASSERT_TRUE(start);
  std::vector<Pixels> original;
  std::shared_ptr<const SimulationState> middle;
  for (int f = 0; f < kFrames; ++f) {
    original.push_back(frame(*a, f));
    if (f == kCopyAfter) middle = a->SaveSimulation();
  }
  ASSERT_TRUE(middle);
  ASSERT_GT(Drawn(original[kCopyAfter + 1]), 0);
  ASSERT_GT(middle->Bytes(), start->Bytes());  // it holds the living bubbles

  // Another operator with the same values, from the middle copy.
  OperatorPtr b = Create();
  scene(*b);
  ASSERT_TRUE(b->RestoreSimulation(*middle));
  for (int f = kCopyAfter + 1; f < kFrames; ++f) EXPECT_TRUE(frame(*b, f) == original[f]) << f;
  // The first operator, run ahead, back to the middle and to the start (the
  // preroll request and the tables pending again).
  ASSERT_TRUE(a->RestoreSimulation(*middle));
  for (int f = kCopyAfter + 1; f < kFrames; ++f) EXPECT_TRUE(frame(*a, f) == original[f]) << f;
  ASSERT_TRUE(a->RestoreSimulation(*start));
  for (int f = 0; f < kFrames; ++f) EXPECT_TRUE(frame(*a, f) == original[f]) << f;
}

// The controls the tool says its simulation does not read change the frame
// drawn, never the simulation: frame 10 with them changed from the start is
// frame 10 drawn with them from a copy simulated without the change.
TEST_F(BubblesHost, ControlsOnlyTheDrawingReadsLeaveTheSimulationAlone) {
  const Pixels birth = Plate(64, 48, 255), reflection = Plate(64, 48, 90);
  const std::vector<std::pair<std::string, std::string>> drawnOnly = {
      {"Light Red", "0.2"},
      {"Light Green", "0.9"},
      {"Light Blue", "0.1"},
      {"Light Brightness", "300"},
      {"XY Light Source", "0.7,0.6"},
      {"XY Light Target", "0.1,0.9"},
      {"3D Light Z Position", "0.9"},
      {"Light Spread", "30"},
      {"Light Glisten", "70"},
      {"Minimum Brightness", "20"},
      {"Shine", "120"},
      {"Shine Highlight", "90"},
      {"Reflections", "1"},
      {"Reflection Intensity", "150"},
      {"Fade Mode", "2"}};
  const auto make = [&](bool changed) {
    OperatorPtr op = Create();
    EXPECT_TRUE(PluginHost::SetNumber(*op, "Demos", 1));
    for (const auto& [caption, value] : drawnOnly) {
      if (changed) {
        EXPECT_TRUE(PluginHost::Set(*op, caption, value)) << caption;
      }
    }
    return op;
  };
  const auto frame = [&](Operator& op, int f) {
    return PluginHost::Render(op, {{"Birth", &birth}, {"Reflection(optional)", &reflection}}, f, 2);
  };
  OperatorPtr plain = make(false), changed = make(true), drawn = make(true);
  for (const auto& [caption, value] : drawnOnly)
    EXPECT_FALSE(plain->SimulationReads(*plain->FindInputByName(caption))) << caption;
  EXPECT_TRUE(plain->SimulationReads(*plain->FindInputByName("Bubble Quantity")));
  EXPECT_TRUE(plain->SimulationReads(*plain->FindInputByName("Bubble Red")));
  for (int f = 0; f < 10; ++f) frame(*plain, f), frame(*changed, f);
  const std::shared_ptr<const SimulationState> copy = plain->SaveSimulation();
  ASSERT_TRUE(copy && drawn->RestoreSimulation(*copy));
  const Pixels expected = frame(*changed, 10);
  EXPECT_TRUE(frame(*drawn, 10) == expected);
  EXPECT_FALSE(frame(*plain, 10) == expected);  // the changes do show
}

}  // namespace
