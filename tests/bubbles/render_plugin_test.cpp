// The Bubbles renderer through the built plug-in: worker counts, tiny images,
// what the output holds, and golden renders of the presets.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/golden.h"
#include "tests/support/plugin_host.h"

namespace bubbles {
namespace {

using testsupport::Pixels;
using testsupport::PluginHost;

Pixels Blank(int w, int h, uint8_t value = 0) {
  return {w, h, std::vector<uint8_t>(size_t(w) * h * 4, value)};
}

// Red byte 255 over the middle half of the columns, in the top 40 % of rows:
// a gather and burst region above the source line.
Pixels Region(int w, int h) {
  Pixels p = Blank(w, h);
  for (int y = 0; y < h * 2 / 5; ++y)
    for (int x = w / 4; x < w * 3 / 4; ++x) p.bytes[(size_t(y) * w + x) * 4 + 2] = 255;
  return p;
}

// A picture to reflect: blue across, green down, red and alpha fixed.
Pixels Gradient(int w, int h) {
  Pixels p = Blank(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* px = &p.bytes[(size_t(y) * w + x) * 4];
      px[0] = uint8_t(x * 255 / std::max(1, w - 1));
      px[1] = uint8_t(y * 255 / std::max(1, h - 1));
      px[2] = 90;
      px[3] = 255;
    }
  }
  return p;
}

Pixels Picture(const std::string& name, int w, int h) {
  if (name == "region") return Region(w, h);
  if (name == "gradient") return Gradient(w, h);
  return Blank(w, h);  // "black"
}

class BubblesRender : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(host.Load(BUBBLES_PLUGIN_PATH, "BubblesPlugIn", &error)) << error;
  }

  // `frames` frames of a fresh operator with `sets` applied first, at times
  // 0, 1, ...; the last frame's bytes.
  Pixels Run(const std::vector<std::pair<std::string, std::string>>& sets,
             const std::vector<std::pair<std::string, const Pixels*>>& images, int frames,
             int workers, double aspect = 1.0) {
    df::OperatorPtr op = host.Create();
    EXPECT_TRUE(op);
    if (!op) return {};
    for (const auto& [caption, value] : sets) EXPECT_TRUE(PluginHost::Set(*op, caption, value));
    Pixels out;
    for (int f = 0; f < frames; ++f) out = PluginHost::Render(*op, images, f, workers, aspect);
    return out;
  }

  PluginHost host;
};

TEST_F(BubblesRender, ChampagneWithBurstsAndGatherIsTheSameForAnyWorkerCount) {
  const Pixels birth = Blank(160, 120), region = Region(160, 120), mirror = Gradient(160, 120);
  const std::vector<std::pair<std::string, std::string>> sets = {
      {"Demos", "4"}, {"Burst Probability", "100"}, {"Preroll Bubbles", "1"}};
  const std::vector<std::pair<std::string, const Pixels*>> images = {
      {"Birth", &birth}, {"Burst(optional)", &region}, {"Reflection(optional)", &mirror}};
  const Pixels one = Run(sets, images, 12, 1);
  ASSERT_EQ(one.width, 160);
  int drawn = 0;
  for (size_t k = 3; k < one.bytes.size(); k += 4) drawn += one.bytes[k] != 0;
  EXPECT_GT(drawn, 100);
  for (int workers : {3, 16}) EXPECT_TRUE(Run(sets, images, 12, workers) == one) << workers;
}

TEST_F(BubblesRender, MoreWorkersThanRows) {
  const Pixels birth = Blank(90, 3);
  const std::vector<std::pair<std::string, std::string>> sets = {
      {"Demos", "1"}, {"XY Left Source", "0.1,0.5"}, {"Preroll Bubbles", "1"}};
  const Pixels one = Run(sets, {{"Birth", &birth}}, 3, 1);
  int drawn = 0;
  for (size_t k = 3; k < one.bytes.size(); k += 4) drawn += one.bytes[k] != 0;
  EXPECT_GT(drawn, 0);
  EXPECT_TRUE(Run(sets, {{"Birth", &birth}}, 3, 16) == one);
}

TEST_F(BubblesRender, OutputHoldsTheBubblesAloneOverTransparentBlack) {
  const Pixels grey = Blank(80, 60, 200);
  // No bubbles: nothing of the birth image comes through.
  EXPECT_TRUE(Run({{"Bubble Quantity", "0"}}, {{"Birth", &grey}}, 2, 2) == Blank(80, 60));
  // Bubbles on the source line; the top rows stay empty.
  const Pixels out = Run({{"Bubble Size", "20"}}, {{"Birth", &grey}}, 2, 2);
  int drawn = 0;
  for (size_t k = 3; k < out.bytes.size(); k += 4) drawn += out.bytes[k] != 0;
  EXPECT_GT(drawn, 0);
  for (size_t k = 0; k < size_t(80) * 4 * 10; ++k) ASSERT_EQ(out.bytes[k], 0) << k;
}

TEST_F(BubblesRender, GoldenRendersOfEachPresetAfterItsPreroll) {
  std::vector<testsupport::GoldenCase> cases;
  std::string error;
  ASSERT_TRUE(testsupport::ReadGoldenCases(BUBBLES_GOLDEN_DIR, &cases, &error)) << error;
  ASSERT_GE(cases.size(), 5u);
  for (const testsupport::GoldenCase& g : cases) {
    SCOPED_TRACE(g.name);
    std::vector<Pixels> pictures;
    pictures.reserve(g.inputs.size());
    std::vector<std::pair<std::string, const Pixels*>> images;
    for (const auto& [caption, name] : g.inputs) {
      pictures.push_back(Picture(name, g.width, g.height));
      images.emplace_back(caption, &pictures.back());
    }
    // A frame depends on the frames before: a fresh operator per worker count.
    for (int workers : {1, 7}) {
      df::OperatorPtr op = host.Create();
      ASSERT_TRUE(op);
      for (const auto& [caption, value] : g.sets)
        ASSERT_TRUE(PluginHost::Set(*op, caption, value)) << caption;
      Pixels out;
      for (int f = 0; f < g.frames; ++f)
        out = PluginHost::Render(*op, images, g.time + f, workers, g.aspect);
      std::string message;
      EXPECT_TRUE(testsupport::MatchesGolden(g, out, &message))
          << workers << " workers: " << message;
    }
  }
}

}  // namespace
}  // namespace bubbles
