#include "dfsystem/memory.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace df {

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kOwnAllocator = false;  // a sanitizer's allocator serves malloc
#else
constexpr bool kOwnAllocator = true;
#endif

bool gKeeping = false;

// A huge page; a stretch of fewer than two holds at most one whole page only
// by chance, so shorter ones are not advised.
constexpr uintptr_t kHuge = uintptr_t(2) << 20;

// The system refuses address space it could not back at once ("strict"
// overcommit): a reserve would then hold memory nobody uses.
bool StrictOvercommit() {
  FILE* f = std::fopen("/proc/sys/vm/overcommit_memory", "r");
  if (!f) return false;
  const int mode = std::fgetc(f);
  std::fclose(f);
  return mode == '2';
}

}  // namespace

bool KeepFreedBlocks() {
#if defined(__GLIBC__)
  // No block is mapped on its own (a mapped block goes back to the system on
  // free). Allocations that the heap cannot extend for still fall back to a
  // mapping inside the C library, and threads' arenas fall back to the main
  // heap, so nothing fails that would have succeeded. Freed memory at the
  // top of the heap is kept up to the largest threshold the setting takes.
  // Every thread allocates from that one heap: a thread's own arena lives in
  // mappings that the C library unmaps whole when a large block in one is
  // freed, so a writer thread's frame-sized blocks (an encoded file, a float
  // copy of the frame) would fault in fresh pages on every frame.
  gKeeping = mallopt(M_MMAP_MAX, 0) == 1 && mallopt(M_TRIM_THRESHOLD, INT_MAX) == 1 &&
             mallopt(M_ARENA_MAX, 1) == 1;
  return gKeeping;
#else
  return false;
#endif
}

bool AdviseHugePages(void* at, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (!at || bytes < 2 * kHuge) return false;
  const auto from = reinterpret_cast<uintptr_t>(at);
  const uintptr_t begin = (from + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (from + bytes) & ~(kHuge - 1);
  return end > begin && madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE) == 0;
#else
  (void)at;
  (void)bytes;
  return false;
#endif
}

bool ReserveHeapOnHugePages(size_t bytes) {
#if defined(__GLIBC__) && defined(MADV_HUGEPAGE)
  if (!kOwnAllocator || !gKeeping || bytes < 2 * kHuge || StrictOvercommit()) return false;
  // The block comes from the top of the heap, which grows for it; freed, it
  // joins the top again and stays (KeepFreedBlocks), so the next large
  // blocks are carved from this stretch. Only its whole 2 MiB pages can be
  // backed by huge pages.
  void* block = std::malloc(bytes);
  if (!block) return false;
  const bool advised = AdviseHugePages(block, bytes);
  std::free(block);
  return advised;
#else
  (void)bytes;
  return false;
#endif
}

}  // namespace df
