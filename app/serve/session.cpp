#include "serve/session.h"

#include <algorithm>
#include <cmath>

#include "controls_model.h"
#include "value_parse.h"

namespace vorn::serve {

using nlohmann::json;

namespace {

// Points dragged far off the picture are still points; beyond this they are
// surely a mistake of the page.
constexpr double kMaxPointMagnitude = 1000.0;

// A whole number held by a JSON value (3 or 3.0), if it is one.
std::optional<long long> WholeNumber(const json& v) {
  if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
  if (!v.is_number()) return std::nullopt;
  const double d = v.get<double>();
  if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) > 1e15) return std::nullopt;
  return static_cast<long long>(d);
}

}  // namespace

Session::Session(Host& host, df::Registry* registry, const SessionSettings& settings)
    : host_(host), registry_(registry), settings_(settings), checkpoints_(settings.firstFrame) {}

std::unique_ptr<Session> Session::Create(Host& host, df::Registry* registry,
                                         const SessionSettings& settings, std::string* error) {
  std::unique_ptr<Session> s(new Session(host, registry, settings));
  s->doc_ = std::make_unique<df::CPipelineDoc>();
  s->op_ = s->doc_->CreateOperator(registry, error);
  if (!s->op_) return nullptr;
  if (s->op_->Outputs().empty() || s->op_->Outputs()[0]->ValueType() != df::kTypeImage) {
    *error = "the tool \"" + registry->Name() + "\" declares no image output";
    return nullptr;
  }
  s->stepped_ = (s->op_->objFlags & kObjFlagSequential) != 0;
  s->description_ = ControlsJson(*registry, *s->op_);
  InputChoices choices;
  choices.inputs = settings.inputs;
  choices.colourSpaces = settings.inputColourSpaces;
  choices.layers = settings.inputLayers;
  choices.aspect = settings.aspect;
  choices.fallbackSize = {settings.width, settings.height};
  choices.everyTool = true;
  choices.quiet = settings.quiet;
  if (!s->driver_.Bind(*s->op_, choices, {}, PrintWarning, error)) return nullptr;
  s->cur_ = s->op_.get();
  s->thread_ = std::thread([p = s.get()] { p->RenderLoop(); });
  return s;
}

Session::~Session() {
  {
    std::lock_guard lock(frameMutex_);
    stop_ = true;
  }
  Interrupt();
  wake_.notify_all();
  delivered_.notify_all();
  if (thread_.joinable()) thread_.join();
  // The operators go before their documents.
  flowRender_.reset();
  simOp_.reset();
  cur_ = nullptr;
  op_.reset();
  flow_.nodes.clear();
  pool_.clear();
}

df::Input* Session::FindById(const std::string& id) const {
  if (!cur_) return nullptr;
  for (const auto& in : cur_->Inputs())
    if (!in->IsImage() && df::FourCCText(in->Id()) == id) return in.get();
  return nullptr;
}

void Session::BeginWrite() {
  ++writers_;
  Interrupt();
}

void Session::EndWrite() {
  --writers_;
  std::lock_guard lock(frameMutex_);
  wake_.notify_all();
}

bool Session::IsRuntimeCaption(const std::string& caption) const {
  if (!cur_) return caption.empty();
  for (const auto& in : cur_->Inputs()) {
    const std::string& n = in->Name();
    for (const char* prefix : df::kInputCaptionPrefixes)
      if (caption == prefix + n) return true;
  }
  return caption.empty();
}

std::string Session::StepCaption(const std::string& host, const std::string& tool) const {
  if (IsRuntimeCaption(tool) || AsciiLower(host).find(AsciiLower(tool)) != std::string::npos)
    return host;
  return host + " (" + tool + ")";
}

namespace {

// The colour a channel control belongs to, or "".
std::string ColourOf(const df::Input* input) {
  if (!input || !input->Tags().Integer(df::INP_ColorGroup)) return "";
  const char* name = input->Tags().String(df::INP_GroupName);
  return name ? name : "";
}

}  // namespace

