#include "filesystems/Plus3Dos.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <numeric>

#include "filesystems/CpmCatalog.h"
#include "formats/Dsk.h"
#include "session/CpmCatalogWindow.h"
#include "support/CliRun.h"
#include "support/DiskBuilder.h"
#include "support/FakePrompt.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::PatternBytes;
using test::TempDir;
using Bytes = std::vector<uint8_t>;

// Writes bytes over the disk's logical sectors from `sector` on.
void PutBytes(TZX_Disk& disk, const CpmFormat& f, int sector, const Bytes& bytes) {
  for (size_t at = 0; at < bytes.size(); at += f.sectorSize, ++sector) {
    const CpmSectorPlace p = CpmSectorOf(f, sector);
    for (TSectorRec& s : disk.GetTrack(static_cast<uint8_t>(p.track)).Sectors) {
      if (s.Present && s.Sec == p.sec) {
        const size_t n = std::min<size_t>(f.sectorSize, bytes.size() - at);
        std::copy_n(bytes.begin() + at, n, s.MutableData().begin());
      }
    }
  }
}

// A disk of the given geometry, every sector 0xE5, the geometry record
// in track 0 sector 1; `firstId` renumbers the sectors (CPC formats).
void MakeDisk(TZX_Disk& disk, const Plus3Geometry& geometry, uint8_t firstId = 1,
              bool withGeometry = true) {
  disk.ClearImage();
  const int sides = (geometry.sidedness & 3) ? 2 : 1;
  for (int cyl = 0; cyl < geometry.tracks; ++cyl) {
    for (int side = 0; side < sides; ++side) {
      for (int r = 0; r < geometry.sectors; ++r) {
        test::AddSector(disk, static_cast<uint8_t>(cyl * 2 + side), static_cast<uint8_t>(cyl),
                        static_cast<uint8_t>(side), static_cast<uint8_t>(firstId + r),
                        geometry.sizeCode, Bytes(SectorBytes(geometry.sizeCode), 0xE5));
      }
    }
  }
  const auto b = geometry.Bytes();
  if (withGeometry)
    std::copy(b.begin(), b.end(), disk.GetTrack(0).Sectors[0].MutableData().begin());
}

TEST(Plus3DosTest, LayoutsComeFromTheGeometryRecordOrTheFirstSectorId) {
  Plus3Geometry pcw720;
  pcw720.type = 3;
  pcw720.sidedness = 2;  // out on side 0, back on side 1
  pcw720.tracks = 80;
  pcw720.blockShift = 4;
  pcw720.dirBlocks = 4;
  Plus3Geometry broken;
  broken.blockShift = 1;
  struct Case {
    const char* what;
    Plus3Geometry geometry;
    uint8_t firstId;
    bool withGeometry;
    bool found;
    int reserved, blockCount, dirEntries;
    uint8_t firstSector;
  } cases[] = {
      {"+3 standard", {}, 1, true, true, 1, 175, 64, 1},
      {"blank first sector", {}, 1, false, true, 1, 175, 64, 1},
      {"CPC system", {}, 0x41, false, true, 2, 171, 64, 0x41},
      {"CPC data", {}, 0xC1, false, true, 0, 180, 64, 0xC1},
      {"PCW 720K", pcw720, 1, true, true, 1, 357, 256, 1},
      {"nonsense geometry record", broken, 1, true, false, 0, 0, 0, 0},
  };
  auto disk = std::make_unique<TZX_Disk>();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MakeDisk(*disk, c.geometry, c.firstId, c.withGeometry);
    CpmFormat f;
    ASSERT_EQ(FindPlus3Format(*disk, f), c.found);
    EXPECT_EQ(IsCpmImage(*disk), c.found);
    if (!c.found) continue;
    EXPECT_EQ(f.reservedTracks, c.reserved);
    EXPECT_EQ(f.blockCount, c.blockCount);
    EXPECT_EQ(f.dirEntries, c.dirEntries);
    EXPECT_EQ(f.firstSector, c.firstSector);
  }
  // The second side runs back from the last cylinder.
  MakeDisk(*disk, pcw720);
  CpmFormat f;
  ASSERT_TRUE(FindPlus3Format(*disk, f));
  EXPECT_EQ(CpmSectorOf(f, 80 * 9).track, 2 * 79 + 1);
  EXPECT_EQ(CpmSectorOf(f, 159 * 9 + 8).track, 1);
  // A TR-DOS disk is none of them.
  disk->ClearImage();
  test::FillStandardDisk(*disk, 4);
  EXPECT_FALSE(FindPlus3Format(*disk, f));
}

