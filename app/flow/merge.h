// The Merge node's pixels: A combined with B in 8-bit premultiplied BGRA.
// Colour above alpha (additive light) is kept: nothing clamps colour to alpha.
#pragma once

#include "flow/flow.h"
#include "image_ref.h"

namespace vorn::flow {

// The merge of one channel of A and B (values 0 to 1, premultiplied; the
// alphas of both pixels), before the mix. Every operation treats alpha as
// a channel like the others, so alpha comes out as its coverage.
float MergeChannel(MergeOperation op, float a, float b, float alphaA, float alphaB);

// A new image the size of B: each pixel B + mix × (merge(A, B) − B), rounded
// to the nearest 8-bit step and clamped to 0..255. Where A has no pixel
// (null, or smaller than B) B is kept. Null when memory runs out.
ImageRef MergeImages(const MergeSettings& settings, const df::Image* a, const df::Image& b);

}  // namespace vorn::flow
