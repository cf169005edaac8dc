#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "bleb/warp_map.h"
#include "bleb/warp_sample.h"
#include "test_image.h"
#include "tests/bleb/reference/warp_map_reference.h"
#include "tests/bleb/warp_threads.h"

namespace bleb {
namespace {

using test::Image;

Image Render(const Image& in, const WarpControls& c, int workers = 1, RunOptions o = {}) {
  Image out(in.width, in.height, 0x5A);
  const WarpParams p = MakeWarpParams(c, in.width, in.height, 1.0f);
  EXPECT_TRUE(RunWarp(p, in.in(), out.out(), workers, o));
  return out;
}

RunOptions Forced(bool wide = false) {
  RunOptions o;
  o.forceTables = true;
  o.forceWideSums = wide;
  return o;
}

WarpControls Lobes(float amplitude, float sharpness = 4.0f) {
  WarpControls c = DefaultWarpControls();
  for (int n = 0; n < kLobes; ++n) {
    c.amplitude[n] = amplitude * (n % 2 ? 1.0f : 0.6f);
    c.sharpness[n] = sharpness;
  }
  return c;
}

int MaxDiff(const Image& a, const Image& b) {
  int worst = 0;
  for (std::size_t k = 0; k < a.data.size(); ++k)
    worst = std::max(worst, std::abs(a.data[k] - b.data[k]));
  return worst;
}

TEST(WarpRender, UniformImageSurvivesStrongLobes) {
  // Duplicate: within one level. Wrap: within two, since its sub-box
  // averages are truncated before their weighted sum is.
  const Image in = test::Uniform(96, 64, 30, 120, 240, 255);
  std::vector<WarpControls> cases = {Lobes(3.0f), Lobes(10.0f, 40.0f), Lobes(-0.9f, 2.0f)};
  WarpControls spun = Lobes(2.0f);
  spun.rotate = 123.0f;
  spun.scale = 0.3f;
  spun.centerX = 0.1f;
  cases.push_back(spun);
  for (WarpControls c : cases) {
    for (int mode : {kFillDuplicate, kFillWrap}) {
      c.fillMode = mode;
      const Image out = Render(in, c);
      const int tolerance = mode == kFillWrap ? 2 : 1;
      for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x)
          for (int b = 0; b < 4; ++b)
            ASSERT_LE(std::abs(out.at(x, y)[b] - in.at(x, y)[b]), tolerance)
                << "mode " << mode << " at " << x << "," << y << " byte " << b;
    }
  }
}

TEST(WarpRender, NeutralControlsReturnASmoothRampWithinALevel) {
  Image in(80, 60);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x)
      for (int b = 0; b < 4; ++b) in.at(x, y)[b] = static_cast<std::uint8_t>((x + y) / 4 + 10 * b);
  const Image out = Render(in, DefaultWarpControls());
  EXPECT_LE(MaxDiff(in, out), 1);
}

TEST(WarpRender, BlackEdgesAtHalfScale) {
  const Image in = test::Uniform(90, 70, 200, 200, 200, 200);
  WarpControls c = DefaultWarpControls();
  c.scale = 0.5f;
  c.fillMode = kFillBlack;
  const Image out = Render(in, c);
  // Classify each sampled pixel by the box its map neighbourhood spans.
  const WarpParams p = MakeWarpParams(c, 90, 70, 1.0f);
  std::vector<float> mx(90 * 70), my(90 * 70);
  MapRows(p, mx.data(), my.data(), 0, 70);
  int outside = 0, straddling = 0;
  for (int i = 0; i < 69; ++i)
    for (int j = 1; j < 89; ++j) {
      auto X = [&](int r, int col) { return mx[r * 90 + col]; };
      auto Y = [&](int r, int col) { return my[r * 90 + col]; };
      const float x0 = std::min({X(i, j - 1), X(i, j), X(i + 1, j - 1), X(i + 1, j)});
      const float x1 = std::max({X(i, j - 1), X(i, j), X(i + 1, j - 1), X(i + 1, j)});
      const float y0 = std::min({Y(i, j), Y(i, j + 1), Y(i + 1, j), Y(i + 1, j + 1)});
      const float y1 = std::max({Y(i, j), Y(i, j + 1), Y(i + 1, j), Y(i + 1, j + 1)});
      const std::uint8_t v = out.at(j, i)[0];
      if (x1 < 0 || y1 < 0 || x0 > 89 || y0 > 69) {
        ++outside;
        ASSERT_EQ(v, 0) << j << "," << i;
        ASSERT_EQ(out.at(j, i)[3], 0);
      } else if (x0 < 0 || y0 < 0 || x1 > 89 || y1 > 69) {
        ++straddling;
        // The part inside is averaged only where it reaches the sampled
        // range (0.0001 to size - 2.0001); a sliver beyond it is black.
        const float xa = std::max(x0, 0.f), xb = std::min(x1, 89.f);
        const float ya = std::max(y0, 0.f), yb = std::min(y1, 69.f);
        const bool sliver = xb < 0.0001f || ya > 67.9999f || yb < 0.0001f || xa > 87.9999f;
        const double inside = sliver ? 0.0 : (xb - xa) * (yb - ya) / ((x1 - x0) * (y1 - y0));
        ASSERT_NEAR(v, 200 * inside, 2.5) << j << "," << i;
      } else {
        ASSERT_GE(v, 199) << j << "," << i;
      }
    }
  EXPECT_GT(outside, 1000);
  EXPECT_GT(straddling, 50);
}

