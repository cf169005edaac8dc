#include "framework/control_values.h"

#include <cmath>
#include <limits>

#include "framework/values.h"

namespace fw {

float NarrowControl(double value) {
  constexpr double kLargest = std::numeric_limits<float>::max();
  if (std::isnan(value)) return 0.0f;
  if (value > kLargest) return float(kLargest);
  if (value < -kLargest) return -float(kLargest);
  return float(value);
}

void ReadControlValues(df::Request* request, std::span<const ControlRow> table,
                       df::Input* const* inputs, std::span<ControlValue> out) {
  for (size_t row = 0; row < table.size() && row < out.size(); ++row) {
    const ControlRow& r = table[row];
    if (r.kind == ControlKind::kButton) continue;
    if (r.IsPoint())
      ReadPoint(request, inputs[row], out[row].x, out[row].y);
    else
      out[row] = {NarrowControl(ReadNumber(request, inputs[row], r.def)), 0};
  }
}

void DefaultControlValues(std::span<const ControlRow> table, std::span<ControlValue> out) {
  for (size_t row = 0; row < table.size() && row < out.size(); ++row) {
    const ControlRow& r = table[row];
    out[row] = r.IsPoint() ? ControlValue{float(r.def), float(r.defY)}
                           : ControlValue{NarrowControl(r.def), 0};
  }
}

}  // namespace fw
