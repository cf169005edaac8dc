#include "framework/controls.h"

#include <cstring>

namespace fw {

using namespace df;

namespace {

Input* Declared(int row, Input* const* declared) {
  return row == kNoRow ? nullptr : declared[row];
}

}  // namespace

TagList RowTags(std::span<const ControlRow> table, int index, Input* const* declared) {
  const ControlRow& r = table[size_t(index)];
  TagList t;
  switch (r.kind) {
    case ControlKind::kSlider:
      t.Append({INP_Control, kSliderControl});
      if (r.hasMinAllowed) t.Append({INP_MinAllowed, r.minAllowed});
      if (r.hasMaxAllowed) t.Append({INP_MaxAllowed, r.maxAllowed});
      t.Append({INP_Default, r.def});
      if (r.hasNumValue06) t.Append({INP_NumValue06, r.numValue06});
      if (r.hasMaxScale) t.Append({INP_MaxScale, r.maxScale});
      if (r.preview) t.Append({INP_PreviewControl, r.preview});
      break;
    case ControlKind::kScroll:
      t.Append({INP_Control, kScrollControl});
      if (r.preview) t.Append({INP_PreviewControl, r.preview});
      if (r.hasMinScale) t.Append({INP_MinScale, r.minScale});
      t.Append({INP_Default, r.def});
      if (r.hasMaxScale) t.Append({INP_MaxScale, r.maxScale});
      if (r.hasAngleValues) {
        t.Append({INP_CtlValue05, r.ctlValue05});
        t.Append({INP_PreviewValue, r.previewValue});
      }
      break;
    case ControlKind::kColorChannel:
      t.Append({INP_GroupName, r.groupName ? r.groupName : ""});
      t.Append({INP_Control, kColorControl});
      t.Append({INP_ColorGroup, r.group});
      t.Append({INP_ColorChannel, r.channel});
      t.Append({INP_MinAllowed, r.minAllowed});
      t.Append({INP_MaxAllowed, r.maxAllowed});
      t.Append({INP_Default, r.def});
      break;
    case ControlKind::kButton:
      t.Append({INP_Control, kButtonControl});
      t.Append({INP_CtlFlag02, 0});
      t.Append({INP_Flag01, 0});
      t.Append({INP_Notify, 1});
      break;
    case ControlKind::kCheckBox:
      t.Append({INP_Control, kCheckBoxControl});
      t.Append({INP_CtlFlag02, 0});
      break;
    case ControlKind::kCombo:
    case ControlKind::kPresetCombo:
      t.Append({INP_Control, kComboControl});
      for (int i = 0; i < r.itemCount; ++i) t.Append({INP_ComboItem, r.items[i]});
      if (r.kind == ControlKind::kPresetCombo) {
        t.Append({INP_Flag01, 0});
        t.Append({INP_Notify, 1});
      }
      break;
    case ControlKind::kPoint:
      t.Append({INP_Control, kOffsetControl});
      t.Append({INP_PreviewControl, r.preview});
      t.Append({INP_DefaultX, r.def});
      t.Append({INP_DefaultY, r.defY});
      break;
  }
  const bool linkable = r.kind == ControlKind::kSlider || r.kind == ControlKind::kScroll ||
                        r.kind == ControlKind::kPoint;
  if (linkable && r.link != kNoRow) t.Append({INP_Link, Declared(r.link, declared)});
  if (r.kind == ControlKind::kPoint && r.notify) t.Append({INP_Notify, 1});
  return t;
}

void DeclareControls(Operator& op, std::span<const ControlRow> table, Input** inputs) {
  const char* page = nullptr;
  for (size_t i = 0; i < table.size(); ++i) {
    const ControlRow& r = table[i];
    if (!page || std::strcmp(page, r.page) != 0) {
      page = r.page;
      op.AddControlPage(page, 0);
    }
    inputs[i] = op.AddInput(r.caption, r.ValueType(), r.id, RowTags(table, int(i), inputs));
    if (r.linkBack != kNoRow && inputs[r.linkBack])
      inputs[r.linkBack]->SetAttrs({{INP_Link, inputs[i]}});
  }
}

}  // namespace fw
