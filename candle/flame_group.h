// One group of adjacent columns moving up the rows: the wind sums, the
// distance, the turbulence octaves and the colour, written once over lane
// types. The eight-lane form works one row at a time; the sixteen-lane form
// (processors with 512-bit registers) works two rows in one vector once
// their wind sums are known, which halves the instructions and lets the two
// rows' long arithmetic chains overlap. Every lane computes the same
// correctly rounded operations in either form: the same bytes.
//
// Everything here is inlined into its caller (no out-of-line copy), and
// nothing from the standard library is called, so the file compiled for
// 512-bit registers shares no code with the others.
#pragma once

#include <cstdint>
#include <type_traits>

#include "candle/flame_columns.h"
#include "candle/flame_lanes.h"
#include "candle/flame_wind_lanes.h"

namespace candle {

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
Colouring MakeColouring(const FlameFrame& f, const ColourCurves& curves);

// A group's columns as the caller set them up: lanes past the strip have a
// start row of the image height and never draw.
struct GroupStart {
  int c0 = 0;
  int count = 0;     // columns of the strip in the group, 1..kLanes
  int firstRow = 0;  // the lowest start row of the group
  FloatLanes column;
  FloatLanes baseRow;
  IntLanes startRow;
  IntLanes columnIndex;
};

// The two-rows form; only on processors with 512-bit registers.
void RenderGroupWide(const FlameChunkContext& ctx, const Colouring& colouring, const GroupStart& s,
                     std::uint8_t* const* rows);

namespace lanes {

// Sample coordinates beyond this take the one-sample noise, which saturates
// far-out cells; within it the cell is an exact integer.
inline constexpr float kLaneNoiseRange = 4194304.0f;

using fw::lanes::kCount;

// The first lane whose mask is set, or −1.
template <class M>
FW_LANES_INLINE int FirstLane(M m) {
  for (int l = 0; l < kCount<M>; ++l)
    if (m[l]) return l;
  return -1;
}

template <class F>
FW_LANES_INLINE F Min(F a, float hi) {
  return hi < a ? Fill<F>(hi) : a;
}
template <class F>
FW_LANES_INLINE F Clamp(F a, float lo, float hi) {
  return a < lo ? Fill<F>(lo) : Min(a, hi);
}

// SmoothStep over a ramp of positive width: 0 below, 1 above, 3t² − 2t³ between.
template <class F>
FW_LANES_INLINE F Ramp(F value, float edge0, float width) {
  const F t = (value - edge0) / width;
  const F s = (t * -2.0f + 3.0f) * t * t;
  return t < 0.0f ? Fill<F>(0.0f) : (t > 1.0f ? Fill<F>(1.0f) : s);
}

// The spline of CatmullRom over six effective entries, segment k.
template <class F, class I>
FW_LANES_INLINE F Spline(const F* e, I k, F f) {
  const I k0 = k == 0, k1 = k == 1;
  const F p0 = k0 ? e[0] : (k1 ? e[1] : e[2]);
  const F p1 = k0 ? e[1] : (k1 ? e[2] : e[3]);
  const F p2 = k0 ? e[2] : (k1 ? e[3] : e[4]);
  const F p3 = k0 ? e[3] : (k1 ? e[4] : e[5]);
  return p1 + f * (0.5f * (p2 - p0) + f * ((p0 - 2.5f * p1 + 2.0f * p2 - 0.5f * p3) +
                                           f * (-0.5f * p0 + 1.5f * p1 - 1.5f * p2 + 0.5f * p3)));
}

// Cell, fraction and weight of each lane's coordinate (MakeNoiseAxis).
template <class F, class I>
FW_LANES_INLINE void AxisLanes(F c, I& cell, F& fraction, F& weight) {
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
template <class F, class I>
FW_LANES_INLINE void OctaveLanes(const FlameChunkContext& ctx, const NoiseOctave& o, F sx, F ty,
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
    for (int l = 0; l < kCount<F>; ++l)
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

// The per-lane values the colouring reads besides the distance.
template <class F, class I>
struct ColourLanesIn {
  I first;  // set until the lane's first inside pixel
  I columnIndex;
  F baseRow;
  I startRow;
  F rowAbove;  // the lane's row + 1
};

// Colour and coverage of the inside lanes, packed B, G, R, A.
template <class F, class I, class W>
FW_LANES_INLINE W ColourLanes(const Colouring& c, const F (*curves)[6],
                              const ColourLanesIn<F, I>& g, F d, I inside) {
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
  const F above = g.rowAbove - g.baseRow;
  const F ramp = c.hardBase ? (above > 0.0f ? Fill<F>(1.0f) : Fill<F>(0.0f))
                            : Ramp(above, 0.0f, c.baseSoftness);
  const I cover = ToInt(Clamp(ramp * ToFloat(alpha), 0.0f, 255.0f));
  const W px = W(ToInt(blue)) | W(ToInt(green)) << 8 | W(ToInt(red)) << 16 | W(cover) << 24;
  return inside ? px : W{};
}

// Writes the group's pixels of one row, only the strip's own columns.
FW_LANES_INLINE void StoreLanes(std::uint8_t* row, int c0, WordLanes packed, int count) {
  std::uint32_t* out = reinterpret_cast<std::uint32_t*>(row) + c0;
  if (count == kLanes)
    __builtin_memcpy(out, &packed, sizeof packed);
  else
    for (int l = 0; l < count; ++l) out[l] = packed[l];
}

// Two eight-lane vectors as one of sixteen (a in the low lanes), and back.
template <class V>
FW_LANES_INLINE auto Join(V a, V b) {
  return __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}
// Rows a and b as the kPairs form holds them: joined, or a alone.
template <bool kPairs, class V>
FW_LANES_INLINE auto PairOf(V a, V b) {
  if constexpr (kPairs)
    return Join(a, b);
  else
    return a;
}
template <class V>
FW_LANES_INLINE auto Low(V v) {
  return __builtin_shufflevector(v, v, 0, 1, 2, 3, 4, 5, 6, 7);
}
template <class V>
FW_LANES_INLINE auto High(V v) {
  return __builtin_shufflevector(v, v, 8, 9, 10, 11, 12, 13, 14, 15);
}

}  // namespace lanes

template <bool kPairs>
FW_LANES_INLINE void RenderGroupRowsInline(const FlameChunkContext& ctx, const Colouring& colouring,
                                           const GroupStart& s, std::uint8_t* const* rows) {
  using namespace lanes;
  using F = std::conditional_t<kPairs, WideFloatLanes, FloatLanes>;
  using I = std::conditional_t<kPairs, WideIntLanes, IntLanes>;
  using W = std::conditional_t<kPairs, WideWordLanes, WordLanes>;
  const FlameFrame& f = *ctx.frame;
  // Below the group's lowest base the buffer is empty; every row above is
  // written in full by the loop below.
  for (int r = 0; r < s.firstRow; ++r) __builtin_memset(rows[r] + 4 * s.c0, 0, 4 * s.count);
  FloatLanes sumX = Fill<FloatLanes>(0.0f), sumY = sumX;
  IntLanes first = IntLanes{} - 1;
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
  const F baseRow = PairOf<kPairs>(s.baseRow, s.baseRow);
  const I columnIndex = PairOf<kPairs>(s.columnIndex, s.columnIndex);
  const I startRow = PairOf<kPairs>(s.startRow, s.startRow);
  const bool windy = f.windStrength > 0.0f;
  // The wind of a row depends on nothing but the row: a batch of rows is
  // worked ahead as independent iterations.
  constexpr int kWindBatch = 32;
  FloatLanes windX[kWindBatch], windY[kWindBatch];
  constexpr int kStep = kPairs ? 2 : 1;
  for (int r = s.firstRow; r < f.height; r += kStep) {
    // The wind sums run row by row; each row's sample position follows.
    const int rowsHere = kPairs && r + 1 < f.height ? 2 : 1;
    FloatLanes sx[2], sy[2];
    IntLanes active[2] = {IntLanes{}, IntLanes{}};
    for (int k = 0; k < rowsHere; ++k) {
      const int rr = r + k;
      const float row = float(rr);
      active[k] = s.startRow <= rr;
      if (windy) {
        const int slot = (rr - s.firstRow) % kWindBatch;
        if (slot == 0) {
          const int left = f.height - rr;
          WindRows(f, ctx.cone, s.column, rr, left < kWindBatch ? left : kWindBatch, windX, windY);
        }
        const FloatLanes dx = windX[slot], dy = windY[slot];
        const FloatLanes x = sumX + dx;
        FloatLanes y = sumY + dy;
        y = row - s.baseRow < y ? y - dy : y;
        sumX = active[k] ? x : sumX;
        sumY = active[k] ? y : sumY;
        sx[k] = s.column - sumX;
        sy[k] = row - sumY;
      } else {
        sx[k] = s.column;
        sy[k] = Fill<FloatLanes>(row);
      }
    }
    if (rowsHere == 1) sx[1] = sx[0], sy[1] = sy[0];
    const F SX = PairOf<kPairs>(sx[0], sx[1]);
    const F SY = PairOf<kPairs>(sy[0], sy[1]);
    const I act = PairOf<kPairs>(active[0], active[1]);
    const F rowAbove =
        PairOf<kPairs>(Fill<FloatLanes>(float(r + 1)), Fill<FloatLanes>(float(r + 2)));
    const F ex = Abs(SX - f.centre) / f.halfWidth;
    const F ey = (SY - baseRow) / f.flameHeight;
    F d = Sqrt(ex * ex + ey * ey);
    const I need = act & (d <= 1.0f);
    W px{};
    if (Any(need)) {
      // The turbulence only adds, so samples already outside stay outside.
      const F ty = (SY - ctx.convectionOffset) * f.aspect;
      F sum = Fill<F>(0.0f);
      const bool nearRow = !Any(need & ~((Abs(SX) < limitX) & (Abs(ty) < limitY)));
      const int lead = FirstLane(need);
      for (int n = 0; n < ctx.octaveCount; ++n)
        OctaveLanes(ctx, ctx.octaves[n], SX, ty, need, lead, nearRow, corners[n], sum);
      d = need ? d + f.turbulenceAmount * Abs(sum) : d;
      const I inside = need & (d <= 1.0f);  // a NaN distance counts as outside
      if (Any(inside)) {
        ColourLanesIn<F, I> in;
        if constexpr (kPairs) {
          const IntLanes low = Low(inside);
          in.first = PairOf<kPairs>(first, first & ~low);
          first &= ~low & ~IntLanes(High(inside));
        } else {
          in.first = first;
          first &= ~inside;
        }
        in.columnIndex = columnIndex;
        in.baseRow = baseRow;
        in.startRow = startRow;
        in.rowAbove = rowAbove;
        px = ColourLanes<F, I, W>(colouring, curves, in, d, inside);
      }
    }
    if constexpr (kPairs) {
      StoreLanes(rows[r], s.c0, WordLanes(Low(px)), s.count);
      if (rowsHere == 2) StoreLanes(rows[r + 1], s.c0, WordLanes(High(px)), s.count);
    } else {
      StoreLanes(rows[r], s.c0, px, s.count);
    }
  }
}

}  // namespace candle
