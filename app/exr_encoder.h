// Scanline EXR files, uncompressed or run-length coded, made here from the
// per-run sample tables rather than through the image library's writer,
// whose per-byte compression and frame-buffer copies dominate the cost of
// writing one. The header is the library's own: it writes a one-pixel file
// of the same layout, and the data and display windows are set for the real
// image. Then come the line-offset table and one chunk a scanline, in
// increasing Y: the line's y, its byte count and its data (each channel in
// the header's order, samples little-endian), run-length coded as the
// library codes it (bytes split into two halves, a delta predictor, runs
// and literals) and stored plain where coding does not make it smaller.
#pragma once

#include <OpenImageIO/imageio.h>

#include <cstddef>
#include <string>
#include <vector>

#include "file_buffer.h"
#include "image_ref.h"
#include "sample_tables.h"

namespace vorn {

struct ExrHeader {
  std::vector<unsigned char> bytes;  // up to the line-offset table, windows set
  bool rle = false;
  // Per channel in the file's order: its place in the interleaved samples
  // the tables give (R, G, B, A).
  std::vector<int> channels;
  size_t sampleSize = 0;  // 2 (half) or 4 (float)
  int originY = 0;        // the data window's first line
};

// The header the library writes for `layout` (scanline, compression "none"
// or "rle", half or float samples), sized for the image; false when the
// layout is not one encoded here (then the library's writer is to be used).
bool MakeExrHeader(const std::string& path, const OIIO::ImageSpec& layout, ExrHeader* header);

// The whole file: `header`, the line offsets and the chunks of `image`
// converted by `tables` (whose sample size is the header's).
void EncodeExr(const df::Image& image, const SampleTables& tables, const ExrHeader& header,
               FileBytes* bytes);

}  // namespace vorn
