// Colour, coverage and compositing of flame pixels.
#include "candle/flame_colour.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace candle {
namespace {

FlameFrame Frame(const ControlCache& k) {
  return BuildFrame(k, 64, 64, 1.0f, 0.0f, false);
}

// Colours an inside pixel far above the base (no base pixel, no ramp).
struct Pixel {
  int b, g, r, a;
};
Pixel Colour(const FlameFrame& f, float d) {
  std::uint8_t px[4] = {};
  ColumnStart start{0.0f, 0, false};
  ColourPixel(px, d, 30, 50, start, f, BuildColourCurves(f));
  return {px[0], px[1], px[2], px[3]};
}

TEST(ColourPosition, ProportionsShareTheDistance) {
  ControlCache k = DefaultCache();  // 50, 50, 50: a third each
  FlameFrame f = Frame(k);
  EXPECT_EQ(ColourPosition(0.0f, f), 0.0f);
  EXPECT_NEAR(ColourPosition(1.0f / 3, f), 0.1f, 1e-6);
  EXPECT_NEAR(ColourPosition(2.0f / 3, f), 0.65f, 1e-6);
  EXPECT_NEAR(ColourPosition(0.5f, f), 0.1f + 0.55f / 2, 1e-6);
  EXPECT_FLOAT_EQ(ColourPosition(1.0f, f), 1.0f);
  // 20, 40, 100: the first colour takes a ninth, the second two ninths.
  k.proportion1 = 20, k.proportion2 = 40, k.proportion3 = 100;
  f = Frame(k);
  EXPECT_NEAR(ColourPosition(2.0f / 16, f), 0.1f, 1e-6);
  EXPECT_NEAR(ColourPosition(6.0f / 16, f), 0.65f, 1e-6);
  // All at 0: the whole flame is colour 1.
  k.proportion1 = k.proportion2 = k.proportion3 = 0;
  EXPECT_EQ(ColourPosition(0.7f, Frame(k)), 0.0f);
}

TEST(ColourPosition, AnEmptyThirdBandStaysFinite) {
  ControlCache k = DefaultCache();
  for (auto [p1, p2] : {std::pair{1.0f, 2.0f}, {50.0f, 50.0f}, {0.0f, 0.0f}, {7.0f, 0.0f}}) {
    k.proportion1 = p1, k.proportion2 = p2, k.proportion3 = 0;
    const FlameFrame f = Frame(k);
    for (float a = 0; a <= 1.0f; a += 1.0f / 64) {
      const float p = ColourPosition(a, f);
      EXPECT_TRUE(p >= 0 && p <= 1) << p1 << " " << p2 << " at " << a;
    }
    EXPECT_TRUE(ColourPosition(1.0f, f) >= 0);
  }
}

TEST(ColourPixel, DefaultsAreWhiteAtTheCentreYellowBetweenRedAtTheOutline) {
  const FlameFrame f = Frame(DefaultCache());
  // Position 0 is held at 1e-7, where blue has just begun to fall: 254.
  const Pixel centre = Colour(f, 0.0f);
  EXPECT_EQ(centre.r, 255);
  EXPECT_EQ(centre.g, 255);
  EXPECT_EQ(centre.b, 254);
  EXPECT_EQ(centre.a, 255);
  // Position 1/3 (colour 2) lies at A = 1/3 + (1/3 − 0.1) / 0.55 / 3.
  const Pixel middle = Colour(f, float(1.0 / 3 + (1.0 / 3 - 0.1) / 0.55 / 3));
  EXPECT_EQ(middle.r, 255);
  EXPECT_GE(middle.g, 254);
  EXPECT_LE(middle.b, 1);
  const Pixel outline = Colour(f, 1.0f);
  EXPECT_EQ(outline.r, 255);
  EXPECT_EQ(outline.g, 0);
  EXPECT_EQ(outline.b, 0);
  EXPECT_EQ(outline.a, 0);  // edge softness 30 fades the outline out
}

TEST(ColourPixel, EdgeSoftnessAndDensityShapeTheCoverage) {
  ControlCache k = DefaultCache();
  k.edgeSoftness = 0;  // hard outline
  FlameFrame f = Frame(k);
  for (float d : {0.0f, 0.5f, 0.99f, 1.0f}) EXPECT_EQ(Colour(f, d).a, 255) << d;
  k.edgeSoftness = 100;  // falls off from the centre
  f = Frame(k);
  int previous = 256;
  for (float d = 0; d <= 1.0f; d += 0.125f) {
    const int a = Colour(f, d).a;
    EXPECT_LT(a, previous) << d;
    previous = a;
  }
  EXPECT_EQ(previous, 0);
  // Density 300 inside the edge: 3 × 255 saturates; 50 halves it.
  k.flameDensity = 300;
  f = Frame(k);
  EXPECT_EQ(Colour(f, 0.5f).a, 255);
  k.flameDensity = 50;
  f = Frame(k);
  EXPECT_EQ(Colour(f, 0.0f).a, 127);
}

TEST(ColourPixel, BaseRampAndBasePixel) {
  ControlCache k = DefaultCache();
  k.edgeSoftness = 0;
  k.baseSoftness = 4;
  FlameFrame f = Frame(k);
  const ColourCurves curves = BuildColourCurves(f);
  auto alpha = [&](int row, float base, bool first, int column = 30) {
    std::uint8_t px[4] = {};
    ColumnStart start{base, int(base), first};
    ColourPixel(px, 0.2f, column, row, start, f, curves);
    EXPECT_FALSE(start.first);
    return int(px[3]);
  };
  // Ramp over 4 rows above the base: (r + 1 − h) = 2 gives 3t² − 2t³ at 0.5.
  EXPECT_EQ(alpha(11, 10.0f, false), 127);
  EXPECT_EQ(alpha(20, 10.0f, false), 255);
  // The first pixel over the base counts the share above the base: 0.75.
  k.baseSoftness = 0;  // hard base: the whole flame stays
  f = Frame(k);
  EXPECT_EQ(alpha(10, 10.25f, true), 191);
  EXPECT_EQ(alpha(10, 10.25f, false), 255);
  EXPECT_EQ(alpha(10, 10.25f, true, 5), 255);  // outside the base span x0..x1
  EXPECT_EQ(alpha(11, 10.0f, false), 255);
}

struct Images {
  int w, h;
  std::vector<std::uint8_t> flame, back, matte, out;
  std::vector<std::uint8_t*> fr, br, mr, orow;
  Images(int w_, int h_) : w(w_), h(h_) {
    for (auto* v : {&flame, &back, &matte, &out}) v->assign(size_t(w) * h * 4, 0);
    for (int y = 0; y < h; ++y) {
      fr.push_back(flame.data() + size_t(y) * w * 4);
      br.push_back(back.data() + size_t(y) * w * 4);
      mr.push_back(matte.data() + size_t(y) * w * 4);
      orow.push_back(out.data() + size_t(y) * w * 4);
    }
    for (size_t i = 0; i < back.size(); ++i) back[i] = std::uint8_t(i * 7 + 3);
  }
  void Run(const FlameFrame& f, bool withMatte = true) {
    CompositeFlame(f, fr.data(), br.data(), withMatte ? mr.data() : nullptr, orow.data(), 0, h);
  }
};

TEST(CompositeFlame, EmptyFlameLeavesTheBackgroundAndAFullOneCovers) {
  Images im(5, 4);
  FlameFrame f = BuildFrame(DefaultCache(), 5, 4, 1.0f, 0.0f, false);
  im.Run(f);
  EXPECT_EQ(im.out, im.back);
  // Flame row 3 is image row 0: fully covering there.
  for (int x = 0; x < 5; ++x) {
    std::uint8_t* p = im.fr[3] + 4 * x;
    p[0] = 10, p[1] = 20, p[2] = 250, p[3] = 255;
  }
  im.Run(f);
  for (int x = 0; x < 5; ++x) {
    const std::uint8_t* o = im.orow[0] + 4 * x;
    EXPECT_EQ(o[0], 10);
    EXPECT_EQ(o[1], 20);
    EXPECT_EQ(o[2], 250);
    EXPECT_EQ(o[3], 255);
  }
  for (int y = 1; y < 4; ++y) EXPECT_EQ(std::memcmp(im.orow[y], im.br[y], 20), 0) << y;
  // Half coverage: (B × 127 + F × 128) / 255 per byte.
  im.fr[3][3] = 128;
  im.Run(f);
  EXPECT_EQ(im.orow[0][2], int((im.br[0][2] * 127.0f + 250 * 128.0f) * 0.003921569f));
}

TEST(CompositeFlame, MatteScalesTheCoverageAndMayBeInverted) {
  Images im(3, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      std::uint8_t* p = im.fr[y] + 4 * x;
      p[0] = p[1] = p[2] = 200, p[3] = 255;
    }
  im.mr[0][2] = 255;  // image row 0, column 0: matte on
  ControlCache k = DefaultCache();
  k.useMatte = 1;
  FlameFrame f = BuildFrame(k, 3, 2, 1.0f, 0.0f, true);
  im.Run(f);
  EXPECT_EQ(im.orow[0][0], 200);
  EXPECT_EQ(std::memcmp(im.orow[0] + 4, im.br[0] + 4, 8), 0);  // matte 0: background
  k.invertMatte = 1;
  f = BuildFrame(k, 3, 2, 1.0f, 0.0f, true);
  im.Run(f);
  EXPECT_EQ(std::memcmp(im.orow[0], im.br[0], 4), 0);
  EXPECT_EQ(im.orow[0][4], 200);
  // "Invert Matte" without "Use Matte", or no matte connected: no matte.
  k.useMatte = 0;
  f = BuildFrame(k, 3, 2, 1.0f, 0.0f, true);
  im.Run(f);
  EXPECT_EQ(im.orow[0][0], 200);
  EXPECT_EQ(im.orow[0][4], 200);
  k.useMatte = 1;
  f = BuildFrame(k, 3, 2, 1.0f, 0.0f, false);
  im.Run(f, false);
  EXPECT_EQ(im.orow[0][4], 200);
}

TEST(CompositeFlame, EveryPixelOfAWideRowFollowsTheBlend) {
  // 37 columns: whole groups of pixels and a remainder, with and without the
  // (inverted) matte, against the blend written out per pixel.
  Images im(37, 3);
  std::uint32_t state = 12345;
  auto next = [&] { return std::uint8_t((state = state * 1103515245u + 12345u) >> 23); };
  for (auto* v : {&im.flame, &im.back, &im.matte})
    for (std::uint8_t& b : *v) b = next();
  for (int mode = 0; mode < 3; ++mode) {
    ControlCache k = DefaultCache();
    k.useMatte = mode > 0;
    k.invertMatte = mode == 2;
    const FlameFrame f = BuildFrame(k, 37, 3, 1.0f, 0.0f, true);
    im.Run(f);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 37; ++x) {
        const std::uint8_t* F = im.fr[2 - y] + 4 * x;
        const std::uint8_t* B = im.br[y] + 4 * x;
        const int m = mode == 2 ? 255 - im.mr[y][4 * x + 2] : im.mr[y][4 * x + 2];
        const float a = mode ? float(m) * float(F[3]) * 0.003921569f : float(F[3]);
        for (int b = 0; b < 4; ++b) {
          const float v =
              (float(B[b]) * (255.0f - a) + (b < 3 ? float(F[b]) : 255.0f) * a) * 0.003921569f;
          EXPECT_EQ(im.orow[y][4 * x + b], int(std::min(std::max(v, 0.0f), 255.0f)))
              << "mode " << mode << " at " << x << "," << y << " byte " << b;
        }
      }
  }
}

}  // namespace
}  // namespace candle
