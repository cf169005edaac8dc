// Tag lists for the declaration patterns every tool builds its inputs from.
// Each returns the tags in their fixed order; a tool appends what a control adds.
#pragma once

#include <initializer_list>

#include "framework/host.h"

namespace fw {

constexpr uint32_t kSlider = df::FourCC("SliC");
constexpr uint32_t kScroll = df::FourCC("ScrC");
constexpr uint32_t kButton = df::FourCC("BtnC");
constexpr uint32_t kCheckBox = df::FourCC("ChBC");
constexpr uint32_t kCombo = df::FourCC("ComC");
constexpr uint32_t kColorChannel = df::FourCC("ColC");
constexpr uint32_t kOffset = df::FourCC("OffC");
constexpr uint32_t kPointHandle = df::FourCC("PntC");
constexpr uint32_t kCrosshair = df::FourCC("XHrC");
constexpr uint32_t kCircle = df::FourCC("CirC");
constexpr uint32_t kAngle = df::FourCC("AngC");

df::TagList Slider(double minAllowed, double def, double maxScale);
df::TagList Scroll(double minScale, double def, double maxScale);
df::TagList ColorChannel(const char* groupName, int group, int channel, double def);
df::TagList PushButton();
df::TagList CheckBox();
df::TagList Combo(std::initializer_list<const char*> items);
df::TagList PresetCombo(std::initializer_list<const char*> items);
df::TagList PointControl(uint32_t previewKind, double defaultX, double defaultY);
df::TagList OptionalImage();

// Links: a pair names each other; a ring closes back to its first point.
void LinkPair(df::Input* first, df::Input* second);
void CloseRing(df::Input* first, df::Input* last);

}  // namespace fw
