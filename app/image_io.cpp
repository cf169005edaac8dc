#include "image_io.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/half.h>
#include <OpenImageIO/imageio.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <vector>

#include "atomic_file.h"
#include "library_messages.h"
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

bool CheckSize(long long w, long long h, std::string* error) {
  if (w < 1 || h < 1 || w > kMaxImageSide || h > kMaxImageSide || w * h > kMaxImagePixels) {
    *error = "its size " + std::to_string(w) + " x " + std::to_string(h) +
             " is not usable (each side 1 to " + std::to_string(kMaxImageSide) + ", at most " +
             std::to_string(kMaxImagePixels) + " pixels)";
    return false;
  }
  return true;
}

double AspectOf(const oiio::ImageSpec& layout) {
  const float par = layout.get_float_attribute("PixelAspectRatio", 1.0f);
  return (std::isfinite(par) && par > 1e-6f && par < 1e6f) ? 1.0 / double(par) : 1.0;
}

// The file's header as the image library describes it.
const oiio::ImageSpec& Header(const oiio::ImageInput& in) {
  return in.spec();
}

// Opens a file and checks its header: plain colour channels and a usable size.
// On success `info` holds the display size and pixel aspect.
std::unique_ptr<oiio::ImageInput> OpenChecked(const std::string& path, ImageInfo* info,
                                              std::string* error) {
  std::string why;
  auto in = OpenInput(path, &why);
  if (!in) {
    *error = "cannot read image " + path + ": " + why;
    return nullptr;
  }
  const oiio::ImageSpec& layout = Header(*in);
  const Window win = DisplayWindow(layout);
  if (layout.deep || layout.nchannels < 1 || layout.depth > 1) {
    *error = "cannot read image " + path + ": it holds no plain colour channels";
    return nullptr;
  }
  if (!CheckSize(win.fullW, win.fullH, &why) || !CheckSize(layout.width, layout.height, &why)) {
    *error = "cannot read image " + path + ": " + why;
    return nullptr;
  }
  info->width = win.fullW;
  info->height = win.fullH;
  info->aspect = AspectOf(layout);
  return in;
}

int FindChannel(const oiio::ImageSpec& layout, const char* name) {
  for (int i = 0; i < layout.nchannels && i < int(layout.channelnames.size()); ++i)
    if (AsciiLower(layout.channelnames[size_t(i)]) == AsciiLower(name)) return i;
  return -1;
}

uint8_t ToByte(float v) {
  if (!(v > 0.0f)) return 0;  // also NaN
  if (v >= 1.0f) return 255;
  return uint8_t(v * 255.0f + 0.5f);
}

// Reads the first `used` channels of the whole data window, a band of
// scanlines or a row of tiles at a time, checking the result and the error
// text of every read: a file cut short must not read as black rows.
bool ReadPixels(oiio::ImageInput& in, int used, oiio::TypeDesc type, void* data,
                std::string* error) {
  const oiio::ImageSpec& layout = Header(in);
  const size_t pixelBytes = size_t(used) * type.size();
  const size_t rowBytes = size_t(layout.width) * pixelBytes;
  char* base = static_cast<char*>(data);
  const int band = layout.tile_height > 0 ? layout.tile_height : 64;
  for (int y = 0; y < layout.height; y += band) {
    const int end = std::min(layout.height, y + band);
    char* at = base + size_t(y) * rowBytes;
    const bool ok =
        layout.tile_width > 0
            ? in.read_tiles(0, 0, layout.x, layout.x + layout.width, layout.y + y, layout.y + end,
                            layout.z, layout.z + 1, 0, used, type, at)
            : in.read_scanlines(0, 0, layout.y + y, layout.y + end, layout.z, 0, used, type, at);
    // A reader may report a failed strip only in its error text, with a
    // result of success.
    std::string why = Trimmed(in.geterror());
    if (!ok || !why.empty()) {
      if (why.empty()) why = LastError("");
      *error = "rows " + std::to_string(y) + " to " + std::to_string(end - 1) +
               " cannot be read (the file may be cut short)" + (why.empty() ? "" : ": " + why);
      return false;
    }
  }
  return true;
}

