#include "framework/harness.h"

#include <dfsystem/chunk_trace.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "probe_host.h"

using namespace df;
using probe::ProbeHost;
using probe::ScopedEnv;

TEST(WorkerCount, ParsesLikeADecimalReader) {
  EXPECT_EQ(fw::ParseWorkerCount("0"), 0);
  EXPECT_EQ(fw::ParseWorkerCount("-3"), -3);
  EXPECT_EQ(fw::ParseWorkerCount("abc"), 0);
  EXPECT_EQ(fw::ParseWorkerCount("64"), 64);
  EXPECT_EQ(fw::ParseWorkerCount("  12xyz"), 12);
  EXPECT_EQ(fw::ParseWorkerCount("+7"), 7);
  EXPECT_EQ(fw::ParseWorkerCount("99999999999999999999"), fw::kMaxWorkers);
  EXPECT_EQ(fw::ParseWorkerCount(""), 0);
}

TEST(WorkerCount, EnvironmentThenApplicationThenOne) {
  {
    ScopedEnv env("NUM_PROC_VORN", nullptr);
    EXPECT_EQ(fw::DetermineWorkerCount(), 1);  // no application object
    App app;
    app.processorCount = 6;
    EXPECT_EQ(fw::DetermineWorkerCount(), 6);
  }
  for (const char* bad : {"0", "-3", "abc"}) {
    ScopedEnv env("NUM_PROC_VORN", bad);
    EXPECT_EQ(fw::DetermineWorkerCount(), 1) << bad;
  }
  ScopedEnv env("NUM_PROC_VORN", "  12xyz");
  EXPECT_EQ(fw::DetermineWorkerCount(), 12);
}

TEST(WorkerCount, ThreadRenderCountComesFirstOnItsThreadOnly) {
  ScopedEnv env("NUM_PROC_VORN", "5");
  SetThreadRenderWorkers(3);
  EXPECT_EQ(fw::DetermineWorkerCount(), 3);
  int elsewhere = 0;
  std::thread([&] { elsewhere = fw::DetermineWorkerCount(); }).join();
  EXPECT_EQ(elsewhere, 5);
  SetThreadRenderWorkers(0);
  EXPECT_EQ(fw::DetermineWorkerCount(), 5);
}

TEST(Bands, LastChunkRunsToTheEnd) {
  const fw::Band expected[] = {{0, 2}, {2, 4}, {4, 6}, {6, 10}};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(fw::ChunkBand(k, 4, 10).begin, expected[k].begin);
    EXPECT_EQ(fw::ChunkBand(k, 4, 10).end, expected[k].end);
  }
  // More workers than rows: all chunks but the last are empty.
  for (int k = 0; k < 15; ++k) EXPECT_EQ(fw::ChunkBand(k, 16, 10).end, 0);
  EXPECT_EQ(fw::ChunkBand(15, 16, 10).end, 10);
  EXPECT_EQ(fw::ChunkBand(16, 16, 10).end, 0);
}

TEST(MismatchPattern, BandRunsCornerToCorner) {
  Image* out = Image::Create(100, 50);
  fw::DrawMismatchPattern(out);
  auto red = [&](int x, int y) { return out->Pixel(x, y)[2] == 255 && out->Pixel(x, y)[3] == 255; };
  for (int x = 0; x < 100; ++x) EXPECT_EQ(red(x, 0), x < 10) << x;
  for (int x = 0; x < 100; ++x) EXPECT_EQ(red(x, 1), x < 12) << x;
  EXPECT_TRUE(red(59, 30) && red(69, 30) && !red(70, 30) && !red(49, 30));
  EXPECT_EQ(out->Pixel(99, 0)[0], 60);
  EXPECT_EQ(out->Pixel(99, 0)[2], 60);
  out->Recycle();
}

