#include "tests/support/golden.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace testsupport {

namespace {

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using File = std::unique_ptr<FILE, FileCloser>;

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

bool SplitAssign(const std::string& rest, std::pair<std::string, std::string>* kv) {
  const size_t eq = rest.find('=');
  if (eq == std::string::npos) return false;
  *kv = {Trim(rest.substr(0, eq)), Trim(rest.substr(eq + 1))};
  return !kv->first.empty() && !kv->second.empty();
}

bool ReadCase(const std::filesystem::path& dir, GoldenCase* c, std::string* error) {
  std::ifstream in(dir / "case.txt");
  if (!in) {
    *error = "cannot read " + (dir / "case.txt").string();
    return false;
  }
  c->name = dir.filename().string();
  c->dir = dir.string();
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    line = Trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    std::istringstream words(line);
    std::string key;
    words >> key;
    std::string rest;
    std::getline(words, rest);
    rest = Trim(rest);
    std::pair<std::string, std::string> kv;
    bool ok = true;
    if (key == "size")
      ok = bool(std::istringstream(rest) >> c->width >> c->height) && c->width > 0 && c->height > 0;
    else if (key == "aspect")
      ok = bool(std::istringstream(rest) >> c->aspect);
    else if (key == "time")
      ok = bool(std::istringstream(rest) >> c->time);
    else if (key == "frames")
      ok = bool(std::istringstream(rest) >> c->frames) && c->frames >= 1;
    else if (key == "input" && SplitAssign(rest, &kv))
      c->inputs.push_back(kv);
    else if (key == "set" && SplitAssign(rest, &kv))
      c->sets.push_back(kv);
    else if (key == "tolerance")
      ok = bool(std::istringstream(rest) >> c->tolerance) && c->tolerance >= 0 &&
           c->tolerance <= 255;
    else if (key == "reason")
      ok = !(c->reason = rest).empty();
    else
      ok = false;
    if (!ok) {
      *error =
          (dir / "case.txt").string() + ":" + std::to_string(n) + ": cannot read '" + line + "'";
      return false;
    }
  }
  if (c->width <= 0 || c->tolerance < 0) {
    *error =
        (dir / "case.txt").string() + (c->width <= 0 ? ": no size line" : ": no tolerance line");
    return false;
  }
  if (c->tolerance > 0 && c->reason.empty()) {
    *error = (dir / "case.txt").string() + ": a tolerance above 0 needs a reason line";
    return false;
  }
  return true;
}

}  // namespace

bool WritePng(const std::string& path, const Pixels& p) {
  File f(std::fopen(path.c_str(), "wb"));
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  std::vector<uint8_t> row(size_t(p.width) * 4);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, f.get());
  png_set_IHDR(png, info, png_uint_32(p.width), png_uint_32(p.height), 8, PNG_COLOR_TYPE_RGBA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < p.height; ++y) {
    const uint8_t* src = p.bytes.data() + size_t(y) * p.width * 4;
    for (int x = 0; x < p.width; ++x) {
      row[x * 4 + 0] = src[x * 4 + 2];
      row[x * 4 + 1] = src[x * 4 + 1];
      row[x * 4 + 2] = src[x * 4 + 0];
      row[x * 4 + 3] = src[x * 4 + 3];
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fflush(f.get()) == 0;
}

namespace {

// libpng reports a bad file by jumping back to setjmp: the calls that may
// jump are kept here, with no C++ object of this frame alive across them,
// and the caller words the error.
enum class PngRead { kOk, kUnreadable, kNotRgba8 };

PngRead ReadRgba8(png_structp png, png_infop info, std::FILE* f, Pixels* p) {
  if (setjmp(png_jmpbuf(png))) return PngRead::kUnreadable;
  png_init_io(png, f);
  png_read_info(png, info);
  if (png_get_color_type(png, info) != PNG_COLOR_TYPE_RGBA || png_get_bit_depth(png, info) != 8)
    return PngRead::kNotRgba8;
  p->width = int(png_get_image_width(png, info));
  p->height = int(png_get_image_height(png, info));
  p->bytes.assign(size_t(p->width) * p->height * 4, 0);
  for (int y = 0; y < p->height; ++y) {
    uint8_t* row = p->bytes.data() + size_t(y) * p->width * 4;
    png_read_row(png, row, nullptr);
    for (int x = 0; x < p->width; ++x) std::swap(row[x * 4 + 0], row[x * 4 + 2]);
  }
  return PngRead::kOk;
}

}  // namespace

bool ReadPng(const std::string& path, Pixels* p, std::string* error) {
  File f(std::fopen(path.c_str(), "rb"));
  if (!f) {
    *error = "cannot open " + path;
    return false;
  }
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    *error = "out of memory";
    return false;
  }
  const PngRead read = ReadRgba8(png, info, f.get(), p);
  png_destroy_read_struct(&png, &info, nullptr);
  if (read == PngRead::kUnreadable) *error = "not a readable PNG: " + path;
  if (read == PngRead::kNotRgba8) *error = path + " is not 8-bit RGBA";
  return read == PngRead::kOk;
}

