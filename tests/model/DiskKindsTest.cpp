#include "model/DiskKinds.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kelvara {
namespace {

// Each sector number once, whatever the interleave and the cylinder's skew.
TEST(DiskKinds, SectorOrderHoldsEverySectorOnce) {
  for (const DiskKind& k : DiskKinds()) {
    for (int cyl : {0, 1, 7, k.cylinders - 1}) {
      std::vector<uint8_t> order = k.SectorOrder(cyl);
      std::sort(order.begin(), order.end());
      for (int i = 0; i < k.sectors; ++i)
        ASSERT_EQ(order[i], k.firstSector + i) << k.key << " " << cyl;
    }
  }
}

TEST(DiskKinds, InterleaveAndSkewPlaceSectors) {
  const DiskKind* opus = FindDiskKind("opus");
  ASSERT_NE(opus, nullptr);
  // Interleave 13 of 18: sector 1 lies 13 positions after sector 0.
  const std::vector<uint8_t> c0 = opus->SectorOrder(0);
  EXPECT_EQ(c0[0], 0);
  EXPECT_EQ(c0[13], 1);
  // Didaktik: in order, the start moving 5 positions a cylinder.
  const std::vector<uint8_t> d1 = FindDiskKind("didaktik")->SectorOrder(1);
  EXPECT_EQ(d1[5], 1);
  EXPECT_EQ(d1[4], 9);
  EXPECT_EQ(FindDiskKind("nothing"), nullptr);
}

}  // namespace
}  // namespace kelvara
