// Reference renders under tests/golden/candle/<case>/: the arguments in
// case.txt, the picture in expected.png. The arithmetic is fixed, so the
// bytes must match exactly, with 1 and with 7 workers. UPDATE_GOLDEN=1
// rewrites the references.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/support/golden.h"
#include "tests/support/plugin_host.h"

namespace {

using testsupport::GoldenCase;
using testsupport::Pixels;
using testsupport::PluginHost;

// The pictures a case may name for an image input.
bool Picture(const std::string& name, int w, int h, Pixels* p) {
  *p = {w, h, std::vector<uint8_t>(size_t(w) * h * 4)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* px = p->bytes.data() + (size_t(y) * w + x) * 4;
      if (name == "gradient") {  // dusk: blue at the top to brown at the bottom
        px[0] = uint8_t(120 - 90 * y / h), px[1] = uint8_t(40 + 30 * y / h);
        px[2] = uint8_t(20 + 80 * y / h), px[3] = 255;
      } else if (name == "stripes") {  // grey bars, alpha falling to the right
        const uint8_t v = (x / 8) % 2 ? 90 : 160;
        px[0] = px[1] = px[2] = v, px[3] = uint8_t(255 - 200 * x / w);
      } else if (name == "disc") {  // red disc in the upper middle
        const double dx = (x - w / 2.0) / w, dy = (y - h / 3.0) / h;
        px[2] = dx * dx + dy * dy < 0.06 ? 255 : 0, px[3] = 255;
      } else {
        return false;
      }
    }
  return true;
}

TEST(CandleGolden, RendersMatchTheReferences) {
  PluginHost host;
  std::string error;
  ASSERT_TRUE(host.Load(CANDLE_PLUGIN_PATH, "CandlePlugIn", &error)) << error;
  std::vector<GoldenCase> cases;
  ASSERT_TRUE(testsupport::ReadGoldenCases(CANDLE_GOLDEN_DIR, &cases, &error)) << error;
  ASSERT_GE(cases.size(), 7u);
  for (const GoldenCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Pixels> pictures(c.inputs.size());
    std::vector<std::pair<std::string, const Pixels*>> images;
    for (size_t i = 0; i < c.inputs.size(); ++i) {
      ASSERT_TRUE(Picture(c.inputs[i].second, c.width, c.height, &pictures[i]))
          << "unknown picture " << c.inputs[i].second;
      images.push_back({c.inputs[i].first, &pictures[i]});
    }
    for (int workers : {1, 7}) {
      df::OperatorPtr op = host.Create();
      ASSERT_TRUE(op);
      for (const auto& [caption, value] : c.sets)
        ASSERT_TRUE(PluginHost::Set(*op, caption, value)) << caption << "=" << value;
      Pixels out;
      for (int f = 0; f < c.frames; ++f)
        out = PluginHost::Render(*op, images, c.time + f, workers, c.aspect);
      std::string message;
      EXPECT_TRUE(testsupport::MatchesGolden(c, out, &message))
          << workers << " workers: " << message;
    }
  }
}

}  // namespace
