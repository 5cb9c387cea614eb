#include "session/MapCells.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/DiskBuilder.h"

namespace kelvara {
namespace {

class MapCellsTest : public ::testing::Test {
 protected:
  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
};

TEST(MapCellTexts, TrackLabelsAndTheLastTwoDigitsOfTheSectorNumber) {
  EXPECT_EQ(TrackCellText(0), "T000");
  EXPECT_EQ(TrackCellText(7), "T007");
  EXPECT_EQ(TrackCellText(167), "T167");
  EXPECT_EQ(SectorCellText(0), "s00");
  EXPECT_EQ(SectorCellText(5), "s05");
  EXPECT_EQ(SectorCellText(12), "s12");
  EXPECT_EQ(SectorCellText(100), "s00");
  EXPECT_EQ(SectorCellText(255), "s55");
}

TEST_F(MapCellsTest, SectorsOfAnAbsentTrackAndColumnsPastTheSlotsShowNothing) {
  test::AddSector(*disk, 3, 1, 1, 1, 1, std::vector<uint8_t>(256, 1));
  disk->GetTrack(3).Present = 0;
  EXPECT_EQ(LookOfCell(*disk, 1, 3, true).image, CellImage::None);
  EXPECT_EQ(LookOfCell(*disk, 0, 3, true).image, CellImage::GreyTrack);
  for (int column = kMapColumns; column < kMapColumnsAtCreation; ++column) {
    EXPECT_EQ(LookOfCell(*disk, column, 0, true).image, CellImage::None) << column;
  }
}

}  // namespace
}  // namespace kelvara
