#include "candle/flame_colour.h"

#include <algorithm>
#include <cstring>

#include "candle/flame_lanes.h"
#include "framework/noise.h"

namespace candle {

ColourCurves BuildColourCurves(const FlameFrame& f) {
  ColourCurves c;
  float* curves[3] = {c.red, c.green, c.blue};
  for (int channel = 0; channel < 3; ++channel) {
    const int* bytes = f.colourBytes + channel * 3;  // colours 1, 2, 3 of this channel
    float* v = curves[channel];
    v[1] = float(bytes[0] * 0.00392156862745098);
    v[2] = float(bytes[1] * 0.00392156862745098);
    v[3] = float(bytes[2] * 0.00392156862745098);
    v[4] = v[3];
  }
  return c;
}

float ColourPosition(float a, const FlameFrame& f) {
  const float sum = f.proportion3 + f.proportion1 + f.proportion2;
  if (sum < 1e-10f) return 0.0f;
  const float q1 = std::max(f.proportion1 / sum, 1e-10f);
  const float q2 = std::max(f.proportion2 / sum + q1, 2e-10f);
  const float q3 = std::max(f.proportion3 / sum + q2, 3e-10f);
  float position;
  if (a <= q1) {
    position = a / q1 * 0.1f;
  } else if (a <= q2) {
    position = (a - q1) / (q2 - q1) * 0.55f + 0.1f;
  } else if (q3 > q2) {
    position = (a - q2) / (q3 - q2) * 0.35f + 0.65f;
  } else {
    // An empty third band (its proportion 0, or lost to rounding): a
    // distance beyond the second band lies past its end.
    position = 1.0f;
  }
  return Clamp(position, 0.0f, 1.0f);
}

void ColourPixel(std::uint8_t* px, float d, int column, int row, ColumnStart& start,
                 const FlameFrame& f, const ColourCurves& curves) {
  const float a = Clamp(d, 0.0f, 1.0f);
  const float position = ColourPosition(a, f);
  const float red = Clamp(255.0f * CatmullRom(position, 6, curves.red), 0.0f, 255.0f);
  const float green = Clamp(255.0f * CatmullRom(position, 6, curves.green), 0.0f, 255.0f);
  const float blue = Clamp(255.0f * CatmullRom(position, 6, curves.blue), 0.0f, 255.0f);
  const float edge =
      f.edgeStart < a ? (1.0f - fw::SmoothStep(a, f.edgeStart, 1.0f)) * 255.0f : 255.0f;
  const float coverage = std::min(f.density * edge, 255.0f);
  px[2] = std::uint8_t(red);
  px[1] = std::uint8_t(green);
  px[0] = std::uint8_t(blue);
  int alpha = int(coverage);
  if (start.first && column >= f.x0 && column <= f.x1) {
    // The first inside pixel over the base: the share of it above the base
    // curve (above 1 when the base lies below the image).
    alpha = int(std::min((1.0f - (start.baseRow - float(start.startRow))) * coverage, 255.0f));
  }
  start.first = false;
  // Coverage ramps up over "Base Softness" rows above the base; a softness
  // of 0 is a hard edge at the base.
  const float above = float(row + 1) - start.baseRow;
  const float ramp = f.baseSoftness < 1e-10f ? (above > 0.0f ? 1.0f : 0.0f)
                                             : fw::SmoothStep(above, 0.0f, f.baseSoftness);
  px[3] = std::uint8_t(int(Clamp(ramp * float(alpha), 0.0f, 255.0f)));
}

namespace {

constexpr float kByteScale = 0.003921569f;  // 1/255 in single precision

// One output pixel: background B under flame F (null: empty), through the
// matte byte m when `matte` is set.
inline void CompositePixel(const std::uint8_t* F, const std::uint8_t* B, const std::uint8_t* M,
                           bool invert, std::uint8_t* O) {
  float a = F ? float(F[3]) : 0.0f;
  if (M) {
    const int m = invert ? 255 - M[2] : M[2];
    a = float(m) * a * kByteScale;
  }
  const float ia = 255.0f - a;
  for (int b = 0; b < 3; ++b) {
    const float fb = F ? float(F[b]) : 0.0f;
    O[b] = std::uint8_t(int(Clamp((float(B[b]) * ia + fb * a) * kByteScale, 0.0f, 255.0f)));
  }
  O[3] = std::uint8_t(int(Clamp((float(B[3]) * ia + 255.0f * a) * kByteScale, 0.0f, 255.0f)));
}

using F = FloatLanes;
using I = IntLanes;

FW_LANES_INLINE F Channel(WordLanes w, int byte) {
  return ToFloat(I((w >> (8 * byte)) & 255u));
}

FW_LANES_INLINE WordLanes Byte(F v, int byte) {
  const F c = v < 0.0f ? Fill<F>(0.0f) : (255.0f < v ? Fill<F>(255.0f) : v);
  return WordLanes(ToInt(c)) << (8 * byte);
}

// A row, kLanes pixels at a time: the same operations as CompositePixel.
FW_ISA_CLONES
void CompositeRow(const std::uint8_t* flame, const std::uint8_t* back, const std::uint8_t* matte,
                  bool invert, std::uint8_t* out, int width) {
  int j = 0;
  for (; j + kLanes <= width; j += kLanes) {
    WordLanes fw{}, bw, mw{};
    if (flame) std::memcpy(&fw, flame + 4 * j, sizeof fw);
    // Where the flame is empty the blend gives the background's bytes
    // exactly (b · 255 · 0.003921569f truncates to b for every byte b).
    if (!Any(IntLanes(fw))) {
      std::memmove(out + 4 * j, back + 4 * j, sizeof fw);
      continue;
    }
    std::memcpy(&bw, back + 4 * j, sizeof bw);
    F a = Channel(fw, 3);
    if (matte) {
      std::memcpy(&mw, matte + 4 * j, sizeof mw);
      const I m = invert ? 255 - I((mw >> 16) & 255u) : I((mw >> 16) & 255u);
      a = ToFloat(m) * a * kByteScale;
    }
    const F ia = 255.0f - a;
    const WordLanes o = Byte((Channel(bw, 0) * ia + Channel(fw, 0) * a) * kByteScale, 0) |
                        Byte((Channel(bw, 1) * ia + Channel(fw, 1) * a) * kByteScale, 1) |
                        Byte((Channel(bw, 2) * ia + Channel(fw, 2) * a) * kByteScale, 2) |
                        Byte((Channel(bw, 3) * ia + 255.0f * a) * kByteScale, 3);
    std::memcpy(out + 4 * j, &o, sizeof o);
  }
  for (; j < width; ++j)
    CompositePixel(flame ? flame + 4 * j : nullptr, back + 4 * j, matte ? matte + 4 * j : nullptr,
                   invert, out + 4 * j);
}

}  // namespace

void CompositeFlame(const FlameFrame& f, const std::uint8_t* const* flameRows,
                    const std::uint8_t* const* backgroundRows, const std::uint8_t* const* matteRows,
                    std::uint8_t* const* outputRows, int beginRow, int endRow) {
  const bool useMatte = f.useMatte && matteRows;
  for (int i = beginRow; i < endRow; ++i)
    CompositeRow(flameRows ? flameRows[f.height - 1 - i] : nullptr, backgroundRows[i],
                 useMatte ? matteRows[i] : nullptr, f.invertMatte != 0, outputRows[i], f.width);
}

}  // namespace candle
