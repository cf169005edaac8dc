// Which nodes a flow render runs, and at which frames: at a frame asked for,
// every node upstream of the outputs; at the frames between (a sequential
// node steps through every frame from the shot's simulation start), only
// the sequential nodes among those and what feeds them. `vorn render --comp
// FLOW` and the Python module plan their runs with these.
#pragma once

#include <string>
#include <vector>

#include "flow/flow.h"

namespace vorn::flow {

struct NodePlan {
  std::vector<bool> needed;     // rendered at the frames asked for
  std::vector<bool> stepped;    // rendered at the other steps
  std::string firstSequential;  // name of the first sequential node needed; empty: none
};

// The plan for outputs `targets` (node indices).
NodePlan PlanNodes(const Flow& flow, const std::vector<size_t>& targets);

// The frames the nodes render for to deliver `frames` (ascending): every
// frame from `shotStart` to the last when a sequential node is needed, else
// `frames` alone. `firstAsked` is the first frame of the whole request (a
// part of it may be rendered); the simulation must start at or before it.
// False with the reason.
bool PlanFlowSteps(const NodePlan& plan, int shotStart, int firstAsked,
                   const std::vector<int>& frames, std::vector<int>* steps, std::string* error);

}  // namespace vorn::flow