bool ReadGoldenCases(const std::string& root, std::vector<GoldenCase>* cases, std::string* error) {
  std::vector<std::filesystem::path> dirs;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(root, ec))
    if (e.is_directory()) dirs.push_back(e.path());
  if (ec) {
    *error = "cannot list " + root + ": " + ec.message();
    return false;
  }
  std::sort(dirs.begin(), dirs.end());
  for (const auto& d : dirs) {
    GoldenCase c;
    if (!ReadCase(d, &c, error)) return false;
    cases->push_back(std::move(c));
  }
  return true;
}

bool MatchesGolden(const GoldenCase& c, const Pixels& rendered, std::string* message) {
  const std::string expected = c.dir + "/expected.png";
  if (std::getenv("UPDATE_GOLDEN")) {
    if (WritePng(expected, rendered)) return true;
    *message = "cannot write " + expected;
    return false;
  }
  Pixels want;
  std::string error;
  if (!ReadPng(expected, &want, &error)) {
    *message = error + " (make it with UPDATE_GOLDEN=1)";
    return false;
  }
  std::ostringstream out;
  out << c.name << ": render differs from " << expected;
  if (want.width != rendered.width || want.height != rendered.height) {
    out << ": size " << rendered.width << "x" << rendered.height << ", expected " << want.width
        << "x" << want.height;
  } else {
    long first = -1;
    int largest = 0;
    size_t differing = 0;
    Pixels difference{want.width, want.height, std::vector<uint8_t>(want.bytes.size(), 0)};
    for (size_t i = 0; i < want.bytes.size(); ++i) {
      const int d = std::abs(int(want.bytes[i]) - int(rendered.bytes[i]));
      if (!d) continue;
      if (first < 0) first = long(i / 4);
      largest = std::max(largest, d);
      ++differing;
      uint8_t* px = &difference.bytes[i / 4 * 4];
      px[0] = px[1] = px[2] = std::max(px[0], uint8_t(std::min(255, d * 64)));
    }
    if (largest <= c.tolerance) return true;
    for (size_t i = 3; i < difference.bytes.size(); i += 4) difference.bytes[i] = 255;
    out << ": first at pixel (" << first % want.width << ", " << first / want.width
        << "), largest difference " << largest << " (tolerance " << c.tolerance << "), "
        << differing << " bytes differ";
    const std::string picture = c.dir + "/difference.png";
    if (WritePng(picture, difference)) out << "; difference written to " << picture;
  }
  const std::string actual = c.dir + "/rendered.png";
  if (WritePng(actual, rendered)) out << "; render written to " << actual;
  *message = out.str();
  return false;
}

}  // namespace testsupport
