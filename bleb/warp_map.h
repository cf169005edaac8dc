// Pass 1 of the warp: the source coordinates of every pixel position.
#pragma once

#include <atomic>
#include <cstddef>

#include "bleb/warp_params.h"
#include "framework/large_buffer.h"

namespace bleb {

// Source coordinates, row by row: x(i * width + j), y(i * width + j).
class WarpMap {
 public:
  // Keeps the present buffers when they have this size. False, holding
  // nothing, when the memory cannot be had.
  bool Allocate(int width, int height);
  void Release();

  int width() const { return width_; }
  int height() const { return height_; }
  float* x() { return x_.get(); }
  float* y() { return y_.get(); }
  const float* x() const { return x_.get(); }
  const float* y() const { return y_.get(); }

 private:
  int width_ = 0;
  int height_ = 0;
  fw::LargeBuffer<float> x_;
  fw::LargeBuffer<float> y_;
};

// Computes map rows [begin, end) (clamped to the image). Polls abort before
// each row and returns at once when it is non-zero. The lobe powers and the
// angle are evaluated with vector approximations; see MapRowsReference for
// the plain formulation, which this follows within a small fraction of a
// pixel.
void MapRows(const WarpParams& p, float* mapX, float* mapY, int begin, int end,
             const std::atomic<int>* abort = nullptr);

}  // namespace bleb
