#include "array_images.h"

#include <OpenImageIO/imagebuf.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "colour_space.h"
#include "image_io.h"
#include "image_io_pixels.h"

namespace vorn::py {

namespace {

enum class Sample { U8, U16, F32 };

std::string Named(const std::string& caption) {
  return "input \"" + caption + "\": ";
}

// Copies the array's samples into float RGBA 0..1 (integers divided by
// their largest value, as the image library reads integer files); a missing
// alpha is 1. False at the first non-finite float, with its place.
template <typename T>
bool FillFloats(const T* src, long long height, long long width, int channels, float scale,
                float* dst, long long* badRow, long long* badColumn) {
  for (long long y = 0; y < height; ++y)
    for (long long x = 0; x < width; ++x, src += channels, dst += 4) {
      for (int c = 0; c < channels; ++c) dst[c] = float(src[c]) * scale;
      if (channels == 3) dst[3] = 1.0f;
      if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(dst[0]) || !std::isfinite(dst[1]) || !std::isfinite(dst[2]) ||
            !std::isfinite(dst[3])) {
          *badRow = y, *badColumn = x;
          return false;
        }
      }
    }
  return true;
}

}  // namespace

ImageRef ImageFromArray(const pyb::handle& object, const std::string& caption, float* brightest) {
  if (!pyb::isinstance<pyb::array>(object))
    throw pyb::type_error(Named(caption) + "expected a numpy array, got " +
                          std::string(pyb::str(object.get_type().attr("__name__"))));
  const pyb::array array = pyb::reinterpret_borrow<pyb::array>(object);
  if (array.ndim() != 3)
    throw pyb::value_error(Named(caption) + "expected an H x W x C array (C = 3 or 4), got " +
                           std::to_string(array.ndim()) + " dimension" +
                           (array.ndim() == 1 ? "" : "s"));
  const long long height = array.shape(0), width = array.shape(1);
  const int channels = int(array.shape(2));
  if (channels != 3 && channels != 4)
    throw pyb::value_error(Named(caption) + "expected 3 (RGB) or 4 (RGBA) channels, got " +
                           std::to_string(channels));
  if (height < 1 || width < 1)
    throw pyb::value_error(Named(caption) + "the image is empty (" + std::to_string(width) + " x " +
                           std::to_string(height) + ")");
  if (height > kMaxImageSide || width > kMaxImageSide || height * width > kMaxImagePixels)
    throw pyb::value_error(Named(caption) + std::to_string(width) + " x " + std::to_string(height) +
                           " is too large; at most " + std::to_string(kMaxImageSide) +
                           " a side and " + std::to_string(kMaxImagePixels) + " pixels");
  Sample sample;
  if (array.dtype().kind() == 'u' && array.itemsize() == 1)
    sample = Sample::U8;
  else if (array.dtype().kind() == 'u' && array.itemsize() == 2)
    sample = Sample::U16;
  else if (array.dtype().kind() == 'f' && array.itemsize() == 4)
    sample = Sample::F32;
  else
    throw pyb::type_error(Named(caption) + "dtype " + std::string(pyb::str(array.dtype())) +
                          " is not taken; give uint8, uint16 or float32");
  if (!(array.flags() & pyb::array::c_style))
    throw pyb::value_error(Named(caption) +
                           "the array is not C-contiguous; pass numpy.ascontiguousarray(a)");
  if (!array.dtype().attr("isnative").cast<bool>())
    throw pyb::value_error(Named(caption) + "the array is not in the machine's byte order");

  ImageRef image = NewImage(int(width), int(height));
  if (!image) throw std::bad_alloc();
  const void* data = array.data();
  const bool hasAlpha = channels == 4;
  std::string why;
  long long badRow = -1, badColumn = -1;
  float top = 0.0f;
  {
    pyb::gil_scoped_release release;
    if (sample == Sample::U8) {
      // sRGB bytes into the tools' sRGB bytes: no conversion changes them,
      // so they are copied (the float path gives the same bytes).
      const uint8_t* src = static_cast<const uint8_t*>(data);
      for (long long y = 0; y < height; ++y) {
        uint8_t* row = image->rows[y];
        for (long long x = 0; x < width; ++x, src += channels, row += 4) {
          row[0] = src[2], row[1] = src[1], row[2] = src[0];
          row[3] = hasAlpha ? src[3] : 255;
        }
      }
    } else {
      OIIO::ImageSpec layout(int(width), int(height), 4, OIIO::TypeDesc::FLOAT);
      layout.alpha_channel = 3;
      OIIO::ImageBuf rgba(layout);
      float* pixels = static_cast<float*>(rgba.localpixels());
      const bool finite = sample == Sample::U16
                              ? FillFloats(static_cast<const uint16_t*>(data), height, width,
                                           channels, 1.0f / 65535.0f, pixels, &badRow, &badColumn)
                              : FillFloats(static_cast<const float*>(data), height, width, channels,
                                           1.0f, pixels, &badRow, &badColumn);
      const std::string space = sample == Sample::F32 ? kLinearColourSpace : kToolColourSpace;
      if (finite && IntoToolEncoding(rgba, space, hasAlpha, false, &why)) {
        const float* s = pixels;
        for (long long y = 0; y < height; ++y) {
          uint8_t* row = image->rows[y];
          for (long long x = 0; x < width; ++x, s += 4, row += 4) {
            top = std::max({top, s[0], s[1], s[2], s[3]});
            row[0] = ToByte(s[2]), row[1] = ToByte(s[1]), row[2] = ToByte(s[0]),
            row[3] = ToByte(s[3]);
          }
        }
      } else if (finite) {
        badRow = -2;  // the conversion failed: `why`
      }
    }
  }
  if (badRow >= 0)
    throw pyb::value_error(Named(caption) + "NaN or infinity at row " + std::to_string(badRow) +
                           ", column " + std::to_string(badColumn) +
                           "; float images must hold finite values");
  if (badRow == -2) throw pyb::value_error(Named(caption) + why);
  if (brightest) *brightest = top;
  return image;
}

pyb::array ArrayFromImage(const df::Image& image, bool linear) {
  const pyb::ssize_t h = image.height, w = image.width;
  if (!linear) {
    pyb::array_t<uint8_t> out({h, w, pyb::ssize_t(4)});
    uint8_t* dst = out.mutable_data();
    pyb::gil_scoped_release release;
    for (int y = 0; y < image.height; ++y) {
      const uint8_t* src = image.rows[y];
      for (int x = 0; x < image.width; ++x, src += 4, dst += 4)
        dst[0] = src[2], dst[1] = src[1], dst[2] = src[0], dst[3] = src[3];
    }
    return out;
  }
  pyb::array_t<float> out({h, w, pyb::ssize_t(4)});
  float* dst = out.mutable_data();
  std::string why;
  bool ok = false;
  {
    pyb::gil_scoped_release release;
    // As a float file is written: the colour out of the tools' encoding with
    // alpha divided out around the conversion, kept premultiplied.
    OIIO::ImageBuf pixels = FloatPixels(image);
    ok = ConvertColours(pixels, kToolColourSpace, kLinearColourSpace, true, &why);
    if (ok) std::memcpy(dst, pixels.localpixels(), size_t(h) * size_t(w) * 4 * sizeof(float));
  }
  if (!ok) throw std::runtime_error("cannot convert the image to scene-linear: " + why);
  return out;
}

}  // namespace vorn::py
