#include "flow/frame_cache.h"

#include <bit>
#include <cstring>

namespace vorn::flow {

namespace {

// The finaliser of splitmix64: every input bit reaches every output bit.
uint64_t Mix(uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ull;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

}  // namespace

// Two lanes absorb each word differently, so that a collision must happen
// in both at once.
void Digest::Word(uint64_t word) {
  a_ = Mix(a_ ^ word) * 0x9e3779b97f4a7c15ull;
  b_ = std::rotl(b_ + word * 0xc2b2ae3d27d4eb4full, 29) * 0x165667b19e3779f9ull;
  ++length_;
}

Digest& Digest::Bytes(const void* data, size_t size) {
  Word(size);
  const auto* p = static_cast<const unsigned char*>(data);
  for (; size >= 8; p += 8, size -= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    Word(w);
  }
  if (size > 0) {
    uint64_t w = 0;
    std::memcpy(&w, p, size);
    Word(w);
  }
  return *this;
}

Digest& Digest::Number(uint64_t value) {
  Word(value);
  return *this;
}

Digest& Digest::Real(double value) {
  return Number(std::bit_cast<uint64_t>(value));
}

FrameKey Digest::Finish() const {
  const uint64_t a = Mix(a_ ^ length_), b = Mix(b_ + length_);
  return {Mix(a ^ std::rotl(b, 32)), Mix(b ^ a)};
}

ImageRef ShareImage(df::Image* image) {
  if (image) image->AddRef();
  return ImageRef(image);
}

ImageRef FrameCache::Find(const FrameKey& key) {
  std::lock_guard lock(mutex_);
  const auto it = index_.find(key);
  if (it == index_.end()) {
    ++misses_;
    return nullptr;
  }
  ++hits_;
  entries_.splice(entries_.begin(), entries_, it->second);
  return ShareImage(it->second->image.get());
}

void FrameCache::Put(const FrameKey& key, df::Image* image) {
  if (!image) return;
  const size_t bytes = image->ByteCount();
  std::lock_guard lock(mutex_);
  if (const auto it = index_.find(key); it != index_.end()) {
    bytes_ -= it->second->bytes;
    entries_.erase(it->second);
    index_.erase(it);
  }
  if (bytes > maxBytes_) return;
  EvictTo(maxBytes_ - bytes);
  entries_.push_front({key, ShareImage(image), bytes});
  index_[key] = entries_.begin();
  bytes_ += bytes;
}

void FrameCache::EvictTo(size_t bytes) {
  while (bytes_ > bytes && !entries_.empty()) {
    bytes_ -= entries_.back().bytes;
    index_.erase(entries_.back().key);
    entries_.pop_back();
    ++evicted_;
  }
}

void FrameCache::SetMaxBytes(size_t maxBytes) {
  std::lock_guard lock(mutex_);
  maxBytes_ = maxBytes;
  EvictTo(maxBytes);
}

void FrameCache::Clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
  index_.clear();
  bytes_ = 0;
}

FrameCacheStats FrameCache::Stats() const {
  std::lock_guard lock(mutex_);
  return {hits_, misses_, evicted_, entries_.size(), bytes_, maxBytes_};
}

}  // namespace vorn::flow
