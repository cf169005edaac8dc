// Colour spaces as the image library names them: those of the OpenColorIO
// configuration $OCIO names, and the library's built-in "sRGB", "linear" and
// "Rec709", which work without any configuration.
//
// The tools' images are encoded in "sRGB"; files of floating-point values
// hold "linear" (scene-linear) values unless the user says otherwise.
#pragma once

#include <OpenImageIO/imagebuf.h>

#include <string>
#include <vector>

namespace vorn {

inline constexpr const char* kToolColourSpace = "sRGB";
inline constexpr const char* kLinearColourSpace = "linear";

// Every name accepted: the configuration's colour spaces, then the built-in
// names it does not have.
std::vector<std::string> KnownColourSpaces();

// True when a conversion between the two names is no conversion at all.
bool SameColourSpace(const std::string& a, const std::string& b);

// Checks a name given by the user: values can be converted from it into the
// tools' encoding and back. False with an error that names the known ones.
bool CheckColourSpace(const std::string& name, std::string* error);

// Converts the first three channels of `image` from one colour space to
// another in place. With `premultiplied`, channel 3 is alpha and the colour
// is divided by it before the conversion and multiplied after (a pixel of
// alpha 0 is converted as it is). False with a message when the library
// cannot convert between the two.
bool ConvertColours(OIIO::ImageBuf& image, const std::string& from, const std::string& to,
                    bool premultiplied, std::string* error);

}  // namespace vorn
