#include "bubbles/bubbles_presets.h"

#include <array>

namespace bubbles {

namespace {

struct PresetRow {
  int row;  // control row in kControls
  double
      values[kPresetCount];  // "Basic Bubbles", "Soap Bubbles", "Under Water", "Champagne Bubbles"
};

// clang-format off
constexpr PresetRow kDemoPresets[] = {
    // row                  Basic  Soap   Under  Champagne
    {kPrerollFrames,       {80,    80,    45,    40}},
    {kQuantity,            {3,     25,    9,     11}},
    {kLifetime,            {80,    132,   101,   80}},
    {kBubbleSize,          {10,    3,     5,     10}},
    {kSizeVariance,        {100,   100,   100,   100}},
    {kTimeToMaxSize,       {1,     1,     62,    48}},
    {kBurstProbability,    {80,    2,     50,    50}},
    {kBurstQuantity,       {100,   20,    100,   100}},
    {kBurstRadius,         {8,     6,     4,     4}},
    {kBurstAfterlife,      {1,     3,     0,     0}},
    {kGatherSlowup,        {60,    60,    55,    80}},
    {kSwirlDensity,        {10,    75,    100,   100}},
    {kSwirlMagnitude,      {0.8,   0.8,   0.2,   0.4}},
    {kSwirlTimeToMax,      {0,     0,     25,    0}},
    {kGravityAngle,        {90,    90,    90,    270}},
    {kGravity,             {12,    5,     0,     55}},
    {kInitialVelocity,     {12,    1.5,   2.4,   0.5}},
    {kVelocityDirection,   {270,   270,   270,   270}},
    {kVelocityVariance,    {50,    25,    100,   200}},
    {kLightSpread,         {100,   100,   100,   180}},
    {kLightBrightness,     {80,    80,    100,   80}},
    {kLightGlisten,        {0,     26,    0,     0}},
    {kLightRed,            {0.6,   1,     0.3,   1}},
    {kLightGreen,          {0.6,   1,     0.3,   1}},
    {kLightBlue,           {0.6,   1,     0.6,   1}},
    {kBubbleRed,           {0,     0.02,  0,     0.4}},
    {kBubbleGreen,         {0,     0.02,  0,     0.8}},
    {kBubbleBlue,          {0,     0.2,   0.8,   0.2}},
    {kColorVariance,       {0,     50,    0,     0}},
    {kMonoVariance,        {0,     100,   20,    0}},
    {kReflectionIntensity, {80,    34,    34,    52}},
    {kMinBrightness,       {38,    38,    60,    60}},
    {kShine,               {45,    34,    34,    157}},
    {kShineHighlight,      {42,    42,    26,    22}},
    {kFriction,            {0,     0,     0,     0}},
    {kBubbleType,          {0,     0,     2,     3}},
    {kFadeMode,            {0,     0,     0,     0}},
    {kUseBirthMatte,       {0,     0,     0,     0}},
    {kBurst,               {1,     0,     0,     1}},
    {kGather,              {0,     0,     0,     1}},
    {kReflections,         {1,     1,     1,     1}},
};
// clang-format on
constexpr size_t kPresetRows = std::size(kDemoPresets);

// Column n − 1 of the table as changes with flag 1.
constexpr std::array<fw::ControlChange, kPresetRows> Column(int n) {
  std::array<fw::ControlChange, kPresetRows> changes{};
  for (size_t i = 0; i < kPresetRows; ++i)
    changes[i] = {kDemoPresets[i].row, kDemoPresets[i].values[n - 1], 0, 1};
  return changes;
}

constexpr std::array<fw::ControlChange, kPresetRows> kPresets[kPresetCount] = {
    Column(1), Column(2), Column(3), Column(4)};

}  // namespace

fw::ChangeSet DemoPreset(int n) {
  if (n < 1 || n > kPresetCount) return {};
  return {nullptr, kPresets[n - 1]};
}

}  // namespace bubbles
