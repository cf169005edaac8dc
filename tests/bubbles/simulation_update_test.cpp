// The update of a step: ageing and removal, growth by type, gather, size
// weight, wind and swirl.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "bubbles/bubble_simulation.h"
#include "tests/bubbles/simulation_support.h"

namespace bubbles {
namespace {

// A still world: no gravity, friction, swirl or wind.
void StillWorld(FrameParameters& p) {
  p.gravity = 0;
  p.friction = 0;
  p.swirlDensity = 0;
  p.windSpeed = 0;
}

Bubble& AddBubble(BubbleSystem& s, float x, float y, int lifetime = 1000, int base = 0) {
  Bubble* b = AcquireBubble(s);
  b->x = x;
  b->y = y;
  b->lifetime = lifetime;
  b->maxAge = 5000;
  b->sizeIndex = b->baseSize = base;
  b->next = s.liveList;
  s.liveList = b;
  s.liveCount += 1;
  return *b;
}

TEST(Update, ABubbleIsRemovedWhenItsAgeReachesItsLifetime) {
  test::Simulation sim;
  StillWorld(sim.params);
  sim.Load();
  Bubble& oldest = AddBubble(*sim.system, 0.1f, 0.1f, 5);
  Bubble& shortLived = AddBubble(*sim.system, 0.2f, 0.2f, 2);
  Bubble& newest = AddBubble(*sim.system, 0.3f, 0.3f, 5);
  UpdateBubbles(*sim.system, 0);
  EXPECT_EQ(sim.system->liveCount, 3);
  UpdateBubbles(*sim.system, 0);  // the middle one reaches age 2
  ASSERT_EQ(sim.system->liveCount, 2);
  EXPECT_EQ(sim.system->liveList, &newest);
  EXPECT_EQ(newest.next, &oldest);
  EXPECT_EQ(sim.system->freeList, &shortLived);
  for (int i = 0; i < 3; ++i) UpdateBubbles(*sim.system, 0);
  EXPECT_EQ(sim.system->liveCount, 0);
  EXPECT_EQ(sim.system->liveList, nullptr);
}

// The live list as an array: after an update only the births since are
// walked down the chain; after a restart, and with more births than the
// array held, the whole chain again.
TEST(Update, TheListedLiveListFollowsBirthsEndingsAndRestarts) {
  test::Simulation sim;
  StillWorld(sim.params);
  sim.Load();
  BubbleSystem& s = *sim.system;
  auto listed = [&s] {
    const int n = ListLive(s);
    std::vector<const Bubble*> array(s.movers, s.movers + std::max(n, 0)), chain;
    for (const Bubble* b = s.liveList; b; b = b->next) chain.push_back(b);
    EXPECT_EQ(n, s.liveCount);
    return array == chain;
  };
  for (int i = 0; i < 6; ++i) AddBubble(s, 0.1f * float(i), 0.5f, i % 2 ? 1 : 50);
  EXPECT_TRUE(listed());
  UpdateBubbles(s, 0);  // the odd ones end, the head among them
  ASSERT_EQ(s.liveCount, 3);
  for (int i = 0; i < 4; ++i) AddBubble(s, 0.5f, 0.1f * float(i));
  EXPECT_TRUE(listed());
  UpdateBubbles(s, 0);
  ClearBubbles(s);
  for (int i = 0; i < 12; ++i) AddBubble(s, 0.5f, 0.05f * float(i));
  EXPECT_TRUE(listed());
}

// "Bubble Size" 10, "Time to Maximum Size" 25: the step is
// trunc(81 × 0.025 × 10 × age / 25), smooth in the age, up to step 80.
TEST(Update, ShrinkingAndLinearGrowthFollowTheAge) {
  for (int type : {1, 3}) {
    test::Simulation sim;
    StillWorld(sim.params);
    sim.params.bubbleType = float(type);
    sim.Load();
    Bubble& b = AddBubble(*sim.system, 0.5f, 0.5f);
    int atAge[120] = {};
    for (int age = 1; age < 120; ++age) {
      UpdateBubbles(*sim.system, 0);
      atAge[age] = b.sizeIndex;
    }
    EXPECT_EQ(atAge[12], 9) << type;  // 9.72: between whole multiples of the time to maximum
    EXPECT_EQ(atAge[25], 20) << type;
    EXPECT_EQ(atAge[98], 79) << type;
    EXPECT_EQ(atAge[99], 80) << type;
    EXPECT_EQ(atAge[119], 80) << type;
  }
}

TEST(Update, VariableGrowthStopsAtFourTimesTheBirthSizeAndStepEighty) {
  test::Simulation sim;
  StillWorld(sim.params);
  sim.params.bubbleType = 2;
  sim.Load();
  Bubble& five = AddBubble(*sim.system, 0.5f, 0.5f, 1000, 5);
  Bubble& thirty = AddBubble(*sim.system, 0.5f, 0.5f, 1000, 30);
  Bubble& zero = AddBubble(*sim.system, 0.5f, 0.5f, 1000, 0);
  for (int i = 0; i < 5; ++i) UpdateBubbles(*sim.system, 0);
  EXPECT_EQ(five.sizeIndex, 9);     // trunc(4.05) + 5
  EXPECT_EQ(thirty.sizeIndex, 34);  // trunc(4.05) + 30
  EXPECT_EQ(zero.sizeIndex, 0);
  for (int i = 0; i < 200; ++i) UpdateBubbles(*sim.system, 0);
  EXPECT_EQ(five.sizeIndex, 20);
  EXPECT_EQ(thirty.sizeIndex, 80);
  EXPECT_EQ(zero.sizeIndex, 0);
}

TEST(Update, AssortedBubblesKeepTheirSize) {
  test::Simulation sim;
  StillWorld(sim.params);
  sim.Load();
  Bubble& b = AddBubble(*sim.system, 0.5f, 0.5f, 1000, 17);
  for (int i = 0; i < 50; ++i) UpdateBubbles(*sim.system, 0);
  EXPECT_EQ(b.sizeIndex, 17);
}

TEST(Update, GravityFrictionAndTheSizeWeightOfVariableGrowth) {
  test::Simulation sim;
  StillWorld(sim.params);
  sim.params.gravity = 60;  // 0.01 per step, straight down
  sim.params.friction = 50;
  sim.params.bubbleType = 2;
  sim.Load();
  Bubble& b = AddBubble(*sim.system, 0.5f, 0.5f, 1000, 20);  // weight 0.5: g = 1.0 × gravity
  b.vx = 0.02f;
  UpdateBubbles(*sim.system, 0);
  EXPECT_NEAR(b.vx, 0.01, 1e-7);  // halved by the friction
  EXPECT_NEAR(b.vy, 0.01, 1e-7);
  EXPECT_NEAR(b.x, 0.51, 1e-6);
  EXPECT_NEAR(b.y, 0.51, 1e-6);
}

// Burst image: the left half is a gather region (red above 128).
struct GatherWorld {
  GatherWorld() : region(test::RedImage(100, 100, 0)) {
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 50; ++x) region->Pixel(x, y)[2] = 200;
    StillWorld(sim.params);
    sim.params.gather = 1;
    sim.params.gatherSlowup = 80;
    sim.params.burstAfterlife = 6;
    sim.Load();
    sim.system->burstImage = region.get();
  }
  test::Simulation sim;
  test::ImagePtr region;
};

TEST(Update, GatherSlowsBubblesInTheRegionAndEndsThemWhenTheyLeave) {
  GatherWorld w;
  BubbleSystem& s = *w.sim.system;
  Bubble& b = AddBubble(s, 0.40f, 0.5f, 200);
  b.vx = 0.1f;
  UpdateBubbles(s, 0);  // inside: damping 0.8
  EXPECT_EQ(b.gatherState, 1);
  EXPECT_NEAR(b.vx, 0.02, 1e-7);
  EXPECT_NEAR(b.x, 0.42, 1e-6);
  b.x = 0.6f;           // now outside the region
  UpdateBubbles(s, 0);  // leaves: age = lifetime − afterlife
  EXPECT_EQ(b.gatherState, 2);
  EXPECT_EQ(b.age, 194);
  for (int i = 0; i < 5; ++i) UpdateBubbles(s, 0);
  EXPECT_EQ(s.liveCount, 1);
  UpdateBubbles(s, 0);  // the sixth update after leaving removes it
  EXPECT_EQ(s.liveCount, 0);
}

TEST(Update, GatherLooksOnlyAtPixelsInsideTheImage) {
  GatherWorld w;
  BubbleSystem& s = *w.sim.system;
  Bubble& off = AddBubble(s, 1.5f, 0.5f, 200);
  off.gatherState = 1;
  Bubble& far = AddBubble(s, -3e9f, 4e30f, 200);
  far.gatherState = 1;
  UpdateBubbles(s, 0);
  EXPECT_EQ(off.gatherState, 1);
  EXPECT_EQ(off.age, 1);
  EXPECT_EQ(far.gatherState, 1);
}

TEST(Update, WindPushesBubblesInItsConeButNeverGatheredOnes) {
  test::Simulation sim;
  StillWorld(sim.params);
  sim.params.windSpeed = 50;
  sim.params.windSourceX = 0;
  sim.params.windSourceY = 0.5;
  sim.params.windTargetX = 1;
  sim.params.windTargetY = 0.5;
  sim.params.windSpread = 30;  // half-angle 15 degrees
  sim.Load();
  BubbleSystem& s = *sim.system;
  Bubble& ahead = AddBubble(s, 0.6f, 0.5f);
  Bubble& gathered = AddBubble(s, 0.6f, 0.5f);
  gathered.gatherState = 1;
  Bubble& left = AddBubble(s, 0.6f, 0.5f);
  left.gatherState = 2;
  // 20 degrees off the wind's direction: outside the cone.
  const float offX = float(std::cos(20 * M_PI / 180) * 0.4);
  const float offY = float(0.5 + std::sin(20 * M_PI / 180) * 0.4);
  Bubble& aside = AddBubble(s, offX, offY);
  UpdateBubbles(s, 0);
  EXPECT_NEAR(ahead.x, 1.1, 1e-6);  // straight ahead: w = 1, moved by the speed 0.5
  EXPECT_EQ(ahead.y, 0.5f);
  EXPECT_EQ(gathered.x, 0.6f);
  EXPECT_EQ(left.x, 0.6f);
  EXPECT_EQ(aside.x, offX);
  EXPECT_EQ(aside.y, offY);
  // Wind moves the position, never the velocity.
  EXPECT_EQ(ahead.vx, 0.0f);
}

TEST(Update, SwirlStirsTheVelocityOnlyWhenDenseEnough) {
  // A time to full strength of 0 acts as 1 step: no division by zero.
  test::Simulation sim, one;
  for (test::Simulation* t : {&sim, &one}) {
    StillWorld(t->params);
    t->params.swirlDensity = 60;
    t->params.swirlMagnitude = 100;
    t->params.swirlTimeToMax = t == &sim ? 0 : 1;
    t->Load();
  }
  BubbleSystem& s = *sim.system;
  Bubble& b = AddBubble(s, 0.313f, 0.471f);
  Bubble& c = AddBubble(*one.system, 0.313f, 0.471f);
  UpdateBubbles(s, 7);
  UpdateBubbles(*one.system, 7);
  EXPECT_EQ(b.vx, c.vx);
  EXPECT_EQ(b.vy, c.vy);
  EXPECT_NE(b.vx, 0.0f);
  EXPECT_NE(b.vy, 0.0f);
  // The velocity changed, the position not yet (it moves on the next update).
  EXPECT_EQ(b.x, 0.313f);

  sim.params.swirlDensity = 0;
  sim.Load();
  const float vx = b.vx;
  const float x = b.x;
  UpdateBubbles(s, 8);
  EXPECT_EQ(b.vx, vx);
  EXPECT_EQ(b.x, x + vx);
}

TEST(Update, FarAwayBubblesAndHugeSizesStayDefined) {
  test::Simulation sim;
  sim.params.bubbleSize = 3e38f;
  sim.params.bubbleType = 2;
  sim.params.windSpeed = 100;
  sim.Load();
  BubbleSystem& s = *sim.system;
  Bubble& b = AddBubble(s, 3e38f, -3e38f, 100, 80);
  b.vx = 3e38f;
  for (int i = 0; i < 3; ++i) UpdateBubbles(s, 1e30f);
  EXPECT_EQ(b.sizeIndex, 80);
  sim.params.bubbleSize = -3e38f;
  sim.Load();
  UpdateBubbles(s, 0);
  EXPECT_EQ(b.sizeIndex, 0);
}

TEST(Update, AnAbortLeavesTheRemainingBubblesAsTheyWere) {
  test::Simulation sim;
  sim.system->abortFlag = &sim.abort;
  Bubble& b = AddBubble(*sim.system, 0.5f, 0.5f);
  sim.abort = 1;
  UpdateBubbles(*sim.system, 0);
  EXPECT_EQ(b.age, 0);
  EXPECT_EQ(b.y, 0.5f);
}

}  // namespace
}  // namespace bubbles
