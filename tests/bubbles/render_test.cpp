// The bubble renderer as pure functions on a system filled in by the test:
// the burst decision, the look of a bubble, the disc and the fragment spray,
// and the bands.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

#include "bubbles/band_balance.h"
#include "bubbles/bubble_blit.h"
#include "bubbles/bubble_burst.h"
#include "bubbles/bubble_render.h"
#include "framework/harness.h"
#include "framework/lanes.h"
#include "framework/random.h"
#include "tests/bubbles/simulation_support.h"

namespace bubbles {
namespace {

using test::ImagePtr;

// A system with one output image and hand-placed bubbles; flat (unlit)
// drawing unless a test lights it.
class Scene {
 public:
  Scene(int width, int height) : output_(df::Image::Create(width, height)) {
    s = CreateBubbleSystem(kBlockSize);
    s->width = width;
    s->height = height;
    s->outputImage = output_.get();
    s->params.radiusStep = float(width * 0.05555555555555555 / 80);
    s->aspect = 1.0f;
    s->params.shine = 45;
    s->params.shineHighlight = 10;
    s->params.minBrightness = 0.6f;
    s->params.reflectionIntensity = 1.0f;
    table_.assign(65536, 0.5f);
    s->randomTable = table_.data();
  }
  ~Scene() { DestroyBubbleSystem(s); }

  // A bubble at (x, y) of size step `size`, born after every bubble so far
  // (so at the head of the list).
  Bubble& Add(float x, float y, int size, float red, float green, float blue, float density = 255) {
    Bubble* b = AcquireBubble(*s);
    b->x = x;
    b->y = y;
    b->sizeIndex = size;
    b->red = red;
    b->green = green;
    b->blue = blue;
    b->density = density;
    b->lifetime = 100;
    b->maxAge = 5000;
    b->serial = ++s->birthCount;
    b->next = s->liveList;
    s->liveList = b;
    s->liveCount += 1;
    return *b;
  }

  // The frame's render: decisions and sprites, then every band.
  void Render(int workers = 1) {
    s->stepCount += 1;
    DecideBursts(*s);
    PrepareSprites(*s);
    DrawBands(workers);
  }
  void DrawBands(int workers) {
    for (int k = 0; k < workers; ++k) {
      const fw::Band band = fw::ChunkBand(k, workers, s->height);
      DrawBand(*s, band.begin, band.end);
    }
  }
  void Fill(uint8_t value) {
    for (int y = 0; y < s->height; ++y) std::memset(output_->rows[y], value, size_t(s->width) * 4);
  }

  const uint8_t* At(int x, int y) const { return output_->Pixel(x, y); }
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> v;
    for (int y = 0; y < s->height; ++y)
      v.insert(v.end(), output_->rows[y], output_->rows[y] + size_t(s->width) * 4);
    return v;
  }
  const BubbleSprite& SpriteOf(const Bubble& b) const {
    const BubbleSprite* sprite =
        FindSprite(s->spriteCaches, s->params.bubbleType, b.sizeIndex, s->width);
    EXPECT_NE(sprite, nullptr);
    return *sprite;
  }

  BubbleSystem* s = nullptr;
  std::vector<float> table_;

