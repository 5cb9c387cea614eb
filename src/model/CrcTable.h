// The lookup table of an MSB-first 16-bit CRC (no reflection): entry i is the
// register after shifting the byte i through eight steps of the polynomial.
// The ID and data fields use 0x1021, TeleDisk files 0xA097.
#pragma once

#include <array>
#include <cstdint>

namespace kelvara {

constexpr std::array<uint16_t, 256> MakeCrc16Table(uint16_t poly) {
  std::array<uint16_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    uint16_t r = static_cast<uint16_t>(i << 8);
    for (int bit = 0; bit < 8; ++bit) {
      r = (r & 0x8000) ? static_cast<uint16_t>((r << 1) ^ poly) : static_cast<uint16_t>(r << 1);
    }
    table[i] = r;
  }
  return table;
}

}  // namespace kelvara
