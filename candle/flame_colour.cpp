#include "candle/flame_colour.h"

#include <algorithm>

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

void CompositeFlame(const FlameFrame& f, const std::uint8_t* const* flameRows,
                    const std::uint8_t* const* backgroundRows, const std::uint8_t* const* matteRows,
                    std::uint8_t* const* outputRows, int beginRow, int endRow) {
  constexpr float k = 0.003921569f;
  const bool useMatte = f.useMatte && matteRows;
  for (int i = beginRow; i < endRow; ++i) {
    const std::uint8_t* flame = flameRows ? flameRows[f.height - 1 - i] : nullptr;
    const std::uint8_t* back = backgroundRows[i];
    const std::uint8_t* matte = useMatte ? matteRows[i] : nullptr;
    std::uint8_t* out = outputRows[i];
    for (int j = 0; j < f.width; ++j) {
      const std::uint8_t* F = flame ? flame + 4 * j : nullptr;
      const std::uint8_t* B = back + 4 * j;
      std::uint8_t* O = out + 4 * j;
      float a = F ? float(F[3]) : 0.0f;
      if (matte) {
        const int m = f.invertMatte ? 255 - matte[4 * j + 2] : matte[4 * j + 2];
        a = float(m) * a * k;
      }
      const float ia = 255.0f - a;
      for (int b = 0; b < 3; ++b) {
        const float fb = F ? float(F[b]) : 0.0f;
        O[b] = std::uint8_t(int(Clamp((float(B[b]) * ia + fb * a) * k, 0.0f, 255.0f)));
      }
      O[3] = std::uint8_t(int(Clamp((float(B[3]) * ia + 255.0f * a) * k, 0.0f, 255.0f)));
    }
  }
}

}  // namespace candle
