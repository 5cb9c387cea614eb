#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "formats/Dsk.h"
#include "formats/ImageFiles.h"
#include "formats/Trd.h"
#include "model/ByteReader.h"
#include "model/ZXDisk.h"
#include "support/CliRun.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::AddSector;
using test::ExpectSameSectors;
using test::PatternBytes;
using test::TempDir;

struct Sec {
  uint8_t r, n, st1, st2;
  uint16_t stored;  // EDSK: bytes stored
};

// An EDSK file of one side whose tracks all hold `sectors` (data from a
// pattern); `sizes` overrides the size table when given.
std::vector<uint8_t> MakeEdsk(int tracks, const std::vector<Sec>& sectors,
                              std::vector<uint8_t> sizes = {}) {
  ByteWriter w;
  w.Text("EXTENDED CPC DSK File\r\nDisk-Info\r\n");
  w.Fill(14, 0);
  w.U8(static_cast<uint8_t>(tracks));
  w.U8(1);
  w.Fill(256 - w.Size(), 0);
  for (int t = 0; t < tracks; ++t) {
    const size_t start = w.Size();
    w.Text("Track-Info\r\n");
    w.Fill(4, 0);
    for (uint8_t b : {uint8_t(t), uint8_t(0), uint8_t(1), uint8_t(2), uint8_t(2),
                      uint8_t(sectors.size()), uint8_t(0x52), uint8_t(0xE5)})
      w.U8(b);
    for (const Sec& s : sectors) {
      for (uint8_t b : {uint8_t(t), uint8_t(0), s.r, s.n, s.st1, s.st2})
        w.U8(b);
      w.U16(s.stored);
    }
    w.Fill(start + (24 + 8 * sectors.size() + 255) / 256 * 256 - w.Size(), 0);
    for (const Sec& s : sectors)
      w.Bytes(PatternBytes(s.stored, t * 100 + s.r));
    w.Fill((w.Size() - start + 255) / 256 * 256 - (w.Size() - start), 0);
    w.Data()[0x34 + t] = sizes.empty() ? static_cast<uint8_t>((w.Size() - start) / 256) : sizes[t];
  }
  return w.Take();
}

class DskTest : public ::testing::Test {
 protected:
  bool Load(const std::vector<uint8_t>& file) { return ReadDskBytes(*disk, file); }
  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
};

// What the status bytes and stored lengths make of a sector.
TEST_F(DskTest, StatusBytesAndStoredLengthsMapToDataStates) {
  struct Case {
    Sec sec;
    DataState state;
    uint16_t kept;    // data bytes the slot keeps
    bool idCrcError;  // the slot's ID CRC does not match its ID
    const char* log;  // part of the track's log line, or ""
  } cases[] = {
      {{1, 2, 0x00, 0x00, 512}, DataState::Good, 512, false, ""},
      {{1, 2, 0x20, 0x20, 512}, DataState::Bad, 512, false, ""},
      {{1, 2, 0x20, 0x00, 512}, DataState::Good, 512, true, ""},
      {{1, 2, 0x01, 0x01, 0}, DataState::NoData, 0, false, ""},
      {{1, 2, 0x00, 0x01, 512}, DataState::NoData, 0, false, ""},
      {{1, 2, 0x00, 0x40, 512}, DataState::Good, 512, false, "deleted data"},
      {{1, 2, 0x01, 0x00, 512}, DataState::Good, 512, false, "missing address mark"},
      {{1, 2, 0x20, 0x20, 1536}, DataState::Bad, 512, false, "3 stored copies"},
      {{1, 2, 0x00, 0x00, 300}, DataState::Good, 300, false, ""},
      {{1, 2, 0x00, 0x00, 700}, DataState::Good, 700, false, ""},
      {{1, 6, 0x20, 0x20, 6144}, DataState::Bad, 1100, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "st1 " << int(c.sec.st1) << " st2 " << int(c.sec.st2)
                                    << " stored " << c.sec.stored);
    ASSERT_TRUE(Load(MakeEdsk(1, {c.sec, {2, 2, 0, 0, 512}}))) << disk->StatusText;
    const TTrack& t = disk->GetTrack(0);
    const TSectorRec& s = t.Sectors[0];
    EXPECT_EQ(SectorDataState(s), c.state);
    EXPECT_EQ(s.DataLength(), c.kept);
    EXPECT_EQ(s.HeaderCrc != IdFieldCrc(s.Cyl, s.Head, s.Sec, s.SizeCode), c.idCrcError);
    if (c.kept) {
      EXPECT_EQ(s.Data()[0], PatternBytes(c.sec.stored, 1)[0]);
    }
    // The next sector starts where the stored bytes end, whatever was kept.
    EXPECT_EQ(t.Sectors[1].Data()[0], PatternBytes(512, 2)[0]);
    const std::string log = t.Log.empty() ? "" : t.Log[0];
    EXPECT_NE(log.find(c.log), std::string::npos) << log;
    EXPECT_EQ(t.FormatGap3, 0x52);
  }
}

