#include "bmp.h"

#include <cstring>

namespace vorn {
namespace {

uint32_t U32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t U16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}

constexpr size_t kFileHeader = 14;
constexpr int kMaxSide = 1 << 15;

}  // namespace

bool DecodeBmp(const uint8_t* data, size_t size, Bitmap* out, std::string* error) {
  if (data == nullptr || size < kFileHeader + 40 || data[0] != 'B' || data[1] != 'M') {
    *error = "not a bitmap file (no \"BM\" header)";
    return false;
  }
  const uint32_t pixelOffset = U32(data + 10);
  const uint8_t* info = data + kFileHeader;
  const uint32_t infoSize = U32(info);
  if (infoSize < 40 || kFileHeader + size_t(infoSize) > size) {
    *error = "bitmap info header of " + std::to_string(infoSize) + " bytes does not fit";
    return false;
  }
  const int32_t width = int32_t(U32(info + 4));
  const int32_t rawHeight = int32_t(U32(info + 8));
  const uint16_t bits = U16(info + 14);
  const uint32_t compression = U32(info + 16);
  if (width <= 0 || width > kMaxSide || rawHeight == 0 || rawHeight == INT32_MIN ||
      (rawHeight < 0 ? -rawHeight : rawHeight) > kMaxSide) {
    *error = "bitmap size " + std::to_string(width) + " x " + std::to_string(rawHeight) +
             " is not usable";
    return false;
  }
  if (bits != 24 && bits != 32) {
    *error = "bitmap has " + std::to_string(bits) + " bits per pixel; 24 or 32 are read";
    return false;
  }
  if (compression == 3) {
    // Bit fields: only the usual byte-aligned masks blue, green, red.
    if (bits != 32 || kFileHeader + 40 + 12 > size || U32(info + 40) != 0x00FF0000 ||
        U32(info + 44) != 0x0000FF00 || U32(info + 48) != 0x000000FF) {
      *error = "bitmap uses bit-field masks other than 8-bit blue, green, red";
      return false;
    }
  } else if (compression != 0) {
    *error = "bitmap is compressed (method " + std::to_string(compression) +
             "); only "
             "uncompressed pictures are read";
    return false;
  }
  const bool bottomUp = rawHeight > 0;
  const int height = bottomUp ? rawHeight : -rawHeight;
  const size_t bytesPerPixel = bits / 8;
  const size_t stride = (size_t(width) * bytesPerPixel + 3) / 4 * 4;
  if (pixelOffset > size || size - pixelOffset < stride * size_t(height)) {
    *error = "bitmap pixel data (" + std::to_string(stride * size_t(height)) + " bytes at offset " +
             std::to_string(pixelOffset) + ") runs past the end of its " + std::to_string(size) +
             " bytes";
    return false;
  }
  out->width = width;
  out->height = height;
  out->bgra.assign(size_t(width) * size_t(height) * 4, 0);
  bool anyAlpha = false;
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = data + pixelOffset + stride * size_t(bottomUp ? height - 1 - y : y);
    uint8_t* dst = out->bgra.data() + size_t(y) * size_t(width) * 4;
    for (int x = 0; x < width; ++x, src += bytesPerPixel, dst += 4) {
      std::memcpy(dst, src, 3);
      dst[3] = bytesPerPixel == 4 ? src[3] : 255;
      anyAlpha = anyAlpha || dst[3] != 0;
    }
  }
  if (!anyAlpha)
    for (size_t i = 3; i < out->bgra.size(); i += 4) out->bgra[i] = 255;
  return true;
}

}  // namespace vorn
