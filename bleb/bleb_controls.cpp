#include "bleb/bleb_controls.h"

#include "framework/declare.h"

namespace bleb {

df::TagList DeclarationTags(const ControlSpec& spec, df::Input* centre) {
  using namespace df;
  switch (spec.kind) {
    case ControlKind::kPoint:
      return fw::PointControl(spec.preview, spec.def, spec.defY);
    case ControlKind::kSlider: {
      TagList tags = fw::Slider(spec.low, spec.def, spec.high);
      if (spec.preview) tags.Append({INP_PreviewControl, spec.preview});
      if (spec.linkedToCentre) tags.Append({INP_Link, centre});
      return tags;
    }
    case ControlKind::kScroll:
      // The on-image handle comes second here, unlike a plain scroll control.
      return {{INP_Control, fw::kScroll},
              {INP_PreviewControl, spec.preview},
              {INP_MinScale, spec.low},
              {INP_Default, spec.def},
              {INP_MaxScale, spec.high},
              {INP_CtlValue05, kAngleCtlValue},
              {INP_PreviewValue, kAnglePreviewValue},
              {INP_Link, centre}};
    case ControlKind::kCombo:
      return fw::Combo({kFillItems[0], kFillItems[1], kFillItems[2]});
  }
  return {};
}

}  // namespace bleb
