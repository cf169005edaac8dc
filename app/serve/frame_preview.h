// Reduced frames for the page while a control is being dragged: a frame a
// quarter or less the size is encoded, sent and decoded that much faster, and
// the exact frame follows once the pointer rests.
#pragma once

#include <cstdint>
#include <vector>

namespace vorn::serve {

// The largest reduction the page may ask for.
constexpr int kMaxPreviewFactor = 8;

// Reduces rows [top, top + rows) of the frame reduced by `factor` (each of
// its pixels the factor x factor block of the frame's RGBA pixels at
// (x * factor, y * factor), cut off at the frame's right and bottom edges).
// Colour is averaged weighted by alpha, so that transparent pixels lend no
// colour to the edges of what they surround; alpha is the plain average.
// Values are rounded to nearest. The reduced frame is ceil(width / factor)
// by ceil(height / factor); the band must lie inside it.
std::vector<uint8_t> ReduceRgbaRows(const uint8_t* rgba, int width, int height, int factor, int top,
                                    int rows);

// ceil(n / factor) for n >= 0 and factor >= 1.
inline int ReducedSize(int n, int factor) {
  return n / factor + (n % factor != 0);
}

}  // namespace vorn::serve
