// Declared inputs in words, for tests that compare a tool's declarations with
// a literal list written from its documentation.
#pragma once

#include <dfsystem/dfsystem.h>

#include <string>
#include <vector>

namespace testsupport {

// One line per input, in declaration order:
//   "PAGE | CAPTION | ID | TYPE | TAG=VALUE TAG=VALUE ..."
// Numbers in shortest form (%.17g trimmed), FourCC values as text, links as
// the linked input's caption; image inputs have the page "-".
std::vector<std::string> DescribeInputs(const df::Operator& op);

}  // namespace testsupport
