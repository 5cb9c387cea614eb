#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "formats/Hfe.h"
#include "formats/ImageFiles.h"
#include "model/ZXDisk.h"
#include "support/DiskBuilder.h"
#include "support/ImageFileTest.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::PatternBytes;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

constexpr size_t kArea = 49 * 512;

size_t U16At(const std::vector<uint8_t>& f, size_t at) {
  return f[at] | f[at + 1] << 8;
}
void SetU16(std::vector<uint8_t>& f, size_t at, size_t v) {
  f[at] = static_cast<uint8_t>(v);
  f[at + 1] = static_cast<uint8_t>(v >> 8);
}

// Offset in the file of one side's HFE byte i of a cylinder as the writer lays it out.
size_t CellByte(size_t cyl, int side, size_t i) {
  return 1024 + cyl * kArea + (i / 256) * 512 + side * 256 + i % 256;
}

// The cells of one side of a cylinder in time order, and back.
std::vector<bool> SideCells(const std::vector<uint8_t>& f, size_t cyl, int side) {
  std::vector<bool> cells;
  for (size_t i = 0; i < 2 * 6250; ++i) {
    for (int bit = 0; bit < 8; ++bit)
      cells.push_back((f[CellByte(cyl, side, i)] >> bit) & 1);
  }
  return cells;
}
void SetSideCells(std::vector<uint8_t>& f, size_t cyl, int side, const std::vector<bool>& cells) {
  for (size_t i = 0; i < 2 * 6250; ++i) {
    uint8_t b = 0;
    for (int bit = 0; bit < 8; ++bit)
      b = static_cast<uint8_t>(b | cells[8 * i + bit] << bit);
    f[CellByte(cyl, side, i)] = b;
  }
}
// Puts `count` extra cells (alternating, as a gap would) in at a cell position.
void InsertCells(std::vector<bool>& cells, size_t at, int count) {
  std::vector<bool> gap(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i)
    gap[static_cast<size_t>(i)] = (count - 1 - i) % 2 == 0;
  cells.insert(cells.begin() + static_cast<long>(at), gap.begin(), gap.end());
  cells.resize(cells.size() - static_cast<size_t>(count));
}

// Two standard tracks, then track 1 laid out over raw bytes of its own: one
// sector, its ID at byte 100 and its data mark at `dataMarkAt`.
void OneSectorTrack(TZX_Disk& disk, int dataMarkAt, bool good) {
  test::FillStandardDisk(disk, 2);
  TTrack& t1 = disk.GetTrack(1);
  const std::span<uint8_t> raw = t1.MutableRaw(kRawTrackSize);
  std::ranges::fill(raw, 0x4E);
  const uint8_t id[] = {0xA1, 0xA1, 0xFE};
  const uint8_t dm[] = {0xA1, 0xA1, 0xFB};
  std::copy(std::begin(id), std::end(id), raw.begin() + 100);
  std::copy(std::begin(dm), std::end(dm), raw.begin() + dataMarkAt);
  t1.RawValid = 1;
  for (auto& s : t1.Sectors)
    s.Present = 0;
  test::AddSector(disk, 1, 0, 1, 1, 1, PatternBytes(256, 1), good);
}

class HfeTest : public test::ImageFileTest<BuildHfeBytes> {};

TEST_F(HfeTest, FullDiskRoundTrip) {
  test::FillStandardDisk(*disk, 160, 7);
  const auto f = Saved();
  ASSERT_EQ(f.size(), 1024 + 80 * kArea);
  EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 21),
            (std::vector<uint8_t>{'H', 'X', 'C', 'P', 'I', 'C', 'F', 'E', 0, 80,  2,
                                  0,   250, 0,   0,   0,   2,   1,   1,   0, 0xFF}));
  EXPECT_EQ(U16At(f, 512 + 4 * 79), (1024 + 79 * kArea) / 512);
  EXPECT_EQ(U16At(f, 512 + 4 * 79 + 2), 25000u);

  ASSERT_TRUE(ReadHfeBytes(*back, f)) << back->StatusText;
  EXPECT_EQ(back->StatusText, "");
  test::ExpectSameSectors(*disk, *back);
  for (int t = 0; t < 160; ++t) {
    const TTrack& track = back->GetTrack(static_cast<uint8_t>(t));
    ASSERT_EQ(track.RawLength(), 6250) << t;
    EXPECT_EQ(track.SectorCount, 16);
    EXPECT_EQ(track.Sectors[15].DataOk, 0xFF);
  }
}

