#include "dfsystem/parameter.h"

#include <cstring>
#include <new>

namespace df {

Image* Image::Create(int width, int height, double aspect) {
  if (width < 0 || height < 0 || width > kMaxImageSide || height > kMaxImageSide) return nullptr;
  const size_t w = size_t(width), h = size_t(height);
  Image* image = new (std::nothrow) Image();
  if (!image) return nullptr;
  image->width = width;
  image->height = height;
  image->aspect = aspect;
  const size_t bytes = w * h * 4;
  if (bytes > 0) {
    image->data_.reset(new (std::nothrow) uint8_t[bytes]);
    if (!image->data_) {
      delete image;
      return nullptr;
    }
    std::memset(image->data_.get(), 0, bytes);
  }
  if (h > 0) {
    image->rowTable_.reset(new (std::nothrow) uint8_t*[h]);
    if (!image->rowTable_) {
      delete image;
      return nullptr;
    }
    for (size_t y = 0; y < h; ++y)
      image->rowTable_[y] = image->data_ ? image->data_.get() + y * w * 4 : nullptr;
    image->rows = image->rowTable_.get();
  }
  return image;
}

Image* NewImage(const Image* like) {
  if (!like) return nullptr;
  return Image::Create(like->width, like->height, like->aspect);
}

AutoNumber::AutoNumber(double value) : n_(new (std::nothrow) Number(value)) {}

AutoNumber::~AutoNumber() {
  if (n_) n_->Recycle();
}

}  // namespace df
