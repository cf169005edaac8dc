// The Merge node's pixels: A combined with B in 8-bit premultiplied BGRA.
// Colour above alpha (additive light) is kept: nothing clamps colour to alpha.
#pragma once

#include "flow/flow.h"
#include "image_ref.h"

namespace vorn::flow {

// A new image the size of B. Each channel, alpha included, is merged as
//   over      A + B (1 − αA)        under   B + A (1 − αB)
//   plus      A + B                 screen  A + B − AB
//   multiply  AB + A (1 − αB) + B (1 − αA)
// then B + mix × (merge − B) (the mix in steps of 1/65536), rounded to the
// nearest 8-bit step (halves up) and clamped to 0..255. Where A has no
// pixel (null, or smaller than B) B is kept. The rows are merged in `bands`
// bands on the runtime's worker pool (0: as many as the tools' chunks); the
// bytes are the same for any count. Null when memory runs out.
ImageRef MergeImages(const MergeSettings& settings, const df::Image* a, const df::Image& b,
                     int bands = 0);

}  // namespace vorn::flow
