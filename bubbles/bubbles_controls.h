// The tool's declaration: its controls, in declaration order, as one table
// (pages, captions, ids, kinds, ranges and defaults), its image inputs, output
// and registration record. The operator declares from it and the per-frame
// parameters take their defaults from it.
#pragma once

#include <cstdint>

#include "framework/controls.h"
#include "framework/tool.h"

namespace bubbles {

inline constexpr const char* kBubbleTypeItems[] = {"Assorted", "Shrinking", "Variable Growth",
                                                   "Linear Growth"};
inline constexpr const char* kFadeModeItems[] = {"Color + Density", "Color", "Density"};
inline constexpr const char* kDemoItems[] = {"NO CHANGE", "Basic Bubbles", "Soap Bubbles",
                                             "Under Water", "Champagne Bubbles"};

// Row of each control in kControls.
enum ControlRowIndex : int {
  kRestart,
  kPreroll,
  kPrerollFrames,
  kQuantity,
  kLifetime,
  kPositionRadius,
  kLeftSource,
  kRightSource,
  kUseBirthMatte,
  kBubbleType,
  kBubbleSize,
  kSizeVariance,
  kTimeToMaxSize,
  kBurst,
  kBurstProbability,
  kBurstQuantity,
  kBurstRadius,
  kBurstAfterlife,
  kGather,
  kGatherSlowup,
  kInitialVelocity,
  kVelocityDirection,
  kVelocityVariance,
  kGravity,
  kGravityAngle,
  kSwirlDensity,
  kSwirlMagnitude,
  kSwirlTimeToMax,
  kFriction,
  kWindSpeed,
  kWindSource,
  kWindTarget,
  kWindSpread,
  kLightRed,
  kLightGreen,
  kLightBlue,
  kLightBrightness,
  kLightSource,
  kLightTarget,
  kLightZ,
  kLightSpread,
  kLightGlisten,
  kBubbleRed,
  kBubbleGreen,
  kBubbleBlue,
  kColorVariance,
  kMonoVariance,
  kMinBrightness,
  kShine,
  kShineHighlight,
  kReflections,
  kReflectionIntensity,
  kFadeMode,
  kDemos,
  kControlCount
};

inline constexpr uint32_t kPointHandle = df::kPointPreview;

// clang-format off
inline constexpr fw::ControlRow kControls[] = {
    fw::ButtonRow("Basics", "Restart Bubbles", "Kill"),
    fw::ButtonRow("Basics", "Preroll Bubbles", "Prol"),
    fw::SliderRow("Basics", "Preroll Frames", "Fram", 1, 150, 1000),
    fw::SliderRow("Basics", "Bubble Quantity", "Qtyy", 0, 20, 1000).NumValue06(20.0),
    fw::SliderRow("Basics", "Lifetime", "Life", 1, 200, 1000),
    fw::SliderRow("Basics", "Position Radius", "Radi", 0, 0.1, 1.0),
    fw::PointRow("Basics", "XY Left Source", "Left", kPointHandle, 0.1, 0.5),
    fw::PointRow("Basics", "XY Right Source", "Righ", kPointHandle, 0.9, 0.5).LinkTo(kLeftSource).LinkBack(kLeftSource),
    fw::CheckBoxRow("Basics", "Use Birth Matte", "Birt"),
    fw::ComboRow("Basics", "Bubble Type", "Shap", kBubbleTypeItems),
    fw::SliderRow("Basics", "Bubble Size", "Size", 1, 10, 40),
    fw::SliderRow("Basics", "Bubble Size Variance", "SzVa", 0, 4, 100),
    fw::SliderRow("Basics", "Time to Maximum Size", "ToMa", 1, 25, 500),
    fw::CheckBoxRow("Burst", "Bubbles Burst", "Dobu"),
    fw::SliderRow("Burst", "Burst Probability", "BPro", 0, 50, 100),
    fw::SliderRow("Burst", "Burst Quantity", "BQty", 0, 100, 100),
    fw::SliderRow("Burst", "Burst Radius", "BRad", 0, 10, 100),
    fw::SliderRow("Burst", "Burst Afterlife", "BLif", 0, 6, 100),
    fw::CheckBoxRow("Gather", "Bubbles Gather", "Gath"),
    fw::SliderRow("Gather", "Gather Slowup", "Slow", 0, 80, 100),
    fw::SliderRow("Forces", "Initial Velocity", "InVe", -20, 3, 20),
    fw::SliderRow("Forces", "Velocity Direction", "VelD", 0, 90, 360),
    fw::SliderRow("Forces", "Velocity Variance", "VelV", 0, 0, 200),
    fw::SliderRow("Forces", "Gravity", "Grav", 0, 20, 100),
    fw::ScrollRow("Forces", "Gravity Angle", "GrAn", -360, 90, 360),
    fw::SliderRow("Forces", "Swirl Density", "SwiD", 0, 60, 100),
    fw::SliderRow("Forces", "Swirl Magnitude", "SwiA", 0, 1, 100),
    fw::SliderRow("Forces", "Swirl Time to Maximum", "SwTM", 0, 0, 100),
    fw::SliderRow("Forces", "Friction", "Fric", 0, 0, 100),
    fw::SliderRow("Forces", "Wind Speed", "Wind", 0, 0, 100),
    fw::PointRow("Forces", "XY Wind Source", "WSou", kPointHandle, 0.9, 0.7),
    fw::PointRow("Forces", "XY Wind Target", "WDes", kPointHandle, 0.7, 0.7).LinkTo(kWindSource).LinkBack(kWindSource),
    fw::SliderRow("Forces", "Wind Spread", "Spre", 0, 30, 180),
    fw::ColorRow("Light", "Light Red", "LRed", "Light Color", 1, 0, 0.5),
    fw::ColorRow("Light", "Light Green", "LGre", "Light Color", 1, 1, 0.5),
    fw::ColorRow("Light", "Light Blue", "LBlu", "Light Color", 1, 2, 0.5),
    fw::SliderRow("Light", "Light Brightness", "LBri", 0, 100, 500),
    fw::PointRow("Light", "XY Light Source", "Sour", kPointHandle, 0.2, 0.2),
    fw::PointRow("Light", "XY Light Target", "Dest", kPointHandle, 0.4, 0.4).LinkTo(kLightSource).LinkBack(kLightSource),
    fw::SliderRow("Light", "3D Light Z Position", "LZSo", 0, 0.5, 1.0),
    fw::SliderRow("Light", "Light Spread", "LSpr", 0, 90, 180),
    fw::SliderRow("Light", "Light Glisten", "LGli", 0, 10, 100),
    fw::ColorRow("Color", "Bubble Red", "BRed", "Bubble Color", 2, 0, 0.1),
    fw::ColorRow("Color", "Bubble Green", "BGre", "Bubble Color", 2, 1, 0.1),
    fw::ColorRow("Color", "Bubble Blue", "BBlu", "Bubble Color", 2, 2, 0.1),
    fw::SliderRow("Color", "Bubble Color Variance", "ColV", 0, 0, 100),
    fw::SliderRow("Color", "Bubble Monochrome Variance", "Mono", 0, 0, 100),
    fw::SliderRow("Color", "Minimum Brightness", "Ambi", 0, 60, 100),
    fw::SliderRow("Color", "Shine", "Shin", 1, 45, 200),
    fw::SliderRow("Color", "Shine Highlight", "High", 1, 10, 200),
    fw::CheckBoxRow("Color", "Reflections", "Refl"),
    fw::SliderRow("Color", "Reflection Intensity", "Inte", 0, 50, 200),
    fw::ComboRow("Basics", "Fade Mode", "Fade", kFadeModeItems),
    fw::PresetComboRow("Basics", "Demos", "Demo", kDemoItems),
};
// clang-format on

static_assert(sizeof(kControls) / sizeof(kControls[0]) == kControlCount);
static_assert(fw::RowOf(kControls, "Restart Bubbles") == kRestart);
static_assert(fw::RowOf(kControls, "Preroll Frames") == kPrerollFrames);
static_assert(fw::RowOf(kControls, "XY Left Source") == kLeftSource);
static_assert(fw::RowOf(kControls, "Time to Maximum Size") == kTimeToMaxSize);
static_assert(fw::RowOf(kControls, "Burst Afterlife") == kBurstAfterlife);
static_assert(fw::RowOf(kControls, "Gather Slowup") == kGatherSlowup);
static_assert(fw::RowOf(kControls, "XY Wind Source") == kWindSource);
static_assert(fw::RowOf(kControls, "Wind Spread") == kWindSpread);
static_assert(fw::RowOf(kControls, "XY Light Source") == kLightSource);
static_assert(fw::RowOf(kControls, "Light Glisten") == kLightGlisten);
static_assert(fw::RowOf(kControls, "Reflection Intensity") == kReflectionIntensity);
static_assert(fw::RowOf(kControls, "Demos") == kDemos);

// The image inputs, declared after the controls, and the record. The
// simulation carries from frame to frame, so hosts step through every frame.
inline constexpr fw::ImageRow kImages[] = {
    {"Birth", df::ImageInputId(1)},
    {"Burst(optional)", df::ImageInputId(2), false},
    {"Reflection(optional)", df::ImageInputId(3), false},
};
inline constexpr int kBirthImage = 0;
inline constexpr int kBurstImage = 1;
inline constexpr int kReflectionImage = 2;

inline constexpr fw::ToolDeclaration kTool{
    {"BubblesPlugIn", 0x8001007D, "Vorn_Tamb6", "Bub", "For bubbles simulation", "Bubbles",
     "Tamb6.hlp", 0x01010601},
    kControls,
    kImages,
    {},  // a reset request sets nothing
    df::kObjFlagSequential};

}  // namespace bubbles
