// Bubble sprites: a supersampled picture of an anti-aliased disc with a rim
// and surface normals, made once per bubble type, size step and image width
// and blitted for every bubble of that size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace bubbles {

inline constexpr int kBubbleTypes = 4;
inline constexpr int kSizeSteps = 81;

struct BubbleSprite {
  // Equal and odd.
  int width = 0;
  int height = 0;
  // width × height, row-major. Coverage 0..255, 0 outside the disc; the
  // normal's x and y in (−1, 1), 0 where no sample lay strictly inside.
  std::unique_ptr<int32_t[]> coverage;
  std::unique_ptr<float[]> normalX;
  std::unique_ptr<float[]> normalY;
  // The normal's z, sqrt(max(0, 1 − x² − y²)), kept so the blit need not
  // work it out for every pixel of every bubble.
  std::unique_ptr<float[]> normalZ;
  // Per row, the columns [spanBegin, spanEnd) outside which coverage is 0
  // (an empty row has an empty span).
  std::unique_ptr<int32_t[]> spanBegin;
  std::unique_ptr<int32_t[]> spanEnd;
  // The image width the sprite was made for; 0 until the cache stamps it.
  int stampWidth = 0;
};

// Largest radius a sprite is made for: a disc as wide as the largest image.
inline constexpr float kMaxSpriteRadius = 65536.0f;

// The disc of `radius` pixels (below 0.01 counts as 0.01) for an image
// `imageWidth` pixels wide, whose width sets the rim's thickness. Null when
// memory runs out, the width is below 1 or the radius is not a finite value up
// to kMaxSpriteRadius.
BubbleSprite* MakeSprite(float radius, int imageWidth);
void ReleaseSprite(BubbleSprite* sprite);

// The side in pixels of the sprite MakeSprite makes for these, 0 where it
// makes none whatever the memory.
int SpriteSide(float radius, int imageWidth);

// The radius in pixels of cache entry `index` for a bubble type: "Shrinking"
// (1) runs from width / 18 + 0.5 at index 0 down by radiusStep per index; the
// other types up from 0.5 by radiusStep per index.
float SpriteRadius(int bubbleType, int index, int width, float radiusStep);

// The cache entry of a type and size step for an image width: a valid entry
// is returned as it is; an empty or stale one (made for another width) is
// made again, stamped and stored, releasing the stale sprite. Null for a type
// or index out of range, or when the sprite cannot be made (the entry then
// stays empty and the next lookup tries again). Not thread-safe: run it on
// one thread before readers use the entry.
BubbleSprite* CachedSprite(BubbleSprite* (&caches)[kBubbleTypes][kSizeSteps], int bubbleType,
                           int index, int width, float radiusStep);

// The valid entry, or null when it is empty, stale or out of range. Only
// reads: safe on any number of threads while no one makes entries.
const BubbleSprite* FindSprite(BubbleSprite* const (&caches)[kBubbleTypes][kSizeSteps],
                               int bubbleType, int index, int width);

namespace detail {
// Largest table of sample weights MakeSprite keeps for one sprite (32 MiB);
// larger discs (sprites over about 2000 pixels wide) work the weights out
// row by row. A smaller limit, for tests, takes that path sooner.
inline constexpr std::size_t kMaxWeightTable = std::size_t(1) << 24;
BubbleSprite* MakeSprite(float radius, int imageWidth, std::size_t maxWeightTable);
}  // namespace detail

}  // namespace bubbles
