// MFM bit coding of double-density floppies, once for every user: the HFE
// format, the flux device and the flux image files.
//
// A data bit takes two cells, a clock cell and a data cell; the data cell is
// the bit, the clock cell is 1 only between two 0 bits; a 1 cell is a flux
// transition. Cells are written here as the textbooks do: 16 cells of a byte,
// the first in time in the top bit.
//
// Sync bytes are written with one clock cell left out, a pattern no data can
// produce: A1 as 0x4489 (the clock before data bit 2 missing) starts every ID
// and data field, C2 as 0x5224 (before bit 3) the index address mark. Fields
// follow three A1s: the mark (FE ID, FB data, F8 deleted data), the field, and
// a CRC-16/CCITT over the A1s, the mark and the field, stored big-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvara::flux {

inline constexpr uint16_t kSyncA1Cells = 0x4489;
inline constexpr uint16_t kSyncC2Cells = 0x5224;
// The clock cell each sync leaves out (0x44A9 -> 0x4489, 0x52A4 -> 0x5224).
inline constexpr uint16_t kMissingClockA1 = 0x0020;
inline constexpr uint16_t kMissingClockC2 = 0x0080;
// The clock cell before data bit 7: 0 after a byte that ends in a 1.
inline constexpr uint16_t kFirstClockCell = 0x8000;

inline constexpr uint8_t kIdMark = 0xFE;
inline constexpr uint8_t kDataMark = 0xFB;
inline constexpr uint8_t kDeletedDataMark = 0xF8;

// The 16 cells of a byte written after a 0 bit.
constexpr uint16_t MfmWord(uint8_t b) {
  uint16_t cells = 0;
  int prev = 0;
  for (int i = 7; i >= 0; --i) {
    const int bit = (b >> i) & 1;
    cells = static_cast<uint16_t>(cells << 2 | (prev == 0 && bit == 0) << 1 | bit);
    prev = bit;
  }
  return cells;
}

// How a (clock, data) pair of cells reads. A (1, 1) pair, which MFM never
// writes, reads as its data cell through a PLL (the cell may be a
// transition that landed early) and as 0 from a stored cell image, whose
// cells are exact.
enum class PairRule { DataCell, ClockVetoes };

// Four data bits from eight cells (first in time in the top bit).
constexpr uint8_t DataNibble(uint8_t cells, PairRule rule) {
  uint8_t n = 0;
  for (int pair = 3; pair >= 0; --pair) {
    const int clock = (cells >> (2 * pair + 1)) & 1;
    const int data = (cells >> (2 * pair)) & 1;
    n = static_cast<uint8_t>(n << 1 | (data && (rule == PairRule::DataCell || !clock)));
  }
  return n;
}

// The CRC register after A1 A1 A1: every field's CRC starts from it, so a
// field whose first A1 was damaged is still checked as a controller checks it.
uint16_t SyncCrc();

// Data bytes of a field of size code N as a WD179x reads it (N taken mod 4).
constexpr size_t FieldBytes(uint8_t sizeCode) {
  return size_t{128} << (sizeCode & 3);
}

}  // namespace kelvara::flux
