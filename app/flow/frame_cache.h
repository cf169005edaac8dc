// Rendered frames of a flow's nodes, kept by a key that digests everything
// that decides their pixels (the node's state, the states of the nodes
// feeding it, the frame), so that a change downstream renders nothing
// upstream again. The cache holds at most a bound in bytes: the frames used
// least recently go first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

#include "image_ref.h"

namespace vorn::flow {

// A 128-bit digest; two digests of different inputs agree by chance with
// odds of about 2^-128.
struct FrameKey {
  uint64_t hi = 0, lo = 0;
  bool operator==(const FrameKey&) const = default;
};

// Builds a FrameKey from bytes, numbers and strings fed in order. Each piece
// is fed with its length, so ("ab", "c") and ("a", "bc") differ.
class Digest {
 public:
  Digest& Bytes(const void* data, size_t size);
  Digest& Number(uint64_t value);
  Digest& Int(long long value) { return Number(uint64_t(value)); }
  Digest& Real(double value);  // by its bits (0.0 and -0.0 differ; harmless)
  Digest& Text(const std::string& text) { return Bytes(text.data(), text.size()); }
  Digest& Key(const FrameKey& key) { return Number(key.hi).Number(key.lo); }
  FrameKey Finish() const;

 private:
  void Word(uint64_t word);
  uint64_t a_ = 0x243f6a8885a308d3ull, b_ = 0x13198a2e03707344ull;
  uint64_t length_ = 0;
};

// A new reference to `image` (null stays null).
ImageRef ShareImage(df::Image* image);

struct FrameCacheStats {
  uint64_t hits = 0, misses = 0, evicted = 0;
  size_t frames = 0;    // frames held
  size_t bytes = 0;     // their pixels' bytes
  size_t maxBytes = 0;  // the bound
};

// Safe to use from several threads (one lock around each call).
class FrameCache {
 public:
  static constexpr size_t kDefaultMaxBytes = size_t(512) << 20;

  explicit FrameCache(size_t maxBytes = kDefaultMaxBytes) : maxBytes_(maxBytes) {}

  // A new reference to the frame kept under `key` (it becomes the most
  // recently used), or null. Counts a hit or a miss.
  ImageRef Find(const FrameKey& key);
  // Keeps a reference to `image` under `key`, evicting the least recently
  // used frames to stay within the bound; a frame larger than the bound is
  // not kept. The image must not be written to afterwards.
  void Put(const FrameKey& key, df::Image* image);
  // Changes the bound, evicting down to it; 0 keeps nothing.
  void SetMaxBytes(size_t maxBytes);
  void Clear();
  FrameCacheStats Stats() const;

 private:
  struct KeyHash {
    size_t operator()(const FrameKey& k) const { return size_t(k.lo ^ (k.hi * 31)); }
  };
  struct Entry {
    FrameKey key;
    ImageRef image;
    size_t bytes = 0;
  };
  void EvictTo(size_t bytes);  // with the lock held

  mutable std::mutex mutex_;
  size_t maxBytes_;
  size_t bytes_ = 0;
  uint64_t hits_ = 0, misses_ = 0, evicted_ = 0;
  std::list<Entry> entries_;  // most recently used first
  std::unordered_map<FrameKey, std::list<Entry>::iterator, KeyHash> index_;
};

}  // namespace vorn::flow
