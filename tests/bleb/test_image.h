// Small owned BGRA images for the warp tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace bleb::test {

struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> data;
  std::vector<std::uint8_t*> rows;

  Image(int w, int h, std::uint8_t fill = 0)
      : width(w), height(h), data(static_cast<std::size_t>(w) * h * 4, fill), rows(h) {
    for (int y = 0; y < h; ++y) rows[y] = data.data() + static_cast<std::size_t>(y) * w * 4;
  }
  Image(const Image& o) : Image(o.width, o.height) { data = o.data; }
  Image& operator=(const Image&) = delete;

  std::uint8_t* at(int x, int y) { return rows[y] + 4 * x; }
  const std::uint8_t* at(int x, int y) const { return rows[y] + 4 * x; }
  const std::uint8_t* const* in() const { return rows.data(); }
  std::uint8_t* const* out() { return rows.data(); }
  bool operator==(const Image& o) const {
    return width == o.width && height == o.height && data == o.data;
  }
};

inline Image Uniform(int w, int h, std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a) {
  Image im(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = im.at(x, y);
      p[0] = b, p[1] = g, p[2] = r, p[3] = a;
    }
  return im;
}

// Smooth, textured content: every byte varies, slowly enough that a shift of
// a small fraction of a pixel moves a value by well under a level.
inline Image Smooth(int w, int h) {
  Image im(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = im.at(x, y);
      for (int b = 0; b < 4; ++b)
        p[b] = static_cast<std::uint8_t>(127.5 +
                                         100 * std::sin(x * 0.05 + b) * std::cos(y * 0.037 - b) +
                                         20 * std::sin((x + y) * 0.013));
    }
  return im;
}

// Smooth content under a dark grid every 10 pixels: shows the warp at a
// glance and has sharp edges for every regime to resample.
inline Image Grid(int w, int h) {
  Image im = Smooth(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (x % 10 == 0 || y % 10 == 0)
        for (int b = 0; b < 3; ++b) im.at(x, y)[b] /= 4;
  return im;
}

// Sharp content: a hash per pixel.
inline Image Noise(int w, int h, std::uint32_t seed = 1) {
  Image im(w, h);
  std::uint32_t s = seed;
  for (auto& v : im.data) {
    s = s * 1664525u + 1013904223u;
    v = static_cast<std::uint8_t>(s >> 24);
  }
  return im;
}

}  // namespace bleb::test
