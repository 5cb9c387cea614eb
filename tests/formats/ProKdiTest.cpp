#include <gtest/gtest.h>

#include <memory>

#include "formats/ProKdi.h"
#include "model/FileIO.h"
#include "model/ZXDisk.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::PatternBytes;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

class ProKdiTest : public ::testing::Test {
 protected:
  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
  TempDir dir;
};

TEST_F(ProKdiTest, LoadsFiveSectorsOfEveryTrackWithTheTrueSide) {
  const auto file = PatternBytes(819200, 4);
  WriteBytes(dir / "a.pro", file);
  for (const bool pro : {true, false}) {
    ASSERT_TRUE(pro ? LoadPRO(*disk, dir / "a.pro") : LoadKDI(*disk, dir / "a.pro"));
    EXPECT_EQ(disk->CountTracks(), 160);
    EXPECT_EQ(disk->GetTrack(0).Sectors[4].Sec, pro ? 9 : 5);
    EXPECT_EQ(disk->GetTrack(1).Sectors[4].Sec, 5);
    for (int t = 0; t < 160; ++t) {
      const TTrack& track = disk->GetTrack(static_cast<uint8_t>(t));
      for (int k = 0; k < 5; ++k) {
        const TSectorRec& s = track.Sectors[k];
        ASSERT_TRUE(s.Present);
        EXPECT_EQ(s.Cyl, t / 2);
        EXPECT_EQ(s.Head, t % 2) << "the head byte is the side";
        EXPECT_EQ(s.SizeCode, 3);
        EXPECT_EQ(s.HeaderCrc, IdFieldCrc(s.Cyl, s.Head, s.Sec, 3));
        EXPECT_EQ(s.DataOk, 0xFF);
        ASSERT_EQ(s.DataLength(), 1024);
        const auto at = file.begin() + t * 5120 + k * 1024;
        ASSERT_TRUE(std::equal(at, at + 1024, s.Data().begin())) << t << "/" << k;
      }
      EXPECT_FALSE(track.Sectors[5].Present);
    }
  }
}

TEST_F(ProKdiTest, PartialOrOversizedFilesKeepEveryWholeSectorAndSaySo) {
  // Half a track is two whole sectors and half a third, padded and bad.
  EXPECT_TRUE(ReadProBytes(*disk, PatternBytes(2560, 1)));
  EXPECT_EQ(disk->CountTracks(), 1);
  EXPECT_EQ(disk->GetTrack(0).CountSectors(), 3);
  EXPECT_EQ(disk->GetTrack(0).Sectors[2].DataOk, 0);
  EXPECT_EQ(disk->StatusText,
            "PRO file ends inside track 0.0: 2 of 5 sectors read, and 512 bytes of sector 3 "
            "(padded with zeros, marked bad).");
  EXPECT_TRUE(ReadKdiBytes(*disk, PatternBytes(5120 + 3 * 1024, 1)));
  EXPECT_EQ(disk->GetTrack(1).CountSectors(), 3);
  EXPECT_EQ(disk->StatusText, "KDI file ends inside track 0.1: 3 of 5 sectors read.");

  EXPECT_TRUE(ReadKdiBytes(*disk, PatternBytes(169 * 5120, 1)));
  EXPECT_EQ(disk->StatusText, "1 track(s) beyond track 83.1 not loaded.");
  EXPECT_EQ(disk->CountTracks(), 168);
}

TEST_F(ProKdiTest, RoundTripsAreExact) {
  const auto file = PatternBytes(819200, 8);
  ASSERT_TRUE(ReadProBytes(*disk, file));
  std::vector<uint8_t> out;
  ASSERT_TRUE(BuildProBytes(*disk, out));
  EXPECT_EQ(out, file);
  ASSERT_TRUE(ReadKdiBytes(*disk, file));
  ASSERT_TRUE(BuildKdiBytes(*disk, out));
  EXPECT_EQ(out, file);
}

TEST_F(ProKdiTest, WritersTakeSectorsByNumberFromTheFirstFiveSlots) {
  ASSERT_TRUE(ReadKdiBytes(*disk, PatternBytes(4 * 5120, 2)));
  TTrack& t1 = disk->GetTrack(1);
  std::swap(t1.Sectors[0], t1.Sectors[3]);
  std::vector<uint8_t> kdi;
  ASSERT_TRUE(BuildKdiBytes(*disk, kdi));
  EXPECT_EQ(kdi, PatternBytes(4 * 5120, 2)) << "slot order does not matter";

  // KDI track 0 has no sector 9: the PRO writer refuses and writes nothing.
  const std::vector<uint8_t> old = {1, 2, 3};
  WriteBytes(dir / "x.pro", old);
  EXPECT_EQ(SavePRO(*disk, dir / "x.pro").text,
            "Track 0.0 has no sector 9 among its first 5 slots!");
  EXPECT_EQ(ReadBytes(dir / "x.pro"), old);
  EXPECT_TRUE(SaveKDI(*disk, dir / "x.kdi"));

  // Likewise a PRO image has no sector 5 on track 0 for KDI.
  ASSERT_TRUE(ReadProBytes(*disk, PatternBytes(4 * 5120, 2)));
  EXPECT_FALSE(SaveKDI(*disk, dir / "y.kdi"));
  EXPECT_FALSE(FileExists(dir / "y.kdi"));

  // A sector moved past slot 4, or a slot no longer present, is missing.
  std::swap(t1.Sectors[2], t1.Sectors[5]);
  EXPECT_EQ(BuildProBytes(*disk, kdi).text, "Track 0.1 has no sector 3 among its first 5 slots!");
  std::swap(t1.Sectors[2], t1.Sectors[5]);
  t1.Sectors[2].Present = 0;
  EXPECT_FALSE(BuildProBytes(*disk, kdi));
}

TEST_F(ProKdiTest, MissingFileLeavesTheImage) {
  test::FillStandardDisk(*disk, 2);
  EXPECT_FALSE(LoadPRO(*disk, dir / "none.pro"));
  EXPECT_FALSE(LoadKDI(*disk, ""));
  EXPECT_EQ(disk->CountTracks(), 2);
}

}  // namespace
}  // namespace kelvara
