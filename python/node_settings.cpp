#include "node_settings.h"

#include <climits>
#include <cmath>

#include "colour_space.h"

namespace vorn::py {

namespace {

using flow::NodeKind;

// The field of a text setting of the node's kind, or null.
template <typename N>
auto TextField(N& node, const std::string& key) -> decltype(&node.read.file) {
  switch (node.kind) {
    case NodeKind::Read:
      if (key == "file") return &node.read.file;
      if (key == "colorspace") return &node.read.colourSpace;
      if (key == "layer") return &node.read.layer;
      break;
    case NodeKind::Write:
      if (key == "file") return &node.write.file;
      if (key == "compression") return &node.write.compression;
      if (key == "bit_depth") return &node.write.bitDepth;
      if (key == "colorspace") return &node.write.colourSpace;
      break;
    default:
      break;
  }
  return nullptr;
}

std::string Text(const std::string& key, const pyb::handle& value) {
  if (!pyb::isinstance<pyb::str>(value))
    throw pyb::type_error(key + " is text (a str); got " +
                          std::string(pyb::str(value.get_type().attr("__name__"))));
  return value.cast<std::string>();
}

}  // namespace

std::vector<std::string> SettingNames(NodeKind kind) {
  switch (kind) {
    case NodeKind::Read:
      return {"file", "frame_offset", "colorspace", "layer", "missing_frame"};
    case NodeKind::Merge:
      return {"operation", "mix"};
    case NodeKind::Write:
      return {"file", "compression", "bit_depth", "colorspace"};
    case NodeKind::Tool:
      break;
  }
  return {};
}

SettingValue ParseSetting(const std::string& key, const pyb::handle& value) {
  bool known = false;
  for (NodeKind kind : {NodeKind::Read, NodeKind::Merge, NodeKind::Write})
    for (const std::string& name : SettingNames(kind)) known = known || name == key;
  if (!known)
    throw pyb::attribute_error("no node has a setting \"" + key +
                               "\" (Read: file, frame_offset, colorspace, layer, missing_frame; "
                               "Merge: operation, mix; Write: file, compression, bit_depth, "
                               "colorspace)");
  if (key == "frame_offset") {
    if (!pyb::isinstance<pyb::int_>(value) || pyb::isinstance<pyb::bool_>(value))
      throw pyb::type_error("frame_offset is a whole number (an int)");
    long long n = LLONG_MAX;
    try {
      n = value.cast<long long>();
    } catch (const pyb::cast_error&) {
    }
    if (n < INT_MIN || n > INT_MAX)
      throw pyb::value_error("frame_offset must be within ±2147483647");
    return int(n);
  }
  if (key == "mix") {
    if (!pyb::isinstance<pyb::int_>(value) && !pyb::isinstance<pyb::float_>(value))
      throw pyb::type_error("mix is a number from 0 to 1");
    const double mix = value.cast<double>();
    if (!(mix >= 0.0 && mix <= 1.0)) throw pyb::value_error("mix must be a number from 0 to 1");
    return mix;
  }
  std::string text = Text(key, value);
  std::string error;
  if (key == "file") {
    if (text.empty()) throw pyb::value_error("file may not be empty");
  } else if (key == "colorspace") {
    if (!text.empty() && !CheckColourSpace(text, &error))
      throw pyb::value_error("colorspace: " + error);
  } else if (key == "operation") {
    if (!flow::ParseMergeOperation(text))
      throw pyb::value_error("operation \"" + text +
                             "\": must be over, under, plus, multiply or screen");
  } else if (key == "missing_frame") {
    if (!flow::ParseMissingFrame(text))
      throw pyb::value_error("missing_frame \"" + text +
                             "\": must be \"error\", \"black\" or \"nearest\"");
  }
  return text;
}

bool StoreSetting(flow::Node& node, const std::string& key, const SettingValue& value) {
  if (std::string* field = TextField(node, key)) {
    *field = std::get<std::string>(value);
    return true;
  }
  if (node.kind == NodeKind::Read && key == "frame_offset") {
    node.read.frameOffset = std::get<int>(value);
    return true;
  }
  if (node.kind == NodeKind::Read && key == "missing_frame") {
    node.read.missing = *flow::ParseMissingFrame(std::get<std::string>(value));
    return true;
  }
  if (node.kind == NodeKind::Merge && key == "operation") {
    node.merge.operation = *flow::ParseMergeOperation(std::get<std::string>(value));
    return true;
  }
  if (node.kind == NodeKind::Merge && key == "mix") {
    node.merge.mix = std::get<double>(value);
    return true;
  }
  return false;
}

bool ReadSetting(const flow::Node& node, const std::string& key, SettingValue* value) {
  if (const std::string* field = TextField(node, key)) {
    *value = *field;
    return true;
  }
  if (node.kind == NodeKind::Read && key == "frame_offset") {
    *value = node.read.frameOffset;
    return true;
  }
  if (node.kind == NodeKind::Read && key == "missing_frame") {
    *value = std::string(flow::MissingFrameName(node.read.missing));
    return true;
  }
  if (node.kind == NodeKind::Merge && key == "operation") {
    *value = std::string(flow::MergeOperationName(node.merge.operation));
    return true;
  }
  if (node.kind == NodeKind::Merge && key == "mix") {
    *value = node.merge.mix;
    return true;
  }
  return false;
}

pyb::object SettingObject(const SettingValue& value) {
  return std::visit([](const auto& v) -> pyb::object { return pyb::cast(v); }, value);
}

}  // namespace vorn::py
