// Rounding and remainders of non-negative times, in line: the drive models
// need nothing else of the maths library, and kelvara-cli then loads none
// (mapping it alone costs a third of a megabyte of the program's memory).
#pragma once

#include <cstdint>

namespace kelvara {

// x rounded to the nearest whole number, halves away from zero, for
// 0 <= x < 2^52 (where x minus its whole part is exact): std::llround's value.
constexpr int64_t RoundNonNegative(double x) {
  const auto whole = static_cast<int64_t>(x);
  return x - static_cast<double>(whole) >= 0.5 ? whole + 1 : whole;
}

// The remainder of x / y, in [0, y), for x >= 0 and y > 0. Exactly
// std::fmod's value when y is a whole number and x < 2^52 (the product and
// the difference are then exact); otherwise within a rounding of it.
constexpr double RemainderNonNegative(double x, double y) {
  double r = x - static_cast<double>(static_cast<int64_t>(x / y)) * y;
  if (r < 0) r += y;  // x / y rounded up to a whole number
  if (r >= y) r -= y;
  return r;
}

}  // namespace kelvara
