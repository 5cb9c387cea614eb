#include "model/ZXDisk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <utility>

#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

TEST(Track, ClearTrackKeepsTrackNoAndEmptiesEverythingElse) {
  TTrack t(7);
  t.Present = 0xFF;
  t.RawValid = 1;
  t.MutableRaw(100)[50] = 9;
  t.Log.push_back("line");
  t.Sectors[3].Present = 0xFF;
  t.Sectors[3].MutableData(kSectorDataSize)[1099] = 1;
  t.CountSectors();
  t.ClearTrack();
  EXPECT_EQ(t.TrackNo, 7);
  EXPECT_EQ(t.Present, 0);
  EXPECT_EQ(t.SectorCount, 0);
  EXPECT_EQ(t.RawValid, 0);
  EXPECT_EQ(t.RawLength(), 0);
  EXPECT_TRUE(t.Log.empty());
  EXPECT_EQ(t.Sectors[3].Present, 0);
  EXPECT_EQ(t.Sectors[3].DataLength(), 0);
  // Storage kept for the next raw track shows none of the old bytes.
  EXPECT_EQ(t.MutableRaw(100)[50], 0);
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
    std::ranges::fill(t.MutableRaw(100), 0x4E);
    TSectorRec& s = t.Sectors[0];
    s.Present = 0xFF;
    std::ranges::fill(s.MutableData(10), 0xAA);
    t.CountSectors();
  }
  TTrack t;
};

TEST_F(SectorsToRawTest, CopiesDataEndingStrictlyInsideTheRawTrack) {
  t.Sectors[0].DataOffset = 89;  // ends at 99 < 100
  t.SectorsToRaw();
  EXPECT_EQ(t.RawData()[89], 0xAA);
  EXPECT_EQ(t.RawData()[98], 0xAA);
  EXPECT_EQ(t.RawData()[99], 0x4E);
  EXPECT_EQ(t.RawData()[88], 0x4E);
}

TEST_F(SectorsToRawTest, LeavesDataEndingExactlyAtTheRawLength) {
  t.Sectors[0].DataOffset = 90;  // ends at 100 == RawLength
  t.SectorsToRaw();
  EXPECT_EQ(t.RawData()[90], 0x4E);
}

TEST_F(SectorsToRawTest, DoesNothingWithoutOffsetRawTrackOrStoredCount) {
  t.Sectors[0].DataOffset = 0;
  t.SectorsToRaw();
  EXPECT_EQ(t.RawData()[0], 0x4E);

  t.Sectors[0].DataOffset = 10;
  t.RawValid = 0;
  t.SectorsToRaw();
  EXPECT_EQ(t.RawData()[10], 0x4E);

  t.RawValid = 1;
  t.SectorCount = 0;  // walks the stored count, not the present slots
  t.SectorsToRaw();
  EXPECT_EQ(t.RawData()[10], 0x4E);
}