 private:
  ImagePtr output_;
};

// The flat blend of one sprite pixel over dst: opacity density × coverage / 256.
void FlatBlend(uint8_t* px, int cov, const int color[4]) {
  const int alpha = (color[3] * cov) >> 8;
  const int byColor[4] = {color[2], color[1], color[0], color[3]};
  for (int b = 0; b < 4; ++b)
    px[b] = uint8_t(std::min(255, (px[b] * (256 - alpha) + alpha * byColor[b]) >> 8));
}

// The image a list of flat bubbles gives over transparent black, drawn in
// list order, the sprite rows taken every `rowStep`.
std::vector<uint8_t> FlatPicture(const Scene& sc, int rowStep = 1) {
  const int w = sc.s->width, h = sc.s->height;
  std::vector<uint8_t> img(size_t(w) * h * 4, 0);
  for (const Bubble* b = sc.s->liveList; b; b = b->next) {
    const BubbleSprite& sp = sc.SpriteOf(*b);
    const int px = int(double(w) * b->x + 0.5), py = int(double(h) * b->y + 0.5);
    const int half = sp.width / 2;
    const double rem = b->maxAge - b->age;
    const int color[4] = {int(b->red * rem / b->maxAge), int(b->green * rem / b->maxAge),
                          int(b->blue * rem / b->maxAge), int(b->density * rem / b->maxAge)};
    for (int k = 0; k * rowStep < sp.height; ++k) {
      for (int i = 0; i < sp.width; ++i) {
        const int x = px - half + i, y = py - half + k;
        const int cov = sp.coverage[size_t(k * rowStep) * sp.width + i];
        if (x < 0 || y < 0 || x >= w || y >= h || cov == 0) continue;
        FlatBlend(&img[(size_t(y) * w + x) * 4], cov, color);
      }
    }
  }
  return img;
}

// trunc(extent × x + 0.5) of the exact product: 320 × 0x1.ecccccp-4 + 0.5 is
// 38.99999905 and 640 × 0x1.246666p-1 is 365.4999924, where a single-
// precision product rounds to 38.5 and 365.5 and gives 39 and 366.
TEST(BubbleRender, CentrePixelComesFromTheExactProduct) {
  for (const auto& [width, x, expected] :
       {std::tuple{320, 0x1.ecccccp-4f, 38}, std::tuple{640, 0x1.246666p-1f, 365}}) {
    Scene sc(width, width);
    const Bubble& b = sc.Add(x, x, 0, 0, 0, 0);
    EXPECT_EQ(CentreColumn(*sc.s, b), expected) << width;
    EXPECT_EQ(CentreRow(*sc.s, b), expected) << width;
    EXPECT_EQ(LookOfBubble(*sc.s, b).px, expected) << width;
  }
}

TEST(BubbleRender, UnlitBubblesAreFlatDiscsOfDensityTimesCoverage) {
  Scene sc(360, 240);
  sc.Add(0.5f, 0.5f, 40, 200, 100, 50);                  // radius 10.5
  sc.Add(0.25f, 0.3f, 20, 90, 180, 30, 128).age = 2500;  // faded to half
  sc.s->params.reflectionsEnabled = 1;                   // no reflection without light
  test::ImagePtr reflection(test::RedImage(360, 240, 255));
  sc.s->reflectionImage = reflection.get();
  sc.Render();
  EXPECT_EQ(sc.Bytes(), FlatPicture(sc));
  EXPECT_EQ(sc.At(180, 180)[3], 0);  // outside: transparent black
}

TEST(BubbleRender, FadeModesScaleColourDensityOrBoth) {
  for (int mode : {0, 1, 2}) {
    Scene sc(64, 64);
    sc.s->params.fadeMode = mode;
    Bubble& b = sc.Add(0.5f, 0.5f, 0, 200, 100, 50, 255);
    b.preTestAge = 2500;  // the fade reads the age from before the burst test
    const BubbleLook look = LookOfBubble(*sc.s, b);
    const bool colorFades = mode != 2, densityFades = mode != 1;
    EXPECT_EQ(look.color[0], colorFades ? 100 : 200) << mode;
    EXPECT_EQ(look.color[1], colorFades ? 50 : 100);
    EXPECT_EQ(look.color[2], colorFades ? 25 : 50);
    EXPECT_EQ(look.color[3], densityFades ? 127 : 255);
    EXPECT_EQ(look.lightLevel, -1);
  }
}

TEST(BubbleRender, LightAddsItsColourAndFollowsTheCone) {
  Scene sc(64, 64);
  sc.s->params.lightBrightness = 1.0f;
  sc.s->params.lightSpread = 90;
  sc.s->params.lightGlisten = 10;
  sc.s->params.lightRed = sc.s->params.lightGreen = sc.s->params.lightBlue = 127.5f;
  sc.s->params.lightSourceX = 0.0f;
  sc.s->params.lightSourceY = 0.5f;
  sc.s->params.lightTargetX = 1.0f;
  sc.s->params.lightTargetY = 0.5f;
  sc.s->params.lightZ = 0.5f;
  // On the light's axis: cosθ limited to 0.99999, the full factor.
  const BubbleLook on = LookOfBubble(*sc.s, sc.Add(0.5f, 0.5f, 0, 100, 20, 0, 200));
  EXPECT_FLOAT_EQ(on.lightFactor, 1.0f);
  EXPECT_EQ(on.lightLevel, int(std::pow(0.99999, 10) * 255));
  EXPECT_EQ(on.color[0], 227);  // trunc(127.5 + 100)
  EXPECT_EQ(on.color[1], 147);
  EXPECT_EQ(on.color[2], 127);
  EXPECT_EQ(on.color[3], 200);
  EXPECT_NEAR(on.lightVector[0], -std::sqrt(0.5), 1e-6);
  EXPECT_FLOAT_EQ(on.lightVector[1], 0.0f);
  EXPECT_NEAR(on.lightVector[2], std::sqrt(0.5), 1e-6);
  // Outside the 45° half-cone, and behind the source: no light at all.
  for (float y : {0.0f, 1.0f}) {
    const BubbleLook off = LookOfBubble(*sc.s, sc.Add(0.2f, y, 0, 100, 20, 0, 200));
    EXPECT_EQ(off.lightFactor, 0.0f);
    EXPECT_EQ(off.lightLevel, 0);
    EXPECT_EQ(off.color[3], 0);
  }
  const BubbleLook behind = LookOfBubble(*sc.s, sc.Add(-0.2f, 0.5f, 0, 100, 20, 0, 200));
  EXPECT_EQ(behind.lightLevel, 0);
  EXPECT_EQ(behind.color[0], 0);
}

TEST(BubbleRender, BubbleBehindTheLightLeavesTheOutputAlone) {
  Scene sc(120, 80);
  sc.s->params.lightBrightness = 2.0f;
  sc.s->params.lightSpread = 180;
  sc.s->params.lightSourceX = 0.5f;
  sc.s->params.lightSourceY = 0.5f;
  sc.s->params.lightTargetX = 1.0f;
  sc.s->params.lightTargetY = 0.5f;
  sc.s->params.reflectionsEnabled = 1;
  test::ImagePtr reflection(test::RedImage(120, 80, 255));
  sc.s->reflectionImage = reflection.get();
  sc.Add(0.2f, 0.5f, 80, 255, 255, 255);
  sc.Render();
  sc.Fill(77);
  const std::vector<uint8_t> before = sc.Bytes();
  sc.DrawBands(1);
  EXPECT_EQ(sc.Bytes(), before);
}

// The lit blend written out plainly, with exact powers.
struct LitExpect {
  std::vector<uint8_t> img;
};
std::vector<uint8_t> LitPicture(const Scene& sc, const df::Image* reflection) {
  const BubbleSystem& s = *sc.s;
  std::vector<uint8_t> img(size_t(s.width) * s.height * 4, 0);
  for (const Bubble* b = s.liveList; b; b = b->next) {
    const BubbleSprite& sp = sc.SpriteOf(*b);
    const BubbleLook look = LookOfBubble(s, *b);
    const int half = sp.width / 2;
    const int c3 = look.color[3];
    for (int j = 0; j < sp.height; ++j) {
      for (int i = 0; i < sp.width; ++i) {
        const int x = look.px - half + i, y = look.py - half + j;
        const size_t p = size_t(j) * sp.width + i;
        const int cov = sp.coverage[p];
        if (x < 0 || y < 0 || x >= s.width || y >= s.height || cov == 0) continue;
        const float nx = sp.normalX[p], ny = sp.normalY[p];
        const float nz = std::sqrt(std::max(0.0f, 1 - nx * nx - ny * ny));
        float sh = nx * look.lightVector[0] + ny * look.lightVector[1] + nz * look.lightVector[2];
        sh = std::clamp(sh, 0.0f, 1.0f);
        int alpha = (int((std::pow(sh, s.params.shine) + s.params.minBrightness) * cov) *
                     ((look.lightLevel * c3) >> 8)) >>
                    8;
        alpha = std::min(alpha, 256);
        const int highlight = int(std::pow(sh, s.params.shineHighlight) * look.lightLevel);
        int r[4] = {};
        if (reflection) {
          const uint8_t* rp =
              reflection->Pixel(int((nx + 1) * (s.width / 2)), int((ny + 1) * (s.height / 2)));
          for (int k = 0; k < 4; ++k)
            r[k] = (int(rp[k] * s.params.reflectionIntensity * look.lightFactor) * cov) >> 8;
        }
        uint8_t* d = &img[(size_t(y) * s.width + x) * 4];
        const int byColor[4] = {look.color[2], look.color[1], look.color[0], c3};
        for (int k = 0; k < 4; ++k) {
          const int v = ((d[k] * (256 - alpha) + alpha * byColor[k]) >> 8) + highlight + r[k];
          d[k] = uint8_t(std::clamp(v, 0, 255));
        }
      }
    }
  }
  return img;
}

// Largest difference of two pictures, byte by byte.
int LargestDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  int d = 0;
  for (size_t k = 0; k < a.size(); ++k) d = std::max(d, std::abs(int(a[k]) - int(b[k])));
  return d;
}

