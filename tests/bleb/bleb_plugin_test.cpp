// The built plug-in, loaded and driven through the runtime as a host would.
#include <dfsystem/dfsystem.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "bleb/warp_params.h"
#include "test_image.h"
#include "tests/bleb/warp_threads.h"
#include "tests/support/plugin_host.h"

namespace bleb {
namespace {

using namespace df;
using testsupport::PluginHost;

class BlebHost : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(host.Load(BLEB_PLUGIN_PATH, "BlebPlugIn", &error)) << error;
  }
  OperatorPtr Create() {
    OperatorPtr op = host.Create();
    EXPECT_TRUE(op);
    return op;
  }
  static void Set(Operator& op, const std::string& name, double v) {
    ASSERT_TRUE(PluginHost::SetNumber(op, name, v)) << name;
  }
  static void SetCentre(Operator& op, float x, float y) {
    ASSERT_TRUE(PluginHost::SetPoint(op, "XY Center", x, y, 0, 1));
  }
  // One frame with `workers` chunks; the delivered bytes, empty when nothing
  // was delivered.
  static std::vector<uint8_t> Render(Operator& op, const test::Image& im, double aspect = 1.0,
                                     int workers = 3) {
    const testsupport::Pixels p{im.width, im.height, im.data};
    return PluginHost::Render(op, {{"Input", &p}}, 0, workers, aspect).bytes;
  }

  PluginHost host;
};

TEST_F(BlebHost, RendersWhatTheKernelRendersForTheControls) {
  // Every control read into its field: the centre, Scale, Rotate, the fill
  // mode as an integer and each lobe, its angle negated.
  OperatorPtr op = Create();
  SetCentre(*op, 0.4f, 0.6f);
  Set(*op, "Scale", 0.8);
  Set(*op, "Rotate", 30);
  Set(*op, "Fill Option", 2);
  Set(*op, "Amplitude 2", 1.5);
  Set(*op, "Sharp 2", 6.5);
  Set(*op, "Amplitude 5", -0.5);
  Set(*op, "Angle 5", -120);
  const test::Image in = test::Smooth(120, 70);
  const std::vector<uint8_t> host = Render(*op, in, 1.25);

  WarpControls c = DefaultWarpControls();
  c.centerX = 0.4f;
  c.centerY = 0.6f;
  c.scale = 0.8f;
  c.rotate = 30;
  c.fillMode = 2;
  c.amplitude[1] = 1.5f;
  c.sharpness[1] = 6.5f;
  EXPECT_EQ(c.lobeAngle[1], -51.4f);
  c.amplitude[4] = -0.5f;
  c.lobeAngle[4] = 120;
  test::Image out(120, 70);
  ASSERT_TRUE(RunWarp(MakeWarpParams(c, 120, 70, 1.25f), in.in(), out.out(), 1));
  EXPECT_EQ(host, out.data);
}

TEST_F(BlebHost, TinyImagesComeBackAsTheyWere) {
  OperatorPtr op = Create();
  Set(*op, "Amplitude 1", 3);
  for (auto [w, h] : {std::pair{2, 5}, std::pair{7, 1}, std::pair{1, 1}}) {
    const test::Image in = test::Noise(w, h, 11);
    EXPECT_EQ(Render(*op, in), in.data) << w << "x" << h;
  }
}

TEST_F(BlebHost, HostileControlValuesStayInsideTheImage) {
  // The host clamps to the allowed ranges, but those leave room for lobe sums
  // of zero (overlapping -0.99), Scale 0.001 and huge sharpness. ASan and
  // UBSan watch the reads.
  OperatorPtr op = Create();
  std::mt19937 rng(7);
  auto pick = [&](std::initializer_list<double> v) {
    return *(v.begin() + std::uniform_int_distribution<int>(0, int(v.size()) - 1)(rng));
  };
  for (int round = 0; round < 40; ++round) {
    SetCentre(*op, float(pick({0.5, -1, 2.5, 0.5001})), float(pick({0.5, -3, 1.7})));
    Set(*op, "Scale", pick({0.001, 0.5, 1, 10, 1e6}));
    Set(*op, "Rotate", pick({0, 90, -360, 1e9}));
    Set(*op, "Fill Option", pick({0, 1, 2}));
    for (int n = 1; n <= kLobes; ++n) {
      const std::string k = std::to_string(n);
      Set(*op, ("Amplitude " + k).c_str(), pick({0, -0.99, 10, 1e7}));
      Set(*op, ("Angle " + k).c_str(), pick({0, 1, -1, 720}));
      Set(*op, ("Sharp " + k).c_str(), pick({1, 4, 500, 1e9}));
    }
    const test::Image in = test::Noise(3 + round % 13, 2 + round % 7, round);
    EXPECT_EQ(Render(*op, in, 1.0, round % 2 ? 4 : 1).size(), in.data.size());
  }
}

}  // namespace
}  // namespace bleb