// The runtime records each value change as a step, and a tool's own bracket
// as one step with the tool's caption; everything one action made is one
// step of the page's history, named in the host's words for the action with
// the tool's caption added where it gave one ("Move Bottom Left (Overlay)").
template <class Apply>
void Session::Action(const std::string& caption, const std::string& gesture, df::Input* input,
                     Apply&& apply) {
  const size_t before = doc_->UndoCount();
  apply();
  const size_t after = doc_->UndoCount();
  ++version_;
  if (after <= before) return;  // nothing changed
  const size_t made = after - before;
  const std::string top = doc_->UndoCaption();
  redo_.clear();
  if (!gesture.empty() && !undo_.empty() && undo_.back().gesture == gesture) {
    Step& step = undo_.back();
    step.docSteps += made;
    // One pick that moved several channels of a colour changes the colour.
    const std::string colour = ColourOf(input);
    if (input != step.input && !colour.empty() && colour == ColourOf(step.input))
      step.caption = step.hostCaption = "Change " + colour;
    if (!IsRuntimeCaption(top)) step.caption = StepCaption(step.hostCaption, top);
    return;
  }
  undo_.push_back({StepCaption(caption, top), made, gesture, input, caption, nullptr, nullptr});
}

Outcome Session::Change(const std::string& id, const json& value, int time,
                        const std::string& gesture) {
  WriteScope scope(*this);
  df::Input* input = FindById(id);
  if (!input) return Outcome::Fail("no control with the id \"" + id + "\"");
  const std::string what = "\"" + input->Name() + "\": ";
  if (input->ValueType() == df::kTypePoint) {
    if (!value.is_array() || value.size() != 2 || !value[0].is_number() || !value[1].is_number())
      return Outcome::Fail(what + "a point takes [x, y], two numbers");
    const double x = value[0].get<double>(), y = value[1].get<double>();
    if (!std::isfinite(x) || !std::isfinite(y) || std::fabs(x) > kMaxPointMagnitude ||
        std::fabs(y) > kMaxPointMagnitude)
      return Outcome::Fail(what + "x and y must be finite, within ±1000 (fractions of the image)");
    Action("Move " + input->Name(), gesture, input, [&] {
      df::Point p{float(x), float(y)};
      input->SetValue(&p, time, 1);
    });
    return Done(time);
  }
  const ControlSpec control = SpecOf(*input);
  if (control.kind == ValueKind::Button) {
    const auto n = WholeNumber(value);
    if (!n || *n != 1) return Outcome::Fail(what + "a button takes 1 (a press)");
    // A key of 1 at the frame: the tool is told when that frame renders.
    Action("Press " + input->Name() + " at frame " + std::to_string(time), gesture, input, [&] {
      input->SetAnimated(true, time);
      df::Number one(1.0);
      input->SetValue(&one, time, 0);
    });
    return Done(time);
  }
  double v = 0.0;
  std::string caption = "Change " + input->Name();
  switch (control.kind) {
    case ValueKind::CheckBox: {
      const auto n = WholeNumber(value);
      if (!n || (*n != 0 && *n != 1)) return Outcome::Fail(what + "a check box takes 0 or 1");
      v = double(*n);
      break;
    }
    case ValueKind::Combo: {
      const auto n = WholeNumber(value);
      if (!n || *n < 0 || *n >= (long long)control.items.size())
        return Outcome::Fail(what + "a combo takes an item index 0 to " +
                             std::to_string(control.items.size() - 1));
      v = double(*n);
      caption = input->Name() + ": " + control.items[size_t(*n)];
      break;
    }
    default: {
      if (!value.is_number()) return Outcome::Fail(what + "takes a number");
      v = value.get<double>();
      if (!std::isfinite(v) || (control.minAllowed && v < *control.minAllowed) ||
          (control.maxAllowed && v > *control.maxAllowed))
        return Outcome::Fail(what + FormatNumber(v) + " is outside the allowed range (" +
                             AllowedRangeText(control) + ")");
    }
  }
  Action(caption, gesture, input, [&] {
    df::Number n(v);
    input->SetValue(&n, time, 1);
  });
  return Done(time);
}

void Session::ResetToDefaults(int time) {
  for (const auto& in : cur_->Inputs()) {
    if (in->IsImage() || in->ControlKind() == kButtonKind) continue;
    if (in->State().animated) in->SetAnimated(false, time);
    const df::ValueState d = in->DefaultState();
    if (in->ValueType() == df::kTypePoint) {
      df::Point p(float(d.constant[0]), float(d.constant[1]));
      in->SetValue(&p, time, 0);
    } else {
      df::Number n(d.constant[0]);
      in->SetValue(&n, time, 0);
    }
  }
}

