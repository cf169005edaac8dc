// Image files to and from the runtime's 8-bit BGRA images. Any format the
// image library reads is accepted (PNG, EXR, TIFF, DPX, JPEG among them); PNG,
// EXR, TIFF, DPX and JPEG are written.
//
// The tools' images hold display-referred values in the sRGB encoding with
// premultiplied alpha. Reading converts into that and writing out of it, per
// the file's kind, through the image library (ImageBuf and ImageBufAlgo):
// - integer files (8, 10 or 16 bits) hold sRGB values; PNG keeps alpha
//   straight (premultiplied on reading, divided out on writing), TIFF
//   premultiplied;
// - floating-point files (half, float) hold scene-linear, premultiplied
//   values: the colour is divided by alpha, converted, and multiplied again;
// - JPEG and DPX have no alpha: they get the premultiplied colour, which is
//   the image over black.
// A colour space named by the user replaces the file's default. Values are
// rounded to the nearest 8-bit step; those above 1 are clipped (reported by
// ReadImage), NaN and infinities read as 0. A fully opaque 8-bit image keeps
// its bytes through PNG and TIFF.
#pragma once

#include <optional>
#include <string>

#include "image_formats.h"
#include "image_ref.h"

namespace vorn {

// Reads "--bit-depth" text (8, 10, 16, half, float) for a format; false with
// what the format takes.
bool ParseBitDepth(ImageFormat format, const std::string& text, BitDepth* out, std::string* error);

// Largest image read or made: each side and the pixel count. The environment
// variable VORN_MAX_INPUT_PIXELS may lower the pixel count for inputs.
inline constexpr int kMaxImageSide = 65536;
inline constexpr long long kMaxImagePixels = 1LL << 28;

// What a file says about the picture beyond its pixels, carried from an
// input to the outputs.
struct ImageMetadata {
  std::string copyright;
  int frameRateNum = 0, frameRateDen = 0;  // frames per second; 0/0: not given
  int displayX = 0, displayY = 0;          // origin of the display window
};

struct ImageInfo {
  int width = 0;
  int height = 0;
  double aspect = 1.0;  // pixel height ÷ pixel width, as the runtime's Image holds it
  ImageMetadata metadata;
};

struct ReadOptions {
  std::string colourSpace;  // of the file's values; empty: by the file's sample type
  std::string layer;        // layer of a multi-layer file; empty: its plain channels
};

// Opens a file and reads its header; false with the reason when the file
// cannot be read as an image, its size is not usable, the file cannot hold
// the data its header claims (see image_io_checks.h) or the layer is not
// there.
bool ReadImageInfo(const std::string& path, ImageInfo* info, std::string* error,
                   const ReadOptions& options = {});

// Reads the first image of a file (or the layer asked for) as BGRA. The
// picture is the file's display window; missing channels are filled (grey →
// R = G = B, no alpha → opaque). `brightest`, when given, receives the
// largest value found before clipping to 1 (above 1: values were clipped);
// `metadata` what the file says.
ImageRef ReadImage(const std::string& path, std::string* error, const ReadOptions& options = {},
                   float* brightest = nullptr, ImageMetadata* metadata = nullptr);

// Compression of a written file: PNG takes a zlib level 0-9 (default 6);
// EXR none, rle, zips, zip (default), piz or the lossy dwaa; TIFF none, lzw
// or zip (default). JPEG takes a quality 1-100 (default 95); DPX is not
// compressed. Empty: the default.
struct Compression {
  std::string method;  // EXR and TIFF
  int level = -1;      // PNG level, JPEG quality; -1 for the default
};
// Reads "--compression" text for a format; false with what the format takes.
bool ParseCompression(ImageFormat format, const std::string& text, Compression* out,
                      std::string* error);

struct WriteOptions {
  Compression compression;
  BitDepth depth = BitDepth::Default;
  std::string colourSpace;  // of the file's values; empty: by the sample type
  ImageMetadata metadata;   // carried from the main input
  // Through floats even where the 8-bit byte path gives the same bytes
  // (for tests comparing the two).
  bool floatPath = false;
};

// Additive light: premultiplied colour above alpha (light added with little
// coverage, which an "over" adds to the plate). Formats with premultiplied
// alpha (TIFF, EXR) or none (DPX, JPEG: the image over black) keep it; a
// straight-alpha PNG cannot hold it and clips the colour to alpha.
bool HasAdditiveLight(const df::Image& image);
bool KeepsAdditiveLight(ImageFormat format);

// Sizes the pool of threads the EXR writer compresses a file's blocks of
// rows on; a run gives it as many as it has writer threads.
void SetExrThreads(int threads);

// Builds what writing files of `format` with `options` needs once per run
// (the conversion tables), so a sequence's first file need not wait for it.
void PrepareWriting(ImageFormat format, const WriteOptions& options);

// Writes an image atomically (temporary file in the same folder, then
// rename), tagged with its colour space and "Software" naming vorn.
bool WriteImage(const df::Image& image, const std::string& path, ImageFormat format,
                std::string* error, const WriteOptions& options = {});

}  // namespace vorn