TEST(ShinePower, FollowsTheExactPowerClosely) {
  for (float e : {0.0f, 1.0f, 2.3f, 10.0f, 45.0f, 157.0f, 200.0f}) {
    for (int k = 0; k <= 4096; ++k) {
      const float s = float(k) / 4096.0f;
      const double exact = std::pow(double(s), double(e));
      const float got = fw::lanes::UnitPower(s, e);
      // Within 2e-5 of the value, or negligible where the exact one is.
      EXPECT_LE(std::fabs(got - exact), 2e-5 * exact + 1e-30) << s << "^" << e;
    }
  }
  EXPECT_EQ(fw::lanes::UnitPower(0.0f, 0.0f), 1.0f);
  EXPECT_EQ(fw::lanes::UnitPower(1.0f, 200.0f), 1.0f);
}

class LitScene : public ::testing::TestWithParam<int> {};

TEST_P(LitScene, LitDiscsFollowTheBlendWithinOneLevel) {
  const int variant = GetParam();
  Scene sc(300, 200);
  BubbleSystem& s = *sc.s;
  s.params.lightBrightness = 1.0f + 0.5f * variant;
  s.params.lightSpread = 120;
  s.params.lightGlisten = float(variant * 3);
  s.params.lightRed = 60;
  s.params.lightGreen = 120;
  s.params.lightBlue = 250;
  s.params.lightSourceX = 0.1f;
  s.params.lightSourceY = 0.1f;
  s.params.lightTargetX = 0.6f;
  s.params.lightTargetY = 0.7f;
  s.params.lightZ = 0.2f + 0.2f * variant;
  s.params.shine = std::vector<float>{45, 1, 157, 34, 200}[variant];
  s.params.shineHighlight = std::vector<float>{10, 42, 22, 1, 200}[variant];
  s.params.minBrightness = std::vector<float>{0.6f, 0.38f, 0.0f, 1.0f, 0.6f}[variant];
  s.params.reflectionIntensity = 0.68f;
  test::ImagePtr reflection(df::Image::Create(300, 200));
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x)
      for (int k = 0; k < 4; ++k)
        reflection->Pixel(x, y)[k] = uint8_t((x * 7 + y * 3 + k * 50) % 256);
  s.params.reflectionsEnabled = variant % 2;
  s.reflectionImage = reflection.get();
  for (int n = 0; n < 12; ++n)
    sc.Add(0.05f + 0.08f * n, 0.2f + 0.05f * n, 7 * n, 20.0f * n, 255 - 20.0f * n, 100, 255);
  sc.Render(3);
  EXPECT_LE(
      LargestDifference(sc.Bytes(),
                        LitPicture(sc, s.params.reflectionsEnabled ? reflection.get() : nullptr)),
      1);
}
INSTANTIATE_TEST_SUITE_P(Variants, LitScene, ::testing::Range(0, 5));

