#include "serve/frame_preview.h"

#include <algorithm>

namespace vorn::serve {

std::vector<uint8_t> ReduceRgbaRows(const uint8_t* rgba, int width, int height, int factor, int top,
                                    int rows) {
  const int outWidth = ReducedSize(width, factor);
  std::vector<uint8_t> out(size_t(outWidth) * size_t(rows) * 4);
  const size_t stride = size_t(width) * 4;
  // Per output pixel of one row: sums of alpha-weighted colour, of alpha, of
  // colour (for an all-transparent block) and the pixel count. At most
  // 8 x 8 pixels of 255 x 255 each: within 32 bits.
  struct Sum {
    uint32_t weighted[3], alpha, plain[3], count;
  };
  std::vector<Sum> sums(static_cast<size_t>(outWidth));
  for (int r = 0; r < rows; ++r) {
    std::fill(sums.begin(), sums.end(), Sum{});
    const int y0 = (top + r) * factor;
    const int y1 = std::min(height, y0 + factor);
    for (int y = y0; y < y1; ++y) {
      const uint8_t* p = rgba + size_t(y) * stride;
      for (int ox = 0, x = 0; ox < outWidth; ++ox) {
        Sum& s = sums[size_t(ox)];
        for (const int end = std::min(width, x + factor); x < end; ++x, p += 4) {
          const uint32_t a = p[3];
          for (int c = 0; c < 3; ++c) {
            s.weighted[c] += p[c] * a;
            s.plain[c] += p[c];
          }
          s.alpha += a;
          ++s.count;
        }
      }
    }
    uint8_t* d = out.data() + size_t(r) * size_t(outWidth) * 4;
    for (const Sum& s : sums) {
      for (int c = 0; c < 3; ++c)
        d[c] = uint8_t(s.alpha ? (s.weighted[c] + s.alpha / 2) / s.alpha
                               : (s.plain[c] + s.count / 2) / s.count);
      d[3] = uint8_t((s.alpha + s.count / 2) / s.count);
      d += 4;
    }
  }
  return out;
}

}  // namespace vorn::serve
