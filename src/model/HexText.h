// Numbers as the program shows them: upper-case hexadecimal, zero-padded.
#pragma once

#include <cstdio>
#include <string>

namespace kelvara {

// `value` in at least `digits` upper-case hexadecimal digits.
inline std::string HexText(unsigned value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, value);
  return buf;
}

}  // namespace kelvara