TEST(WarpRender, WrapAtHalfScaleTilesTheImage) {
  // At Scale 0.5 an offset of 60 output pixels on a 120 x 120 frame moves
  // the source by 119 = width - 1, one wrap period.
  const Image in = test::Smooth(120, 120);
  WarpControls c = DefaultWarpControls();
  c.scale = 0.5f;
  c.fillMode = kFillWrap;
  const Image out = Render(in, c);
  int worst = 0;
  for (int i = 0; i < 58; ++i)
    for (int j = 1; j < 58; ++j)
      for (int b = 0; b < 4; ++b) {
        worst = std::max(worst, std::abs(out.at(j, i)[b] - out.at(j + 60, i)[b]));
        worst = std::max(worst, std::abs(out.at(j, i)[b] - out.at(j, i + 60)[b]));
        worst = std::max(worst, std::abs(out.at(j, i)[b] - out.at(j + 60, i + 60)[b]));
      }
  // Truncation of split sub-boxes may differ between the tiles.
  EXPECT_LE(worst, 2);
}

TEST(WarpRender, AmplitudeBelowTheThresholdHasNoEffect) {
  const Image in = test::Smooth(64, 48);
  const Image base = Render(in, DefaultWarpControls());
  WarpControls c = DefaultWarpControls();
  c.amplitude[3] = 0.0005f;
  EXPECT_TRUE(Render(in, c) == base);
  c.amplitude[3] = 0.002f;
  EXPECT_FALSE(Render(in, c) == base);
}

TEST(WarpRender, BorderColumnsAndBottomRowCopyTheirNeighbours) {
  const Image in = test::Noise(37, 23, 9);
  for (int mode : {0, 1, 2}) {
    WarpControls c = Lobes(1.5f);
    c.fillMode = mode;
    c.rotate = 20;
    const Image out = Render(in, c, 3);
    for (int y = 0; y < 23; ++y) {
      EXPECT_EQ(std::memcmp(out.at(0, y), out.at(1, y), 4), 0) << y;
      EXPECT_EQ(std::memcmp(out.at(36, y), out.at(35, y), 4), 0) << y;
    }
    EXPECT_EQ(std::memcmp(out.rows[22], out.rows[21], 37 * 4), 0);
  }
}

TEST(WarpRender, BytesDoNotDependOnTheWorkerCount) {
  const Image in = test::Noise(83, 67, 4);
  for (int mode : {0, 1, 2}) {
    WarpControls c = Lobes(1.2f, 6.0f);
    c.fillMode = mode;
    c.scale = 0.8f;
    const Image one = Render(in, c, 1);
    for (int workers : {2, 3, 16, 100}) EXPECT_TRUE(Render(in, c, workers) == one) << workers;
    EXPECT_TRUE(Render(in, c, 3, Forced(true)) == one) << "64-bit sums";
  }
}

TEST(WarpRender, VectorMapRendersLikeTheScalarMap) {
  // The fast map may move a coordinate by a tiny fraction of a pixel; on
  // natural content that changes at most one level of a rare byte. (A flip
  // of the area regime could change more; none occurs here.)
  const Image in = test::Smooth(640, 360);
  WarpControls c = Lobes(0.9f, 5.0f);
  c.rotate = 15.0f;
  for (int mode : {0, 1, 2}) {
    c.fillMode = mode;
    const WarpParams p = MakeWarpParams(c, 640, 360, 1.0f);
    Image fast(640, 360), ref(640, 360);
    WarpRender render;
    ASSERT_TRUE(render.Prepare(p, in.in()));
    render.MapRows(0, 360);
    ASSERT_TRUE(render.PrepareSampling(nullptr, true));
    render.SampleRows(fast.out(), 0, 360);
    render.Finish(fast.out());
    MapRowsReference(p, render.map().x(), render.map().y(), 0, 360);
    render.SampleRows(ref.out(), 0, 360);
    render.Finish(ref.out());
    std::size_t differing = 0;
    for (std::size_t k = 0; k < fast.data.size(); ++k) differing += fast.data[k] != ref.data[k];
    EXPECT_LE(MaxDiff(fast, ref), 1) << mode;
    EXPECT_LT(differing, fast.data.size() / 1000) << mode;
  }
}

