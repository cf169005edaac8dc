#include "framework/control_changes.h"

#include "framework/lifecycle.h"

namespace fw {

UndoStep::UndoStep(df::CPipelineDoc* doc, const char* caption) : doc_(doc) {
  if (doc_) doc_->StartUndo(caption);
}

UndoStep::~UndoStep() {
  if (doc_) doc_->EndUndo(1);
}

namespace {

void SetAll(std::span<const ControlRow> table, df::Input* const* inputs,
            std::span<const ControlChange> changes, double time) {
  for (const ControlChange& c : changes) {
    if (c.row < 0 || size_t(c.row) >= table.size()) continue;
    if (table[size_t(c.row)].IsPoint())
      SetPoint(inputs[c.row], float(c.x), float(c.y), time, c.flag);
    else
      SetNumber(inputs[c.row], c.x, time, c.flag);
  }
}

}  // namespace

void ApplyChanges(df::Operator& op, std::span<const ControlRow> table, df::Input* const* inputs,
                  const ChangeSet& set, double time) {
  if (!set.undoCaption) {
    SetAll(table, inputs, set.changes, time);
    return;
  }
  UndoStep step(op.doc, set.undoCaption);
  SetAll(table, inputs, set.changes, time);
}

}  // namespace fw
