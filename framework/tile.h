// The tile picture each tool library carries as resource 101: a 116 × 87,
// 32-bit, uncompressed bitmap file, embedded at build time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/host.h"

namespace fw {

inline constexpr int kTileBitmapId = 101;

extern const uint8_t kTileBitmap[];
extern const size_t kTileBitmapSize;

inline df::Resource TileResource() {
  return {kTileBitmapId, kTileBitmap, kTileBitmapSize};
}

}  // namespace fw
