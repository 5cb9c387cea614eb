#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "formats/ImageFiles.h"
#include "formats/ProKdi.h"
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

// The three plain sector dumps share their reader and writer.
struct Dump {
  const char* name;
  bool (*read)(TZX_Disk&, std::span<const uint8_t>);
  WriteResult (*build)(const TZX_Disk&, std::vector<uint8_t>&);
  size_t sectors, sectorSize;
};
const Dump kTrd = {"TRD", ReadTrdBytes, BuildTrdBytes, 16, 256};
const Dump kPro = {"PRO", ReadProBytes, BuildProBytes, 5, 1024};
const Dump kKdi = {"KDI", ReadKdiBytes, BuildKdiBytes, 5, 1024};

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
  EXPECT_TRUE(std::equal(file.begin() + 2048, file.begin() + 2304, s9.Data().begin()));
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
      EXPECT_EQ(s.DataLength(), 256);
    }
    EXPECT_FALSE(track.Sectors[16].Present);
  }
  EXPECT_EQ(disk->GetTrack(0).SectorHeader(0).HeaderCrc, 0xFA0C);
}

TEST_F(TrdTest, FileEndingInsideATrackKeepsEveryWholeSectorAndSaysSo) {
  // 17 tracks and 3 sectors: the rounding once counted 17 tracks and lost them.
  const auto file = PatternBytes(70400, 1);
  ASSERT_TRUE(ReadTrdBytes(*disk, file));
  EXPECT_EQ(disk->CountTracks(), 18);
  EXPECT_EQ(disk->GetTrack(17).CountSectors(), 3);
  EXPECT_TRUE(
      std::equal(file.end() - 256, file.end(), disk->GetTrack(17).Sectors[2].Data().begin()));
  const std::string noCatalog = std::string(" ") + kTrdNoCatalogNote;
  EXPECT_EQ(disk->StatusText, "TRD file ends inside track 8.1: 3 of 16 sectors read." + noCatalog);

  // 100 bytes of a ninth sector are kept too, padded with zeros and bad.
  const auto odd = PatternBytes(4096 + 2048 + 100, 5);
  ASSERT_TRUE(ReadTrdBytes(*disk, odd));
  const TSectorRec& s9 = disk->GetTrack(1).Sectors[8];
  EXPECT_EQ(disk->GetTrack(1).CountSectors(), 9);
  EXPECT_TRUE(std::equal(odd.end() - 100, odd.end(), s9.Data().begin()));
  EXPECT_EQ(s9.Data()[100], 0);
  EXPECT_EQ(s9.DataLength(), 256);
  EXPECT_EQ(s9.DataOk, 0);
  EXPECT_EQ(disk->StatusText,
            "TRD file ends inside track 0.1: 8 of 16 sectors read, and 100 bytes of sector 9 "
            "(padded with zeros, marked bad)." +
                noCatalog);

  ASSERT_TRUE(ReadTrdBytes(*disk, PatternBytes(10240, 1)));
  EXPECT_EQ(disk->CountTracks(), 3);
}

