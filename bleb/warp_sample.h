// Pass 2 of the warp: every output pixel averaged over the area its map
// neighbourhood covers, plus the copies that complete the borders.
#pragma once

#include <atomic>
#include <cstdint>

#include "bleb/area_sample.h"

namespace bleb {

// True when the image is large enough to warp (at least 3 x 2 pixels);
// smaller images are delivered as a copy of the input.
bool CanWarp(int width, int height);

// Copies the whole input to the output (rows of width * 4 bytes).
void CopyImage(const std::uint8_t* const* src, std::uint8_t* const* dst, int width, int height);

// Samples output rows [begin, end), never the bottom row, from a complete
// map (row i reads map row i + 1). After each row the right and then the
// left column copy their inner neighbour. Polls abort before each row.
void SampleRows(const SampleSource& src, const float* mapX, const float* mapY, int fillMode,
                std::uint8_t* const* dst, int begin, int end,
                const std::atomic<int>* abort = nullptr);

// True when some pixel of output row i (0 <= i < height - 1) may average
// over an area above 1, and so read the integral tables. Needs map rows i
// and i + 1. Conservative: a false answer guarantees that sampling the row
// never leaves the bilinear regime.
bool RowNeedsTables(const float* mapX, const float* mapY, int width, int height, int i,
                    int fillMode);

// The bottom row becomes a copy of the row above it. Run once, after every
// chunk of the sampling pass has finished.
void CopyBottomRow(std::uint8_t* const* dst, int width, int height);

}  // namespace bleb
