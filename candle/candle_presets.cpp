#include "candle/candle_presets.h"

#include "framework/values.h"

namespace candle {

namespace {

// clang-format off
constexpr ControlChange kNoChangeDemo[] = {{kEdgeSoftness, 30, 0, 1}};
constexpr ControlChange kStillFlame[] = {
    {kBottomLeft, 0.361, 0.913, 0}, {kTopLeft, 0.361, 0.132, 0},
    {kBottomRight, 0.638, 0.913, 0}, {kTopRight, 0.638, 0.132, 0},
    {kCurvePoint1, 0.454, 0.957, 0}, {kCurvePoint2, 0.546, 0.87, 0},
    {kFlameDensity, 100, 0, 1}, {kConvection, 40, 0, 1}, {kFlickerSpeed, 50, 0, 1},
    {kTurbulence, 0, 0, 1}, {kFrequency1, 0, 0, 1}, {kFrequency2, 0, 0, 1},
    {kBaseSoftness, 10, 0, 1}, {kEdgeSoftness, 30, 0, 1}};
constexpr ControlChange kSoft[] = {{kTurbulence, 16, 0, 1}, {kFrequency1, 54, 0, 1}, {kFrequency2, 38, 0, 1}};
constexpr ControlChange kWiggly[] = {{kTurbulence, 68, 0, 1}, {kFrequency1, 59, 0, 1}, {kFrequency2, 60, 0, 1}};
constexpr ControlChange kWild[] = {{kTurbulence, 68, 0, 1}, {kFrequency1, 36, 0, 1}, {kFrequency2, 80, 0, 1}};
constexpr ControlChange kFluffy[] = {{kTurbulence, 8, 0, 1}, {kFrequency1, 36, 0, 1}, {kFrequency2, 80, 0, 1}};

constexpr ControlChange kEvens[] = {{kProportion1, 50, 0, 1}, {kProportion2, 50, 0, 1}, {kProportion3, 50, 0, 1}};
constexpr ControlChange kEdge[] = {{kProportion1, 20, 0, 1}, {kProportion2, 40, 0, 1}, {kProportion3, 100, 0, 1}};
constexpr ControlChange kCenter[] = {{kProportion1, 100, 0, 1}, {kProportion2, 50, 0, 1}, {kProportion3, 10, 0, 1}};
// clang-format on

// trunc of a combo value, saturated.
long long Item(double value) {
  return fw::TruncateToInt(value);
}

}  // namespace

fw::ChangeSet DemoPlan(double item) {
  switch (Item(item) - 1) {
    case 0:
      return {"Still flame", kStillFlame};
    case 1:
      return {"Turb1-soft", kSoft};
    case 2:
      return {"Turb2-wiggly", kWiggly};
    case 3:
      return {"Turb3-wild", kWild};
    case 4:
      return {"Turb4-fluffy", kFluffy};
    default:
      return {"No change", kNoChangeDemo};
  }
}

fw::ChangeSet ProportionPlan(double item) {
  switch (Item(item)) {
    case 1:
      return {"Evens", kEvens};
    case 2:
      return {"Edge", kEdge};
    case 3:
      return {"Center", kCenter};
    default:
      return {"No change", kEvens};
  }
}

LinkPlan PlanLink(int changedRow, const ControlCache& k) {
  // Which of the derived points each changed point sets, in order.
  static constexpr int kTopLeftPoint = 0, kTopRightPoint = 1, kCurve1 = 2, kCurve2 = 3;
  int order[4];
  int count = 0;
  switch (changedRow) {
    case kBottomLeft:
    case kBottomRight:
      order[count++] = kTopLeftPoint, order[count++] = kTopRightPoint;
      order[count++] = kCurve1, order[count++] = kCurve2;
      break;
    case kTopLeft:
      order[count++] = kTopRightPoint, order[count++] = kCurve1, order[count++] = kCurve2;
      break;
    case kTopRight:
      order[count++] = kTopLeftPoint, order[count++] = kCurve1, order[count++] = kCurve2;
      break;
    case kCurvePoint1:
      order[count++] = kTopLeftPoint, order[count++] = kTopRightPoint, order[count++] = kCurve2;
      break;
    case kCurvePoint2:
      order[count++] = kTopLeftPoint, order[count++] = kTopRightPoint, order[count++] = kCurve1;
      break;
    default:
      return LinkPlan();
  }
  const double third = (k.bottomRight.x - k.bottomLeft.x) / 3;
  const ControlChange derived[4] = {
      {kTopLeft, k.bottomLeft.x, k.topLeft.y, 0},
      {kTopRight, k.bottomRight.x, k.topLeft.y, 0},
      {kCurvePoint1, k.bottomLeft.x + third, k.curvePoint1.y, 0},
      {kCurvePoint2, k.bottomLeft.x + 2 * third, k.curvePoint2.y, 0},
  };
  LinkPlan plan;
  plan.count = count;
  for (int i = 0; i < count; ++i) plan.changes[i] = derived[order[i]];
  return plan;
}

}  // namespace candle
