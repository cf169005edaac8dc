#include "dfsystem/memory.h"

#include <climits>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace df {

bool KeepFreedBlocks() {
#if defined(__GLIBC__)
  // No block is mapped on its own (a mapped block goes back to the system on
  // free). Allocations that the heap cannot extend for still fall back to a
  // mapping inside the C library, and threads' arenas fall back to the main
  // heap, so nothing fails that would have succeeded. Freed memory at the
  // top of the heap is kept up to the largest threshold the setting takes.
  return mallopt(M_MMAP_MAX, 0) == 1 && mallopt(M_TRIM_THRESHOLD, INT_MAX) == 1;
#else
  return false;
#endif
}

}  // namespace df
