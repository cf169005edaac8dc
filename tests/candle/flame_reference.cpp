#include "tests/candle/flame_reference.h"

#include <cmath>
#include <cstring>

#include "framework/values.h"

namespace candle {

namespace {

// WindOffset as written, with the library's arc tangent and cosine.
WindStep LibraryWindOffset(int column, int row, const FlameFrame& f) {
  float wx = f.windTargetColumn - f.windSourceColumn, wy = f.windTargetRow - f.windSourceRow;
  NormalizeLength(wx, wy);
  const float half = float(f.windSpread * 0.008726646259971648);
  float vx = float(column) - f.windSourceColumn;
  float vy = float(row) - f.windSourceRow;
  NormalizeLength(vx, vy);
  if (wx * vx + wy * vy <= std::cos(half)) return {};
  const float aV = vx != 0.0f || vy != 0.0f ? std::atan2(vy, vx) : 0.0f;
  const float aW = wx != 0.0f || wy != 0.0f ? std::atan2(wy, wx) : 0.0f;
  const float g = std::cos(AngleBetween(aV, aW) / (half + 1e-5f) * 1.57079637f);
  return {g * f.aspect * f.windStrength * vx, g * f.windStrength * vy};
}

}  // namespace

void ReferenceFlameColumns(const FlameChunkContext& ctx, int begin, int end,
                           std::uint8_t* const* rows) {
  const FlameFrame& f = *ctx.frame;
  for (int c = begin; c < end; ++c) {
    ColumnStart start;
    start.baseRow = BaseCurveRow(c, f);
    start.startRow = start.baseRow < 0.0f ? 0 : fw::TruncateToInt(start.baseRow);
    start.first = true;
    float sumX = 0.0f, sumY = 0.0f;
    for (int r = start.startRow; r < f.height; ++r) {
      float sx = float(c), sy = float(r);
      if (f.windStrength > 0.0f) {
        const WindStep w = LibraryWindOffset(c, r, f);
        sumX += w.dx;
        sumY += w.dy;
        if (float(r) - start.baseRow < sumY) sumY -= w.dy;
        sx = float(c) - sumX;
        sy = float(r) - sumY;
      }
      float d = FlameDistance(sx, sy, f, start.baseRow);
      const float t =
          Turbulence(ctx.gradients, sx, (sy - ctx.convectionOffset) * f.aspect, ctx.flickerDepth,
                     f.lowFrequency, f.highFrequency, f.width, f.height);
      d = d + f.turbulenceAmount * std::fabs(t);
      std::uint8_t* px = rows[r] + 4 * std::size_t(c);
      if (d > 1.0f || std::isnan(d))
        std::memset(px, 0, 4);
      else
        ColourPixel(px, d, c, r, start, f, ctx.curves);
    }
  }
}

}  // namespace candle
