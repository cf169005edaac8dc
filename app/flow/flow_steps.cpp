#include "flow/flow_steps.h"

#include "render_job.h"

namespace vorn::flow {

NodePlan PlanNodes(const Flow& flow, const std::vector<size_t>& targets) {
  NodePlan plan;
  plan.needed = flow.Upstream(targets);
  std::vector<size_t> sequential;
  for (size_t i = 0; i < flow.nodes.size(); ++i)
    if (plan.needed[i] && flow.nodes[i].Sequential()) {
      sequential.push_back(i);
      if (plan.firstSequential.empty()) plan.firstSequential = flow.nodes[i].name;
    }
  plan.stepped = flow.Upstream(sequential);
  return plan;
}

bool PlanFlowSteps(const NodePlan& plan, int shotStart, int firstAsked,
                   const std::vector<int>& frames, std::vector<int>* steps, std::string* error) {
  const bool sequential = !plan.firstSequential.empty();
  if (sequential && shotStart > firstAsked) {
    *error = "the shot's simulation starts at frame " + std::to_string(shotStart) +
             ", after the first frame asked for (" + std::to_string(firstAsked) +
             "); it must start at or before it";
    return false;
  }
  return PlanSteps(sequential, shotStart, plan.firstSequential, frames, steps, error);
}

}  // namespace vorn::flow
