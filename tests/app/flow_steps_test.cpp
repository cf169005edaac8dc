// Which nodes a flow run renders at which frames.
#include "flow/flow_steps.h"

#include <gtest/gtest.h>

#include <climits>

#include "host.h"

namespace vorn::flow {
namespace {

class FlowStepsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    PluginSearch search;
    search.folders = {TOOL_PLUGIN_FOLDER};
    search.origin = "--plugins";
    ASSERT_TRUE(host_.LoadPlugins(search, true, &error)) << error;
  }
  void Add(const std::string& name, const std::string& tool, NodeKind kind = NodeKind::Tool) {
    Node node;
    node.name = name;
    node.kind = kind;
    std::string error;
    if (kind == NodeKind::Tool) {
      df::Registry* r = host_.FindTool(tool, &error);
      ASSERT_TRUE(r) << error;
      node.op = host_.Doc().CreateOperator(r, &error);
      ASSERT_TRUE(node.op) << error;
    }
    ASSERT_TRUE(flow_.Add(std::move(node), &error)) << error;
  }
  void Connect(const std::string& from, const std::string& to, const std::string& input) {
    std::string error;
    ASSERT_TRUE(flow_.Connect(from, to, input, &error)) << error;
  }
  Host host_;
  Flow flow_;
};

// Plate -> Warp -> Over.B; Warp -> Sim (Bubbles, sequential) -> Over.A;
// Over -> Out; Flame stands apart.
TEST_F(FlowStepsTest, SequentialNodesAndTheirFeedersStepFromTheSimulationStart) {
  Add("Plate", "", NodeKind::Read);
  Add("Warp", "Bleb");
  Add("Sim", "Bubbles");
  Add("Flame", "Candle");
  Add("Over", "", NodeKind::Merge);
  Add("Out", "", NodeKind::Write);
  Connect("Plate", "Warp", "Input");
  Connect("Warp", "Over", "B");
  Connect("Warp", "Sim", "Birth");
  Connect("Sim", "Over", "A");
  Connect("Over", "Out", "Image");

  const NodePlan out = PlanNodes(flow_, {5});
  EXPECT_EQ(out.needed, (std::vector<bool>{true, true, true, false, true, true}));
  EXPECT_EQ(out.stepped, (std::vector<bool>{true, true, true, false, false, false}));
  EXPECT_EQ(out.firstSequential, "Sim");
  std::vector<int> steps;
  std::string error;
  ASSERT_TRUE(PlanFlowSteps(out, 2, 5, {5, 6}, &steps, &error)) << error;
  EXPECT_EQ(steps, (std::vector<int>{2, 3, 4, 5, 6}));
  // A part of a request (a chunk) steps from the start too.
  ASSERT_TRUE(PlanFlowSteps(out, 2, 3, {6}, &steps, &error)) << error;
  EXPECT_EQ(steps, (std::vector<int>{2, 3, 4, 5, 6}));
  EXPECT_FALSE(PlanFlowSteps(out, 6, 5, {5, 6}, &steps, &error));
  EXPECT_NE(error.find("simulation starts at frame 6, after the first frame asked for (5)"),
            std::string::npos)
      << error;
  EXPECT_FALSE(PlanFlowSteps(out, INT_MIN, INT_MIN, {INT_MAX}, &steps, &error));
  EXPECT_NE(error.find("\"Sim\" would simulate"), std::string::npos) << error;

  // Upstream of the warp nothing is sequential: the frames alone, any start.
  const NodePlan warp = PlanNodes(flow_, {1});
  EXPECT_EQ(warp.needed, (std::vector<bool>{true, true, false, false, false, false}));
  EXPECT_EQ(warp.stepped, std::vector<bool>(6, false));
  EXPECT_EQ(warp.firstSequential, "");
  ASSERT_TRUE(PlanFlowSteps(warp, 9, 5, {5, 7}, &steps, &error)) << error;
  EXPECT_EQ(steps, (std::vector<int>{5, 7}));
}

}  // namespace
}  // namespace vorn::flow
