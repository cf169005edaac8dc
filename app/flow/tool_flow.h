// `vorn render TOOL ... --save NAME.flow.json`: the one-tool render as a
// flow: a Read node for each input file, the tool node, a Write node for
// --out, and the shot of the frames asked for.
#pragma once

#include <string>

#include "flow/flow.h"
#include "render_job.h"

namespace vorn::flow {

// `name`, or "name 2", "name 3"... when a node has it: a name for a new node.
std::string FreeName(const Flow& flow, const std::string& name);

// Whether --save names a flow file (ends in ".json") rather than a record.
bool SavesFlow(const std::string& path);

// The flow of a checked render request. False with the reason.
bool FlowOfRender(Host& host, const RenderSettings& s, RenderJob& job, Flow* flow,
                  std::string* error);

}  // namespace vorn::flow
