#include "bubbles/bubble_blit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "framework/random.h"
#include "framework/values.h"

namespace bubbles {

namespace {

// Beyond any sprite's height: a larger step draws the first row alone too.
constexpr int kMaxRowStep = 1 << 20;
// Opacity and reflection products saturate here; the blend clamps them to a
// byte anyway, and the caps keep every product within 32 bits.
constexpr int kOpacityCap = 65536;

inline int Clamp(int v, int lo, int hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

// Truncation toward zero of a float clamped to [0, cap] first (NaN gives 0).
inline int TruncClamped(float v, float cap) {
  if (!(v > 0.0f)) return 0;
  return v < cap ? int(v) : int(cap);
}

inline float Power(float s, float e) {
  return std::pow(s, e);
}

// Per-bubble values shared by every pixel of a blit.
struct BlitSetup {
  const uint8_t* const* reflectionRows;
  int reflectionWidth, reflectionHeight;
  int halfW, halfH;
  float reflectionScale;  // reflectionIntensity, times lightFactor at use
  bool lit;
  float lx, ly, lz;
  float shine, shineHighlight, minBrightness;
  uint32_t levelDensity;  // (lightLevel × density) >> 8
  int lightLevel;
};

BlitSetup MakeSetup(const BubbleLook& look, const BlitShade& shade) {
  BlitSetup s{};
  s.reflectionRows =
      shade.reflectionWidth > 0 && shade.reflectionHeight > 0 ? shade.reflectionRows : nullptr;
  s.reflectionWidth = shade.reflectionWidth;
  s.reflectionHeight = shade.reflectionHeight;
  s.halfW = shade.reflectionWidth / 2;
  s.halfH = shade.reflectionHeight / 2;
  s.reflectionScale = shade.reflectionIntensity;
  s.lit = look.lightLevel >= 0;
  s.lx = look.lightVector[0];
  s.ly = look.lightVector[1];
  s.lz = look.lightVector[2];
  s.shine = shade.shine;
  s.shineHighlight = shade.shineHighlight;
  s.minBrightness = shade.minBrightness;
  s.lightLevel = Clamp(look.lightLevel, 0, kMaxLightLevel);
  s.levelDensity = (uint32_t(s.lightLevel) * uint32_t(Clamp(look.color[3], 0, 255))) >> 8;
  return s;
}

// Opacity (0..256), highlight and reflection terms of one sprite pixel with
// coverage cov > 0.
struct PixelShade {
  int alpha;
  int highlight;
  int reflection[4];
};

PixelShade ShadePixel(const BlitSetup& s, const BubbleLook& look, int cov, float nx, float ny,
                      float nz) {
  PixelShade p{};
  if (s.reflectionRows) {
    const int row =
        Clamp(fw::TruncateToInt((ny + 1.0f) * float(s.halfH)), 0, s.reflectionHeight - 1);
    const int col =
        Clamp(fw::TruncateToInt((nx + 1.0f) * float(s.halfW)), 0, s.reflectionWidth - 1);
    const uint8_t* r = s.reflectionRows[row] + std::size_t(col) * 4;
    for (int b = 0; b < 4; ++b) {
      const int term =
          TruncClamped(float(r[b]) * s.reflectionScale * look.lightFactor, float(kOpacityCap));
      p.reflection[b] = (term * cov) >> 8;
    }
  }
  if (s.lit) {
    float shade = nx * s.lx + ny * s.ly + nz * s.lz;
    shade = shade < 0.0f ? 0.0f : shade;
    shade = shade > 1.0f ? 1.0f : shade;
    const uint32_t body = uint32_t(
        TruncClamped((Power(shade, s.shine) + s.minBrightness) * float(cov), float(kOpacityCap)));
    p.alpha = int(std::min<uint32_t>((body * s.levelDensity) >> 8, 256));
    p.highlight =
        TruncClamped(Power(shade, s.shineHighlight) * float(s.lightLevel), float(kOpacityCap));
  } else {
    p.alpha = std::min((Clamp(look.color[3], 0, 255) * cov) >> 8, 256);
    p.highlight = 0;
  }
  return p;
}

// Blends one shaded pixel over dst (bytes blue, green, red, alpha).
inline void Blend(uint8_t* dst, const PixelShade& p, const int color[4]) {
  const int inv = 256 - p.alpha;
  // Byte 2 takes red, byte 1 green, byte 0 blue, byte 3 the density.
  static constexpr int kColorOfByte[4] = {2, 1, 0, 3};
  for (int b = 0; b < 4; ++b) {
    const int v =
        ((dst[b] * inv + p.alpha * color[kColorOfByte[b]]) >> 8) + p.highlight + p.reflection[b];
    dst[b] = uint8_t(Clamp(v, 0, 255));
  }
}

// The sprite's placement: sprite rows [kBegin, kEnd) × rowStep land on output
// rows y0 + k within [rowLo, rowHi); columns [iBegin, iEnd) on x0 + i.
struct Placement {
  int x0, y0;
  int iBegin, iEnd;
  int kBegin, kEnd;
};

// False when nothing of the sprite lies in rows [rowLo, rowHi) and the
// image's columns.
bool Place(const BlitTarget& t, const BubbleLook& look, const BubbleSprite& sprite, int rowStep,
           int rowLo, int rowHi, Placement* out) {
  if (sprite.width <= 0 || sprite.height <= 0 || t.width <= 0) return false;
  const int64_t h = sprite.width / 2;
  const int64_t px = look.px, py = look.py;
  const int64_t x0 = px - h, y0 = py - h;
  if (px + h < 0 || x0 >= t.width || py + h < rowLo || y0 >= rowHi) return false;
  const int64_t step = std::clamp(rowStep, 1, kMaxRowStep);
  const int64_t rowsDrawn = (sprite.height + step - 1) / step;
  out->x0 = int(x0);
  out->y0 = int(y0);
  out->iBegin = int(std::max<int64_t>(0, -x0));
  out->iEnd = int(std::min<int64_t>(sprite.width, t.width - x0));
  out->kBegin = int(std::max<int64_t>(0, rowLo - y0));
  out->kEnd = int(std::min<int64_t>(rowsDrawn, rowHi - y0));
  return out->iBegin < out->iEnd && out->kBegin < out->kEnd;
}

}  // namespace

int RowStepForAspect(float aspect) {
  return std::clamp(fw::TruncateToInt(double(aspect) + 0.5), 1, kMaxRowStep);
}

void BlitBubble(const BlitTarget& target, const BubbleLook& look, const BubbleSprite& sprite,
                const BlitShade& shade) {
  const int rowLo = std::max(target.firstRow, 0);
  const int rowHi = std::min(target.endRow, target.height);
  if (rowLo >= rowHi) return;
  const int rowStep = std::clamp(shade.rowStep, 1, kMaxRowStep);
  Placement pl;
  if (!Place(target, look, sprite, rowStep, rowLo, rowHi, &pl)) return;
  const BlitSetup setup = MakeSetup(look, shade);
  for (int k = pl.kBegin; k < pl.kEnd; ++k) {
    const std::size_t base = std::size_t(k) * rowStep * sprite.width;
    uint8_t* row = target.rows[pl.y0 + k] + std::size_t(pl.x0) * 4;
    for (int i = pl.iBegin; i < pl.iEnd; ++i) {
      const std::size_t p = base + i;
      const int cov = sprite.coverage[p];
      if (cov == 0) continue;
      const PixelShade s =
          ShadePixel(setup, look, cov, sprite.normalX[p], sprite.normalY[p], sprite.normalZ[p]);
      Blend(row + std::size_t(i) * 4, s, look.color);
    }
  }
}

void BlitBurst(const BlitTarget& target, const BubbleLook& look, const BubbleSprite& sprite,
               const BlitShade& shade, float radius, float threshold, const BurstKeys& keys) {
  const int rowLo = std::max(target.firstRow, 0);
  const int rowHi = std::min(target.endRow, target.height);
  if (rowLo >= rowHi || !std::isfinite(radius)) return;
  const int rowStep = std::clamp(shade.rowStep, 1, kMaxRowStep);
  // Every sprite pixel inside the image may throw, whichever band it lies in;
  // this band draws the fragments that land in it.
  Placement pl;
  if (!Place(target, look, sprite, rowStep, 0, target.height, &pl)) return;
  const BlitSetup setup = MakeSetup(look, shade);
  const int density = Clamp(look.color[3], 0, 255);
  const float centreX = float(look.px), centreY = float(look.py);
  for (int k = pl.kBegin; k < pl.kEnd; ++k) {
    const int y = pl.y0 + k;
    // Fragments of this row land between 1 and 2 times its distance from the
    // centre, times the radius: skip the row when none can reach the band.
    const double near = double(y - look.py) * radius, far = 2.0 * near;
    const double lo = look.py + std::min(near, far) - 2.0;
    const double hi = look.py + std::max(near, far) + 2.0;
    if (hi < rowLo || lo >= rowHi) continue;
    const float dy = float(y - look.py);
    const int j = k * rowStep;
    const std::size_t base = std::size_t(j) * sprite.width;
    for (int i = pl.iBegin; i < pl.iEnd; ++i) {
      const std::size_t p = base + i;
      const int cov = sprite.coverage[p];
      if (((cov * density) & ~0xFF) <= 0xA00) continue;
      const uint64_t key = uint64_t(p) * 2;
      if (!(fw::KeyedSigned(keys.step, keys.serial, key) > threshold)) continue;
      const float f = 1.0f + fw::KeyedUniform(keys.step, keys.serial, key + 1);
      const float dx = float(pl.x0 + i - look.px);
      const int tx = fw::TruncateToInt(dx * f * radius + centreX);
      const int ty = fw::TruncateToInt(dy * f * radius + centreY);
      if (tx < 0 || tx >= target.width || ty < rowLo || ty >= rowHi) continue;
      const PixelShade s =
          ShadePixel(setup, look, cov, sprite.normalX[p], sprite.normalY[p], sprite.normalZ[p]);
      Blend(target.rows[ty] + std::size_t(tx) * 4, s, look.color);
    }
  }
}

}  // namespace bubbles
