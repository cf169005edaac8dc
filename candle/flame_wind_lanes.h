// The wind displacement (WindOffset) of a group's columns over a run of
// rows. A row's wind depends on nothing but its place, so rows are worked
// as independent vectors: two rows at once in 512-bit registers where the
// processor has them, one row of eight lanes elsewhere. Every path computes
// the same correctly rounded operations lane by lane: the same bits.
#pragma once

#include "candle/flame_field.h"
#include "candle/flame_lanes.h"

namespace candle {

// dx[k], dy[k]: the displacement of each lane's column at row row0 + k, for
// k in 0..rows−1.
void WindRows(const FlameFrame& frame, const WindCone& cone, const FloatLanes& column, int row0,
              int rows, FloatLanes* dx, FloatLanes* dy);

// The same on one row of eight lanes only (the path of processors without
// 512-bit registers), for tests comparing the paths.
void WindRowsNarrow(const FlameFrame& frame, const WindCone& cone, const FloatLanes& column,
                    int row0, int rows, FloatLanes* dx, FloatLanes* dy);

// The two-rows-at-once path; only on processors with 512-bit registers.
void WindRowsWide(const FlameFrame& frame, const WindCone& cone, const FloatLanes& column, int row0,
                  int rows, FloatLanes* dx, FloatLanes* dy);

}  // namespace candle
