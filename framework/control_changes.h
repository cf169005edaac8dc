// A set of control changes: presets, resets and point links. The changes are
// set in the order given, each through SetValue with its own flag; a set with
// an undo caption is one undo step of that name, a set without one opens no
// undo step of its own.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "framework/controls.h"

namespace fw {

// One value to set on a control row: a number (x) or a point (x, y).
struct ControlChange {
  int row = kNoRow;
  double x = 0;
  double y = 0;
  int flag = 0;
};

struct ChangeSet {
  const char* undoCaption = nullptr;  // null: no undo step of its own
  std::span<const ControlChange> changes;
};

// Everything set while it lives is one undo step named `caption` (nothing at
// all without a document).
class UndoStep {
 public:
  UndoStep(df::CPipelineDoc* doc, const char* caption);
  ~UndoStep();
  UndoStep(const UndoStep&) = delete;
  UndoStep& operator=(const UndoStep&) = delete;

 private:
  df::CPipelineDoc* doc_;
};

// Sets each change's row of `inputs` (declared from `table`) in order: a
// point row to (float x, float y), any other row to x. Rows outside the
// table are skipped.
void ApplyChanges(df::Operator& op, std::span<const ControlRow> table, df::Input* const* inputs,
                  const ChangeSet& set, double time);

// The changes of a reset: each step's row back to its declared default, with
// the step's flag, in the order of the steps.
template <size_t N>
constexpr std::array<ControlChange, N> ResetChanges(std::span<const ControlRow> table,
                                                    const ResetStep (&steps)[N]) {
  std::array<ControlChange, N> changes{};
  for (size_t i = 0; i < N; ++i) {
    const ControlRow& r = table[size_t(steps[i].row)];
    changes[i] = {steps[i].row, r.def, r.IsPoint() ? r.defY : 0.0, steps[i].flag};
  }
  return changes;
}

}  // namespace fw
