// The flame buffer, one strip of columns at a time: for every column from
// its base upward, the wind-displaced sample, its distance pushed out by the
// turbulence, and the pixel's colour and coverage.
#pragma once

#include <atomic>
#include <cstdint>

#include "candle/flame_colour.h"
#include "candle/flame_field.h"
#include "framework/noise.h"

namespace candle {

// Everything a chunk reads, fixed before the chunks start.
struct FlameChunkContext {
  const FlameFrame* frame = nullptr;
  const fw::Gradient* gradients = nullptr;
  ColourCurves curves;
  WindCone cone;
  float flickerDepth = 0;      // flicker rate × time: the noise's third coordinate
  float convectionOffset = 0;  // convection rate × time: the noise's upward scroll
};
FlameChunkContext MakeChunkContext(const FlameFrame& frame, const fw::Gradient* gradients);

// Renders columns [begin, end) of the flame buffer, whose row r is flame row
// r (counted from the bottom). Rows below a column's base are left as they
// are. Stops before a column once abortFlag is set.
void RenderFlameColumns(const FlameChunkContext& context, int begin, int end,
                        std::uint8_t* const* flameRows, const std::atomic<int>* abortFlag);

}  // namespace candle
