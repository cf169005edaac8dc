#include "candle/flame_wind_lanes.h"

#include <cstring>

#include "candle/flame_wind_vector.h"

namespace candle {

namespace {

FW_ISA_CLONES
void NarrowRows(const FlameFrame& f, const WindCone& cone, const FloatLanes& column, int row0,
                int rows, FloatLanes* dx, FloatLanes* dy) {
  for (int k = 0; k < rows; ++k)
    WindVector<FloatLanes, IntLanes>(f, cone, column, Fill<FloatLanes>(float(row0 + k)), dx[k],
                                     dy[k]);
}

}  // namespace

void WindRowsNarrow(const FlameFrame& f, const WindCone& cone, const FloatLanes& column, int row0,
                    int rows, FloatLanes* dx, FloatLanes* dy) {
  NarrowRows(f, cone, column, row0, rows, dx, dy);
}

void WindRows(const FlameFrame& f, const WindCone& cone, const FloatLanes& column, int row0,
              int rows, FloatLanes* dx, FloatLanes* dy) {
#if defined(CANDLE_WIDE_WIND)
  if (fw::lanes::HasWideRegisters()) return WindRowsWide(f, cone, column, row0, rows, dx, dy);
#endif
  NarrowRows(f, cone, column, row0, rows, dx, dy);
}

}  // namespace candle
