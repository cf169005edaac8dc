// The four demonstration presets of the "Demos" combo: 41 control values
// each, applied in row order.
#pragma once

#include "bubbles/bubbles_controls.h"

namespace bubbles {

inline constexpr int kPresetCount = 4;  // "Demos" items 1 to 4
inline constexpr int kPresetRows = 41;

struct PresetRow {
  int row;  // control row in kControls
  double
      values[kPresetCount];  // "Basic Bubbles", "Soap Bubbles", "Under Water", "Champagne Bubbles"
};

extern const PresetRow kDemoPresets[kPresetRows];

// Calls set(row, value) for the 41 rows of preset n (1 to 4), in row order;
// any other n calls nothing.
template <class SetFn>
void ForEachPresetValue(int n, SetFn&& set) {
  if (n < 1 || n > kPresetCount) return;
  for (const PresetRow& r : kDemoPresets) set(r.row, r.values[n - 1]);
}

}  // namespace bubbles
