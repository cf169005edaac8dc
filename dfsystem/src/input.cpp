#include "dfsystem/input.h"

#include <algorithm>
#include <cmath>

#include "dfsystem/document.h"
#include "dfsystem/operator.h"

namespace df {
namespace {

constexpr uint32_t kComboKind = kComboControl;
constexpr uint32_t kCheckKind = kCheckBoxControl;

double Lerp(double a, double b, double t) {
  return a + (b - a) * t;
}

// Value of keyed component c at `time`: linear between keys, held beyond the ends.
double KeyedValue(const std::vector<Keyframe>& keys, double time, int c) {
  if (time <= keys.front().time) return keys.front().v[c];
  if (time >= keys.back().time) return keys.back().v[c];
  const auto next = std::upper_bound(keys.begin(), keys.end(), time,
                                     [](double t, const Keyframe& k) { return t < k.time; });
  const auto prev = next - 1;
  const double span = next->time - prev->time;
  return Lerp(prev->v[c], next->v[c], (time - prev->time) / span);
}

}  // namespace

Input::Input(Operator* owner, std::string name, uint32_t valueType, uint32_t id, TagList tags,
             int page)
    : owner_(owner),
      name_(std::move(name)),
      valueType_(valueType),
      id_(id),
      tags_(std::move(tags)),
      page_(page) {
  link_ = static_cast<Input*>(const_cast<void*>(tags_.Pointer(INP_Link)));
  state_ = DefaultState();
}

uint32_t Input::ControlKind() const {
  return uint32_t(tags_.Integer(INP_Control).value_or(0));
}
uint32_t Input::PreviewKind() const {
  return uint32_t(tags_.Integer(INP_PreviewControl).value_or(0));
}
bool Input::Notifies() const {
  return tags_.Integer(INP_Notify).value_or(0) == 1;
}
bool Input::Required() const {
  return tags_.Integer(INP_Required).value_or(1) != 0;
}
std::optional<double> Input::MinAllowed() const {
  return tags_.Double(INP_MinAllowed);
}
std::optional<double> Input::MaxAllowed() const {
  return tags_.Double(INP_MaxAllowed);
}
std::optional<double> Input::MinScale() const {
  return tags_.Double(INP_MinScale);
}
std::optional<double> Input::MaxScale() const {
  return tags_.Double(INP_MaxScale);
}

std::vector<std::string> Input::ComboItems() const {
  std::vector<std::string> items;
  for (const TagItem* item : tags_.FindAll(INP_ComboItem)) items.emplace_back(item->s);
  return items;
}

ValueState Input::DefaultState() const {
  ValueState s;
  if (valueType_ == kTypePoint) {
    s.constant[0] = tags_.Double(INP_DefaultX).value_or(0.0);
    s.constant[1] = tags_.Double(INP_DefaultY).value_or(0.0);
  } else if (valueType_ == kTypeNumber) {
    s.constant[0] = ClampNumber(tags_.Double(INP_Default).value_or(0.0));
  }
  return s;
}

double Input::ClampNumber(double v) const {
  if (std::isnan(v)) return DefaultState().constant[0];
  const uint32_t kind = ControlKind();
  if (kind == kComboKind) {
    const double last = std::max<double>(0.0, double(tags_.FindAll(INP_ComboItem).size()) - 1);
    v = std::clamp(v, 0.0, last);
  } else if (kind == kCheckKind) {
    v = std::clamp(v, 0.0, 1.0);
  }
  if (auto lo = MinAllowed()) v = std::max(v, *lo);
  if (auto hi = MaxAllowed()) v = std::min(v, *hi);
  return v;
}

double Input::NumberAt(double time) const {
  if (state_.animated && !state_.keys.empty()) return KeyedValue(state_.keys, time, 0);
  return state_.constant[0];
}

void Input::PointAt(double time, float& x, float& y) const {
  if (state_.animated && !state_.keys.empty()) {
    x = float(KeyedValue(state_.keys, time, 0));
    y = float(KeyedValue(state_.keys, time, 1));
  } else {
    x = float(state_.constant[0]);
    y = float(state_.constant[1]);
  }
}

uint32_t Input::SetValue(Parameter* value, double time, int flag) {
  if (!value || !std::isfinite(time)) return 0;
  double v[2] = {0.0, 0.0};
  if (valueType_ == kTypeNumber && value->Type() == kTypeNumber) {
    v[0] = static_cast<Number*>(value)->value;
    if (!std::isfinite(v[0])) return 0;
    v[0] = ClampNumber(v[0]);
  } else if (valueType_ == kTypePoint && value->Type() == kTypePoint) {
    const auto* p = static_cast<Point*>(value);
    if (!std::isfinite(p->x) || !std::isfinite(p->y)) return 0;
    v[0] = p->x;
    v[1] = p->y;
  } else {
    return 0;
  }

  ValueState next = state_;
  if (next.animated) {
    auto it = std::lower_bound(next.keys.begin(), next.keys.end(), time,
                               [](const Keyframe& k, double t) { return k.time < t; });
    if (it != next.keys.end() && it->time == time) {
      it->v[0] = v[0];
      it->v[1] = v[1];
    } else {
      next.keys.insert(it, Keyframe{time, {v[0], v[1]}});
    }
  } else {
    next.constant[0] = v[0];
    next.constant[1] = v[1];
  }
  const std::string caption = kChangeCaption + name_;
  ApplyState(std::move(next), caption.c_str());

  if (flag == 1 && Notifies() && owner_) owner_->NotifyChanged(this, value, time);
  return 1;
}

void Input::SetAnimated(bool animated, double time) {
  if (animated == state_.animated) return;
  ValueState next = state_;
  next.animated = animated;
  if (!animated) {
    if (valueType_ == kTypePoint) {
      float x, y;
      PointAt(time, x, y);
      next.constant[0] = x;
      next.constant[1] = y;
    } else {
      next.constant[0] = NumberAt(time);
    }
    next.keys.clear();
  }
  const std::string caption = (animated ? kAnimateCaption : kRemoveAnimationCaption) + name_;
  ApplyState(std::move(next), caption.c_str());
}

bool Input::RemoveKey(double time) {
  if (!state_.animated) return false;
  ValueState next = state_;
  auto key = std::find_if(next.keys.begin(), next.keys.end(),
                          [time](const Keyframe& k) { return k.time == time; });
  if (key == next.keys.end()) return false;
  if (next.keys.size() == 1) {
    next.animated = false;
    next.constant[0] = key->v[0];
    next.constant[1] = key->v[1];
  }
  next.keys.erase(key);
  const std::string caption = kRemoveKeyCaption + name_;
  ApplyState(std::move(next), caption.c_str());
  return true;
}

void Input::RestoreState(const ValueState& state) {
  state_ = state;
}

void Input::ApplyState(ValueState next, const char* caption) {
  if (next == state_) return;
  ValueState before = std::move(state_);
  state_ = std::move(next);
  if (owner_ && owner_->doc) owner_->doc->RecordChange(this, before, state_, caption);
}

uint32_t Input::SetAttrs(const TagList& tags) {
  std::string why;
  if (!tags.Validate(&why)) return 0;
  uint32_t taken = 1;
  for (const TagItem& item : tags.Items()) {
    if (item.tag == INP_Link) {
      link_ = static_cast<Input*>(const_cast<void*>(item.p));
      tags_.Append(item);
    } else {
      taken = 0;
    }
  }
  return taken;
}

}  // namespace df