// Every field the model holds survives a save and a load: IDs of mixed
// sizes, bad data, no data, an ID CRC error, absent tracks on both sides.
TEST_F(DskTest, WriterKeepsEverySectorFieldOnTheWayBack) {
  AddSector(*disk, 0, 0, 0, 1, 2, PatternBytes(512, 1));
  AddSector(*disk, 0, 0, 0, 0xC1, 3, PatternBytes(1024, 2), false);
  AddSector(*disk, 0, 7, 1, 0x41, 0, {}, false);
  AddSector(*disk, 0, 0, 0, 2, 1, PatternBytes(256, 3)).HeaderCrc ^= 1;
  AddSector(*disk, 3, 1, 1, 9, 1, PatternBytes(100, 4));
  disk->GetTrack(3).FormatGap3 = 0x2A;
  disk->GetTrack(3).FormatFiller = 0x00;
  std::vector<uint8_t> file;
  ASSERT_TRUE(BuildDskBytes(*disk, file));
  auto back = std::make_unique<TZX_Disk>();
  ASSERT_TRUE(ReadDskBytes(*back, file)) << back->StatusText;
  ExpectSameSectors(*disk, *back);
  EXPECT_NE(back->GetTrack(0).Sectors[3].HeaderCrc, IdFieldCrc(0, 0, 2, 1));
  EXPECT_EQ(back->GetTrack(3).FormatGap3, 0x2A);
  EXPECT_EQ(back->GetTrack(3).FormatFiller, 0x00);
  EXPECT_EQ(file[0x31], 2) << "a track of side 1 makes the file two-sided";
  EXPECT_EQ(file[0x34 + 1], 0) << "an absent track has no block";
}

// Broken files: a clear error, or a note for what could not be loaded.
TEST_F(DskTest, BadFilesGiveAnErrorOrANote) {
  const std::vector<uint8_t> good = MakeEdsk(2, {{1, 2, 0, 0, 512}});
  auto with = [&](size_t at, uint8_t v) {
    std::vector<uint8_t> f = good;
    f[at] = v;
    return f;
  };
  std::vector<Sec> crowded;
  for (uint8_t r = 1; r <= 24; ++r)
    crowded.push_back({r, 0, 0, 0, 128});
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
    bool ok;
    const char* text;
  } cases[] = {
      {"short", std::vector<uint8_t>(good.begin(), good.begin() + 100), false, "size"},
      {"signature", with(0, 'X'), false, "Not DSK"},
      {"three sides", with(0x31, 3), false, "geometry"},
      {"no Track-Info", with(0x100, 'X'), false, "no Track-Info"},
      {"sector list past the block", with(0x100 + 0x15, 100), false, "more sectors"},
      {"track size below its data", with(0x35, 2), true, "past the track block"},
      {"file ends early", std::vector<uint8_t>(good.begin(), good.begin() + 0x300), true,
       "ends before track block 1"},
      {"crowded track", MakeEdsk(1, crowded), true, "after the 20th"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Load(c.file), c.ok);
    EXPECT_NE(disk->StatusText.find(c.text), std::string::npos) << disk->StatusText;
    if (!c.ok) {
      EXPECT_EQ(disk->PresentTracks(), 0) << "nothing half-loaded stays";
    }
  }
}

// A plain DSK: one track size for all, each sector 128 << its own N.
TEST_F(DskTest, PlainDskTakesSectorSizesFromTheirIds) {
  std::vector<uint8_t> file = MakeEdsk(1, {{1, 2, 0, 0, 0}, {2, 1, 0, 0, 0}});
  const std::string sig = "MV - CPCEMU Disk-File\r\nDisk-Info\r\n";
  std::copy(sig.begin(), sig.end(), file.begin());
  file.resize(256 + 256);
  const std::vector<uint8_t> a = PatternBytes(512, 7), b = PatternBytes(256, 8);
  file.insert(file.end(), a.begin(), a.end());
  file.insert(file.end(), b.begin(), b.end());
  file[0x32] = 0x00;
  file[0x33] = 0x04;  // 1024 bytes a track
  ASSERT_TRUE(Load(file)) << disk->StatusText;
  EXPECT_EQ(std::vector<uint8_t>(disk->GetTrack(0).Sectors[1].Data().begin(),
                                 disk->GetTrack(0).Sectors[1].Data().end()),
            b);
}

