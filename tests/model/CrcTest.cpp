// The table-driven CRCs take several bytes a step; each must equal the
// bit-at-a-time definition for every length and alignment.
#include <gtest/gtest.h>

#include "model/ZXDisk.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

uint16_t Crc16ByBits(std::span<const uint8_t> bytes) {
  uint16_t r = 0xFFFF;
  for (uint8_t b : bytes) {
    r ^= static_cast<uint16_t>(b << 8);
    for (int i = 0; i < 8; ++i)
      r = static_cast<uint16_t>((r & 0x8000) ? (r << 1) ^ 0x1021 : r << 1);
  }
  return r;
}

uint32_t Crc32ByBits(std::span<const uint8_t> bytes) {
  int32_t r = -1;
  for (uint8_t b : bytes) {
    r ^= static_cast<int32_t>(b ^ 0xFFFFFFFFu);
    for (int i = 0; i < 8; ++i) {
      const int32_t t = -(r & 1);
      r = (r >> 1) ^ static_cast<int32_t>(0xEDB88320u & static_cast<uint32_t>(t));
    }
    r ^= -1;
  }
  return static_cast<uint32_t>(r);
}

TEST(Crc, ManyBytesAStepMatchesTheBitwiseDefinition) {
  const auto data = test::PatternBytes(300, 17);
  for (size_t start = 0; start < 8; ++start) {
    for (size_t n = 0; n + start <= 150; ++n) {
      const std::span<const uint8_t> bytes(data.data() + start, n);
      ASSERT_EQ(CalcCrc16(bytes), Crc16ByBits(bytes)) << start << "+" << n;
      ASSERT_EQ(CalcCrc32(bytes), Crc32ByBits(bytes)) << start << "+" << n;
    }
  }
  // Top bits set in every position, where the arithmetic shift matters.
  const std::vector<uint8_t> high(64, 0xFF);
  EXPECT_EQ(CalcCrc32(high), Crc32ByBits(high));
}

}  // namespace
}  // namespace kelvara
