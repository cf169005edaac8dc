#include "image_io.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

#include "atomic_file.h"
#include "colour_space.h"
#include "dpx_encoder.h"
#include "exr_encoder.h"
#include "file_buffer.h"
#include "header_cache.h"
#include "image_io_checks.h"
#include "image_io_pixels.h"
#include "library_messages.h"
#include "png_encoder.h"
#include "sample_tables.h"
#include "value_parse.h"

namespace vorn {
namespace {

namespace oiio = OIIO;

std::string Trimmed(std::string e) {
  while (!e.empty() && (e.back() == '\n' || e.back() == ' ')) e.pop_back();
  // Several messages: the first one says what went wrong.
  const size_t line = e.find('\n');
  if (line != std::string::npos) e.resize(line);
  return e;
}

std::string LastError(const std::string& fallback) {
  std::string e = Trimmed(oiio::geterror());
  return e.empty() ? fallback : e;
}

// The reader for a file, chosen by its first bytes where they name a format
// and otherwise by its extension. The image library is never asked to try
// every reader in turn: some read a whole file of any size before giving up.
std::string ReaderFor(const std::string& path, const unsigned char* head, size_t n) {
  auto starts = [&](const char* magic, size_t size, size_t at = 0) {
    return n >= at + size && std::memcmp(head + at, magic, size) == 0;
  };
  if (starts("\x89PNG\r\n\x1a\n", 8)) return "png";
  if (starts("\x76\x2f\x31\x01", 4)) return "openexr";
  if (starts("II*\0", 4) || starts("MM\0*", 4) || starts("II+\0", 4) || starts("MM\0+", 4))
    return "tiff";
  if (starts("SDPX", 4) || starts("XPDS", 4)) return "dpx";
  if (starts("\xff\xd8\xff", 3)) return "jpeg";
  if (starts("\x80\x2a\x5f\xd7", 4) || starts("\xd7\x5f\x2a\x80", 4)) return "cineon";
  if (starts("#?", 2)) return "hdr";
  if (starts("8BPS", 4)) return "psd";
  if (starts("GIF8", 4)) return "gif";
  if (starts("RIFF", 4) && starts("WEBP", 4, 8)) return "webp";
  if (starts("\x01\xda", 2)) return "sgi";
  if (starts("SIMPLE  =", 9)) return "fits";
  if (starts("\0\0\0\x0cjP  ", 8) || starts("\xff\x4f\xff\x51", 4)) return "jpeg2000";
  if (n >= 2 && head[0] == 'P' && std::strchr("123456fF", head[1]) != nullptr && head[1] != 0)
    return "pnm";
  if (starts("BM", 2)) return "bmp";
  // No signature (TGA, for one): the extension decides.
  const size_t dot = path.rfind('.'), slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return AsciiLower(path.substr(dot + 1));
}

std::unique_ptr<oiio::ImageInput> OpenInput(const std::string& path, std::string* error) {
  // Only regular files: a FIFO or a device would block or never end.
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    *error = errno == ENOENT ? "it does not exist" : std::strerror(errno);
    return nullptr;
  }
  if (S_ISDIR(st.st_mode)) {
    *error = "it is a folder, not an image file";
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = "it is not a regular file (a pipe or a device, say)";
    return nullptr;
  }
  unsigned char head[16] = {};
  size_t n = 0;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
  } else {
    *error = std::strerror(errno);
    return nullptr;
  }
  if (n == 0) {
    *error = "the file is empty";
    return nullptr;
  }
  const std::string reader = ReaderFor(path, head, n);
  std::unique_ptr<oiio::ImageInput> in;
  if (!reader.empty()) in = oiio::ImageInput::create(reader);
  if (!in) {
    oiio::geterror();  // the library's own "no reader for ..." message
    *error = "not an image file the image library can read (its first bytes name no known format)";
    return nullptr;
  }
  // Keep unassociated alpha as stored: no premultiplication on reading.
  oiio::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  oiio::ImageSpec layout;
  if (!in->open(path, layout, config)) {
    *error = in->has_error() ? Trimmed(in->geterror()) : LastError("not a valid image file");
    return nullptr;
  }
  return in;
}

struct Window {
  int fullX, fullY, fullW, fullH;  // display window
};

Window DisplayWindow(const oiio::ImageSpec& layout) {
  if (layout.full_width > 0 && layout.full_height > 0)
    return {layout.full_x, layout.full_y, layout.full_width, layout.full_height};
  return {layout.x, layout.y, layout.width, layout.height};
}