// Decodes an opened file's first image into BGRA.
ImageRef DecodeOpened(oiio::ImageInput& in, const std::string& path, const ImageInfo& info,
                      std::string* error) {
  const oiio::ImageSpec& layout = Header(in);
  const Window win = DisplayWindow(layout);

  // Which file channels become red, green, blue and alpha.
  int r = FindChannel(layout, "R"), g = FindChannel(layout, "G"), b = FindChannel(layout, "B");
  int a = FindChannel(layout, "A");
  if (r < 0 || g < 0 || b < 0) {
    const int y = FindChannel(layout, "Y");
    if (layout.nchannels >= 3 && y < 0) {
      r = 0, g = 1, b = 2;
    } else {
      r = g = b = (y >= 0 ? y : 0);
    }
    if (a < 0) {
      a = layout.alpha_channel >= 0 && layout.alpha_channel < layout.nchannels
              ? layout.alpha_channel
          : layout.nchannels == 2 ? 1
          : layout.nchannels >= 4 ? 3
                                  : -1;
    }
  }
  if (a < 0 && layout.alpha_channel >= 0 && layout.alpha_channel < layout.nchannels)
    a = layout.alpha_channel;
  const int used = std::max({r, g, b, a}) + 1;

  const bool bytes = layout.format == oiio::TypeDesc::UINT8;
  const size_t count = size_t(layout.width) * size_t(layout.height) * size_t(used);
  std::vector<uint8_t> data8;
  std::vector<float> dataF;
  std::string why;
  if (bytes)
    data8.resize(count);
  else
    dataF.resize(count);
  if (!ReadPixels(in, used, bytes ? oiio::TypeDesc::UINT8 : oiio::TypeDesc::FLOAT,
                  bytes ? static_cast<void*>(data8.data()) : static_cast<void*>(dataF.data()),
                  &why)) {
    *error = "cannot read image " + path + ": " + why;
    return nullptr;
  }
  ImageRef image = NewImage(info.width, info.height, info.aspect);
  if (!image) {
    *error = "cannot read image " + path + ": not enough memory for " + std::to_string(info.width) +
             " x " + std::to_string(info.height);
    return nullptr;
  }
  // Place the data window into the display window; the rest stays clear.
  const long long offX = (long long)layout.x - win.fullX, offY = (long long)layout.y - win.fullY;
  for (int sy = 0; sy < layout.height; ++sy) {
    const long long dy = offY + sy;
    if (dy < 0 || dy >= info.height) continue;
    uint8_t* row = image->rows[dy];
    for (int sx = 0; sx < layout.width; ++sx) {
      const long long dx = offX + sx;
      if (dx < 0 || dx >= info.width) continue;
      const size_t s = (size_t(sy) * size_t(layout.width) + size_t(sx)) * size_t(used);
      uint8_t* p = row + dx * 4;
      auto get = [&](int c) -> uint8_t {
        return bytes ? data8[s + size_t(c)] : ToByte(dataF[s + size_t(c)]);
      };
      p[0] = get(b);
      p[1] = get(g);
      p[2] = get(r);
      p[3] = a >= 0 ? get(a) : 255;
    }
  }
  return image;
}

}  // namespace

std::optional<ImageFormat> OutputFormatFor(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::nullopt;
  const std::string ext = AsciiLower(path.substr(dot + 1));
  if (ext == "png") return ImageFormat::Png;
  if (ext == "exr") return ImageFormat::Exr;
  if (ext == "tif" || ext == "tiff") return ImageFormat::Tiff;
  return std::nullopt;
}

const char* OutputFormatsText() {
  return "PNG (.png), EXR (.exr) or TIFF (.tif, .tiff)";
}

bool ReadImageInfo(const std::string& path, ImageInfo* info, std::string* error) {
  HeldLibraryMessages held;
  const bool ok = OpenChecked(path, info, error) != nullptr;
  oiio::geterror();
  return ok;
}

