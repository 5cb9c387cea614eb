#include "model/ByteReader.h"

#include <gtest/gtest.h>

namespace kelvara {
namespace {

TEST(ByteReader, ReadsLittleEndianValues) {
  const uint8_t data[] = {0x01, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12};
  ByteReader r(data);
  uint8_t a;
  uint16_t b;
  uint32_t c;
  EXPECT_TRUE(r.U8(a));
  EXPECT_TRUE(r.U16(b));
  EXPECT_TRUE(r.U32(c));
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 0x1234);
  EXPECT_EQ(c, 0x12345678u);
  EXPECT_TRUE(r.AtEnd());
  EXPECT_TRUE(r.Ok());
}

TEST(ByteReader, RunningOffTheEndFailsCleanlyAndStaysFailed) {
  const uint8_t data[] = {1, 2, 3};
  ByteReader r(data);
  uint32_t v = 99;
  EXPECT_FALSE(r.U32(v));
  EXPECT_EQ(v, 0u);
  EXPECT_FALSE(r.Ok());
  uint8_t b = 7;
  EXPECT_FALSE(r.U8(b));  // sticky: a later short read cannot succeed
  EXPECT_EQ(r.Pos(), 0u);

  ByteReader r2(data);
  uint8_t out[4] = {9, 9, 9, 9};
  EXPECT_FALSE(r2.Bytes(out));
  EXPECT_EQ(out[0], 0);
  ByteReader r3(data);
  EXPECT_FALSE(r3.Skip(4));
  ByteReader r4(data);
  EXPECT_TRUE(r4.Seek(3));
  EXPECT_FALSE(r4.Seek(4));
  ByteReader r5(data);
  std::span<const uint8_t> view;
  EXPECT_TRUE(r5.View(3, view));
  EXPECT_EQ(view.size(), 3u);
  EXPECT_FALSE(r5.View(1, view));
  EXPECT_TRUE(view.empty());
}

TEST(ByteReader, HugeLengthsDoNotWrapAround) {
  const uint8_t data[] = {1, 2, 3};
  ByteReader r(data);
  uint8_t b;
  r.U8(b);
  EXPECT_FALSE(r.Skip(SIZE_MAX));
  EXPECT_FALSE(r.Ok());
}

TEST(ByteWriter, WritesAndPatchesLittleEndian) {
  ByteWriter w;
  w.U16(0x1234);
  w.U32(0);
  w.PatchU32(2, 0xAABBCCDD);
  w.Fill(2, 0xEE);
  EXPECT_EQ(w.Data(), (std::vector<uint8_t>{0x34, 0x12, 0xDD, 0xCC, 0xBB, 0xAA, 0xEE, 0xEE}));
}

}  // namespace
}  // namespace kelvara
