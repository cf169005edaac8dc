// A tool node's values as the flow file states them, and back: the text
// restates every entry of the operator's own saved record (the control by
// caption: a number, an x,y pair, or an object with its keyframes), and the
// operator is rebuilt by loading the record remade from the text, so that
// the tool checks and takes the values as it takes a saved composition.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host.h"

namespace vorn::flow {

using Json = nlohmann::ordered_json;

// The operator's saved record, as bytes. False with the reason.
bool SavedRecordBytes(Host& host, df::Operator& op, std::vector<uint8_t>* bytes,
                      std::string* error);

// The values of the operator's saved record, by caption.
bool ToolValues(Host& host, df::Operator& op, Json* values, std::string* error);

// The saved record of a `registry` operator holding `values` (entries not
// named keep the tool's defaults). False with a message naming the caption
// and what was wrong.
bool RecordFromValues(Host& host, df::Registry* registry, const Json& values,
                      std::vector<uint8_t>* bytes, std::string* error);

// An operator loaded from the record RecordFromValues makes.
df::OperatorPtr ToolFromValues(Host& host, df::Registry* registry, const Json& values,
                               std::string* error);

}  // namespace vorn::flow
