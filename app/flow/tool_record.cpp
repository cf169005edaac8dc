#include "flow/tool_record.h"

#include <cmath>

namespace vorn::flow {

namespace {

Json PairOf(const double v[2]) {
  return Json::array({v[0], v[1]});
}

Json ValueJson(uint32_t type, const double v[2]) {
  return type == df::kTypePoint ? PairOf(v) : Json(v[0]);
}

// A number, or an x,y pair for a point, into v.
bool ReadValue(uint32_t type, const Json& j, double v[2], std::string* error) {
  auto number = [&](const Json& n, double* out) {
    if (!n.is_number()) return false;
    *out = n.get<double>();
    return std::isfinite(*out);
  };
  if (type == df::kTypePoint) {
    if (j.is_array() && j.size() == 2 && number(j[0], &v[0]) && number(j[1], &v[1])) return true;
    *error = "expected an x,y pair of numbers such as [0.5, 0.25]";
    return false;
  }
  if (number(j, &v[0])) return true;
  *error = "expected a number";
  return false;
}

bool ReadState(uint32_t type, const Json& j, df::ValueState* state, std::string* error) {
  if (!j.is_object()) {
    state->animated = false;
    state->keys.clear();
    return ReadValue(type, j, state->constant, error);
  }
  for (const auto& [key, value] : j.items())
    if (key != "constant" && key != "keys") {
      *error = "unknown member \"" + key + "\" (an animated value has \"constant\" and \"keys\")";
      return false;
    }
  state->animated = true;
  state->keys.clear();
  if (j.contains("constant") && !ReadValue(type, j["constant"], state->constant, error)) {
    *error = "constant: " + *error;
    return false;
  }
  if (!j.contains("keys")) return true;
  const Json& keys = j["keys"];
  if (!keys.is_array()) {
    *error = "keys: expected a list of {\"frame\": F, \"value\": V}";
    return false;
  }
  if (keys.size() > df::kMaxSavedKeys) {
    *error = "keys: " + std::to_string(keys.size()) + " keys; at most " +
             std::to_string(df::kMaxSavedKeys);
    return false;
  }
  for (size_t i = 0; i < keys.size(); ++i) {
    const Json& k = keys[i];
    const std::string where = "keys[" + std::to_string(i) + "]: ";
    if (!k.is_object() || k.size() != 2 || !k.contains("frame") || !k.contains("value") ||
        !k["frame"].is_number() || !std::isfinite(k["frame"].get<double>())) {
      *error = where + "expected {\"frame\": F, \"value\": V}";
      return false;
    }
    df::Keyframe key;
    key.time = k["frame"].get<double>();
    if (!ReadValue(type, k["value"], key.v, error)) {
      *error = where + *error;
      return false;
    }
    if (!state->keys.empty() && !(key.time > state->keys.back().time)) {
      *error = where + "frames must increase";
      return false;
    }
    state->keys.push_back(key);
  }
  return true;
}

bool ReadRecord(const std::vector<uint8_t>& bytes, df::SavedRecord* record, std::string* error) {
  df::CArchive archive(bytes.data(), bytes.size());
  return df::ReadSavedRecord(archive, record, error);
}

}  // namespace

bool SavedRecordBytes(Host& host, df::Operator& op, std::vector<uint8_t>* bytes,
                      std::string* error) {
  bytes->clear();
  df::CArchive archive(bytes);
  if (!host.Doc().SaveOperator(&op, archive, error) || !archive.Flush()) {
    if (error->empty()) *error = "the record could not be made";
    return false;
  }
  return true;
}

bool ToolValues(Host& host, df::Operator& op, Json* values, std::string* error) {
  std::vector<uint8_t> bytes;
  df::SavedRecord record;
  if (!SavedRecordBytes(host, op, &bytes, error) || !ReadRecord(bytes, &record, error))
    return false;
  *values = Json::object();
  for (const df::SavedValue& v : record.values) {
    const df::Input* input = op.FindInput(v.id);
    if (!input) continue;
    const df::ValueState& s = v.state;
    if (!s.animated) {
      (*values)[input->Name()] = ValueJson(v.type, s.constant);
      continue;
    }
    Json keys = Json::array();
    for (const df::Keyframe& k : s.keys)
      keys.push_back(Json{{"frame", k.time}, {"value", ValueJson(v.type, k.v)}});
    (*values)[input->Name()] = Json{{"constant", ValueJson(v.type, s.constant)}, {"keys", keys}};
  }
  return true;
}

bool RecordFromValues(Host& host, df::Registry* registry, const Json& values,
                      std::vector<uint8_t>* bytes, std::string* error) {
  if (!values.is_object()) {
    *error = "\"values\" must be an object of control captions";
    return false;
  }
  // The tool's own record of its defaults gives the entries, their order,
  // types and the trailer; the text replaces the values it names.
  df::OperatorPtr fresh = host.Doc().CreateOperator(registry, error);
  if (!fresh) return false;
  std::vector<uint8_t> defaults;
  df::SavedRecord record;
  if (!SavedRecordBytes(host, *fresh, &defaults, error) || !ReadRecord(defaults, &record, error))
    return false;
  for (const auto& [caption, value] : values.items()) {
    df::SavedValue* entry = nullptr;
    for (df::SavedValue& v : record.values) {
      const df::Input* input = fresh->FindInput(v.id);
      if (input && input->Name() == caption) entry = &v;
    }
    if (!entry) {
      *error = "\"" + caption + "\" is not a control of \"" + registry->Name() + "\"";
      return false;
    }
    if (!ReadState(entry->type, value, &entry->state, error)) {
      *error = "\"" + caption + "\": " + *error;
      return false;
    }
  }
  bytes->clear();
  df::CArchive archive(bytes);
  archive.WriteWord(record.classId);
  df::WriteHostData(archive, record.values);
  archive.WriteWord(record.trailer[0]);
  archive.WriteWord(record.trailer[1]);
  if (!archive.Flush() || archive.Failed()) {
    *error = "the record could not be made";
    return false;
  }
  return true;
}

df::OperatorPtr ToolFromValues(Host& host, df::Registry* registry, const Json& values,
                               std::string* error) {
  std::vector<uint8_t> bytes;
  if (!RecordFromValues(host, registry, values, &bytes, error)) return nullptr;
  df::CArchive archive(bytes.data(), bytes.size());
  return host.Doc().LoadOperator(archive, error);
}

}  // namespace vorn::flow
