// An uninitialised array that never throws. Large ones are aligned to 2 MiB
// and offered to the kernel for transparent huge pages: a frame's buffers
// are fresh memory every render, and faulting them in 4 KiB pages cost more
// than building the tables (about 60 ms for a 4K frame).
#pragma once

#include <cstddef>
#include <cstdlib>
#include <limits>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace bleb {

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
    if (count == 0 || count > std::numeric_limits<std::size_t>::max() / sizeof(T) - kHuge)
      return false;
    std::size_t bytes = count * sizeof(T);
    const bool huge = bytes >= 2 * kHuge;
    if (huge) bytes = (bytes + kHuge - 1) / kHuge * kHuge;
    void* p = nullptr;
    if (posix_memalign(&p, huge ? kHuge : 64, bytes) != 0) return false;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (huge) madvise(p, bytes, MADV_HUGEPAGE);  // a hint; failure changes nothing
#endif
    data_ = static_cast<T*>(p);
    count_ = count;
    return true;
  }

  void Release() {
    std::free(data_);
    data_ = nullptr;
    count_ = 0;
  }

  T* get() const {
    return data_;
  }
  std::size_t size() const {
    return count_;
  }
  explicit operator bool() const {
    return data_ != nullptr;
  }

 private:
  static constexpr std::size_t kHuge = std::size_t(2) << 20;
  T* data_ = nullptr;
  std::size_t count_ = 0;
};

}  // namespace bleb