TEST_F(ProbeHost, ChunksRunOnThePassThreadsAndCoverTheirBands) {
  ScopedEnv env("NUM_PROC_VORN", "4");
  OperatorPtr op = Create();
  Image* source = Image::Create(7, 10);
  Image* out = Render(*op, source);
  ASSERT_NE(out, nullptr);
  const int expected[10] = {0, 0, 1, 1, 2, 2, 3, 3, 3, 3};
  for (int y = 0; y < 10; ++y) EXPECT_EQ(out->Pixel(6, y)[1], expected[y]) << y;
  out->Recycle();
  source->Recycle();

  // More chunks than threads: the calling thread and the pool's share
  // them, no more threads than the pass is given.
  struct Counter : ThreadedOperator {
    using ThreadedOperator::ThreadedOperator;
    void ProcessChunk(Request*, long k) override {
      std::lock_guard lock(m);
      seen.insert(k);
      threads.insert(std::this_thread::get_id());
    }
    std::mutex m;
    std::set<long> seen;
    std::set<std::thread::id> threads;
  } counter(nullptr, nullptr, nullptr);
  EXPECT_EQ(counter.DoMultiProcess(nullptr, 64), 1u);
  EXPECT_EQ(counter.seen.size(), 64u);
  EXPECT_LE(counter.threads.size(), size_t(std::max(1, GetApp()->threadCount)));
  EXPECT_EQ(counter.DoMultiProcess(nullptr, 0), 0u);
}

TEST_F(ProbeHost, SixtyFourWorkersOnASmallImage) {
  ScopedEnv env("NUM_PROC_VORN", "64");
  OperatorPtr op = Create();
  Image* source = Image::Create(3, 5);
  Image* out = Render(*op, source);
  ASSERT_NE(out, nullptr);
  for (int y = 0; y < 5; ++y) EXPECT_EQ(out->Pixel(0, y)[0], 63);
  out->Recycle();
  source->Recycle();
}

TEST_F(ProbeHost, MismatchedOptionalImageGivesThePattern) {
  OperatorPtr op = Create();
  Image* source = Image::Create(100, 50);
  Image* matte = Image::Create(100, 51);
  Image* out = Render(*op, source, matte);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->Pixel(9, 0)[2], 255);
  EXPECT_EQ(out->Pixel(10, 0)[2], 60);
  EXPECT_EQ(out->Pixel(11, 1)[2], 255);
  out->Recycle();
  matte->Recycle();
  source->Recycle();
}

TEST_F(ProbeHost, AbortedRenderDeliversNothing) {
  OperatorPtr op = Create();
  Image* source = Image::Create(8, 8);
  op->abortFlag = 1;
  EXPECT_EQ(Render(*op, source), nullptr);
  op->abortFlag = 0;
  Image* out = Render(*op, source);
  EXPECT_NE(out, nullptr);
  out->Recycle();
  source->Recycle();
}

TEST(Images, SizesAreCheckedAndRowsLaidOut) {
  EXPECT_EQ(Image::Create(-1, 5), nullptr);
  EXPECT_EQ(Image::Create(1 << 30, 1 << 30), nullptr);
  Image* empty = Image::Create(0, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->rows, nullptr);
  empty->Recycle();
  Image* image = Image::Create(3, 2, 1.5);
  EXPECT_EQ(image->rows[1] - image->rows[0], 12);
  EXPECT_EQ(image->Pixel(2, 1)[3], 0);
  Image* copy = NewImage(image);
  EXPECT_EQ(copy->aspect, 1.5);
  copy->Recycle();
  image->Recycle();
}

// A large image is cleared by the worker pool in pieces of at most 1 MiB,
// as many as the tools' chunks where each is 64 KiB or more: every byte is
// zero even where the memory held an earlier image, the pieces are traced
// as a pass, and the progress counters are left to the tool's passes.
TEST(Images, LargeImagesAreClearedWhollyByThePool) {
  App app;
  app.threadCount = 3;
  constexpr int kW = 1001, kH = 1500;  // 6,006,000 bytes
  // Six 1 MiB pieces (the last short) for few chunks; 40 for 40 chunks;
  // 91 (6,006,000 / 64 KiB) for more.
  const struct {
    int chunks;
    int pieces;
  } cases[] = {{3, 6}, {40, 40}, {500, 91}};
  for (const auto& c : cases) {
    app.processorCount = c.chunks;
    for (int round = 0; round < 2; ++round) {
      Image* dirty = Image::Create(kW, kH);
      ASSERT_NE(dirty, nullptr);
      for (int y = 0; y < kH; ++y) std::memset(dirty->rows[y], 0xA5, size_t(kW) * 4);
      dirty->Recycle();
      ResetChunkProgress();
      TakeChunkTrace();
      EnableChunkTrace(round == 1);
      Image* image = Image::Create(kW, kH);
      EnableChunkTrace(false);
      ASSERT_NE(image, nullptr);
      size_t nonZero = 0;
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW * 4; ++x) nonZero += image->rows[y][x] != 0;
      EXPECT_EQ(nonZero, 0u) << c.chunks;
      image->Recycle();
      EXPECT_EQ(CurrentChunkProgress().passes, 0);
      const ChunkTrace trace = TakeChunkTrace();
      if (round == 1) {
        ASSERT_EQ(trace.passes.size(), 1u);
        EXPECT_EQ(trace.passes[0].chunks, c.pieces) << c.chunks;
        EXPECT_EQ(trace.chunks.size(), size_t(c.pieces)) << c.chunks;
      }
    }
  }
}

