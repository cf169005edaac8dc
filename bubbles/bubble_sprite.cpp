#include "bubbles/bubble_sprite.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <new>

namespace bubbles {

namespace {

bool AllocatePlanes(BubbleSprite& s, std::size_t n) {
  s.coverage.reset(new (std::nothrow) int32_t[n]());
  s.normalX.reset(new (std::nothrow) float[n]());
  s.normalY.reset(new (std::nothrow) float[n]());
  s.normalZ.reset(new (std::nothrow) float[n]());
  return s.coverage && s.normalX && s.normalY && s.normalZ;
}

// Replaces the planes by their inner (n − 2) × (n − 2) part when the outer
// ring of pixels is empty. False only when the copy cannot be allocated.
bool TrimEmptyRing(BubbleSprite& s) {
  const int n = s.width;
  if (n < 3) return true;
  const int32_t* cov = s.coverage.get();
  for (int k = 0; k < n; ++k) {
    const std::size_t top = std::size_t(k);
    const std::size_t bottom = std::size_t(n - 1) * n + k;
    const std::size_t left = std::size_t(k) * n;
    const std::size_t right = std::size_t(k) * n + (n - 1);
    if (cov[top] | cov[bottom] | cov[left] | cov[right]) return true;
  }
  const int m = n - 2;
  BubbleSprite inner;
  if (!AllocatePlanes(inner, std::size_t(m) * m)) return false;
  for (int y = 0; y < m; ++y) {
    const std::size_t from = std::size_t(y + 1) * n + 1;
    const std::size_t to = std::size_t(y) * m;
    std::memcpy(&inner.coverage[to], &s.coverage[from], sizeof(int32_t) * m);
    std::memcpy(&inner.normalX[to], &s.normalX[from], sizeof(float) * m);
    std::memcpy(&inner.normalY[to], &s.normalY[from], sizeof(float) * m);
    std::memcpy(&inner.normalZ[to], &s.normalZ[from], sizeof(float) * m);
  }
  s.coverage = std::move(inner.coverage);
  s.normalX = std::move(inner.normalX);
  s.normalY = std::move(inner.normalY);
  s.normalZ = std::move(inner.normalZ);
  s.width = s.height = m;
  return true;
}

// The covered columns of each row.
bool FindSpans(BubbleSprite& s) {
  s.spanBegin.reset(new (std::nothrow) int32_t[s.height]);
  s.spanEnd.reset(new (std::nothrow) int32_t[s.height]);
  if (!s.spanBegin || !s.spanEnd) return false;
  for (int y = 0; y < s.height; ++y) {
    const int32_t* row = &s.coverage[std::size_t(y) * s.width];
    int begin = 0, end = s.width;
    while (begin < end && row[begin] == 0) ++begin;
    while (end > begin && row[end - 1] == 0) --end;
    s.spanBegin[y] = begin;
    s.spanEnd[y] = end;
  }
  return true;
}

}  // namespace

BubbleSprite* MakeSprite(float radius, int imageWidth) {
  return detail::MakeSprite(radius, imageWidth, detail::kMaxWeightTable);
}

namespace detail {

BubbleSprite* MakeSprite(float radius, int imageWidth, std::size_t maxWeightTable) {
  const int n = SpriteSide(radius, imageWidth);
  if (n == 0) return nullptr;
  const float r = std::max(radius, 0.01f);
  // Samples per pixel side: fine for small discs, coarse for large ones. The
  // quotient in double: in float, 16 / R can round up to a whole number
  // (R = 4/3 as a float gives 12.0 for 11.9999997).
  const int s = std::clamp(int(16.0 / r), 4, 16);

  BubbleSprite* sprite = new (std::nothrow) BubbleSprite;
  if (!sprite) return nullptr;
  sprite->width = sprite->height = n;
  if (!AllocatePlanes(*sprite, std::size_t(n) * n)) {
    delete sprite;
    return nullptr;
  }

  // In sample units: the disc's radius, the rim's width q (R / (width / 18)
  // pixels, about one pixel for the largest size), the rim's centre line and
  // the rim's slope.
  const float rs = r * float(s);
  const float q = float(double(rs) / (double(imageWidth) / 18.0));
  const float inner = rs - q / 2.0f;
  const float k = 2.0f / q;
  const int m = s * n;
  const float c = float(m - 1) / 2.0f;
  const int32_t floorSum = s * s;

  // A sample's weight depends on its distance alone, and the samples lie
  // symmetrically about the centre: mirrored columns and mirrored rows give
  // bit-identical distances, and so do transposed ones. Each weight is worked
  // out once, for one eighth of the square, and read for the rest (worked out
  // per row when the table would be too large to hold). Entry: −1 outside
  // the disc, else trunc(w × 255), plus kStrict when strictly inside.
  constexpr int16_t kOutside = -1, kStrict = 0x100;
  const int half = (m + 1) / 2;
  std::unique_ptr<int16_t[]> quarter;
  if (std::size_t(half) * half <= maxWeightTable) {
    quarter.reset(new (std::nothrow) int16_t[std::size_t(half) * half]);
    if (quarter) std::fill_n(quarter.get(), std::size_t(half) * half, kOutside);
  }
  std::unique_ptr<int16_t[]> oneRow;
  if (!quarter) {
    oneRow.reset(new (std::nothrow) int16_t[half]);
    if (!oneRow) {
      delete sprite;
      return nullptr;
    }
  }

  int32_t* cov = sprite->coverage.get();
  float* nx = sprite->normalX.get();
  float* ny = sprite->normalY.get();
  for (int j = 0; j < m; ++j) {
    const float dy = float(j) - c;
    const float dy2 = dy * dy;
    // The samples within the disc form one run of columns about the centre
    // (the distance grows with |dx| in float arithmetic too): estimate it in
    // double precision, then widen it while the exact test still holds.
    const double reach = std::sqrt(std::max(0.0, double(rs) * rs - double(dy) * dy)) + 1.0;
    int iBegin = std::max(0, int(double(c) - reach));
    int iEnd = std::min(m, int(double(c) + reach) + 2);
    const auto within = [&](int i) {
      const float dx = float(i) - c;
      return std::sqrt(dx * dx + dy2) <= rs;
    };
    while (iBegin > 0 && within(iBegin - 1)) --iBegin;
    while (iEnd < m && within(iEnd)) ++iEnd;
    // The same run on both sides, so every column's mirror is in it.
    iBegin = std::min(iBegin, m - iEnd);
    iEnd = m - iBegin;

    const int mirrorRow = std::min(j, m - 1 - j);
    int16_t* weights = quarter ? &quarter[std::size_t(mirrorRow) * half] : oneRow.get();
    if (!quarter || j == mirrorRow) {
      int i = iBegin;
      if (quarter) {
        // Below the diagonal, the transposed sample's weight (its row came
        // first): the same distance, dx² and dy² added the other way round.
        for (; i < std::min(mirrorRow, half); ++i)
          weights[i] = quarter[std::size_t(i) * half + mirrorRow];
      }
      for (; i < std::min(half, iEnd); ++i) {
        const float dx = float(i) - c;
        const float d = std::sqrt(dx * dx + dy2);
        if (!(d <= rs)) {
          weights[i] = kOutside;
          continue;
        }
        const float u = std::pow(d / rs, 2.3f);  // body: clear centre, dense edge
        const float v = std::max(0.0f, 1.0f - k * std::fabs(d - inner) + u);  // rim
        const float w = std::min(u + v, 1.0f);
        weights[i] = int16_t(int(w * 255.0f) | (d < rs ? kStrict : 0));
      }
    }

    // Pixel by pixel along the row, each pixel's samples in order.
    const std::size_t rowBase = std::size_t(j / s) * n;
    for (int i = iBegin; i < iEnd;) {
      const int column = i / s;
      const int stop = std::min(iEnd, (column + 1) * s);
      const std::size_t p = rowBase + std::size_t(column);
      int32_t sum = cov[p];
      int lastStrict = -1;
      for (; i < stop; ++i) {
        const int16_t e = weights[i < half ? i : m - 1 - i];
        if (e == kOutside) continue;
        sum = std::max(sum + (e & 0xFF), floorSum);
        if (e & kStrict) lastStrict = i;
      }
      cov[p] = sum;
      if (lastStrict >= 0) {
        nx[p] = (float(lastStrict) - c) / rs;
        ny[p] = dy / rs;
      }
    }
  }

  const std::size_t count = std::size_t(n) * n;
  float* nz = sprite->normalZ.get();
  for (std::size_t p = 0; p < count; ++p) {
    cov[p] /= floorSum;
    nz[p] = std::sqrt(std::max(0.0f, 1.0f - nx[p] * nx[p] - ny[p] * ny[p]));
  }

  if (!TrimEmptyRing(*sprite) || !FindSpans(*sprite)) {
    delete sprite;
    return nullptr;
  }
  return sprite;
}

}  // namespace detail

int SpriteSide(float radius, int imageWidth) {
  if (imageWidth < 1 || !(radius <= kMaxSpriteRadius)) return 0;  // also NaN
  return 2 * int(std::ceil(std::max(radius, 0.01f))) + 1;
}

void ReleaseSprite(BubbleSprite* sprite) {
  delete sprite;
}

float SpriteRadius(int bubbleType, int index, int width, float radiusStep) {
  const double step = double(radiusStep) * index;
  if (bubbleType == 1) return float(double(width) / 18.0 - step + 0.5);
  return float(step + 0.5);
}

BubbleSprite* CachedSprite(BubbleSprite* (&caches)[kBubbleTypes][kSizeSteps], int bubbleType,
                           int index, int width, float radiusStep) {
  if (bubbleType < 0 || bubbleType >= kBubbleTypes || index < 0 || index >= kSizeSteps) {
    return nullptr;
  }
  BubbleSprite*& entry = caches[bubbleType][index];
  if (entry && entry->stampWidth == width) return entry;
  BubbleSprite* made = MakeSprite(SpriteRadius(bubbleType, index, width, radiusStep), width);
  if (!made) return nullptr;  // a stale entry stays, unused, until a remake succeeds
  made->stampWidth = width;
  ReleaseSprite(entry);
  entry = made;
  return entry;
}

const BubbleSprite* FindSprite(BubbleSprite* const (&caches)[kBubbleTypes][kSizeSteps],
                               int bubbleType, int index, int width) {
  if (bubbleType < 0 || bubbleType >= kBubbleTypes || index < 0 || index >= kSizeSteps) {
    return nullptr;
  }
  const BubbleSprite* entry = caches[bubbleType][index];
  return entry && entry->stampWidth == width ? entry : nullptr;
}

}  // namespace bubbles
