// Sector sizes from the size code N of an ID field.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvara {

// Codes 0..3 name the sizes a double-density track holds: 128..1024 bytes.
constexpr bool IsUsableSizeCode(int sizeCode) {
  return sizeCode >= 0 && sizeCode <= 3;
}
// Bytes in a sector of size code N, 128 << N, for codes 0..7 (a track image
// may name sizes up to 16 KB); 0 for codes beyond.
constexpr size_t SizeCodeBytes(int sizeCode) {
  return sizeCode >= 0 && sizeCode <= 7 ? size_t{128} << sizeCode : 0;
}
// Bytes in a sector of a usable size code (0..3).
constexpr int SectorBytes(int sizeCode) {
  return 128 << sizeCode;
}
// Size of a sector's data as the controller reads it. A WD179x (the Beta
// disk interface's controller) looks only at the low two bits of N, so a
// protection's odd size code reads as 128..1024 bytes; the slot keeps the
// code as recorded.
constexpr int ControllerSectorBytes(uint8_t sizeCode) {
  return SectorBytes(sizeCode & 3);
}

}  // namespace kelvara
