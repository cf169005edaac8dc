// The document an operator lives in: undo and redo of control changes, the
// notification guard, and creating, loading and saving operators.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dfsystem/input.h"

namespace df {

class CArchive;
class Operator;
class Registry;

struct OperatorDeleter {
  void operator()(Operator* op) const;
};
using OperatorPtr = std::unique_ptr<Operator, OperatorDeleter>;

class CPipelineDoc {
 public:
  CPipelineDoc();
  ~CPipelineDoc();
  CPipelineDoc(const CPipelineDoc&) = delete;
  CPipelineDoc& operator=(const CPipelineDoc&) = delete;

  // Non-zero while the host itself changes values (undo, redo, loading): the
  // tools' change handlers then do nothing.
  int notifyGuard = 0;

  // Everything set between StartUndo and EndUndo is one undo step with that
  // caption. Brackets nest; the outermost caption names the step. EndUndo(1)
  // keeps the changes, EndUndo(0) reverts them and records nothing.
  void StartUndo(const char* caption);
  void EndUndo(int keep);
  bool Undo();
  bool Redo();
  size_t UndoCount() const { return undo_.size(); }
  size_t RedoCount() const { return redo_.size(); }
  std::string UndoCaption() const;  // of the step Undo would revert, or ""
  std::string RedoCaption() const;
  // Number of value changes in the step Undo would revert.
  size_t UndoChangeCount() const;

  // A new operator of a registered class. Null, with the reason, when the
  // class cannot be created or declares its controls wrongly.
  OperatorPtr CreateOperator(Registry* registry, std::string* error);
  // Reads one saved record: class id, host data, two trailer words. Null, with
  // the reason, for a truncated or corrupt record or an unknown class.
  OperatorPtr LoadOperator(CArchive& archive, std::string* error);
  // Writes the operator's saved record. False, with the reason, on failure.
  bool SaveOperator(Operator* op, CArchive& archive, std::string* error);

  // Called by Input when a value changes.
  void RecordChange(Input* input, const ValueState& before, const ValueState& after,
                    const char* caption);
  // Called by an operator's destructor: forget its changes.
  void ForgetOperator(Operator* op);

 private:
  struct Change {
    Input* input;
    ValueState before;
    ValueState after;
  };
  struct Step {
    std::string caption;
    std::vector<Change> changes;
  };
  void Apply(const Step& step, bool forward);

  std::vector<Step> undo_;
  std::vector<Step> redo_;
  int depth_ = 0;
  Step open_;
};

}  // namespace df
