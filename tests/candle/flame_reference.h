// The flame buffer evaluated pixel by pixel exactly as written: every column
// from its base up, wind, distance, turbulence for every sample, colouring.
// The measure for the shipped column kernel in tests and benchmarks.
#pragma once

#include <cstdint>

#include "candle/flame_columns.h"

namespace candle {

void ReferenceFlameColumns(const FlameChunkContext& context, int begin, int end,
                           std::uint8_t* const* flameRows);

}  // namespace candle
