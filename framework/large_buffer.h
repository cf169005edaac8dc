// An uninitialised, 64-byte aligned array for a render's large per-frame
// buffers, that never throws. The whole 2 MiB pages inside a large one are
// offered to the system for transparent huge pages: where a frame's buffers
// are fresh memory, faulting them in 4 KiB pages can cost more than the pass
// that fills them (about 60 ms for a 4K frame of Bleb's tables).
#pragma once

#include <dfsystem/memory.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace fw {

template <class T>
class LargeBuffer {
 public:
  LargeBuffer() = default;
  LargeBuffer(const LargeBuffer&) = delete;
  LargeBuffer& operator=(const LargeBuffer&) = delete;
  ~LargeBuffer() { Release(); }

  // False, holding nothing, when the memory cannot be had.
  bool Allocate(std::size_t count) {
    Release();
    if (count == 0 || count > std::numeric_limits<std::size_t>::max() / sizeof(T) - kHeadroom)
      return false;
    const std::size_t bytes = count * sizeof(T);
    // Aligned by hand inside a plain block rather than by posix_memalign:
    // an aligned request leaves a small free piece in front of the block,
    // which the next frame's blocks of the same size cannot reuse, so each
    // frame's buffers would move on into memory never touched before.
    block_ = std::malloc(bytes + kAlign);
    if (!block_) return false;
    void* p = reinterpret_cast<void*>((reinterpret_cast<std::uintptr_t>(block_) + kAlign - 1) &
                                      ~std::uintptr_t(kAlign - 1));
    // The whole 2 MiB pages inside the block; a hint, failure changes nothing.
    // (Aligning the block itself to 2 MiB would make the allocator carve
    // every request out of a larger free area, which defeats a host that
    // keeps freed blocks for the next frame.)
    df::AdviseHugePages(p, bytes);
    data_ = static_cast<T*>(p);
    count_ = count;
    return true;
  }

  void Release() {
    std::free(block_);
    block_ = nullptr;
    data_ = nullptr;
    count_ = 0;
  }

  T* get() const { return data_; }
  std::size_t size() const { return count_; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  // Counts within this many of the limit are refused, so that the block's
  // size (with room to align) cannot overflow.
  static constexpr std::size_t kHeadroom = std::size_t(2) << 20;
  static constexpr std::size_t kAlign = 64;
  void* block_ = nullptr;  // as the allocator gave it; data_ is aligned within
  T* data_ = nullptr;
  std::size_t count_ = 0;
};

}  // namespace fw