TEST(WarpRender, RowPassMatchesPerPixelSampleBox) {
  // The row pass takes a vector shortcut for plain bilinear lanes; it must
  // agree with SampleBox byte for byte, hostile map entries included.
  const Image in = test::Noise(45, 33, 8);
  AreaTables tables;
  ASSERT_TRUE(tables.Build(in.in(), 45, 33));
  const SampleSource src{in.in(), 45, 33, &tables};
  std::mt19937 rng(99);
  std::uniform_real_distribution<float> jitter(-0.6f, 0.6f);
  std::vector<float> mx(45 * 33), my(45 * 33);
  for (int i = 0; i < 33; ++i)
    for (int j = 0; j < 45; ++j) {
      const float spread = (i / 11) * 1.7f + 0.3f;  // bilinear, middle and whole-pixel bands
      mx[i * 45 + j] = j * spread - 10 + jitter(rng);
      my[i * 45 + j] = i * spread * 0.8f - 5 + jitter(rng);
    }
  mx[5 * 45 + 9] = std::numeric_limits<float>::quiet_NaN();
  my[7 * 45 + 20] = std::numeric_limits<float>::infinity();
  mx[20 * 45 + 30] = -1e35f;
  // The same pixels with rows scattered in memory (not one evenly spaced
  // block) take the lane-by-lane path; both must give the same bytes.
  std::vector<std::uint8_t> scattered(45 * 4 * 33 * 3);
  std::vector<const std::uint8_t*> scatteredRows(33);
  for (int i = 0; i < 33; ++i) {
    std::uint8_t* row = scattered.data() + 45 * 4 * ((i * 7) % 33 + 33 * (i % 3));
    std::memcpy(row, in.rows[i], 45 * 4);
    scatteredRows[i] = row;
  }
  const SampleSource scatteredSrc{scatteredRows.data(), 45, 33, &tables};
  for (int mode : {0, 1, 2}) {
    Image out(45, 33), outScattered(45, 33);
    SampleRows(src, mx.data(), my.data(), mode, out.out(), 0, 33);
    SampleRows(scatteredSrc, mx.data(), my.data(), mode, outScattered.out(), 0, 33);
    EXPECT_TRUE(out == outScattered) << "mode " << mode;
    for (int i = 0; i < 32; ++i)
      for (int j = 1; j < 44; ++j) {
        auto X = [&](int r, int c) { return mx[r * 45 + c]; };
        auto Y = [&](int r, int c) { return my[r * 45 + c]; };
        auto mn = [](float a, float b) { return b < a ? b : a; };
        auto mxf = [](float a, float b) { return b > a ? b : a; };
        const Pixel p =
            SampleBox(src, mn(mn(X(i, j - 1), X(i, j)), mn(X(i + 1, j - 1), X(i + 1, j))),
                      mn(mn(Y(i, j), Y(i, j + 1)), mn(Y(i + 1, j), Y(i + 1, j + 1))),
                      mxf(mxf(X(i, j - 1), X(i, j)), mxf(X(i + 1, j - 1), X(i + 1, j))),
                      mxf(mxf(Y(i, j), Y(i, j + 1)), mxf(Y(i + 1, j), Y(i + 1, j + 1))), mode);
        ASSERT_EQ(std::memcmp(p.c, out.at(j, i), 4), 0)
            << "mode " << mode << " at " << j << "," << i;
      }
  }
}

TEST(WarpRender, TablesAreBuiltOnlyWhereTheWarpCompresses) {
  const Image in = test::Smooth(90, 60);
  auto tablesBuilt = [&](const WarpControls& c) {
    WarpRender render;
    EXPECT_TRUE(render.Prepare(MakeWarpParams(c, 90, 60, 1.0f), in.in()));
    render.MapRows(0, 30);
    render.MapRows(30, 60);
    EXPECT_TRUE(render.PrepareSampling());
    return !render.tables().empty();
  };
  EXPECT_FALSE(tablesBuilt(DefaultWarpControls()));
  EXPECT_FALSE(tablesBuilt(Lobes(2.0f)));  // positive lobes only magnify
  WarpControls half = DefaultWarpControls();
  half.scale = 0.5f;
  EXPECT_TRUE(tablesBuilt(half));
  EXPECT_TRUE(tablesBuilt(Lobes(-0.8f)));
  // Either way the bytes are those of a render with tables.
  for (const WarpControls& c : {DefaultWarpControls(), Lobes(2.0f), half, Lobes(-0.8f)})
    EXPECT_TRUE(Render(in, c, 2) == Render(in, c, 2, Forced()));
}