// An input's size: each side and the pixel count within the limits. The
// pixel limit may be lowered by the environment variable
// VORN_MAX_INPUT_PIXELS (a service reading others' files may want less
// memory at stake), never raised.
bool CheckSize(long long w, long long h, std::string* error) {
  long long most = kMaxImagePixels;
  const char* given = std::getenv("VORN_MAX_INPUT_PIXELS");
  if (given != nullptr && *given != 0) {
    std::string why;
    const std::optional<long long> n = ParseCount(given, 1, kMaxImagePixels, &why);
    if (!n) {
      *error = "VORN_MAX_INPUT_PIXELS is \"" + std::string(given) +
               "\"; it takes a whole number of pixels from 1 to " + std::to_string(kMaxImagePixels);
      return false;
    }
    most = *n;
  }
  if (w < 1 || h < 1 || w > kMaxImageSide || h > kMaxImageSide || w * h > most) {
    *error = "its size " + std::to_string(w) + " x " + std::to_string(h) +
             " is not usable (each side 1 to " + std::to_string(kMaxImageSide) + ", at most " +
             std::to_string(most) + " pixels" +
             (most < kMaxImagePixels ? std::string(", as VORN_MAX_INPUT_PIXELS sets") : "") + ")";
    return false;
  }
  return true;
}

double AspectOf(const oiio::ImageSpec& layout) {
  const float par = layout.get_float_attribute("PixelAspectRatio", 1.0f);
  return (std::isfinite(par) && par > 1e-6f && par < 1e6f) ? 1.0 / double(par) : 1.0;
}

ImageMetadata MetadataOf(const oiio::ImageSpec& layout) {
  ImageMetadata m;
  m.copyright = layout.get_string_attribute("Copyright");
  if (const oiio::ParamValue* p = layout.find_attribute("FramesPerSecond")) {
    if (p->type() == oiio::TypeRational) {
      const int* r = static_cast<const int*>(p->data());
      if (r[0] > 0 && r[1] > 0) m.frameRateNum = r[0], m.frameRateDen = r[1];
    } else if (p->type() == oiio::TypeFloat) {
      const float f = p->get_float();
      if (std::isfinite(f) && f > 0 && f < 1e6f)
        m.frameRateNum = int(std::lround(f * 1000)), m.frameRateDen = 1000;
    }
  }
  const Window win = DisplayWindow(layout);
  m.displayX = win.fullX, m.displayY = win.fullY;
  return m;
}

int FindChannel(const oiio::ImageSpec& layout, const std::string& name) {
  for (int i = 0; i < layout.nchannels && i < int(layout.channelnames.size()); ++i)
    if (AsciiLower(layout.channelnames[size_t(i)]) == AsciiLower(name)) return i;
  return -1;
}

// The layer of a channel: its name before the last dot ("" for R, G, B, A).
std::string LayerOf(const std::string& channel) {
  const size_t dot = channel.rfind('.');
  return dot == std::string::npos ? std::string() : channel.substr(0, dot);
}

// Which channels of which subimage make the picture.
struct Source {
  int subimage = 0;
  oiio::ImageSpec layout;  // of that subimage
  int r = -1, g = -1, b = -1, a = -1;
};

// Finds the colour channels named `prefix` + R, G, B (or Y) and A. Plain
// channels of a file without layers may also go by position.
bool PickChannels(const oiio::ImageSpec& layout, const std::string& prefix, Source* s) {
  s->r = FindChannel(layout, prefix + "R"), s->g = FindChannel(layout, prefix + "G");
  s->b = FindChannel(layout, prefix + "B"), s->a = FindChannel(layout, prefix + "A");
  if (s->r >= 0 && s->g >= 0 && s->b >= 0) return true;
  if (const int y = FindChannel(layout, prefix + "Y"); y >= 0) {
    s->r = s->g = s->b = y;
    return true;
  }
  if (!prefix.empty()) return false;
  for (const std::string& c : layout.channelnames)
    if (!LayerOf(c).empty()) return false;  // layers only: one must be chosen
  const bool alphaKnown = layout.alpha_channel >= 0 && layout.alpha_channel < layout.nchannels;
  if (layout.nchannels >= 3) {
    s->r = 0, s->g = 1, s->b = 2;
  } else {
    s->r = s->g = s->b = 0;
  }
  if (s->a < 0)
    s->a = alphaKnown              ? layout.alpha_channel
           : layout.nchannels == 2 ? 1
           : layout.nchannels >= 4 ? 3
                                   : -1;
  return true;
}

