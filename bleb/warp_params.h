// Plain-value parameters of one warp render.
#pragma once

#include <cstdint>

namespace bleb {

inline constexpr int kLobes = 7;

inline constexpr int kFillDuplicate = 0;
inline constexpr int kFillBlack = 1;
inline constexpr int kFillWrap = 2;

// The control values of one render, in single precision.
struct WarpControls {
  float scale = 0;
  float centerX = 0;  // fraction of the width
  float centerY = 0;  // fraction of the height, from the top row
  float rotate = 0;   // degrees
  int fillMode = kFillDuplicate;
  float amplitude[kLobes] = {};
  float lobeAngle[kLobes] = {};  // degrees, already negated from the control
  float sharpness[kLobes] = {};
};

// Controls as a new operator has them: the declared defaults.
WarpControls DefaultWarpControls();

// Everything the two passes read, derived once per render.
struct WarpParams {
  int width = 0;
  int height = 0;
  float aspect = 1.0f;
  float scale = 1.0f;
  float rotation = 0.0f;  // radians
  float rotationCos = 1.0f;
  float rotationSin = 0.0f;
  float centerX = 0.5f;
  // Centre row in the units of the map's vertical coordinate (row * aspect /
  // width), i.e. the control's fraction of the height converted once.
  float centerY = 0.5f;
  int fillMode = kFillDuplicate;
  float amplitude[kLobes] = {};
  float sharpness[kLobes] = {};
  float lobeCos[kLobes] = {};
  float lobeSin[kLobes] = {};
};

WarpParams MakeWarpParams(const WarpControls& c, int width, int height, float aspect);

}  // namespace bleb
