#include "bubbles/bubble_render.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "framework/noise.h"
#include "framework/values.h"

namespace bubbles {

namespace {

inline int Clamp(int v, int lo, int hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

int CentrePixel(int extent, float position) {
  return Clamp(fw::TruncateToInt(float(extent) * position + 0.5f), -kFarPixel, kFarPixel);
}

// A two- or three-component vector divided by its length when that exceeds
// 0.0001.
void Normalise2(float& x, float& y) {
  const float length = std::sqrt(x * x + y * y);
  if (length > 0.0001f) {
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

  // Fade with the age from before this frame's burst test.
  const float maxAge = float(b.maxAge);
  const float rem = float(int64_t(b.maxAge) - b.preTestAge);
  const float base[4] = {b.red, b.green, b.blue, b.density};
  for (int n = 0; n < 4; ++n) {
    const bool fades = n < 3 ? system.fadeMode != 2 : system.fadeMode != 1;
    look.color[n] = fw::TruncateToInt(fades ? base[n] * rem / maxAge : base[n]);
  }

  if (!(system.lightBrightness > 0.0f)) {
    look.lightLevel = -1;
    look.lightFactor = 0.0f;
  } else {
    float dx = system.lightTargetX - system.lightSourceX;
    float dy = system.lightTargetY - system.lightSourceY;
    Normalise2(dx, dy);
    float qx = b.x - system.lightSourceX;
    float qy = b.y - system.lightSourceY;
    Normalise2(qx, qy);
    float cosTheta = qx * dx + qy * dy;
    if (!(cosTheta > 0.0f)) {
      look.lightFactor = 0.0f;
      look.lightLevel = 0;
    } else {
      cosTheta = std::min(cosTheta, 0.99999f);
      const float theta = std::acos(cosTheta);
      const float half =
          std::max(float(double(system.lightSpread) * 0.008726646261111111), 0.00001f);
      look.lightFactor = system.lightBrightness * (1.0f - fw::SmoothStep(theta, 0.7f * half, half));
      const float level = std::pow(cosTheta, system.lightGlisten) * look.lightFactor * 255.0f;
      look.lightLevel = Clamp(fw::TruncateToInt(level), 0, kMaxLightLevel);
    }
    // The light's colour is added to the bubble's before scaling.
    const float light[3] = {system.lightRed, system.lightGreen, system.lightBlue};
    for (int n = 0; n < 3; ++n) {
      const int tinted = fw::TruncateToInt(light[n] + float(look.color[n]));
      look.color[n] = fw::TruncateToInt(look.lightFactor * float(tinted));
    }
    look.color[3] = fw::TruncateToInt(float(look.color[3]) * look.lightFactor);
  }
  for (int& c : look.color) c = Clamp(c, 0, 255);

  float lx = system.lightSourceX - b.x, ly = system.lightSourceY - b.y, lz = system.lightZ;
  const float length = std::sqrt(lx * lx + ly * ly + lz * lz);
  if (length > 0.0001f) {
    lx /= length;
    ly /= length;
    lz /= length;
  }
  look.lightVector[0] = lx;
  look.lightVector[1] = ly;
  look.lightVector[2] = lz;
  return look;
}

BlitShade ShadeOfFrame(const BubbleSystem& system) {
  BlitShade shade;
  shade.shine = system.shine;
  shade.shineHighlight = system.shineHighlight;
  shade.minBrightness = system.minBrightness;
  shade.reflectionIntensity = system.reflectionIntensity;
  const df::Image* reflection = system.reflectionImage;
  if (system.reflectionsEnabled && reflection && reflection->width > 0 && reflection->height > 0) {
    shade.reflectionRows = reflection->rows;
    shade.reflectionWidth = reflection->width;
    shade.reflectionHeight = reflection->height;
  }
  shade.rowStep = RowStepForAspect(system.aspect);
  return shade;
}

void PrepareSprites(BubbleSystem& system) {
  const int type = system.bubbleType;
  if (system.width < 1 || type < 0 || type >= kBubbleTypes) return;
  bool needed[kSizeSteps] = {};
  for (const Bubble* b = system.liveList; b; b = b->next) {
    if (b->sizeIndex >= 0 && b->sizeIndex < kSizeSteps) needed[b->sizeIndex] = true;
  }
  for (int index = 0; index < kSizeSteps; ++index) {
    if (needed[index]) {
      CachedSprite(system.spriteCaches, type, index, system.width, system.radiusStep);
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
      FindSprite(system.spriteCaches, system.bubbleType, b.sizeIndex, system.width);
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
    BlitBurst(target, look, *sprite, shade, system.burstRadius, system.burstThreshold,
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

void DrawBand(BubbleSystem& system, int firstRow, int endRow) {
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
