// The Candle tool's declaration: its controls, in declaration order, as one
// table (pages, captions, ids, kinds, ranges, defaults and links), its image
// inputs, output and registration record. The operator declares from it, the
// reset restores from it, and a frame's values become the ControlCache the
// flame is built from through CacheFrom.
#pragma once

#include <cstdint>
#include <iterator>

#include "framework/control_changes.h"
#include "framework/control_values.h"
#include "framework/controls.h"
#include "framework/host.h"
#include "framework/tool.h"

namespace candle {

inline constexpr const char* kDemoItems[] = {"No Change",    "Still Flame", "Turb1-Soft",
                                             "Turb2-Wiggly", "Turb3-Wild",  "Turb4-Fluffy"};
inline constexpr const char* kProportionItems[] = {"No Change", "Evens", "Edge", "Center"};

// Rows of the table, in declaration order.
enum Row : int {
  kBottomRight,
  kTopRight,
  kTopLeft,
  kBottomLeft,
  kCurvePoint1,
  kCurvePoint2,
  kFlameDensity,
  kConvection,
  kFlickerSpeed,
  kTurbulence,
  kFrequency1,
  kFrequency2,
  kBaseSoftness,
  kEdgeSoftness,
  kUseMatte,
  kInvertMatte,
  kSeed,
  kDemos,
  kWindSpeed,
  kWindSource,
  kWindTarget,
  kWindSpread,
  kColor1Red,
  kColor1Green,
  kColor1Blue,
  kProportion1,
  kColor2Red,
  kColor2Green,
  kColor2Blue,
  kProportionDemos,
  kProportion2,
  kColor3Red,
  kColor3Green,
  kColor3Blue,
  kProportion3,
  kControlCount
};

using fw::ColorRow;
using fw::PointRow;
using fw::SliderRow;
inline constexpr std::uint32_t kHandle = df::kPointPreview;

// The six outline points form a ring (each names the one before, "Bottom
// Right" names "Curve Point 2"); the wind points a pair.
// clang-format off
inline constexpr fw::ControlRow kControls[] = {
    PointRow("Where", "Bottom Right", "BRig", kHandle, 0.875, 0.913).Notify(),
    PointRow("Where", "Top Right", "TRig", kHandle, 0.875, 0.13).LinkTo(kBottomRight).Notify(),
    PointRow("Where", "Top Left", "TLef", kHandle, 0.125, 0.13).LinkTo(kTopRight).Notify(),
    PointRow("Where", "Bottom Left", "BLef", kHandle, 0.125, 0.913).LinkTo(kTopLeft).Notify(),
    PointRow("Where", "Curve Point 1", "CPo1", kHandle, 0.375, 0.957).LinkTo(kBottomLeft).Notify(),
    PointRow("Where", "Curve Point 2", "CPo2", kHandle, 0.625, 0.87).LinkTo(kCurvePoint1).LinkBack(kBottomRight).Notify(),
    SliderRow("Flame", "Flame Density", "Dens", 0, 100, 100),
    SliderRow("Flame", "Convection", "Conv", 0, 40, 100),
    SliderRow("Flame", "Flicker Speed", "FSpe", 0, 50, 100),
    SliderRow("Flame", "Turbulence", "Turb", 0, 40, 100),
    SliderRow("Flame", "Frequency 1", "Fre1", 0, 30, 100),
    SliderRow("Flame", "Frequency 2", "Fre2", 0, 70, 100),
    SliderRow("Flame", "Base Softness", "BSof", 0, 10, 100),
    SliderRow("Flame", "Edge Softness", "ESof", 0, 30, 100),
    fw::CheckBoxRow("Flame", "Use Matte", "Matt"),
    fw::CheckBoxRow("Flame", "Invert Matte", "RMat"),
    SliderRow("Flame", "Seed", "Seed", 1, 2000, 9999999),
    fw::PresetComboRow("Flame", "Demos", "Dem1", kDemoItems),
    SliderRow("Wind", "Wind Speed", "WSpe", 0, 30, 100),
    PointRow("Wind", "XY Wind Source", "WSou", kHandle, 0.05, 0.45),
    PointRow("Wind", "XY Wind Target", "WTar", kHandle, 0.45, 0.45).LinkTo(kWindSource).LinkBack(kWindSource),
    SliderRow("Wind", "Wind Spread", "WSpr", 0, 60, 180),
    ColorRow("Colors", "Color 1 Red", "Red1", "Color 1", 1, 0, 1),
    ColorRow("Colors", "Color 1 Green", "Gre1", "Color 1", 1, 1, 1),
    ColorRow("Colors", "Color 1 Blue", "Blu1", "Color 1", 1, 2, 1),
    SliderRow("Colors", "Proportion Color 1", "Pro1", 0, 50, 100),
    ColorRow("Colors", "Color 2 Red", "Red2", "Color 2", 2, 0, 1),
    ColorRow("Colors", "Color 2 Green", "Gre2", "Color 2", 2, 1, 1),
    ColorRow("Colors", "Color 2 Blue", "Blu2", "Color 2", 2, 2, 0),
    fw::PresetComboRow("Colors", "Proportion Demos", "Dem2", kProportionItems),
    SliderRow("Colors", "Proportion Color 2", "Pro2", 0, 50, 100),
    ColorRow("Colors", "Color 3 Red", "Red3", "Color 3", 3, 0, 1),
    ColorRow("Colors", "Color 3 Green", "Gre3", "Color 3", 3, 1, 0),
    ColorRow("Colors", "Color 3 Blue", "Blu3", "Color 3", 3, 2, 0),
    SliderRow("Colors", "Proportion Color 3", "Pro3", 0, 50, 100),
};
// clang-format on

static_assert(std::size(kControls) == kControlCount);
static_assert(fw::RowOf(kControls, "Bottom Right") == kBottomRight);
static_assert(fw::RowOf(kControls, "Top Right") == kTopRight);
static_assert(fw::RowOf(kControls, "Top Left") == kTopLeft);
static_assert(fw::RowOf(kControls, "Bottom Left") == kBottomLeft);
static_assert(fw::RowOf(kControls, "Curve Point 1") == kCurvePoint1);
static_assert(fw::RowOf(kControls, "Curve Point 2") == kCurvePoint2);
static_assert(fw::RowOf(kControls, "Flame Density") == kFlameDensity);
static_assert(fw::RowOf(kControls, "Convection") == kConvection);
static_assert(fw::RowOf(kControls, "Flicker Speed") == kFlickerSpeed);
static_assert(fw::RowOf(kControls, "Turbulence") == kTurbulence);
static_assert(fw::RowOf(kControls, "Frequency 1") == kFrequency1);
static_assert(fw::RowOf(kControls, "Frequency 2") == kFrequency2);
static_assert(fw::RowOf(kControls, "Base Softness") == kBaseSoftness);
static_assert(fw::RowOf(kControls, "Edge Softness") == kEdgeSoftness);
static_assert(fw::RowOf(kControls, "Use Matte") == kUseMatte);
static_assert(fw::RowOf(kControls, "Invert Matte") == kInvertMatte);
static_assert(fw::RowOf(kControls, "Seed") == kSeed);
static_assert(fw::RowOf(kControls, "Demos") == kDemos);
static_assert(fw::RowOf(kControls, "Wind Speed") == kWindSpeed);
static_assert(fw::RowOf(kControls, "XY Wind Source") == kWindSource);
static_assert(fw::RowOf(kControls, "XY Wind Target") == kWindTarget);
static_assert(fw::RowOf(kControls, "Wind Spread") == kWindSpread);
static_assert(fw::RowOf(kControls, "Color 1 Red") == kColor1Red);
static_assert(fw::RowOf(kControls, "Color 1 Green") == kColor1Green);
static_assert(fw::RowOf(kControls, "Color 1 Blue") == kColor1Blue);
static_assert(fw::RowOf(kControls, "Proportion Color 1") == kProportion1);
static_assert(fw::RowOf(kControls, "Color 2 Red") == kColor2Red);
static_assert(fw::RowOf(kControls, "Color 2 Green") == kColor2Green);
static_assert(fw::RowOf(kControls, "Color 2 Blue") == kColor2Blue);
static_assert(fw::RowOf(kControls, "Proportion Demos") == kProportionDemos);
static_assert(fw::RowOf(kControls, "Proportion Color 2") == kProportion2);
static_assert(fw::RowOf(kControls, "Color 3 Red") == kColor3Red);
static_assert(fw::RowOf(kControls, "Color 3 Green") == kColor3Green);
static_assert(fw::RowOf(kControls, "Color 3 Blue") == kColor3Blue);
static_assert(fw::RowOf(kControls, "Proportion Color 3") == kProportion3);

// The reset: every control back to its default, in this order with these
// flags, as one undo step.
// clang-format off
inline constexpr fw::ResetStep kResetSteps[kControlCount] = {
    {kBottomRight, 0}, {kTopRight, 0}, {kTopLeft, 0}, {kBottomLeft, 0},
    {kCurvePoint1, 0}, {kCurvePoint2, 0},
    {kFlameDensity, 1}, {kConvection, 1}, {kFlickerSpeed, 1}, {kTurbulence, 1},
    {kFrequency1, 1}, {kFrequency2, 1}, {kBaseSoftness, 1}, {kEdgeSoftness, 1},
    {kDemos, 0},
    {kUseMatte, 1}, {kInvertMatte, 1}, {kSeed, 1}, {kWindSpeed, 1},
    {kWindSource, 1}, {kWindTarget, 1}, {kWindSpread, 1},
    {kColor1Red, 1}, {kColor1Green, 1}, {kColor1Blue, 1}, {kProportion1, 1},
    {kProportionDemos, 0},
    {kColor2Red, 1}, {kColor2Green, 1}, {kColor2Blue, 1}, {kProportion2, 1},
    {kColor3Red, 1}, {kColor3Green, 1}, {kColor3Blue, 1}, {kProportion3, 1}};
// clang-format on
inline constexpr auto kResetChanges = fw::ResetChanges(kControls, kResetSteps);
inline constexpr fw::ChangeSet kReset{"Reset Candle", kResetChanges};

// The image inputs, declared after the controls, and the record.
inline constexpr fw::ImageRow kImages[] = {
    {"Background", df::ImageInputId(1)},
    {"Matte(optional)", df::ImageInputId(2), false},
};
inline constexpr int kBackgroundImage = 0;
inline constexpr int kMatteImage = 1;

inline constexpr fw::ToolDeclaration kTool{{"CandlePlugIn", 0x80010085, "Vorn_Tamb9", "Can",
                                            "Flame simulation", "Candle", "Tamb9.hlp", 0x01010902},
                                           kControls,
                                           kImages,
                                           kReset};

// The values of every control as the most recent render took them. Points
// keep the host's single-precision coordinates widened to double; numbers are
// narrowed to single precision.
struct CachedPoint {
  double x = 0;
  double y = 0;
};

struct ControlCache {
  CachedPoint bottomRight, topRight, topLeft, bottomLeft, curvePoint1, curvePoint2;
  float flameDensity = 0, convection = 0, flickerSpeed = 0, turbulence = 0;
  float frequency1 = 0, frequency2 = 0, baseSoftness = 0, edgeSoftness = 0;
  float demos = 0, useMatte = 0, invertMatte = 0, seed = 0, windSpeed = 0;
  CachedPoint windSource, windTarget;
  float windSpread = 0;
  float color1[3] = {};  // red, green, blue
  float proportion1 = 0, proportionDemos = 0;
  float color2[3] = {};
  float proportion2 = 0;
  float color3[3] = {};
  float proportion3 = 0;
};

using Values = fw::ControlValues<kControlCount>;

// The cache from a frame's control values.
inline ControlCache CacheFrom(const Values& v) {
  auto point = [&](int row) { return CachedPoint{v.X(row), v.Y(row)}; };
  return {
      .bottomRight = point(kBottomRight),
      .topRight = point(kTopRight),
      .topLeft = point(kTopLeft),
      .bottomLeft = point(kBottomLeft),
      .curvePoint1 = point(kCurvePoint1),
      .curvePoint2 = point(kCurvePoint2),
      .flameDensity = v.Number(kFlameDensity),
      .convection = v.Number(kConvection),
      .flickerSpeed = v.Number(kFlickerSpeed),
      .turbulence = v.Number(kTurbulence),
      .frequency1 = v.Number(kFrequency1),
      .frequency2 = v.Number(kFrequency2),
      .baseSoftness = v.Number(kBaseSoftness),
      .edgeSoftness = v.Number(kEdgeSoftness),
      .demos = v.Number(kDemos),
      .useMatte = v.Number(kUseMatte),
      .invertMatte = v.Number(kInvertMatte),
      .seed = v.Number(kSeed),
      .windSpeed = v.Number(kWindSpeed),
      .windSource = point(kWindSource),
      .windTarget = point(kWindTarget),
      .windSpread = v.Number(kWindSpread),
      .color1 = {v.Number(kColor1Red), v.Number(kColor1Green), v.Number(kColor1Blue)},
      .proportion1 = v.Number(kProportion1),
      .proportionDemos = v.Number(kProportionDemos),
      .color2 = {v.Number(kColor2Red), v.Number(kColor2Green), v.Number(kColor2Blue)},
      .proportion2 = v.Number(kProportion2),
      .color3 = {v.Number(kColor3Red), v.Number(kColor3Green), v.Number(kColor3Blue)},
      .proportion3 = v.Number(kProportion3),
  };
}

// The cache as a render of an untouched operator would fill it: every
// declared default, points through the host's single precision.
inline ControlCache DefaultCache() {
  return CacheFrom(Values::Defaults(kControls));
}

}  // namespace candle
