// Ownership of runtime images on the host side: one reference, released with
// Recycle when the holder goes away.
#pragma once

#include <dfsystem/parameter.h>

#include <memory>

namespace vorn {

struct ImageRelease {
  void operator()(df::Image* image) const {
    if (image != nullptr) image->Recycle();
  }
};
using ImageRef = std::unique_ptr<df::Image, ImageRelease>;

// A new image cleared to zero, or null when the memory cannot be had.
inline ImageRef NewImage(int width, int height, double aspect = 1.0) {
  return ImageRef(df::Image::Create(width, height, aspect));
}

}  // namespace vorn
