// Area averages of the input image over a box, with the three edge rules.
#pragma once

#include <cstdint>

#include "bleb/area_tables.h"

namespace bleb {

struct Pixel {
  std::uint8_t c[4];
};

// The input image and its integral tables, as the sampler reads them. The
// image must be at least 3 pixels wide and 2 rows high. Without tables (null
// or empty) only areas up to 1 can be averaged; larger ones then fall back to
// the bilinear sample at the centre, which a render never relies on (see
// RowNeedsTables).
struct SampleSource {
  const std::uint8_t* const* rows = nullptr;
  int width = 0;
  int height = 0;
  const AreaTables* tables = nullptr;
};

// Average over the box clamped into the image: bilinear at the centre for an
// area up to 1, interpolated integral up to 100, whole pixels above. In mode
// 1 (black edges) a box wholly outside gives zero bytes.
Pixel AreaSample(const SampleSource& src, float x0, float y0, float x1, float y1, int mode);

// Average over the box with an edge rule for the parts outside the image:
// 0 duplicates the edges, 1 fills black, 2 wraps with a period of width - 1
// by height - 1. Any other mode duplicates. Coordinates may take any value,
// infinities and NaN included: NaN counts as +infinity, and both infinities
// as points 1e30 away, so nothing is ever read outside the image.
Pixel SampleBox(const SampleSource& src, float x0, float y0, float x1, float y1, int mode);

}  // namespace bleb
