#include "flow/merge.h"

#include <dfsystem/app.h>
#include <dfsystem/operator.h>

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

// The rows of one image, merged in bands on the runtime's worker pool (the
// one the tools' chunks run on). Each row is merged alone, so the bytes do
// not depend on the bands.
class MergeRows : public df::ThreadedOperator {
 public:
  MergeRows(RowFunction row, int64_t mix, const df::Image* a, const df::Image& b, df::Image& out,
            long bands)
      : ThreadedOperator(nullptr, nullptr, nullptr),
        row_(row),
        mix_(mix),
        a_(a),
        b_(b),
        out_(out),
        bands_(bands) {}

  void ProcessChunk(df::Request*, long band) override {
    const long height = b_.height;
    for (long y = height * band / bands_; y < height * (band + 1) / bands_; ++y) Row(int(y));
  }

  void Row(int y) {
    const int width = a_ && y < a_->height && mix_ > 0 ? std::min(a_->width, b_.width) : 0;
    if (width > 0) row_(a_->rows[y], b_.rows[y], out_.rows[y], width, mix_);
    if (width < b_.width)
      std::memcpy(out_.rows[y] + size_t(width) * 4, b_.rows[y] + size_t(width) * 4,
                  size_t(b_.width - width) * 4);
  }

 private:
  RowFunction row_;
  int64_t mix_;
  const df::Image* a_;
  const df::Image& b_;
  df::Image& out_;
  long bands_;
};

// The tools' worker count: the render's own, else the runtime's.
int DefaultBands() {
  if (const int workers = df::ThreadRenderWorkers(); workers > 0) return workers;
  const df::App* app = df::GetApp();
  return app ? app->processorCount : 1;
}

}  // namespace

ImageRef MergeImages(const MergeSettings& settings, const df::Image* a, const df::Image& b,
                     int bands) {
  ImageRef out = NewImage(b.width, b.height, b.aspect);
  if (!out) return out;
  const int64_t mix = int64_t(std::clamp(settings.mix, 0.0, 1.0) * kMixOne + 0.5);
  const long n = std::clamp(bands > 0 ? bands : DefaultBands(), 1,
                            std::min(std::max(b.height, 1), df::kMaxWorkers));
  MergeRows rows(RowFor(settings.operation), mix, a, b, *out, n);
  if (n == 1) {
    for (int y = 0; y < b.height; ++y) rows.Row(y);
  } else if (!rows.DoMultiProcess(nullptr, n)) {
    return nullptr;
  }
  return out;
}

}  // namespace vorn::flow
