// What the change handler sets: the "Demos" and "Proportion Demos" presets,
// the reset, and the re-alignment of the outline points when one moves. Each
// is one undo step with its text; the settings are applied in the order
// listed, each with its SetValue flag.
#pragma once

#include <cstdint>
#include <span>

#include "candle/candle_controls.h"

namespace candle {

// One value to set: a number (x) or a point (x, y) on a control row.
struct Setting {
  int row;
  double x;
  double y;
  int flag;
};

struct ChangePlan {
  const char* undoText;
  std::span<const Setting> settings;
};

// The "Demos" item chosen: items 1–5 are presets, anything else the "No
// change" row.
ChangePlan DemoPlan(double item);
// The "Proportion Demos" item chosen: items 1–3, anything else "No change".
ChangePlan ProportionPlan(double item);

// The reset: every control back to its default, in this order with these flags.
extern const fw::ResetStep kResetSteps[kControlCount];
inline constexpr const char* kResetText = "Reset Candle";

// Moving an outline point re-aligns the others: the top corners straight
// above the bottom corners at the height of "Top Left", the curve points at
// the thirds of the base at their own heights. Which points a change of
// `changedRow` sets, and to what, from the points of the last render; an
// empty plan for any other row.
struct LinkPlan {
  static constexpr const char* kUndoText = "Overlay";
  int count = 0;
  Setting settings[4] = {};
};
LinkPlan PlanLink(int changedRow, const ControlCache& cache);

}  // namespace candle
