// numpy arrays to and from the tools' images. Arrays are H x W x C in RGBA
// order, premultiplied (as the image library's Python module reads files).
// Going in, an array is converted as a file of its sample type would be:
// uint8 and uint16 hold sRGB values, float32 scene-linear ones; three
// channels are opaque. Coming out, the tools' bytes in RGBA order, or
// float32 scene-linear values through the conversion of float files.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>

#include "image_ref.h"

namespace vorn::py {

namespace pyb = pybind11;

// The tools' image of an array given for input `caption`. Raises TypeError
// or ValueError naming the input and what is wrong: not an array, not
// H x W x 3 or 4, a side of 0 or beyond the largest image, another dtype,
// a non-contiguous array, NaN or infinity in a float array. `brightest`
// receives the largest value met after conversion (above 1: clipped).
// Called with the GIL held; releases it while converting.
ImageRef ImageFromArray(const pyb::handle& object, const std::string& caption, float* brightest);

// An H x W x 4 array of the image: uint8 bytes, or float32 scene-linear
// values with `linear`. Called with the GIL held.
pyb::array ArrayFromImage(const df::Image& image, bool linear);

}  // namespace vorn::py
