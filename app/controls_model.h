// How the host reads a tool's declared inputs: what kind of value each takes,
// names for its control kinds, look-up by caption with helpful messages, and
// setting values (constants, keyframes, button presses) through the runtime.
#pragma once

#include <dfsystem/dfsystem.h>

#include <string>
#include <vector>

#include "value_parse.h"

namespace vorn {

inline constexpr uint32_t kSliderKind = df::kSliderControl;
inline constexpr uint32_t kScrollKind = df::kScrollControl;
inline constexpr uint32_t kButtonKind = df::kButtonControl;
inline constexpr uint32_t kCheckBoxKind = df::kCheckBoxControl;
inline constexpr uint32_t kComboKind = df::kComboControl;
inline constexpr uint32_t kColourKind = df::kColorControl;
inline constexpr uint32_t kPositionKind = df::kOffsetControl;

// The caption of the combo whose items are a tool's demonstration presets.
inline constexpr const char* kPresetCaption = "Demos";

// "slider", "scroll", "button", "check box", "combo", "colour", "position",
// or the code's text for a kind this host does not know.
std::string ControlKindName(uint32_t kind);
// "point handle", "crosshair", "circle", "angle", or the code's text.
std::string PreviewKindName(uint32_t kind);

ControlSpec SpecOf(const df::Input& input);

// Control inputs (not images) in declaration order, and image inputs.
std::vector<df::Input*> ControlInputs(const df::Operator& op);
std::vector<df::Input*> ImageInputs(const df::Operator& op);

// A control by its exact caption; null with a message listing the captions.
df::Input* FindControl(const df::Operator& op, const std::string& caption, std::string* error);
// An image input by its exact caption; null with a message listing them.
df::Input* FindImageInput(const df::Operator& op, const std::string& caption, std::string* error);
// The tool's preset combo, or null.
df::Input* FindPresetCombo(const df::Operator& op);

// Sets a parsed value on an input: a constant at `time`, or keyframes
// replacing any earlier animation. Numbers and combos notify the tool as a
// user's change would (flag 1); points are set without notification (flag
// 0), so points given one after another stay as given. A button's value of 1
// is a press at `time`, its keys 1@frame presses at those frames: they are
// kept as the button's keys (see PressButtonsAt), added to those it has.
// False when the runtime refuses a value.
bool ApplyValue(df::Input* input, const ParsedValue& value, double time, std::string* error);

// Presses each button that has a press (a key of 1) at `time`, as a user's
// press would: the tool is notified. Called just before frame `time` renders.
void PressButtonsAt(df::Operator& op, double time);

// Chooses a demonstration preset, by item index or text, at `time`, as
// --preset does. False with the reason: no preset combo, an unknown item, a
// keyframe ("@"), or a value the tool refused.
bool ApplyPreset(df::Operator& op, const std::string& text, double time, std::string* error);

// The tool's description as `vorn controls --json` prints it: pages, and per
// control its page (caption and index), kind, on-image kind, ranges, default,
// items, link target, colour group and whether it notifies.
std::string ControlsJson(const df::Registry& registry, const df::Operator& op);

// A value as text: "0.5", "0.5, 0.25", or "1 (Fill)" for a combo.
std::string ValueText(const df::Input* input, const double v[2], uint32_t valueType);

}  // namespace vorn
