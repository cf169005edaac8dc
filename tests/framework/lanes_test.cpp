// The shared lane arithmetic: the two exponent fits at their clamps, log2
// at its floor, and the any-lane test at every width the tools use.
#include "framework/lanes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace fw::lanes {
namespace {

using F16 = Floats<16>;

TEST(Lanes, Exp2FitsDifferOnlyInTheirTopClampAndConstant) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const F16 t = {-200.0f, -125.0f, -1.0f,  -0.5f, 0.0f,  0.25f,  1.0f, 10.0f,
                 127.0f,  128.0f,  200.0f, nan,   -3.0f, -0.75f, 0.5f, 2.0f};
  const F16 full = Exp2(t, kExp2Full);
  const F16 unit = Exp2(t, kExp2UpToOne);
  for (int l = 0; l < 16; ++l) {
    const double x = t[l];
    if (std::isnan(x) || x <= -125.0) {
      // The small end, a normal number.
      EXPECT_NEAR(full[l] / std::ldexp(1.0, -125), 1.0, 2e-7) << x;
      EXPECT_EQ(unit[l], std::ldexp(1.0f, -125)) << x;
    } else if (x >= 128.0) {
      EXPECT_EQ(full[l], std::numeric_limits<float>::infinity()) << x;
    } else {
      EXPECT_NEAR(full[l] / std::exp2(x), 1.0, 2e-7) << x;
    }
    if (x >= 0.0) {
      EXPECT_EQ(unit[l], 1.0f) << x;  // powers of s in [0, 1] stop at 1
    } else if (x > -125.0) {
      EXPECT_NEAR(unit[l] / std::exp2(x), 1.0, 3e-7) << x;
    }
  }
  // Whole exponents: exact for the fit of the powers, within the fit's error
  // for the other.
  EXPECT_EQ(unit[2], 0.5f);
  EXPECT_EQ(unit[12], 0.125f);
}

TEST(Lanes, Log2IsCloseAndCountsTinyValuesAsTheSmallestNormal) {
  const F16 x = {1.0f, 2.0f,  0.5f,   3.0f,  1e-30f, 1e30f, 0.7071f, 1.4142f,
                 0.0f, -1.0f, 1e-40f, 10.0f, 0.1f,   7.0f,  1000.0f, 0.999f};
  const F16 y = Log2(x);
  for (int l = 0; l < 16; ++l) {
    const double exact = std::log2(double(x[l]));
    if (x[l] < FLT_MIN) {
      EXPECT_EQ(y[l], -126.0f) << x[l];
    } else {
      EXPECT_NEAR(y[l], exact, 1e-6 * std::max(1.0, std::fabs(exact))) << x[l];
    }
  }
}

template <class M>
void EachLaneAlone() {
  EXPECT_FALSE(Any(M{}));
  for (int l = 0; l < kCount<M>; ++l) {
    M m{};
    m[l] = -1;
    EXPECT_TRUE(Any(m)) << kCount<M> << " lanes, lane " << l;
  }
}

TEST(Lanes, AnySeesEveryLaneAtEveryWidth) {
  EachLaneAlone<Ints<4>>();
  EachLaneAlone<Ints<8>>();
  EachLaneAlone<Ints<16>>();
}

}  // namespace
}  // namespace fw::lanes
