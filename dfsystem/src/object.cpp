#include "dfsystem/object.h"

namespace df {

uint32_t Object::SetAttrs(const TagList&) {
  return 0;
}

void Object::Recycle() {
  if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

}  // namespace df