TEST(WarpRender, RandomControlsNeverReadOutside) {
  // Extreme and hostile values on small images; ASan and UBSan do the
  // checking, the test that every worker count agrees.
  std::mt19937 rng(12345);
  auto pick = [&](std::initializer_list<float> v) {
    return *(v.begin() + std::uniform_int_distribution<int>(0, int(v.size()) - 1)(rng));
  };
  auto uni = [&](float a, float b) { return std::uniform_real_distribution<float>(a, b)(rng); };
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const int sizes[][2] = {{3, 2}, {4, 3}, {5, 9}, {17, 5}, {31, 24}, {64, 48}};
  for (int round = 0; round < 300; ++round) {
    WarpControls c = DefaultWarpControls();
    c.scale = pick({0.001f, 1e-30f, 0.5f, 1.0f, 10.0f, 1e30f, uni(0.001f, 12.0f)});
    c.rotate = pick({0.0f, uni(-720.0f, 720.0f), 1e20f});
    c.centerX = pick({0.5f, uni(-2.0f, 3.0f), 1e9f});
    c.centerY = pick({0.5f, uni(-2.0f, 3.0f), -1e9f});
    c.fillMode = pick({0, 1, 2, 3, -1});
    for (int n = 0; n < kLobes; ++n) {
      c.amplitude[n] = pick({0.0f, -0.99f, -1.0f, 10.0f, 1e30f, uni(-0.99f, 10.0f)});
      c.lobeAngle[n] = uni(-360.0f, 360.0f);
      c.sharpness[n] = pick({1.0f, 4.0f, 500.0f, 1e30f, uni(1.0f, 500.0f)});
    }
    if (round % 10 == 0) c.amplitude[round % kLobes] = pick({inf, -inf, nan});
    if (round % 17 == 0) c.sharpness[round % kLobes] = pick({0.0f, -3.0f, nan, inf});
    if (round % 23 == 0) c.scale = pick({0.0f, -1.0f, nan});
    const auto& size = sizes[round % 6];
    const Image in = test::Noise(size[0], size[1], round);
    const float aspect = pick({1.0f, 0.5f, 2.0f, 0.0f, nan});
    const WarpParams p = MakeWarpParams(c, size[0], size[1], aspect);
    Image a(size[0], size[1]), b(size[0], size[1]), c2(size[0], size[1]);
    ASSERT_TRUE(RunWarp(p, in.in(), a.out(), 1));
    ASSERT_TRUE(RunWarp(p, in.in(), b.out(), 4));
    ASSERT_TRUE(RunWarp(p, in.in(), c2.out(), 3, Forced()));
    ASSERT_TRUE(a == b) << "round " << round;
    ASSERT_TRUE(a == c2) << "round " << round << ": tables skipped where they were read";
  }
}

TEST(WarpRender, TinyImagesAreCopied) {
  EXPECT_FALSE(CanWarp(2, 100));
  EXPECT_FALSE(CanWarp(100, 1));
  EXPECT_TRUE(CanWarp(3, 2));
  for (auto [w, h] : {std::pair{2, 7}, std::pair{9, 1}, std::pair{1, 1}}) {
    const Image in = test::Noise(w, h, 5);
    Image out(w, h);
    WarpRender render;
    EXPECT_FALSE(render.Prepare(MakeWarpParams(Lobes(1.0f), w, h, 1.0f), in.in()));
    EXPECT_FALSE(render.PrepareSampling());
    CopyImage(in.in(), out.out(), w, h);
    EXPECT_TRUE(out == in);
  }
}

TEST(WarpRender, AbortedPassesLeaveTheOutputAsCreated) {
  const Image in = test::Noise(40, 30, 2);
  Image out(40, 30, 0x33);
  std::atomic<int> abort{0};
  WarpRender render;
  ASSERT_TRUE(render.Prepare(MakeWarpParams(Lobes(1.0f), 40, 30, 1.0f), in.in(), &abort));
  render.MapRows(0, 30, &abort);
  abort = 1;
  EXPECT_TRUE(render.PrepareSampling(&abort));
  render.SampleRows(out.out(), 0, 30, &abort);
  for (std::size_t k = 0; k < out.data.size(); ++k) ASSERT_EQ(out.data[k], 0x33);
}

}  // namespace
}  // namespace bleb
