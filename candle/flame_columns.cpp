#include "candle/flame_columns.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "candle/flame_lanes.h"
#include "candle/flame_trig.h"
#include "candle/flame_wind_lanes.h"
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

namespace {

using F = FloatLanes;
using I = IntLanes;

// Sample coordinates beyond this take the one-sample noise, which saturates
// far-out cells; within it the cell is an exact integer.
constexpr float kLaneNoiseRange = 4194304.0f;

// The first lane whose mask is set, or −1.
CANDLE_INLINE int FirstLane(I m) {
  std::uint64_t w[kLanes / 2];
  std::memcpy(w, &m, sizeof w);
  for (int i = 0; i < kLanes / 2; ++i)
    if (w[i]) return 2 * i + (std::uint32_t(w[i]) ? 0 : 1);
  return -1;
}

// Per-frame values of the colouring, in the form the lanes use.
struct Colouring {
  bool noProportions;
  float q1, q2, q3;
  float width2, width3;  // q2 − q1 and q3 − q2, 1 where a band is empty
  bool thirdEmpty;
  float curve[3][6];  // red, green, blue; the ends extrapolated as the spline reads them
  float edgeStart, edgeWidth;
  bool edgeDegenerate;
  float density;
  float baseSoftness;
  bool hardBase;
  int x0, x1;
};

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

CANDLE_INLINE F Min(F a, float hi) {
  return hi < a ? Fill<F>(hi) : a;
}
CANDLE_INLINE F Clamp(F a, float lo, float hi) {
  return a < lo ? Fill<F>(lo) : Min(a, hi);
}

// SmoothStep over a ramp of positive width: 0 below, 1 above, 3t² − 2t³ between.
CANDLE_INLINE F Ramp(F value, float edge0, float width) {
  const F t = (value - edge0) / width;
  const F s = (t * -2.0f + 3.0f) * t * t;
  return t < 0.0f ? Fill<F>(0.0f) : (t > 1.0f ? Fill<F>(1.0f) : s);
}

// The spline of CatmullRom over six effective entries, segment k.
CANDLE_INLINE F Spline(const F* e, I k, F f) {
  const I k0 = k == 0, k1 = k == 1;
  const F p0 = k0 ? e[0] : (k1 ? e[1] : e[2]);
  const F p1 = k0 ? e[1] : (k1 ? e[2] : e[3]);
  const F p2 = k0 ? e[2] : (k1 ? e[3] : e[4]);
  const F p3 = k0 ? e[3] : (k1 ? e[4] : e[5]);
  return p1 + f * (0.5f * (p2 - p0) + f * ((p0 - 2.5f * p1 + 2.0f * p2 - 0.5f * p3) +
                                           f * (-0.5f * p0 + 1.5f * p1 - 1.5f * p2 + 0.5f * p3)));
}

// One group of up to kLanes adjacent columns, moving up the rows together.
struct Group {
  int c0;
  int count;
  I columnIndex;
  F column;
  F baseRow;
  I startRow;
  I first;  // all bits set until the lane's first inside pixel
  F sumX, sumY;
};

// Cell, fraction and weight of each lane's coordinate (MakeNoiseAxis).
CANDLE_INLINE void AxisLanes(F c, I& cell, F& fraction, F& weight) {
  I i = ToInt(c);
  F fi = ToFloat(i);
  const I below = c < fi;
  i = below ? i - 1 : i;
  fi = below ? fi - 1.0f : fi;
  cell = i;
  fraction = c - fi;
  weight = (fraction * -2.0f + 3.0f) * fraction * fraction;
}

// The corner gradients of the cell an octave used last, with their z terms:
// neighbouring rows mostly share it.
struct CornerCache {
  int i = 0, j = 0;
  bool valid = false;
  float gx[8], gy[8], gz[8];
};

// Noise of one octave for the lanes in `need`, added / f into `sum`.
CANDLE_INLINE void OctaveLanes(const FlameChunkContext& ctx, const NoiseOctave& o, F sx, F ty,
                               I need, int lead, bool nearRow, CornerCache& cache, F& sum) {
  const FlameFrame& f = *ctx.frame;
  const F X = o.xFactor * sx / float(f.width);
  const F Y = o.yFactor * ty / float(f.height);
  I todo = need;
  F noise = Fill<F>(0.0f);
  if (!nearRow) {
    // Far-out samples take the one-sample noise, which saturates their cells.
    const I near = (Abs(X) < kLaneNoiseRange) & (Abs(Y) < kLaneNoiseRange);
    const I far = need & ~near;
    for (int l = 0; l < kLanes; ++l)
      if (far[l])
        noise[l] = fw::GradientNoise(ctx.gradients, X[l], Y[l], o.frequency * ctx.flickerDepth);
    todo = need & near;
    lead = FirstLane(todo);
  }
  // Lanes not worked get cell 0.
  I cx, cy;
  F fx, fy, wx, wy;
  AxisLanes(todo ? X : Fill<F>(0.0f), cx, fx, wx);
  AxisLanes(todo ? Y : Fill<F>(0.0f), cy, fy, wy);
  const F fx1 = fx - 1.0f, fy1 = fy - 1.0f;
  const float fz = o.depth.fraction, fz1 = fz - 1.0f, sz = o.depth.weight;
  // One pass per distinct (x, y) cell among the lanes: the eight corner
  // gradients are shared, the rest runs across the lanes.
  while (lead >= 0) {
    const int ci = cx[lead], cj = cy[lead];
    if (!cache.valid || ci != cache.i || cj != cache.j) {
      const uint8_t* P = fw::noisePermutation;
      const unsigned i = unsigned(ci), j = unsigned(cj), k = unsigned(o.depth.cell);
      for (unsigned n = 0; n < 8; ++n) {
        const unsigned a = n & 1, b = (n >> 1) & 1, d = (n >> 2) & 1;
        const fw::Gradient& G =
            ctx.gradients[P[(i + a + P[(j + b + P[(k + d) & 255u]) & 255u]) & 255u]];
        cache.gx[n] = G.x;
        cache.gy[n] = G.y;
        cache.gz[n] = G.z * (d ? fz1 : fz);
      }
      cache.i = ci;
      cache.j = cj;
      cache.valid = true;
    }
    const float* gx = cache.gx;
    const float* gy = cache.gy;
    const float* gz = cache.gz;
    const F v000 = gx[0] * fx + gy[0] * fy + gz[0];
    const F v100 = gx[1] * fx1 + gy[1] * fy + gz[1];
    const F v010 = gx[2] * fx + gy[2] * fy1 + gz[2];
    const F v110 = gx[3] * fx1 + gy[3] * fy1 + gz[3];
    const F v001 = gx[4] * fx + gy[4] * fy + gz[4];
    const F v101 = gx[5] * fx1 + gy[5] * fy + gz[5];
    const F v011 = gx[6] * fx + gy[6] * fy1 + gz[6];
    const F v111 = gx[7] * fx1 + gy[7] * fy1 + gz[7];
    const F x00 = v000 + wx * (v100 - v000);
    const F x10 = v010 + wx * (v110 - v010);
    const F x01 = v001 + wx * (v101 - v001);
    const F x11 = v011 + wx * (v111 - v011);
    const F y0 = x00 + wy * (x10 - x00);
    const F y1 = x01 + wy * (x11 - x01);
    const F value = y0 + sz * (y1 - y0);
    const I mine = todo & (cx == ci) & (cy == cj);
    noise = mine ? value : noise;
    todo &= ~mine;
    lead = Any(todo) ? FirstLane(todo) : -1;
  }
  sum = need ? sum + noise / o.frequency : sum;
}

// Colour and coverage of the inside lanes at one row, packed B, G, R, A.
CANDLE_INLINE WordLanes ColourLanes(const Colouring& c, const F (*curves)[6], Group& g, int row,
                                    F d, I inside) {
  const F a = Clamp(d, 0.0f, 1.0f);
  F position = Fill<F>(0.0f);
  if (!c.noProportions) {
    const F p1 = a / c.q1 * 0.1f;
    const F p2 = (a - c.q1) / c.width2 * 0.55f + 0.1f;
    const F p3 = c.thirdEmpty ? Fill<F>(1.0f) : (a - c.q2) / c.width3 * 0.35f + 0.65f;
    position = Clamp(a <= c.q1 ? p1 : (a <= c.q2 ? p2 : p3), 0.0f, 1.0f);
  }
  // CatmullRom's hold of the parameter just inside 0..1.
  F t = position >= 1.0f ? Fill<F>(0.99999988f)
                         : ((position > 0.0f) == 0 ? Fill<F>(1e-7f) : position);
  t = Clamp(t, 0.0f, 1.0f);
  const F e = t * 3.0f;
  const I k = ToInt(e);
  const F frac = e - ToFloat(k);
  const F red = Clamp(255.0f * Spline(curves[0], k, frac), 0.0f, 255.0f);
  const F green = Clamp(255.0f * Spline(curves[1], k, frac), 0.0f, 255.0f);
  const F blue = Clamp(255.0f * Spline(curves[2], k, frac), 0.0f, 255.0f);
  const F smooth = c.edgeDegenerate ? Fill<F>(0.0f) : Ramp(a, c.edgeStart, c.edgeWidth);
  const F edge = c.edgeStart < a ? (1.0f - smooth) * 255.0f : Fill<F>(255.0f);
  const F coverage = Min(c.density * edge, 255.0f);
  // The first inside pixel over the base counts the share above the base.
  const I weighted = inside & g.first & (g.columnIndex >= c.x0) & (g.columnIndex <= c.x1);
  const F share = (1.0f - (g.baseRow - ToFloat(g.startRow))) * coverage;
  const I alpha = weighted ? ToInt(weighted ? Min(share, 255.0f) : Fill<F>(0.0f)) : ToInt(coverage);
  g.first &= ~inside;
  const F above = float(row + 1) - g.baseRow;
  const F ramp = c.hardBase ? (above > 0.0f ? Fill<F>(1.0f) : Fill<F>(0.0f))
                            : Ramp(above, 0.0f, c.baseSoftness);
  const I cover = ToInt(Clamp(ramp * ToFloat(alpha), 0.0f, 255.0f));
  const WordLanes px = WordLanes(ToInt(blue)) | WordLanes(ToInt(green)) << 8 |
                       WordLanes(ToInt(red)) << 16 | WordLanes(cover) << 24;
  return inside ? px : WordLanes{};
}

// Writes the group's pixels of one row, only the strip's own columns.
CANDLE_INLINE void StoreLanes(std::uint32_t* out, WordLanes packed, int count) {
  if (count == kLanes)
    std::memcpy(out, &packed, sizeof packed);
  else
    for (int l = 0; l < count; ++l) out[l] = packed[l];
}

CANDLE_ISA_CLONES
void RenderGroup(const FlameChunkContext& ctx, const Colouring& colouring, int c0, int count,
                 std::uint8_t* const* rows) {
  const FlameFrame& f = *ctx.frame;
  Group g;
  g.c0 = c0;
  g.count = count;
  int firstRow = f.height;
  for (int l = 0; l < kLanes; ++l) {
    const int c = c0 + std::min(l, count - 1);
    const float base = BaseCurveRow(c, f);
    int start = base < 0.0f ? 0 : fw::TruncateToInt(base);
    if (l >= count) start = f.height;  // lanes past the strip never draw
    g.columnIndex[l] = c;
    g.column[l] = float(c);
    g.baseRow[l] = base;
    g.startRow[l] = start;
    g.first[l] = -1;
    firstRow = std::min(firstRow, start);
  }
  // Below the group's lowest base the buffer is empty; every row above is
  // written in full by the loop below.
  for (int r = 0; r < firstRow; ++r)
    std::memset(reinterpret_cast<std::uint32_t*>(rows[r]) + c0, 0, sizeof(std::uint32_t) * count);
  g.sumX = g.sumY = Fill<F>(0.0f);
  CornerCache corners[kMaxOctaves];
  F curves[3][6];
  for (int n = 0; n < 3; ++n)
    for (int e = 0; e < 6; ++e) curves[n][e] = Fill<F>(colouring.curve[n][e]);
  // Samples whose |x| and |y| stay below these keep every octave's cell
  // coordinates exact integers in the lanes.
  float limitX = 0.0f, limitY = 0.0f;
  if (ctx.octaveCount > 0) {
    const NoiseOctave& top = ctx.octaves[ctx.octaveCount - 1];
    limitX = float(2097152.0 * f.width / top.xFactor);
    limitY = float(2097152.0 * f.height / top.yFactor);
  }
  const bool windy = f.windStrength > 0.0f;
  // The wind of a row depends on nothing but the row: a batch of rows is
  // worked ahead as independent iterations, which overlap in the processor
  // where one row after another would wait on each division chain.
  constexpr int kWindBatch = 32;
  F windX[kWindBatch], windY[kWindBatch];
  for (int r = firstRow; r < f.height; ++r) {
    const float row = float(r);
    const I active = g.startRow <= r;
    F sx, sy;
    if (windy) {
      const int slot = (r - firstRow) % kWindBatch;
      if (slot == 0)
        WindRows(f, ctx.cone, g.column, r, std::min(kWindBatch, f.height - r), windX, windY);
      const F dx = windX[slot], dy = windY[slot];
      const F x = g.sumX + dx;
      F y = g.sumY + dy;
      y = row - g.baseRow < y ? y - dy : y;
      g.sumX = active ? x : g.sumX;
      g.sumY = active ? y : g.sumY;
      sx = g.column - g.sumX;
      sy = row - g.sumY;
    } else {
      sx = g.column;
      sy = Fill<F>(row);
    }
    const F ex = Abs(sx - f.centre) / f.halfWidth;
    const F ey = (sy - g.baseRow) / f.flameHeight;
    F d = Sqrt(ex * ex + ey * ey);
    const I need = active & (d <= 1.0f);
    std::uint32_t* out = reinterpret_cast<std::uint32_t*>(rows[r]) + c0;
    if (!Any(need)) {
      StoreLanes(out, WordLanes{}, count);
      continue;
    }
    // The turbulence only adds, so samples already outside stay outside.
    const F ty = (sy - ctx.convectionOffset) * f.aspect;
    F sum = Fill<F>(0.0f);
    const bool nearRow = !Any(need & ~((Abs(sx) < limitX) & (Abs(ty) < limitY)));
    const int lead = FirstLane(need);
    for (int n = 0; n < ctx.octaveCount; ++n)
      OctaveLanes(ctx, ctx.octaves[n], sx, ty, need, lead, nearRow, corners[n], sum);
    d = need ? d + f.turbulenceAmount * Abs(sum) : d;
    const I inside = need & (d <= 1.0f);  // a NaN distance counts as outside
    StoreLanes(out, Any(inside) ? ColourLanes(colouring, curves, g, r, d, inside) : WordLanes{},
               count);
  }
}

}  // namespace

void RenderFlameColumns(const FlameChunkContext& ctx, int begin, int end, std::uint8_t* const* rows,
                        const std::atomic<int>* abortFlag) {
  const Colouring colouring = MakeColouring(*ctx.frame, ctx.curves);
  for (int c0 = begin; c0 < end; c0 += kLanes) {
    if (abortFlag && abortFlag->load(std::memory_order_relaxed)) return;
    RenderGroup(ctx, colouring, c0, std::min(kLanes, end - c0), rows);
  }
}

}  // namespace candle
