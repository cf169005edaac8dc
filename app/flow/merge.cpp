#include "flow/merge.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace vorn::flow {

namespace {

// The merge of one channel in 1/255 steps of a byte (so exact in integers):
// the byte value times 255.
template <MergeOperation kOp>
inline uint32_t Merged(uint32_t a, uint32_t b, uint32_t alphaA, uint32_t alphaB) {
  if constexpr (kOp == MergeOperation::Over) return a * 255 + b * (255 - alphaA);
  if constexpr (kOp == MergeOperation::Under) return b * 255 + a * (255 - alphaB);
  if constexpr (kOp == MergeOperation::Plus) return (a + b) * 255;
  if constexpr (kOp == MergeOperation::Multiply)
    return a * b + a * (255 - alphaB) + b * (255 - alphaA);
  return (a + b) * 255 - a * b;  // screen
}

// The mix in steps of 1/65536, so that a row is exact integer arithmetic.
constexpr int64_t kMixOne = 65536;

template <MergeOperation kOp>
void MergeRow(const uint8_t* pa, const uint8_t* pb, uint8_t* out, int width, int64_t mix) {
  constexpr int64_t kScale = 255 * kMixOne;
  for (int x = 0; x < width; ++x, pa += 4, pb += 4, out += 4) {
    const uint32_t alphaA = pa[3], alphaB = pb[3];
    for (int c = 0; c < 4; ++c) {
      const uint32_t v = Merged<kOp>(pa[c], pb[c], alphaA, alphaB);
      if (mix >= kMixOne) {
        // Nearest byte of v / 255, halves up.
        out[c] = uint8_t(std::min<uint32_t>(255, (2 * v + 255) / 510));
      } else {
        // B + mix (v / 255 − B), in steps of 1 / (255 × 65536), nearest byte.
        const int64_t b = pb[c];
        const int64_t total = b * kScale + (int64_t(v) - b * 255) * mix;
        out[c] = uint8_t(std::clamp<int64_t>((2 * total + kScale) / (2 * kScale), 0, 255));
      }
    }
  }
}

using RowFunction = void (*)(const uint8_t*, const uint8_t*, uint8_t*, int, int64_t);

RowFunction RowFor(MergeOperation op) {
  switch (op) {
    case MergeOperation::Over:
      return MergeRow<MergeOperation::Over>;
    case MergeOperation::Under:
      return MergeRow<MergeOperation::Under>;
    case MergeOperation::Plus:
      return MergeRow<MergeOperation::Plus>;
    case MergeOperation::Multiply:
      return MergeRow<MergeOperation::Multiply>;
    case MergeOperation::Screen:
      break;
  }
  return MergeRow<MergeOperation::Screen>;
}

}  // namespace

ImageRef MergeImages(const MergeSettings& settings, const df::Image* a, const df::Image& b) {
  ImageRef out = NewImage(b.width, b.height, b.aspect);
  if (!out) return out;
  const int64_t mix = int64_t(std::clamp(settings.mix, 0.0, 1.0) * kMixOne + 0.5);
  const RowFunction row = RowFor(settings.operation);
  for (int y = 0; y < b.height; ++y) {
    const int width = a && y < a->height && mix > 0 ? std::min(a->width, b.width) : 0;
    if (width > 0) row(a->rows[y], b.rows[y], out->rows[y], width, mix);
    if (width < b.width)
      std::memcpy(out->rows[y] + size_t(width) * 4, b.rows[y] + size_t(width) * 4,
                  size_t(b.width - width) * 4);
  }
  return out;
}

}  // namespace vorn::flow
