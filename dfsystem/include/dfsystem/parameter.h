// Values that travel between host and tool: numbers, points and images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "dfsystem/fourcc.h"
#include "dfsystem/object.h"

namespace df {

class Parameter : public Object {
 public:
  uint32_t Type() const { return type_; }

 protected:
  explicit Parameter(uint32_t type) : type_(type) {}

 private:
  uint32_t type_;
};

// A scalar: slider, scroll, button, check box (0/1), combo (item index).
class Number : public Parameter {
 public:
  explicit Number(double v = 0.0) : Parameter(kTypeNumber), value(v) {}
  double value;
};

// A position as fractions of the image: x of the width, y of the height from the top.
class Point : public Parameter {
 public:
  Point(float px = 0.0f, float py = 0.0f) : Parameter(kTypePoint), x(px), y(py) {}
  float x;
  float y;
};

// Gives an image's pixel buffer back to the runtime, which keeps a few
// large ones for the next image of the same size (a frame's image is made
// and released every frame).
struct PixelRelease {
  size_t bytes = 0;
  void operator()(uint8_t* data) const;
};

// An 8-bit image, 4 bytes per pixel in memory order blue, green, red, alpha;
// row 0 is the top row. `aspect`: row × aspect ÷ width is the vertical
// coordinate in units of column ÷ width.
class Image : public Parameter {
 public:
  // Largest width or height: 65536 × 65536 pixels are 16 GiB, more than any
  // frame a compositor renders, and keeps every byte offset well within size_t.
  static constexpr int kMaxImageSide = 65536;

  // What a new image's pixels hold: zeros, or whatever the memory held (an
  // earlier image's pixels, maybe: the caller then writes every pixel before
  // the image leaves its hands; a tool whose passes write every row spares
  // the frame a clear).
  enum class Contents { kCleared, kUnwritten };

  // A new image, or null when a side is negative or above kMaxImageSide, or
  // the memory cannot be had. 0 × 0 is a valid (empty) image.
  static Image* Create(int width, int height, double aspect = 1.0,
                       Contents contents = Contents::kCleared);

  uint8_t** rows = nullptr;
  int width = 0;
  int height = 0;
  double aspect = 1.0;

  uint8_t* Pixel(int x, int y) { return rows[y] + size_t(x) * 4; }
  const uint8_t* Pixel(int x, int y) const { return rows[y] + size_t(x) * 4; }
  size_t ByteCount() const { return size_t(width) * size_t(height) * 4; }
  uint8_t* Data() { return data_.get(); }
  const uint8_t* Data() const { return data_.get(); }

 private:
  Image() : Parameter(kTypeImage) {}
  std::unique_ptr<uint8_t[], PixelRelease> data_;
  std::unique_ptr<uint8_t*[]> rowTable_;
};

// A new image of the same size and aspect as `like`, cleared unless asked
// otherwise; null on failure.
Image* NewImage(const Image* like, Image::Contents contents = Image::Contents::kCleared);

// Releases a parameter with Recycle when it leaves scope.
class AutoParameter {
 public:
  explicit AutoParameter(Parameter* p = nullptr) : p_(p) {}
  ~AutoParameter() { Reset(); }
  AutoParameter(const AutoParameter&) = delete;
  AutoParameter& operator=(const AutoParameter&) = delete;
  Parameter* Get() const { return p_; }
  Parameter* operator->() const { return p_; }
  operator Parameter*() const { return p_; }
  void Reset(Parameter* p = nullptr) {
    if (p_) p_->Recycle();
    p_ = p;
  }

 private:
  Parameter* p_;
};

// A new Number with a value, released when it leaves scope.
class AutoNumber {
 public:
  explicit AutoNumber(double value);
  ~AutoNumber();
  AutoNumber(const AutoNumber&) = delete;
  AutoNumber& operator=(const AutoNumber&) = delete;
  Number* Get() const { return n_; }
  operator Parameter*() const { return n_; }

 private:
  Number* n_;
};

}  // namespace df
