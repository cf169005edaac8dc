#include "tests/bleb/reference/warp_map_reference.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace bleb {

void MapRowsReference(const WarpParams& p, float* mapX, float* mapY, int begin, int end,
                      const std::atomic<int>* abort) {
  const int width = p.width;
  if (width <= 0) return;
  begin = std::max(begin, 0);
  end = std::min(end, p.height);
  const float a = 1.0f / static_cast<float>(width);
  const float b = p.aspect / static_cast<float>(width);
  const float scaleX = static_cast<float>(width - 1);
  const float scaleY = static_cast<float>(width - 1) / p.aspect;
  for (int i = begin; i < end; ++i) {
    if (abort && abort->load(std::memory_order_relaxed)) return;
    float* outX = mapX + static_cast<std::size_t>(i) * width;
    float* outY = mapY + static_cast<std::size_t>(i) * width;
    const float y = static_cast<float>(i) * b - p.centerY;
    for (int j = 0; j < width; ++j) {
      const float x = static_cast<float>(j) * a - p.centerX;
      const float r = std::sqrt(x * x + y * y);
      float ux = x, uy = y;
      if (r > 0.00001) {
        ux = x / r;
        uy = y / r;
      }
      const float theta =
          (ux == 0.0f && uy == 0.0f) ? -p.rotation : std::atan2(uy, ux) - p.rotation;
      float s = 1.0f;
      for (int n = 0; n < kLobes; ++n) {
        if (std::fabs(p.amplitude[n]) <= 0.001) continue;
        const float d = p.lobeCos[n] * ux + p.lobeSin[n] * uy;
        if (d > 0.0f) s += p.amplitude[n] * std::pow(d, p.sharpness[n]);
      }
      const float R = r / s / p.scale;
      outX[j] = (R * std::cos(theta) + p.centerX) * scaleX;
      outY[j] = (R * std::sin(theta) + p.centerY) * scaleY;
    }
  }
}

}  // namespace bleb
