#include "framework/large_buffer.h"

#include <dfsystem/memory.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// A render's pattern of large and small blocks, as a 4K Bleb frame makes it:
// the output image, a small row table, the two map buffers, a small list;
// freed in the order the render frees them. With freed blocks kept in the
// heap, every frame's buffers come back at the same addresses, so a long
// sequence touches no memory beyond what its first frame touched.
TEST(LargeBuffer, EveryFrameGetsTheSameMemoryBack) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's allocator replaces the C library's";
#endif
  if (!df::KeepFreedBlocks()) GTEST_SKIP() << "the allocator ignores the setting";
  constexpr std::size_t kPixels = 3840 * 2160;
  std::vector<std::uintptr_t> first;
  for (int frame = 0; frame < 4; ++frame) {
    void* image = std::malloc(kPixels * 4);
    void* rows = std::malloc(2160 * 8);
    fw::LargeBuffer<float> x, y;
    ASSERT_TRUE(image && rows && x.Allocate(kPixels) && y.Allocate(kPixels));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(x.get()) % 64, 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(y.get()) % 64, 0u);
    void* list = std::malloc(2160);
    ASSERT_NE(list, nullptr);
    const std::vector<std::uintptr_t> at = {reinterpret_cast<std::uintptr_t>(image),
                                            reinterpret_cast<std::uintptr_t>(x.get()),
                                            reinterpret_cast<std::uintptr_t>(y.get())};
    if (frame == 0)
      first = at;
    else
      EXPECT_EQ(at, first) << "frame " << frame << "'s blocks moved";
    x.Release();
    y.Release();
    std::free(list);
    std::free(rows);
    std::free(image);
  }
}

// The aligned pointer lies inside the block and the whole count fits.
TEST(LargeBuffer, HoldsItsCountAlignedAndRefusesWhatCannotBeHad) {
  fw::LargeBuffer<double> b;
  ASSERT_TRUE(b.Allocate(1001));
  EXPECT_EQ(b.size(), 1001u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.get()) % 64, 0u);
  std::memset(b.get(), 0xab, 1001 * sizeof(double));  // the sanitizers check the bounds
  EXPECT_FALSE(b.Allocate(0));
  EXPECT_FALSE(b);
  EXPECT_FALSE(b.Allocate(SIZE_MAX / sizeof(double)));
  EXPECT_EQ(b.size(), 0u);
}

}  // namespace