// A released large image's memory serves the next image of its size, made
// unwritten or cleared, and nothing of another size or still in use; a small
// one's goes back to the heap.
TEST(Images, AReleasedImagesMemoryServesTheNextImageOfItsSize) {
  auto made = [](int w, int h, Image::Contents contents = Image::Contents::kUnwritten) {
    Image* image = Image::Create(w, h, 1.0, contents);
    EXPECT_NE(image, nullptr);
    return image;
  };
  Image* first = made(1001, 1500);
  const uint8_t* memory = first->Data();
  std::memset(first->Data(), 0x5A, first->ByteCount());
  first->Recycle();
  Image* other = made(1000, 1500);
  EXPECT_NE(other->Data(), memory);
  Image* again = made(1001, 1500);
  EXPECT_EQ(again->Data(), memory);
  EXPECT_EQ(again->rows[1499][4003], 0x5A);  // unwritten: what the memory held
  Image* meanwhile = made(1001, 1500);
  EXPECT_NE(meanwhile->Data(), memory);
  again->Recycle();
  Image* cleared = made(1001, 1500, Image::Contents::kCleared);
  EXPECT_EQ(cleared->Data(), memory);
  EXPECT_EQ(cleared->rows[1499][4003], 0);
  for (Image* image : {other, meanwhile, cleared}) image->Recycle();
}

