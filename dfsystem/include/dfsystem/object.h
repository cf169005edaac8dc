// The base of everything the host hands to a tool: a reference-counted object.
#pragma once

#include <atomic>
#include <cstdint>

#include "dfsystem/tags.h"

namespace df {

class Object {
 public:
  Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  virtual ~Object() = default;

  // Sets attributes after creation; returns 1 when every item was taken.
  virtual uint32_t SetAttrs(const TagList& tags);
  // Releases one reference; the object is freed with the last one. Objects that
  // the host owns outright (inputs, outputs) ignore it.
  virtual void Recycle();
  void AddRef() { refs_.fetch_add(1, std::memory_order_relaxed); }

 private:
  std::atomic<int> refs_{1};
};

}  // namespace df
