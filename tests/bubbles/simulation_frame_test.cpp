// Frames and steps: restart and preroll requests, cancellation,
// the render pass's place in the step, and the pool of slot blocks.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

#include "bubbles/band_balance.h"
#include "bubbles/bubble_simulation.h"
#include "tests/bubbles/simulation_support.h"

namespace bubbles {
namespace {

// A frame of the simulation with its own images and requests.
struct Frames {
  Frames() : birth(df::Image::Create(64, 48)), output(df::Image::Create(64, 48)) {
    sim.system->abortFlag = &sim.abort;
    requests.tablesPending = 0;  // the fixture built them
  }
  void Run(float time = 0) {
    test::RunFrame(*sim.system, requests, *sim.tables, sim.params,
                   {birth.get(), nullptr, nullptr, output.get(), time}, renderer);
  }
  test::Simulation sim;
  test::ImagePtr birth, output;
  FrameRequests requests;
  test::RecordingRenderer renderer;
};

TEST(Frame, TheFirstFrameBuildsTheTablesFromTheFixedSeed) {
  Frames f;
  f.requests.tablesPending = 1;
  NoiseTables expected;
  fw::BuildNoiseTables(667, expected.gradients, expected.randomTable);
  f.sim.tables->randomTable[0] = -1;
  f.Run();
  EXPECT_EQ(f.requests.tablesPending, 0);
  EXPECT_EQ(f.sim.tables->randomTable[0], expected.randomTable[0]);
  EXPECT_EQ(f.sim.tables->randomTable[65535], expected.randomTable[65535]);
  EXPECT_EQ(f.sim.system->randomTable, f.sim.tables->randomTable);
  EXPECT_EQ(f.sim.system->width, 64);
  EXPECT_EQ(f.sim.system->height, 48);
}

TEST(Frame, EachFrameClearsTheOutputAndRunsOneDrawnStep) {
  Frames f;
  for (int y = 0; y < 48; ++y) std::memset(f.output->rows[y], 0xAB, 64 * 4);
  f.Run(12.75f);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64 * 4; ++x) ASSERT_EQ(f.output->rows[y][x], 0) << x << "," << y;
  EXPECT_EQ(f.sim.system->outputImage, f.output.get());
  EXPECT_EQ(f.sim.system->stepCount, 1u);
  ASSERT_EQ(f.renderer.passes.size(), 1u);
  // The newborns are drawn at age 0, before the update ages them.
  ASSERT_FALSE(f.renderer.passes[0].empty());
  for (const auto& seen : f.renderer.passes[0]) EXPECT_EQ(seen.age, 0);
  // The same frame again is another step.
  f.Run(12.75f);
  EXPECT_EQ(f.sim.system->stepCount, 2u);
  EXPECT_EQ(f.renderer.passes.size(), 2u);
}

// The operator's drawn step walks an array of the live list after the burst
// decisions, listed anew only for the births since the last update, and
// splits the update among threads; the same frames stepped with the whole
// list walked and updated on one thread must leave the same bubbles
// (bursts, deaths and moves included), plan the same bands and list the
// same movers, across a restart too.
TEST(Frame, TheStepsArrayOfTheListLeavesWhatTheListLeaves) {
  Frames list, array;
  test::ImagePtr region(test::RedImage(64, 48, 255));
  for (Frames* f : {&list, &array}) {
    f->sim.params.quantity = 40;
    f->sim.params.lifetime = 6;
    f->sim.params.burst = 1;
    f->sim.params.burstQuantity = 30;
    f->sim.params.burstAfterlife = 3;
  }
  auto seen = [](const BubbleSystem& s) {
    std::vector<std::tuple<uint64_t, int, float, float, int>> v;
    for (const Bubble* b = s.liveList; b; b = b->next)
      v.emplace_back(b->serial, b->age, b->x, b->y, b->burst);
    return v;
  };
  const FrameImages images{nullptr, region.get(), nullptr, nullptr, 0};
  BandPlan fromList, fromArray;
  int burst = 0, died = 0;
  for (int frame = 0; frame < 30; ++frame) {
    for (Frames* f : {&list, &array}) {
      FrameImages in = images;
      in.birth = f->birth.get(), in.output = f->output.get(), in.time = float(frame);
      fw::SeedRandom(uint32_t(1000 + frame));
      BubbleSystem& s = *f->sim.system;
      if (frame == 17) f->requests.restartRequested.store(1);
      ASSERT_TRUE(PrepareFrame(s, f->requests, *f->sim.tables, f->sim.params, in));
      if (f == &list) s.moversListLive = false;  // the whole chain walked
      LiveView live;
      ASSERT_TRUE(BeginDrawnStep(s, SourceLineOf(f->sim.params), f == &array ? &live : nullptr));
      ASSERT_EQ(live.count, f == &array ? s.liveCount : -1);
      ASSERT_TRUE(PlanBands(s, 5, 2, f == &array ? &fromArray : &fromList, live));
      for (const Bubble* b = s.liveList; b; b = b->next) burst += f == &list && b->burst;
      const int before = s.liveCount;
      if (f == &list) {
        UpdateBubbles(s, float(frame));
      } else {
        // Uneven shares, the last one first, as threads may take them.
        const int n = live.count, cut[] = {0, n / 7, n / 2, n};
        BeginUpdate(s, n);
        for (int k = 2; k >= 0; --k) StepBubbles(s, cut[k], cut[k + 1], float(frame));
        RemoveEnded(s, n);
      }
      died += f == &list ? before - s.liveCount : 0;
    }
    ASSERT_EQ(seen(*array.sim.system), seen(*list.sim.system)) << "frame " << frame;
    ASSERT_EQ(fromArray.bounds, fromList.bounds) << "frame " << frame;
    ASSERT_EQ(fromArray.Drawn(), fromList.Drawn()) << "frame " << frame;
    const BubbleSystem &a = *array.sim.system, &l = *list.sim.system;
    ASSERT_EQ(a.moverCount, l.moverCount);
    for (int i = 0; i < a.moverCount; ++i) ASSERT_EQ(a.movers[i]->serial, l.movers[i]->serial);
  }
  // The frames burst bubbles and ended others.
  EXPECT_GT(burst, 0);
  EXPECT_GT(died, 0);
}

TEST(Frame, LifetimeOneDrawsEachBubbleInExactlyOneFrame) {
  Frames f;
  f.sim.params.lifetime = 1;
  for (int frame = 0; frame < 30; ++frame) f.Run(float(frame));
  std::multiset<uint64_t> drawn;
  for (const auto& pass : f.renderer.passes)
    for (const auto& seen : pass) drawn.insert(seen.serial);
  EXPECT_EQ(drawn.size(), f.sim.system->birthCount);
  for (uint64_t serial = 1; serial <= f.sim.system->birthCount; ++serial)
    EXPECT_EQ(drawn.count(serial), 1u) << serial;
  EXPECT_EQ(f.sim.system->liveCount, 0);
}

TEST(Frame, PrerollRunsSilentStepsBeforeTheDrawnOne) {
  Frames f;
  f.requests.prerollRequested = 1;
  f.Run(40);
  EXPECT_EQ(f.sim.system->stepCount, 151u);  // "Preroll Frames" 150, then the frame
  EXPECT_EQ(f.renderer.passes.size(), 1u);
  EXPECT_EQ(f.requests.prerollRequested.load(), 0);
  // Bubbles from the preroll are drawn aged.
  int oldest = 0;
  for (const auto& seen : f.renderer.passes[0]) oldest = std::max(oldest, seen.age);
  EXPECT_EQ(oldest, 150);
}

TEST(Frame, ARestartComesBeforeAPrerollOfTheSameFrame) {
  Frames f;
  for (int frame = 0; frame < 3; ++frame) f.Run(float(frame));
  const uint64_t bornBefore = f.sim.system->birthCount;
  ASSERT_GT(f.sim.system->liveCount, 0);
  f.sim.params.prerollFrames = 4;
  f.requests.restartRequested = 1;
  f.requests.prerollRequested = 1;
  f.Run(3);
  EXPECT_EQ(f.requests.restartRequested.load(), 0);
  EXPECT_EQ(f.requests.prerollRequested.load(), 0);
  EXPECT_EQ(f.sim.system->stepCount, 3u + 5u);
  for (const Bubble* b : f.sim.Live()) EXPECT_GT(b->serial, bornBefore);
  EXPECT_GT(f.sim.system->liveCount, 0);
}

TEST(Frame, AnAbortDuringThePrerollKeepsTheRequest) {
  Frames f;
  f.requests.prerollRequested = 1;
  f.sim.abort = 1;
  f.Run();
  EXPECT_EQ(f.requests.prerollRequested.load(), 1);
  EXPECT_EQ(f.sim.system->stepCount, 0u);
  EXPECT_TRUE(f.renderer.passes.empty());

  // A preroll that would never end on its own is still stopped by the abort.
  f.sim.abort = 0;
  f.sim.params.prerollFrames = 2e9f;
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    f.sim.abort = 1;
  });
  f.Run();
  canceller.join();
  EXPECT_EQ(f.requests.prerollRequested.load(), 1);
  EXPECT_TRUE(f.renderer.passes.empty());
  EXPECT_GT(f.sim.system->stepCount, 0u);

  // The next frame prerolls again, from time 0, with the bubbles made so far.
  f.sim.abort = 0;
  f.sim.params.prerollFrames = 3;
  const uint64_t steps = f.sim.system->stepCount;
  f.Run();
  EXPECT_EQ(f.requests.prerollRequested.load(), 0);
  EXPECT_EQ(f.sim.system->stepCount, steps + 4);
}

