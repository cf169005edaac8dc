// Bubble sprites: the supersampled disc, its trim, and the cache of sprites
// per type, size step and image width.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "bubbles/bubble_sprite.h"

namespace bubbles {
namespace {

struct SpriteDeleter {
  void operator()(BubbleSprite* s) const { ReleaseSprite(s); }
};
using SpritePtr = std::unique_ptr<BubbleSprite, SpriteDeleter>;

int Cov(const BubbleSprite& s, int x, int y) {
  return s.coverage[y * s.width + x];
}

// The disc sampled the plain way, every sample of the square visited: the
// untrimmed planes.
struct PlainDisc {
  int n = 0;
  std::vector<int> coverage;
  std::vector<float> nx, ny;
};
// `samples` overrides the samples per pixel side, trunc(16 / R) clamped.
PlainDisc SamplePlainly(float radius, int imageWidth, int samples = 0) {
  const float r = std::max(radius, 0.01f);
  PlainDisc d;
  d.n = 2 * int(std::ceil(r)) + 1;
  const int s = samples ? samples : std::clamp(int(16.0 / double(r)), 4, 16);
  const float rs = r * float(s);
  const float q = float(double(rs) / (imageWidth / 18.0));
  const float inner = rs - q / 2.0f, k = 2.0f / q;
  const int m = s * d.n;
  const float c = float(m - 1) / 2.0f;
  d.coverage.assign(size_t(d.n) * d.n, 0);
  d.nx.assign(d.coverage.size(), 0.0f);
  d.ny.assign(d.coverage.size(), 0.0f);
  for (int j = 0; j < m; ++j) {
    for (int i = 0; i < m; ++i) {
      const float dx = float(i) - c, dy = float(j) - c;
      const float dist = std::sqrt(dx * dx + dy * dy);
      if (!(dist <= rs)) continue;
      const float u = std::pow(dist / rs, 2.3f);
      const float v = std::max(0.0f, 1.0f - k * std::fabs(dist - inner) + u);
      const float w = std::min(u + v, 1.0f);
      const size_t p = size_t(j / s) * d.n + i / s;
      d.coverage[p] = std::max(d.coverage[p] + int(w * 255.0f), s * s);
      if (dist < rs) {
        d.nx[p] = dx / rs;
        d.ny[p] = dy / rs;
      }
    }
  }
  for (int& v : d.coverage) v /= s * s;
  return d;
}

TEST(MakeSprite, MatchesThePlainSamplingAtEverySize) {
  for (float radius : {0.01f, 0.3f, 1.0f, 1.7f, 3.0f, 7.3f, 20.0f, 40.5f, 60.5f, 107.2f}) {
    for (int width : {64, 720, 1920}) {
      // With and without the table of sample weights.
      const size_t limit = width == 720 ? 0 : detail::kMaxWeightTable;
      SpritePtr s(detail::MakeSprite(radius, width, limit));
      ASSERT_TRUE(s);
      const PlainDisc d = SamplePlainly(radius, width);
      const int off = (d.n - s->width) / 2;
      ASSERT_TRUE(off == 0 || off == 1) << radius;
      ASSERT_EQ(s->height, s->width);
      for (int y = 0; y < s->height; ++y) {
        for (int x = 0; x < s->width; ++x) {
          const size_t p = size_t(y + off) * d.n + (x + off), q = size_t(y) * s->width + x;
          ASSERT_EQ(s->coverage[q], d.coverage[p])
              << radius << " " << width << " " << x << "," << y;
          ASSERT_EQ(s->normalX[q], d.nx[p]);
          ASSERT_EQ(s->normalY[q], d.ny[p]);
          const float nz = std::sqrt(std::max(0.0f, 1.0f - d.nx[p] * d.nx[p] - d.ny[p] * d.ny[p]));
          ASSERT_EQ(s->normalZ[q], nz);
        }
      }
    }
  }
}

// Size step 6 at width 200: R is the float 1.3333334, and 16 / R is
// 11.9999997, so the disc is sampled 11 × 11 times per pixel (12 × 12, which
// a single-precision quotient gives, changes coverage by several levels).
TEST(MakeSprite, SamplesPerPixelComeFromTheExactQuotient) {
  const float step = float(200 * 0.05555555555555555 / 80);
  const float r = SpriteRadius(0, 6, 200, step);
  ASSERT_EQ(r, 1.3333334f);
  SpritePtr s(MakeSprite(r, 200));
  ASSERT_TRUE(s);
  const PlainDisc eleven = SamplePlainly(r, 200, 11), twelve = SamplePlainly(r, 200, 12);
  ASSERT_NE(eleven.coverage, twelve.coverage);
  const int off = (eleven.n - s->width) / 2;
  for (int y = 0; y < s->height; ++y)
    for (int x = 0; x < s->width; ++x)
      ASSERT_EQ(Cov(*s, x, y), eleven.coverage[size_t(y + off) * eleven.n + (x + off)])
          << x << "," << y;
}

TEST(MakeSprite, HalfPixelDiscTrimsToOnePixel) {
  SpritePtr s(MakeSprite(0.5f, 720));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->width, 1);
  EXPECT_EQ(s->height, 1);
  EXPECT_GT(s->coverage[0], 0);
  EXPECT_EQ(s->stampWidth, 0);
  // Below 0.01 counts as 0.01: a disc too small to hold a sample, trimmed
  // to one empty pixel.
  for (float radius : {0.01f, 0.0f, -3.0f}) {
    SpritePtr t(MakeSprite(radius, 720));
    ASSERT_TRUE(t);
    EXPECT_EQ(t->width, 1) << radius;
    EXPECT_EQ(t->coverage[0], 0);
  }
}

TEST(MakeSprite, ThreePixelDiscHasEmptyCornersAFaintCentreAndADenseRim) {
  SpritePtr s(MakeSprite(3.0f, 720));
  ASSERT_TRUE(s);
  ASSERT_EQ(s->width, 7);
  ASSERT_EQ(s->height, 7);
  // Three-pixel triangles in each corner are empty, and nothing else is.
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 7; ++x) {
      const int cx = std::min(x, 6 - x), cy = std::min(y, 6 - y);
      const bool corner = cx + cy <= 1;
      EXPECT_EQ(Cov(*s, x, y) == 0, corner) << x << "," << y;
    }
  }
  int faintest = 256, densest = 0;
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 7; ++x) {
      if (Cov(*s, x, y) > 0) faintest = std::min(faintest, Cov(*s, x, y));
      densest = std::max(densest, Cov(*s, x, y));
    }
  }
  EXPECT_EQ(Cov(*s, 3, 3), faintest);
  // The densest pixels lie on the rim, between two and three pixels out.
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 7; ++x) {
      if (Cov(*s, x, y) != densest) continue;
      const double r = std::hypot(x - 3, y - 3);
      EXPECT_GE(r, 2.0) << x << "," << y;
      EXPECT_LE(r, 3.0) << x << "," << y;
    }
  }
  // Normals point away from the centre.
  EXPECT_GT(s->normalX[3 * 7 + 5], 0.0f);
  EXPECT_LT(s->normalX[3 * 7 + 1], 0.0f);
  EXPECT_GT(s->normalY[5 * 7 + 3], 0.0f);
  EXPECT_EQ(s->normalX[0], 0.0f);
}

