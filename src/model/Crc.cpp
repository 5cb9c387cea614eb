#include "model/Crc.h"

#include <array>

namespace kelvara {

namespace {

// The lookup table of an MSB-first 16-bit CRC (no reflection): entry i is the
// register after shifting the byte i through eight steps of the polynomial.
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

// Table-driven MSB-first CRC-16, sixteen bytes a step: table k holds the
// register a byte leaves behind after k more zero bytes. A full disk's raw
// tracks carry over half a megabyte of CRC-covered bytes, and so do the
// sector records of its TD0 file.
constexpr int kCrc16Block = 16;
using Crc16Tables = std::array<std::array<uint16_t, 256>, kCrc16Block>;
constexpr Crc16Tables MakeCrc16Tables(uint16_t poly) {
  Crc16Tables t{};
  t[0] = MakeCrc16Table(poly);
  for (int k = 1; k < kCrc16Block; ++k) {
    for (int i = 0; i < 256; ++i)
      t[k][i] = static_cast<uint16_t>((t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 8]);
  }
  return t;
}
constexpr auto kCrc16Tables = MakeCrc16Tables(0x1021);
constexpr auto kTd0CrcTables = MakeCrc16Tables(0xA097);

uint16_t Crc16(const Crc16Tables& t, std::span<const uint8_t> bytes, uint16_t crc) {
  const uint8_t* p = bytes.data();
  size_t n = bytes.size();
  for (; n >= kCrc16Block; p += kCrc16Block, n -= kCrc16Block) {
    uint16_t r = static_cast<uint16_t>(t[kCrc16Block - 1][(crc >> 8) ^ p[0]] ^
                                       t[kCrc16Block - 2][(crc & 0xFF) ^ p[1]]);
#pragma GCC unroll 16
    for (int k = 2; k < kCrc16Block; ++k)
      r ^= t[kCrc16Block - 1 - k][p[k]];
    crc = r;
  }
  for (; n > 0; ++p, --n)
    crc = static_cast<uint16_t>((crc << 8) ^ t[0][((crc >> 8) ^ *p) & 0xFF]);
  return crc;
}

// The UDI CRC-32 shifts its register arithmetically, so the sign bit is copied
// down and XORed with the polynomial as well. Each step is linear over GF(2),
// so eight steps on a register split into its low byte and the rest: the rest
// only shifts (arithmetically) by eight, the low byte's effect comes from a table.
constexpr uint32_t ShiftEightBits(uint32_t r) {
  for (int bit = 0; bit < 8; ++bit) {
    const uint32_t t = (r & 1) ? 0xFFFFFFFFu : 0u;
    r = static_cast<uint32_t>(static_cast<int32_t>(r) >> 1);
    r ^= 0xEDB88320u & t;
  }
  return r;
}

constexpr std::array<uint32_t, 256> MakeCrc32Table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i)
    table[i] = ShiftEightBits(i);
  return table;
}
constexpr auto kCrc32Table = MakeCrc32Table();

// With the register kept complemented, a byte step is q := L(q ^ b), where
// L(x) = sar(x, 8) ^ table[x & 0xFF] is linear. Sixteen steps at once:
//   q' = L^16(q ^ b0 ^ b1 << 8 ^ b2 << 16) ^ L^13(b3) ^ L^12(b4) ^ ... ^ L(b15),
// since L^16(b << 8k) = L^(16-k)(b) while the byte's top bit stays clear of
// bit 31. The fourth byte cannot be folded into the register's top byte (the
// arithmetic shift would spread its top bit), so it goes through its own
// table. kFolded[k] holds L^16 of a byte at position k of the register,
// kSteps[m] holds L^m of a byte (kSteps[1] is the byte table). A UDI file
// is a megabyte of CRC-covered bytes, and the lookups of one block do not
// wait for each other.
constexpr int kCrc32Block = 16;
constexpr uint32_t StepByte(uint32_t x) {
  return static_cast<uint32_t>(static_cast<int32_t>(x) >> 8) ^ kCrc32Table[x & 0xFF];
}
using Crc32Table = std::array<uint32_t, 256>;
constexpr std::array<Crc32Table, 4> MakeFoldedTables() {
  std::array<Crc32Table, 4> t{};
  for (int k = 0; k < 4; ++k) {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t x = i << (8 * k);
      for (int step = 0; step < kCrc32Block; ++step)
        x = StepByte(x);
      t[k][i] = x;
    }
  }
  return t;
}
constexpr std::array<Crc32Table, kCrc32Block - 2> MakeStepTables() {
  std::array<Crc32Table, kCrc32Block - 2> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t x = i;
    for (size_t m = 1; m < t.size(); ++m) {
      x = StepByte(x);
      t[m][i] = x;
    }
  }
  return t;
}
constexpr auto kFolded = MakeFoldedTables();
constexpr auto kSteps = MakeStepTables();

}  // namespace

uint16_t CalcCrc16(std::span<const uint8_t> bytes, uint16_t crc) {
  return Crc16(kCrc16Tables, bytes, crc);
}

uint32_t CalcCrc32(std::span<const uint8_t> bytes) {
  const uint8_t* p = bytes.data();
  size_t n = bytes.size();
  uint32_t q = 0;  // the register, complemented
  for (; n >= kCrc32Block; p += kCrc32Block, n -= kCrc32Block) {
    const uint32_t x = q ^ p[0] ^ (uint32_t{p[1]} << 8) ^ (uint32_t{p[2]} << 16);
    uint32_t y = kFolded[0][x & 0xFF] ^ kFolded[1][(x >> 8) & 0xFF] ^ kFolded[2][(x >> 16) & 0xFF] ^
                 kFolded[3][x >> 24];
#pragma GCC unroll 16
    for (int k = 3; k < kCrc32Block; ++k)
      y ^= kSteps[kCrc32Block - k][p[k]];
    q = y;
  }
  for (; n > 0; ++p, --n)
    q = StepByte(q ^ *p);
  return ~q;
}

uint16_t IdFieldCrc(uint8_t cyl, uint8_t head, uint8_t sec, uint8_t sizeCode) {
  const uint8_t id[8] = {0xA1, 0xA1, 0xA1, 0xFE, cyl, head, sec, sizeCode};
  return CalcCrc16(id);
}

uint16_t Td0Crc(std::span<const uint8_t> bytes) {
  return Crc16(kTd0CrcTables, bytes, 0);
}

}  // namespace kelvara
