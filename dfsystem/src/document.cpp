#include "dfsystem/document.h"

#include <algorithm>
#include <cstdio>

#include "dfsystem/archive.h"
#include "dfsystem/fourcc.h"
#include "dfsystem/operator.h"
#include "dfsystem/registry.h"

namespace df {
namespace {

// Raises the guard for the lifetime of the object.
struct Guard {
  explicit Guard(int& g) : guard(g) { ++guard; }
  ~Guard() { --guard; }
  int& guard;
};

}  // namespace

void OperatorDeleter::operator()(Operator* op) const {
  delete op;
}

CPipelineDoc::CPipelineDoc() = default;
CPipelineDoc::~CPipelineDoc() = default;

void CPipelineDoc::StartUndo(const char* caption) {
  if (depth_++ == 0) open_ = Step{caption ? caption : "", {}};
}

void CPipelineDoc::EndUndo(int keep) {
  if (depth_ == 0 || --depth_ > 0) return;
  Step step = std::move(open_);
  open_ = Step{};
  if (!keep) {
    Apply(step, false);
  } else if (!step.changes.empty()) {
    undo_.push_back(std::move(step));
    redo_.clear();
  }
}

void CPipelineDoc::RecordChange(Input* input, const ValueState& before, const ValueState& after,
                                const char* caption) {
  if (depth_ > 0) {
    open_.changes.push_back({input, before, after});
    return;
  }
  undo_.push_back(Step{caption ? caption : "", {{input, before, after}}});
  redo_.clear();
}

void CPipelineDoc::Apply(const Step& step, bool forward) {
  Guard guard(notifyGuard);
  if (forward) {
    for (const Change& c : step.changes) c.input->RestoreState(c.after);
  } else {
    for (auto it = step.changes.rbegin(); it != step.changes.rend(); ++it)
      it->input->RestoreState(it->before);
  }
}

bool CPipelineDoc::Undo() {
  if (undo_.empty() || depth_ > 0) return false;
  Step step = std::move(undo_.back());
  undo_.pop_back();
  Apply(step, false);
  redo_.push_back(std::move(step));
  return true;
}

bool CPipelineDoc::Redo() {
  if (redo_.empty() || depth_ > 0) return false;
  Step step = std::move(redo_.back());
  redo_.pop_back();
  Apply(step, true);
  undo_.push_back(std::move(step));
  return true;
}

std::string CPipelineDoc::UndoCaption() const {
  return undo_.empty() ? "" : undo_.back().caption;
}
std::string CPipelineDoc::RedoCaption() const {
  return redo_.empty() ? "" : redo_.back().caption;
}
size_t CPipelineDoc::UndoChangeCount() const {
  return undo_.empty() ? 0 : undo_.back().changes.size();
}

void CPipelineDoc::ForgetOperator(Operator* op) {
  auto drop = [op](std::vector<Step>& steps) {
    for (Step& s : steps)
      std::erase_if(s.changes, [op](const Change& c) { return c.input->Owner() == op; });
    std::erase_if(steps, [](const Step& s) { return s.changes.empty(); });
  };
  drop(undo_);
  drop(redo_);
  std::erase_if(open_.changes, [op](const Change& c) { return c.input->Owner() == op; });
}

OperatorPtr CPipelineDoc::CreateOperator(Registry* registry, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return OperatorPtr{};
  };
  if (!registry) return fail("no tool class given");
  std::string why;
  if (!registry->Usable(&why)) return fail(why);
  TagList tags{{OBJ_Document, static_cast<const void*>(this)}};
  OperatorPtr op(registry->Create()(registry, nullptr, &tags));
  if (!op) return fail("the tool \"" + registry->Name() + "\" could not be created");
  if (!op->Healthy(&why)) return fail("the tool \"" + registry->Name() + "\" is broken: " + why);
  return op;
}

OperatorPtr CPipelineDoc::LoadOperator(CArchive& archive, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return OperatorPtr{};
  };
  uint32_t classId = 0;
  if (!archive.ReadWord(classId)) return fail("the saved record is empty");
  Registry* registry = ClassRegistry->FindByClassID(classId);
  if (!registry) return fail("the saved record is of an unknown tool class " + HexText(classId));
  std::string why;
  if (!registry->Usable(&why)) return fail(why);
  TagList tags{{OBJ_Document, static_cast<const void*>(this)}};
  OperatorPtr op;
  {
    Guard guard(notifyGuard);
    op.reset(registry->Create()(registry, &archive, &tags));
  }
  if (!op) return fail("the tool \"" + registry->Name() + "\" could not be created");
  if (!op->Healthy(&why)) return fail("the saved \"" + registry->Name() + "\" is refused: " + why);
  if (archive.Failed()) return fail("the saved \"" + registry->Name() + "\" record is cut short");
  return op;
}

bool CPipelineDoc::SaveOperator(Operator* op, CArchive& archive, std::string* error) {
  if (!op) {
    if (error) *error = "no operator to save";
    return false;
  }
  const uint32_t result = op->Save(&archive, nullptr);
  archive.Flush();
  if (!(result & 1) || archive.Failed()) {
    if (error) *error = "the operator could not be saved";
    return false;
  }
  return true;
}

}  // namespace df
