// The flame buffer as the column strips render it: shape, turbulence, wind,
// strips, and agreement with the straightforward evaluation.
#include "candle/flame_columns.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "tests/candle/flame_reference.h"

namespace candle {
namespace {

struct Buffer {
  int w, h;
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint8_t*> rows;
  Buffer(int w_, int h_) : w(w_), h(h_), bytes(size_t(w_) * h_ * 4), rows(h_) {
    for (int y = 0; y < h; ++y) rows[y] = bytes.data() + size_t(y) * w * 4;
  }
  const std::uint8_t* At(int x, int r) const { return rows[r] + 4 * x; }
  bool Drawn(int x, int r) const { return At(x, r)[2] != 0; }  // every inside pixel has red
};

struct Scene {
  ControlCache cache = DefaultCache();
  int w = 160, h = 120;
  float aspect = 1.0f, time = 0.4f;
  int seed = 2000;
};

enum class Path { kShipped, kReference, kNarrow };

// The shipped kernel over [0, W) in the given strips, the reference, or the
// kernel's eight-lane path whatever the processor has.
Buffer Render(const Scene& s, std::vector<int> cuts = {}, Path path = Path::kShipped) {
  static fw::Gradient g[256];
  SeedGradients(s.seed, g);
  const FlameFrame f = BuildFrame(s.cache, s.w, s.h, s.aspect, s.time, false);
  const FlameChunkContext ctx = MakeChunkContext(f, g);
  Buffer b(s.w, s.h);
  if (path == Path::kReference) {
    ReferenceFlameColumns(ctx, 0, s.w, b.rows.data());
    return b;
  }
  // The kernel writes every pixel of its columns: start from litter.
  std::fill(b.bytes.begin(), b.bytes.end(), std::uint8_t(0xA5));
  cuts.insert(cuts.begin(), 0);
  cuts.push_back(s.w);
  for (size_t i = 0; i + 1 < cuts.size(); ++i) {
    if (path == Path::kNarrow)
      RenderFlameColumnsNarrow(ctx, cuts[i], cuts[i + 1], b.rows.data());
    else
      RenderFlameColumns(ctx, cuts[i], cuts[i + 1], b.rows.data(), nullptr);
  }
  return b;
}

TEST(FlameColumns, WithoutWindTurbulenceOnlyRemovesPixelsFromTheHalfEllipse) {
  Scene bare;
  bare.cache.windSpeed = 0;
  bare.cache.turbulence = 0;
  Scene rough = bare;
  rough.cache.turbulence = 100;
  const Buffer plain = Render(bare), turbulent = Render(rough);
  const FlameFrame f = BuildFrame(bare.cache, bare.w, bare.h, 1.0f, 0.0f, false);
  int drawn = 0, removed = 0;
  for (int x = 0; x < bare.w; ++x) {
    const float base = BaseCurveRow(x, f);
    for (int r = 0; r < bare.h; ++r) {
      if (turbulent.Drawn(x, r)) {
        ++drawn;
        EXPECT_TRUE(plain.Drawn(x, r)) << x << "," << r;
        // Inside the half-ellipse over the base curve.
        const double dx = (x - (f.x0 + f.x1) / 2.0) / f.halfWidth, dy = (r - base) / f.flameHeight;
        EXPECT_LE(dx * dx + dy * dy, 1.0 + 1e-5) << x << "," << r;
      } else if (plain.Drawn(x, r)) {
        ++removed;
      }
    }
  }
  EXPECT_GT(drawn, 1000);
  EXPECT_GT(removed, 100);
}

TEST(FlameColumns, DefaultOutlineWithoutWindStaysBetweenItsCorners) {
  for (int w : {160, 333}) {
    Scene s;
    s.w = w;
    s.cache.windSpeed = 0;
    const Buffer b = Render(s);
    int left = w, right = -1;
    for (int r = 0; r < s.h; ++r)
      for (int x = 0; x < w; ++x)
        if (b.Drawn(x, r)) left = std::min(left, x), right = std::max(right, x);
    EXPECT_GE(left, int(0.125 * w) - 1) << w;
    EXPECT_LE(right, int(0.875 * w) + 1) << w;
    EXPECT_LT(left, int(0.125 * w) + w / 20) << w;
  }
}

TEST(FlameColumns, SwappedBottomCornersDrawTheSameFlame) {
  Scene a, b;
  std::swap(b.cache.bottomLeft, b.cache.bottomRight);
  EXPECT_EQ(Render(a).bytes, Render(b).bytes);
}

TEST(FlameColumns, StripsDoNotChangeTheResult) {
  Scene s;
  s.w = 97;
  const Buffer whole = Render(s);
  EXPECT_EQ(Render(s, {1, 2, 48, 96}).bytes, whole.bytes);
  EXPECT_EQ(Render(s, {32, 64}).bytes, whole.bytes);
}

// Mean column of the drawn pixels in the upper half of the flame.
double UpperCentre(const Buffer& b) {
  double sum = 0;
  long n = 0;
  for (int r = b.h / 2; r < b.h; ++r)
    for (int x = 0; x < b.w; ++x)
      if (b.Drawn(x, r)) sum += x, ++n;
  return n ? sum / n : -1;
}

TEST(FlameColumns, WindBendsTheFlameAwayFromItsSource) {
  Scene calm;
  calm.cache.windSpeed = 0;
  calm.cache.turbulence = 0;
  const double centre = UpperCentre(Render(calm));
  Scene right = calm;
  right.cache.windSpeed = 60;
  right.cache.windSource = {0.05, 0.7};  // below-left of the flame, blowing right
  right.cache.windTarget = {0.45, 0.7};
  EXPECT_GT(UpperCentre(Render(right)), centre + 3);
  Scene left = right;
  left.cache.windSource = {0.95, 0.7};
  left.cache.windTarget = {0.55, 0.7};
  EXPECT_LT(UpperCentre(Render(left)), centre - 3);
  // Zero strength, or a cone that misses the flame: unchanged.
  Scene away = right;
  away.cache.windTarget = {0.05, 0.1};
  away.cache.windSpread = 10;
  EXPECT_EQ(Render(away).bytes, Render(calm).bytes);
}

// The shipped kernel against the straightforward evaluation: the same bytes
// on at least 99.9 % of pixels, never more than one level apart.
void ExpectCloseToReference(const Scene& s, const char* what) {
  const Buffer fast = Render(s), slow = Render(s, {}, Path::kReference);
  long differing = 0;
  int largest = 0;
  for (size_t p = 0; p < fast.bytes.size(); p += 4) {
    bool same = true;
    for (int k = 0; k < 4; ++k) {
      const int d = std::abs(int(fast.bytes[p + k]) - int(slow.bytes[p + k]));
      largest = std::max(largest, d);
      same = same && d == 0;
    }
    differing += !same;
  }
  EXPECT_LE(largest, 1) << what;
  EXPECT_LE(double(differing), 0.001 * s.w * s.h) << what;
}

TEST(FlameColumns, AgreesWithTheStraightforwardEvaluation) {
  Scene s;
  s.w = 320, s.h = 180, s.aspect = 1.2f;
  ExpectCloseToReference(s, "defaults");
  const float presets[][3] = {{16, 54, 38}, {68, 59, 60}, {68, 36, 80}, {8, 36, 80}};
  for (const auto& p : presets) {
    s.cache.turbulence = p[0], s.cache.frequency1 = p[1], s.cache.frequency2 = p[2];
    ExpectCloseToReference(s, "preset");
  }
  s.cache.windSource = {0.5, 0.95};
  s.cache.windTarget = {0.5, 0.1};
  s.cache.windSpread = 120;
  s.time = 3.25f;
  ExpectCloseToReference(s, "upward wind");
}

// Where the processor has 512-bit registers the kernel works two rows per
// vector; its bytes must be those of the eight-lane path: odd and even
// heights (a last row without a partner), strips narrower than a group,
// winds from every side, non-square pixels, a hard base and every preset's
// turbulence.
TEST(FlameColumns, TheTwoRowPathGivesTheBytesOfTheOneRowPath) {
  Scene s;
  const float presets[][3] = {{40, 30, 70}, {16, 54, 38}, {68, 59, 60}, {68, 36, 80}, {8, 36, 80}};
  const CachedPoint sources[][2] = {
      {{0.05, 0.46}, {0.9, 0.46}}, {{0.95, 0.5}, {0.1, 0.5}}, {{0.5, 0.95}, {0.5, 0.1}}};
  int scene = 0;
  for (const auto& p : presets)
    for (const auto& wind : sources) {
      s.w = 97 + 8 * (scene % 3);
      s.h = 61 + scene % 2;
      s.aspect = scene % 2 ? 1.0f : 0.75f;
      s.time = 0.4f + scene;
      s.cache.turbulence = p[0], s.cache.frequency1 = p[1], s.cache.frequency2 = p[2];
      s.cache.windSource = wind[0];
      s.cache.windTarget = wind[1];
      s.cache.baseSoftness = scene % 4 == 3 ? 0.0f : 12.0f;
      EXPECT_EQ(Render(s, {5, 40}).bytes, Render(s, {5, 40}, Path::kNarrow).bytes)
          << "scene " << scene;
      ++scene;
    }
}

TEST(FlameColumns, DegenerateScenesRenderWithoutFault) {
  for (int size : {1, 2, 7}) {
    Scene s;
    s.w = s.h = size;
    for (CachedPoint* p : {&s.cache.bottomLeft, &s.cache.bottomRight, &s.cache.topLeft,
                           &s.cache.curvePoint1, &s.cache.curvePoint2})
      *p = {0.5, 0.5};
    s.cache.windSource = s.cache.windTarget = {0.5, 0.5};
    s.cache.windSpread = 400;
    s.cache.proportion3 = 0;
    s.cache.frequency2 = 2000;  // an unbounded top frequency
    Render(s);
    s.cache = DefaultCache();
    s.cache.bottomLeft = {-3e9, 5e9};
    s.cache.curvePoint1 = {1e30, -1e30};
    Render(s);
  }
}

}  // namespace
}  // namespace candle
