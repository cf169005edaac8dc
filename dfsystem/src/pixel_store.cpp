#include "pixel_store.h"

#include <array>
#include <mutex>
#include <new>

namespace df::detail {
namespace {

// Buffers below this size come and go through the heap as they are: their
// pages stay mapped there. A 1920 x 1080 image is about 8 MiB.
constexpr size_t kSmallest = size_t(1) << 20;
// At most this many buffers and this many bytes are kept: the images of a
// frame or two in flight, not a cache of every size a host ever made.
constexpr size_t kMostKept = 6;
constexpr size_t kMostKeptBytes = size_t(512) << 20;

struct Kept {
  uint8_t* data = nullptr;
  size_t bytes = 0;
};

// The kept buffers, oldest first. Never destroyed, so images released
// while the process ends still find it.
struct Store {
  std::mutex mutex;
  std::array<Kept, kMostKept> kept;
  size_t count = 0;

  void Remove(size_t i) {
    for (; i + 1 < count; ++i) kept[i] = kept[i + 1];
    --count;
  }
};

Store& TheStore() {
  static auto* store = new Store();
  return *store;
}

}  // namespace

uint8_t* TakePixels(size_t bytes) {
  if (bytes >= kSmallest) {
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    // The newest of that size: the most likely to be in the cache still.
    for (size_t i = s.count; i-- > 0;) {
      if (s.kept[i].bytes != bytes) continue;
      uint8_t* data = s.kept[i].data;
      s.Remove(i);
      return data;
    }
  }
  return new (std::nothrow) uint8_t[bytes];
}

void GivePixels(uint8_t* data, size_t bytes) {
  if (!data) return;
  if (bytes < kSmallest || bytes > kMostKeptBytes) {
    delete[] data;
    return;
  }
  std::array<uint8_t*, kMostKept> freed{};
  size_t dropped = 0;
  {
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    size_t total = bytes;
    for (size_t i = 0; i < s.count; ++i) total += s.kept[i].bytes;
    // Room is made by dropping the oldest; they are freed outside the lock.
    while (s.count > 0 && (s.count + 1 > kMostKept || total > kMostKeptBytes)) {
      total -= s.kept[0].bytes;
      freed[dropped++] = s.kept[0].data;
      s.Remove(0);
    }
    s.kept[s.count++] = {data, bytes};
  }
  for (size_t i = 0; i < dropped; ++i) delete[] freed[i];
}

}  // namespace df::detail