// 2 KB blocks on a disk of fewer than 256: an entry maps 32 KB, two
// logical extents, and its extent number is that of the last.
TEST(Plus3DosTest, EntriesOfSeveralLogicalExtentsAddUp) {
  Plus3Geometry geometry;
  geometry.blockShift = 4;
  geometry.dirBlocks = 1;
  auto disk = std::make_unique<TZX_Disk>();
  MakeDisk(*disk, geometry);
  CpmFormat f;
  ASSERT_TRUE(FindPlus3Format(*disk, f));
  ASSERT_EQ(f.ExtentMask(), 1);
  const Bytes data = PatternBytes(40 * 1024, 5);
  Bytes dir(32 * 2, 0xE5);
  const std::string name = "BIG     BIN";
  for (int e = 0; e < 2; ++e) {
    uint8_t* raw = dir.data() + 32 * e;
    raw[0] = 0;
    std::copy(name.begin(), name.end(), raw + 1);
    raw[12] = e == 0 ? 1 : 2;  // extents 0-1 full, then extent 2
    raw[13] = raw[14] = 0;
    raw[15] = e == 0 ? 128 : 64;  // 32 KB, then 8 KB
    for (int i = 0; i < 16; ++i)
      raw[16 + i] = static_cast<uint8_t>(e == 0 ? 1 + i : (i < 4 ? 17 + i : 0));
  }
  PutBytes(*disk, f, 9, dir);
  PutBytes(*disk, f, 9 + 4, data);  // from block 1
  const CpmCatalog cat = ReadCpmCatalog(*disk, {});
  ASSERT_EQ(cat.rows.size(), 1u);
  EXPECT_EQ(cat.rows[0].records, 320u);
  EXPECT_EQ(cat.UsedKb(), 2 + 40);
  Bytes out;
  ASSERT_TRUE(CollectCpmFile(*disk, cat.rows[0].key, 0, out));
  EXPECT_EQ(out, data);
}

