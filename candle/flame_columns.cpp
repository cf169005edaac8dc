#include "candle/flame_columns.h"

#include <cmath>
#include <cstring>

#include "framework/values.h"

namespace candle {

FlameChunkContext MakeChunkContext(const FlameFrame& frame, const fw::Gradient* gradients) {
  FlameChunkContext c;
  c.frame = &frame;
  c.gradients = gradients;
  c.curves = BuildColourCurves(frame);
  c.cone = MakeWindCone(frame);
  c.flickerDepth = frame.flickerRate * frame.time;
  c.convectionOffset = frame.convectionRate * frame.time;
  return c;
}

void RenderFlameColumns(const FlameChunkContext& ctx, int begin, int end, std::uint8_t* const* rows,
                        const std::atomic<int>* abortFlag) {
  const FlameFrame& f = *ctx.frame;
  for (int c = begin; c < end; ++c) {
    if (abortFlag && abortFlag->load(std::memory_order_relaxed)) return;
    ColumnStart start;
    start.baseRow = BaseCurveRow(c, f);
    start.startRow = start.baseRow < 0.0f ? 0 : fw::TruncateToInt(start.baseRow);
    start.first = true;
    float sumX = 0.0f, sumY = 0.0f;
    for (int r = start.startRow; r < f.height; ++r) {
      float sx = float(c), sy = float(r);
      if (f.windStrength > 0.0f) {
        const WindStep w = WindOffset(c, r, f, ctx.cone);
        sumX += w.dx;
        sumY += w.dy;
        if (float(r) - start.baseRow < sumY) sumY -= w.dy;
        sx = float(c) - sumX;
        sy = float(r) - sumY;
      }
      float d = FlameDistance(sx, sy, f, start.baseRow);
      if (d <= 1.0f) {
        // The turbulence only adds, so a sample already outside stays outside.
        const float t =
            Turbulence(ctx.gradients, sx, (sy - ctx.convectionOffset) * f.aspect, ctx.flickerDepth,
                       f.lowFrequency, f.highFrequency, f.width, f.height);
        d = d + f.turbulenceAmount * std::fabs(t);
      }
      std::uint8_t* px = rows[r] + 4 * std::size_t(c);
      // A NaN distance (from far-out samples) counts as outside.
      if (d <= 1.0f)
        ColourPixel(px, d, c, r, start, f, ctx.curves);
      else
        std::memset(px, 0, 4);
    }
  }
}

}  // namespace candle
