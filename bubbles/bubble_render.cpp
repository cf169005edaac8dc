#include "bubbles/bubble_render.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "bubbles/band_balance.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include "framework/angles.h"
#include "framework/noise.h"
#include "framework/values.h"

namespace bubbles {

namespace {

inline int Clamp(int v, int lo, int hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

// extent × position + 0.5 in double: the exact product decides where it
// lies within a few units in the last place of a whole number.
int CentrePixel(int extent, float position) {
  return Clamp(fw::TruncateToInt(double(extent) * position + 0.5), -kFarPixel, kFarPixel);
}

// A vector divided by its length when that exceeds 0.0001.
void Normalise2(double& x, double& y) {
  const double length = std::sqrt(x * x + y * y);
  if (length > 0.0001) {
    x /= length;
    y /= length;
  }
}

}  // namespace

int CentreColumn(const BubbleSystem& system, const Bubble& bubble) {
  return CentrePixel(system.width, bubble.x);
}
int CentreRow(const BubbleSystem& system, const Bubble& bubble) {
  return CentrePixel(system.height, bubble.y);
}

BubbleLook LookOfBubble(const BubbleSystem& system, const Bubble& b) {
  BubbleLook look;
  look.px = CentreColumn(system, b);
  look.py = CentreRow(system, b);

  // Each expression is worked out in double and rounded where it is stored
  // into a float (the light factor, the light vector) or truncated to an int.
  // Fade with the age from before this frame's burst test.
  const double maxAge = b.maxAge;
  const double rem = double(int64_t(b.maxAge) - b.preTestAge);
  const float base[4] = {b.red, b.green, b.blue, b.density};
  for (int n = 0; n < 4; ++n) {
    const bool fades = n < 3 ? system.params.fadeMode != 2 : system.params.fadeMode != 1;
    look.color[n] = fw::TruncateToInt(fades ? base[n] * rem / maxAge : double(base[n]));
  }

  if (!(system.params.lightBrightness > 0.0f)) {
    look.lightLevel = -1;
    look.lightFactor = 0.0f;
  } else {
    double dx = double(system.params.lightTargetX) - system.params.lightSourceX;
    double dy = double(system.params.lightTargetY) - system.params.lightSourceY;
    Normalise2(dx, dy);
    double qx = double(b.x) - system.params.lightSourceX;
    double qy = double(b.y) - system.params.lightSourceY;
    Normalise2(qx, qy);
    double cosTheta = qx * dx + qy * dy;
    if (!(cosTheta > 0.0)) {
      look.lightFactor = 0.0f;
      look.lightLevel = 0;
    } else {
      cosTheta = std::min(cosTheta, 0.99999);
      const double theta = std::acos(cosTheta);
      const double half = std::max(system.params.lightSpread * fw::kHalfDegreesToRadians, 0.00001);
      look.lightFactor =
          float(system.params.lightBrightness *
                (1.0 - fw::SmoothStepIn<double>(float(theta), float(0.7 * half), float(half))));
      const double level =
          std::pow(cosTheta, double(system.params.lightGlisten)) * look.lightFactor * 255.0;
      look.lightLevel = Clamp(fw::TruncateToInt(level), 0, kMaxLightLevel);
    }
    // The light's colour is added to the bubble's before scaling.
    const float light[3] = {system.params.lightRed, system.params.lightGreen,
                            system.params.lightBlue};
    for (int n = 0; n < 3; ++n) {
      const int tinted = fw::TruncateToInt(double(light[n]) + look.color[n]);
      look.color[n] = fw::TruncateToInt(double(look.lightFactor) * tinted);
    }
    look.color[3] = fw::TruncateToInt(double(look.color[3]) * look.lightFactor);
  }
  for (int& c : look.color) c = Clamp(c, 0, 255);

  float lx = float(double(system.params.lightSourceX) - b.x);
  float ly = float(double(system.params.lightSourceY) - b.y);
  float lz = system.params.lightZ;
  const double length = std::sqrt(double(lx) * lx + double(ly) * ly + double(lz) * lz);
  if (length > 0.0001) {
    lx = float(lx / length);
    ly = float(ly / length);
    lz = float(lz / length);
  }
  look.lightVector[0] = lx;
  look.lightVector[1] = ly;
  look.lightVector[2] = lz;
  return look;
}

BlitShade ShadeOfFrame(const BubbleSystem& system) {
  BlitShade shade;
  shade.shine = system.params.shine;
  shade.shineHighlight = system.params.shineHighlight;
  shade.minBrightness = system.params.minBrightness;
  shade.reflectionIntensity = system.params.reflectionIntensity;
  const df::Image* reflection = system.reflectionImage;
  if (system.params.reflectionsEnabled && reflection && reflection->width > 0 &&
      reflection->height > 0) {
    shade.reflectionRows = reflection->rows;
    shade.reflectionWidth = reflection->width;
    shade.reflectionHeight = reflection->height;
  }
  shade.rowStep = RowStepForAspect(system.aspect);
  return shade;
}

void PrepareSprites(BubbleSystem& system, LiveView live) {
  const int type = system.params.bubbleType;
  if (system.width < 1 || type < 0 || type >= kBubbleTypes) return;
  bool needed[kSizeSteps] = {};
  auto need = [&](int index) {
    if (index >= 0 && index < kSizeSteps) needed[index] = true;
  };
  if (FactsHold(system, live)) {
    for (int i = 0; i < live.count; ++i) need(system.facts[i].sizeIndex);
  } else {
    ForEachLive(system, live, [&](const Bubble& b) { need(b.sizeIndex); });
  }
  for (int index = 0; index < kSizeSteps; ++index) {
    if (needed[index]) {
      CachedSprite(system.spriteCaches, type, index, system.width, system.params.radiusStep);
    }
  }
}

namespace {

BlitTarget TargetOfBand(const BubbleSystem& system, int firstRow, int endRow) {
  BlitTarget t;
  t.rows = system.outputImage->rows;
  t.width = std::min(system.width, system.outputImage->width);
  t.height = std::min(system.height, system.outputImage->height);
  t.firstRow = std::max(firstRow, 0);
  t.endRow = std::min(endRow, t.height);
  return t;
}

void DrawWith(const BubbleSystem& system, const Bubble& b, const BlitTarget& target,
              const BlitShade& shade) {
  const BubbleSprite* sprite =
      FindSprite(system.spriteCaches, system.params.bubbleType, b.sizeIndex, system.width);
  if (!sprite) return;
  const bool sprays = b.burst || b.gatherState == 2;
  if (!sprays) {
    // A disc whose square misses the band's rows or the image's columns
    // draws nothing: skip the light work.
    const int h = sprite->width / 2;
    const int px = CentreColumn(system, b), py = CentreRow(system, b);
    if (px + h < 0 || px - h >= target.width || py + h < target.firstRow ||
        py - h >= target.endRow) {
      return;
    }
  }
  const BubbleLook look = LookOfBubble(system, b);
  if (sprays) {
    BlitBurst(target, look, *sprite, shade, system.params.burstRadius, system.params.burstThreshold,
              BurstKeys{system.stepCount, b.serial});
  } else {
    BlitBubble(target, look, *sprite, shade);
  }
}

}  // namespace

void DrawBubble(const BubbleSystem& system, const Bubble& bubble, int firstRow, int endRow) {
  if (!system.outputImage) return;
  const BlitTarget target = TargetOfBand(system, firstRow, endRow);
  if (target.firstRow >= target.endRow) return;
  DrawWith(system, bubble, target, ShadeOfFrame(system));
}

void DrawPlannedBand(const BubbleSystem& system, const BandPlan& plan, int firstRow, int endRow) {
  if (!system.outputImage) return;
  const BlitTarget target = TargetOfBand(system, firstRow, endRow);
  if (target.firstRow >= target.endRow) return;
  const BlitShade shade = ShadeOfFrame(system);
  const size_t count = plan.count;
  const int32_t *tops = plan.tops, *bottoms = plan.bottoms;
  auto draw = [&](size_t i) {
    if (AbortRequested(system)) return false;
    DrawWith(system, *plan.bubbles[i], target, shade);
    return true;
  };
  // Every band looks at every planned bubble: four at a time, the ones
  // whose rows meet the band's picked out by comparison masks, in order.
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i last = _mm_set1_epi32(target.endRow - 1),
                before = _mm_set1_epi32(target.firstRow - 1);
  for (; i + 4 <= count; i += 4) {
    const __m128i top = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tops + i));
    const __m128i bottom = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottoms + i));
    const __m128i meets =
        _mm_andnot_si128(_mm_cmpgt_epi32(top, last), _mm_cmpgt_epi32(bottom, before));
    for (unsigned mask = unsigned(_mm_movemask_ps(_mm_castsi128_ps(meets))); mask != 0;
         mask &= mask - 1)
      if (!draw(i + size_t(std::countr_zero(mask)))) return;
  }
#endif
  for (; i < count; ++i)
    if (bottoms[i] >= target.firstRow && tops[i] < target.endRow && !draw(i)) return;
}

void DrawBand(const BubbleSystem& system, int firstRow, int endRow) {
  if (!system.outputImage) return;
  const BlitTarget target = TargetOfBand(system, firstRow, endRow);
  if (target.firstRow >= target.endRow) return;
  const BlitShade shade = ShadeOfFrame(system);
  for (const Bubble* b = system.liveList; b; b = b->next) {
    if (AbortRequested(system)) return;
    DrawWith(system, *b, target, shade);
  }
}

}  // namespace bubbles