// The layers a file offers: names of its parts and prefixes of its channels.
std::vector<std::string> Layers(oiio::ImageInput& in) {
  std::vector<std::string> names;
  auto add = [&](const std::string& n) {
    if (!n.empty() && std::find(names.begin(), names.end(), n) == names.end()) names.push_back(n);
  };
  for (int sub = 0; sub < 1000 && in.seek_subimage(sub, 0); ++sub) {
    const oiio::ImageSpec& layout = in.spec();
    add(layout.get_string_attribute("oiio:subimagename"));
    for (const std::string& c : layout.channelnames) add(LayerOf(c));
  }
  return names;
}

std::string LayerList(oiio::ImageInput& in) {
  const std::vector<std::string> layers = Layers(in);
  return layers.empty() ? std::string("it has no layers") : "its layers: " + QuotedList(layers);
}

// Chooses the subimage and channels of the picture: the first subimage's
// plain channels, or those of the layer asked for.
bool ChooseSource(oiio::ImageInput& in, const std::string& layer, Source* s, std::string* why) {
  if (layer.empty()) {
    s->subimage = 0;
    s->layout = in.spec();
    if (PickChannels(s->layout, "", s)) return true;
    *why =
        "it has no plain colour channels (R, G, B or Y); choose a layer with --input-layer "
        "CAPTION=NAME; " +
        LayerList(in);
    return false;
  }
  for (int sub = 0; sub < 1000 && in.seek_subimage(sub, 0); ++sub) {
    s->subimage = sub;
    s->layout = in.spec();
    if ((s->layout.get_string_attribute("oiio:subimagename") == layer &&
         PickChannels(s->layout, "", s)) ||
        PickChannels(s->layout, layer + ".", s))
      return in.seek_subimage(sub, 0);
  }
  *why = "it has no layer \"" + layer + "\" with colour channels; " + LayerList(in);
  return false;
}

// Opens a file and checks its header: plain colour channels and a usable size.
// On success `info` holds the display size, pixel aspect and metadata.
std::unique_ptr<oiio::ImageInput> OpenChecked(const std::string& path, const std::string& layer,
                                              ImageInfo* info, Source* source, std::string* error) {
  std::string why;
  auto in = OpenInput(path, &why);
  if (!in) {
    *error = "cannot read image " + path + ": " + why;
    return nullptr;
  }
  if (!ChooseSource(*in, layer, source, &why)) {
    *error = "cannot read image " + path + ": " + why;
    return nullptr;
  }
  const oiio::ImageSpec& layout = source->layout;
  const Window win = DisplayWindow(layout);
  if (layout.deep || layout.nchannels < 1 || layout.depth > 1) {
    *error = "cannot read image " + path + ": it holds no plain colour channels";
    return nullptr;
  }
  if (!CheckSize(win.fullW, win.fullH, &why) || !CheckSize(layout.width, layout.height, &why)) {
    *error = "cannot read image " + path + ": " + why;
    return nullptr;
  }
  // Before any buffer of the claimed size exists: can the file hold it?
  struct stat st;
  ClaimedImage claim;
  claim.reader = in->format_name();
  claim.subimage = source->subimage;
  claim.width = layout.width, claim.height = layout.height;
  claim.channels = layout.nchannels;
  // A palette (or subsampled colour) TIFF stores fewer samples than the
  // channels it is read into.
  const int photometric = layout.get_int_attribute("tiff:PhotometricInterpretation", -1);
  if (claim.reader == "tiff" && (photometric == 3 || photometric == 6)) claim.channels = 1;
  claim.bitsPerSample =
      layout.get_int_attribute("oiio:BitsPerSample", int(layout.format.size()) * 8);
  claim.compression = AsciiLower(layout.get_string_attribute("compression"));
  claim.tiled = layout.tile_width > 0;
  if (::stat(path.c_str(), &st) == 0 &&
      !FileHoldsClaim(path, (unsigned long long)st.st_size, claim, &why)) {
    *error = "cannot read image " + path + ": " + why;
    return nullptr;
  }
  info->width = win.fullW;
  info->height = win.fullH;
  info->aspect = AspectOf(layout);
  info->metadata = MetadataOf(layout);
  return in;
}

