#include "image_formats.h"

#include "value_parse.h"

namespace vorn {

const std::vector<FormatFacts>& WrittenFormats() {
  static const std::vector<FormatFacts> formats = {
      {ImageFormat::Png,
       "PNG",
       {"png"},
       "png",
       {{"8", BitDepth::U8}, {"16", BitDepth::U16}},
       AlphaConvention::Straight,
       CompressionKind::Level,
       {},
       6},
      {ImageFormat::Exr,
       "EXR",
       {"exr"},
       "openexr",
       {{"half", BitDepth::Half}, {"float", BitDepth::Float}},
       AlphaConvention::Premultiplied,
       CompressionKind::Method,
       {"none", "rle", "zips", "zip", "piz", "dwaa"},
       3,
       "dwaa is lossy; none and rle keep up with a two-core render"},
      {ImageFormat::Tiff,
       "TIFF",
       {"tif", "tiff"},
       "tiff",
       {{"8", BitDepth::U8}, {"16", BitDepth::U16}, {"float", BitDepth::Float}},
       AlphaConvention::Premultiplied,
       CompressionKind::Method,
       {"none", "lzw", "zip"},
       2},
      {ImageFormat::Dpx,
       "DPX",
       {"dpx"},
       "dpx",
       {{"10", BitDepth::U10}, {"8", BitDepth::U8}, {"16", BitDepth::U16}},
       AlphaConvention::None,
       CompressionKind::None,
       {},
       0},
      {ImageFormat::Jpeg,
       "JPEG",
       {"jpg", "jpeg"},
       "jpeg",
       {{"8", BitDepth::U8}},
       AlphaConvention::None,
       CompressionKind::Quality,
       {},
       95},
  };
  return formats;
}

const FormatFacts& FactsOf(ImageFormat format) {
  for (const FormatFacts& f : WrittenFormats())
    if (f.format == format) return f;
  return WrittenFormats().front();
}

std::optional<ImageFormat> OutputFormatFor(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::nullopt;
  const std::string ext = AsciiLower(path.substr(dot + 1));
  for (const FormatFacts& f : WrittenFormats())
    for (const char* e : f.extensions)
      if (ext == e) return f.format;
  return std::nullopt;
}

namespace {

// "a, b or c" (`last` joins the last two).
std::string Joined(const std::vector<std::string>& items, const char* last) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i)
    out += (i == 0 ? "" : i + 1 == items.size() ? last : ", ") + items[i];
  return out;
}

}  // namespace

const std::string& OutputFormatsText() {
  static const std::string text = [] {
    std::vector<std::string> items;
    for (const FormatFacts& f : WrittenFormats()) {
      std::vector<std::string> dotted;
      for (const char* e : f.extensions) dotted.push_back(std::string(".") + e);
      items.push_back(std::string(f.name) + " (" + Joined(dotted, ", ") + ")");
    }
    return Joined(items, " or ");
  }();
  return text;
}

std::string OutputExtensionsHelp() {
  std::vector<std::string> items;
  for (const FormatFacts& f : WrittenFormats())
    items.push_back(std::string(".") + f.extensions.front());
  return Joined(items, ", ");
}

std::string CompressionHelp() {
  std::vector<std::string> items;
  for (const FormatFacts& f : WrittenFormats()) {
    const std::string name = std::string(f.name) + ": ";
    switch (f.compression) {
      case CompressionKind::Level:
        items.push_back(name + "level 0-9 (default " + std::to_string(f.defaultLevel) + ")");
        break;
      case CompressionKind::Quality:
        items.push_back(name + "quality 1-100 (default " + std::to_string(f.defaultLevel) + ")");
        break;
      case CompressionKind::Method: {
        std::vector<std::string> methods;
        for (size_t i = 0; i < f.methods.size(); ++i)
          methods.push_back(std::string(f.methods[i]) +
                            (int(i) == f.defaultLevel ? " (default)" : ""));
        items.push_back(name + Joined(methods, ", ") +
                        (*f.compressionNote ? std::string(" (") + f.compressionNote + ")" : ""));
        break;
      }
      case CompressionKind::None:
        break;
    }
  }
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : "; ") + item;
  return out;
}

std::string BitDepthHelp() {
  std::string out = "Output samples: ";
  bool first = true;
  for (const FormatFacts& f : WrittenFormats()) {
    std::vector<std::string> depths;
    for (size_t i = 0; i < f.depths.size(); ++i)
      depths.push_back(std::string(f.depths[i].name) +
                       (i == 0 && f.depths.size() > 1 ? " (default)" : ""));
    out += (first ? "" : "; ") + std::string(f.name) + " " + Joined(depths, " or ");
    first = false;
  }
  return out;
}

}  // namespace vorn
