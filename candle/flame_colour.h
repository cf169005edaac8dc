// The flame's colour and coverage from its normalised distance, and the
// blend of the flame buffer over the background, optionally through a matte.
#pragma once

#include <cstdint>

#include "candle/flame_field.h"

namespace candle {

// Control values of one channel's colour curve: [end, colour 1, colour 2,
// colour 3, colour 3, end], each byte / 255. The ends stay 0; the spline
// replaces them by extrapolations.
struct ColourCurves {
  float red[6] = {};
  float green[6] = {};
  float blue[6] = {};
};
ColourCurves BuildColourCurves(const FlameFrame& frame);

// Curve parameter of a distance A in 0..1: the proportions share the distance
// range among the three colours, whose curve bands are fixed at 0..0.1,
// 0.1..0.65 and 0.65..1.
float ColourPosition(float a, const FlameFrame& frame);

// Where a column's flame starts: the base row, the first row drawn, and
// whether the first inside pixel is still to come.
struct ColumnStart {
  float baseRow;
  int startRow;
  bool first;
};

// Colours the inside pixel (column, row) at distance d ≤ 1 into px (B, G, R,
// coverage): colour from the curves, coverage from the density and the edge
// softness, the first inside pixel of a column over the base weighted by how
// much of it lies above the base, and the base softness ramp.
void ColourPixel(std::uint8_t* px, float d, int column, int row, ColumnStart& start,
                 const FlameFrame& frame, const ColourCurves& curves);

// Blends the flame buffer (flame row r is image row H − 1 − r) over the
// background into the output, through the matte's red byte when the frame
// uses one, for image rows [beginRow, endRow). A null flame buffer counts as
// empty.
void CompositeFlame(const FlameFrame& frame, const std::uint8_t* const* flameRows,
                    const std::uint8_t* const* backgroundRows, const std::uint8_t* const* matteRows,
                    std::uint8_t* const* outputRows, int beginRow, int endRow);

}  // namespace candle