TEST_F(HfeTest, ShortImagesAreWrittenAsEightyCylinders) {
  test::FillStandardDisk(*disk, 80, 2);
  auto f = Saved();
  EXPECT_EQ(f[9], 40);
  EXPECT_EQ(f.size(), 1024 + 80 * kArea);
  ASSERT_TRUE(ReadHfeBytes(*back, f));
  EXPECT_EQ(back->CountTracks(), 80);

  // The same file read as single-sided with 80 tracks: the even image
  // tracks, of which those past cylinder 39 are unformatted and so absent.
  f[9] = 80;
  f[10] = 1;
  ASSERT_TRUE(ReadHfeBytes(*back, f)) << back->StatusText;
  EXPECT_EQ(back->CountTracks(), 40);
  for (int t = 0; t < 160; ++t) {
    const TTrack& track = back->GetTrack(static_cast<uint8_t>(t));
    ASSERT_EQ(track.Present != 0, t % 2 == 0 && t < 80) << t;
    ASSERT_EQ(track.RawLength() == 0, !track.Present) << t;
  }
  EXPECT_TRUE(std::equal(back->GetTrack(78).Sectors[3].Data().begin(),
                         back->GetTrack(78).Sectors[3].Data().begin() + 256,
                         disk->GetTrack(78).Sectors[3].Data().begin()));
}

TEST_F(HfeTest, MfmCellsOfPlainAndSyncBytes) {
  // Data at 206: 01 00 A1; the data field's syncs at 202..204; the index
  // mark's at 92..94.
  auto data = PatternBytes(256, 1);
  data[0] = 0x01;
  data[1] = 0x00;
  data[2] = 0xA1;
  test::AddSector(*disk, 0, 0, 0, 1, 1, data);
  const auto f = Saved();
  auto cells = [&](size_t i) {
    return std::pair{f[CellByte(0, 0, 2 * i)], f[CellByte(0, 0, 2 * i + 1)]};
  };
  // The 16 cells, first in time in bit 0 of the first byte.
  EXPECT_EQ(cells(206), std::pair(uint8_t{0x54}, uint8_t{0x95}));   // 01 after FB: 0x2AA9
  EXPECT_EQ(cells(207), std::pair(uint8_t{0x54}, uint8_t{0x55}));   // 00 after 01: 0x2AAA
  EXPECT_EQ(cells(208), std::pair(uint8_t{0x22}, uint8_t{0x95}));   // plain A1: 0x44A9
  EXPECT_EQ(cells(204), std::pair(uint8_t{0x22}, uint8_t{0x91}));   // sync A1: 0x4489
  EXPECT_EQ(cells(93), std::pair(uint8_t{0x4A}, uint8_t{0x24}));    // sync C2: 0x5224
  EXPECT_EQ(cells(6249), std::pair(uint8_t{0x49}, uint8_t{0x2A}));  // 4E after 4E: 0x9254
  EXPECT_EQ(f[CellByte(0, 0, 2 * 6250)], 0xFF);                     // past the stored bytes
  EXPECT_EQ(f[CellByte(0, 1, 0)], 0xAA);  // an absent side: FF bytes, 0x5555
}

