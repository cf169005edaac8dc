// The tool's declaration: its controls, in declaration order, as one table
// (pages, captions, ids, kinds, ranges and defaults), its image input, output
// and registration record. The operator declares from it, the reset restores
// from it in the reset's own order, and a frame's values become the warp's
// controls through WarpControlsFrom.
#pragma once

#include <cstdint>

#include "bleb/warp_params.h"
#include "framework/control_changes.h"
#include "framework/control_values.h"
#include "framework/tool.h"

namespace bleb {

inline constexpr const char* kFillItems[] = {"Duplicate Edges", "Black Edges", "Wrap Edges"};

// Row of the table by role.
inline constexpr int kCentre = 0;
inline constexpr int kScale = 1;
inline constexpr int kRotate = 2;
inline constexpr int kFill = 3;
constexpr int AmplitudeRow(int lobe) {
  return 4 + 3 * lobe;
}  // lobe 0..6
constexpr int AngleRow(int lobe) {
  return 5 + 3 * lobe;
}
constexpr int SharpRow(int lobe) {
  return 6 + 3 * lobe;
}

// Angle scroll controls pass these two values; what they mean is the host's.
inline constexpr int kAngleCtlValue = 3600;
inline constexpr int kAnglePreviewValue = 450;

constexpr fw::ControlRow Amplitude(const char* page, const char* caption, const char (&id)[5]) {
  return fw::SliderRow(page, caption, id, -0.99, 0, 10);
}
constexpr fw::ControlRow Angle(const char* page, const char* caption, const char (&id)[5],
                               double def) {
  return fw::ScrollRow(page, caption, id, -360, def, 360)
      .Preview(df::kAnglePreview)
      .AngleValues(kAngleCtlValue, kAnglePreviewValue)
      .LinkTo(kCentre);
}
constexpr fw::ControlRow Sharp(const char* page, const char* caption, const char (&id)[5]) {
  return fw::SliderRow(page, caption, id, 1, 4, 500);
}

// clang-format off
inline constexpr fw::ControlRow kControls[] = {
    fw::PointRow("Ctrl", "XY Center", "Cent", df::kCrosshairPreview, 0.5, 0.5),
    fw::SliderRow("Ctrl", "Scale", "BScl", 0.001, 1, 10).Preview(df::kCirclePreview).LinkTo(kCentre),
    fw::SliderRow("Ctrl", "Rotate", "Rota", -360, 0, 360),
    fw::ComboRow("Ctrl", "Fill Option", "Fill", kFillItems),
    Amplitude("A1", "Amplitude 1", "Amp1"), Angle("A1", "Angle 1", "Ang1", 0.0),    Sharp("A1", "Sharp 1", "Sha1"),
    Amplitude("A2", "Amplitude 2", "Amp2"), Angle("A2", "Angle 2", "Ang2", 51.4),   Sharp("A2", "Sharp 2", "Sha2"),
    Amplitude("A3", "Amplitude 3", "Amp3"), Angle("A3", "Angle 3", "Ang3", 102.8),  Sharp("A3", "Sharp 3", "Sha3"),
    Amplitude("A4", "Amplitude 4", "Amp4"), Angle("A4", "Angle 4", "Ang4", 154.3),  Sharp("A4", "Sharp 4", "Sha4"),
    Amplitude("A5", "Amplitude 5", "Amp5"), Angle("A5", "Angle 5", "Ang5", -154.3), Sharp("A5", "Sharp 5", "Sha5"),
    Amplitude("A6", "Amplitude 6", "Amp6"), Angle("A6", "Angle 6", "Ang6", -102.9), Sharp("A6", "Sharp 6", "Sha6"),
    Amplitude("A7", "Amplitude 7", "Amp7"), Angle("A7", "Angle 7", "Ang7", -51.4),  Sharp("A7", "Sharp 7", "Sha7"),
};
// clang-format on

inline constexpr int kControlCount = sizeof(kControls) / sizeof(kControls[0]);
static_assert(kControlCount == 4 + 3 * kLobes);
static_assert(fw::RowOf(kControls, "Fill Option") == kFill);
static_assert(fw::RowOf(kControls, "Amplitude 7") == AmplitudeRow(6));
static_assert(fw::RowOf(kControls, "Angle 3") == AngleRow(2));
static_assert(fw::RowOf(kControls, "Sharp 5") == SharpRow(4));

// The reset sets the centre, Scale, Rotate, Fill Option, then every amplitude,
// every angle, every sharpness; each with notification; one undo step.
// clang-format off
inline constexpr fw::ResetStep kResetSteps[kControlCount] = {
    {kCentre, 1},          {kScale, 1},           {kRotate, 1},          {kFill, 1},
    {AmplitudeRow(0), 1},  {AmplitudeRow(1), 1},  {AmplitudeRow(2), 1},  {AmplitudeRow(3), 1},
    {AmplitudeRow(4), 1},  {AmplitudeRow(5), 1},  {AmplitudeRow(6), 1},
    {AngleRow(0), 1},      {AngleRow(1), 1},      {AngleRow(2), 1},      {AngleRow(3), 1},
    {AngleRow(4), 1},      {AngleRow(5), 1},      {AngleRow(6), 1},
    {SharpRow(0), 1},      {SharpRow(1), 1},      {SharpRow(2), 1},      {SharpRow(3), 1},
    {SharpRow(4), 1},      {SharpRow(5), 1},      {SharpRow(6), 1}};
// clang-format on
inline constexpr auto kResetChanges = fw::ResetChanges(kControls, kResetSteps);
inline constexpr fw::ChangeSet kReset{"Reset Bleb", kResetChanges};

inline constexpr fw::ImageRow kImages[] = {{"Input", df::ImageInputId(1)}};

inline constexpr fw::ToolDeclaration kTool{
    {"BlebPlugIn", 0x8001008C, "Vorn_Tamb9", "Blb", "For \"blebbing\" images", "Bleb", "Tamb9.hlp",
     0x01010901},
    kControls,
    kImages,
    kReset};

using Values = fw::ControlValues<kControlCount>;

// The warp's controls from a frame's values: the lobe angles negated, the fill
// option truncated to its item.
WarpControls WarpControlsFrom(const Values& values);

}  // namespace bleb
