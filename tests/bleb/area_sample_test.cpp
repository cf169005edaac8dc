#include "bleb/area_sample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "bleb/area_tables.h"
#include "framework/bands.h"
#include "test_image.h"

namespace bleb {
namespace {

using test::Image;

struct Sampled {
  Image image;
  AreaTables tables;
  SampleSource src;
  explicit Sampled(const Image& im, bool wide = false) : image(im) {
    EXPECT_TRUE(tables.Build(image.in(), image.width, image.height, nullptr, wide));
    src = SampleSource{image.in(), image.width, image.height, &tables};
  }
};

std::int64_t TableAt(const AreaTables& t, int x, int y, int b) {
  const std::size_t e = (static_cast<std::size_t>(y) * t.width() + x) * 4 + b;
  return t.wide() ? t.sums64()[e] : t.sums32()[e];
}

TEST(AreaTables, HoldInclusiveSumsPerByteInBothWidths) {
  const Image im = test::Noise(13, 7);
  for (bool wide : {false, true}) {
    AreaTables t;
    ASSERT_TRUE(t.Build(im.in(), 13, 7, nullptr, wide));
    EXPECT_EQ(t.wide(), wide);
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 13; ++x)
        for (int b = 0; b < 4; ++b) {
          std::int64_t sum = 0;
          for (int yy = 0; yy <= y; ++yy)
            for (int xx = 0; xx <= x; ++xx) sum += im.at(xx, yy)[b];
          ASSERT_EQ(TableAt(t, x, y, b), sum) << x << " " << y << " " << b;
        }
  }
}

TEST(AreaTables, BuiltInBandsAndStripsHoldTheSameSums) {
  // Bands of rows filled in any order, then the carries added strip by
  // strip, in any order of strips: the inclusive sums, whatever the split
  // (more bands than rows and more strips than columns included).
  const Image im = test::Noise(13, 7, 3);
  for (bool wide : {false, true})
    for (int bands : {1, 2, 3, 7, 12})
      for (int strips : {1, 2, 5, 20}) {
        AreaTables t;
        ASSERT_TRUE(t.Allocate(13, 7, wide));
        for (int k = bands - 1; k >= 0; --k) {
          const fw::Band band = fw::ChunkBand(k, bands, 7);
          t.FillBand(im.in(), band.begin, band.end);
        }
        for (int s = strips - 1; s >= 0; --s) {
          const fw::Band strip = fw::ChunkBand(s, strips, 13);
          for (int k = 1; k < bands; ++k) {
            const fw::Band band = fw::ChunkBand(k, bands, 7);
            t.AddRowAbove(band.begin, band.end, strip.begin, strip.end);
          }
        }
        for (int y = 0; y < 7; ++y)
          for (int x = 0; x < 13; ++x)
            for (int b = 0; b < 4; ++b) {
              std::int64_t sum = 0;
              for (int yy = 0; yy <= y; ++yy)
                for (int xx = 0; xx <= x; ++xx) sum += im.at(xx, yy)[b];
              ASSERT_EQ(TableAt(t, x, y, b), sum)
                  << "wide " << wide << " bands " << bands << " strips " << strips << " at " << x
                  << "," << y << " byte " << b;
            }
      }
}

TEST(AreaTables, WidenWhenThirtyTwoBitSumsCouldOverflow) {
  EXPECT_FALSE(NeedsWideSums(3840, 2160));
  EXPECT_TRUE(NeedsWideSums(4096, 2160));
  EXPECT_FALSE(NeedsWideSums(8421504, 1));
  EXPECT_TRUE(NeedsWideSums(8421505, 1));
  EXPECT_TRUE(NeedsWideSums(65536, 65536));
  AreaTables t;
  // A size whose tables cannot be addressed fails cleanly, touching nothing.
  EXPECT_FALSE(t.Build(reinterpret_cast<const std::uint8_t* const*>(&t),
                       std::numeric_limits<int>::max(), std::numeric_limits<int>::max()));
}

TEST(AreaSample, EveryRegimeReturnsAUniformColour) {
  Sampled s(test::Uniform(40, 30, 10, 100, 200, 255));
  const float boxes[][4] = {{5.2f, 6.1f, 5.9f, 6.8f},       // bilinear
                            {3.3f, 4.4f, 9.7f, 12.1f},      // interpolated integral
                            {1.5f, 2.5f, 30.2f, 25.9f},     // whole pixels
                            {-50, -50, 100, 100},           // clamped to the image
                            {37.99f, 1.0f, 38.0f, 27.0f}};  // thin, on the border
  for (const auto& b : boxes) {
    const Pixel p = AreaSample(s.src, b[0], b[1], b[2], b[3], 0);
    for (int c = 0; c < 4; ++c) {
      const int want = (c == 0 ? 10 : c == 1 ? 100 : c == 2 ? 200 : 255);
      EXPECT_LE(std::abs(p.c[c] - want), 1) << b[0] << " " << b[1] << " channel " << c;
    }
  }
}

TEST(AreaSample, BilinearUsesTheCentreShiftedByHalfAPixel) {
  // Columns alternate 0 and 200: at a box centre of 0.25 the sample sits at
  // 0.75 between columns 0 and 1.
  Image im(8, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) im.at(x, y)[2] = (x % 2) ? 200 : 0;
  Sampled s(im);
  EXPECT_EQ(AreaSample(s.src, 0.0f, 1.0f, 0.5f, 1.5f, 0).c[2], 150);
  EXPECT_EQ(AreaSample(s.src, 1.0f, 1.0f, 1.0f, 1.0f, 0).c[2], 100);
}

TEST(AreaSample, WholePixelBoxesAverageExactly) {
  // Area above 100 sums pixels (ix0, ix1] x (iy0, iy1].
  Image im = test::Noise(64, 48, 7);
  Sampled s(im);
  const Pixel p = AreaSample(s.src, 4.2f, 3.7f, 20.6f, 15.1f, 0);
  for (int c = 0; c < 4; ++c) {
    long sum = 0, n = 0;
    for (int y = 4; y <= 15; ++y)
      for (int x = 5; x <= 21; ++x) sum += im.at(x, y)[c], ++n;
    EXPECT_EQ(p.c[c], sum / n) << c;
  }
}

TEST(AreaSample, ThinBoxAtTheBorderTakesItsPixelNotBlack) {
  // Whole-pixel regime with n = 0: clamped against the left border the box
  // keeps 0.3 columns, and 380 rows lift its area above 100.
  Sampled s(test::Uniform(30, 400, 9, 90, 180, 250));
  const Pixel p = AreaSample(s.src, -5.0f, 10.0f, 0.3f, 390.0f, 0);
  EXPECT_EQ(p.c[0], 9);
  EXPECT_EQ(p.c[1], 90);
  EXPECT_EQ(p.c[2], 180);
  EXPECT_EQ(p.c[3], 250);
}

TEST(AreaSample, InterpolatedIntegralStaysExactOnHdFrames) {
  // Sums near the bottom right of a 1920 x 1080 frame pass 2^24 by far; the
  // middle regime must still return the uniform value.
  Sampled s(test::Uniform(1920, 1080, 201, 201, 201, 201));
  const Pixel p = AreaSample(s.src, 1800.3f, 1000.2f, 1803.1f, 1003.4f, 0);
  for (int c = 0; c < 4; ++c) EXPECT_GE(p.c[c], 200);
}

TEST(AreaSample, WideAndNarrowSumsAgree) {
  const Image im = test::Noise(37, 29, 3);
  Sampled narrow(im), wide(im, true);
  for (float x0 = -3; x0 < 37; x0 += 2.7f)
    for (float y0 = -3; y0 < 29; y0 += 3.1f)
      for (float size : {0.4f, 3.5f, 14.0f}) {
        for (int mode = 0; mode < 3; ++mode) {
          const Pixel a = SampleBox(narrow.src, x0, y0, x0 + size, y0 + size * 0.8f, mode);
          const Pixel b = SampleBox(wide.src, x0, y0, x0 + size, y0 + size * 0.8f, mode);
          ASSERT_EQ(std::memcmp(a.c, b.c, 4), 0) << x0 << " " << y0 << " " << size;
        }
      }
}

TEST(SampleBox, BlackEdgesFadeByTheAreaInside) {
  Sampled s(test::Uniform(50, 40, 200, 200, 200, 200));
  // Wholly outside.
  EXPECT_EQ(SampleBox(s.src, -9, 5, -3, 9, 1).c[0], 0);
  EXPECT_EQ(SampleBox(s.src, 10, 45, 14, 48, 1).c[0], 0);
  // Half the box beyond the left border: about half the colour.
  const Pixel half = SampleBox(s.src, -2, 10, 2, 12, 1);
  EXPECT_NEAR(half.c[0], 100, 2);
  // A quarter inside at the bottom right corner.
  const Pixel quarter = SampleBox(s.src, 47, 37, 51, 41, 1);
  EXPECT_NEAR(quarter.c[0], 50, 2);
  // Duplicate edges give the full colour for the same boxes.
  EXPECT_EQ(SampleBox(s.src, -9, 5, -3, 9, 0).c[0], 200);
  EXPECT_EQ(SampleBox(s.src, 47, 37, 51, 41, 0).c[0], 200);
}

TEST(SampleBox, WrapRepeatsWithAPeriodOneLessThanTheSize) {
  const Image im = test::Smooth(61, 45);
  Sampled s(im);
  for (float x : {3.0f, 17.5f, 40.2f})
    for (float y : {2.0f, 21.7f, 36.0f}) {
      const Pixel inside = SampleBox(s.src, x, y, x + 1.5f, y + 1.2f, 2);
      for (int dx : {-1, 1})
        for (int dy : {-1, 0, 1}) {
          const float ox = x + dx * 60.0f, oy = y + dy * 44.0f;
          const Pixel moved = SampleBox(s.src, ox, oy, ox + 1.5f, oy + 1.2f, 2);
          for (int c = 0; c < 4; ++c)
            EXPECT_LE(std::abs(inside.c[c] - moved.c[c]), 2) << x << " " << y << " " << dx << dy;
        }
    }
}

TEST(SampleBox, NonFiniteBoxesStayInsideTheImage) {
  // What an all-cancelling lobe sum produces. Nothing may be read outside
  // (ASan watches); the result follows the edge rule.
  Sampled s(test::Uniform(20, 12, 50, 60, 70, 80));
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float values[] = {inf, -inf, nan, 1e38f, -1e38f, 3.0f};
  for (float a : values)
    for (float b : values)
      for (float c : values) {
        // The middle regime may land one level low (double rounding below 60).
        const Pixel dup = SampleBox(s.src, a, b, c, 5.0f, 0);
        EXPECT_GE(dup.c[1], 59);
        EXPECT_LE(dup.c[1], 60);
        const Pixel black = SampleBox(s.src, a, b, c, 5.0f, 1);
        EXPECT_LE(black.c[1], 60);
        const Pixel wrap = SampleBox(s.src, a, 4.0f, c, b, 2);
        EXPECT_LE(wrap.c[1], 60);
        const Pixel other = SampleBox(s.src, a, b, c, 5.0f, 7);
        EXPECT_EQ(other.c[1], dup.c[1]);
      }
  EXPECT_EQ(SampleBox(s.src, inf, inf, inf, inf, 1).c[1], 0);
}

}  // namespace
}  // namespace bleb
