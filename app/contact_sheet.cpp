#include "contact_sheet.h"

#include <algorithm>
#include <cmath>

#include "font5x7.h"

namespace vorn {
namespace {

constexpr int kMargin = 16;
constexpr int kTextScale = 2;
constexpr int kLabelHeight = kGlyphHeight * kTextScale + 12;

int ThumbHeight(const df::Image& image, int thumbWidth) {
  const double aspect = std::isfinite(image.aspect) && image.aspect > 0 ? image.aspect : 1.0;
  const double h = double(image.height) * aspect / std::max(1, image.width) * thumbWidth;
  return std::clamp(int(h + 0.5), 1, 4 * thumbWidth);
}

}  // namespace

void ScaleInto(const df::Image& source, df::Image* target, int x0, int y0, int width, int height) {
  if (source.width < 1 || source.height < 1 || width < 1 || height < 1) return;
  for (int ty = 0; ty < height; ++ty) {
    const int py = y0 + ty;
    if (py < 0 || py >= target->height) continue;
    const long sy0 = long(ty) * source.height / height;
    const long sy1 = std::max(sy0 + 1, long(ty + 1) * source.height / height);
    for (int tx = 0; tx < width; ++tx) {
      const int px = x0 + tx;
      if (px < 0 || px >= target->width) continue;
      const long sx0 = long(tx) * source.width / width;
      const long sx1 = std::max(sx0 + 1, long(tx + 1) * source.width / width);
      unsigned long sum[4] = {0, 0, 0, 0};
      for (long sy = sy0; sy < sy1; ++sy) {
        const uint8_t* p = source.rows[sy] + sx0 * 4;
        for (long sx = sx0; sx < sx1; ++sx, p += 4)
          for (int c = 0; c < 4; ++c) sum[c] += p[c];
      }
      const unsigned long n = (unsigned long)((sy1 - sy0) * (sx1 - sx0));
      uint8_t* out = target->rows[py] + size_t(px) * 4;
      // Premultiplied colour over the sheet's ground, so that transparent
      // renders stay visible.
      const unsigned long alpha = (sum[3] + n / 2) / n;
      for (int c = 0; c < 3; ++c) {
        const unsigned long v = (sum[c] + n / 2) / n + (out[c] * (255 - alpha) + 127) / 255;
        out[c] = uint8_t(std::min(v, 255UL));
      }
      out[3] = 255;
    }
  }
}

ImageRef MakeContactSheet(const std::string& title, const std::vector<SheetEntry>& entries,
                          int thumbWidth, int columns) {
  columns = std::max(1, std::min<int>(columns, std::max<int>(1, int(entries.size()))));
  thumbWidth = std::max(8, thumbWidth);
  int cellHeight = thumbWidth * 9 / 16;
  for (const SheetEntry& e : entries)
    if (e.image) cellHeight = std::max(cellHeight, ThumbHeight(*e.image, thumbWidth));
  const int rows = std::max(1, int((entries.size() + size_t(columns) - 1) / size_t(columns)));
  const int titleHeight = kGlyphHeight * 3 + 2 * kMargin;
  const int width = kMargin + columns * (thumbWidth + kMargin);
  const int height = titleHeight + rows * (cellHeight + kLabelHeight + kMargin);
  ImageRef sheet = NewImage(width, height);
  if (!sheet) return sheet;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = sheet->rows[y] + size_t(x) * 4;
      p[0] = 34, p[1] = 30, p[2] = 28, p[3] = 255;
    }
  const uint8_t white[4] = {240, 240, 240, 255};
  const uint8_t grey[4] = {190, 190, 190, 255};
  DrawText(sheet->rows, width, height, kMargin, kMargin, 3, title, white);
  for (size_t i = 0; i < entries.size(); ++i) {
    const int col = int(i % size_t(columns)), row = int(i / size_t(columns));
    const int x = kMargin + col * (thumbWidth + kMargin);
    const int y = titleHeight + row * (cellHeight + kLabelHeight + kMargin);
    if (const df::Image* image = entries[i].image.get()) {
      const int h = ThumbHeight(*image, thumbWidth);
      ScaleInto(*image, sheet.get(), x, y + (cellHeight - h) / 2, thumbWidth, h);
    }
    // Shorten labels that would run into the next cell.
    std::string label = entries[i].label;
    while (!label.empty() && TextWidth(label, kTextScale) > thumbWidth) label.pop_back();
    DrawText(sheet->rows, width, height, x, y + cellHeight + 6, kTextScale, label, grey);
  }
  return sheet;
}

}  // namespace vorn
