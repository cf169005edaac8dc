// The facts of each format vorn writes, in one table: its name, file name
// extensions, the image library's writer, sample depths, alpha convention
// and compression. Image writing and the command line's help both read it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vorn {

enum class ImageFormat { Png, Exr, Tiff, Dpx, Jpeg };

// Sample type of a written file; Default is the format's own (the first of
// its depths).
enum class BitDepth { Default, U8, U10, U16, Half, Float };

// How a format holds alpha: straight (colour divided by alpha),
// premultiplied, or not at all (the premultiplied colour: the image over
// black).
enum class AlphaConvention { Straight, Premultiplied, None };

// What --compression takes for a format.
enum class CompressionKind {
  Level,    // a zlib level 0-9
  Quality,  // a quality 1-100
  Method,   // one of `methods`
  None,     // written uncompressed
};

struct FormatDepth {
  const char* name;  // as --bit-depth takes it
  BitDepth depth;
};

struct FormatFacts {
  ImageFormat format;
  const char* name;                     // "PNG"
  std::vector<const char*> extensions;  // lower case, without the dot; the first is the usual
  const char* writer;                   // the image library's writer
  std::vector<FormatDepth> depths;      // the default first
  AlphaConvention alpha;
  CompressionKind compression;
  std::vector<const char*> methods;  // for CompressionKind::Method
  int defaultLevel;                  // Level and Quality: the default; Method: index in methods
  const char* compressionNote = "";  // said after the methods in help
};

// Every format written, in the order help and messages list them.
const std::vector<FormatFacts>& WrittenFormats();
const FormatFacts& FactsOf(ImageFormat format);

// The format written for a file name, chosen by its extension.
std::optional<ImageFormat> OutputFormatFor(const std::string& path);
// "PNG (.png), EXR (.exr), ...", for messages.
const std::string& OutputFormatsText();

// Help texts of --out, --compression and --bit-depth.
std::string OutputExtensionsHelp();  // ".png, .exr, .tif, .dpx, .jpg"
std::string CompressionHelp();
std::string BitDepthHelp();

}  // namespace vorn
