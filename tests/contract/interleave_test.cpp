// Operators of different tools, and of the same tool, rendered interleaved
// frame by frame in one process give the bytes each gives alone: each keeps
// its own random generator state, whatever thread runs its frames.
#include <dfsystem/dfsystem.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/contract/tools.h"

namespace contract {
namespace {

using namespace df;
using testsupport::Pixels;
using testsupport::PluginHost;

struct Node {
  const char* className;
  Assignments sets;
  Assignments images;  // caption = picture name
};

// Two Bubbles operators that draw different amounts, and Candle, which seeds
// the generator at frame 0.
const std::vector<Node>& Nodes() {
  static const std::vector<Node> nodes = {
      {"BubblesPlugIn", {{"Demos", "1"}, {"Preroll Bubbles", "1"}}, {{"Birth", "noise:5"}}},
      {"CandlePlugIn", {}, {{"Background", "noise:1"}}},
      {"BubblesPlugIn",
       {{"Demos", "2"}, {"Bubble Quantity", "40"}, {"XY Left Source", "0.1,0.3"}},
       {{"Birth", "noise:7"}}},
  };
  return nodes;
}

constexpr int kWidth = 72, kHeight = 48, kFrames = 6;

class Interleaved : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(host.loader.Load(BUBBLES_PLUGIN_PATH, &error)) << error;
    ASSERT_TRUE(host.loader.Load(CANDLE_PLUGIN_PATH, &error)) << error;
  }
  OperatorPtr Make(const Node& node) {
    std::string error;
    OperatorPtr op =
        host.doc.CreateOperator(ClassRegistry->FindByClassName(node.className), &error);
    EXPECT_TRUE(op) << error;
    if (!op) return op;
    for (const auto& [caption, value] : node.sets)
      EXPECT_TRUE(PluginHost::Set(*op, caption, value)) << caption;
    return op;
  }
  static Pixels Frame(Operator& op, const Node& node, int frame) {
    std::vector<Pixels> pictures(node.images.size());
    std::vector<std::pair<std::string, const Pixels*>> images;
    const std::string tool = std::string(node.className) == "CandlePlugIn" ? "candle" : "bubbles";
    for (size_t i = 0; i < node.images.size(); ++i) {
      EXPECT_TRUE(Picture(tool, node.images[i].second, kWidth, kHeight, &pictures[i]));
      images.emplace_back(node.images[i].first, &pictures[i]);
    }
    return PluginHost::Render(op, images, frame, 2);
  }
  PluginHost host;
};

TEST_F(Interleaved, EachOperatorRendersTheBytesItRendersAlone) {
  // Alone: each operator's frames in order on this thread.
  std::vector<std::vector<Pixels>> alone;
  for (const Node& node : Nodes()) {
    OperatorPtr op = Make(node);
    ASSERT_TRUE(op);
    alone.emplace_back();
    for (int f = 0; f < kFrames; ++f) alone.back().push_back(Frame(*op, node, f));
  }
  // Interleaved: frame f of every operator before frame f + 1 of any, on
  // this thread for even frames and a new thread for odd ones.
  std::vector<OperatorPtr> ops;
  for (const Node& node : Nodes()) ops.push_back(Make(node));
  for (int f = 0; f < kFrames; ++f) {
    for (size_t n = 0; n < ops.size(); ++n) {
      Pixels got;
      if (f % 2 == 0) {
        got = Frame(*ops[n], Nodes()[n], f);
      } else {
        std::thread([&] { got = Frame(*ops[n], Nodes()[n], f); }).join();
      }
      ASSERT_EQ(got.bytes.size(), alone[n][size_t(f)].bytes.size());
      EXPECT_TRUE(got == alone[n][size_t(f)]) << "operator " << n << " frame " << f;
    }
  }
}

}  // namespace
}  // namespace contract