// Reads rows [y, last) of channels [first, end) of a subimage's data window
// as floats (a band of scanlines or a row of tiles), checking the result and
// the error text of the read: a file cut short must not read as black rows.
bool ReadBand(oiio::ImageInput& in, const Source& source, int first, int end, int y, int last,
              float* data, std::string* error) {
  const oiio::ImageSpec& layout = source.layout;
  const bool ok = layout.tile_width > 0
                      ? in.read_tiles(source.subimage, 0, layout.x, layout.x + layout.width,
                                      layout.y + y, layout.y + last, layout.z, layout.z + 1, first,
                                      end, oiio::TypeDesc::FLOAT, data)
                      : in.read_scanlines(source.subimage, 0, layout.y + y, layout.y + last,
                                          layout.z, first, end, oiio::TypeDesc::FLOAT, data);
  // A reader may report a failed strip only in its error text, with a
  // result of success.
  std::string why = Trimmed(in.geterror());
  if (!ok || !why.empty()) {
    if (why.empty()) why = LastError("");
    *error = "rows " + std::to_string(y) + " to " + std::to_string(last - 1) +
             " cannot be read (the file may be cut short)" + (why.empty() ? "" : ": " + why);
    return false;
  }
  return true;
}

// Decodes the chosen channels of an opened file into the tools' BGRA, a band
// of rows at a time: no buffer of the whole picture in floats is made, and a
// file that fails fails at its first bad band.
ImageRef DecodeOpened(oiio::ImageInput& in, const std::string& path, const ImageInfo& info,
                      const Source& source, const ReadOptions& options, float* brightest,
                      std::string* error) {
  const oiio::ImageSpec& layout = source.layout;
  const Window win = DisplayWindow(layout);
  const bool hasAlpha = source.a >= 0;
  int first = std::min({source.r, source.g, source.b}),
      end = std::max({source.r, source.g, source.b});
  if (hasAlpha) first = std::min(first, source.a), end = std::max(end, source.a);
  ++end;
  const bool floating = layout.channelformat(source.r).is_floating_point();
  const std::string space = !options.colourSpace.empty() ? options.colourSpace
                            : floating                   ? kLinearColourSpace
                                                         : kToolColourSpace;
  const bool straight = hasAlpha && layout.get_int_attribute("oiio:UnassociatedAlpha") != 0;
  const int order[4] = {source.r - first, source.g - first, source.b - first,
                        hasAlpha ? source.a - first : -1};
  const float fill[4] = {0.0f, 0.0f, 0.0f, 1.0f};
  const std::string names[4] = {"R", "G", "B", "A"};

  ImageRef image = NewImage(info.width, info.height, info.aspect);
  if (!image) {
    *error = "cannot read image " + path + ": not enough memory for " + std::to_string(info.width) +
             " x " + std::to_string(info.height);
    return nullptr;
  }
  const int band = layout.tile_height > 0 ? layout.tile_height : 64;
  std::vector<float> data(size_t(layout.width) * size_t(std::min(band, layout.height)) *
                          size_t(end - first));
  float top = 0.0f;
  const long long offX = (long long)layout.x - win.fullX, offY = (long long)layout.y - win.fullY;
  for (int y = 0; y < layout.height; y += band) {
    const int last = std::min(layout.height, y + band), rows = last - y;
    std::string why;
    if (!ReadBand(in, source, first, end, y, last, data.data(), &why)) {
      *error = "cannot read image " + path + ": " + why;
      return nullptr;
    }
    // The band's red, green, blue and alpha; NaN and infinite values read
    // as 0 (a conversion would spread them); then into the tools' encoding,
    // premultiplied. Each step works on each pixel alone.
    const oiio::ImageBuf file(
        oiio::ImageSpec(layout.width, rows, end - first, oiio::TypeDesc::FLOAT), data.data());
    oiio::ImageBuf rgba;
    if (!oiio::ImageBufAlgo::channels(rgba, file, 4, order, fill, names)) {
      *error = "cannot read image " + path + ": " + rgba.geterror();
      return nullptr;
    }
    rgba.specmod().alpha_channel = 3;
    if (!IntoToolEncoding(rgba, space, hasAlpha && !straight, straight, &why)) {
      *error = "cannot read image " + path + ": " + why;
      return nullptr;
    }
    // Place the band of the data window into the display window; the rest
    // stays clear.
    const float* pixels = static_cast<const float*>(rgba.localpixels());
    for (int sy = 0; sy < rows; ++sy) {
      const long long dy = offY + y + sy;
      if (dy < 0 || dy >= info.height) continue;
      uint8_t* row = image->rows[dy];
      for (int sx = 0; sx < layout.width; ++sx) {
        const long long dx = offX + sx;
        if (dx < 0 || dx >= info.width) continue;
        const float* s = pixels + (size_t(sy) * size_t(layout.width) + size_t(sx)) * 4;
        top = std::max({top, s[0], s[1], s[2], s[3]});
        uint8_t* p = row + dx * 4;
        p[0] = ToByte(s[2]), p[1] = ToByte(s[1]), p[2] = ToByte(s[0]), p[3] = ToByte(s[3]);
      }
    }
  }
  if (brightest) *brightest = std::isfinite(top) ? top : std::numeric_limits<float>::max();
  return image;
}

