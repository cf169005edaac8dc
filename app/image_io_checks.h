// Checks that an image file can hold what its header claims, made before any
// pixel buffer of the claimed size exists: a file cut short, a data offset past
// its end, blocks of no bytes or a size no data could hold are refused here
// rather than read as black, junk or uninitialised memory.
#pragma once

#include <cstdint>
#include <string>

namespace vorn {

// What the image library's header says about the picture to be read.
struct ClaimedImage {
  std::string reader;  // the library's format name: "png", "openexr", "tiff", "dpx", ...
  int subimage = 0;    // part of a multi-part file
  long long width = 0, height = 0;
  int channels = 0;         // of the whole pixel as stored
  int bitsPerSample = 0;    // as stored (10 for 10-bit DPX)
  std::string compression;  // the library's "compression" attribute, lower case
  bool tiled = false;
};

// Bytes of stored data a file of this kind needs at least: exact for
// uncompressed data; for compressed data the raw size over the largest ratio
// its method can reach. 0 when nothing can be said.
unsigned long long LeastDataBytes(const ClaimedImage& claim);

// False with the reason when the file at `path` (of `fileSize` bytes) cannot
// hold the picture its header claims. Formats with block tables (EXR) or
// data offsets (DPX) are checked block by block.
bool FileHoldsClaim(const std::string& path, unsigned long long fileSize, const ClaimedImage& claim,
                    std::string* why);

}  // namespace vorn
