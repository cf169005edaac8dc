// Straightforward scalar map pass: atan2, powf, cos and sin per pixel, as the
// warp is defined. Used to check the vectorised MapRows, never to render.
#pragma once

#include <atomic>

#include "bleb/warp_params.h"

namespace bleb {

void MapRowsReference(const WarpParams& p, float* mapX, float* mapY, int begin, int end,
                      const std::atomic<int>* abort = nullptr);

}  // namespace bleb