ImageRef ReadImage(const std::string& path, std::string* error) {
  HeldLibraryMessages held;
  ImageRef image;
  try {
    ImageInfo info;
    auto in = OpenChecked(path, &info, error);
    if (in) image = DecodeOpened(*in, path, info, error);
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
  if (format == ImageFormat::Png) {
    const std::string digits = t.rfind("zip:", 0) == 0 ? t.substr(4) : t;
    if (digits.size() == 1 && digits[0] >= '0' && digits[0] <= '9') {
      out->level = digits[0] - '0';
      return true;
    }
    *error = "PNG takes a compression level 0 (fastest) to 9 (smallest), default 6";
    return false;
  }
  const std::vector<std::string> allowed =
      format == ImageFormat::Exr ? std::vector<std::string>{"none", "rle", "zips", "zip", "piz"}
                                 : std::vector<std::string>{"none", "lzw", "zip"};
  for (const std::string& a : allowed)
    if (t == a) {
      out->method = a;
      return true;
    }
  *error = std::string(format == ImageFormat::Exr ? "EXR" : "TIFF") + " takes the compression " +
           QuotedList(allowed) + " (default \"zip\")";
  return false;
}

namespace {

// Half-float bits of v / 255 for every byte value, as the image library
// would convert them, built once.
const std::vector<half>& HalfOfByte() {
  static const std::vector<half> table = [] {
    std::vector<half> t(256);
    for (int i = 0; i < 256; ++i) t[size_t(i)] = half(float(i) / 255.0f);
    return t;
  }();
  return table;
}

}  // namespace

bool WriteImage(const df::Image& image, const std::string& path, ImageFormat format,
                std::string* error, const Compression& compression) {
  const char* name = format == ImageFormat::Png   ? "png"
                     : format == ImageFormat::Exr ? "openexr"
                                                  : "tiff";
  if (image.width < 1 || image.height < 1 || image.rows == nullptr) {
    *error = "cannot write " + path + ": the image is empty (" + std::to_string(image.width) +
             " x " + std::to_string(image.height) + ")";
    return false;
  }
  // The file is encoded in memory and then written whole through a
  // temporary file, so that every write of it is checked here.
  oiio::Filesystem::IOVecOutput encoded;
  try {
    auto out = oiio::ImageOutput::create(name);
    if (!out) {
      *error = "cannot write " + path + ": " + LastError(std::string("no ") + name + " writer");
      return false;
    }
    if (!out->supports("ioproxy") || !out->set_ioproxy(&encoded)) {
      *error = "cannot write " + path + ": the " + name + " writer cannot write to memory";
      return false;
    }
    oiio::ImageSpec layout(
        image.width, image.height, 4,
        format == ImageFormat::Exr ? oiio::TypeDesc::HALF : oiio::TypeDesc::UINT8);
    layout.channelnames = {"R", "G", "B", "A"};
    layout.alpha_channel = 3;
    layout.attribute("oiio:UnassociatedAlpha", 1);
    if (std::isfinite(image.aspect) && image.aspect > 0 && image.aspect != 1.0)
      layout.attribute("PixelAspectRatio", float(1.0 / image.aspect));
    if (compression.level >= 0) layout.attribute("png:compressionLevel", compression.level);
    if (!compression.method.empty()) layout.attribute("compression", compression.method);

    // Reorder to RGBA; for EXR convert to half here, by table, which is much
    // quicker than the library's general conversion.
    const size_t count = size_t(image.width) * size_t(image.height) * 4;
    std::vector<uint8_t> rgba;
    std::vector<half> halves;
    if (format == ImageFormat::Exr)
      halves.resize(count);
    else
      rgba.resize(count);
    const std::vector<half>& toHalf = HalfOfByte();
    for (int y = 0; y < image.height; ++y) {
      const uint8_t* src = image.rows[y];
      const size_t at = size_t(y) * size_t(image.width) * 4;
      if (format == ImageFormat::Exr) {
        half* dst = halves.data() + at;
        for (int x = 0; x < image.width; ++x, src += 4, dst += 4)
          dst[0] = toHalf[src[2]], dst[1] = toHalf[src[1]], dst[2] = toHalf[src[0]],
          dst[3] = toHalf[src[3]];
      } else {
        uint8_t* dst = rgba.data() + at;
        for (int x = 0; x < image.width; ++x, src += 4, dst += 4)
          dst[0] = src[2], dst[1] = src[1], dst[2] = src[0], dst[3] = src[3];
      }
    }
    // The writer's results decide; its error text may also hold harmless
    // notes (the TIFF writer reports an empty Exif block it did not write).
    bool ok = out->open(path, layout) &&
              (format == ImageFormat::Exr ? out->write_image(oiio::TypeDesc::HALF, halves.data())
                                          : out->write_image(oiio::TypeDesc::UINT8, rgba.data()));
    ok = out->close() && ok;
    const std::string why = Trimmed(out->geterror());
    oiio::geterror();
    if (!ok || encoded.buffer().empty()) {
      *error =
          "cannot encode " + path + ": " + (why.empty() ? std::string("the writer failed") : why);
      return false;
    }
  } catch (const std::exception& e) {
    *error = "cannot write " + path + ": " + e.what();
    return false;
  }
  return WriteFileAtomically(path, encoded.buffer().data(), encoded.buffer().size(), error);
}

}  // namespace vorn
