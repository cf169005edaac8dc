// The birth phase: how many bubbles a step makes, the order and use of its
// random draws, the birth matte and the bounds on rejected attempts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "bubbles/bubble_simulation.h"
#include "framework/random.h"
#include "tests/bubbles/simulation_support.h"

namespace bubbles {
namespace {

using test::DrawsAfterSeed;
using test::DrawsMadeSince;

// The documented value of a 15-bit draw as UniformRandom and SignedRandom.
float Uniform(int draw) {
  return float(draw / 32768.0);
}
double Signed(int draw) {
  return draw / 16384.0 - 1.0;
}

TEST(Births, QuantityTwentyGivesEighteenToTwentyTwoPerStep) {
  test::Simulation sim;
  fw::SeedRandom(5);
  int least = 1000, most = 0;
  for (int step = 0; step < 400; ++step) {
    const int before = sim.system->liveCount;
    ASSERT_TRUE(BirthBubbles(*sim.system, SourceLineOf(sim.params)));
    const int born = sim.system->liveCount - before;
    least = std::min(least, born);
    most = std::max(most, born);
  }
  EXPECT_EQ(least, 18);
  EXPECT_EQ(most, 22);
}

TEST(Births, QuantityZeroMakesOneDrawAndNoBubble) {
  test::Simulation sim;
  sim.params.quantity = 0;
  sim.Load();
  fw::SeedRandom(77);
  ASSERT_TRUE(BirthBubbles(*sim.system, SourceLineOf(sim.params)));
  EXPECT_EQ(sim.system->liveCount, 0);
  EXPECT_EQ(DrawsMadeSince(77, 100), 1);
}

// One bubble per step (quantity 1 jitters by 0.1 only), no scatter: the
// draws are count, lifetime, max age, u, one scatter pair, speed, two for the
// jitter, size, four colours and the monochrome offset.
TEST(Births, EachDrawFeedsItsDocumentedValue) {
  test::Simulation sim;
  sim.params.quantity = 1;
  sim.params.positionRadius = 0;
  sim.params.velocityVariance = 50;
  sim.params.colorVariance = 50;
  sim.params.monoVariance = 20;
  sim.Load();
  const std::vector<int> d = DrawsAfterSeed(1234, 15);
  fw::SeedRandom(1234);
  ASSERT_TRUE(BirthBubbles(*sim.system, SourceLineOf(sim.params)));
  EXPECT_EQ(DrawsMadeSince(1234, 100), 15);
  ASSERT_EQ(sim.system->liveCount, 1);
  const Bubble& b = *sim.system->liveList;

  EXPECT_EQ(b.lifetime, int(Signed(d[1]) * 20 + 200 + 0.5));
  EXPECT_EQ(b.maxAge, 5000);
  EXPECT_EQ(b.age, 0);
  EXPECT_EQ(b.serial, 1u);
  const double u = Uniform(d[3]);
  const double bx = 0.1 + u * 0.8;  // between the default sources, y = 0.5
  const double speed = 0.001 * (1 + Uniform(d[6]) * 0.5);
  const double gravity = 20.0 / 6000.0;
  const double vy = speed + u * gravity;  // direction and gravity both point down
  EXPECT_NEAR(b.vx, 0.0, 1e-7);
  EXPECT_NEAR(b.vy, vy, 1e-7);
  EXPECT_NEAR(b.x, bx, 1e-6);
  EXPECT_NEAR(b.y, 0.5 + u * vy, 1e-6);
  EXPECT_EQ(b.sizeIndex, int((Signed(d[9]) * 0.04 + 1) * 10 * 2));
  EXPECT_EQ(b.baseSize, b.sizeIndex);
  const double mono = Signed(d[14]) * 0.2 * 255;
  EXPECT_NEAR(b.red, Signed(d[10]) * 0.5 * 255 + 25.5 + mono, 1e-3);
  EXPECT_NEAR(b.green, Signed(d[11]) * 0.5 * 255 + 25.5 + mono, 1e-3);
  EXPECT_NEAR(b.blue, Signed(d[12]) * 0.5 * 255 + 25.5 + mono, 1e-3);
  EXPECT_NEAR(b.density, Signed(d[13]) * 0.5 * 255 + 255 + mono, 1e-3);
}

TEST(Births, GrowingTypesStartAtStepZeroWithoutASizeDraw) {
  for (int type : {1, 3}) {
    test::Simulation sim;
    sim.params.quantity = 1;
    sim.params.positionRadius = 0;
    sim.params.bubbleType = float(type);
    sim.Load();
    fw::SeedRandom(99);
    ASSERT_TRUE(BirthBubbles(*sim.system, SourceLineOf(sim.params)));
    EXPECT_EQ(DrawsMadeSince(99, 100), 14) << type;
    EXPECT_EQ(sim.system->liveList->sizeIndex, 0);
    EXPECT_EQ(sim.system->liveList->baseSize, 0);
  }
}

TEST(Births, NegativeVelocityStraightUpIsKeptByTheJitter) {
  test::Simulation sim;
  sim.params.initialVelocity = -3;
  sim.params.gravity = 0;
  sim.Load();
  fw::SeedRandom(3);
  ASSERT_TRUE(BirthBubbles(*sim.system, SourceLineOf(sim.params)));
  ASSERT_GT(sim.system->liveCount, 0);
  for (const Bubble* b : sim.Live()) {
    EXPECT_NEAR(b->vx, 0.0f, 1e-7);
    EXPECT_NEAR(b->vy, -0.001f, 1e-9);
  }
}

TEST(Births, ScatterStaysWithinThePositionRadius) {
  test::Simulation sim;
  sim.params.positionRadius = 0.05f;
  sim.params.initialVelocity = 0;
  sim.params.gravity = 0;
  sim.params.leftSourceX = sim.params.rightSourceX = 0.3;
  sim.params.leftSourceY = sim.params.rightSourceY = 0.6;
  sim.Load();
  fw::SeedRandom(8);
  for (int step = 0; step < 20; ++step) BirthBubbles(*sim.system, SourceLineOf(sim.params));
  double farthest = 0;
  for (const Bubble* b : sim.Live())
    farthest = std::max(farthest, std::hypot(b->x - 0.3, b->y - 0.6));
  EXPECT_LE(farthest, 0.05 + 1e-6);
  EXPECT_GT(farthest, 0.04);
}

TEST(Births, TheBirthMatteKeepsBirthsWhereItsRedIsSet) {
  test::Simulation sim;
  test::ImagePtr matte(test::RedImage(64, 64, 0));
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 32; ++x) matte->Pixel(x, y)[2] = 1;  // left half
  sim.params.useBirthMatte = 1;
  sim.Load();
  sim.system->birthImage = matte.get();
  fw::SeedRandom(21);
  for (int step = 0; step < 10; ++step) BirthBubbles(*sim.system, SourceLineOf(sim.params));
  ASSERT_GT(sim.system->liveCount, 50);
  for (const Bubble* b : sim.Live()) EXPECT_LT(b->x, 0.5f);
}

TEST(Births, SourcesOutsideTheFrameBirthOutsideItUnlessTheMatteIsUsed) {
  test::Simulation sim;
  test::ImagePtr matte(test::RedImage(64, 64, 255));
  sim.params.leftSourceX = sim.params.rightSourceX = 1.5;
  sim.params.positionRadius = 0;
  sim.Load();
  sim.system->birthImage = matte.get();
  fw::SeedRandom(4);
  BirthBubbles(*sim.system, SourceLineOf(sim.params));
  ASSERT_GT(sim.system->liveCount, 0);
  for (const Bubble* b : sim.Live()) EXPECT_GT(b->x, 1.4f);

  ClearBubbles(*sim.system);
  sim.params.useBirthMatte = 1;
  sim.Load();
  BirthBubbles(*sim.system, SourceLineOf(sim.params));
  EXPECT_EQ(sim.system->liveCount, 0);
}

// An attempt without scatter retries makes eight draws: lifetime, max age,
// u, one scatter pair, speed and two for the jitter.
TEST(Births, AnEmptyMatteEndsAfterTenTimesTheCountPlusOneRejections) {
  test::Simulation sim;
  test::ImagePtr matte(test::RedImage(32, 32, 0));
  sim.params.useBirthMatte = 1;
  sim.params.positionRadius = 0;
  sim.Load();
  sim.system->birthImage = matte.get();
  const int count = int(Signed(DrawsAfterSeed(42, 1)[0]) * 2 + 20 + 0.5);
  fw::SeedRandom(42);
  ASSERT_TRUE(BirthBubbles(*sim.system, SourceLineOf(sim.params)));
  EXPECT_EQ(sim.system->liveCount, 0);
  EXPECT_EQ(DrawsMadeSince(42, 5000), 1 + 8 * (10 * count + 1));
}

// A lifetime that rounds below 1 ends its attempt after two draws, and such
// attempts are bounded like rejections.
TEST(Births, LifetimesBelowOneCannotLoopForever) {
  test::Simulation sim;
  sim.params.lifetime = 0;
  sim.Load();
  const int count = int(Signed(DrawsAfterSeed(6, 1)[0]) * 2 + 20 + 0.5);
  fw::SeedRandom(6);
  ASSERT_TRUE(BirthBubbles(*sim.system, SourceLineOf(sim.params)));
  EXPECT_EQ(sim.system->liveCount, 0);
  EXPECT_EQ(DrawsMadeSince(6, 5000), 1 + 2 * (10 * count + 1));
}

TEST(Births, TheLiveBoundEndsTheBirthsOfAHugeQuantity) {
  test::Simulation sim;
  sim.params.quantity = 1e12f;
  sim.Load();
  sim.system->liveLimit = 3000;
  fw::SeedRandom(1);
  ASSERT_TRUE(BirthBubbles(*sim.system, SourceLineOf(sim.params)));
  EXPECT_EQ(sim.system->liveCount, 3000);
  EXPECT_EQ(sim.system->blockCount, 3);  // 3000 slots in blocks of 1024
  ASSERT_TRUE(BirthBubbles(*sim.system, SourceLineOf(sim.params)));
  EXPECT_EQ(sim.system->liveCount, 3000);
}

TEST(Births, AnAbortEndsTheStepBeforeTheNextAttempt) {
  test::Simulation sim;
  sim.system->abortFlag = &sim.abort;
  sim.abort = 1;
  EXPECT_FALSE(BirthBubbles(*sim.system, SourceLineOf(sim.params)));
  EXPECT_EQ(sim.system->liveCount, 0);
}

}  // namespace
}  // namespace bubbles
