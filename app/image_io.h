// Image files to and from the runtime's 8-bit BGRA images. Any format the
// image library reads is accepted (PNG, EXR, TIFF, DPX, JPEG among them); PNG,
// EXR and TIFF are written.
//
// Values are carried over unchanged, with no colour transform: an 8-bit
// channel value v is v / 255 in a floating-point file, and floating-point or
// 16-bit values are rounded to the nearest step of 1/255 and clamped to 0..1
// on reading (NaN reads as 0). Alpha is kept unassociated, so the four bytes
// of every pixel survive a round trip through PNG, TIFF or EXR exactly.
#pragma once

#include <optional>
#include <string>

#include "image_ref.h"

namespace vorn {

enum class ImageFormat { Png, Exr, Tiff };

// The format written for a file name, chosen by its extension.
std::optional<ImageFormat> OutputFormatFor(const std::string& path);
// "PNG (.png), EXR (.exr) or TIFF (.tif, .tiff)", for messages.
const char* OutputFormatsText();

// Largest image read or made: each side and the pixel count.
inline constexpr int kMaxImageSide = 65536;
inline constexpr long long kMaxImagePixels = 1LL << 28;

struct ImageInfo {
  int width = 0;
  int height = 0;
  double aspect = 1.0;  // pixel height ÷ pixel width, as the runtime's Image holds it
};

// Opens a file and reads its header; false with the reason when the file
// cannot be read as an image or its size is not usable.
bool ReadImageInfo(const std::string& path, ImageInfo* info, std::string* error);

// Reads the first image of a file as BGRA. The picture is the file's display
// window; missing channels are filled (grey → R = G = B, no alpha → 255).
ImageRef ReadImage(const std::string& path, std::string* error);

// Lossless compression of a written file: PNG takes a zlib level 0-9
// (default 6); EXR none, rle, zips, zip (default) or piz; TIFF none, lzw or
// zip (default). Empty: the default.
struct Compression {
  std::string method;  // EXR and TIFF
  int level = -1;      // PNG; -1 for the default
};
// Reads "--compression" text for a format; false with what the format takes.
bool ParseCompression(ImageFormat format, const std::string& text, Compression* out,
                      std::string* error);

// Writes an image atomically (temporary file in the same folder, then rename).
// PNG and TIFF: 8 bits per channel; EXR: half floats. RGBA channels.
bool WriteImage(const df::Image& image, const std::string& path, ImageFormat format,
                std::string* error, const Compression& compression = {});

}  // namespace vorn
