#include "bubbles/bubble_blit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "framework/lanes.h"
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

// Eight lanes: one AVX2 register.
constexpr int kLanes = 8;
using VF = fw::lanes::Floats<kLanes>;
using VI = fw::lanes::Ints<kLanes>;
using VU = fw::lanes::Words<kLanes>;
using fw::lanes::kExp2UpToOne;
using fw::lanes::UnitPower;

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
    const uint32_t body = uint32_t(TruncClamped(
        (UnitPower(shade, s.shine) + s.minBrightness) * float(cov), float(kOpacityCap)));
    p.alpha = int(std::min<uint32_t>((body * s.levelDensity) >> 8, 256));
    p.highlight =
        TruncClamped(UnitPower(shade, s.shineHighlight) * float(s.lightLevel), float(kOpacityCap));
  } else {
    p.alpha = std::min((Clamp(look.color[3], 0, 255) * cov) >> 8, 256);
    p.highlight = 0;
  }
  return p;
}

// The first n ≤ kLanes elements at p, the other lanes 0. A whole vector is
// one load; only the row's last, partial block takes the byte copy.
template <class V>
FW_LANES_INLINE void LoadLanes(V& v, const void* p, int n) {
  if (n == kLanes) {
    std::memcpy(&v, p, sizeof(V));
  } else {
    v = V{};
    std::memcpy(&v, p, sizeof(V) / kLanes * n);
  }
}

// Shades and blends `count` sprite pixels of one row (coverage and normals
// from the sprite, dst the output pixels they land on), eight at a time. The
// same arithmetic as ShadePixel and Blend, lane by lane: a pixel of coverage
// 0 gets opacity, highlight and reflection 0 and keeps its bytes.
FW_ISA_CLONES void ShadeSpan(const BlitSetup& s, const BubbleLook& look, const int32_t* cov,
                             const float* nx, const float* ny, const float* nz, uint8_t* dst,
                             int count) {
  const VF cap = VF{} + float(kOpacityCap);
  const int density = Clamp(look.color[3], 0, 255);
  // Byte 0 takes blue, byte 1 green, byte 2 red, byte 3 the density.
  const int byByte[4] = {look.color[2], look.color[1], look.color[0], density};
  const VF level = VF{} + float(s.lightLevel);
  for (int i = 0; i < count; i += kLanes) {
    const int n = std::min(kLanes, count - i);
    VI c;
    VF x, y, z;
    VU px;
    LoadLanes(c, cov + i, n);
    LoadLanes(x, nx + i, n);
    LoadLanes(y, ny + i, n);
    LoadLanes(z, nz + i, n);
    LoadLanes(px, dst + std::size_t(i) * 4, n);
    const VF cf = __builtin_convertvector(c, VF);

    VI alpha, highlight;
    if (s.lit) {
      VF shade = x * s.lx + y * s.ly + z * s.lz;
      shade = shade < 0.0f ? 0.0f : shade;
      shade = shade > 1.0f ? 1.0f : shade;
      const VF logShade = fw::lanes::Log2(shade);  // both powers share it
      VF body = (fw::lanes::Exp2(logShade * s.shine, kExp2UpToOne) + s.minBrightness) * cf;
      body = body > 0.0f ? body : 0.0f;  // NaN too
      body = body < cap ? body : cap;
      // body ≤ 65536 and levelDensity ≤ 65280: the product fits 32 bits.
      const VU a =
          (__builtin_bit_cast(VU, __builtin_convertvector(body, VI)) * s.levelDensity) >> 8u;
      alpha = __builtin_bit_cast(VI, a < 256u ? a : 256u);
      VF h = fw::lanes::Exp2(logShade * s.shineHighlight, kExp2UpToOne) * level;
      h = h > 0.0f ? h : 0.0f;
      h = h < cap ? h : cap;
      highlight = c != 0 ? __builtin_convertvector(h, VI) : 0;
    } else {
      alpha = (density * c) >> 8;
      highlight = VI{};
    }

    VI reflection[4] = {};
    if (s.reflectionRows) {
      VF rowF = (y + 1.0f) * float(s.halfH);
      VF colF = (x + 1.0f) * float(s.halfW);
      rowF = rowF > 0.0f ? rowF : 0.0f;
      colF = colF > 0.0f ? colF : 0.0f;
      rowF = rowF < float(s.reflectionHeight - 1) ? rowF : float(s.reflectionHeight - 1);
      colF = colF < float(s.reflectionWidth - 1) ? colF : float(s.reflectionWidth - 1);
      const VI row = __builtin_convertvector(rowF, VI), col = __builtin_convertvector(colF, VI);
      VU picked = {};
      for (int k = 0; k < kLanes; ++k)
        std::memcpy(&picked[k], s.reflectionRows[row[k]] + std::size_t(col[k]) * 4, 4);
      for (int b = 0; b < 4; ++b) {
        const VF byte = __builtin_convertvector((picked >> unsigned(8 * b)) & 0xFFu, VF);
        VF term = byte * s.reflectionScale * look.lightFactor;
        term = term > 0.0f ? term : 0.0f;
        term = term < cap ? term : cap;
        reflection[b] = (__builtin_convertvector(term, VI) * c) >> 8;
      }
    }

    const VI inv = 256 - alpha;
    VU out = {};
    for (int b = 0; b < 4; ++b) {
      const VI d = __builtin_bit_cast(VI, (px >> unsigned(8 * b)) & 0xFFu);
      VI v = ((d * inv + alpha * byByte[b]) >> 8) + highlight + reflection[b];
      v = v < 0 ? 0 : v;
      v = v > 255 ? 255 : v;
      out |= __builtin_bit_cast(VU, v) << unsigned(8 * b);
    }
    if (n == kLanes)
      std::memcpy(dst + std::size_t(i) * 4, &out, sizeof(out));
    else
      std::memcpy(dst + std::size_t(i) * 4, &out, sizeof(uint32_t) * n);
  }
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
    const int j = k * rowStep;
    const int i0 = std::max(pl.iBegin, sprite.spanBegin[j]);
    const int i1 = std::min(pl.iEnd, sprite.spanEnd[j]);
    if (i0 >= i1) continue;
    const std::size_t p = std::size_t(j) * sprite.width + i0;
    uint8_t* dst = target.rows[pl.y0 + k] + (std::size_t(pl.x0) + i0) * 4;
    ShadeSpan(setup, look, &sprite.coverage[p], &sprite.normalX[p], &sprite.normalY[p],
              &sprite.normalZ[p], dst, i1 - i0);
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