TEST_F(HfeTest, HeaderAndLayoutErrors) {
  test::FillStandardDisk(*disk, 4);
  const auto good = Saved();
  EXPECT_FALSE(ReadHfeBytes(*back, std::vector<uint8_t>(good.begin(), good.begin() + 1023)));
  EXPECT_EQ(back->StatusText, "HFE file size error!");

  auto f = good;
  f[0] = 'h';
  EXPECT_FALSE(ReadHfeBytes(*back, f));
  EXPECT_EQ(back->StatusText, "HFE header error!");

  // Sides are checked before any track is looked at.
  f = good;
  f[10] = 3;
  SetU16(f, 18, 0xFFFF);
  EXPECT_FALSE(ReadHfeBytes(*back, f));
  EXPECT_EQ(back->StatusText, "Side number error!");
  f[10] = 0;
  EXPECT_FALSE(ReadHfeBytes(*back, f));
  EXPECT_EQ(back->StatusText, "Side number error!");

  // The second cylinder's data run past the end; the first stays loaded.
  f = good;
  f.resize(1024 + kArea + 100);
  EXPECT_FALSE(ReadHfeBytes(*back, f));
  EXPECT_EQ(back->StatusText, "Size HFE file error!");
  EXPECT_EQ(back->GetTrack(1).CountSectors(), 16);
  EXPECT_FALSE(back->GetTrack(2).Present);

  // A last block that is not full: side 1's share lies past the track
  // length, and past the end of this file.
  f = good;
  f[9] = 1;
  SetU16(f, 512 + 2, 512 + 100);
  f.resize(1024 + 512 + 256 + 49);
  EXPECT_FALSE(ReadHfeBytes(*back, f));
  EXPECT_EQ(back->StatusText, "Size HFE file error!");
  f.resize(1024 + 512 + 256 + 50);
  EXPECT_TRUE(ReadHfeBytes(*back, f)) << back->StatusText;
  EXPECT_EQ(back->GetTrack(1).RawLength(), 128 + 25);

  f = good;
  SetU16(f, 18, 5000);  // a track list past the end
  EXPECT_FALSE(ReadHfeBytes(*back, f));
  EXPECT_EQ(back->StatusText, "Size HFE file error!");
}

TEST_F(HfeTest, SectorRunningPastTheSideFailsTheLoadAndDumpsSideOne) {
  // Track 1 laid out over its own raw bytes with a bad last sector whose
  // data runs past 6250 bytes.
  OneSectorTrack(*disk, 6100, false);
  WriteBytes(dir / "bad.hfe", Saved());

  // The dump goes to the system temporary folder: this test's own.
  const char* oldTmp = std::getenv("TMPDIR");
  const std::string savedTmp = oldTmp ? oldTmp : "";
  setenv("TMPDIR", dir.Path().c_str(), 1);
  const bool ok = LoadHFE(*back, dir / "bad.hfe");
  const std::string status = back->StatusText;
  const int side0Sectors = back->GetTrack(0).CountSectors();
  const LoadResult r = LoadImageFile(*back, dir / "bad.hfe");
  oldTmp ? setenv("TMPDIR", savedTmp.c_str(), 1) : unsetenv("TMPDIR");

  EXPECT_FALSE(ok);
  EXPECT_EQ(status, "Track 1 size error!");
  EXPECT_EQ(side0Sectors, 16);
  const auto dump = ReadBytes(dir / "kelvara.dbg");
  ASSERT_EQ(dump.size(), 6250u);
  EXPECT_EQ(dump[6102], 0xFB);
  EXPECT_EQ(r.logLine, "Error load HFE -\"Track 1 size error!\"");
  EXPECT_EQ(back->CountTracks(), 0);
}