TEST(BubbleRender, ReflectionsWithoutAnImageEqualReflectionsOff) {
  std::vector<uint8_t> pictures[2];
  for (int on : {0, 1}) {
    Scene sc(200, 150);
    sc.s->params.lightBrightness = 1.0f;
    sc.s->params.lightSpread = 180;
    sc.s->params.lightTargetX = sc.s->params.lightTargetY = 1.0f;
    sc.s->params.reflectionsEnabled = on;
    sc.Add(0.5f, 0.5f, 60, 40, 80, 120);
    sc.Render();
    pictures[on] = sc.Bytes();
  }
  EXPECT_EQ(pictures[0], pictures[1]);
  EXPECT_NE(LargestDifference(pictures[0], std::vector<uint8_t>(pictures[0].size(), 0)), 0);
}

TEST(BubbleRender, SpritesAreClippedToTheImageAndTheBand) {
  Scene sc(100, 60);
  sc.Add(0.0f, 0.0f, 80, 200, 100, 50);    // top-left corner: a quarter inside
  sc.Add(1.0f, 0.9f, 60, 10, 250, 50);     // right edge, past the bottom
  sc.Add(-0.5f, 0.5f, 80, 255, 255, 255);  // wholly outside
  sc.Add(0.5f, 2.0f, 80, 255, 255, 255);   // wholly below
  sc.Render();
  const std::vector<uint8_t> whole = sc.Bytes();
  EXPECT_EQ(whole, FlatPicture(sc));
  // One band draws only its own rows, and the bands together draw the whole.
  for (int workers : {2, 7, 60, 61, 100}) {
    Scene part(100, 60);
    part.Add(0.0f, 0.0f, 80, 200, 100, 50);
    part.Add(1.0f, 0.9f, 60, 10, 250, 50);
    part.Render(workers);
    EXPECT_EQ(part.Bytes(), whole) << workers;
  }
  Scene band(100, 60);
  band.Add(0.0f, 0.0f, 80, 200, 100, 50);
  band.Add(1.0f, 0.9f, 60, 10, 250, 50);
  band.s->stepCount += 1;
  PrepareSprites(*band.s);
  DrawBand(*band.s, 5, 9);
  const std::vector<uint8_t> rows = band.Bytes();
  for (int y = 0; y < 60; ++y) {
    const bool inside = y >= 5 && y < 9;
    const size_t from = size_t(y) * 100 * 4, to = from + 100 * 4;
    EXPECT_TRUE(
        std::equal(rows.begin() + from, rows.begin() + to,
                   inside ? whole.begin() + from : std::vector<uint8_t>(to - from, 0).begin()))
        << y;
  }
}

