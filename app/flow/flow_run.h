// `vorn render --comp FLOW`: every frame is pulled from the flow's outputs
// (its Write nodes; or the node --node names, or by default the last Write,
// else the last node, written to --out). The whole request is checked before
// anything is written; a flow with sequential nodes is stepped through every
// frame from the shot's simulation start, as a single render is.
#pragma once

#include <string>

#include "host.h"
#include "render.h"

namespace vorn::flow {

// Whether a --comp file is a flow's text (rather than one operator's record).
bool IsFlowFile(const std::string& path);

RenderOutcome RunFlowRender(Host& host, const RenderSettings& settings, const std::string& path);

}  // namespace vorn::flow
