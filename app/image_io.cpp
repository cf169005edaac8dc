#include "image_io.h"

#include <OpenImageIO/half.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <vector>

#include "atomic_file.h"
#include "value_parse.h"

namespace vorn {
namespace {

namespace oiio = OIIO;

std::string LastError(const std::string& fallback) {
  std::string e = oiio::geterror();
  while (!e.empty() && (e.back() == '\n' || e.back() == ' ')) e.pop_back();
  return e.empty() ? fallback : e;
}

std::unique_ptr<oiio::ImageInput> OpenInput(const std::string& path, std::string* error) {
  // Keep unassociated alpha as stored: no premultiplication on reading.
  oiio::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = oiio::ImageInput::open(path, &config);
  if (!in) *error = LastError("not an image file the image library can read");
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
  if (layout.deep || layout.nchannels < 1) {
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
  return OpenChecked(path, info, error) != nullptr;
}

ImageRef ReadImage(const std::string& path, std::string* error) {
  try {
    ImageInfo info;
    auto in = OpenChecked(path, &info, error);
    if (!in) return nullptr;
    const oiio::ImageSpec& layout = Header(*in);
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
    bool ok;
    if (bytes) {
      data8.resize(count);
      ok = in->read_image(0, 0, 0, used, oiio::TypeDesc::UINT8, data8.data());
    } else {
      dataF.resize(count);
      ok = in->read_image(0, 0, 0, used, oiio::TypeDesc::FLOAT, dataF.data());
    }
    if (!ok) {
      *error = "cannot read image " + path + ": " +
               (in->has_error() ? in->geterror() : LastError("read failed"));
      return nullptr;
    }
    ImageRef image = NewImage(info.width, info.height, info.aspect);
    if (!image) {
      *error = "cannot read image " + path + ": not enough memory for " +
               std::to_string(info.width) + " x " + std::to_string(info.height);
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
  } catch (const std::exception& e) {
    *error = "cannot read image " + path + ": " + e.what();
    return nullptr;
  }
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
  const std::string temp = TemporaryPathFor(path);
  try {
    auto out = oiio::ImageOutput::create(name);
    if (!out) {
      *error = "cannot write " + path + ": " + LastError(std::string("no ") + name + " writer");
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
    bool ok = out->open(temp, layout) &&
              (format == ImageFormat::Exr ? out->write_image(oiio::TypeDesc::HALF, halves.data())
                                          : out->write_image(oiio::TypeDesc::UINT8, rgba.data()));
    ok = out->close() && ok;
    if (!ok) {
      *error = "cannot write " + path + ": " +
               (out->has_error() ? out->geterror() : LastError("write failed"));
      DiscardTemporary(temp);
      return false;
    }
  } catch (const std::exception& e) {
    *error = "cannot write " + path + ": " + e.what();
    DiscardTemporary(temp);
    return false;
  }
  return CommitTemporary(temp, path, error);
}

}  // namespace vorn
