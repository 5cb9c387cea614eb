#include "model/TrackEdits.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::AddSector;
using test::PatternBytes;

TEST(TrackEdits, RemovedSlotPullsTheLaterOnesDownAndEmptiesTheLast) {
  auto disk = std::make_unique<TZX_Disk>();
  for (int r = 0; r < 6; ++r)
    AddSector(*disk, 4, 2, 0, static_cast<uint8_t>(r + 1), 1, PatternBytes(256, r));
  TTrack& t = disk->GetTrack(4);
  t.Sectors[5].ErrorCount = 7;
  RemoveSlot(t, 3);
  EXPECT_EQ(t.SectorCount, 5);
  EXPECT_EQ(t.Sectors[2].Sec, 3);
  EXPECT_EQ(t.Sectors[3].Sec, 5);
  EXPECT_EQ(t.Sectors[4].Sec, 6);
  EXPECT_EQ(t.Sectors[4].ErrorCount, 7);
  EXPECT_EQ(PatternBytes(256, 5),
            std::vector<uint8_t>(t.Sectors[4].Data.begin(), t.Sectors[4].Data.begin() + 256));
  EXPECT_FALSE(t.Sectors[5].Present);
  EXPECT_EQ(t.Sectors[5].DataLength, 0);

  // With all twenty used, the last one becomes a zeroed slot.
  for (int r = 5; r < kSlotCount; ++r)
    AddSector(*disk, 4, 2, 0, 50, 1, PatternBytes(256, 9));
  RemoveSlot(t, 0);
  EXPECT_FALSE(t.Sectors[19].Present);
  EXPECT_EQ(t.Sectors[19].Data[0], 0);
  EXPECT_EQ(t.Sectors[0].Sec, 2);
  RemoveSlot(t, kSlotCount);  // no such slot
  EXPECT_EQ(t.SectorCount, 19);
}

TEST(TrackEdits, NewSectorTakesItsIdFromTheTrackAndKeepsTheSlotsOtherFields) {
  auto disk = std::make_unique<TZX_Disk>();
  TSectorRec& s = disk->GetTrack(5).Sectors[2];
  s.ErrorCount = 3;
  NewSectorInSlot(*disk, 5, 2);
  EXPECT_TRUE(s.Present);
  EXPECT_EQ(s.Cyl, 2);
  EXPECT_EQ(s.Head, 1);
  EXPECT_EQ(s.Sec, 2);
  EXPECT_EQ(s.SizeCode, 1);
  EXPECT_EQ(s.HeaderCrc, IdFieldCrc(2, 1, 2, 1));
  EXPECT_EQ(s.DataOk, 0xFF);
  EXPECT_EQ(s.DataLength, 0);
  EXPECT_EQ(s.ErrorCount, 3);
}

TEST(TrackEdits, DroppedRawTrackKeepsSectorsAndLog) {
  auto disk = std::make_unique<TZX_Disk>();
  AddSector(*disk, 0, 0, 0, 1, 1, PatternBytes(256, 1));
  TTrack& t = disk->GetTrack(0);
  t.SetRaw(PatternBytes(6256, 2));
  t.RawValid = 1;
  t.Log = {"read"};
  DropRawTrack(t);
  EXPECT_EQ(t.RawLength, 0);
  EXPECT_EQ(t.RawValid, 0);
  EXPECT_EQ(t.RawData[100], 0);
  EXPECT_TRUE(t.Sectors[0].Present);
  EXPECT_EQ(t.Log.size(), 1u);
}

TEST(TrackEdits, SectorsReachTheRawTrackOfEveryTrackWhateverItsStoredCount) {
  auto disk = std::make_unique<TZX_Disk>();
  // Track 0 absent and track 9 present: a walk by the track count would
  // stop before track 9.
  for (uint8_t track : {3, 9}) {
    TSectorRec& s = AddSector(*disk, track, 1, 0, 1, 1, PatternBytes(256, track));
    TTrack& t = disk->GetTrack(track);
    t.SetRaw(std::vector<uint8_t>(6256, 0x4E));
    t.RawValid = 1;
    t.SectorCount = 0;  // as a reader that never counted leaves it
    s.DataOffset = 200;
  }
  disk->CountTracks();
  SectorsToRawAll(*disk);
  for (uint8_t track : {3, 9}) {
    const TTrack& t = disk->GetTrack(track);
    EXPECT_EQ(t.RawData[200], PatternBytes(256, track)[0]) << int(track);
    EXPECT_EQ(t.RawData[455], PatternBytes(256, track)[255]) << int(track);
    EXPECT_EQ(t.RawData[456], 0x4E);
  }
}

}  // namespace
}  // namespace kelvara