TEST_F(TrdTest, FileOfMoreTracksThanTheImageLoadsTheFirst168AndSaysSo) {
  WriteBytes(dir / "big.trd", PatternBytes(700000, 1));  // 170.9 tracks
  ASSERT_TRUE(LoadTRD(*disk, dir / "big.trd"));
  EXPECT_EQ(disk->CountTracks(), 168);
  EXPECT_EQ(disk->StatusText,
            std::string("3 track(s) beyond track 83.1 not loaded. ") + kTrdNoCatalogNote);
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

TEST_F(TrdTest, SaveTakesSectorsByNumberNotBySlotAndIgnoresState) {
  test::FillStandardDisk(*disk, 1);
  TTrack& t = disk->GetTrack(0);
  std::swap(t.Sectors[0], t.Sectors[4]);  // slot 0 holds sector 5, slot 4 sector 1
  t.Sectors[0].DataOk = 0;
  const std::vector<uint8_t> s5(t.Sectors[0].Data().begin(), t.Sectors[0].Data().begin() + 256);
  const std::vector<uint8_t> s1(t.Sectors[4].Data().begin(), t.Sectors[4].Data().begin() + 256);
  ASSERT_TRUE(SaveTRD(*disk, dir / "o.trd"));
  const auto out = ReadBytes(dir / "o.trd");
  ASSERT_EQ(out.size(), 4096u);
  EXPECT_TRUE(std::equal(s1.begin(), s1.end(), out.begin()));
  EXPECT_TRUE(std::equal(s5.begin(), s5.end(), out.begin() + 4 * 256));
}

TEST_F(TrdTest, SaveRefusesAbsentTracksMissingSectorsAndOtherSizesAndKeepsTheOldFile) {
  test::FillStandardDisk(*disk, 21);
  const std::vector<uint8_t> old = {1, 2, 3};
  WriteBytes(dir / "keep.trd", old);
  disk->GetTrack(10).Present = 0;  // removed from the map, slots kept
  EXPECT_EQ(SaveTRD(*disk, dir / "keep.trd").text,
            "Track 5.0 is absent: a TRD file cannot leave out a track!");
  disk->GetTrack(10).Present = 0xFF;
  disk->GetTrack(3).Sectors[4].SizeCode = 3;
  EXPECT_EQ(SaveTRD(*disk, dir / "keep.trd").text,
            "Track 1.1, sector 5: a 1024-byte sector does not fit a TRD file of 256-byte sectors!");
  disk->GetTrack(3).Sectors[4].SizeCode = 5;  // read by a WD179x as 256 bytes
  disk->GetTrack(4).Sectors[0].Sec = 17;
  EXPECT_EQ(SaveTRD(*disk, dir / "keep.trd").text,
            "Track 2.0 has no sector 1 among its first 16 slots!");
  // Sector 16 only in slot 16 is missing too.
  disk->GetTrack(4).Sectors[0].Sec = 1;
  TTrack& t = disk->GetTrack(5);
  t.Sectors[16] = t.Sectors[15];
  t.Sectors[15].Sec = 99;
  EXPECT_EQ(SaveTRD(*disk, dir / "keep.trd").text,
            "Track 2.1 has no sector 16 among its first 16 slots!");
  EXPECT_EQ(ReadBytes(dir / "keep.trd"), old);
}

TEST_F(TrdTest, SaveWalksToTheLastPresentTrack) {
  // A track removed at the end is left out; one removed inside the disk
  // once cost the last track's data.
  test::FillStandardDisk(*disk, 20);
  disk->GetTrack(19).Present = 0;
  std::vector<uint8_t> out;
  ASSERT_TRUE(BuildTrdBytes(*disk, out));
  EXPECT_EQ(out.size(), 19u * 4096);
}

// Whole tracks and 100 bytes more: the fragment's sector is kept, and the
// note names its track and the sector number that track gives it (PRO's
// track 0 ends in sector 9).
TEST_F(TrdTest, DumpsOfWholeTracksAndAFragmentKeepItsSector) {
  const struct {
    const Dump& d;
    size_t wholeSectors;
    int track;
    size_t slot;
    int sec;
  } cases[] = {{kTrd, 16, 1, 0, 1},
               {kTrd, 167 * 16, 167, 0, 1},
               {kPro, 4, 0, 4, 9},
               {kPro, 5, 1, 0, 1},
               {kKdi, 3 * 5, 3, 0, 1}};
  for (const auto& c : cases) {
    const auto file = PatternBytes(c.wholeSectors * c.d.sectorSize + 100, 7);
    ASSERT_TRUE(c.d.read(*disk, file)) << c.d.name;
    TTrack& track = disk->GetTrack(static_cast<uint8_t>(c.track));
    EXPECT_EQ(track.CountSectors(), static_cast<int>(c.slot) + 1) << c.d.name << c.track;
    const TSectorRec& s = track.Sectors[c.slot];
    EXPECT_EQ(s.Sec, c.sec);
    EXPECT_EQ(s.DataOk, 0);
    EXPECT_TRUE(std::equal(file.end() - 100, file.end(), s.Data().begin()));
    EXPECT_EQ(disk->StatusText, std::string(c.d.name) + " file ends inside track " +
                                    CylSideText(c.track) + ": " + std::to_string(c.slot) + " of " +
                                    std::to_string(c.d.sectors) +
                                    " sectors read, and 100 bytes of sector " +
                                    std::to_string(c.sec) + " (padded with zeros, marked bad)." +
                                    (&c.d == &kTrd ? std::string(" ") + kTrdNoCatalogNote : ""));
  }
}

// An image without a present track would make an empty file: refused, as
// UDI refuses it. A slot without data goes into the file as zeros, and the
// result says so.
TEST_F(TrdTest, DumpsRefuseNoTracksAndNoteSectorsSavedAsZeros) {
  for (const Dump* d : {&kTrd, &kPro, &kKdi}) {
    auto none = std::make_unique<TZX_Disk>();
    std::vector<uint8_t> out;
    WriteResult r = d->build(*none, out);
    EXPECT_FALSE(r) << d->name;
    EXPECT_EQ(r.text, "The image has no tracks to save!");
    ASSERT_TRUE(d->read(*disk, PatternBytes(3 * d->sectors * d->sectorSize, 2)));
    disk->GetTrack(1).Sectors[1].ClearData();
    disk->GetTrack(2).Sectors[0].ClearData();
    r = d->build(*disk, out);
    ASSERT_TRUE(r) << r.text;
    EXPECT_EQ(r.note, std::string(d->name) +
                          " file: 2 sector(s) without data saved as zeros (the first: track 0.1, "
                          "sector 2).");
  }
  // The note reaches the caller of the save by extension.
  EXPECT_EQ(SaveImageFile(*disk, dir / "a.kdi", {}).notes,
            std::vector<std::string>{"KDI file: 2 sector(s) without data saved as zeros (the "
                                     "first: track 0.1, sector 2)."});
  EXPECT_FALSE(SaveImageFile(*std::make_unique<TZX_Disk>(), dir / "b.trd", {}).ok);
  EXPECT_FALSE(std::filesystem::exists(dir / "b.trd"));
}

}  // namespace
}  // namespace kelvara
