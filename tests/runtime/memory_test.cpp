#include "dfsystem/memory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

#if defined(__GLIBC__) && __GLIBC_PREREQ(2, 33)
// A frame-sized block freed by one frame stays in the heap for the next one
// instead of going back to the system; and blocks larger than a thread's
// arena can hold are still served on every thread.
TEST(KeepFreedBlocks, LargeBlocksStayInTheHeapAndEveryThreadStillGetsThem) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's allocator replaces the C library's";
#endif
  if (!df::KeepFreedBlocks()) GTEST_SKIP() << "the allocator ignores the setting";
  constexpr std::size_t kBlock = std::size_t(48) << 20;  // above the largest mapping threshold
  const std::size_t mappedBefore = mallinfo2().hblkhd;
  void* block = std::malloc(kBlock);
  ASSERT_NE(block, nullptr);
  std::memset(block, 1, kBlock);
  EXPECT_EQ(mallinfo2().hblkhd, mappedBefore) << "the block was mapped on its own";
  std::free(block);
  EXPECT_GE(mallinfo2().fordblks, kBlock) << "the freed block left the heap";

  // 200 MiB is more than a thread's arena can grow to.
  bool served = false;
  std::thread([&] {
    void* p = nullptr;
    if (posix_memalign(&p, 64, std::size_t(200) << 20) == 0 && p) {
      std::memset(p, 2, std::size_t(200) << 20);
      served = true;
      std::free(p);
    }
  }).join();
  EXPECT_TRUE(served);
}
#endif

}  // namespace
