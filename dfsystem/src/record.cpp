#include "dfsystem/record.h"

#include <cmath>
#include <limits>
#include <set>

#include "dfsystem/fourcc.h"

namespace df {
namespace {

bool WriteComponents(CArchive& ar, const double v[2]) {
  return ar.WriteDouble(v[0]) && ar.WriteDouble(v[1]);
}

bool Representable(uint32_t type, const double v[2]) {
  if (!std::isfinite(v[0]) || !std::isfinite(v[1])) return false;
  if (type == kTypePoint) {
    const double big = std::numeric_limits<float>::max();
    return std::fabs(v[0]) <= big && std::fabs(v[1]) <= big;
  }
  return true;
}

}  // namespace

// Each entry: id, type, constant (two doubles), animated (0/1), key count,
// then per key its time and two doubles. A Number uses the first component.
bool WriteHostData(CArchive& ar, const std::vector<SavedValue>& values,
                   const std::vector<SavedSetting>& settings) {
  ar.WriteWord(kHostDataMagic);
  ar.WriteWord(settings.empty() ? kHostDataVersion : kHostDataVersionSettings);
  ar.WriteWord(uint32_t(values.size()));
  for (const SavedValue& v : values) {
    ar.WriteWord(v.id);
    ar.WriteWord(v.type);
    WriteComponents(ar, v.state.constant);
    ar.WriteWord(v.state.animated ? 1 : 0);
    ar.WriteWord(uint32_t(v.state.keys.size()));
    for (const Keyframe& k : v.state.keys) {
      ar.WriteDouble(k.time);
      WriteComponents(ar, k.v);
    }
  }
  if (!settings.empty()) {
    ar.WriteWord(uint32_t(settings.size()));
    for (const SavedSetting& s : settings) {
      ar.WriteWord(s.id);
      ar.WriteDouble(s.value);
    }
  }
  return !ar.Failed();
}

bool ReadHostData(CArchive& ar, std::vector<SavedValue>* values, std::string* error,
                  std::vector<SavedSetting>* settings) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  uint32_t magic = 0, version = 0, count = 0;
  if (!ar.ReadWord(magic)) return fail("the record ends before the host data");
  if (magic != kHostDataMagic) return fail("the host data does not start with \"DFhd\"");
  if (!ar.ReadWord(version) || !ar.ReadWord(count)) return fail("the host data is cut short");
  if (version != kHostDataVersion && version != kHostDataVersionSettings)
    return fail("host data format " + std::to_string(version) + " is not supported (only " +
                std::to_string(kHostDataVersion) + " and " +
                std::to_string(kHostDataVersionSettings) + ")");
  if (count > kMaxSavedEntries)
    return fail("the host data claims " + std::to_string(count) + " values (at most " +
                std::to_string(kMaxSavedEntries) + ")");
  std::set<uint32_t> seen;
  values->clear();
  for (uint32_t n = 0; n < count; ++n) {
    SavedValue v;
    uint32_t animated = 0, keys = 0;
    if (!ar.ReadWord(v.id) || !ar.ReadWord(v.type) || !ar.ReadDouble(v.state.constant[0]) ||
        !ar.ReadDouble(v.state.constant[1]) || !ar.ReadWord(animated) || !ar.ReadWord(keys))
      return fail("the host data is cut short in value " + std::to_string(n + 1));
    const std::string which = "value " + std::to_string(n + 1) + " (" + FourCCText(v.id) + ")";
    if (v.type != kTypeNumber && v.type != kTypePoint)
      return fail(which + " has an unknown type " + FourCCText(v.type));
    if (!seen.insert(v.id).second) return fail(which + " is stored twice");
    if (animated > 1) return fail(which + " has a bad animation flag");
    if (keys > kMaxSavedKeys) return fail(which + " claims " + std::to_string(keys) + " keyframes");
    if (!Representable(v.type, v.state.constant)) return fail(which + " is not a finite value");
    v.state.animated = animated == 1;
    for (uint32_t k = 0; k < keys; ++k) {
      Keyframe key;
      if (!ar.ReadDouble(key.time) || !ar.ReadDouble(key.v[0]) || !ar.ReadDouble(key.v[1]))
        return fail("the host data is cut short in the keyframes of " + which);
      if (!std::isfinite(key.time) || !Representable(v.type, key.v))
        return fail(which + " has a keyframe that is not finite");
      if (!v.state.keys.empty() && !(key.time > v.state.keys.back().time))
        return fail(which + " has keyframes out of time order");
      v.state.keys.push_back(key);
    }
    values->push_back(std::move(v));
  }
  if (settings) settings->clear();
  if (version == kHostDataVersion) return true;
  uint32_t settingCount = 0;
  if (!ar.ReadWord(settingCount)) return fail("the host data is cut short before its settings");
  if (settingCount > kMaxSavedSettings)
    return fail("the host data claims " + std::to_string(settingCount) + " settings (at most " +
                std::to_string(kMaxSavedSettings) + ")");
  std::set<uint32_t> seenSettings;
  for (uint32_t n = 0; n < settingCount; ++n) {
    SavedSetting s;
    if (!ar.ReadWord(s.id) || !ar.ReadDouble(s.value))
      return fail("the host data is cut short in setting " + std::to_string(n + 1));
    const std::string which = "setting " + std::to_string(n + 1) + " (" + FourCCText(s.id) + ")";
    if (!std::isfinite(s.value)) return fail(which + " is not a finite value");
    if (!seenSettings.insert(s.id).second) return fail(which + " is stored twice");
    if (settings) settings->push_back(s);
  }
  return true;
}

bool ReadSavedRecord(CArchive& ar, SavedRecord* record, std::string* error) {
  if (!ar.ReadWord(record->classId)) {
    if (error) *error = "the record is empty";
    return false;
  }
  if (!ReadHostData(ar, &record->values, error, &record->settings)) return false;
  if (!ar.ReadWord(record->trailer[0]) || !ar.ReadWord(record->trailer[1])) {
    if (error) *error = "the record ends before its two trailer words";
    return false;
  }
  return true;
}

}  // namespace df
