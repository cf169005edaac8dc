#include "dfsystem/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#if defined(__GLIBC__)
#include <malloc.h>
#include <unistd.h>
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

// A frame-sized block that a writer thread frees is kept for the next one
// just like the main thread's: every thread allocates from the one heap.
TEST(KeepFreedBlocks, ABlockFreedOnAnotherThreadStaysInTheHeap) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's allocator replaces the C library's";
#endif
  if (!df::KeepFreedBlocks()) GTEST_SKIP() << "the allocator ignores the setting";
  constexpr std::size_t kBlock = std::size_t(40) << 20;
  for (int round = 0; round < 2; ++round) {
    uintptr_t at = 0;
    std::thread([&] {
      void* p = std::malloc(kBlock);
      ASSERT_NE(p, nullptr);
      std::memset(p, 3, kBlock);
      at = reinterpret_cast<uintptr_t>(p);
      std::free(p);
    }).join();
    // The main heap is the stretch of mallinfo2's size (it reports the main
    // heap only) below the program break; a thread's own arena is mapped
    // elsewhere.
    const auto top = reinterpret_cast<uintptr_t>(sbrk(0));
    EXPECT_TRUE(at < top && at >= top - mallinfo2().arena) << "round " << round;
    EXPECT_GE(mallinfo2().fordblks, kBlock) << "round " << round;
  }
}

// The flags ("VmFlags") of the mapping that holds `address`, from the
// process's own memory map; "" if none does.
std::string MappingFlags(const void* address) {
  const auto at = reinterpret_cast<uintptr_t>(address);
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  while (std::getline(smaps, line)) {
    uintptr_t begin = 0, end = 0;
    char dash = 0;
    std::istringstream range(line);
    if (range >> std::hex >> begin >> dash >> end && dash == '-' && line.find(' ') != line.npos &&
        line.find(':') > line.find(' ')) {
      inside = begin <= at && at < end;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line;
    }
  }
  return "";
}

// The reserve is handed back to the heap: blocks of a frame come from it
// without the heap growing, and the middle of it is marked for huge pages.
TEST(ReserveHeapOnHugePages, TheReserveServesTheNextBlocksAndAsksForHugePages) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's allocator replaces the C library's";
#endif
  if (!df::KeepFreedBlocks()) GTEST_SKIP() << "the allocator ignores the setting";
  constexpr std::size_t kReserve = std::size_t(64) << 20;
  EXPECT_FALSE(df::ReserveHeapOnHugePages(4096)) << "less than a huge page is no reserve";
  if (!df::ReserveHeapOnHugePages(kReserve)) GTEST_SKIP() << "the system offers no huge pages";
  const std::size_t heap = mallinfo2().arena;
  EXPECT_GE(mallinfo2().fordblks, kReserve) << "the reserve is free memory of the heap";
  void* block = std::malloc(kReserve / 2);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(mallinfo2().arena, heap) << "the heap grew for a block the reserve could hold";
  const std::string flags = MappingFlags(static_cast<char*>(block) + kReserve / 4);
  EXPECT_NE(flags.find(" hg"), std::string::npos) << "not marked for huge pages: " << flags;
  std::free(block);
}
#endif

}  // namespace
