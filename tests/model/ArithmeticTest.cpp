#include "model/Arithmetic.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kelvara {
namespace {

// The in-line helpers against the maths library on the values that matter:
// halves, values just below a half or a whole number, exact multiples and
// times of the size the drive models reach.
TEST(Arithmetic, AgreesWithTheMathsLibrary) {
  const double values[] = {0.0,        0.49999999999999994, 0.5,      1.5,
                           2.5,        199999.99,           200000.0, 400000.0,
                           1234567.75, 3.0e9 + 0.5,         1e-300,   123456789.123456789};
  for (const double x : values) {
    EXPECT_EQ(RoundNonNegative(x), std::llround(x)) << x;
    for (const double y : {200000.0, 1.0, 7.0, 14400000.0}) {
      EXPECT_EQ(RemainderNonNegative(x, y), std::fmod(x, y)) << x << " % " << y;
    }
  }
  // A divisor that is not whole: within a rounding, and inside [0, y).
  const double y = 14400000.0 / 1.003;
  for (const double x : values) {
    const double r = RemainderNonNegative(x, y);
    EXPECT_NEAR(r, std::fmod(x, y), 1e-6) << x;
    EXPECT_TRUE(r >= 0 && r < y) << x;
  }
}

}  // namespace
}  // namespace kelvara