void Session::ClearPresses(int time) {
  for (const auto& in : cur_->Inputs()) {
    if (in->ControlKind() != kButtonKind || in->State() == in->DefaultState()) continue;
    in->SetAnimated(false, time);
    df::Number n(in->DefaultState().constant[0]);
    in->SetValue(&n, time, 0);
  }
}

Outcome Session::Reset(int time) {
  WriteScope scope(*this);
  if (!cur_) return Outcome::Fail("select a tool node to reset");
  const std::string what = isFlow_ ? selected_ : cur_->GetRegistry()->Name();
  Action("Reset " + what, "", nullptr, [&] {
    const size_t before = doc_->UndoCount();
    cur_->NotifyChanged(nullptr, nullptr, time);
    if (doc_->UndoCount() == before) ResetToDefaults(time);
    ClearPresses(time);
  });
  return Done(time);
}

Outcome Session::Undo(int time) {
  WriteScope scope(*this);
  if (undo_.empty()) return Outcome::Fail("nothing to undo");
  Step step = undo_.back();
  undo_.pop_back();
  if (step.graphBefore) ApplyGraph(*step.graphBefore);
  for (size_t i = 0; i < step.docSteps; ++i) doc_->Undo();
  step.gesture.clear();
  redo_.push_back(step);
  ++version_;
  return Done(time);
}

Outcome Session::Redo(int time) {
  WriteScope scope(*this);
  if (redo_.empty()) return Outcome::Fail("nothing to redo");
  Step step = redo_.back();
  redo_.pop_back();
  if (step.graphAfter) ApplyGraph(*step.graphAfter);
  for (size_t i = 0; i < step.docSteps; ++i) doc_->Redo();
  undo_.push_back(step);
  ++version_;
  return Done(time);
}

Outcome Session::SetKey(const std::string& id, int time) {
  WriteScope scope(*this);
  df::Input* input = FindById(id);
  if (!input) return Outcome::Fail("no control with the id \"" + id + "\"");
  if (input->ControlKind() == kButtonKind)
    return Outcome::Fail("\"" + input->Name() + "\" is a button; it has no keyframes");
  Action("Key " + input->Name() + " at frame " + std::to_string(time), "", input, [&] {
    // The key holds the value shown at that frame; setting it tells the
    // tool nothing new, so no notification.
    if (input->ValueType() == df::kTypePoint) {
      float x, y;
      input->PointAt(time, x, y);
      input->SetAnimated(true, time);
      df::Point p(x, y);
      input->SetValue(&p, time, 0);
    } else {
      df::Number n(input->NumberAt(time));
      input->SetAnimated(true, time);
      input->SetValue(&n, time, 0);
    }
  });
  return Done(time);
}

Outcome Session::ClearAnimation(const std::string& id, int time) {
  WriteScope scope(*this);
  df::Input* input = FindById(id);
  if (!input) return Outcome::Fail("no control with the id \"" + id + "\"");
  Action("Remove animation of " + input->Name(), "", input,
         [&] { input->SetAnimated(false, time); });
  return Done(time);
}

Outcome Session::RemoveKey(const std::string& id, int time) {
  WriteScope scope(*this);
  df::Input* input = FindById(id);
  if (!input) return Outcome::Fail("no control with the id \"" + id + "\"");
  const auto& keys = input->State().keys;
  if (!input->State().animated ||
      std::none_of(keys.begin(), keys.end(), [&](const df::Keyframe& k) { return k.time == time; }))
    return Outcome::Fail("\"" + input->Name() + "\" has no key at frame " + std::to_string(time));
  Action("Remove key of " + input->Name() + " at frame " + std::to_string(time), "", input,
         [&] { input->RemoveKey(time); });
  return Done(time);
}

