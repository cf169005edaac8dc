// Tag lists for the probe plug-ins' declarations, written out directly (the
// real tools declare their controls through the framework's control tables).
#pragma once

#include <initializer_list>

#include "framework/host.h"

namespace probe {

inline df::TagList Slider(double minAllowed, double def, double maxScale) {
  return {{df::INP_Control, df::kSliderControl},
          {df::INP_MinAllowed, minAllowed},
          {df::INP_Default, def},
          {df::INP_MaxScale, maxScale}};
}

inline df::TagList PushButton() {
  return {{df::INP_Control, df::kButtonControl},
          {df::INP_CtlFlag02, 0},
          {df::INP_Flag01, 0},
          {df::INP_Notify, 1}};
}

inline df::TagList Combo(std::initializer_list<const char*> items) {
  df::TagList tags{{df::INP_Control, df::kComboControl}};
  for (const char* item : items) tags.Append({df::INP_ComboItem, item});
  return tags;
}

// A combo that applies a preset when picked: the host tells the tool.
inline df::TagList PresetCombo(std::initializer_list<const char*> items) {
  return Combo(items) + df::TagList{{df::INP_Flag01, 0}, {df::INP_Notify, 1}};
}

inline df::TagList PointControl(uint32_t previewKind, double defaultX, double defaultY) {
  return {{df::INP_Control, df::kOffsetControl},
          {df::INP_PreviewControl, previewKind},
          {df::INP_DefaultX, defaultX},
          {df::INP_DefaultY, defaultY}};
}

inline df::TagList OptionalImage() {
  return {{df::INP_Required, 0}};
}

}  // namespace probe
