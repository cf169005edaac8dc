// The tool's controls, in declaration order, as one table: pages, captions,
// ids, kinds, ranges and defaults. The constructor declares from it, the
// reset restores from it, and the tests check the declarations against it.
#pragma once

#include <cstdint>

#include "bleb/warp_params.h"
#include "framework/host.h"

namespace bleb {

enum class ControlKind : std::uint8_t { kPoint, kSlider, kScroll, kCombo };

struct ControlSpec {
  const char* page;
  const char* caption;
  std::uint32_t id;
  ControlKind kind;
  double low;             // sliders: lowest value allowed; scrolls: low end of the scale
  double def;             // default (a point's x)
  double defY;            // a point's default y
  double high;            // top of the slider or scale (no hard limit)
  std::uint32_t preview;  // on-image kind, 0 for none
  bool linkedToCentre;    // joined to "XY Center" (circle and angle handles)
};

inline constexpr std::uint32_t kOffset = df::FourCC("OffC");
inline constexpr std::uint32_t kCrosshair = df::FourCC("XHrC");
inline constexpr std::uint32_t kCircle = df::FourCC("CirC");
inline constexpr std::uint32_t kAngleHandle = df::FourCC("AngC");

// Angle scroll controls pass these two values; what they mean is the host's.
inline constexpr int kAngleCtlValue = 3600;
inline constexpr int kAnglePreviewValue = 450;

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

// clang-format off
inline constexpr ControlSpec kControls[] = {
    // page, caption, id, kind, low, default, default y, high, on-image, linked
    {"Ctrl", "XY Center", df::FourCC("Cent"), ControlKind::kPoint, 0, 0.5, 0.5, 0, kCrosshair, false},
    {"Ctrl", "Scale", df::FourCC("BScl"), ControlKind::kSlider, 0.001, 1, 0, 10, kCircle, true},
    {"Ctrl", "Rotate", df::FourCC("Rota"), ControlKind::kSlider, -360, 0, 0, 360, 0, false},
    {"Ctrl", "Fill Option", df::FourCC("Fill"), ControlKind::kCombo, 0, 0, 0, 0, 0, false},
    {"A1", "Amplitude 1", df::FourCC("Amp1"), ControlKind::kSlider, -0.99, 0, 0, 10, 0, false},
    {"A1", "Angle 1", df::FourCC("Ang1"), ControlKind::kScroll, -360, 0.0, 0, 360, kAngleHandle, true},
    {"A1", "Sharp 1", df::FourCC("Sha1"), ControlKind::kSlider, 1, 4, 0, 500, 0, false},
    {"A2", "Amplitude 2", df::FourCC("Amp2"), ControlKind::kSlider, -0.99, 0, 0, 10, 0, false},
    {"A2", "Angle 2", df::FourCC("Ang2"), ControlKind::kScroll, -360, 51.4, 0, 360, kAngleHandle, true},
    {"A2", "Sharp 2", df::FourCC("Sha2"), ControlKind::kSlider, 1, 4, 0, 500, 0, false},
    {"A3", "Amplitude 3", df::FourCC("Amp3"), ControlKind::kSlider, -0.99, 0, 0, 10, 0, false},
    {"A3", "Angle 3", df::FourCC("Ang3"), ControlKind::kScroll, -360, 102.8, 0, 360, kAngleHandle, true},
    {"A3", "Sharp 3", df::FourCC("Sha3"), ControlKind::kSlider, 1, 4, 0, 500, 0, false},
    {"A4", "Amplitude 4", df::FourCC("Amp4"), ControlKind::kSlider, -0.99, 0, 0, 10, 0, false},
    {"A4", "Angle 4", df::FourCC("Ang4"), ControlKind::kScroll, -360, 154.3, 0, 360, kAngleHandle, true},
    {"A4", "Sharp 4", df::FourCC("Sha4"), ControlKind::kSlider, 1, 4, 0, 500, 0, false},
    {"A5", "Amplitude 5", df::FourCC("Amp5"), ControlKind::kSlider, -0.99, 0, 0, 10, 0, false},
    {"A5", "Angle 5", df::FourCC("Ang5"), ControlKind::kScroll, -360, -154.3, 0, 360, kAngleHandle, true},
    {"A5", "Sharp 5", df::FourCC("Sha5"), ControlKind::kSlider, 1, 4, 0, 500, 0, false},
    {"A6", "Amplitude 6", df::FourCC("Amp6"), ControlKind::kSlider, -0.99, 0, 0, 10, 0, false},
    {"A6", "Angle 6", df::FourCC("Ang6"), ControlKind::kScroll, -360, -102.9, 0, 360, kAngleHandle, true},
    {"A6", "Sharp 6", df::FourCC("Sha6"), ControlKind::kSlider, 1, 4, 0, 500, 0, false},
    {"A7", "Amplitude 7", df::FourCC("Amp7"), ControlKind::kSlider, -0.99, 0, 0, 10, 0, false},
    {"A7", "Angle 7", df::FourCC("Ang7"), ControlKind::kScroll, -360, -51.4, 0, 360, kAngleHandle, true},
    {"A7", "Sharp 7", df::FourCC("Sha7"), ControlKind::kSlider, 1, 4, 0, 500, 0, false},
};
// clang-format on

inline constexpr int kControlCount = sizeof(kControls) / sizeof(kControls[0]);
static_assert(kControlCount == 4 + 3 * kLobes);

// The order in which the reset sets the controls: the centre, Scale, Rotate,
// Fill Option, then every amplitude, every angle, every sharpness.
inline constexpr int kResetOrder[kControlCount] = {
    kCentre,         kScale,          kRotate,         kFill,           AmplitudeRow(0),
    AmplitudeRow(1), AmplitudeRow(2), AmplitudeRow(3), AmplitudeRow(4), AmplitudeRow(5),
    AmplitudeRow(6), AngleRow(0),     AngleRow(1),     AngleRow(2),     AngleRow(3),
    AngleRow(4),     AngleRow(5),     AngleRow(6),     SharpRow(0),     SharpRow(1),
    SharpRow(2),     SharpRow(3),     SharpRow(4),     SharpRow(5),     SharpRow(6)};

inline constexpr std::uint32_t kInputId = df::ImageInputId(1);
inline constexpr std::uint32_t kOutputId = df::OutputId(1);

// The declaration tags of a control, in their fixed order; `centre` is the
// declared "XY Center" input that circle and angle handles are joined to.
df::TagList DeclarationTags(const ControlSpec& entry, df::Input* centre);

}  // namespace bleb

namespace bleb {
// The kernel's defaults agree with the declared ones.
constexpr bool AnglesAgree() {
  for (int n = 0; n < kLobes; ++n)
    if (static_cast<float>(kControls[AngleRow(n)].def) != kDefaultAngles[n]) return false;
  return true;
}
static_assert(AnglesAgree());
}  // namespace bleb
