// Large pixel buffers kept for the next image of the same size. A frame's
// images are made and released every frame; through the C library's heap,
// the blocks allocated in between split a released image's memory, and the
// next image lands on fresh pages that the kernel must zero and fault in,
// the first of them on the thread that made the image. Kept here, the next
// frame takes the same memory back, already mapped.
#pragma once

#include <cstddef>
#include <cstdint>

namespace df::detail {

// A buffer of exactly `bytes` (its contents whatever it held last): one kept
// for that size, else a new one; null when the memory cannot be had.
uint8_t* TakePixels(size_t bytes);

// Hands a buffer from TakePixels back: kept for reuse while the store holds
// little, else freed. Null is allowed.
void GivePixels(uint8_t* data, size_t bytes);

}  // namespace df::detail
