// 8-bit PNG files encoded here rather than by the image library: rows are
// filtered as libpng filters them by default (per row, the filter whose
// residues have the smallest sum of magnitudes) and deflated as one buffer by
// libdeflate, several times faster than zlib at the same size. The chunks
// other than the image data (colour space, text, pixel aspect) are taken from
// a file the image library wrote for the same header, so they stay as the
// library writes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorn {

// The chunks of a PNG file around its image data, each whole (length, type,
// data, CRC): those between IHDR and the first IDAT, and those after the last
// IDAT but IEND.
struct PngChunks {
  std::vector<uint8_t> before, after;
};
// False when `png` is not a well-formed PNG file.
bool SplitPngChunks(const uint8_t* png, size_t size, PngChunks* out);

// Builds an 8-bit RGB or RGBA PNG file, a band of rows at a time. Its work
// buffer belongs to the thread: one encoder per thread at a time.
class PngEncoder {
 public:
  // `level` is a zlib level 0-9 (0: stored).
  PngEncoder(int width, int height, int channels, int level);

  // Adds the next `rows` rows of samples (width × channels bytes each).
  void AddRows(const uint8_t* samples, int rows);
  // The file: signature, IHDR, `chunks.before`, the image data,
  // `chunks.after` and IEND. False when deflate failed or rows are missing.
  bool Finish(const PngChunks& chunks, std::vector<uint8_t>* file, std::string* error);

 private:
  int width_, height_, channels_, level_;
  size_t stride_;
  int rowsDone_ = 0;
  // Filter byte and residues of each row; the writer thread's buffer, kept
  // from frame to frame so that its pages stay mapped.
  std::vector<uint8_t>& filtered_;
  std::vector<uint8_t> previous_;  // the last row added, unfiltered
};

}  // namespace vorn
