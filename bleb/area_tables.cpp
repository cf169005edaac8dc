#include "bleb/area_tables.h"

#include <limits>
#include <new>

namespace bleb {
namespace {

// Four sums of one pixel as one vector.
template <class T>
struct QuadOf;
template <>
struct QuadOf<std::int32_t> {
  using type = std::int32_t __attribute__((vector_size(16)));
};
template <>
struct QuadOf<std::int64_t> {
  using type = std::int64_t __attribute__((vector_size(32)));
};

template <class T>
bool Fill(T* t, const std::uint8_t* const* rows, int width, int height,
          const std::atomic<int>* abort) {
  using V = typename QuadOf<T>::type;
  const std::size_t stride = static_cast<std::size_t>(width) * 4;
  for (int y = 0; y < height; ++y) {
    if (abort && abort->load(std::memory_order_relaxed)) return false;
    const std::uint8_t* p = rows[y];
    T* out = t + static_cast<std::size_t>(y) * stride;
    V run = {0, 0, 0, 0};
    if (y == 0) {
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* q = p + 4 * x;
        run += V{q[0], q[1], q[2], q[3]};
        __builtin_memcpy(out + 4 * x, &run, sizeof(V));
      }
    } else {
      const T* prev = out - stride;
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* q = p + 4 * x;
        run += V{q[0], q[1], q[2], q[3]};
        V above;
        __builtin_memcpy(&above, prev + 4 * x, sizeof(V));
        const V sum = run + above;
        __builtin_memcpy(out + 4 * x, &sum, sizeof(V));
      }
    }
  }
  return true;
}

}  // namespace

bool NeedsWideSums(int width, int height) {
  if (width <= 0 || height <= 0) return false;
  const unsigned long long limit = std::numeric_limits<std::int32_t>::max();
  const unsigned long long pixels =
      static_cast<unsigned long long>(width) * static_cast<unsigned long long>(height);
  return pixels > limit / 255;
}

bool AreaTables::Build(const std::uint8_t* const* rows, int width, int height,
                       const std::atomic<int>* abort, bool forceWide) {
  Release();
  if (width <= 0 || height <= 0 || rows == nullptr) return false;
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  const bool wide = forceWide || NeedsWideSums(width, height);
  const std::size_t maxEntries =
      std::numeric_limits<std::size_t>::max() / 4 / (wide ? sizeof(std::int64_t) : sizeof(std::int32_t));
  if (pixels > maxEntries) return false;
  if (wide) {
    wide64_.reset(new (std::nothrow) std::int64_t[pixels * 4]);
    if (!wide64_) return false;
  } else {
    wide32_.reset(new (std::nothrow) std::int32_t[pixels * 4]);
    if (!wide32_) return false;
  }
  width_ = width;
  height_ = height;
  if (wide)
    Fill(wide64_.get(), rows, width, height, abort);
  else
    Fill(wide32_.get(), rows, width, height, abort);
  return true;
}

void AreaTables::Release() {
  wide32_.reset();
  wide64_.reset();
  width_ = 0;
  height_ = 0;
}

}  // namespace bleb
