// Inputs and outputs of an operator. A control input holds its value per time:
// a constant, or keyframes interpolated linearly and held beyond the ends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dfsystem/object.h"
#include "dfsystem/parameter.h"
#include "dfsystem/tags.h"

namespace df {

// The captions of the undo steps an input's own changes record: one of these
// prefixes, then the input's name ("Change Gravity"). A host tells them from
// the captions a tool gives its own steps by them.
inline constexpr const char* kChangeCaption = "Change ";
inline constexpr const char* kAnimateCaption = "Animate ";
inline constexpr const char* kRemoveAnimationCaption = "Remove animation of ";
inline constexpr const char* kRemoveKeyCaption = "Remove key of ";
inline constexpr const char* kInputCaptionPrefixes[] = {kChangeCaption, kAnimateCaption,
                                                        kRemoveAnimationCaption, kRemoveKeyCaption};

class Operator;

struct Keyframe {
  double time = 0.0;
  double v[2] = {0.0, 0.0};  // a Number uses v[0]; a Point v[0] = x, v[1] = y
  bool operator==(const Keyframe&) const = default;
};

// Everything that makes up an input's value: its constant and its keyframes.
struct ValueState {
  double constant[2] = {0.0, 0.0};
  bool animated = false;
  std::vector<Keyframe> keys;  // strictly increasing times
  bool operator==(const ValueState&) const = default;
};

class Input : public Object {
 public:
  Input(Operator* owner, std::string name, uint32_t valueType, uint32_t id, TagList tags, int page);

  // Sets the value at `time`: the constant, or the keyframe at that time when
  // the input is animated. Numbers are clamped into the allowed range (combos
  // into their items, check boxes to 0..1); non-finite values and values of
  // the wrong type are refused (result 0). The change is one undo step of the
  // operator's document, or part of the open bracket. With flag 1 and an input
  // declared with INP_Notify the operator's NotifyChanged is called.
  uint32_t SetValue(Parameter* value, double time, int flag);
  // Takes INP_Link; anything else is refused.
  uint32_t SetAttrs(const TagList& tags) override;
  void Recycle() override {}

  // Declaration, as the host reads it.
  Operator* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  uint32_t ValueType() const { return valueType_; }
  uint32_t Id() const { return id_; }
  int Page() const { return page_; }
  const TagList& Tags() const { return tags_; }
  uint32_t ControlKind() const;  // INP_Control, 0 when none
  uint32_t PreviewKind() const;  // INP_PreviewControl, 0 when none
  bool Notifies() const;         // INP_Notify 1
  bool Required() const;         // image inputs: INP_Required is not 0
  Input* Link() const { return link_; }
  std::optional<double> MinAllowed() const;
  std::optional<double> MaxAllowed() const;
  std::optional<double> MinScale() const;
  std::optional<double> MaxScale() const;
  std::vector<std::string> ComboItems() const;
  bool IsImage() const { return valueType_ == kTypeImage; }
  // The declared default: INP_Default (0 without it) or INP_DefaultX/Y.
  ValueState DefaultState() const;

  // Value, as the host reads and writes it.
  double NumberAt(double time) const;
  void PointAt(double time, float& x, float& y) const;
  const ValueState& State() const { return state_; }
  // Replaces the whole value without undo or notification (loading, undo).
  void RestoreState(const ValueState& state);
  // Turns keyframing on or off. Turning it on keeps the current constant until
  // the first key is set; turning it off keeps the value at `time` as constant.
  // Recorded for undo like SetValue.
  void SetAnimated(bool animated, double time);
  // Removes the keyframe at `time` (recorded for undo like SetValue). The
  // last key removed ends the animation, its value kept as the constant.
  // False, changing nothing, where the input has no key at that time.
  bool RemoveKey(double time);

  // Clamps a number into what this input accepts.
  double ClampNumber(double v) const;

 private:
  friend class Operator;
  void ApplyState(ValueState next, const char* caption);

  Operator* owner_;
  std::string name_;
  uint32_t valueType_;
  uint32_t id_;
  TagList tags_;
  int page_;
  Input* link_ = nullptr;
  ValueState state_;
};

class Output : public Object {
 public:
  Output(std::string name, uint32_t valueType, uint32_t id)
      : name_(std::move(name)), valueType_(valueType), id_(id) {}
  void Recycle() override {}
  const std::string& Name() const { return name_; }
  uint32_t ValueType() const { return valueType_; }
  uint32_t Id() const { return id_; }

 private:
  std::string name_;
  uint32_t valueType_;
  uint32_t id_;
};

}  // namespace df
