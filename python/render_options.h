// The options of a render as Python gives them, checked: a size of the
// built-in images, the worker count, the input arrays.
#pragma once

#include <optional>
#include <utility>

#include "tool.h"

namespace vorn::py {

// (width, height), or nothing for None. Raises TypeError or ValueError.
std::optional<std::pair<int, int>> SizeOf(const pyb::object& size);

// The chunks per pass, 0 for None (the host's rule). Raises ValueError.
int WorkersOf(const pyb::object& workers);

RenderOptions OptionsOf(const pyb::object& inputs, const pyb::object& size, bool linear,
                        const pyb::object& workers);

}  // namespace vorn::py
