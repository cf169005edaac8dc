// `vorn show FLOW`: a flow in words — the shot, each node with its settings
// (a tool's values that differ from its defaults) and what feeds it, and
// what a render writes.
#pragma once

#include <string>

#include "flow/flow.h"
#include "host.h"

namespace vorn::flow {

std::string DescribeFlow(const Flow& flow, const std::string& file);

}  // namespace vorn::flow
