// One frame's control values, read once from the render request into a
// snapshot by table row. Each tool turns the snapshot into its parameters with
// a pure function, so tests build a snapshot and call that function directly.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "framework/controls.h"

namespace fw {

// The one narrowing rule for control numbers: NaN becomes 0, values beyond
// the float range become the largest float of their sign, anything else is
// rounded to the nearest float. (A plain conversion is undefined beyond the
// range, and an infinity or a NaN would spread through every product.)
float NarrowControl(double value);

// A row's value: a number in x, or a point's two coordinates as the host
// keeps them, in single precision.
struct ControlValue {
  float x = 0;
  float y = 0;
};

// Reads every row but the buttons, which have no value: a number (the row's
// default when the request has none) narrowed by NarrowControl, or a point
// ((0, 0) when the request has none). out[row] receives each.
void ReadControlValues(df::Request* request, std::span<const ControlRow> table,
                       df::Input* const* inputs, std::span<ControlValue> out);

// Each row's declared default, numbers narrowed like a read value.
void DefaultControlValues(std::span<const ControlRow> table, std::span<ControlValue> out);

// The snapshot of a table of N rows.
template <size_t N>
class ControlValues {
 public:
  // Every row at its declared default.
  static ControlValues Defaults(std::span<const ControlRow, N> table) {
    ControlValues v;
    DefaultControlValues(table, v.rows_);
    return v;
  }
  // The values the request gives for `inputs`, declared from `table`.
  static ControlValues Read(df::Request* request, std::span<const ControlRow, N> table,
                            df::Input* const* inputs) {
    ControlValues v;
    ReadControlValues(request, table, inputs, v.rows_);
    return v;
  }

  float Number(int row) const { return rows_[size_t(row)].x; }
  float X(int row) const { return rows_[size_t(row)].x; }
  float Y(int row) const { return rows_[size_t(row)].y; }
  // For tests and presets: a number or a point on a row.
  void SetNumber(int row, float value) { rows_[size_t(row)] = {value, 0}; }
  void SetPoint(int row, float x, float y) { rows_[size_t(row)] = {x, y}; }

 private:
  std::array<ControlValue, N> rows_{};
};

}  // namespace fw
