// Built-in images for required image inputs that have no file, so that every
// tool renders with no files at all.
#pragma once

#include <string>

#include "image_ref.h"

namespace vorn {

// A detailed test card: grid, colour bars, grey ramp, checks, a circle and
// cross-hair about the centre, coloured corner marks and a caption. Circles
// are round for the given pixel aspect. Opaque.
ImageRef MakeTestCard(int width, int height, double aspect);
// A dark, slightly blue vertical gradient, opaque.
ImageRef MakeDarkBackground(int width, int height, double aspect);
// Opaque black.
ImageRef MakeBlack(int width, int height, double aspect);

// The built-in image for a tool's required input, chosen by the tool's
// registry class name: the black birth image for Bubbles, the dark
// background for Candle, the test card for Bleb and any other tool.
ImageRef MakeDefaultImage(const std::string& className, int width, int height, double aspect);
// Name of that image, for messages ("test card").
const char* DefaultImageName(const std::string& className);

}  // namespace vorn