// Chunk times are recorded only when asked for; the progress counters always
// tell the latest pass.
TEST(ChunkTrace, RecordsEveryChunkOfEveryPassWhenAsked) {
  App app;
  app.threadCount = 3;
  app.SetChunksPerThread(4);
  EXPECT_EQ(app.processorCount, 12);
  struct Sleeper : ThreadedOperator {
    using ThreadedOperator::ThreadedOperator;
    void ProcessChunk(Request*, long) override {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  } op(nullptr, nullptr, nullptr);
  TakeChunkTrace();
  op.DoMultiProcess(nullptr, 5);
  EXPECT_TRUE(TakeChunkTrace().passes.empty());
  ChunkProgress p = CurrentChunkProgress();
  EXPECT_EQ(p.done, 5);
  EXPECT_EQ(p.total, 5);

  ResetChunkProgress();
  EnableChunkTrace(true);
  op.DoMultiProcess(nullptr, 5);
  op.DoMultiProcess(nullptr, 2);
  EnableChunkTrace(false);
  const ChunkTrace trace = TakeChunkTrace();
  p = CurrentChunkProgress();
  EXPECT_EQ(p.passes, 2);
  EXPECT_EQ(p.done, 2);
  ASSERT_EQ(trace.passes.size(), 2u);
  ASSERT_EQ(trace.chunks.size(), 7u);
  for (size_t i = 0; i < trace.chunks.size(); ++i) {
    const ChunkTiming& c = trace.chunks[i];
    const PassTiming& pass = trace.passes[i < 5 ? 0 : 1];
    EXPECT_EQ(c.pass, pass.pass);
    EXPECT_EQ(c.chunk, long(i < 5 ? i : i - 5));
    EXPECT_GE(c.start, pass.start);
    EXPECT_LE(c.end, pass.end);
    EXPECT_GE(c.end - c.start, 2'000'000);
    EXPECT_GE(c.thread, -1);  // -1: the caller
  }
  EXPECT_EQ(trace.passes[1].pass, 1);
  EXPECT_EQ(trace.passes[1].chunks, 2);
  // The caller's processor time over a pass: its own, and less than the
  // pass's span, since it slept while the workers slept in their chunks.
  for (const PassTiming& pass : trace.passes) {
    EXPECT_EQ(pass.caller, std::this_thread::get_id());
    EXPECT_GE(pass.callerCpu, 0);
    EXPECT_LT(pass.callerCpu, pass.end - pass.start);
  }
  EXPECT_TRUE(TakeChunkTrace().chunks.empty());

  app.SetChunksPerThread(100000);  // bounded like the tools' worker count
  EXPECT_EQ(app.processorCount, 4096);
}

// A chunk's processor time is its work's: the two readings of the thread's
// clock around it (each a system call on a virtual machine, as long as a
// small chunk) are not counted. Chunks that do nothing record less than one
// reading; counted with the readings, every one would record a whole one.
TEST(ChunkTrace, AChunksTimeLeavesOutTheClockReadings) {
  App app;
  app.threadCount = 1;
  struct Empty : ThreadedOperator {
    using ThreadedOperator::ThreadedOperator;
  } op(nullptr, nullptr, nullptr);
  TakeChunkTrace();
  EnableChunkTrace(true);
  op.DoMultiProcess(nullptr, 201);
  EnableChunkTrace(false);
  ChunkTrace trace = TakeChunkTrace();
  ASSERT_EQ(trace.chunks.size(), 201u);
  std::vector<int64_t> cpu;
  for (const ChunkTiming& c : trace.chunks) cpu.push_back(c.cpu);
  std::nth_element(cpu.begin(), cpu.begin() + 100, cpu.end());
  EXPECT_GT(ThreadCpuReadCost(), 0);
  EXPECT_LT(cpu[100], ThreadCpuReadCost());
}

// Chunks are claimed without a lock: every chunk of every pass runs once,
// with several threads starting passes at once and chunks starting passes
// of their own, and a chunk that throws fails its pass alone.
TEST(WorkerPool, EveryChunkRunsOnceWhoeverStartsThePasses) {
  App app;
  app.threadCount = 3;
  struct Inner : ThreadedOperator {
    using ThreadedOperator::ThreadedOperator;
    void ProcessChunk(Request*, long k) override {
      runs[size_t(k)].fetch_add(1);
      if (k == thrower) throw std::runtime_error("chunk");
    }
    std::atomic<int> runs[16] = {};
    long thrower = -1;
  };
  struct Outer : ThreadedOperator {
    using ThreadedOperator::ThreadedOperator;
    void ProcessChunk(Request*, long k) override {
      runs[size_t(k)].fetch_add(1);
      if (k % 25 == 0) nestedRan.fetch_add(int(inner.DoMultiProcess(nullptr, 16)));
    }
    std::atomic<int> runs[100] = {};
    std::atomic<int> nestedRan{0};
    Inner inner{nullptr, nullptr, nullptr};
  };
  constexpr int kCallers = 4, kPasses = 30;
  std::vector<std::unique_ptr<Outer>> ops;
  for (int i = 0; i < kCallers; ++i)
    ops.push_back(std::make_unique<Outer>(nullptr, nullptr, nullptr));
  std::vector<std::thread> callers;
  std::atomic<int> failed{0};
  for (int i = 0; i < kCallers; ++i)
    callers.emplace_back([&, i] {
      for (int p = 0; p < kPasses; ++p) failed += ops[size_t(i)]->DoMultiProcess(nullptr, 100) != 1;
    });
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(failed.load(), 0);
  for (const auto& op : ops) {
    for (const auto& r : op->runs) EXPECT_EQ(r.load(), kPasses);
    for (const auto& r : op->inner.runs) EXPECT_EQ(r.load(), 4 * kPasses);
    EXPECT_EQ(op->nestedRan.load(), 4 * kPasses);
  }

  Inner throwing(nullptr, nullptr, nullptr);
  throwing.thrower = 5;
  EXPECT_EQ(throwing.DoMultiProcess(nullptr, 16), 0u);
  for (const auto& r : throwing.runs) EXPECT_EQ(r.load(), 1);
  throwing.thrower = -1;
  EXPECT_EQ(throwing.DoMultiProcess(nullptr, 16), 1u);
}