TEST(Sector, StorageHoldsWhatIsThereWithinTheCapacities) {
  // An empty track costs its records, not the capacities.
  EXPECT_LT(sizeof(TTrack), 2048u);
  TSectorRec s;
  std::vector<uint8_t> big(5000, 0x11);
  EXPECT_EQ(s.SetData(big), kSectorDataSize);
  EXPECT_EQ(s.DataLength(), kSectorDataSize);
  EXPECT_EQ(s.MutableData(9000).size(), size_t{kSectorDataSize});
  // Sizing keeps the bytes that stay and adds zeros; reading past the data
  // asks for the padding.
  s.MutableData(4);
  EXPECT_EQ(s.MutableData(6).size(), 6u);
  EXPECT_EQ(std::vector<uint8_t>(s.Data().begin(), s.Data().end()),
            (std::vector<uint8_t>{0x11, 0x11, 0x11, 0x11, 0, 0}));
  std::array<uint8_t, 8> field;
  field.fill(0xEE);
  s.CopyDataPadded(field);
  EXPECT_EQ(field, (std::array<uint8_t, 8>{0x11, 0x11, 0x11, 0x11, 0, 0, 0, 0}));
  TTrack t;
  std::vector<uint8_t> raw(20000, 1);
  EXPECT_EQ(t.SetRaw(raw), kRawTrackCapacity);
  EXPECT_EQ(t.MutableRaw(20000).size(), size_t{kRawTrackCapacity});
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

// The first track/slot where two images differ in presence, ID or data.
std::string FirstOtherSlot(const TZX_Disk& x, const TZX_Disk& y) {
  for (int t = 0; t < kTrackCount; ++t) {
    const TTrack& tx = x.GetTrack(static_cast<uint8_t>(t));
    const TTrack& ty = y.GetTrack(static_cast<uint8_t>(t));
    for (int s = 0; s < kSlotCount; ++s) {
      const TSectorRec& a = tx.Sectors[s];
      const TSectorRec& b = ty.Sectors[s];
      if (tx.Present != ty.Present || a.Present != b.Present || a.Sec != b.Sec ||
          a.HeaderCrc != b.HeaderCrc || !std::ranges::equal(a.Data(), b.Data()))
        return std::to_string(t) + "/" + std::to_string(s);
    }
  }
  return "";
}

TEST(Disk, CopyFromCopiesEverythingButTheViewAndReusesStorage) {
  auto original = std::make_unique<TZX_Disk>();
  auto copy = std::make_unique<TZX_Disk>();
  test::FillStandardDisk(*original, 3);
  original->GetTrack(1).SetRaw(std::array<uint8_t, 3>{1, 2, 3});
  original->GetTrack(2).Log = {"line"};
  original->Comment = {"c"};
  original->BaseTrack = 1;
  RecordingView view;
  copy->SetView(&view);
  copy->CopyFrom(*original);
  const uint8_t* storage = copy->GetTrack(2).Sectors[5].Data().data();
  copy->GetTrack(2).Sectors[5].MutableData()[0] ^= 0xFF;
  EXPECT_NE(copy->GetTrack(2).Sectors[5].Data()[0], original->GetTrack(2).Sectors[5].Data()[0]);
  copy->CopyFrom(*original);
  EXPECT_EQ(copy->GetTrack(2).Sectors[5].Data().data(), storage);
  EXPECT_EQ(copy->View(), &view);
  EXPECT_EQ(copy->TrackCount, original->TrackCount);
  EXPECT_EQ(copy->BaseTrack, 1);
  EXPECT_EQ(copy->Comment, original->Comment);
  EXPECT_EQ(copy->GetTrack(2).Log, original->GetTrack(2).Log);
  EXPECT_EQ(copy->GetTrack(1).RawLength(), 3);
  EXPECT_EQ(FirstOtherSlot(*original, *copy), "");
}

TEST(Disk, CopyFromAgainCopiesWhatChangedOnEitherSideSince) {
  auto a = std::make_unique<TZX_Disk>();
  auto b = std::make_unique<TZX_Disk>();
  auto other = std::make_unique<TZX_Disk>();
  test::FillStandardDisk(*a, 3);
  test::FillStandardDisk(*other, 5);
  b->CopyFrom(*a);
  const uint32_t before = a->TrackChanges(1);
  std::as_const(*a).GetTrack(1);  // reading is no change
  EXPECT_EQ(a->TrackChanges(1), before);
  a->GetTrack(1).Sectors[0].MutableData()[0] ^= 0x55;
  EXPECT_NE(a->TrackChanges(1), before);
  b->GetTrack(2).Sectors[3].MutableData()[7] ^= 0x66;
  b->GetTrack(9).Present = 0xFF;
  b->CopyFrom(*a);
  EXPECT_EQ(FirstOtherSlot(*a, *b), "");
  EXPECT_EQ(b->GetTrack(9).Present, 0);
  b->CopyFrom(*other);  // another image between two copies of the same
  EXPECT_EQ(FirstOtherSlot(*other, *b), "");
  b->CopyFrom(*a);
  EXPECT_EQ(FirstOtherSlot(*a, *b), "");
  for (uint8_t t : {0, 2, 63, 64, 130, 167})
    b->GetTrack(t).Present ^= 0x0F;  // this side only
  b->CopyFrom(*a);
  EXPECT_EQ(FirstOtherSlot(*a, *b), "");
  a->ClearImage();
  b->CopyFrom(*a);
  EXPECT_EQ(FirstOtherSlot(*a, *b), "");
  EXPECT_EQ(b->PresentTracks(), 0);
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