Outcome Session::TakeComposition(const Composition& comp, const std::string& caption) {
  if (isFlow_) return Outcome::Fail("a flow takes a flow (Load), not one tool's composition");
  if (!comp.op || comp.op->GetRegistry() != registry_)
    return Outcome::Fail("the composition is not of the tool \"" + registry_->Name() + "\"");
  Outcome outcome;
  outcome.warnings = AdjustedValues(comp);
  WriteScope scope(*this);
  // Every value the composition holds, its button presses included, set as
  // one step of the runtime's history so that undo brings back the whole
  // previous state.
  Action(caption, "", nullptr, [&] {
    doc_->StartUndo(caption.c_str());
    for (const auto& from : comp.op->Inputs()) {
      if (from->IsImage()) continue;
      df::Input* to = cur_->FindInput(from->Id());
      if (!to || to->ValueType() != from->ValueType() || to->State() == from->State()) continue;
      doc_->RecordChange(to, to->State(), from->State(), caption.c_str());
      to->RestoreState(from->State());
    }
    doc_->EndUndo(1);
  });
  if (caption.empty()) {  // a composition opened with the server: a fresh history
    undo_.clear();
    redo_.clear();
  }
  savedVersion_ = ++version_;
  return outcome;
}

df::OperatorPtr Session::CopyOperator(df::CPipelineDoc& doc, std::string* error) {
  if (isFlow_) {
    *error = "a flow has no one operator";
    return nullptr;
  }
  df::OperatorPtr op = doc.CreateOperator(registry_, error);
  if (!op) return nullptr;
  std::lock_guard lock(mutex_);
  CopyControlValues(*op_, *op);
  return op;
}

bool Session::SaveRecord(std::vector<uint8_t>* bytes, std::string* error, uint64_t* version) {
  std::lock_guard lock(mutex_);
  if (isFlow_) {
    *error = "a flow is saved as flow text";
    return false;
  }
  if (version) *version = version_.load();
  // The shot the viewer shows, so that `vorn render --comp` renders its frames.
  ShotSettings shot;
  shot.firstFrame = settings_.firstFrame;
  shot.size = {driver_.Width(), driver_.Height()};
  shot.aspect = driver_.Aspect();
  return SaveCompositionBytes(*doc_, *op_, shot, bytes, error);
}

json Session::ValueJson(const df::Input& input, int time) const {
  json v;
  if (input.ValueType() == df::kTypePoint) {
    float x, y;
    input.PointAt(time, x, y);
    v["value"] = json::array({double(x), double(y)});
  } else {
    v["value"] = input.NumberAt(time);
  }
  const df::ValueState& s = input.State();
  v["animated"] = s.animated;
  json keys = json::array();
  for (const df::Keyframe& k : s.keys) keys.push_back(k.time);
  v["keys"] = keys;
  return v;
}

Outcome Session::Done(int time) {
  Outcome outcome;
  outcome.state = StateLocked(time);
  return outcome;
}

json Session::State(int time) {
  std::lock_guard lock(mutex_);
  return StateLocked(time);
}

json Session::StateLocked(int time) const {
  json state;
  state["tool"] = isFlow_ ? std::string(kFlowSessionName) : registry_->Name();
  state["version"] = version_.load();
  state["unsaved"] = version_.load() != savedVersion_.load();
  state["time"] = time;
  json values = json::object();
  if (cur_)
    for (const auto& in : cur_->Inputs())
      if (!in->IsImage()) values[df::FourCCText(in->Id())] = ValueJson(*in, time);
  state["values"] = values;
  state["undo"] = undo_.empty() ? "" : undo_.back().caption;
  state["redo"] = redo_.empty() ? "" : redo_.back().caption;
  state["undoCount"] = undo_.size();
  state["redoCount"] = redo_.size();
  state["firstFrame"] = FirstFrame();
  state["lastFrame"] = LastFrame();
  state["width"] = driver_.Width();
  state["height"] = driver_.Height();
  state["stepped"] = stepped_;
  if (isFlow_) {
    state["flow"] = GraphLocked();
    const flow::Node* viewed = ViewedLocked();
    bool stepped = false;
    if (viewed) {
      const auto up = flow_.Upstream({size_t(flow_.IndexOf(viewed->name))});
      for (size_t i = 0; i < flow_.nodes.size(); ++i)
        stepped = stepped || (up[i] && flow_.nodes[i].Sequential());
    }
    state["stepped"] = stepped;
    if (flow_.size) {
      state["width"] = flow_.size->first;
      state["height"] = flow_.size->second;
    }
  }
  return state;
}

}  // namespace vorn::serve
