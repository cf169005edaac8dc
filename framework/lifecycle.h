// Creation, saving and change-notification shape shared by every tool.
#pragma once

#include <cstdint>
#include <new>

#include "framework/host.h"

namespace fw {

// The registration's creation function: a new operator, or null when it cannot
// be allocated or its constructor fails. Nothing escapes to the host.
template <class Op>
df::Operator* CreateOperator(df::Registry* registry, df::CArchive* archive,
                             df::TagList* tags) noexcept {
  try {
    return new (std::nothrow) Op(registry, archive, tags);
  } catch (...) {
    return nullptr;
  }
}

inline constexpr uint32_t kTrailerEnd = 0x43646E45;  // "EndC"

// Writes the saved record: class id, the host's data, 0, "EndC" — all four even
// when the host's part fails. Returns bit 0 of the host's result.
uint32_t SaveRecord(df::Operator& op, df::CArchive* archive, df::TagList* tags, uint32_t classId);

// Consumes the two trailer words of a loaded record; their values are ignored.
void ReadTrailer(df::CArchive* archive);

// Whether change handlers must do nothing now (the document's notifyGuard).
inline bool NotifyBlocked(const df::Operator& op) {
  return op.doc != nullptr && op.doc->notifyGuard != 0;
}

// Sets an input through SetValue with a new value object released right after.
void SetNumber(df::Input* input, double value, double time, int flag);
void SetPoint(df::Input* input, float x, float y, double time, int flag);

}  // namespace fw
