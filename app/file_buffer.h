// The bytes of a file being encoded in memory before it is written.
//
// The memory is aligned to the disk's blocks, so a large file goes to disk
// past the page cache straight from it, without a copy; and growing the
// buffer leaves the new bytes uninitialised, because the encoders write every
// byte they size it for. Kept per writer thread, the buffer's pages are
// touched once rather than once a frame.
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

#include "atomic_file.h"

namespace vorn {

template <class T>
struct BlockAllocator {
  using value_type = T;
  BlockAllocator() = default;
  template <class U>
  BlockAllocator(const BlockAllocator<U>&) {}

  T* allocate(size_t n) {
    return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t(kDirectAlign)));
  }
  void deallocate(T* p, size_t) { ::operator delete(p, std::align_val_t(kDirectAlign)); }
  // Default-initialised: resize() leaves bytes as they were.
  template <class U>
  void construct(U* p) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <class U>
  bool operator==(const BlockAllocator<U>&) const {
    return true;
  }
};

using FileBytes = std::vector<unsigned char, BlockAllocator<unsigned char>>;

}  // namespace vorn
