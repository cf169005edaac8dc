#include "bleb/warp_params.h"

#include <cmath>

#include "bleb/bleb_controls.h"
#include "framework/angles.h"
#include "framework/values.h"

namespace bleb {

WarpControls WarpControlsFrom(const Values& v) {
  WarpControls c;
  c.centerX = v.X(kCentre);
  c.centerY = v.Y(kCentre);
  c.scale = v.Number(kScale);
  c.rotate = v.Number(kRotate);
  c.fillMode = fw::TruncateToInt(v.Number(kFill));
  for (int n = 0; n < kLobes; ++n) {
    c.amplitude[n] = v.Number(AmplitudeRow(n));
    c.lobeAngle[n] = -v.Number(AngleRow(n));
    c.sharpness[n] = v.Number(SharpRow(n));
  }
  return c;
}

WarpControls DefaultWarpControls() {
  return WarpControlsFrom(Values::Defaults(kControls));
}

WarpParams MakeWarpParams(const WarpControls& c, int width, int height, float aspect) {
  WarpParams p;
  p.width = width;
  p.height = height;
  p.aspect = aspect;
  p.scale = c.scale;
  p.rotation = static_cast<float>(c.rotate * fw::kDegreesToRadians);
  p.rotationCos = static_cast<float>(std::cos(static_cast<double>(p.rotation)));
  p.rotationSin = static_cast<float>(std::sin(static_cast<double>(p.rotation)));
  p.centerX = c.centerX;
  // The point control's y is a fraction of the height, but the map measures
  // rows in units of the width: y = row * aspect / width. Convert once so the
  // warp centres on the crosshair; a square frame gives a ratio of exactly 1.
  const double ratio = width > 0 ? static_cast<double>(height) * aspect / width : 1.0;
  p.centerY = static_cast<float>(c.centerY * ratio);
  p.fillMode = c.fillMode;
  for (int n = 0; n < kLobes; ++n) {
    p.amplitude[n] = c.amplitude[n];
    p.sharpness[n] = c.sharpness[n];
    const double angle = (c.rotate + c.lobeAngle[n]) * fw::kDegreesToRadians;
    p.lobeCos[n] = static_cast<float>(std::cos(angle));
    p.lobeSin[n] = static_cast<float>(std::sin(angle));
  }
  return p;
}

}  // namespace bleb