TEST(BubbleRender, AspectTwoDrawsEverySecondSpriteRow) {
  Scene sc(120, 90);
  sc.s->aspect = 2.0f;
  sc.Add(0.5f, 0.5f, 70, 200, 100, 50);
  sc.Render();
  EXPECT_EQ(sc.Bytes(), FlatPicture(sc, 2));
  // An aspect that rounds to a step of 0 draws every row once, as aspect 1.
  for (float aspect : {0.3f, 0.0f, -4.0f, std::nanf("")}) {
    Scene thin(120, 90), square(120, 90);
    thin.s->aspect = aspect;
    thin.Add(0.5f, 0.5f, 70, 200, 100, 50);
    square.Add(0.5f, 0.5f, 70, 200, 100, 50);
    thin.Render();
    square.Render();
    EXPECT_EQ(thin.Bytes(), square.Bytes()) << aspect;
  }
  EXPECT_EQ(RowStepForAspect(1.49f), 1);
  EXPECT_EQ(RowStepForAspect(1.5f), 2);
  EXPECT_GE(RowStepForAspect(1e30f), 1 << 20);
}

TEST(BubbleRender, OlderBubbleEndsOnTop) {
  Scene sc(80, 80);
  sc.Add(0.5f, 0.5f, 80, 255, 0, 0);  // older
  sc.Add(0.5f, 0.5f, 80, 0, 0, 255);  // newer, drawn first
  sc.Render();
  EXPECT_EQ(sc.Bytes(), FlatPicture(sc));
  const uint8_t* rim = sc.At(40 + 4, 40);
  EXPECT_GT(rim[2], rim[0]);  // red over blue
}

// ----- bursts -----

class BurstScene : public ::testing::Test {
 protected:
  BurstScene() : sc(90, 70), region(test::RedImage(90, 70, 255)) {
    sc.s->params.burstEnabled = 1;
    sc.s->burstImage = region.get();
    sc.s->params.burstQuantity = 1.0f;
    sc.s->params.burstThreshold = 0.0f;
    sc.s->params.burstRadius = 1.0f;
    sc.s->params.burstAfterlife = 6;
  }
  Scene sc;
  ImagePtr region;
};

