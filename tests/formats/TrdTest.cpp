#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "formats/Trd.h"
#include "model/ZXDisk.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::PatternBytes;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

class TrdTest : public ::testing::Test {
 protected:
  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
  TempDir dir;
};

TEST_F(TrdTest, LoadsAFullDoubleSidedDisk) {
  const auto file = PatternBytes(655360, 3);
  WriteBytes(dir / "a.trd", file);
  ASSERT_TRUE(LoadTRD(*disk, dir / "a.trd"));
  EXPECT_EQ(disk->CountTracks(), 160);
  const TSectorRec& s9 = disk->GetTrack(0).SectorHeader(8);
  EXPECT_EQ(s9.Sec, 9);
  EXPECT_TRUE(std::equal(file.begin() + 2048, file.begin() + 2304, s9.Data.begin()));
  for (int t = 0; t < 160; ++t) {
    const TTrack& track = disk->GetTrack(static_cast<uint8_t>(t));
    ASSERT_TRUE(track.Present);
    EXPECT_EQ(track.SectorCount, 0);  // the reader leaves the count to CountSectors
    for (int i = 0; i < 16; ++i) {
      const TSectorRec& s = track.Sectors[i];
      EXPECT_EQ(s.Cyl, t / 2);
      EXPECT_EQ(s.Head, 0) << "TR-DOS writes head 0 on both sides";
      EXPECT_EQ(s.Sec, i + 1);
      EXPECT_EQ(s.SizeCode, 1);
      EXPECT_EQ(s.HeaderCrc, IdFieldCrc(s.Cyl, 0, s.Sec, 1));
      EXPECT_EQ(s.DataOk, 0xFF);
      EXPECT_EQ(s.DataLength, 256);
    }
    EXPECT_FALSE(track.Sectors[16].Present);
  }
  EXPECT_EQ(disk->GetTrack(0).SectorHeader(0).HeaderCrc, 0xFA0C);
}

TEST_F(TrdTest, TrackCountRoundsHalfToEven) {
  WriteBytes(dir / "half.trd", PatternBytes(2048, 1));
  ASSERT_TRUE(LoadTRD(*disk, dir / "half.trd"));
  EXPECT_EQ(disk->CountTracks(), 0);

  WriteBytes(dir / "twohalf.trd", PatternBytes(10240, 1));
  ASSERT_TRUE(LoadTRD(*disk, dir / "twohalf.trd"));
  EXPECT_EQ(disk->CountTracks(), 2);
  EXPECT_TRUE(disk->StatusText.empty());
}

TEST_F(TrdTest, ShortFinalTrackKeepsItsWholeSectorsAndSaysSo) {
  // 1.5 tracks round to 2: track 1 holds only sectors 1..8 (and 100 bytes
  // of a ninth, which are dropped).
  const auto file = PatternBytes(4096 + 2048 + 100, 5);
  WriteBytes(dir / "short.trd", file);
  ASSERT_TRUE(LoadTRD(*disk, dir / "short.trd"));
  EXPECT_EQ(disk->CountTracks(), 2);
  TTrack& t1 = disk->GetTrack(1);
  EXPECT_EQ(t1.CountSectors(), 8);
  EXPECT_TRUE(std::equal(file.begin() + 4096 + 7 * 256, file.begin() + 4096 + 8 * 256,
                         t1.SectorHeader(7).Data.begin()));
  EXPECT_EQ(disk->StatusText, "TRD file ends inside track 1: 8 of 16 sectors read.");
}

TEST_F(TrdTest, RefusesFilesOfMoreTracksThanTheImageHolds) {
  disk->GetTrack(3).Present = 0xFF;
  WriteBytes(dir / "big.trd", PatternBytes(700000, 1));  // 170.9 -> 171 tracks
  EXPECT_FALSE(LoadTRD(*disk, dir / "big.trd"));
  EXPECT_EQ(disk->StatusText, "TRD file too large: 171 tracks, at most 168!");
  EXPECT_TRUE(disk->GetTrack(3).Present) << "a refused file leaves the image as it was";

  WriteBytes(dir / "max.trd", PatternBytes(168 * 4096, 1));
  EXPECT_TRUE(LoadTRD(*disk, dir / "max.trd"));
  EXPECT_EQ(disk->CountTracks(), 168);
}

TEST_F(TrdTest, MissingFileFailsAndLeavesTheImage) {
  disk->GetTrack(3).Present = 0xFF;
  EXPECT_FALSE(LoadTRD(*disk, dir / "none.trd"));
  EXPECT_FALSE(LoadTRD(*disk, ""));
  EXPECT_TRUE(disk->GetTrack(3).Present);
}

TEST_F(TrdTest, SaveThenLoadRoundTripsByteForByte) {
  const auto file = PatternBytes(655360, 11);
  WriteBytes(dir / "in.trd", file);
  ASSERT_TRUE(LoadTRD(*disk, dir / "in.trd"));
  ASSERT_TRUE(SaveTRD(*disk, dir / "out.trd"));
  EXPECT_EQ(ReadBytes(dir / "out.trd"), file);
}

TEST_F(TrdTest, SaveTakesSectorsByNumberNotBySlotAndIgnoresSizeAndState) {
  test::FillStandardDisk(*disk, 1);
  TTrack& t = disk->GetTrack(0);
  std::swap(t.Sectors[0], t.Sectors[4]);  // slot 0 holds sector 5, slot 4 sector 1
  t.Sectors[0].SizeCode = 2;
  t.Sectors[0].DataOk = 0;
  const std::vector<uint8_t> s5(t.Sectors[0].Data.begin(), t.Sectors[0].Data.begin() + 256);
  const std::vector<uint8_t> s1(t.Sectors[4].Data.begin(), t.Sectors[4].Data.begin() + 256);
  ASSERT_TRUE(SaveTRD(*disk, dir / "o.trd"));
  const auto out = ReadBytes(dir / "o.trd");
  ASSERT_EQ(out.size(), 4096u);
  EXPECT_TRUE(std::equal(s1.begin(), s1.end(), out.begin()));
  EXPECT_TRUE(std::equal(s5.begin(), s5.end(), out.begin() + 4 * 256));
}

TEST_F(TrdTest, SaveByIndexFailsAtFirstTrackWithoutSectorsAndKeepsTheOldFile) {
  // Present tracks 0..9 and 20: eleven present, so indexes 0..10 are
  // written and index 10 has no sectors.
  test::FillStandardDisk(*disk, 10);
  for (int r = 1; r <= 16; ++r) {
    test::AddSector(*disk, 20, 10, 0, static_cast<uint8_t>(r), 1, PatternBytes(256, r));
  }
  const std::vector<uint8_t> old = {1, 2, 3};
  WriteBytes(dir / "keep.trd", old);
  EXPECT_EQ(SaveTRD(*disk, dir / "keep.trd").text, "Track 10 has no sector 1!");
  EXPECT_EQ(ReadBytes(dir / "keep.trd"), old);
}

TEST_F(TrdTest, SaveLooksOnlyAtTheFirstSixteenSlots) {
  test::FillStandardDisk(*disk, 1);
  TTrack& t = disk->GetTrack(0);
  t.Sectors[16] = t.Sectors[15];  // sector 16 moved to slot 16
  t.Sectors[15].Sec = 99;
  EXPECT_EQ(SaveTRD(*disk, dir / "x.trd").text, "Track 0 has no sector 16!");
}

}  // namespace
}  // namespace kelvara
