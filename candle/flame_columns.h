// The flame buffer, one strip of columns at a time: for every column from
// its base upward, the wind-displaced sample, its distance pushed out by the
// turbulence, and the pixel's colour and coverage.
//
// The strip is worked in groups of adjacent columns that move up the rows
// together, each column a lane with its own base, wind sums and first-pixel
// flag; every lane computes exactly what the one-column formulation does.
#pragma once

#include <atomic>
#include <cstdint>

#include "candle/flame_colour.h"
#include "candle/flame_field.h"
#include "framework/noise.h"

namespace candle {

// One octave of the turbulence, fixed for the frame: the frequency, the
// factors of the x and y coordinates, and the noise's third coordinate with
// its cell, fraction and weight (constant within a frame).
struct NoiseOctave {
  float frequency = 0;
  float xFactor = 0;  // 720 f
  float yFactor = 0;  // 576 f
  fw::NoiseAxis depth = {};
};

// Frequencies run from at least 1e-5 by factors of 2.17 up to at most the
// largest float: never more than 130 octaves.
inline constexpr int kMaxOctaves = 132;

// Everything a chunk reads, fixed before the chunks start.
struct FlameChunkContext {
  const FlameFrame* frame = nullptr;
  const fw::Gradient* gradients = nullptr;
  ColourCurves curves;
  WindCone cone;
  float flickerDepth = 0;      // flicker rate × time: the noise's third coordinate
  float convectionOffset = 0;  // convection rate × time: the noise's upward scroll
  int octaveCount = 0;
  NoiseOctave octaves[kMaxOctaves];
};
FlameChunkContext MakeChunkContext(const FlameFrame& frame, const fw::Gradient* gradients);

// Renders columns [begin, end) of the flame buffer, whose row r is flame row
// r (counted from the bottom): every pixel of those columns is written, rows
// below a column's base with zeros. Stops at the next group of columns once
// abortFlag is set (the columns left are then undefined).
void RenderFlameColumns(const FlameChunkContext& context, int begin, int end,
                        std::uint8_t* const* flameRows, const std::atomic<int>* abortFlag);

// The same on the eight-lane path only, whatever the processor has: for
// tests comparing the paths.
void RenderFlameColumnsNarrow(const FlameChunkContext& context, int begin, int end,
                              std::uint8_t* const* flameRows);

}  // namespace candle
