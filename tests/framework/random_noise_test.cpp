// The generator, the noise tables and the noise against values worked out
// independently of this code (the recurrence by hand, the tables from the
// documented draws).
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <thread>
#include <vector>

#include "framework/noise.h"
#include "framework/random.h"

namespace fw {
namespace {

std::vector<int> Draws(uint32_t seed, int n) {
  SeedRandom(seed);
  std::vector<int> v;
  for (int i = 0; i < n; ++i) v.push_back(Random());
  return v;
}

TEST(Random, FollowsTheDesktopRuntimeRecurrence) {
  EXPECT_EQ(Draws(1, 5), (std::vector<int>{41, 18467, 6334, 26500, 19169}));
  EXPECT_EQ(Draws(667, 5), (std::vector<int>{2216, 714, 9088, 29115, 7396}));
}

TEST(Random, StateBelongsToTheThreadAndStartsAtOne) {
  SeedRandom(667);
  std::vector<int> other;
  std::thread([&] {
    for (int i = 0; i < 3; ++i) other.push_back(Random());
  }).join();
  EXPECT_EQ(other, (std::vector<int>{41, 18467, 6334}));
  EXPECT_EQ(Random(), 2216);  // this thread's sequence went on undisturbed
}

TEST(Random, DerivedDrawsScaleTheDraw) {
  SeedRandom(1);
  EXPECT_FLOAT_EQ(UniformRandom(), 41.0f / 32768.0f);
  EXPECT_DOUBLE_EQ(SignedRandom(), 18467.0 / 16384.0 - 1.0);
  EXPECT_DOUBLE_EQ(JitteredValue(10.0, 2.0), (6334.0 / 16384.0 - 1.0) * 2.0 + 10.0);
  EXPECT_EQ(UniformFromDraw(0), 0.0f);
  EXPECT_LT(UniformFromDraw(32767), 1.0f);
  EXPECT_DOUBLE_EQ(SignedFromDraw(0), -1.0);
  EXPECT_LT(SignedFromDraw(32767), 1.0);
}

TEST(Random, KeyedDrawsAreFixedPerKeyAndSpreadEvenly) {
  EXPECT_EQ(KeyedDraw(3, 4, 5), KeyedDraw(3, 4, 5));
  int histogram[8] = {};
  std::set<int> distinct;
  for (uint64_t i = 0; i < 8000; ++i) {
    const int d = KeyedDraw(7, i / 100, i % 100);
    ASSERT_GE(d, 0);
    ASSERT_LE(d, 32767);
    ++histogram[d >> 12];
    distinct.insert(d);
  }
  for (int h : histogram) EXPECT_NEAR(h, 1000, 150);
  EXPECT_GT(distinct.size(), 7000u);
  // Neighbouring keys in any position give different draws.
  EXPECT_NE(KeyedDraw(1, 0, 0), KeyedDraw(0, 1, 0));
  EXPECT_NE(KeyedDraw(0, 1, 0), KeyedDraw(0, 0, 1));
}

class NoiseTables : public ::testing::Test {
 protected:
  void SetUp() override { BuildNoiseTables(667, g.data(), table.data()); }
  std::vector<Gradient> g = std::vector<Gradient>(kGradientCount);
  std::vector<float> table = std::vector<float>(kRandomTableSize);
};

TEST_F(NoiseTables, MatchTheValuesBuiltFromSeed667) {
  EXPECT_EQ(g[0].x, 0.49751002f);
  EXPECT_EQ(g[0].y, 0.068541773f);
  EXPECT_EQ(g[0].z, 0.86474609f);
  EXPECT_EQ(g[255].x, 0.87768358f);
  EXPECT_EQ(g[255].y, -0.19885892f);
  EXPECT_EQ(g[255].z, 0.43603516f);
  EXPECT_EQ(table[0], 0.38223267f);
  EXPECT_EQ(table[1], 0.70327759f);
  EXPECT_EQ(table[2], 0.60717773f);
  EXPECT_EQ(table[65535], 0.95883179f);
  // The first gradient's z comes from the first draw after srand(667): 2216.
  EXPECT_EQ(g[0].z, float(2216 * (1.0 / 32768) * -2.0 + 1.0));
}

TEST_F(NoiseTables, GradientsAreUnitVectorsAndTheBuildContinuesTheSequence) {
  for (const Gradient& v : g)
    EXPECT_NEAR(std::sqrt(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z), 1.0, 1e-6);
  // 256 × 2 + 65536 draws were taken; the next one continues the sequence.
  const int next = Random();
  SeedRandom(667);
  for (int i = 0; i < 256 * 2 + 65536; ++i) Random();
  EXPECT_EQ(Random(), next);
}

TEST(Permutation, IsAPermutationWithTheListedEnds) {
  std::set<int> seen(noisePermutation, noisePermutation + 256);
  EXPECT_EQ(seen.size(), 256u);
  EXPECT_EQ(noisePermutation[0], 225);
  EXPECT_EQ(noisePermutation[15], 252);
  EXPECT_EQ(noisePermutation[128], 18);
  EXPECT_EQ(noisePermutation[255], 52);
}

TEST_F(NoiseTables, NoiseIsZeroAtWholeNumbersAndContinuousAcrossCells) {
  for (int x = -3; x <= 3; ++x)
    for (int y = -2; y <= 2; ++y)
      for (int z = -2; z <= 2; ++z) EXPECT_EQ(GradientNoise(g.data(), x, y, z), 0.0f);
  for (float c : {-2.0f, -1.0f, 0.0f, 1.0f, 7.0f}) {
    const float e = 1e-4f;
    EXPECT_NEAR(GradientNoise(g.data(), c - e, 0.3f, 0.6f),
                GradientNoise(g.data(), c + e, 0.3f, 0.6f), 1e-3);
    EXPECT_NEAR(GradientNoise(g.data(), 0.2f, c - e, 0.6f),
                GradientNoise(g.data(), 0.2f, c + e, 0.6f), 1e-3);
    EXPECT_NEAR(GradientNoise(g.data(), 0.2f, 0.4f, c - e),
                GradientNoise(g.data(), 0.2f, 0.4f, c + e), 1e-3);
  }
}

TEST_F(NoiseTables, NegativeCoordinatesUseTheCellBelow) {
  const NoiseAxis a = MakeNoiseAxis(-0.5f);
  EXPECT_EQ(a.cell, -1);
  EXPECT_EQ(a.fraction, 0.5f);
  EXPECT_EQ(a.weight, 0.5f);
  // Along y = z = 0 only the two x corners in cell −1 contribute; with weight
  // 0.5 the value is the mean of their x terms, each from the permutation.
  const uint8_t* P = noisePermutation;
  auto h = [&](int i) { return P[(unsigned(i) + P[(0u + P[0]) & 255u]) & 255u]; };
  const float v0 = g[h(-1)].x * 0.5f;
  const float v1 = g[h(0)].x * -0.5f;
  const float x00 = v0 + 0.5f * (v1 - v0);
  // The other y/z corners have fy = fz = 0 weight 0 in y and z.
  EXPECT_EQ(GradientNoise(g.data(), -0.5f, 0.0f, 0.0f), x00);
  EXPECT_EQ(MakeNoiseAxis(-3.0f).cell, -3);
  EXPECT_EQ(MakeNoiseAxis(-3.0f).fraction, 0.0f);
}

TEST_F(NoiseTables, FarCoordinatesStayInTheTables) {
  for (float c : {1e30f, -1e30f, 3e9f, -3e9f, INFINITY, -INFINITY, NAN})
    (void)GradientNoise(g.data(), c, c, c);  // no fault under the sanitizers
}

TEST(SmoothStep, RampAndEdges) {
  EXPECT_EQ(SmoothStep(0.5f, 0, 1), 0.5f);
  EXPECT_EQ(SmoothStep(2, 0, 1), 1.0f);
  EXPECT_EQ(SmoothStep(-1, 0, 1), 0.0f);
  EXPECT_EQ(SmoothStep(0.25f, 0, 1), 0.15625f);  // 3/16 − 2/64
  for (float x : {-5.0f, 0.0f, 1.0f, 9.0f}) EXPECT_EQ(SmoothStep(x, 1, 1), 0.0f);
  EXPECT_EQ(SmoothStep(0.5f, 1, 0), 0.0f);  // reversed edges: no width
  EXPECT_EQ(SmoothStep(0.0f, 0, 1), 0.0f);
}

}  // namespace
}  // namespace fw
