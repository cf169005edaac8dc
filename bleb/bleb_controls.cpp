#include "bleb/bleb_controls.h"

#include "framework/declare.h"

namespace bleb {

df::TagList DeclarationTags(const ControlSpec& entry, df::Input* centre) {
  using namespace df;
  switch (entry.kind) {
    case ControlKind::kPoint:
      return fw::PointControl(entry.preview, entry.def, entry.defY);
    case ControlKind::kSlider: {
      TagList tags = fw::Slider(entry.low, entry.def, entry.high);
      if (entry.preview) tags.Append({INP_PreviewControl, entry.preview});
      if (entry.linkedToCentre) tags.Append({INP_Link, centre});
      return tags;
    }
    case ControlKind::kScroll:
      // The on-image handle comes second here, unlike a plain scroll control.
      return {{INP_Control, fw::kScroll},
              {INP_PreviewControl, entry.preview},
              {INP_MinScale, entry.low},
              {INP_Default, entry.def},
              {INP_MaxScale, entry.high},
              {INP_CtlValue05, kAngleCtlValue},
              {INP_PreviewValue, kAnglePreviewValue},
              {INP_Link, centre}};
    case ControlKind::kCombo:
      return fw::Combo({kFillItems[0], kFillItems[1], kFillItems[2]});
  }
  return {};
}

}  // namespace bleb
