// Control values of a render: --set, --preset and --comp in command-line
// order, and the composition --save writes.
#include "composition.h"
#include "controls_model.h"
#include "flow/flow_file.h"
#include "flow/flow_run.h"
#include "render_job.h"
#include "value_parse.h"

namespace vorn {

namespace {

bool Fail(const std::string& message) {
  PrintError(message);
  return false;
}

// Takes every control value of a saved record, as if loaded, keeping this
// operator (and so anything the tool was asked to do before).
bool LoadComp(Host& host, const std::string& path, RenderJob& job) {
  std::string error;
  if (flow::IsFlowFile(path)) {
    // A flow's values apply to a named tool when it holds one node of it.
    flow::Flow loaded;
    if (!flow::LoadFlow(host, path, &loaded, &error)) return Fail("--comp: " + error);
    const flow::Node* match = nullptr;
    for (const flow::Node& node : loaded.nodes) {
      if (!node.op || node.op->GetRegistry() != job.op->GetRegistry()) continue;
      if (match)
        return Fail("--comp: " + path + " holds more than one \"" + job.toolName +
                    "\" node; render the flow itself (no tool name)");
      match = &node;
    }
    if (!match) return Fail("--comp: " + path + " holds no \"" + job.toolName + "\" node");
    CopyControlValues(*match->op, *job.op);
    return true;
  }
  Composition loaded;
  if (!LoadComposition(host, path, true, &loaded, &error)) return Fail("--comp: " + error);
  if (loaded.op->GetRegistry() != job.op->GetRegistry())
    return Fail("--comp: " + path + " is a \"" + loaded.op->GetRegistry()->Name() +
                "\" composition, but the tool is \"" + job.toolName + "\"");
  for (const std::string& line : AdjustedValues(loaded))
    PrintWarning("--comp " + path + ": " + line);
  CopyControlValues(*loaded.op, *job.op);
  return true;
}

bool SetValue(const std::string& text, double t0, RenderJob& job) {
  std::string caption, value, error;
  if (!SplitAssignment(text, &caption, &value, &error)) return Fail("--set " + error);
  df::Input* input = FindControl(*job.op, caption, &error);
  if (!input) return Fail("--set \"" + text + "\": " + error);
  ParsedValue parsed;
  if (!ParseControlValue(SpecOf(*input), value, &parsed, &error) ||
      !ApplyValue(input, parsed, t0, &error))
    return Fail("--set \"" + text + "\": \"" + caption + "\": " + error);
  return true;
}

bool ChoosePreset(const std::string& text, double t0, RenderJob& job) {
  std::string error;
  if (!ApplyPreset(*job.op, text, t0, &error)) return Fail("--preset \"" + text + "\": " + error);
  return true;
}

}  // namespace

bool ApplyActions(Host& host, const RenderSettings& s, RenderJob& job) {
  // Settings and button presses act before the first frame rendered: for a
  // stepped tool, the shot's first step.
  const double t0 = job.steps.empty() ? job.allFrames.front() : job.steps.front();
  for (const RenderAction& a : s.actions) {
    const bool ok = a.kind == RenderAction::Kind::Set      ? SetValue(a.text, t0, job)
                    : a.kind == RenderAction::Kind::Preset ? ChoosePreset(a.text, t0, job)
                                                           : LoadComp(host, a.text, job);
    if (!ok) return false;
  }
  return true;
}

bool SaveComposition(Host& host, RenderJob& job, const std::string& path) {
  ShotSettings shot;
  if (job.stepped) shot.firstFrame = job.shotStart;
  shot.size = {job.driver.Width(), job.driver.Height()};
  shot.aspect = job.driver.Aspect();
  std::string error;
  if (!WriteComposition(host.Doc(), *job.op, shot, path, &error)) return Fail("--save: " + error);
  return true;
}

}  // namespace vorn
