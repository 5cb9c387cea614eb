#include "app/MapCells.h"

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

TEST_F(MapCellsTest, SectorCellsFollowTheStateOfTheirData) {
  test::AddSector(*disk, 5, 2, 1, 1, 1, std::vector<uint8_t>(256, 1), true);
  test::AddSector(*disk, 5, 2, 1, 2, 1, std::vector<uint8_t>(256, 1), false);
  test::AddSector(*disk, 5, 2, 1, 3, 1, {}, true);  // an ID field without data
  EXPECT_EQ(LookOfCell(*disk, 1, 5, false).image, CellImage::LimeSector);
  EXPECT_EQ(LookOfCell(*disk, 2, 5, false).image, CellImage::RedSector);
  EXPECT_EQ(LookOfCell(*disk, 3, 5, false).image, CellImage::YellowSector);
  const CellLook cell = LookOfCell(*disk, 3, 5, false);
  EXPECT_EQ(cell.text, "s03");
  EXPECT_FALSE(cell.whiteText);
}

TEST_F(MapCellsTest, TrackLabelIsBlueWithWhiteTextOnlyWithRawBytes) {
  test::AddSector(*disk, 5, 2, 1, 1, 1, std::vector<uint8_t>(256, 1));
  CellLook label = LookOfCell(*disk, 0, 5, false);
  EXPECT_EQ(label.image, CellImage::YellowTrack);
  EXPECT_EQ(label.text, "T005");
  EXPECT_FALSE(label.whiteText);
  disk->GetTrack(5).RawLength = 6250;
  label = LookOfCell(*disk, 0, 5, false);
  EXPECT_EQ(label.image, CellImage::BlueTrack);
  EXPECT_TRUE(label.whiteText);
}

TEST_F(MapCellsTest, EmptyCellsAreGreyOnlyWhenDisabledSectorsAreShown) {
  test::AddSector(*disk, 0, 0, 0, 1, 1, std::vector<uint8_t>(256, 1));
  EXPECT_EQ(LookOfCell(*disk, 2, 0, false).image, CellImage::None);
  EXPECT_EQ(LookOfCell(*disk, 2, 0, true).image, CellImage::GreySector);
  EXPECT_EQ(LookOfCell(*disk, 0, 9, false).image, CellImage::None);
  const CellLook absent = LookOfCell(*disk, 0, 9, true);
  EXPECT_EQ(absent.image, CellImage::GreyTrack);
  EXPECT_EQ(absent.text, "");
  EXPECT_EQ(LookOfCell(*disk, 4, 9, true).image, CellImage::GreySector);
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
