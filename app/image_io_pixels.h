// The pixel steps of reading and writing image files, for hosts that hold
// pictures in memory in a file's layout: the same conversions into and out
// of the tools' 8-bit encoding as a file of that kind gets.
#pragma once

#include <OpenImageIO/imagebuf.h>
#include <dfsystem/parameter.h>

#include <cstdint>
#include <string>

namespace vorn {

// A value 0..1 as a byte of the tools' images: rounded to the nearest step,
// clipped, NaN as 0.
uint8_t ToByte(float v);

// Brings float RGBA values (channel 3 alpha) as a file of colour space
// `space` holds them into the tools' encoding, premultiplied, in place:
// NaN and infinities become 0, the colour is converted (alpha divided out
// around the conversion when `premultiplied`), then straight alpha is
// multiplied in when `straight`. False with the reason.
bool IntoToolEncoding(OIIO::ImageBuf& rgba, const std::string& space, bool premultiplied,
                      bool straight, std::string* error);

// The image's values as floats 0..1 in RGBA order, premultiplied as held:
// what a file's colour conversion starts from.
OIIO::ImageBuf FloatPixels(const df::Image& image);

}  // namespace vorn
