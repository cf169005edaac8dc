// What the change handler sets: the "Demos" and "Proportion Demos" presets
// and the re-alignment of the outline points when one moves. Each
// is a set of control changes that is one undo step with its caption; the
// changes are applied in the order listed, each with its SetValue flag.
#pragma once

#include <cstdint>
#include <span>

#include "candle/candle_controls.h"
#include "framework/control_changes.h"

namespace candle {

using fw::ControlChange;

// The "Demos" item chosen: items 1–5 are presets, anything else the "No
// change" row.
fw::ChangeSet DemoPlan(double item);
// The "Proportion Demos" item chosen: items 1–3, anything else "No change".
fw::ChangeSet ProportionPlan(double item);

// Moving an outline point re-aligns the others: the top corners straight
// above the bottom corners at the height of "Top Left", the curve points at
// the thirds of the base at their own heights. Which points a change of
// `changedRow` sets, and to what, from the points of the last render; no
// changes for any other row.
struct LinkPlan {
  int count = 0;
  ControlChange changes[4] = {};
  fw::ChangeSet Changes() const { return {"Overlay", {changes, size_t(count)}}; }
};
LinkPlan PlanLink(int changedRow, const ControlCache& cache);

}  // namespace candle
