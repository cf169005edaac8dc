// Keeping a render's large blocks for the next frame. A frame's image and a
// tool's per-render buffers are allocated and freed every frame; left to its
// defaults, the C library returns blocks of this size to the system on free
// and gets fresh pages back on the next allocation, which the kernel must
// zero and fault in again, page by page, on every frame.
#pragma once

namespace df {

// Asks the C library to serve every allocation, however large, from its heap
// and to keep freed memory there (up to 2 GiB at the top of the heap) rather
// than returning it to the system, so that the next frame reuses pages that
// are already mapped. A host calls it once at start-up; it changes no result,
// only where memory comes from. False where the C library offers no such
// setting (then nothing changed).
bool KeepFreedBlocks();

}  // namespace df
