#include "support/DiskBuilder.h"

#include <algorithm>

#include "support/TempDir.h"

namespace kelvara::test {

void FillStandardDisk(TZX_Disk& disk, int tracks, uint32_t seed) {
  disk.ClearImage();
  for (int t = 0; t < tracks; ++t) {
    for (int r = 1; r <= 16; ++r) {
      AddSector(disk, static_cast<uint8_t>(t), static_cast<uint8_t>(t / 2), 0,
                static_cast<uint8_t>(r), 1, PatternBytes(256, seed * 1000003u + t * 16 + r));
    }
  }
  disk.CountTracks();
}

TSectorRec& AddSector(TZX_Disk& disk, uint8_t track, uint8_t cyl, uint8_t head, uint8_t sec,
                      uint8_t sizeCode, const std::vector<uint8_t>& data, bool good) {
  TTrack& t = disk.GetTrack(track);
  t.Present = 0xFF;
  const uint8_t slot = t.CountSectors();
  TSectorRec& s = t.SectorHeader(slot);
  s.SetId(cyl, head, sec, sizeCode);
  s.DataOk = good ? 0xFF : 0;
  s.ErrorCount = good ? 0 : 1;
  s.SetData(data);
  t.CountSectors();
  return s;
}

void ExpectSameSectors(const TZX_Disk& expected, const TZX_Disk& actual) {
  for (int t = 0; t < kTrackCount; ++t) {
    const TTrack& e = expected.GetTrack(static_cast<uint8_t>(t));
    const TTrack& a = actual.GetTrack(static_cast<uint8_t>(t));
    ASSERT_EQ(e.Present != 0, a.Present != 0) << "track " << t;
    if (!e.Present) continue;
    for (int i = 0; i < kSlotCount; ++i) {
      const TSectorRec& es = e.Sectors[i];
      const TSectorRec& as = a.Sectors[i];
      ASSERT_EQ(es.Present != 0, as.Present != 0) << "track " << t << " slot " << i;
      if (!es.Present) continue;
      EXPECT_EQ(es.Cyl, as.Cyl) << "track " << t << " slot " << i;
      EXPECT_EQ(es.Head, as.Head) << "track " << t << " slot " << i;
      EXPECT_EQ(es.Sec, as.Sec) << "track " << t << " slot " << i;
      EXPECT_EQ(es.SizeCode, as.SizeCode) << "track " << t << " slot " << i;
      EXPECT_EQ(es.DataOk != 0, as.DataOk != 0) << "track " << t << " slot " << i;
      ASSERT_EQ(es.DataLength(), as.DataLength()) << "track " << t << " slot " << i;
      EXPECT_TRUE(
          std::equal(es.Data().begin(), es.Data().begin() + es.DataLength(), as.Data().begin()))
          << "data of track " << t << " slot " << i;
    }
  }
}

}  // namespace kelvara::test