TEST_F(BurstScene, DecisionSetsBurstAndAnAgeWithinTheAfterlife) {
  Bubble& b = sc.Add(0.5f, 0.5f, 40, 100, 100, 100);
  b.age = 10;
  fw::SeedRandom(5);
  const int draw = test::DrawsAfterSeed(5, 1)[0];
  fw::SeedRandom(5);
  DecideBursts(*sc.s);
  EXPECT_EQ(b.burst, 1);
  EXPECT_EQ(b.preTestAge, 10);
  EXPECT_EQ(b.age, 100 - int(fw::UniformFromDraw(draw) * 6 + 1));
  EXPECT_GE(b.age, 94);
  EXPECT_LE(b.age, 99);
}

TEST_F(BurstScene, DecisionNeedsTheRegionTheTableAndTheSwitch) {
  Bubble& b = sc.Add(0.5f, 0.5f, 40, 100, 100, 100);
  b.age = 10;
  const auto decided = [&] {
    b.burst = 0;
    b.age = 10;
    return BurstTest(*sc.s, b);
  };
  EXPECT_TRUE(decided());
  sc.s->params.burstQuantity = 0.5f;  // the table holds 0.5 everywhere: not below
  EXPECT_FALSE(decided());
  sc.s->params.burstQuantity = 1.0f;
  sc.s->params.burstEnabled = 0;
  EXPECT_FALSE(decided());
  sc.s->params.burstEnabled = 1;
  ImagePtr dark(test::RedImage(90, 70, 128));  // 128 is not inside
  sc.s->burstImage = dark.get();
  EXPECT_FALSE(decided());
  b.lifetime = 11;  // ... but a bubble in its last frame is tested anyway
  EXPECT_TRUE(BurstTest(*sc.s, b));
  sc.s->burstImage = nullptr;
  EXPECT_FALSE(BurstTest(*sc.s, b));
  sc.s->burstImage = region.get();
  b.x = 1.2f;  // centre outside the image
  EXPECT_FALSE(BurstTest(*sc.s, b));
  // The table is indexed by the centre pixel, modulo 65536.
  b.x = 0.5f;
  b.lifetime = 100;
  sc.s->params.burstQuantity = 0.5f;
  sc.table_[(45 + 90 * 35) % 65536] = 0.25f;
  EXPECT_TRUE(BurstTest(*sc.s, b));
}

TEST_F(BurstScene, ProbabilityZeroThrowsNothing) {
  sc.s->params.burstThreshold = 1.0f;
  sc.Add(0.5f, 0.5f, 60, 200, 200, 200);
  sc.Render();
  EXPECT_EQ(sc.s->liveList->burst, 1);
  EXPECT_EQ(sc.Bytes(), std::vector<uint8_t>(size_t(90) * 70 * 4, 0));
}

TEST_F(BurstScene, RadiusZeroLandsEveryFragmentOnTheCentre) {
  sc.s->params.burstRadius = 0.0f;
  sc.Add(0.5f, 0.5f, 60, 200, 200, 200);
  Bubble& gathered = sc.Add(0.2f, 0.3f, 60, 200, 200, 200);  // left the region: sprays too
  gathered.gatherState = 2;
  sc.s->params.burstEnabled = 0;
  sc.Render();
  EXPECT_EQ(sc.s->liveList->next->burst, 0);
  sc.s->params.burstEnabled = 1;
  sc.s->liveList->next->burst = 1;
  sc.Fill(0);
  sc.DrawBands(1);
  for (int y = 0; y < 70; ++y) {
    for (int x = 0; x < 90; ++x) {
      const bool centre = (x == 45 && y == 35) || (x == 18 && y == 21);
      const uint8_t* p = sc.At(x, y);
      EXPECT_EQ(p[0] | p[1] | p[2] | p[3], centre ? p[0] | p[1] | p[2] | p[3] : 0) << x << "," << y;
      if (centre) {
        EXPECT_GT(p[3], 0) << x << "," << y;
      }
    }
  }
}

