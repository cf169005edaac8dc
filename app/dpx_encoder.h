// 10-bit DPX files packed here from the per-run sample tables rather than
// through the image library's writer, whose packing dominates the cost of
// writing one. The header is the library's own: it writes a one-pixel file
// of the same layout, and the size fields are set for the real image. The
// samples are packed as the library packs them: three 10-bit samples to a
// 32-bit word (R in the top bits, two padding bits at the bottom), each the
// top ten bits of the 16-bit sample, words in the header's byte order.
#pragma once

#include <OpenImageIO/imageio.h>

#include <string>
#include <vector>

#include "file_buffer.h"
#include "image_ref.h"
#include "sample_tables.h"

namespace vorn {

// The header the library writes for `layout` (RGB, 10 bits a sample) at
// `path`, sized for the image; false when its layout is not the one packed
// here (then the library's writer is to be used).
bool Dpx10Header(const std::string& path, const OIIO::ImageSpec& layout,
                 std::vector<unsigned char>* header);

// The whole file: `header` from Dpx10Header, then the pixels of `image`
// converted by `tables` (16-bit samples) and packed.
void EncodeDpx10(const df::Image& image, const SampleTables& tables,
                 const std::vector<unsigned char>& header, FileBytes* bytes);

}  // namespace vorn
