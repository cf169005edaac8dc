#include "candle/flame_columns.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "candle/flame_group.h"
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
  // The octaves of Turbulence: the same frequencies, in the same order.
  float f = frame.lowFrequency < 1e-5f ? 1e-5f : frame.lowFrequency;
  if (frame.highFrequency > f) {
    do {
      NoiseOctave& o = c.octaves[c.octaveCount++];
      o.frequency = f;
      o.xFactor = 720.0f * f;
      o.yFactor = 576.0f * f;
      o.depth = fw::MakeNoiseAxis(f * c.flickerDepth);
      f = NarrowToFloat(f * 2.17);
    } while (f < frame.highFrequency && c.octaveCount < kMaxOctaves);
  }
  return c;
}

Colouring MakeColouring(const FlameFrame& f, const ColourCurves& curves) {
  Colouring c{};
  const float sum = f.proportion3 + f.proportion1 + f.proportion2;
  c.noProportions = sum < 1e-10f;
  if (!c.noProportions) {
    c.q1 = std::max(f.proportion1 / sum, 1e-10f);
    c.q2 = std::max(f.proportion2 / sum + c.q1, 2e-10f);
    c.q3 = std::max(f.proportion3 / sum + c.q2, 3e-10f);
  }
  c.width2 = c.q2 - c.q1 != 0.0f ? c.q2 - c.q1 : 1.0f;
  c.thirdEmpty = !(c.q3 > c.q2);
  c.width3 = c.thirdEmpty ? 1.0f : c.q3 - c.q2;
  const float* sources[3] = {curves.red, curves.green, curves.blue};
  for (int k = 0; k < 3; ++k) {
    const float* v = sources[k];
    float* e = c.curve[k];
    e[0] = v[1] - (v[2] - v[1]);
    for (int i = 1; i < 5; ++i) e[i] = v[i];
    e[5] = v[4] - (v[3] - v[4]);
  }
  c.edgeStart = f.edgeStart;
  c.edgeWidth = 1.0f - f.edgeStart;
  c.edgeDegenerate = double(c.edgeWidth) < 1e-10;
  c.density = f.density;
  c.baseSoftness = f.baseSoftness;
  c.hardBase = f.baseSoftness < 1e-10f;
  c.x0 = f.x0;
  c.x1 = f.x1;
  return c;
}

namespace {

// The group's columns: each lane's base row and first row; lanes past the
// strip repeat its last column and never draw.
GroupStart StartGroup(const FlameFrame& f, int c0, int count) {
  GroupStart s;
  s.c0 = c0;
  s.count = count;
  s.firstRow = f.height;
  for (int l = 0; l < kLanes; ++l) {
    const int c = c0 + std::min(l, count - 1);
    const float base = BaseCurveRow(c, f);
    int start = base < 0.0f ? 0 : fw::TruncateToInt(base);
    if (l >= count) start = f.height;
    s.columnIndex[l] = c;
    s.column[l] = float(c);
    s.baseRow[l] = base;
    s.startRow[l] = start;
    s.firstRow = std::min(s.firstRow, start);
  }
  return s;
}

FW_ISA_CLONES
void RenderGroupNarrow(const FlameChunkContext& ctx, const Colouring& colouring,
                       const GroupStart& s, std::uint8_t* const* rows) {
  RenderGroupRowsInline<false>(ctx, colouring, s, rows);
}

bool HasWideRegisters() {
#if defined(CANDLE_WIDE_KERNEL)
  return fw::lanes::HasWideRegisters();
#else
  return false;
#endif
}

void RenderColumns(const FlameChunkContext& ctx, int begin, int end, std::uint8_t* const* rows,
                   const std::atomic<int>* abortFlag, bool wide) {
  const Colouring colouring = MakeColouring(*ctx.frame, ctx.curves);
  for (int c0 = begin; c0 < end; c0 += kLanes) {
    if (abortFlag && abortFlag->load(std::memory_order_relaxed)) return;
    const GroupStart s = StartGroup(*ctx.frame, c0, std::min(kLanes, end - c0));
#if defined(CANDLE_WIDE_KERNEL)
    if (wide) {
      RenderGroupWide(ctx, colouring, s, rows);
      continue;
    }
#endif
    (void)wide;
    RenderGroupNarrow(ctx, colouring, s, rows);
  }
}

}  // namespace

void RenderFlameColumns(const FlameChunkContext& ctx, int begin, int end, std::uint8_t* const* rows,
                        const std::atomic<int>* abortFlag) {
  RenderColumns(ctx, begin, end, rows, abortFlag, HasWideRegisters());
}

void RenderFlameColumnsNarrow(const FlameChunkContext& ctx, int begin, int end,
                              std::uint8_t* const* rows) {
  RenderColumns(ctx, begin, end, rows, nullptr, false);
}

}  // namespace candle
