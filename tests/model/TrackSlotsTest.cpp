#include "model/TrackSlots.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::AddSector;
using test::PatternBytes;

TEST(TrackSlots, RemovedSlotPullsTheLaterOnesDownAndEmptiesTheLast) {
  auto disk = std::make_unique<TZX_Disk>();
  for (int r = 0; r < kSlotCount; ++r)
    AddSector(*disk, 4, 2, 0, static_cast<uint8_t>(r + 1), 1, PatternBytes(256, r));
  TTrack& t = disk->GetTrack(4);
  t.Sectors[4].ErrorCount = 7;
  RemoveSlot(t, 3);
  EXPECT_EQ(t.SectorCount, 19);
  EXPECT_EQ(t.Sectors[2].Sec, 3);
  EXPECT_EQ(t.Sectors[3].Sec, 5);
  EXPECT_EQ(t.Sectors[3].ErrorCount, 7);
  EXPECT_EQ(t.Sectors[3].Data()[255], PatternBytes(256, 4)[255]);
  EXPECT_EQ(t.Sectors[18].Sec, 20);
  EXPECT_FALSE(t.Sectors[19].Present);
  EXPECT_EQ(t.Sectors[19].DataLength(), 0);
}
TEST(TrackSlots, SectorsReachTheRawTrackOfEveryTrackWhateverItsStoredCount) {
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
    EXPECT_EQ(t.RawData()[200], PatternBytes(256, track)[0]) << int(track);
    EXPECT_EQ(t.RawData()[455], PatternBytes(256, track)[255]) << int(track);
    EXPECT_EQ(t.RawData()[456], 0x4E);
  }
}

}  // namespace
}  // namespace kelvara
