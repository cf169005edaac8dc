// The flow file: JSON text a person can read, diff and edit.
//
//   {"format": "vorn flow", "version": 1,
//    "shot": {"first": 1, "last": 48, "simulationStart": 1},
//    "size": [1280, 720],                       (optional: built-in images)
//    "nodes": [{"name": "Flame", "class": "CandlePlugIn", "values": {...}}, ...],
//    "connections": [{"from": "Flame", "to": "Over", "input": "A"}, ...]}
//
// A tool node's "values" restate its saved record (see tool_record.h); Read,
// Merge and Write nodes carry their own members. Files saved by vorn before
// flows (one operator's saved record) load as a flow of one node.
#pragma once

#include <string>
#include <vector>

#include "flow/flow.h"
#include "host.h"

namespace vorn::flow {

inline constexpr int kFlowVersion = 1;
inline constexpr const char* kFlowFormat = "vorn flow";
// The extension vorn gives flow files; any name loads, by its content.
inline constexpr const char* kFlowExtension = ".flow.json";

// Whether the bytes look like flow text (the first non-blank is '{').
bool LooksLikeFlowText(const std::vector<uint8_t>& bytes);

// The shot's frames: first <= last, the simulation starting at or before
// the first, and at most kMaxFrames of them from there. False with the reason.
bool CheckShot(const Shot& shot, std::string* error);

// Reads a flow from its text; `where` names the file in messages. False with
// a message naming the place (line and column, or node and member).
bool ParseFlow(Host& host, const std::string& text, const std::string& where, Flow* flow,
               std::string* error);

// Reads a flow file, or a saved composition of one operator as a flow of
// one node. False with the reason.
bool LoadFlow(Host& host, const std::string& path, Flow* flow, std::string* error);

// The flow's text. False with the reason.
bool FlowText(Host& host, const Flow& flow, std::string* text, std::string* error);

// Writes the flow's text to `path`, whole or not at all.
bool SaveFlow(Host& host, const Flow& flow, const std::string& path, std::string* error);

}  // namespace vorn::flow
