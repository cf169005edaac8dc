// Frames for the page as PNG: the browser decodes them natively, off its main
// thread, from a body a tenth to a thirtieth the size of the raw pixels.
#pragma once

#include <cstdint>
#include <string>

namespace vorn::serve {

// Encodes 8-bit RGBA rows (width * 4 bytes each, top row first) as a PNG
// with no colour chunks, so the bytes are shown as they are. Tuned for speed
// over size: zlib level 1 and the "up" filter on every row. False (and
// `out` empty) if libpng fails or memory runs out.
bool EncodePngRgba(const uint8_t* rgba, int width, int height, std::string* out);

}  // namespace vorn::serve
