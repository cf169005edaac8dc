#include "flow/merge.h"

#include <algorithm>
#include <cstring>

namespace vorn::flow {

float MergeChannel(MergeOperation op, float a, float b, float alphaA, float alphaB) {
  switch (op) {
    case MergeOperation::Over:
      return a + b * (1 - alphaA);
    case MergeOperation::Under:
      return b + a * (1 - alphaB);
    case MergeOperation::Plus:
      return a + b;
    case MergeOperation::Multiply:
      // The product where both cover, each alone where the other does not.
      return a * b + a * (1 - alphaB) + b * (1 - alphaA);
    case MergeOperation::Screen:
      return a + b - a * b;
  }
  return b;
}

ImageRef MergeImages(const MergeSettings& settings, const df::Image* a, const df::Image& b) {
  ImageRef out = NewImage(b.width, b.height, b.aspect);
  if (!out) return out;
  const float mix = float(std::clamp(settings.mix, 0.0, 1.0));
  for (int y = 0; y < b.height; ++y) {
    const uint8_t* bRow = b.rows[y];
    uint8_t* oRow = out->rows[y];
    std::memcpy(oRow, bRow, size_t(b.width) * 4);
    if (!a || y >= a->height) continue;
    const uint8_t* aRow = a->rows[y];
    const int width = std::min(a->width, b.width);
    for (int x = 0; x < width; ++x) {
      const uint8_t* pa = aRow + size_t(x) * 4;
      const uint8_t* pb = bRow + size_t(x) * 4;
      const float alphaA = pa[3] / 255.0f, alphaB = pb[3] / 255.0f;
      for (int c = 0; c < 4; ++c) {
        const float bv = pb[c] / 255.0f;
        const float m = MergeChannel(settings.operation, pa[c] / 255.0f, bv, alphaA, alphaB);
        const float v = std::clamp(bv + mix * (m - bv), 0.0f, 1.0f);
        oRow[size_t(x) * 4 + size_t(c)] = uint8_t(v * 255.0f + 0.5f);
      }
    }
  }
  return out;
}

}  // namespace vorn::flow
