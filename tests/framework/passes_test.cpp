// Numbered passes over row bands, column strips or a tool's own items, and
// cancellation between passes.
#include "framework/passes.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <tuple>

namespace fw {
namespace {

using namespace df;

class PassOperator : public ThreadedOperator {
 public:
  PassOperator() : ThreadedOperator(nullptr, nullptr, nullptr) {}
  void ProcessChunk(Request*, long chunk) override {
    const ChunkWork w = passes.Chunk(chunk);
    std::lock_guard lock(mutex);
    seen.insert({w.pass, w.band.begin, w.band.end});
    if (abortIn == w.pass) abortFlag = 1;
  }
  RenderPasses passes;
  std::mutex mutex;
  std::set<std::tuple<int, int, int>> seen;
  int abortIn = 0;
};

TEST(RenderPasses, RowsThenColumnsEachChunkKnowsItsPassAndBand) {
  App app;
  PassOperator op;
  RenderFields f;
  f.width = 9;
  f.height = 10;
  SetWorkers(f, 4);
  EXPECT_TRUE(op.passes.Run(op, nullptr, 1, Split::kRows, f));
  EXPECT_TRUE(op.passes.Run(op, nullptr, 2, Split::kColumns, f));
  // Items are spread evenly (k × 6 ÷ 4), not with the rest in the last chunk;
  // a row pass after it is cut as before.
  EXPECT_TRUE(op.passes.RunOver(op, nullptr, 3, 6, f));
  EXPECT_TRUE(op.passes.Run(op, nullptr, 4, Split::kRows, f));
  EXPECT_EQ(op.passes.Current(), 0);
  const std::set<std::tuple<int, int, int>> want = {
      {1, 0, 2}, {1, 2, 4}, {1, 4, 6}, {1, 6, 10}, {2, 0, 2}, {2, 2, 4}, {2, 4, 6}, {2, 6, 9},
      {3, 0, 1}, {3, 1, 3}, {3, 3, 4}, {3, 4, 6},  {4, 0, 2}, {4, 2, 4}, {4, 4, 6}, {4, 6, 10}};
  EXPECT_EQ(op.seen, want);
}

TEST(RenderPasses, ACancelledRenderRunsNoFurtherPass) {
  App app;
  PassOperator op;
  RenderFields f;
  f.width = f.height = 8;
  SetWorkers(f, 2);
  op.abortIn = 1;
  EXPECT_FALSE(op.passes.Run(op, nullptr, 1, Split::kRows, f));
  EXPECT_FALSE(op.passes.Run(op, nullptr, 2, Split::kRows, f));
  for (const auto& s : op.seen) EXPECT_EQ(std::get<0>(s), 1);
}

}  // namespace
}  // namespace fw