// A +3 disk keeps the bytes used of a file's last record (byte 13): a
// headerless file comes out its own length, shown so in the listing; the
// save proposes the name as +3DOS copies files, NAME.EXT without the
// attribute bits.
TEST(Plus3DosTest, LastRecordBytesAndTheSavedName) {
  test::TempDir dir;
  auto disk = std::make_unique<TZX_Disk>();
  CreatePlus3Disk(*disk);
  CpmFormat f;
  ASSERT_TRUE(FindPlus3Format(*disk, f));
  const Bytes data = PatternBytes(70000, 6);
  Bytes entries(32 * 5, 0);
  for (int e = 0; e < 5; ++e) {  // 16 KB an entry: 547 records
    uint8_t* raw = entries.data() + 32 * e;
    const std::string name = "F1      B\xC9N";
    std::copy(name.begin(), name.end(), raw + 1);
    raw[12] = static_cast<uint8_t>(e);
    raw[13] = e == 4 ? 112 : 0;
    raw[15] = e == 4 ? 35 : 128;
    for (int i = 0; i < 16 && 16 * e + i < 69; ++i)
      raw[16 + i] = static_cast<uint8_t>(2 + 16 * e + i);
  }
  PutBytes(*disk, f, 9, entries);
  PutBytes(*disk, f, 9 + 2 * 2, data);
  const CpmCatalog cat = ReadCpmCatalog(*disk, {});
  ASSERT_EQ(cat.rows.size(), 1u);
  EXPECT_EQ(cat.rows[0].bytes, 70000u);
  Bytes out;
  ASSERT_TRUE(CollectCpmFile(*disk, cat.rows[0].key, 0, out));
  EXPECT_EQ(out, data);
  EXPECT_EQ(CpmLengthText(cat.rows[0].bytes, ","), "68,368");

  test::FakePrompt prompt;
  prompt.saveFiles = {dir / "F1.BIN"};
  std::string folder = dir.Path();
  EXPECT_EQ(SaveCpmFileAs(*disk, cat.rows[0], prompt, folder), CpmSaveOutcome::Saved);
  EXPECT_EQ(prompt.proposedFiles, std::vector<std::string>{"F1.BIN"});
  EXPECT_EQ(test::ReadBytes(dir / "F1.BIN"), data);

  // A sector whose ID field a controller cannot read is none: zeros.
  const CpmSectorPlace first = CpmSectorOf(f, 9 + 2 * 2);
  for (TSectorRec& s : disk->GetTrack(static_cast<uint8_t>(first.track)).Sectors)
    s.HeaderCrc ^= s.Sec == first.sec ? 1 : 0;
  ASSERT_TRUE(CollectCpmFile(*disk, cat.rows[0].key, 0, out));
  EXPECT_EQ(std::count(out.begin(), out.begin() + 512, 0), 512);
  EXPECT_TRUE(std::equal(out.begin() + 512, out.end(), data.begin() + 512));
}

Bytes HeaderedFile(const Bytes& body, uint8_t type, uint16_t p1, uint16_t p2) {
  Bytes h = {'P', 'L', 'U', 'S', '3', 'D', 'O', 'S', 0x1A, 1, 0};
  const uint32_t length = static_cast<uint32_t>(body.size() + 128);
  for (uint32_t v : {length, length >> 8, length >> 16, length >> 24, uint32_t{type}})
    h.push_back(static_cast<uint8_t>(v));
  for (uint16_t v : {static_cast<uint16_t>(body.size()), p1, p2}) {
    h.push_back(static_cast<uint8_t>(v));
    h.push_back(static_cast<uint8_t>(v >> 8));
  }
  h.resize(127, 0);
  h.push_back(static_cast<uint8_t>(std::accumulate(h.begin(), h.end(), 0u)));
  h.insert(h.end(), body.begin(), body.end());
  h.resize((h.size() + 127) / 128 * 128, 0x1A);  // whole records, as on the disk
  return h;
}

TEST(Plus3DosTest, HeaderIsReadOnlyWithItsChecksumAndCutsTheBody) {
  const Bytes body = PatternBytes(71, 3);
  Bytes file = HeaderedFile(body, 0, 10, 71);
  Plus3Header h;
  ASSERT_TRUE(ReadPlus3Header(file, h));
  EXPECT_EQ(h.fileLength, 199u);
  EXPECT_EQ(DescribePlus3Header(h), "Program 71 bytes, LINE 10, variables at 71");
  EXPECT_EQ(Bytes(Plus3FileBody(file).begin(), Plus3FileBody(file).end()), body);
  ASSERT_TRUE(ReadPlus3Header(HeaderedFile(body, 3, 16384, 0), h));
  EXPECT_EQ(DescribePlus3Header(h), "Bytes 71 at 16384");
  file[127] ^= 1;
  EXPECT_FALSE(ReadPlus3Header(file, h));
  EXPECT_EQ(Plus3FileBody(file).size(), file.size()) << "no header: the bytes as they are";
}