TEST_F(HfeTest, DataCrcEndingOnTheSidesLastByteIsGood) {
  // Track 1's one sector laid out over its own raw bytes, its CRC ending at
  // byte 6160; the side's cells are then moved on so that it ends at 6249,
  // the side's last byte (good), or one byte later, cut off (bad).
  OneSectorTrack(*disk, 5900, true);
  const auto saved = Saved();
  for (const auto& [shift, good] : {std::pair{89, true}, std::pair{90, false}}) {
    auto f = saved;
    auto cells = SideCells(f, 0, 1);
    InsertCells(cells, 16 * 50, 16 * shift);
    SetSideCells(f, 0, 1, cells);

    ASSERT_TRUE(ReadHfeBytes(*back, f)) << back->StatusText;
    const TSectorRec& s = back->GetTrack(1).Sectors[0];
    ASSERT_TRUE(s.Present);
    EXPECT_EQ(s.DataOffset, 5903 + shift);
    EXPECT_EQ(s.DataOk != 0, good) << shift;
  }
}

TEST_F(HfeTest, CellStreamsOutOfStepWithTheBytesAreResynchronised) {
  test::FillStandardDisk(*disk, 2, 3);
  disk->GetTrack(1).Sectors[4].DataOk = 0;
  auto f = Saved();
  // Side 0 starts 5 cells late; side 1 slips 3 cells in the GAP 2 of its
  // sixth sector, as a sector written on its own would.
  auto cells = SideCells(f, 0, 0);
  InsertCells(cells, 0, 5);
  SetSideCells(f, 0, 0, cells);
  cells = SideCells(f, 0, 1);
  InsertCells(cells, 16 * (146 + 5 * 372 + 30), 3);
  SetSideCells(f, 0, 1, cells);

  ASSERT_TRUE(ReadHfeBytes(*back, f)) << back->StatusText;
  test::ExpectSameSectors(*disk, *back);
  EXPECT_EQ(back->GetTrack(0).RawLength(), 6249);  // the first byte's cells are short
  EXPECT_EQ(back->GetTrack(0).RawData()[95], 0xFC);
  EXPECT_EQ(back->GetTrack(1).RawLength(), 6249);
}

TEST_F(HfeTest, WhatTheImageCannotHoldIsLeftOutAndNoted) {
  test::FillStandardDisk(*disk, 4);
  auto f = Saved();
  // Cylinder 0 claims the data of cylinders 0 to 2: each side decodes to
  // more than a raw track holds and carries 32 sectors.
  SetU16(f, 512 + 2, 60000);
  ASSERT_TRUE(ReadHfeBytes(*back, f)) << back->StatusText;
  EXPECT_EQ(back->GetTrack(0).RawLength(), kRawTrackCapacity);
  EXPECT_EQ(back->GetTrack(1).CountSectors(), 20);
  EXPECT_EQ(back->StatusText,
            "2 tracks (first 0.0) cut to 14002 bytes. 2 tracks (first 0.0): sectors after the 20th "
            "not loaded.");

  // An 85th cylinder.
  test::FillStandardDisk(*disk, 168);
  f = Saved();
  f[9] = 85;
  SetU16(f, 512 + 4 * 84, U16At(f, 512));
  SetU16(f, 512 + 4 * 84 + 2, 25000);
  ASSERT_TRUE(ReadHfeBytes(*back, f));
  EXPECT_EQ(back->CountTracks(), 168);
  EXPECT_EQ(back->StatusText, "2 track(s) beyond track 83.1 not loaded.");
}

TEST_F(HfeTest, SynthesisFailureNamesTheCylinder) {
  // Track 5 keeps raw bytes without a single mark: no place for its sectors.
  test::FillStandardDisk(*disk, 6);
  TTrack& t = disk->GetTrack(5);
  t.RawValid = 1;
  std::ranges::fill(t.MutableRaw(200), 0x4E);
  std::vector<uint8_t> out;
  const WriteResult r = BuildHfeBytes(*disk, out);
  EXPECT_FALSE(r);
  EXPECT_EQ(r.fault.track, 2);
  EXPECT_EQ(r.fault.slot, 0);
  WriteBytes(dir / "x.hfe", {9});
  EXPECT_FALSE(SaveImageFile(*disk, dir / "x.hfe", SaveOptions{}).ok);
  EXPECT_EQ(ReadBytes(dir / "x.hfe"), std::vector<uint8_t>{9});
}

}  // namespace
}  // namespace kelvara
