// The four demonstration presets of the "Demos" combo, as sets of control
// changes.
#pragma once

#include "bubbles/bubbles_controls.h"
#include "framework/control_changes.h"

namespace bubbles {

inline constexpr int kPresetCount = 4;  // "Demos" items 1 to 4

// Demonstration preset n (1 to 4): 41 control values set in the table's
// order, each
// with notification, in no undo step of their own. Any other n sets nothing.
fw::ChangeSet DemoPreset(int n);

}  // namespace bubbles