BitDepth Resolved(ImageFormat format, BitDepth depth) {
  if (depth != BitDepth::Default) return depth;
  return FactsOf(format).depths.front().depth;
}

}  // namespace

bool ParseBitDepth(ImageFormat format, const std::string& text, BitDepth* out, std::string* error) {
  *out = BitDepth::Default;
  if (text.empty()) return true;
  std::vector<std::string> names;
  for (const FormatDepth& d : FactsOf(format).depths) {
    if (AsciiLower(Trim(text)) == d.name) {
      *out = d.depth;
      return true;
    }
    names.push_back(d.name);
  }
  *error = std::string(FactsOf(format).name) + " is written in " + QuotedList(names) +
           " (default \"" + names.front() + "\")";
  return false;
}

bool ReadImageInfo(const std::string& path, ImageInfo* info, std::string* error,
                   const ReadOptions& options) {
  HeldLibraryMessages held;
  Source source;
  bool ok = false;
  try {
    ok = OpenChecked(path, options.layer, info, &source, error) != nullptr;
  } catch (const std::exception& e) {
    *error = "cannot read image " + path + ": " + e.what();
  }
  oiio::geterror();
  return ok;
}

ImageRef ReadImage(const std::string& path, std::string* error, const ReadOptions& options,
                   float* brightest, ImageMetadata* metadata) {
  HeldLibraryMessages held;
  ImageRef image;
  try {
    ImageInfo info;
    Source source;
    auto in = OpenChecked(path, options.layer, &info, &source, error);
    if (in) image = DecodeOpened(*in, path, info, source, options, brightest, error);
    if (image && metadata) *metadata = info.metadata;
  } catch (const std::exception& e) {
    *error = "cannot read image " + path + ": " + e.what();
    image.reset();
  }
  oiio::geterror();  // nothing of this file's messages is left for later
  return image;
}

bool ParseCompression(ImageFormat format, const std::string& text, Compression* out,
                      std::string* error) {
  *out = {};
  if (text.empty()) return true;
  const std::string t = AsciiLower(text);
  const FormatFacts& facts = FactsOf(format);
  const std::string name = facts.name;
  switch (facts.compression) {
    case CompressionKind::Level: {
      const std::string digits = t.rfind("zip:", 0) == 0 ? t.substr(4) : t;
      if (digits.size() == 1 && digits[0] >= '0' && digits[0] <= '9') {
        out->level = digits[0] - '0';
        return true;
      }
      *error = name + " takes a compression level 0 (fastest) to 9 (smallest), default " +
               std::to_string(facts.defaultLevel);
      return false;
    }
    case CompressionKind::Quality: {
      const std::string digits = t.rfind("jpeg:", 0) == 0 ? t.substr(5) : t;
      std::string ignored;
      if (auto q = ParseCount(digits, 1, 100, &ignored)) {
        out->level = int(*q);
        return true;
      }
      *error = name + " takes a quality 1 (smallest) to 100 (best), default " +
               std::to_string(facts.defaultLevel);
      return false;
    }
    case CompressionKind::None:
      *error = name + " is written uncompressed; leave --compression out";
      return false;
    case CompressionKind::Method:
      break;
  }
  std::vector<std::string> allowed(facts.methods.begin(), facts.methods.end());
  for (const std::string& a : allowed)
    if (t == a) {
      out->method = a;
      return true;
    }
  *error = name + " takes the compression " + QuotedList(allowed) + " (default \"" +
           allowed[size_t(facts.defaultLevel)] + "\")";
  return false;
}

uint8_t ToByte(float v) {
  if (!(v > 0.0f)) return 0;  // also NaN
  if (v >= 1.0f) return 255;
  return uint8_t(v * 255.0f + 0.5f);
}

bool IntoToolEncoding(oiio::ImageBuf& rgba, const std::string& space, bool premultiplied,
                      bool straight, std::string* error) {
  int nonFinite = 0;
  oiio::ImageBufAlgo::fixNonFinite(rgba, rgba, oiio::ImageBufAlgo::NONFINITE_BLACK, &nonFinite);
  std::string why;
  if (!ConvertColours(rgba, space, kToolColourSpace, premultiplied, &why) ||
      (straight && !oiio::ImageBufAlgo::premult(rgba, rgba))) {
    *error = why.empty() ? rgba.geterror() : why;
    return false;
  }
  return true;
}

