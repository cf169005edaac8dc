#include "default_images.h"

#include <algorithm>
#include <cmath>

#include "font5x7.h"

namespace vorn {
namespace {

struct Rgb {
  uint8_t r, g, b;
};

void Put(uint8_t* p, Rgb c) {
  p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = 255;
}

// The card's picture at one pixel, in coordinates of the width (x in 0..1, y
// in 0..frameHeight), `px` the size of one pixel in those units.
Rgb CardPixel(double x, double y, double frameHeight, double px) {
  const double cx = 0.5, cy = frameHeight * 0.5;
  const double line = std::max(px, 1.0 / 960.0);  // at least 1 pixel, 2 at 1920
  auto near = [&](double v, double target) { return std::fabs(v - target) < line; };

  // Corner marks, one colour per corner so that flips and turns show.
  const double mark = 1.0 / 16.0;
  if (x < mark && y < mark) return {220, 40, 40};
  if (x > 1 - mark && y < mark) return {40, 200, 60};
  if (x < mark && y > frameHeight - mark) return {50, 80, 230};
  if (x > 1 - mark && y > frameHeight - mark) return {230, 210, 40};

  // Circle about the centre and the cross-hair.
  const double radius = std::min(0.5, frameHeight * 0.5) * 0.85;
  const double d = std::hypot(x - cx, y - cy);
  if (std::fabs(d - radius) < line * 1.5) return {255, 255, 255};
  if (near(x, cx) || near(y, cy)) return {255, 255, 255};

  // Bands inside the middle of the frame: colour bars, grey ramp, checks.
  const double left = 0.2, right = 0.8;
  if (x >= left && x < right) {
    const double u = (x - left) / (right - left);
    const double top = frameHeight * 0.30, barsEnd = frameHeight * 0.46;
    const double rampEnd = frameHeight * 0.54, checksEnd = frameHeight * 0.62;
    if (y >= top && y < barsEnd) {
      static const Rgb bars[7] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                                  {191, 0, 191},   {191, 0, 0},   {0, 0, 191}};
      return bars[std::min(6, int(u * 7))];
    }
    if (y >= barsEnd && y < rampEnd) {
      const uint8_t v = uint8_t(std::min(255.0, u * 256.0));
      return {v, v, v};
    }
    if (y >= rampEnd && y < checksEnd) {
      const double size = 1.0 / 128.0;
      const long a = long(std::floor(x / size)), b = long(std::floor(y / size));
      return ((a + b) & 1) ? Rgb{250, 250, 250} : Rgb{10, 10, 10};
    }
  }

  // Grid over a mid-dark ground, with a finer grid between the main lines.
  const double cell = 1.0 / 16.0;
  const double gx = x / cell - std::floor(x / cell), gy = y / cell - std::floor(y / cell);
  const double lineCells = line / cell;
  if (gx < lineCells || gy < lineCells) return {170, 170, 170};
  const double fx = x / (cell / 4) - std::floor(x / (cell / 4));
  const double fy = y / (cell / 4) - std::floor(y / (cell / 4));
  const double fineLine = line / (cell / 4);
  if ((fx < fineLine && fy < 0.5) || (fy < fineLine && fx < 0.5)) return {96, 96, 96};
  // A faint diagonal shading keeps flat areas from being uniform.
  const uint8_t base = uint8_t(40 + int(8.0 * (x + y / std::max(frameHeight, 1e-9))));
  return {base, base, uint8_t(base + 8)};
}

double SafeAspect(double aspect) {
  return (std::isfinite(aspect) && aspect > 0) ? aspect : 1.0;
}

}  // namespace

ImageRef MakeTestCard(int width, int height, double aspect) {
  ImageRef image = NewImage(width, height, aspect);
  if (!image || width < 1 || height < 1) return image;
  const double a = SafeAspect(aspect);
  const double px = 1.0 / width;
  const double frameHeight = height * a * px;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = image->rows[y];
    const double fy = (y + 0.5) * a * px;
    for (int x = 0; x < width; ++x)
      Put(row + size_t(x) * 4, CardPixel((x + 0.5) * px, fy, frameHeight, px));
  }
  // Caption with the size, near the top edge.
  const std::string caption =
      "VORN TEST CARD " + std::to_string(width) + "X" + std::to_string(height);
  const int scale = std::max(1, width / 480);
  const int tx = (width - TextWidth(caption, scale)) / 2;
  const int ty = std::max(1, height / 12);
  // On a dark plate, so the lines behind it do not cut through the letters.
  const int pad = 2 * scale;
  for (int y = std::max(0, ty - pad); y < std::min(height, ty + 7 * scale + pad); ++y)
    for (int x = std::max(0, tx - pad); x < std::min(width, tx + TextWidth(caption, scale) + pad);
         ++x)
      Put(image->rows[y] + size_t(x) * 4, {16, 16, 16});
  const uint8_t white[4] = {255, 255, 255, 255};
  DrawText(image->rows, width, height, tx, ty, scale, caption, white);
  return image;
}

ImageRef MakeDarkBackground(int width, int height, double aspect) {
  ImageRef image = NewImage(width, height, aspect);
  if (!image) return image;
  for (int y = 0; y < height; ++y) {
    const double t = height > 1 ? double(y) / (height - 1) : 0.0;
    const Rgb c = {uint8_t(18 - 10 * t), uint8_t(22 - 12 * t), uint8_t(40 - 24 * t)};
    uint8_t* row = image->rows[y];
    for (int x = 0; x < width; ++x) Put(row + size_t(x) * 4, c);
  }
  return image;
}

ImageRef MakeBlack(int width, int height, double aspect) {
  ImageRef image = NewImage(width, height, aspect);
  if (!image) return image;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) Put(image->rows[y] + size_t(x) * 4, {0, 0, 0});
  return image;
}

ImageRef MakeDefaultImage(const std::string& className, int width, int height, double aspect) {
  if (className == "BubblesPlugIn") return MakeBlack(width, height, aspect);
  if (className == "CandlePlugIn") return MakeDarkBackground(width, height, aspect);
  return MakeTestCard(width, height, aspect);
}

const char* DefaultImageName(const std::string& className) {
  if (className == "BubblesPlugIn") return "black birth image";
  if (className == "CandlePlugIn") return "dark background";
  return "test card";
}

}  // namespace vorn
