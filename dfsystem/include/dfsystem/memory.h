// Keeping a render's large blocks for the next frame. A frame's image and a
// tool's per-render buffers are allocated and freed every frame; left to its
// defaults, the C library returns blocks of this size to the system on free
// and gets fresh pages back on the next allocation, which the kernel must
// zero and fault in again, page by page, on every frame.
#pragma once

#include <cstddef>

namespace df {

// Asks the C library to serve every allocation, however large and on
// whichever thread, from its one main heap and to keep freed memory there (up
// to 2 GiB at the top of the heap) rather than returning it to the system, so
// that the next frame reuses pages that are already mapped. A host calls it
// once at start-up; it changes no result, only where memory comes from.
// False where the C library offers no such setting (then nothing changed).
bool KeepFreedBlocks();

// Grows the heap by `bytes` once, asks the system to back that stretch with
// 2 MiB pages where it offers them (transparent huge pages on request), and
// hands it back to the heap, where KeepFreedBlocks keeps it. A frame's large
// blocks are then carved from it: they fault in 2 MiB at a time instead of
// 4 KiB, so the first frame of a run costs a fraction of what it did. Address
// space only:
// memory is taken as it is touched. Called once, after KeepFreedBlocks and
// before the first frame, with about what a frame's buffers need. False where
// nothing was reserved: KeepFreedBlocks not in force, a sanitizer's
// allocator, a system that backs all address space at once, no memory.
bool ReserveHeapOnHugePages(std::size_t bytes);

// Offers the whole 2 MiB pages inside [at, at + bytes) to the system for
// transparent huge pages. A hint: where the system has none, or the stretch
// holds no whole page, nothing changes. True when a stretch was advised.
bool AdviseHugePages(void* at, std::size_t bytes);

}  // namespace df