oiio::ImageBuf FloatPixels(const df::Image& image) {
  static const std::vector<float> ofByte = [] {
    std::vector<float> t(256);
    for (int i = 0; i < 256; ++i) t[size_t(i)] = float(i) / 255.0f;
    return t;
  }();
  oiio::ImageSpec layout(image.width, image.height, 4, oiio::TypeDesc::FLOAT);
  layout.alpha_channel = 3;
  oiio::ImageBuf buf(layout);
  float* dst = static_cast<float*>(buf.localpixels());
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* src = image.rows[y];
    for (int x = 0; x < image.width; ++x, src += 4, dst += 4)
      dst[0] = ofByte[src[2]], dst[1] = ofByte[src[1]], dst[2] = ofByte[src[0]],
      dst[3] = ofByte[src[3]];
  }
  return buf;
}

namespace {

// What a writer thread's encoding buffer may keep between files: a 4K frame
// of half RGBA and more.
constexpr size_t kKeptFileBytes = size_t(96) << 20;

// Every property of `layout` that a header can hold: the library's text of
// it, and each attribute's value as its bytes, since the text rounds floats.
// (A string attribute's bytes point to the library's one copy of that text.)
std::string LayoutKey(const oiio::ImageSpec& layout) {
  std::string key = layout.serialize(oiio::ImageSpec::SerialText);
  for (const oiio::ParamValue& p : layout.extra_attribs) {
    key += p.name().string();
    key += '\0';
    key.append(static_cast<const char*>(p.data()), p.datasize());
  }
  return key;
}

oiio::TypeDesc FileType(BitDepth depth) {
  switch (depth) {
    case BitDepth::U10:
    case BitDepth::U16:
      return oiio::TypeDesc::UINT16;
    case BitDepth::Half:
      return oiio::TypeDesc::HALF;
    case BitDepth::Float:
      return oiio::TypeDesc::FLOAT;
    default:
      return oiio::TypeDesc::UINT8;
  }
}

// Encodes a file through the image library's writer `name` in memory;
// `write` hands over the pixels. The writer's results decide; its error text
// may also hold harmless notes (the TIFF writer reports an empty Exif block
// it did not write).
bool EncodeInMemory(const char* name, const std::string& path, const oiio::ImageSpec& layout,
                    const std::function<bool(oiio::ImageOutput&)>& write,
                    std::vector<unsigned char>* bytes, std::string* why) {
  oiio::Filesystem::IOVecOutput encoded;
  auto out = oiio::ImageOutput::create(name);
  if (!out) {
    *why = LastError(std::string("no ") + name + " writer");
    return false;
  }
  if (!out->supports("ioproxy") || !out->set_ioproxy(&encoded)) {
    *why = std::string("the ") + name + " writer cannot write to memory";
    return false;
  }
  bool ok = out->open(path, layout) && write(*out);
  ok = out->close() && ok;
  const std::string writerError = Trimmed(out->geterror());
  oiio::geterror();
  if (!ok || encoded.buffer().empty()) {
    *why = writerError.empty() ? std::string("the writer failed") : writerError;
    return false;
  }
  *bytes = std::move(encoded.buffer());
  return true;
}

// Rows of a frame converted by table and handed over a band at a time, so
// the samples stay in cache.
template <class Take>
bool ByBands(const df::Image& image, const SampleTables& tables, bool keepAlpha, Take take) {
  // A whole number of every EXR compression block.
  constexpr int kBandRows = 128;
  const int channels = keepAlpha ? 4 : 3;
  std::vector<uint8_t> band(size_t(image.width) * size_t(std::min(kBandRows, image.height)) *
                            size_t(channels) * tables.SampleSize());
  for (int y = 0; y < image.height; y += kBandRows) {
    const int end = std::min(image.height, y + kBandRows);
    tables.Convert(image, y, end, keepAlpha, band.data());
    if (!take(y, end, band.data())) return false;
  }
  return true;
}

// An 8-bit PNG deflated by libdeflate, with the chunks the image library
// writes for the same header (taken from a one-pixel file it encodes).
bool EncodePng(const df::Image& image, const std::string& path, const SampleTables& tables,
               const oiio::ImageSpec& layout, int level, std::vector<unsigned char>* bytes,
               std::string* why) {
  oiio::ImageSpec tiny = layout;
  tiny.width = tiny.height = tiny.full_width = tiny.full_height = 1;
  tiny.attribute("png:compressionLevel", 0);
  std::vector<unsigned char> sample;
  const uint8_t pixel[4] = {0, 0, 0, 0};
  PngChunks chunks;
  if (!EncodeInMemory(
          "png", path, tiny,
          [&](oiio::ImageOutput& out) { return out.write_image(oiio::TypeDesc::UINT8, pixel); },
          &sample, why))
    return false;
  if (!SplitPngChunks(sample.data(), sample.size(), &chunks)) {
    *why = "the PNG writer's header chunks cannot be read";
    return false;
  }
  PngEncoder encoder(image.width, image.height, layout.nchannels, level);
  ByBands(image, tables, layout.nchannels == 4, [&](int y, int end, const uint8_t* samples) {
    encoder.AddRows(samples, end - y);
    return true;
  });
  return encoder.Finish(chunks, bytes, why);
}

}  // namespace