TEST_F(BurstScene, SprayIsTheSameWhateverTheBands) {
  sc.s->params.burstRadius = 1.6f;
  sc.s->params.burstThreshold = -0.3f;
  sc.Add(0.5f, 0.5f, 80, 200, 150, 100);
  sc.Add(0.1f, 0.95f, 70, 20, 150, 250);
  sc.Add(0.8f, 0.1f, 50, 250, 50, 10);
  sc.Render(1);
  const std::vector<uint8_t> one = sc.Bytes();
  int drawn = 0;
  for (size_t k = 3; k < one.size(); k += 4) drawn += one[k] != 0;
  EXPECT_GT(drawn, 50);
  for (int workers : {2, 3, 16, 70, 200}) {
    sc.Fill(0);
    sc.DrawBands(workers);
    EXPECT_EQ(sc.Bytes(), one) << workers;
  }
  // A later step throws other fragments; a repeat of the step the same ones.
  sc.s->stepCount += 1;
  sc.Fill(0);
  sc.DrawBands(1);
  EXPECT_NE(sc.Bytes(), one);
  sc.s->stepCount -= 1;
  sc.Fill(0);
  sc.DrawBands(1);
  EXPECT_EQ(sc.Bytes(), one);
}

// Values far outside the controls' ranges draw something or nothing, but
// never overflow or read outside an image (the sanitizer builds check).
TEST(BubbleRender, ExtremeValuesStayWithinBounds) {
  for (float big : {1e30f, -1e30f, std::nanf(""), INFINITY}) {
    Scene sc(50, 40);
    BubbleSystem& s = *sc.s;
    s.params.lightBrightness = s.params.minBrightness = s.params.reflectionIntensity =
        std::fabs(big);
    s.params.shine = s.params.lightGlisten = big;
    s.params.shineHighlight = 0;
    s.params.lightRed = s.params.lightZ = s.params.lightSpread = big;
    s.aspect = big;
    s.params.fadeMode = 2;
    s.params.reflectionsEnabled = 1;
    test::ImagePtr reflection(test::RedImage(50, 40, 255));
    s.reflectionImage = reflection.get();
    s.params.burstEnabled = 1;
    test::ImagePtr region(test::RedImage(50, 40, 255));
    s.burstImage = region.get();
    s.params.burstQuantity = 2;
    s.params.burstAfterlife = 2147483647;
    s.params.burstRadius = big;
    s.params.burstThreshold = -1;
    sc.Add(0.5f, 0.5f, 80, big, -big, big, big).maxAge = 0;
    sc.Add(big, -big, 80, 255, 255, 255).lifetime = -2147483647;
    sc.Add(0.4f, 0.6f, 80, 255, 255, 255).gatherState = 2;
    Bubble& odd = sc.Add(0.5f, 0.5f, 80, 255, 255, 255);
    odd.age = -2147483647;
    odd.sizeIndex = 1000;
    sc.Render(3);
  }
}

TEST(BubbleRender, CancelledBandsStopBeforeTheNextBubble) {
  Scene sc(60, 60);
  std::atomic<int> abort{1};
  sc.s->abortFlag = &abort;
  sc.Add(0.5f, 0.5f, 60, 200, 200, 200);
  sc.Render();
  EXPECT_EQ(sc.Bytes(), std::vector<uint8_t>(size_t(60) * 60 * 4, 0));
}

TEST(BubbleRender, UnknownBubbleTypeDrawsNothing) {
  Scene sc(60, 60);
  sc.s->params.bubbleType = 4;
  sc.Add(0.5f, 0.5f, 60, 200, 200, 200);
  sc.Render();
  EXPECT_EQ(sc.Bytes(), std::vector<uint8_t>(size_t(60) * 60 * 4, 0));
}

