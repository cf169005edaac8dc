#include "framework/declare.h"

namespace fw {

using namespace df;

TagList Slider(double minAllowed, double def, double maxScale) {
  return {{INP_Control, kSlider},
          {INP_MinAllowed, minAllowed},
          {INP_Default, def},
          {INP_MaxScale, maxScale}};
}

TagList Scroll(double minScale, double def, double maxScale) {
  return {{INP_Control, kScroll},
          {INP_MinScale, minScale},
          {INP_Default, def},
          {INP_MaxScale, maxScale}};
}

TagList ColorChannel(const char* groupName, int group, int channel, double def) {
  return {{INP_GroupName, groupName},  {INP_Control, kColorChannel}, {INP_ColorGroup, group},
          {INP_ColorChannel, channel}, {INP_MinAllowed, 0.0},        {INP_MaxAllowed, 1.0},
          {INP_Default, def}};
}

TagList PushButton() {
  return {{INP_Control, kButton}, {INP_CtlFlag02, 0}, {INP_Flag01, 0}, {INP_Notify, 1}};
}

TagList CheckBox() {
  return {{INP_Control, kCheckBox}, {INP_CtlFlag02, 0}};
}

TagList Combo(std::initializer_list<const char*> items) {
  TagList tags{{INP_Control, kCombo}};
  for (const char* item : items) tags.Append({INP_ComboItem, item});
  return tags;
}

TagList PresetCombo(std::initializer_list<const char*> items) {
  return Combo(items) + TagList{{INP_Flag01, 0}, {INP_Notify, 1}};
}

TagList PointControl(uint32_t previewKind, double defaultX, double defaultY) {
  return {{INP_Control, kOffset},
          {INP_PreviewControl, previewKind},
          {INP_DefaultX, defaultX},
          {INP_DefaultY, defaultY}};
}

TagList OptionalImage() {
  return {{INP_Required, 0}};
}

void LinkPair(Input* first, Input* second) {
  if (first && second) first->SetAttrs({{INP_Link, second}});
}

void CloseRing(Input* first, Input* last) {
  if (first && last) first->SetAttrs({{INP_Link, last}});
}

}  // namespace fw
