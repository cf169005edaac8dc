// Blitting one bubble's sprite into a band of output rows: the intact bubble
// as a lit, anti-aliased disc (BlitBubble) and the bursting bubble as a spray
// of fragments thrown outward from its disc (BlitBurst). Integer blending on
// 8-bit channels with 256 as full opacity.
#pragma once

#include <cstdint>

#include "bubbles/bubble_sprite.h"

namespace bubbles {

// What the blits need of one bubble, worked out once per bubble and frame.
struct BubbleLook {
  int px = 0, py = 0;     // centre pixel
  int color[4] = {};      // red, green, blue, density, each 0..255
  float lightFactor = 0;  // ≥ 0
  int lightLevel = -1;    // −1 unlit, else 0 .. kMaxLightLevel
  float lightVector[3] = {};
};

// Light levels above this give the same picture (every product saturates),
// and the cap keeps the integer blend within 32 bits.
inline constexpr int kMaxLightLevel = 65536;

// The output band: rows [firstRow, endRow) of an image of width × height
// pixels, 4 bytes each (blue, green, red, alpha).
struct BlitTarget {
  uint8_t* const* rows = nullptr;
  int width = 0, height = 0;
  int firstRow = 0, endRow = 0;
};

// The frame's shading constants, shared by every bubble.
struct BlitShade {
  float shine = 1;           // power of the lit opacity
  float shineHighlight = 1;  // power of the highlight
  float minBrightness = 0;   // added to the lit opacity
  float reflectionIntensity = 0;
  // The reflection image, or null when reflections are off or it is absent.
  const uint8_t* const* reflectionRows = nullptr;
  int reflectionWidth = 0, reflectionHeight = 0;
  int rowStep = 1;  // sprite rows per output row, from the pixel aspect (≥ 1)
};

// Sprite rows per output row for a pixel aspect: trunc(aspect + 0.5), at
// least 1 (an aspect below 0.5 would repeat the first sprite row down the
// band), at most a bound beyond any sprite's height.
int RowStepForAspect(float aspect);

// The disc: every sprite pixel inside the image and the band is blended over
// the output, lit by the look's light, shaded by its normal and mirroring the
// reflection image.
void BlitBubble(const BlitTarget& target, const BubbleLook& look, const BubbleSprite& sprite,
                const BlitShade& shade);

// Keys of a bursting bubble's fragment draws: the simulation step and the
// bubble's birth serial; each sprite pixel adds its index.
struct BurstKeys {
  uint64_t step = 0;
  uint64_t serial = 0;
};

// The spray: every sprite pixel inside the image whose opacity (coverage ×
// density >> 8) is at least 11 throws a fragment when a signed draw exceeds
// `threshold`; it lands 1 to 2 times its distance from the centre times
// `radius` away, and is blended there when that pixel lies in the band.
// The pixels that throw and where they land depend only on the keys, so the
// picture is the same whatever the bands.
void BlitBurst(const BlitTarget& target, const BubbleLook& look, const BubbleSprite& sprite,
               const BlitShade& shade, float radius, float threshold, const BurstKeys& keys);

}  // namespace bubbles
