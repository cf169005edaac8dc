// The settings of a flow's Read, Merge and Write nodes as Python names them
// (the flow file's members in snake case): a Read's file, frame_offset,
// colorspace, layer and missing_frame; a Merge's operation and mix; a
// Write's file, compression, bit_depth and colorspace.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <variant>
#include <vector>

#include "flow/flow.h"

namespace vorn::py {

namespace pyb = pybind11;

using SettingValue = std::variant<std::string, int, double>;

// The names of a node kind's settings (none for a tool node).
std::vector<std::string> SettingNames(flow::NodeKind kind);

// A Python value for setting `key`, checked as the flow file checks it.
// Raises AttributeError for a name no node has, TypeError or ValueError for
// a value the setting does not take. GIL held.
SettingValue ParseSetting(const std::string& key, const pyb::handle& value);

// Stores a parsed value; false when the node's kind has no such setting.
bool StoreSetting(flow::Node& node, const std::string& key, const SettingValue& value);

// The node's setting, or false when its kind has none of that name.
bool ReadSetting(const flow::Node& node, const std::string& key, SettingValue* value);

pyb::object SettingObject(const SettingValue& value);

}  // namespace vorn::py
