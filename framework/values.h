// Reading control values from a render request, safe against missing values.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "framework/host.h"

namespace fw {

// The input's Number at the request's time, or `fallback` when it has none.
inline double ReadNumber(df::Request* request, df::Input* input, double fallback = 0.0) {
  df::Parameter* p = request ? request->GetInputData(input, 0) : nullptr;
  return p && p->Type() == df::kTypeNumber ? static_cast<df::Number*>(p)->value : fallback;
}

// The input's Point at the request's time; (0, 0) when it has none.
inline void ReadPoint(df::Request* request, df::Input* input, float& x, float& y) {
  df::Parameter* p = request ? request->GetInputData(input, 0) : nullptr;
  if (p && p->Type() == df::kTypePoint) {
    x = static_cast<df::Point*>(p)->x;
    y = static_cast<df::Point*>(p)->y;
  } else {
    x = y = 0.0f;
  }
}

// The input's Image for this request, or null when unconnected.
inline df::Image* ReadImage(df::Request* request, df::Input* input) {
  df::Parameter* p = request ? request->GetInputData(input, 0) : nullptr;
  return p && p->Type() == df::kTypeImage ? static_cast<df::Image*>(p) : nullptr;
}

// Truncation toward zero that saturates at the int range; NaN gives 0.
inline int TruncateToInt(double v) {
  if (std::isnan(v)) return 0;
  if (v >= double(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  if (v <= double(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  return int(v);
}

}  // namespace fw