TEST(Frame, StepsDuringAPrerollDrawNothing) {
  test::Simulation sim;
  test::RecordingRenderer renderer;
  StepSimulation(*sim.system, 0, SourceLineOf(sim.params));
  EXPECT_TRUE(renderer.passes.empty());
  test::DrawnStep(*sim.system, 1, SourceLineOf(sim.params), renderer);
  EXPECT_EQ(renderer.passes.size(), 1u);
  EXPECT_EQ(sim.system->stepCount, 2u);
}

TEST(Pool, GrowsByWholeBlocksAndRecyclesItsSlots) {
  BubbleSystem* s = CreateBubbleSystem(4);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->blockCount, 1);
  EXPECT_EQ(s->sizeSteps, 81);
  EXPECT_EQ(s->liveCount, 0);
  for (const auto& table : s->spriteCaches)
    for (const BubbleSprite* sprite : table) EXPECT_EQ(sprite, nullptr);

  std::set<Bubble*> slots;
  for (int i = 0; i < 5; ++i) {
    Bubble* b = AcquireBubble(*s);
    ASSERT_NE(b, nullptr);
    slots.insert(b);
    b->age = 7;
    b->x = 0.5f;
    b->next = s->liveList;
    s->liveList = b;
    s->liveCount += 1;
  }
  EXPECT_EQ(slots.size(), 5u);
  EXPECT_EQ(s->blockCount, 2);
  EXPECT_EQ(s->blocks->slotCount, 4);

  ClearBubbles(*s);
  EXPECT_EQ(s->liveCount, 0);
  EXPECT_EQ(s->liveList, nullptr);
  for (int i = 0; i < 8; ++i) {
    Bubble* b = AcquireBubble(*s);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->age, 0);  // zeroed when taken
    EXPECT_EQ(b->x, 0.0f);
    EXPECT_EQ(b->next, nullptr);
  }
  EXPECT_EQ(s->blockCount, 2);  // eight slots, no new block
  EXPECT_NE(AcquireBubble(*s), nullptr);
  EXPECT_EQ(s->blockCount, 3);

  s->liveCount = s->liveLimit;
  EXPECT_EQ(AcquireBubble(*s), nullptr);
  DestroyBubbleSystem(s);
  EXPECT_EQ(CreateBubbleSystem(0), nullptr);
}

}  // namespace
}  // namespace bubbles
