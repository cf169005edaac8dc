#include "bleb/warp_map.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "framework/lanes.h"

namespace bleb {

bool WarpMap::Allocate(int width, int height) {
  if (width == width_ && height == height_ && x_) return true;
  Release();
  if (width <= 0 || height <= 0) return false;
  const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (n > std::numeric_limits<std::size_t>::max() / sizeof(float)) return false;
  if (!x_.Allocate(n) || !y_.Allocate(n)) {
    Release();
    return false;
  }
  width_ = width;
  height_ = height;
  return true;
}

void WarpMap::Release() {
  x_.Release();
  y_.Release();
  width_ = 0;
  height_ = 0;
}

namespace {

// Sixteen lanes: one AVX-512 register, two AVX2 ones, four SSE2 halves in the
// baseline; the clones of MapRows run them natively.
constexpr int kLanes = 16;
using VF = fw::lanes::Floats<kLanes>;
using VI = fw::lanes::Ints<kLanes>;
using fw::lanes::Any;
using fw::lanes::Sqrt;

// d^k for a whole k in 1..kMaxWholePower, by repeated squaring. Within two
// ulps, like the general path, and a handful of multiplies.
constexpr int kMaxWholePower = 64;
FW_LANES_INLINE VF WholePower(VF d, int k) {
  VF base = d;
  for (; !(k & 1); k >>= 1) base = base * base;
  VF result = base;
  for (k >>= 1; k; k >>= 1) {
    base = base * base;
    if (k & 1) result = result * base;
  }
  return result;
}

// The largest float not above a double threshold, so that a float compare
// decides exactly like the compare against the double.
float FloatAtOrBelow(double v) {
  float f = static_cast<float>(v);
  if (static_cast<double>(f) > v) f = std::nextafter(f, -std::numeric_limits<float>::infinity());
  return f;
}

}  // namespace

namespace detail {

FW_WIDE_ISA_CLONES void MapRowsVector(const WarpParams& p, float* mapX, float* mapY, int begin,
                                      int end, const std::atomic<int>* abort) {
  const int width = p.width;
  const float a = 1.0f / static_cast<float>(width);
  const float b = p.aspect / static_cast<float>(width);
  const float scaleX = static_cast<float>(width - 1);
  const float scaleY = static_cast<float>(width - 1) / p.aspect;
  const float nearCentre = FloatAtOrBelow(0.00001);
  const float negligible = FloatAtOrBelow(0.001);
  const float cx = p.centerX, cy = p.centerY;
  const float rc = p.rotationCos, rs = p.rotationSin;
  const float scale = p.scale;
  const bool unitScale = scale == 1.0f;

  int lobes[kLobes];
  int whole[kLobes];  // the sharpness as a small whole power, or 0
  int active = 0;
  for (int n = 0; n < kLobes; ++n) {
    if (std::fabs(p.amplitude[n]) <= negligible) continue;
    const float k = p.sharpness[n];
    whole[active] =
        (k >= 1.0f && k <= kMaxWholePower && k == std::floor(k)) ? static_cast<int>(k) : 0;
    lobes[active++] = n;
  }

  // Rows go in tiles of kTile pixels: first the geometry of every block,
  // then each lobe over the whole tile (independent blocks keep the vector
  // units busy through the long pow chains), then the mapped positions.
  constexpr int kBlocks = 16;
  constexpr int kTile = kBlocks * kLanes;
  VF tileR[kBlocks], tileQx[kBlocks], tileQy[kBlocks], tileUx[kBlocks], tileUy[kBlocks],
      tileS[kBlocks];
  const VF lane = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = begin; i < end; ++i) {
    if (abort && abort->load(std::memory_order_relaxed)) return;
    float* outX = mapX + static_cast<std::size_t>(i) * width;
    float* outY = mapY + static_cast<std::size_t>(i) * width;
    const float y = static_cast<float>(i) * b - cy;
    for (int t0 = 0; t0 < width; t0 += kTile) {
      const int blocks = std::min(kBlocks, (width - t0 + kLanes - 1) / kLanes);
      for (int q = 0; q < blocks; ++q) {
        const VF x = (lane + static_cast<float>(t0 + q * kLanes)) * a - cx;
        const VF r = Sqrt(x * x + y * y);
        // Unit direction; the raw offsets right at the centre, as defined.
        // The quotients are kept for the angle below, which divides by the
        // same r (the divider is the pass's bottleneck).
        const VF qx = x / r, qy = y / r;
        const VI away = r > nearCentre;
        tileR[q] = r;
        tileQx[q] = qx;
        tileQy[q] = qy;
        tileUx[q] = away ? qx : x;
        tileUy[q] = away ? qy : y;
        tileS[q] = VF{} + 1.0f;
      }
      for (int k = 0; k < active; ++k) {
        const int n = lobes[k];
        const float lc = p.lobeCos[n], ls = p.lobeSin[n];
        const float amplitude = p.amplitude[n], sharpness = p.sharpness[n];
        const int power = whole[k];
        for (int q = 0; q < blocks; ++q) {
          const VF d = tileUx[q] * lc + tileUy[q] * ls;
          const VI facing = d > 0.0f;
          if (!Any(facing)) continue;
          const VF pw = power
                            ? WholePower(d, power)
                            : fw::lanes::Exp2(fw::lanes::Log2(d) * sharpness, fw::lanes::kExp2Full);
          tileS[q] = tileS[q] + (facing ? pw * amplitude : 0.0f);
        }
      }
      for (int q = 0; q < blocks; ++q) {
        const int j0 = t0 + q * kLanes;
        const VF r = tileR[q];
        // Dividing by a scale of exactly 1 changes nothing.
        const VF R = unitScale ? r / tileS[q] : r / tileS[q] / scale;
        // cos and sin of (atan2(uy, ux) - rotation) from the unit direction;
        // at the exact centre the angle is -rotation.
        const VI off = r > 0.0f;
        const VF dx = off ? tileQx[q] : 1.0f;
        const VF dy = off ? tileQy[q] : 0.0f;
        const VF ct = dx * rc + dy * rs;
        const VF st = dy * rc - dx * rs;
        const VF mx = (R * ct + cx) * scaleX;
        const VF my = (R * st + cy) * scaleY;
        // A fixed size for whole blocks, so the copy is one vector store
        // rather than a library call.
        if (j0 + kLanes <= width) {
          std::memcpy(outX + j0, &mx, sizeof(mx));
          std::memcpy(outY + j0, &my, sizeof(my));
        } else {
          const int count = width - j0;
          std::memcpy(outX + j0, &mx, sizeof(float) * count);
          std::memcpy(outY + j0, &my, sizeof(float) * count);
        }
      }
    }
  }
}

}  // namespace detail

void MapRows(const WarpParams& p, float* mapX, float* mapY, int begin, int end,
             const std::atomic<int>* abort) {
  if (p.width <= 0) return;
  begin = std::max(begin, 0);
  end = std::min(end, p.height);
  if (begin >= end) return;
  detail::MapRowsVector(p, mapX, mapY, begin, end, abort);
}

}  // namespace bleb