// cat shows a file's header; extract keeps it, extract --raw drops it.
TEST(Plus3DosTest, CliListsAndExtractsHeaderedFiles) {
  TempDir dir;
  auto disk = std::make_unique<TZX_Disk>();
  CreatePlus3Disk(*disk);
  CpmFormat f;
  ASSERT_TRUE(FindPlus3Format(*disk, f));
  const Bytes body = PatternBytes(300, 4);
  const Bytes file = HeaderedFile(body, 3, 32768, 0);
  Bytes entry(32, 0);
  const std::string name = "GAME    BIN";
  std::copy(name.begin(), name.end(), entry.begin() + 1);
  entry[15] = static_cast<uint8_t>(file.size() / 128);
  entry[16] = 2;
  PutBytes(*disk, f, 9, entry);
  PutBytes(*disk, f, 9 + 2 * 2, file);
  ASSERT_TRUE(SaveDSK(*disk, dir / "p3.dsk"));
  const test::CliRun cat = test::RunCliArgs({"cat", dir / "p3.dsk"});
  EXPECT_NE(cat.out.find("GAME     BIN"), std::string::npos) << cat.out;
  EXPECT_NE(cat.out.find("PLUS3DOS Bytes 300 at 32768"), std::string::npos) << cat.out;
  ASSERT_EQ(test::RunCliArgs({"extract", dir / "p3.dsk", "-d", dir / "kept"}).status, 0);
  EXPECT_EQ(test::ReadBytes(dir / "kept/GAME.BIN"), file);
  ASSERT_EQ(test::RunCliArgs({"extract", dir / "p3.dsk", "--raw", "-d", dir / "raw"}).status, 0);
  EXPECT_EQ(test::ReadBytes(dir / "raw/GAME.BIN"), body);
}

// cpmtools builds a +3 disk on a raw image, dsktrans makes it an EDSK: the
// same files list and extract here, each its own length (cpmtools keeps the
// last record's byte count of a CP/M 3 disk); saved again by us, cpmtools
// lists them.
TEST(Plus3DosTest, CpmtoolsAndKelvaraSeeTheSameFiles) {
  if (std::system("command -v mkfs.cpm >/dev/null 2>&1 && command -v dsktrans >/dev/null 2>&1"))
    GTEST_SKIP() << "cpmtools or dsktrans (libdsk-utils) is not installed";
  TempDir dir;
  const Bytes a = PatternBytes(3000, 1), b = PatternBytes(20000, 2);
  test::WriteBytes(dir / "a.bin", a);
  test::WriteBytes(dir / "b.dat", b);
  const std::string raw = dir / "disk.raw", quiet = " >/dev/null 2>&1";
  // mkfs.cpm writes only the tracks it formats; dsktrans wants them all.
  test::WriteBytes(raw, Bytes(40 * 9 * 512, 0xE5));
  const std::string build = "mkfs.cpm -f pcw " + raw + " && cpmcp -f pcw " + raw + " " +
                            dir / "a.bin" + " " + dir / "b.dat" +
                            " 0: && dsktrans -itype raw -otype edsk -format pcw180 " + raw + " " +
                            dir / "theirs.dsk";
  ASSERT_EQ(std::system((build + quiet).c_str()), 0);
  auto disk = std::make_unique<TZX_Disk>();
  ASSERT_TRUE(LoadDSK(*disk, dir / "theirs.dsk")) << disk->StatusText;
  const CpmCatalog cat = ReadCpmCatalog(*disk, {});
  ASSERT_EQ(cat.rows.size(), 2u);
  for (const auto& [row, bytes] : {std::pair{cat.rows[0], a}, std::pair{cat.rows[1], b}}) {
    Bytes out;
    ASSERT_TRUE(CollectCpmFile(*disk, row.key, 0, out));
    EXPECT_EQ(out, bytes);
  }
  ASSERT_TRUE(SaveDSK(*disk, dir / "ours.dsk"));
  const std::string list = "cpmls -f pcw -T edsk " + dir / "ours.dsk" + " > " + dir / "ls.txt";
  ASSERT_EQ(std::system(list.c_str()), 0);
  const Bytes ls = test::ReadBytes(dir / "ls.txt");
  EXPECT_EQ(std::string(ls.begin(), ls.end()), "0:\na.bin\nb.dat\n");
}

}  // namespace
}  // namespace kelvara
