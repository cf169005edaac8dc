#include "candle/flame_columns.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "candle/flame_trig.h"
#include "framework/values.h"

// The group kernel gets AVX-512 and AVX2 clones beside the baseline, chosen
// once at load time. Every clone runs the same correctly rounded operations
// (no contraction into fused multiply-adds), so all give the same bits.
// ThreadSanitizer cannot run load-time resolvers: its builds keep the
// baseline only.
#if defined(CANDLE_NO_ISA_CLONES)
#define CANDLE_ISA_CLONES
#else
#define CANDLE_ISA_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#endif
#define CANDLE_INLINE inline __attribute__((always_inline))

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
      f = float(f * 2.17);
    } while (f < frame.highFrequency && c.octaveCount < kMaxOctaves);
  }
  return c;
}

namespace {

constexpr int kLanes = 16;
// Sample coordinates beyond this take the one-sample noise, which saturates
// far-out cells; within it the cell is an exact integer.
constexpr float kLaneNoiseRange = 4194304.0f;

template <class T>
using Lanes = T[kLanes];

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

// SmoothStep over a ramp of positive width: 0 below, 1 above, 3t² − 2t³ between.
CANDLE_INLINE float Ramp(float value, float edge0, float width) {
  const float t = (value - edge0) / width;
  const float s = (t * -2.0f + 3.0f) * t * t;
  return t < 0.0f ? 0.0f : (t > 1.0f ? 1.0f : s);
}

// The spline of CatmullRom over six effective entries.
CANDLE_INLINE float Spline(const float* e, int k, float f) {
  const float p0 = k == 0 ? e[0] : (k == 1 ? e[1] : e[2]);
  const float p1 = k == 0 ? e[1] : (k == 1 ? e[2] : e[3]);
  const float p2 = k == 0 ? e[2] : (k == 1 ? e[3] : e[4]);
  const float p3 = k == 0 ? e[3] : (k == 1 ? e[4] : e[5]);
  return p1 + f * (0.5f * (p2 - p0) + f * ((p0 - 2.5f * p1 + 2.0f * p2 - 0.5f * p3) +
                                           f * (-0.5f * p0 + 1.5f * p1 - 1.5f * p2 + 0.5f * p3)));
}

// One group of up to kLanes adjacent columns, moving up the rows together.
struct Group {
  int c0;
  int count;
  Lanes<float> column;
  Lanes<float> baseRow;
  Lanes<int> startRow;
  Lanes<int> first;
  Lanes<float> sumX, sumY;
};

// Wind displacement at one row for every lane (WindOffset, lane by lane).
CANDLE_INLINE void WindLanes(const FlameFrame& f, const WindCone& cone, const Group& g, float row,
                             float* dx, float* dy) {
  Lanes<float> vx, vy;
  Lanes<int> inside;
  int any = 0;
  for (int l = 0; l < kLanes; ++l) {
    float x = g.column[l] - f.windSourceColumn;
    float y = row - f.windSourceRow;
    const float a = std::fabs(x), b = std::fabs(y);
    const float s = a * a + b * b;
    const float m = a < b ? b : a;
    const bool zero = m < 1e-10f;
    const float mm = zero ? 1.0f : m;
    const float r0 = s / mm + mm;
    const float r1 = 0.25f * r0 + s / r0;
    const float length = 0.5f * (r1 + s / r1);
    const float inverse = 1.0f / length;
    x = zero ? 0.0f : x * inverse;
    y = zero ? 0.0f : y * inverse;
    vx[l] = x;
    vy[l] = y;
    inside[l] = !(cone.dirX * x + cone.dirY * y <= cone.cosHalf);
    any |= inside[l];
  }
  if (!any) {
    for (int l = 0; l < kLanes; ++l) dx[l] = dy[l] = 0.0f;
    return;
  }
  const float spread = cone.halfAngle + 1e-5f;
  for (int l = 0; l < kLanes; ++l) {
    const float x = vx[l], y = vy[l];
    const float angle = x != 0.0f || y != 0.0f ? WindAtan2(y, x) : 0.0f;
    const float d = std::fabs(angle - cone.angle);
    const float between = d > 3.14159265f ? 6.28318531f - d : d;
    const float w = WindCos(between / spread * 1.57079637f);
    dx[l] = inside[l] ? w * f.aspect * f.windStrength * x : 0.0f;
    dy[l] = inside[l] ? w * f.windStrength * y : 0.0f;
  }
}

// Noise of one octave for the lanes in `need`, added / f into `sum`.
CANDLE_INLINE void OctaveLanes(const FlameChunkContext& ctx, const NoiseOctave& o, const float* sx,
                               const float* ty, const int* need, float* sum) {
  const FlameFrame& f = *ctx.frame;
  const float w = float(f.width), h = float(f.height);
  Lanes<float> X, Y, noise;
  Lanes<int> todo;
  int far = 0;
  for (int l = 0; l < kLanes; ++l) {
    X[l] = o.xFactor * sx[l] / w;
    Y[l] = o.yFactor * ty[l] / h;
    const bool near = std::fabs(X[l]) < kLaneNoiseRange && std::fabs(Y[l]) < kLaneNoiseRange;
    far |= need[l] && !near;
    todo[l] = need[l] && near;
    noise[l] = 0.0f;
  }
  if (far) {
    for (int l = 0; l < kLanes; ++l)
      if (need[l] && !todo[l])
        noise[l] = fw::GradientNoise(ctx.gradients, X[l], Y[l], o.frequency * ctx.flickerDepth);
  }
  // Cells, fractions and weights (MakeNoiseAxis); lanes not worked get cell 0.
  Lanes<int> cx, cy;
  Lanes<float> fx, fy, wx, wy;
  for (int l = 0; l < kLanes; ++l) {
    const float xs = todo[l] ? X[l] : 0.0f, ys = todo[l] ? Y[l] : 0.0f;
    int i = int(xs), j = int(ys);
    float fi = float(i), fj = float(j);
    i = xs < fi ? i - 1 : i;
    fi = xs < fi ? fi - 1.0f : fi;
    j = ys < fj ? j - 1 : j;
    fj = ys < fj ? fj - 1.0f : fj;
    cx[l] = i;
    cy[l] = j;
    fx[l] = xs - fi;
    fy[l] = ys - fj;
    wx[l] = (fx[l] * -2.0f + 3.0f) * fx[l] * fx[l];
    wy[l] = (fy[l] * -2.0f + 3.0f) * fy[l] * fy[l];
  }
  const uint8_t* P = fw::noisePermutation;
  const unsigned k = unsigned(o.depth.cell);
  const float fz = o.depth.fraction, fz1 = fz - 1.0f, sz = o.depth.weight;
  // One pass per distinct (x, y) cell among the lanes: the eight corner
  // gradients are shared, the rest runs across the lanes.
  for (;;) {
    int lead = -1;
    for (int l = 0; l < kLanes; ++l)
      if (todo[l]) {
        lead = l;
        break;
      }
    if (lead < 0) break;
    const int ci = cx[lead], cj = cy[lead];
    const unsigned i = unsigned(ci), j = unsigned(cj);
    const fw::Gradient* G[8];
    for (int n = 0; n < 8; ++n) {
      const unsigned a = n & 1, b = (n >> 1) & 1, d = (n >> 2) & 1;
      G[n] = &ctx.gradients[P[(i + a + P[(j + b + P[(k + d) & 255u]) & 255u]) & 255u]];
    }
    float gx[8], gy[8], gz[8];
    for (int n = 0; n < 8; ++n) {
      gx[n] = G[n]->x;
      gy[n] = G[n]->y;
      gz[n] = G[n]->z * ((n >> 2) ? fz1 : fz);
    }
    for (int l = 0; l < kLanes; ++l) {
      const float x0 = fx[l], x1 = fx[l] - 1.0f, y0 = fy[l], y1 = fy[l] - 1.0f;
      const float v000 = gx[0] * x0 + gy[0] * y0 + gz[0];
      const float v100 = gx[1] * x1 + gy[1] * y0 + gz[1];
      const float v010 = gx[2] * x0 + gy[2] * y1 + gz[2];
      const float v110 = gx[3] * x1 + gy[3] * y1 + gz[3];
      const float v001 = gx[4] * x0 + gy[4] * y0 + gz[4];
      const float v101 = gx[5] * x1 + gy[5] * y0 + gz[5];
      const float v011 = gx[6] * x0 + gy[6] * y1 + gz[6];
      const float v111 = gx[7] * x1 + gy[7] * y1 + gz[7];
      const float s = wx[l];
      const float x00 = v000 + s * (v100 - v000);
      const float x10 = v010 + s * (v110 - v010);
      const float x01 = v001 + s * (v101 - v001);
      const float x11 = v011 + s * (v111 - v011);
      const float t = wy[l];
      const float y0v = x00 + t * (x10 - x00);
      const float y1v = x01 + t * (x11 - x01);
      const float value = y0v + sz * (y1v - y0v);
      const bool mine = todo[l] && cx[l] == ci && cy[l] == cj;
      noise[l] = mine ? value : noise[l];
      todo[l] = mine ? 0 : todo[l];
    }
  }
  for (int l = 0; l < kLanes; ++l) sum[l] = need[l] ? sum[l] + noise[l] / o.frequency : sum[l];
}

// Colour and coverage of the inside lanes at one row, packed B, G, R, A.
CANDLE_INLINE void ColourLanes(const Colouring& c, Group& g, int row, const float* d,
                               const int* inside, uint32_t* packed) {
  for (int l = 0; l < kLanes; ++l) {
    const float a = d[l] < 0.0f ? 0.0f : (1.0f < d[l] ? 1.0f : d[l]);
    float position;
    if (c.noProportions) {
      position = 0.0f;
    } else {
      const float p1 = a / c.q1 * 0.1f;
      const float p2 = (a - c.q1) / c.width2 * 0.55f + 0.1f;
      const float p3 = c.thirdEmpty ? 1.0f : (a - c.q2) / c.width3 * 0.35f + 0.65f;
      position = a <= c.q1 ? p1 : (a <= c.q2 ? p2 : p3);
      position = position < 0.0f ? 0.0f : (1.0f < position ? 1.0f : position);
    }
    // CatmullRom's hold of the parameter just inside 0..1.
    float t = position >= 1.0f ? 0.99999988f : (!(position > 0.0f) ? 1e-7f : position);
    t = t < 0.0f ? 0.0f : (1.0f < t ? 1.0f : t);
    const float e = t * 3.0f;
    const int k = int(e);
    const float frac = e - float(k);
    float colour[3];
    for (int n = 0; n < 3; ++n) {
      const float v = 255.0f * Spline(c.curve[n], k, frac);
      colour[n] = v < 0.0f ? 0.0f : (255.0f < v ? 255.0f : v);
    }
    const float smooth = c.edgeDegenerate ? 0.0f : Ramp(a, c.edgeStart, c.edgeWidth);
    const float edge = c.edgeStart < a ? (1.0f - smooth) * 255.0f : 255.0f;
    const float product = c.density * edge;
    const float coverage = 255.0f < product ? 255.0f : product;
    int alpha = int(coverage);
    const int column = g.c0 + l;
    const float base = g.baseRow[l];
    const bool weighted = inside[l] && g.first[l] && column >= c.x0 && column <= c.x1;
    const float share = (1.0f - (base - float(g.startRow[l]))) * coverage;
    alpha = weighted ? int(255.0f < share ? 255.0f : share) : alpha;
    g.first[l] = inside[l] ? 0 : g.first[l];
    const float above = float(row + 1) - base;
    const float ramp =
        c.hardBase ? (above > 0.0f ? 1.0f : 0.0f) : Ramp(above, 0.0f, c.baseSoftness);
    const float scaled = ramp * float(alpha);
    const int cover = int(scaled < 0.0f ? 0.0f : (255.0f < scaled ? 255.0f : scaled));
    const uint32_t px = uint32_t(int(colour[2])) | uint32_t(int(colour[1])) << 8 |
                        uint32_t(int(colour[0])) << 16 | uint32_t(cover) << 24;
    packed[l] = inside[l] ? px : 0u;
  }
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
    g.column[l] = float(c);
    g.baseRow[l] = BaseCurveRow(c, f);
    g.startRow[l] = g.baseRow[l] < 0.0f ? 0 : fw::TruncateToInt(g.baseRow[l]);
    if (l >= count) g.startRow[l] = f.height;  // lanes past the strip never draw
    g.first[l] = 1;
    g.sumX[l] = g.sumY[l] = 0.0f;
    firstRow = std::min(firstRow, g.startRow[l]);
  }
  const bool windy = f.windStrength > 0.0f;
  for (int r = firstRow; r < f.height; ++r) {
    const float row = float(r);
    Lanes<int> active, need, inside;
    Lanes<float> sx, sy, d;
    Lanes<float> dx, dy;
    if (windy) WindLanes(f, ctx.cone, g, row, dx, dy);
    int anyNeed = 0;
    for (int l = 0; l < kLanes; ++l) {
      active[l] = r >= g.startRow[l];
      if (windy) {
        float x = g.sumX[l] + dx[l];
        float y = g.sumY[l] + dy[l];
        y = row - g.baseRow[l] < y ? y - dy[l] : y;
        g.sumX[l] = active[l] ? x : g.sumX[l];
        g.sumY[l] = active[l] ? y : g.sumY[l];
        sx[l] = g.column[l] - g.sumX[l];
        sy[l] = row - g.sumY[l];
      } else {
        sx[l] = g.column[l];
        sy[l] = row;
      }
      const float ex = std::fabs(sx[l] - f.centre) / f.halfWidth;
      const float ey = (sy[l] - g.baseRow[l]) / f.flameHeight;
      d[l] = std::sqrt(ex * ex + ey * ey);
      need[l] = active[l] && d[l] <= 1.0f;
      anyNeed |= need[l];
    }
    std::uint32_t* out = reinterpret_cast<std::uint32_t*>(rows[r]) + c0;
    if (!anyNeed) {
      std::memset(out, 0, std::size_t(count) * 4);
      continue;
    }
    // The turbulence only adds, so samples already outside stay outside.
    Lanes<float> ty, sum;
    for (int l = 0; l < kLanes; ++l) {
      ty[l] = (sy[l] - ctx.convectionOffset) * f.aspect;
      sum[l] = 0.0f;
    }
    for (int n = 0; n < ctx.octaveCount; ++n) OctaveLanes(ctx, ctx.octaves[n], sx, ty, need, sum);
    int anyInside = 0;
    for (int l = 0; l < kLanes; ++l) {
      d[l] = need[l] ? d[l] + f.turbulenceAmount * std::fabs(sum[l]) : d[l];
      inside[l] = need[l] && d[l] <= 1.0f;  // a NaN distance counts as outside
      anyInside |= inside[l];
    }
    Lanes<std::uint32_t> packed;
    if (anyInside)
      ColourLanes(colouring, g, r, d, inside, packed);
    else
      std::memset(packed, 0, sizeof packed);
    std::memcpy(out, packed, std::size_t(count) * 4);
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