// A band plan: its bands cover the frame in order, drawn from its list they
// give the bytes of one band over the whole frame from the live list, and
// no band carries much more than its share of the work (worked out here row
// by row: a row's own units and, per bubble, the visible width of the
// square its sprite is made in on every row it covers). On 2 threads, band
// k of n holds (1 + a − 2a × k / (n − 1)) / n of the whole, a = 3/4 × (1 −
// 2 / n): even shares for 2 bands, the last ones little for many.
TEST(BandPlan, BandsCoverTheFrameDrawTheSameBytesAndShareTheWork) {
  Scene sc(320, 240);
  // A crowd across the middle rows, a few bubbles elsewhere, one half off
  // the left edge, one above the frame, and one spray.
  for (int i = 0; i < 40; ++i)
    sc.Add(0.05f + 0.022f * float(i), 0.45f + 0.004f * float(i % 7), 20 + i % 30, 200, 120, 60);
  sc.Add(0.5f, 0.05f, 60, 30, 60, 200);
  sc.Add(0.0f, 0.9f, 40, 90, 200, 30);
  sc.Add(0.5f, -0.2f, 80, 90, 90, 90);
  sc.Add(0.3f, 0.2f, 50, 250, 250, 250).burst = 1;
  sc.s->params.burstRadius = 1.6f;
  sc.s->params.burstThreshold = -0.3f;
  sc.Render(1);
  const std::vector<uint8_t> whole = sc.Bytes();

  // A row's own cost (its clear) is 1 + width / 32 units.
  std::vector<long long> rowCost(240, 1 + 320 / 32);
  for (const Bubble* b = sc.s->liveList; b; b = b->next) {
    if (b->burst) continue;  // its fragments are not counted
    // The square the sprite is made in, 2 × ceil(radius) + 1 pixels, before
    // an empty outer ring is trimmed off: known before the sprite is made.
    const float radius =
        SpriteRadius(sc.s->params.bubbleType, b->sizeIndex, 320, sc.s->params.radiusStep);
    const int h = int(std::ceil(radius));
    const int px = int(320.0 * b->x + 0.5), py = int(std::floor(240.0 * b->y + 0.5));
    const long long visible = std::min(px + h + 1, 320) - std::max(px - h, 0);
    for (int y = std::max(py - h, 0); y <= std::min(py + h, 239); ++y)
      rowCost[size_t(y)] += visible;
  }
  long long total = 0, heaviestRow = 0;
  for (long long c : rowCost) total += c, heaviestRow = std::max(heaviestRow, c);

  BandPlan plan;
  const std::vector<int>& bounds = plan.bounds;
  for (int chunks : {1, 7, 60, 500}) {
    ASSERT_TRUE(PlanBands(*sc.s, chunks, 2, &plan)) << chunks;
    ASSERT_EQ(bounds.size(), size_t(chunks) + 1);
    EXPECT_EQ(bounds.front(), 0);
    EXPECT_EQ(bounds.back(), 240);
    sc.Fill(0);
    double beyond = -1e30;  // the most a band's work exceeds its share by
    for (int k = 0; k < chunks; ++k) {
      ASSERT_LE(bounds[size_t(k)], bounds[size_t(k) + 1]) << chunks << " chunks, band " << k;
      DrawPlannedBand(*sc.s, plan, bounds[size_t(k)], bounds[size_t(k) + 1]);
      long long work = 0;
      for (int y = bounds[size_t(k)]; y < bounds[size_t(k) + 1]; ++y) work += rowCost[size_t(y)];
      const double a = chunks > 2 ? 0.75 * (1 - 2.0 / chunks) : 0;  // on 2 threads
      const double share =
          chunks == 1 ? double(total) : total * (1 + a - 2 * a * k / (chunks - 1.0)) / chunks;
      beyond = std::max(beyond, double(work) - share);
    }
    EXPECT_EQ(sc.Bytes(), whole) << chunks << " chunks";
    EXPECT_LE(beyond, double(heaviestRow + 1)) << chunks << " chunks";
  }
  // Equal bands would give one of 7 bands most of the crowd.
  long long equalHeaviest = 0;
  for (int k = 0; k < 7; ++k) {
    const fw::Band band = fw::ChunkBand(k, 7, 240);
    long long work = 0;
    for (int y = band.begin; y < band.end; ++y) work += rowCost[size_t(y)];
    equalHeaviest = std::max(equalHeaviest, work);
  }
  EXPECT_GT(equalHeaviest, 2 * (total / 7 + heaviestRow));
  // The bubble above the frame is not listed.
  EXPECT_EQ(plan.Drawn(), 43u);
  EXPECT_FALSE(PlanBands(*sc.s, 0, 2, &plan));
  EXPECT_TRUE(bounds.empty());
  EXPECT_EQ(plan.count, 0u);
}

}  // namespace
}  // namespace bubbles