// Files written by other tools load with the same sectors as their source.
TEST_F(DskTest, RealEdskFilesLoadTheirSectors) {
  const std::string dir = std::string(KELVARA_TESTDATA_DIR) + "/dsk/";
  if (!std::filesystem::exists(dir + "trdos-edsk.dsk")) GTEST_SKIP() << "no sample images";
  ASSERT_TRUE(LoadDSK(*disk, dir + "trdos-edsk.dsk")) << disk->StatusText;
  auto trd = std::make_unique<TZX_Disk>();
  ASSERT_TRUE(LoadTRD(*trd, dir + "trdos-source.trd"));
  ExpectSameSectors(*trd, *disk);
  ASSERT_TRUE(LoadDSK(*disk, dir + "plus3-edsk.dsk")) << disk->StatusText;
  EXPECT_EQ(disk->PresentTracks(), 40);
  EXPECT_EQ(disk->GetTrack(78).PresentSlots(), 9) << "one side: cylinder 39 is track 78";
}

// A +3 disk of pattern sectors: one side (even tracks), 40 cylinders of
// nine 512-byte sectors numbered 1 to 9.
void FillPlusThreeDisk(TZX_Disk& disk) {
  for (int t = 0; t < 80; t += 2) {
    for (uint8_t r = 1; r <= 9; ++r)
      AddSector(disk, t, t / 2, 0, r, 2, PatternBytes(512, t * 10 + r));
  }
}

// libdsk's dsktrans reads our EDSK with every sector, and its own EDSK of
// the same sectors loads the same here.
TEST_F(DskTest, DsktransAgreesOnOurFiles) {
  if (std::system("command -v dsktrans >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "dsktrans (libdsk-utils) is not installed";
  TempDir dir;
  FillPlusThreeDisk(*disk);
  ASSERT_TRUE(SaveDSK(*disk, dir / "ours.dsk"));
  const std::string quiet = " >/dev/null 2>&1";
  ASSERT_EQ(std::system(("dsktrans -itype edsk -otype raw -format pcw180 " + dir / "ours.dsk" +
                         " " + dir / "disk.raw" + quiet)
                            .c_str()),
            0);
  std::vector<uint8_t> raw;
  for (int t = 0; t < 80; t += 2) {
    for (const TSectorRec& s : disk->GetTrack(t).Sectors)
      raw.insert(raw.end(), s.Data().begin(), s.Data().end());
  }
  EXPECT_EQ(test::ReadBytes(dir / "disk.raw"), raw);
  ASSERT_EQ(std::system(("dsktrans -itype raw -otype edsk -format pcw180 " + dir / "disk.raw" +
                         " " + dir / "theirs.dsk" + quiet)
                            .c_str()),
            0);
  auto theirs = std::make_unique<TZX_Disk>();
  ASSERT_TRUE(LoadDSK(*theirs, dir / "theirs.dsk")) << theirs->StatusText;
  ExpectSameSectors(*disk, *theirs);
}

// A +3 disk (one side, 9 x 512) read through the virtual drive and through
// the simulated flux reader: the EDSK saved holds every sector, for dsktrans
// as for this program.
TEST_F(DskTest, PlusThreeDiskReadByTheDrivesSavesAsEdskDsktransReads) {
  if (std::system("command -v dsktrans >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "dsktrans (libdsk-utils) is not installed";
  TempDir dir;
  FillPlusThreeDisk(*disk);
  ASSERT_TRUE(SaveDSK(*disk, dir / "disk.dsk"));
  for (const char* drive : {"--virtual-drive", "--flux-sim"}) {
    SCOPED_TRACE(drive);
    const std::string out = dir / "read.dsk";
    const test::CliRun run =
        test::RunCliArgs({"read", out, drive, dir / "disk.dsk", "--last", "79"});
    // One side: the run reads every sector and finds no side 1, which the
    // exit status reports as tracks not scanned.
    ASSERT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find("finished with 40 track(s) not scanned"), std::string::npos) << run.err;
    auto read = std::make_unique<TZX_Disk>();
    ASSERT_TRUE(LoadDSK(*read, out));
    ExpectSameSectors(*disk, *read);
    const std::string cmd = "dsktrans -itype edsk -otype edsk -format pcw180 " + out + " " +
                            dir / "again.dsk" + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    ASSERT_TRUE(LoadDSK(*read, dir / "again.dsk"));
    ExpectSameSectors(*disk, *read);
  }
}

}  // namespace
}  // namespace kelvara
