// Check values of every CRC, and the table-driven code against the bitwise
// definitions.
#include "model/Crc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TempDir.h"

namespace kelvara {
namespace {

std::span<const uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

TEST(Crc16, CheckValues) {
  EXPECT_EQ(CalcCrc16(Bytes("123456789")), 0x29B1);
  EXPECT_EQ(CalcCrc16({}), 0xFFFF);
  const uint8_t syncs[] = {0xA1, 0xA1, 0xA1};
  EXPECT_EQ(CalcCrc16(syncs), 0xCDB4);
  EXPECT_EQ(IdFieldCrc(0, 0, 1, 1), 0xFA0C);
  // Continuing from a register gives the same as one pass.
  const uint8_t id[] = {0xA1, 0xA1, 0xA1, 0xFE, 0, 0, 1, 1};
  EXPECT_EQ(CalcCrc16(std::span(id).subspan(3), CalcCrc16(std::span(id).first(3))), 0xFA0C);
}

TEST(Td0Crc, CheckValues) {
  EXPECT_EQ(Td0Crc(Bytes("abc")), 0x8089);
  EXPECT_EQ(Td0Crc({}), 0);
}

TEST(Crc32, CheckValuesOfTheUdiVariant) {
  EXPECT_EQ(CalcCrc32(Bytes("123456789")), 0x1628D64Du);
  EXPECT_EQ(CalcCrc32(Bytes("abc")), 0xEB52592Fu);
  EXPECT_EQ(CalcCrc32({}), 0xFFFFFFFFu);
  const uint8_t zero[] = {0};
  EXPECT_EQ(CalcCrc32(zero), 0xFFFFFFFFu);
}

// The bit-by-bit definition, to check the table against every byte value
// and long runs (the arithmetic shift is easy to get wrong in a table).
uint32_t Crc32BitByBit(std::span<const uint8_t> bytes) {
  int32_t r = -1;
  for (uint8_t b : bytes) {
    r ^= static_cast<int32_t>(b ^ 0xFFFFFFFFu);
    for (int i = 0; i < 8; ++i) {
      const int32_t t = -(r & 1);
      r = (r >> 1) ^ static_cast<int32_t>(0xEDB88320u & static_cast<uint32_t>(t));
    }
    r ^= static_cast<int32_t>(0xFFFFFFFFu);
  }
  return static_cast<uint32_t>(r);
}

uint16_t Crc16BitByBit(std::span<const uint8_t> bytes) {
  uint16_t r = 0xFFFF;
  for (uint8_t b : bytes) {
    r ^= static_cast<uint16_t>(b << 8);
    for (int i = 0; i < 8; ++i)
      r = static_cast<uint16_t>((r & 0x8000) ? (r << 1) ^ 0x1021 : r << 1);
  }
  return r;
}

// Both CRCs take several bytes a step, with the rest one at a time: every
// length and starting offset must agree with the definition.
TEST(Crc, EveryLengthAndOffsetMatchesBitwiseDefinition) {
  const auto data = test::PatternBytes(160, 17);
  for (size_t start = 0; start < 8; ++start) {
    for (size_t n = 0; n + start <= 150; ++n) {
      const std::span<const uint8_t> bytes(data.data() + start, n);
      ASSERT_EQ(CalcCrc16(bytes), Crc16BitByBit(bytes)) << start << "+" << n;
      ASSERT_EQ(CalcCrc32(bytes), Crc32BitByBit(bytes)) << start << "+" << n;
    }
  }
}

TEST(Crc32, TableMatchesBitwiseDefinition) {
  std::vector<uint8_t> all(4096);
  for (size_t i = 0; i < all.size(); ++i)
    all[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  EXPECT_EQ(CalcCrc32(all), Crc32BitByBit(all));
  for (int b = 0; b < 256; ++b) {
    const uint8_t one[] = {static_cast<uint8_t>(b), 0x55};
    ASSERT_EQ(CalcCrc32(one), Crc32BitByBit(one)) << b;
  }
}

}  // namespace
}  // namespace kelvara
