// Decoding of the uncompressed Windows bitmap files that tools carry as tile
// pictures. The bytes come from a plug-in, so every header field is checked
// against the buffer before a pixel is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorn {

struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bgra;  // top row first, 4 bytes per pixel
};

// Accepts 24- and 32-bit pixels, bottom-up or top-down rows, compression
// none or bit fields with the standard masks. A 32-bit picture whose alpha
// bytes are all 0 is taken as opaque (its fourth byte is unused padding).
bool DecodeBmp(const uint8_t* data, size_t size, Bitmap* out, std::string* error);

}  // namespace vorn
