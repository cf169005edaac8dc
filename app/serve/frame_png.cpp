#include "serve/frame_png.h"

#include <png.h>

#include <csetjmp>
#include <new>
#include <vector>

namespace vorn::serve {

namespace {

void Append(png_structp png, png_bytep data, png_size_t size) {
  auto* out = static_cast<std::string*>(png_get_io_ptr(png));
  bool grown = true;
  try {
    out->append(reinterpret_cast<const char*>(data), size);
  } catch (const std::bad_alloc&) {
    grown = false;
  }
  // Outside the handler: png_error leaves by longjmp.
  if (!grown) png_error(png, "out of memory");
}

void Flush(png_structp) {}

// libpng reports errors by longjmp back to the setjmp here, so this frame
// holds nothing with a destructor.
bool Write(png_structp png, png_infop info, png_bytepp rows, int width, int height) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_compression_level(png, 1);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGBA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  return true;
}

// libpng's own handlers print; these only leave (errors) or ignore (warnings).
[[noreturn]] void Fail(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void Ignore(png_structp, png_const_charp) {}

}  // namespace

bool EncodePngRgba(const uint8_t* rgba, int width, int height, std::string* out) {
  out->clear();
  if (!rgba || width <= 0 || height <= 0) return false;
  std::vector<png_bytep> rows;
  try {
    rows.resize(size_t(height));
    // Level 1 shrinks a frame about tenfold; the reserve saves regrowth.
    out->reserve(size_t(width) * size_t(height) / 2 + 1024);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const size_t stride = size_t(width) * 4;
  for (size_t y = 0; y < rows.size(); ++y) rows[y] = const_cast<png_bytep>(rgba + y * stride);

  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, Fail, Ignore);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = false;
  if (info) {
    png_set_write_fn(png, out, Append, Flush);
    ok = Write(png, info, rows.data(), width, height);
  }
  png_destroy_write_struct(&png, info ? &info : nullptr);
  if (!ok) out->clear();
  return ok;
}

}  // namespace vorn::serve
