#include "model/ZXDisk.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

TEST(Track, ClearTrackKeepsTrackNoAndEmptiesEverythingElse) {
  TTrack t(7);
  t.Present = 0xFF;
  t.RawValid = 1;
  t.RawLength = 100;
  t.RawData[50] = 9;
  t.Log.push_back("line");
  t.Sectors[3].Present = 0xFF;
  t.Sectors[3].Data[1099] = 1;
  t.CountSectors();
  t.ClearTrack();
  EXPECT_EQ(t.TrackNo, 7);
  EXPECT_EQ(t.Present, 0);
  EXPECT_EQ(t.SectorCount, 0);
  EXPECT_EQ(t.RawValid, 0);
  EXPECT_EQ(t.RawLength, 0);
  EXPECT_EQ(t.RawData[50], 0);
  EXPECT_TRUE(t.Log.empty());
  EXPECT_EQ(t.Sectors[3].Present, 0);
  EXPECT_EQ(t.Sectors[3].Data[1099], 0);
}

TEST(Track, CountSectorsCountsAcrossGaps) {
  TTrack t;
  t.Sectors[0].Present = 1;
  t.Sectors[1].Present = 0xFF;
  t.Sectors[3].Present = 1;
  EXPECT_EQ(t.CountSectors(), 3);
  EXPECT_EQ(t.SectorCount, 3);
}

class SectorsToRawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t.Present = 0xFF;
    t.RawValid = 1;
    t.RawLength = 100;
    t.RawData.fill(0x4E);
    TSectorRec& s = t.Sectors[0];
    s.Present = 0xFF;
    s.DataLength = 10;
    s.Data.fill(0xAA);
    t.CountSectors();
  }
  TTrack t;
};

TEST_F(SectorsToRawTest, CopiesDataEndingStrictlyInsideTheRawTrack) {
  t.Sectors[0].DataOffset = 89;  // ends at 99 < 100
  t.SectorsToRaw();
  EXPECT_EQ(t.RawData[89], 0xAA);
  EXPECT_EQ(t.RawData[98], 0xAA);
  EXPECT_EQ(t.RawData[99], 0x4E);
  EXPECT_EQ(t.RawData[88], 0x4E);
}

TEST_F(SectorsToRawTest, LeavesDataEndingExactlyAtTheRawLength) {
  t.Sectors[0].DataOffset = 90;  // ends at 100 == RawLength
  t.SectorsToRaw();
  EXPECT_EQ(t.RawData[90], 0x4E);
}

TEST_F(SectorsToRawTest, DoesNothingWithoutOffsetRawTrackOrStoredCount) {
  t.Sectors[0].DataOffset = 0;
  t.SectorsToRaw();
  EXPECT_EQ(t.RawData[0], 0x4E);

  t.Sectors[0].DataOffset = 10;
  t.RawValid = 0;
  t.SectorsToRaw();
  EXPECT_EQ(t.RawData[10], 0x4E);

  t.RawValid = 1;
  t.SectorCount = 0;  // walks the stored count, not the present slots
  t.SectorsToRaw();
  EXPECT_EQ(t.RawData[10], 0x4E);
}

TEST(Sector, SetDataCutsToTheSlotCapacity) {
  TSectorRec s;
  std::vector<uint8_t> big(5000, 0x11);
  EXPECT_EQ(s.SetData(big), kSectorDataSize);
  EXPECT_EQ(s.DataLength, kSectorDataSize);
  TTrack t;
  std::vector<uint8_t> raw(20000, 1);
  EXPECT_EQ(t.SetRaw(raw), kRawTrackCapacity);
}

class RecordingView : public DiskView {
 public:
  void ScrollToTopAndRepaint() override { ++repaints; }
  void RefreshSectorCell(uint8_t track, uint8_t slot) override {
    cells.push_back(track * 100 + slot);
  }
  void RefreshTrackCell(uint8_t track) override { labels.push_back(track); }
  int repaints = 0;
  std::vector<int> cells, labels;
};

TEST(Disk, ClearImageResetsImageFieldsButKeepsKeepRawBytes) {
  auto disk = std::make_unique<TZX_Disk>();
  RecordingView view;
  disk->SetView(&view);
  test::FillStandardDisk(*disk, 3);
  disk->UseBaseTemplate = true;
  disk->BaseTrack = 2;
  disk->HeaderText = "header";
  disk->Comment = {"a", "b"};
  disk->KeepRawBytes = true;
  disk->StatusText = "status";
  disk->ClearImage();
  EXPECT_EQ(disk->TrackCount, 0);
  EXPECT_EQ(disk->BaseTrack, kNoBaseTrack);
  EXPECT_FALSE(disk->UseBaseTemplate);
  EXPECT_TRUE(disk->HeaderText.empty());
  EXPECT_TRUE(disk->Comment.empty());
  EXPECT_TRUE(disk->KeepRawBytes);
  EXPECT_EQ(disk->StatusText, "status");
  for (int i = 0; i < kTrackCount; ++i) {
    EXPECT_EQ(disk->GetTrack(static_cast<uint8_t>(i)).TrackNo, i);
    EXPECT_EQ(disk->GetTrack(static_cast<uint8_t>(i)).Present, 0);
  }
  EXPECT_GE(view.repaints, 1);
}

TEST(Disk, CountTracksCountsPresentTracksAnywhere) {
  auto disk = std::make_unique<TZX_Disk>();
  disk->GetTrack(5).Present = 1;
  EXPECT_EQ(disk->CountTracks(), 1);
  disk->GetTrack(167).Present = 0xFF;
  EXPECT_EQ(disk->CountTracks(), 2);
  EXPECT_EQ(disk->TrackCount, 2);
}

TEST(Disk, DataStatesFollowTheDataNotTheReadCount) {
  auto disk = std::make_unique<TZX_Disk>();
  TTrack& t = disk->GetTrack(3);
  t.Present = 0xFF;
  const std::array<uint8_t, 4> bytes = {1, 2, 3, 4};
  for (int i = 0; i < 4; ++i) {
    t.Sectors[i].Present = 0xFF;
    if (i < 3) t.Sectors[i].SetData(bytes);
  }
  t.Sectors[0].DataOk = 0xFF;
  t.Sectors[1].DataOk = 0;  // a CRC error from a file: never read, still bad
  t.Sectors[2].DataOk = 0;
  t.Sectors[2].ErrorCount = 3;
  EXPECT_EQ(SectorDataState(t.Sectors[1]), DataState::Bad);
  EXPECT_EQ(SectorDataState(t.Sectors[3]), DataState::NoData);
  disk->GetTrack(5).Sectors[0].Present = 0xFF;  // in an absent track: not counted
  const DataStateCounts c = disk->CountDataStates();
  EXPECT_EQ(c.good, 1);
  EXPECT_EQ(c.bad, 2);
  EXPECT_EQ(c.noData, 1);
}

TEST(Disk, RefreshCallsReachTheViewAndAreHarmlessWithout) {
  auto disk = std::make_unique<TZX_Disk>();
  disk->RefreshSectorCell(3, 4);  // no view: nothing happens
  RecordingView view;
  disk->SetView(&view);
  disk->RefreshSectorCell(3, 4);
  disk->RefreshTrackCell(9);
  EXPECT_EQ(view.cells, std::vector<int>{304});
  EXPECT_EQ(view.labels, std::vector<int>{9});
}

}  // namespace
}  // namespace kelvara
