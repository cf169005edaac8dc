#include "controls_model.h"

#include <algorithm>
#include <cmath>

namespace vorn {

std::string ControlKindName(uint32_t kind) {
  switch (kind) {
    case kSliderKind:
      return "slider";
    case kScrollKind:
      return "scroll";
    case kButtonKind:
      return "button";
    case kCheckBoxKind:
      return "check box";
    case kComboKind:
      return "combo";
    case kColourKind:
      return "colour";
    case kPositionKind:
      return "position";
    case 0:
      return "none";
    default:
      return df::FourCCText(kind);
  }
}

std::string PreviewKindName(uint32_t kind) {
  if (kind == df::kPointPreview) return "point handle";
  if (kind == df::kCrosshairPreview) return "crosshair";
  if (kind == df::kCirclePreview) return "circle";
  if (kind == df::kAnglePreview) return "angle";
  return df::FourCCText(kind);
}

ControlSpec SpecOf(const df::Input& input) {
  ControlSpec info;
  info.caption = input.Name();
  if (input.ValueType() == df::kTypePoint) {
    info.kind = ValueKind::Point;
    return info;
  }
  switch (input.ControlKind()) {
    case kComboKind:
      info.kind = ValueKind::Combo;
      info.items = input.ComboItems();
      break;
    case kCheckBoxKind:
      info.kind = ValueKind::CheckBox;
      break;
    case kButtonKind:
      info.kind = ValueKind::Button;
      break;
    default:
      info.kind = ValueKind::Number;
      info.minAllowed = input.MinAllowed();
      info.maxAllowed = input.MaxAllowed();
  }
  return info;
}

std::vector<df::Input*> ControlInputs(const df::Operator& op) {
  std::vector<df::Input*> out;
  for (const auto& input : op.Inputs())
    if (!input->IsImage()) out.push_back(input.get());
  return out;
}

std::vector<df::Input*> ImageInputs(const df::Operator& op) {
  std::vector<df::Input*> out;
  for (const auto& input : op.Inputs())
    if (input->IsImage()) out.push_back(input.get());
  return out;
}

namespace {

std::vector<std::string> Captions(const std::vector<df::Input*>& inputs) {
  std::vector<std::string> names;
  for (const df::Input* i : inputs) names.push_back(i->Name());
  return names;
}

}  // namespace

df::Input* FindControl(const df::Operator& op, const std::string& caption, std::string* error) {
  df::Input* input = op.FindInputByName(caption);
  if (input && !input->IsImage()) return input;
  if (input) {
    *error = "\"" + caption + "\" is an image input; connect a file with --input \"" + caption +
             "=FILE\"";
    return nullptr;
  }
  *error = "no control \"" + caption + "\"; controls: " + QuotedList(Captions(ControlInputs(op)));
  return nullptr;
}

df::Input* FindImageInput(const df::Operator& op, const std::string& caption, std::string* error) {
  df::Input* input = op.FindInputByName(caption);
  if (input && input->IsImage()) return input;
  *error = (input ? "\"" + caption + "\" is a control, not an image input"
                  : "no image input \"" + caption + "\"") +
           "; image inputs: " + QuotedList(Captions(ImageInputs(op)));
  return nullptr;
}

df::Input* FindPresetCombo(const df::Operator& op) {
  df::Input* input = op.FindInputByName(kPresetCaption);
  return input && !input->IsImage() && input->ControlKind() == kComboKind ? input : nullptr;
}

bool ApplyPreset(df::Operator& op, const std::string& text, double time, std::string* error) {
  df::Input* combo = FindPresetCombo(op);
  if (!combo) {
    *error = "the tool \"" + op.GetRegistry()->Name() + "\" has no \"" + kPresetCaption +
             "\" combo of presets";
    return false;
  }
  if (text.find('@') != std::string::npos) {
    *error = "a preset is chosen once; items: " + QuotedList(combo->ComboItems());
    return false;
  }
  ParsedValue parsed;
  return ParseControlValue(SpecOf(*combo), text, &parsed, error) &&
         ApplyValue(combo, parsed, time, error);
}

bool ApplyValue(df::Input* input, const ParsedValue& value, double time, std::string* error) {
  auto refuse = [&] {
    *error = "the tool refused the value";
    return false;
  };
  // Points are set without notification: a tool that links points reads the
  // others as they were at its last render, so a notified change of one
  // point would move back the points set before it.
  const bool point = input->ValueType() == df::kTypePoint;
  const int flag = point ? 0 : 1;
  auto set = [&](const ParsedKey& key, double t) -> bool {
    if (point) {
      df::Point p(float(key.v[0]), float(key.v[1]));
      return input->SetValue(&p, t, flag) != 0;
    }
    df::Number n(key.v[0]);
    return input->SetValue(&n, t, flag) != 0;
  };
  if (input->ControlKind() == kButtonKind) {
    // A press is a key of 1 at its frame (1 alone: at `time`), added to the
    // presses the button has; 0 leaves it alone. The frame driver presses
    // the button when that frame renders, and a saved composition keeps it.
    if (value.keys.empty() || (!value.animated && value.keys[0].v[0] == 0)) return true;
    df::ValueState state = input->State();
    if (!state.animated) state.keys.clear();
    state.animated = true;
    auto add = [&](double t) {
      auto it = std::lower_bound(state.keys.begin(), state.keys.end(), t,
                                 [](const df::Keyframe& k, double at) { return k.time < at; });
      if (it != state.keys.end() && it->time == t)
        it->v[0] = 1.0;
      else
        state.keys.insert(it, df::Keyframe{t, {1.0, 0.0}});
    };
    if (value.animated)
      for (const ParsedKey& key : value.keys) add(key.time);
    else
      add(time);
    input->RestoreState(state);
    return true;
  }
  // Drop any earlier animation so the new value replaces it entirely.
  if (input->State().animated) input->SetAnimated(false, time);
  if (!value.animated) return set(value.keys.at(0), time) || refuse();
  if (point || !input->Notifies()) {
    // All keys at once, as the runtime would store them one by one: a change
    // per key would record every earlier key again for undo, and so take
    // memory growing with the square of the key count.
    df::ValueState state = input->State();
    state.animated = true;
    state.keys.clear();
    state.keys.reserve(value.keys.size());
    for (const ParsedKey& key : value.keys) {
      df::Keyframe k{key.time, {key.v[0], key.v[1]}};
      if (point)
        k.v[0] = float(key.v[0]), k.v[1] = float(key.v[1]);
      else
        k.v[0] = input->ClampNumber(key.v[0]), k.v[1] = 0.0;
      state.keys.push_back(k);
    }
    input->RestoreState(state);
    return true;
  }
  // A notifying control (a keyframed preset combo) is told of each key.
  input->SetAnimated(true, value.keys.front().time);
  for (const ParsedKey& key : value.keys)
    if (!set(key, key.time)) return refuse();
  return true;
}

void PressButtonsAt(df::Operator& op, double time) {
  for (const auto& in : op.Inputs()) {
    // The animated ones first: the kind and the notify flag are looked up
    // in the control's tags, every frame.
    if (!in->State().animated || in->ControlKind() != kButtonKind || !in->Notifies()) continue;
    for (const df::Keyframe& k : in->State().keys)
      if (k.time == time && k.v[0] != 0) {
        df::Number one(1.0);
        op.NotifyChanged(in.get(), &one, time);
      }
  }
}

std::string ValueText(const df::Input* input, const double v[2], uint32_t valueType) {
  if (valueType == df::kTypePoint) return FormatNumber(v[0]) + ", " + FormatNumber(v[1]);
  std::string text = FormatNumber(v[0]);
  if (input && input->ControlKind() == kComboKind) {
    const std::vector<std::string> items = input->ComboItems();
    if (v[0] >= 0 && v[0] < double(items.size())) text += " (" + items[size_t(v[0])] + ")";
  }
  return text;
}

}  // namespace vorn
