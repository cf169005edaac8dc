// The host's part of a saved operator record, and the whole record as a host
// reads it back. Layout of the host's part, in 32-bit little-endian words:
//   "DFhd", format version (1), number of entries, then per entry:
//   input id, value type ("Numb" or "Poin"), constant (two words per
//   component: a double for a Number, float bits and 0 for a Point ... see
//   record.cpp), animated flag, key count, and per key its time and value.
// Format 2 adds, after the entries, the host's settings: their number, then
// per setting its id and a double. A record without settings is written as
// format 1, byte for byte as before.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dfsystem/archive.h"
#include "dfsystem/input.h"

namespace df {

inline constexpr uint32_t kHostDataMagic = 0x64684644;  // "DFhd"
inline constexpr uint32_t kHostDataVersion = 1;
inline constexpr uint32_t kHostDataVersionSettings = 2;
// Refuse absurd counts early rather than read millions of words.
inline constexpr uint32_t kMaxSavedEntries = 65536;
inline constexpr uint32_t kMaxSavedKeys = 1u << 20;
inline constexpr uint32_t kMaxSavedSettings = 256;

struct SavedValue {
  uint32_t id = 0;
  uint32_t type = 0;
  ValueState state;
};

// A number the host keeps with the values (the shot it was made for, say),
// named by an id of the host's choosing. The runtime stores it and nothing more.
struct SavedSetting {
  uint32_t id = 0;
  double value = 0.0;
  bool operator==(const SavedSetting&) const = default;
};

// Writes / reads the host's part. Reading checks every count, type, time order
// and that every number is finite; false with the reason otherwise.
bool WriteHostData(CArchive& archive, const std::vector<SavedValue>& values,
                   const std::vector<SavedSetting>& settings = {});
bool ReadHostData(CArchive& archive, std::vector<SavedValue>* values, std::string* error,
                  std::vector<SavedSetting>* settings = nullptr);

// A whole saved record: class id, host data, the two trailer words.
struct SavedRecord {
  uint32_t classId = 0;
  std::vector<SavedValue> values;
  std::vector<SavedSetting> settings;
  uint32_t trailer[2] = {0, 0};
};
bool ReadSavedRecord(CArchive& archive, SavedRecord* record, std::string* error);

}  // namespace df