TEST(MakeSprite, RefusesWhatItCannotDraw) {
  EXPECT_EQ(MakeSprite(std::nanf(""), 720), nullptr);
  EXPECT_EQ(MakeSprite(INFINITY, 720), nullptr);
  EXPECT_EQ(MakeSprite(kMaxSpriteRadius * 2, 720), nullptr);
  EXPECT_EQ(MakeSprite(3.0f, 0), nullptr);
  EXPECT_EQ(MakeSprite(3.0f, -720), nullptr);
}

TEST(SpriteRadius, RunsUpForGrowingTypesAndDownForShrinking) {
  const int width = 720;
  const float step = float(width * 0.05555555555555555 / 80);  // 0.5
  EXPECT_FLOAT_EQ(SpriteRadius(1, 0, width, step), 40.5f);
  EXPECT_FLOAT_EQ(SpriteRadius(1, 80, width, step), 0.5f);
  EXPECT_FLOAT_EQ(SpriteRadius(1, 10, width, step), 35.5f);
  for (int type : {0, 2, 3}) {
    EXPECT_FLOAT_EQ(SpriteRadius(type, 0, width, step), 0.5f);
    EXPECT_FLOAT_EQ(SpriteRadius(type, 80, width, step), 40.5f);
    EXPECT_FLOAT_EQ(SpriteRadius(type, 10, width, step), 5.5f);
  }
}

class SpriteCache : public ::testing::Test {
 protected:
  ~SpriteCache() override {
    for (auto& table : caches)
      for (BubbleSprite*& s : table) ReleaseSprite(s);
  }
  BubbleSprite* caches[kBubbleTypes][kSizeSteps] = {};
};

TEST_F(SpriteCache, MakesEntriesOnceAndRemakesThemForANewWidth) {
  const float step720 = float(720 * 0.05555555555555555 / 80);
  BubbleSprite* a = CachedSprite(caches, 1, 0, 720, step720);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->stampWidth, 720);
  EXPECT_EQ(a->width, 81);  // radius 40.5: 2 × 41 + 1, the empty ring trimmed
  EXPECT_EQ(CachedSprite(caches, 1, 0, 720, step720), a);
  EXPECT_EQ(FindSprite(caches, 1, 0, 720), a);
  EXPECT_EQ(FindSprite(caches, 1, 1, 720), nullptr);  // never made
  EXPECT_EQ(FindSprite(caches, 0, 0, 720), nullptr);  // one table per type

  // A narrower image: the entry is stale until remade at the new width.
  const float step360 = float(360 * 0.05555555555555555 / 80);
  EXPECT_EQ(FindSprite(caches, 1, 0, 360), nullptr);
  BubbleSprite* b = CachedSprite(caches, 1, 0, 360, step360);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->stampWidth, 360);
  EXPECT_EQ(b->width, 41);  // radius 20.5
  EXPECT_EQ(FindSprite(caches, 1, 0, 720), nullptr);
}

TEST_F(SpriteCache, OutOfRangeLookupsYieldNothing) {
  for (int type : {-1, kBubbleTypes}) EXPECT_EQ(CachedSprite(caches, type, 0, 720, 0.5f), nullptr);
  for (int index : {-1, kSizeSteps}) EXPECT_EQ(CachedSprite(caches, 0, index, 720, 0.5f), nullptr);
  EXPECT_EQ(FindSprite(caches, 7, 0, 720), nullptr);
  EXPECT_EQ(CachedSprite(caches, 0, 3, 0, 0.0f), nullptr);  // no width: no sprite, entry empty
  EXPECT_EQ(caches[0][3], nullptr);
}

}  // namespace
}  // namespace bubbles