bool HasAdditiveLight(const df::Image& image) {
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* p = image.rows[y];
    uint8_t above = 0;  // any colour byte above its alpha, without branching per pixel
    for (int x = 0; x < image.width; ++x, p += 4)
      above |= uint8_t(p[0] > p[3]) | uint8_t(p[1] > p[3]) | uint8_t(p[2] > p[3]);
    if (above) return true;
  }
  return false;
}

bool KeepsAdditiveLight(ImageFormat format) {
  return FactsOf(format).alpha != AlphaConvention::Straight;
}

void SetExrThreads(int threads) {
  oiio::attribute("exr_threads", std::max(1, threads));
}

namespace {

// The file's sample type, colour space and alpha convention.
struct FileSamples {
  oiio::TypeDesc type;
  std::string space;
  bool straight;
};

FileSamples SamplesOf(ImageFormat format, const WriteOptions& options) {
  const oiio::TypeDesc type = FileType(Resolved(format, options.depth));
  return {type,
          !options.colourSpace.empty() ? options.colourSpace
          : type.is_floating_point()   ? kLinearColourSpace
                                       : kToolColourSpace,
          FactsOf(format).alpha == AlphaConvention::Straight};
}

}  // namespace

void PrepareWriting(ImageFormat format, const WriteOptions& options) {
  if (options.floatPath) return;
  const FileSamples samples = SamplesOf(format, options);
  TablesFor(samples.type, samples.space, samples.straight);
}

