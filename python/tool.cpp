#include "tool.h"

#include <cmath>

#include "array_images.h"
#include "colour_options.h"
#include "composition.h"
#include "controls_model.h"
#include "frame_list.h"
#include "image_io.h"
#include "render_job.h"
#include "render_watch.h"
#include "value_parse.h"

namespace vorn::py {

namespace {

std::string Quoted(const std::string& caption) {
  return "\"" + caption + "\": ";
}

}  // namespace

std::string ControlText(const pyb::handle& value) {
  if (pyb::isinstance<pyb::bool_>(value)) return value.cast<bool>() ? "1" : "0";
  if (pyb::isinstance<pyb::int_>(value)) return std::string(pyb::str(value));
  if (pyb::isinstance<pyb::float_>(value)) {
    const double v = value.cast<double>();
    if (!std::isfinite(v)) throw pyb::value_error("a value must be a finite number");
    return FormatNumber(v);
  }
  if (pyb::isinstance<pyb::str>(value)) return value.cast<std::string>();
  if (pyb::isinstance<pyb::tuple>(value) || pyb::isinstance<pyb::list>(value)) {
    const pyb::sequence seq = pyb::reinterpret_borrow<pyb::sequence>(value);
    if (seq.size() == 2) return ControlText(seq[0]) + "," + ControlText(seq[1]);
    throw pyb::value_error("a point is (x, y); got " + std::to_string(seq.size()) + " values");
  }
  // numpy scalars and other numbers.
  if (pyb::hasattr(value, "__float__"))
    return ControlText(pyb::float_(pyb::reinterpret_borrow<pyb::object>(value)));
  throw pyb::type_error("a control value is a number, a bool, an (x, y) point or a string; got " +
                        std::string(pyb::str(value.get_type().attr("__name__"))));
}

void Warn(const std::vector<std::string>& warnings) {
  for (const std::string& w : warnings)
    if (PyErr_WarnEx(PyExc_UserWarning, w.c_str(), 2) != 0) throw pyb::error_already_set();
}

Tool::Tool(df::Registry* registry)
    : ownDoc_(std::make_unique<df::CPipelineDoc>()), doc_(ownDoc_.get()) {
  std::string error;
  ownOp_ = doc_->CreateOperator(registry, &error);
  if (!ownOp_) throw std::runtime_error(error);
  op_ = ownOp_.get();
  CheckImageOutput();
}

Tool::Tool(df::CPipelineDoc& doc, df::Operator& op) : doc_(&doc), op_(&op) {
  CheckImageOutput();
}

void Tool::CheckImageOutput() const {
  if (op_->Outputs().empty() || op_->Outputs()[0]->ValueType() != df::kTypeImage)
    throw std::runtime_error("the tool \"" + Name() + "\" declares no image output");
}

Tool::~Tool() = default;

std::string Tool::Name() const {
  return op_->GetRegistry()->Name();
}

std::string Tool::ClassName() const {
  return op_->GetRegistry()->ClassName();
}

bool Tool::Sequential() const {
  return (op_->objFlags & kObjFlagSequential) != 0;
}

pyb::object Tool::Controls() const {
  const std::string json = Locked(mutex_, [&] { return ControlsJson(*op_->GetRegistry(), *op_); });
  return pyb::module_::import("json").attr("loads")(json);
}

std::vector<std::string> Tool::ImageInputCaptions() const {
  std::vector<std::string> out;
  for (df::Input* input : ImageInputs(*op_)) out.push_back(input->Name());
  return out;
}

std::vector<std::string> Tool::Presets() const {
  df::Input* combo = FindPresetCombo(*op_);
  return combo ? combo->ComboItems() : std::vector<std::string>{};
}

df::Input* Tool::Control(const std::string& caption) const {
  std::string error;
  df::Input* input = FindControl(*op_, caption, &error);
  if (!input) throw pyb::key_error(error);
  return input;
}

void Tool::Set(const std::string& caption, const pyb::handle& value) {
  const std::string text = ControlText(value);
  df::Input* input = Control(caption);
  std::string error;
  const bool ok = Locked(mutex_, [&] {
    ParsedValue parsed;
    return ParseControlValue(SpecOf(*input), text, &parsed, &error) &&
           ApplyValue(input, parsed, 0.0, &error);
  });
  if (!ok) throw pyb::value_error(Quoted(caption) + error);
}

pyb::object Tool::Get(const std::string& caption, double frame) const {
  df::Input* input = Control(caption);
  if (input->ValueType() == df::kTypePoint) {
    float x = 0, y = 0;
    Locked(mutex_, [&] { input->PointAt(frame, x, y); });
    return pyb::make_tuple(double(x), double(y));
  }
  const double v = Locked(mutex_, [&] { return input->NumberAt(frame); });
  const uint32_t kind = input->ControlKind();
  if (kind == kComboKind || kind == kCheckBoxKind || kind == kButtonKind)
    return pyb::int_(long(std::lround(v)));
  return pyb::float_(v);
}

void Tool::SetKey(const std::string& caption, double frame, const pyb::handle& value) {
  const std::string text = ControlText(value);
  if (!std::isfinite(frame)) throw pyb::value_error("a key's frame must be a finite number");
  df::Input* input = Control(caption);
  if (input->ControlKind() == kButtonKind)
    throw pyb::value_error(Quoted(caption) + "a button is pressed, not keyed: use press()");
  if (text.find('@') != std::string::npos)
    throw pyb::value_error(Quoted(caption) +
                           "set_key takes one value; the frame is its own "
                           "argument");
  std::string error;
  const bool ok = Locked(mutex_, [&] {
    ParsedValue parsed;
    if (!ParseControlValue(SpecOf(*input), text, &parsed, &error)) return false;
    const ParsedKey& key = parsed.keys.at(0);
    if (!input->State().animated) input->SetAnimated(true, frame);
    // As ApplyValue sets values: points without notification, others with.
    if (input->ValueType() == df::kTypePoint) {
      df::Point p(float(key.v[0]), float(key.v[1]));
      if (input->SetValue(&p, frame, 0) != 0) return true;
    } else {
      df::Number n(key.v[0]);
      if (input->SetValue(&n, frame, 1) != 0) return true;
    }
    error = "the tool refused the value";
    return false;
  });
  if (!ok) throw pyb::value_error(Quoted(caption) + error);
}

void Tool::Press(const std::string& caption, std::optional<double> frame) {
  if (frame && !std::isfinite(*frame))
    throw pyb::value_error("a press's frame must be a finite number");
  df::Input* input = Control(caption);
  if (input->ControlKind() != kButtonKind)
    throw pyb::value_error(Quoted(caption) + "is a " + ControlKindName(input->ControlKind()) +
                           ", not a button");
  if (!frame) {
    Locked(mutex_, [&] { pendingPresses_.push_back(input); });
    return;
  }
  std::string error;
  if (!Locked(mutex_, [&] { return PressAt(input, *frame, &error); }))
    throw pyb::value_error(Quoted(caption) + error);
}

bool Tool::PressAt(df::Input* button, double frame, std::string* error) {
  ParsedValue parsed;
  return ParseControlValue(SpecOf(*button), "1", &parsed, error) &&
         ApplyValue(button, parsed, frame, error);
}

void Tool::Preset(const pyb::handle& item) {
  const std::string text = ControlText(item);
  std::string error;
  if (!Locked(mutex_, [&] { return ApplyPreset(*op_, text, 0.0, &error); }))
    throw pyb::value_error("preset \"" + text + "\": " + error);
}

bool Tool::Undo() {
  return Locked(mutex_, [&] { return doc_->Undo(); });
}

bool Tool::Redo() {
  return Locked(mutex_, [&] { return doc_->Redo(); });
}

void Tool::Save(const std::string& path) {
  std::string error;
  if (!Locked(mutex_, [&] { return WriteComposition(*doc_, *op_, ShotSettings{}, path, &error); }))
    throw std::runtime_error(error);
}

void Tool::TakeValues(const df::Operator& from) {
  Locked(mutex_, [&] { CopyControlValues(from, *op_); });
}

void Tool::ApplyPendingPresses(int frame) {
  // As `--set CAPTION=1` presses at the first frame of a run.
  std::string error;
  for (df::Input* button : pendingPresses_) PressAt(button, frame, &error);
  pendingPresses_.clear();
}

std::vector<int> Tool::Steps(int first, int last, std::optional<int> shotStart) const {
  if (last < first)
    throw pyb::value_error("the last frame (" + std::to_string(last) + ") is before the first (" +
                           std::to_string(first) + ")");
  if ((long long)last - first + 1 > (long long)kMaxFrames)
    throw pyb::value_error("at most " + std::to_string(kMaxFrames) + " frames at once");
  if (shotStart && *shotStart > first)
    throw pyb::value_error("shot_start " + std::to_string(*shotStart) +
                           " is after the first frame asked for (" + std::to_string(first) +
                           "); the shot must start at or before it");
  std::vector<int> frames;
  for (long long f = first; f <= last; ++f) frames.push_back(int(f));
  std::vector<int> steps;
  std::string error;
  if (!PlanSteps(Sequential(), shotStart.value_or(first), Name(), frames, &steps, &error))
    throw pyb::value_error(error);
  return steps;
}

std::shared_ptr<FrameDriver> Tool::Bind(const RenderOptions& options, int frame) {
  // The arrays are converted first, with the GIL held only to read them.
  std::vector<std::pair<std::string, ImageRef>> images;
  std::vector<std::string> warnings;
  for (const auto& [key, value] : options.inputs) {
    if (!pyb::isinstance<pyb::str>(key))
      throw pyb::type_error("inputs are keyed by the image input's caption (a str)");
    const std::string caption = key.cast<std::string>();
    float brightest = 0;
    images.emplace_back(caption, ImageFromArray(value, caption, &brightest));
    if (brightest > 1.0f + 0.5f / 255)
      warnings.push_back(ClippedValuesWarning("input \"" + caption + "\"", brightest));
  }
  InputChoices choices;
  for (auto& [caption, image] : images) choices.images.emplace_back(caption, image.get());
  choices.size = options.size;
  auto driver = std::make_shared<FrameDriver>();
  std::string error;
  const bool ok = Locked(mutex_, [&] {
    return driver->Bind(
        *op_, choices, {frame}, [](const std::string&) {}, &error);
  });
  if (!ok) throw pyb::value_error(error);
  Warn(warnings);
  {
    pyb::gil_scoped_release release;
    TheHost().PrepareFrameMemory(driver->Width(), driver->Height());
  }
  return driver;
}

pyb::object Tool::RenderStep(const FrameDriver& driver, int frame, const RenderOptions& options,
                             bool deliver) {
  WatchedFrame watched = Locked(mutex_, [&] {
    if (!thread_) thread_ = std::make_unique<RenderThread>();
    ApplyPendingPresses(frame);
    return RenderWatched(*thread_, *op_, driver, frame, options.workers);
  });
  if (watched.interrupted) throw pyb::error_already_set();
  Warn(watched.warnings);
  RenderedFrame& rendered = watched.frame;
  if (rendered.status == RenderedFrame::Status::InputFailed)
    throw std::runtime_error("frame " + std::to_string(frame) + ": " + rendered.error);
  if (rendered.status != RenderedFrame::Status::Rendered)
    throw std::runtime_error("frame " + std::to_string(frame) + ": \"" + Name() +
                             "\" delivered no image");
  if (!deliver) return pyb::none();
  return ArrayFromImage(*rendered.image, options.linear);
}

}  // namespace vorn::py
