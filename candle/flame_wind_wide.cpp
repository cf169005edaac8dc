// The two-rows-at-once wind path. This file alone is compiled for
// processors with 512-bit registers (x86-64-v4); WindRows calls it only
// where the processor reports them.
#include <cstring>

#include "candle/flame_wind_lanes.h"
#include "candle/flame_wind_vector.h"

namespace candle {

// Rows k and k + 1 in the low and high halves of one vector; past an odd
// last row the high half is worked and dropped.
void WindRowsWide(const FlameFrame& f, const WindCone& cone, const FloatLanes& column, int row0,
                  int rows, FloatLanes* dx, FloatLanes* dy) {
  WideFloatLanes columns, row;
  for (int l = 0; l < kLanes; ++l) {
    columns[l] = columns[l + kLanes] = column[l];
    row[l] = float(row0);
    row[l + kLanes] = float(row0 + 1);
  }
  for (int k = 0; k < rows; k += 2, row += 2.0f) {
    WideFloatLanes wx, wy;
    WindVector<WideFloatLanes, WideIntLanes>(f, cone, columns, row, wx, wy);
    std::memcpy(&dx[k], &wx, sizeof(FloatLanes));
    std::memcpy(&dy[k], &wy, sizeof(FloatLanes));
    if (k + 1 < rows) {
      std::memcpy(&dx[k + 1], reinterpret_cast<const char*>(&wx) + sizeof(FloatLanes),
                  sizeof(FloatLanes));
      std::memcpy(&dy[k + 1], reinterpret_cast<const char*>(&wy) + sizeof(FloatLanes),
                  sizeof(FloatLanes));
    }
  }
}

}  // namespace candle