bool WriteImage(const df::Image& image, const std::string& path, ImageFormat format,
                std::string* error, const WriteOptions& options) {
  const FormatFacts& facts = FactsOf(format);
  if (image.width < 1 || image.height < 1 || image.rows == nullptr) {
    *error = "cannot write " + path + ": the image is empty (" + std::to_string(image.width) +
             " x " + std::to_string(image.height) + ")";
    return false;
  }
  const BitDepth depth = Resolved(format, options.depth);
  const FileSamples samples = SamplesOf(format, options);
  const oiio::TypeDesc type = samples.type;
  const std::string& space = samples.space;
  const bool straight = samples.straight;
  const bool hasAlpha = facts.alpha != AlphaConvention::None;
  // The file is encoded in memory and then written whole through a
  // temporary file, so that every write of it is checked here. vorn's own
  // encoders write into a buffer each writer thread keeps from file to file;
  // the library's writers hand over a vector of their own.
  std::vector<unsigned char> encoded;
  thread_local FileBytes packed;
  bool ownEncoder = false;
  try {
    // By table where the conversion allows it, else through a float image.
    const SampleTables* tables = options.floatPath ? nullptr : TablesFor(type, space, straight);
    // Out of the tools' encoding into the file's: colour converted with
    // alpha divided out, then kept premultiplied or straight, or dropped
    // (the premultiplied colour is the image over black).
    oiio::ImageBuf pixels;
    if (!tables) pixels = FloatPixels(image);
    std::string why;
    if (!tables && (!ConvertColours(pixels, kToolColourSpace, space, true, &why) ||
                    (straight && !oiio::ImageBufAlgo::unpremult(pixels, pixels)))) {
      *error = "cannot write " + path + ": " + (why.empty() ? pixels.geterror() : why);
      return false;
    }
    if (!hasAlpha && !tables) {
      const int order[3] = {0, 1, 2};
      oiio::ImageBuf colour;
      if (!oiio::ImageBufAlgo::channels(colour, pixels, 3, order)) {
        *error = "cannot write " + path + ": " + colour.geterror();
        return false;
      }
      pixels = std::move(colour);
    }

    oiio::ImageSpec layout(image.width, image.height, hasAlpha ? 4 : 3, type);
    layout.channelnames = hasAlpha ? std::vector<std::string>{"R", "G", "B", "A"}
                                   : std::vector<std::string>{"R", "G", "B"};
    layout.alpha_channel = hasAlpha ? 3 : -1;
    if (straight) layout.attribute("oiio:UnassociatedAlpha", 1);
    if (depth == BitDepth::U10) layout.attribute("oiio:BitsPerSample", 10);
    // The TIFF writer would record the colour space in an Exif block, which
    // it cannot write to memory (the file comes out without its size).
    if (format != ImageFormat::Tiff) layout.attribute("oiio:ColorSpace", space);
    layout.attribute("Software", "vorn " VORN_VERSION);
    const ImageMetadata& meta = options.metadata;
    if (!meta.copyright.empty()) layout.attribute("Copyright", meta.copyright);
    if (meta.frameRateNum > 0 && meta.frameRateDen > 0) {
      const int rate[2] = {meta.frameRateNum, meta.frameRateDen};
      layout.attribute("FramesPerSecond", oiio::TypeRational, rate);
    }
    if (format == ImageFormat::Exr) {
      // The picture is the input's display window; its place is kept.
      layout.x = layout.full_x = meta.displayX;
      layout.y = layout.full_y = meta.displayY;
    }
    if (std::isfinite(image.aspect) && image.aspect > 0 && image.aspect != 1.0)
      layout.attribute("PixelAspectRatio", float(1.0 / image.aspect));
    if (facts.compression == CompressionKind::Level && options.compression.level >= 0)
      layout.attribute("png:compressionLevel", options.compression.level);
    if (facts.compression == CompressionKind::Quality)
      layout.attribute("Compression", "jpeg:" + std::to_string(options.compression.level >= 0
                                                                   ? options.compression.level
                                                                   : facts.defaultLevel));
    if (!options.compression.method.empty())
      layout.attribute("compression", options.compression.method);

    bool ok;
    std::vector<unsigned char> dpxHeader;
    ExrHeader exrHeader;
    const std::string& method = options.compression.method;
    // The library's header for this layout, made anew at most once a second
    // by each writer thread.
    thread_local HeaderCache<std::vector<unsigned char>> dpxHeaders;
    thread_local HeaderCache<ExrHeader> exrHeaders;
    const bool libraryHeader = tables && (format == ImageFormat::Dpx || format == ImageFormat::Exr);
    const std::string layoutKey = libraryHeader ? LayoutKey(layout) : std::string();
    if (tables && format == ImageFormat::Dpx && depth == BitDepth::U10 &&
        dpxHeaders.Get(layoutKey, &dpxHeader, [&](std::vector<unsigned char>* h) {
          return Dpx10Header(path, layout, h);
        })) {
      EncodeDpx10(image, *tables, dpxHeader, &packed);
      ok = ownEncoder = true;
    } else if (tables && format == ImageFormat::Exr && (method == "none" || method == "rle") &&
               exrHeaders.Get(layoutKey, &exrHeader,
                              [&](ExrHeader* h) { return MakeExrHeader(path, layout, h); })) {
      EncodeExr(image, *tables, exrHeader, &packed);
      ok = ownEncoder = true;
    } else if (tables && format == ImageFormat::Png && type == oiio::TypeDesc::UINT8) {
      const int level =
          options.compression.level >= 0 ? options.compression.level : facts.defaultLevel;
      ok = EncodePng(image, path, *tables, layout, level, &encoded, &why);
    } else {
      ok = EncodeInMemory(
          facts.writer, path, layout,
          [&](oiio::ImageOutput& out) {
            if (!tables) return out.write_image(oiio::TypeDesc::FLOAT, pixels.localpixels());
            return ByBands(image, *tables, hasAlpha, [&](int y, int end, const uint8_t* samples) {
              return out.write_scanlines(layout.y + y, layout.y + end, 0, type, samples);
            });
          },
          &encoded, &why);
    }
    if (!ok) {
      *error = "cannot encode " + path + ": " + why;
      return false;
    }
  } catch (const std::exception& e) {
    *error = "cannot write " + path + ": " + e.what();
    return false;
  }
  const bool written = ownEncoder
                           ? WriteFileAtomically(path, packed.data(), packed.size(), error)
                           : WriteFileAtomically(path, encoded.data(), encoded.size(), error);
  // A buffer grown for an unusually large file is given back.
  if (packed.capacity() > kKeptFileBytes) FileBytes().swap(packed);
  return written;
}

}  // namespace vorn
