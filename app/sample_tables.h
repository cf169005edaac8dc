// A written file's samples as a function of the tools' bytes.
//
// The tools' frames are 8-bit premultiplied sRGB, so each sample of a
// written file depends only on its channel's byte and the pixel's alpha byte,
// as long as the colour conversion treats each channel alone. The tables
// here hold that function for all 65,536 pairs, worked out once per run by
// sending every pair through the float path (bytes to 0..1, the library's
// colour conversion with alpha divided out, straight alpha where the format
// wants it, then the library's conversion to the file's sample type). A frame
// is then converted by look-up, band by band, with the same samples as the
// float path gives.
#pragma once

#include <OpenImageIO/typedesc.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image_ref.h"

namespace vorn {

class SampleTables {
 public:
  // `type` is UINT8, UINT16, HALF or FLOAT; `space` the file's colour space.
  // ok() is false when the conversion mixes channels (a look that makes red
  // of green, say) or fails: such files take the float path.
  SampleTables(OIIO::TypeDesc type, const std::string& space, bool straight);

  bool ok() const { return ok_; }
  size_t SampleSize() const { return size_; }
  // The raw bits of the file's sample for `channel` (0-2 colour, 3 alpha)
  // of a pixel with that channel's byte and alpha byte.
  uint32_t Bits(int channel, int alpha, int byte) const;

  // Writes rows [y0, y1) of `image` as interleaved RGB or RGBA samples of the
  // file's type (native byte order) to `out`, which holds
  // (y1 - y0) × width × channels samples.
  void Convert(const df::Image& image, int y0, int y1, bool keepAlpha, void* out) const;

 private:
  template <class T, int N>
  void ConvertAs(const df::Image& image, int y0, int y1, uint8_t* out) const;
  // 64-bit words holding one file pixel of RGB or RGBA samples.
  int WordsPerPixel() const { return size_ == 4 ? 2 : 1; }
  void MakePixelWords();

  size_t size_ = 1;
  // Per channel (R, G, B), indexed by alpha × 256 + byte; one table serves
  // all three when they agree. Samples are held as their raw bits.
  std::vector<uint8_t> colour_[3];
  std::vector<uint8_t> alpha_;  // by alpha byte
  // For opaque pixels, per channel (R, G, B) and byte: the file pixel's
  // words with that channel's sample in place and the others zero; alpha's
  // words apart.
  std::vector<uint64_t> opaque_;
  uint64_t opaqueAlpha_[2] = {};
  // The file pixel of an empty pixel (every byte zero).
  uint64_t emptyRgb_[2] = {}, emptyRgba_[2] = {};
  bool shared_ = false;
  bool ok_ = false;
};

// The run's tables for a file type, colour space and alpha convention: made
// on first use and kept. Null where the float path must be taken.
const SampleTables* TablesFor(OIIO::TypeDesc type, const std::string& space, bool straight);

}  // namespace vorn
