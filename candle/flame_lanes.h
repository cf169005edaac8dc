// Candle's lanes: the values of a group of adjacent columns side by side
// (the framework's lane types and helpers, at the width measured best here).
#pragma once

#include "framework/lanes.h"

namespace candle {

#if defined(__clang__)
// Clang refuses vectors wider than the baseline between inline functions.
inline constexpr int kLanes = 4;
#else
// Eight lanes, one AVX2 register: measured faster here than sixteen (fewer
// lanes idle at the flame's edges, fewer noise cells per group) and than four.
inline constexpr int kLanes = 8;
#endif

using FloatLanes = fw::lanes::Floats<kLanes>;
using IntLanes = fw::lanes::Ints<kLanes>;
using WordLanes = fw::lanes::Words<kLanes>;

// Two rows of a group side by side, for code whose rows are independent:
// with 512-bit registers one instruction works both.
using WideFloatLanes = fw::lanes::Floats<2 * kLanes>;
using WideIntLanes = fw::lanes::Ints<2 * kLanes>;
using WideWordLanes = fw::lanes::Words<2 * kLanes>;

using fw::lanes::Abs;
using fw::lanes::Any;
using fw::lanes::CopySign;
using fw::lanes::Fill;
using fw::lanes::Sqrt;
using fw::lanes::ToFloat;
using fw::lanes::ToInt;

}  // namespace candle
