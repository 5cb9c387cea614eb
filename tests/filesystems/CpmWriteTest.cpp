// The CP/M writer: names, where a new file's entries and blocks go (as
// cpmtools puts them: lowest free block, first free entry, byte 13 on CP/M
// 3 disks), the refusals that leave the disk as it was, and cpmtools
// reading what we write and the other way round.
#include "filesystems/CpmWrite.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "filesystems/Plus3Dos.h"
#include "formats/Dsk.h"
#include "formats/ImageFiles.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::PatternBytes;
using Bytes = std::vector<uint8_t>;

// The raw bytes of the directory, read here from the layout.
Bytes DirBytes(const TZX_Disk& disk) {
  const CpmFormat f = CpmFormatOf(disk);
  Bytes out;
  const int first = f.reservedTracks * f.sectorsPerTrack;
  for (int i = 0; out.size() < size_t(f.dirEntries) * 32; ++i) {
    const CpmSectorPlace p = CpmSectorOf(f, first + i);
    for (const TSectorRec& s : disk.GetTrack(uint8_t(p.track)).Sectors) {
      if (s.Present && s.Sec == p.sec) {
        out.insert(out.end(), s.Data().begin(), s.Data().end());
        break;
      }
    }
  }
  return out;
}

CpmName N(const char* text) {
  CpmName n;
  std::string error;
  EXPECT_TRUE(ParseCpmName(text, n, error)) << error;
  return n;
}

TEST(CpmWriteTest, NamesAreParsedAndMadeAsCpmKeepsThem) {
  struct Parse {
    const char* text;
    bool ok;
    uint8_t user;
    const char* key;
  } parses[] = {
      {"game.bas", true, 0, "GAME    BAS"},
      {"3:README", true, 3, "README     "},
      {"15:A.B", true, 15, "A       B  "},
      {"16:A.B", false, 0, ""},
      {"NINECHARS.B", false, 0, ""},
      {"A.BASI", false, 0, ""},
      {"A B.C", false, 0, ""},
      {"A*.C", false, 0, ""},
      {":A.B", false, 0, ""},
      {".BAS", false, 0, ""},
  };
  for (const Parse& p : parses) {
    SCOPED_TRACE(p.text);
    CpmName n;
    std::string error;
    ASSERT_EQ(ParseCpmName(p.text, n, error), p.ok) << error;
    if (!p.ok) continue;
    EXPECT_EQ(n.user, p.user);
    EXPECT_EQ(std::string(n.key.begin(), n.key.end()), p.key);
  }
  struct Make {
    const char* from;
    const char* key;
  } makes[] = {
      {"screen$", "SCREEN$    "},    {"my game.tap.bin", "MY_GAME_BIN"},
      {"abcdefghij", "ABCDEFGHIJ "}, {"verylongname.text", "VERYLONGTEX"},
      {"a:b", "A_B        "},
  };
  for (const Make& m : makes) {
    const CpmKey key = CpmKeyFrom(m.from);
    EXPECT_EQ(std::string(key.begin(), key.end()), m.key) << m.from;
  }
  EXPECT_EQ(CpmKeyFrom(".hidden")[0], 0) << "no name left";
  EXPECT_EQ(CpmNameText(N("2:x.y")), "2:X.Y");
}

// On the +3 format (1 KB blocks, 16 pointers of a byte, CP/M 3): what
// cpmtools writes for the same files, seen in a dump of its disk.
TEST(CpmWriteTest, FilesAreLaidOutAsCpmtoolsLaysThem) {
  auto disk = std::make_unique<TZX_Disk>();
  CreatePlus3Disk(*disk);
  CpmVolume v;
  std::string error;
  ASSERT_TRUE(v.Open(*disk, error)) << error;
  const Bytes a = PatternBytes(300, 1), b = PatternBytes(20000, 2);
  ASSERT_TRUE(v.Add(N("a.bin"), a, error)) << error;
  ASSERT_TRUE(v.Add(N("b.bin"), b, error)) << error;
  ASSERT_TRUE(v.Add(N("3:c.txt"), a, error)) << error;
  ASSERT_TRUE(v.Save(error)) << error;
  const Bytes dir = DirBytes(*disk);
  auto entry = [&](int i) { return Bytes(dir.begin() + 32 * i, dir.begin() + 32 * i + 32); };
  Bytes e = entry(0);
  EXPECT_EQ(Bytes(e.begin(), e.begin() + 17),
            (Bytes{0, 'A', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 'B', 'I', 'N', 0, 44, 0, 3, 2}));
  e = entry(1);
  EXPECT_EQ(e[12], 0);
  EXPECT_EQ(e[13], 0) << "not the last entry";
  EXPECT_EQ(e[15], 128);
  EXPECT_EQ(e[16], 3);
  EXPECT_EQ(e[31], 18);
  e = entry(2);
  EXPECT_EQ(Bytes(e.begin() + 12, e.begin() + 21), (Bytes{1, 32, 0, 29, 19, 20, 21, 22, 0}));
  EXPECT_EQ(entry(3)[0], 3);
  EXPECT_EQ(entry(3)[16], 23);
  EXPECT_EQ(entry(4)[0], kCpmUnused);

  Bytes out;
  ASSERT_TRUE(CollectCpmFile(*disk, N("b.bin").key, 0, out));
  // The last record's byte count (entry byte 13) gives the exact length.
  EXPECT_EQ(out, b);
}

// 2 KB blocks on a disk of fewer than 256: an entry maps two logical
// extents and is numbered by its last; 16-bit pointers on the Profi disk,
// where CP/M 2.2 leaves byte 13 alone.
TEST(CpmWriteTest, EntriesOfSeveralLogicalExtentsAndWidePointers) {
  auto disk = std::make_unique<TZX_Disk>();
  CreatePlus3Disk(*disk);
  Plus3Geometry g;
  g.blockShift = 4;
  g.dirBlocks = 1;
  const auto bytes = g.Bytes();
  std::ranges::copy(bytes, disk->GetTrack(0).Sectors[0].MutableData().begin());
  CpmVolume v;
  std::string error;
  ASSERT_TRUE(v.Open(*disk, error));
  const Bytes big = PatternBytes(40 * 1024 + 5, 3);
  ASSERT_TRUE(v.Add(N("big.bin"), big, error));
  ASSERT_TRUE(v.Save(error));
  Bytes dir = DirBytes(*disk);
  EXPECT_EQ(Bytes(dir.begin() + 12, dir.begin() + 17), (Bytes{1, 0, 0, 128, 1}));
  EXPECT_EQ(Bytes(dir.begin() + 32 + 12, dir.begin() + 32 + 22),
            (Bytes{2, 5, 0, 65, 17, 18, 19, 20, 21, 0}));
  EXPECT_EQ(ReadCpmCatalog(*disk, {}).rows.at(0).records, 321u);

  CreateCpmDisk(*disk);
  ASSERT_TRUE(v.Open(*disk, error));
  ASSERT_TRUE(v.Add(N("big.bin"), big, error));
  ASSERT_TRUE(v.Save(error));
  dir = DirBytes(*disk);
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(dir[32 * k + 12], k);
    EXPECT_EQ(dir[32 * k + 13], 0);
    EXPECT_EQ(dir[32 * k + 15], k < 2 ? 128 : 65);
    EXPECT_EQ(dir[32 * k + 16], 2 + 8 * k) << "the low byte";
    EXPECT_EQ(dir[32 * k + 17], 0) << "the high byte";
  }
  Bytes out;
  ASSERT_TRUE(CollectCpmFile(*disk, N("big.bin").key, 0, out));
  EXPECT_TRUE(std::equal(big.begin(), big.end(), out.begin()));
}

TEST(CpmWriteTest, RefusalsLeaveTheDiskAsItWas) {
  auto disk = std::make_unique<TZX_Disk>();
  CreatePlus3Disk(*disk);
  CpmVolume v;
  std::string error;
  ASSERT_TRUE(v.Open(*disk, error));
  ASSERT_TRUE(v.Add(N("keep.me"), PatternBytes(5000, 4), error));
  ASSERT_TRUE(v.Save(error));
  const Bytes before = DirBytes(*disk);

  ASSERT_TRUE(v.Open(*disk, error));
  EXPECT_FALSE(v.Add(N("KEEP.ME"), Bytes(10), error));
  EXPECT_EQ(error, "Файл с именем KEEP.ME в образе уже существует..!");
  EXPECT_FALSE(v.Add(N("huge"), Bytes(170 * 1024 + 1), error));
  EXPECT_EQ(error, kCpmDiskFullText);
  for (int i = 0; i < 63; ++i)
    ASSERT_TRUE(v.Add(N(("f" + std::to_string(i)).c_str()), {}, error)) << i;
  EXPECT_FALSE(v.Add(N("one.mor"), {}, error));
  EXPECT_EQ(error, kCpmDirectoryFullText);
  EXPECT_FALSE(v.Remove(N("2:keep.me"), error)) << "another user's";
  EXPECT_FALSE(v.Rename(N("f1"), N("keep.me"), error));
  EXPECT_EQ(DirBytes(*disk), before) << "nothing is written before Save";

  // A data sector the image lacks: Save refuses and writes no sector.
  ASSERT_TRUE(v.Open(*disk, error));
  ASSERT_TRUE(v.Add(N("new.bin"), PatternBytes(30000, 5), error));
  disk->GetTrack(2 * 3).Sectors[3].Present = 0;  // in block 10
  EXPECT_FALSE(v.Save(error));
  EXPECT_EQ(error, "Ошибка сектора - (track 6 sector 4)..!");
  EXPECT_EQ(DirBytes(*disk), before);
}

TEST(CpmWriteTest, RemoveFreesAndRenameClearsTheAttributeBits) {
  auto disk = std::make_unique<TZX_Disk>();
  CreatePlus3Disk(*disk);
  CpmVolume v;
  std::string error;
  ASSERT_TRUE(v.Open(*disk, error));
  const int free = v.FreeBlocks();
  ASSERT_TRUE(v.Add(N("a.b"), PatternBytes(20000, 6), error));
  ASSERT_TRUE(v.Save(error));
  // The name as a system marks it read-only and system (bit 7 of T1, T2).
  ASSERT_TRUE(v.Open(*disk, error));
  ASSERT_TRUE(v.Rename(N("A.B"), N("4:c.d"), error));
  ASSERT_TRUE(v.Save(error));
  Bytes dir = DirBytes(*disk);
  dir[9] |= 0x80;
  dir[10] |= 0x80;
  // Set the bits straight in the sector: a name with attributes.
  for (TSectorRec& s : disk->GetTrack(2).Sectors) {
    if (s.Present && s.Sec == 1) std::copy_n(dir.begin(), 512, s.MutableData().begin());
  }
  ASSERT_TRUE(v.Open(*disk, error));
  ASSERT_TRUE(v.Rename(N("4:c.d"), N("e.f"), error)) << "matched without the bits";
  ASSERT_TRUE(v.Save(error));
  dir = DirBytes(*disk);
  EXPECT_EQ(Bytes(dir.begin(), dir.begin() + 12),
            (Bytes{0, 'E', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 'F', ' ', ' '}));
  EXPECT_EQ(dir[32 + 9], 'F') << "every extent";
  ASSERT_TRUE(v.Open(*disk, error));
  ASSERT_TRUE(v.Remove(N("e.f"), error));
  EXPECT_EQ(v.FreeBlocks(), free);
  ASSERT_TRUE(v.Save(error));
  EXPECT_TRUE(ReadCpmCatalog(*disk, {}).rows.empty());
}

// cpmtools reads what we add, on +3 and CPC disks (through dsktrans) and on a
// Profi disk (a PRO file is its logical sectors in order; cpmtools takes
// the layout from a diskdefs file in its working folder), and we read what
// it adds there.
TEST(CpmWriteTest, CpmtoolsReadsOurFilesAndWeReadItsOnes) {
  if (std::system("command -v cpmcp >/dev/null 2>&1 && command -v dsktrans >/dev/null 2>&1"))
    GTEST_SKIP() << "cpmtools or dsktrans (libdsk-utils) is not installed";
  test::TempDir dir;
  const Bytes a = PatternBytes(3000, 7), b = PatternBytes(40000, 8), c = PatternBytes(5000, 9);
  auto disk = std::make_unique<TZX_Disk>();
  const std::string quiet = " >/dev/null 2>&1";
  // The CPC disks are formatted by libdsk's dskform.
  auto edsk = [&](const char* format) {
    return std::pair(
        "dsktrans -otype raw p.dsk p.raw" + quiet,
        std::string("dsktrans -itype raw -otype edsk -format ") + format + " p.raw p.dsk" + quiet);
  };
  struct System {
    const char* format;  // and the folder cpmtools runs in
    void (*create)(TZX_Disk&);
    const char* image;
    std::pair<std::string, std::string> toAndFromRaw;
  } systems[] = {
      {"pcw", CreatePlus3Disk, "p.dsk", edsk("pcw180")},
      {"cpcsys", nullptr, "p.dsk", edsk("cpcsys")},
      {"cpcdata", nullptr, "p.dsk", edsk("cpcdata")},
      {"profi",
       [](TZX_Disk& d) { CreateCpmDisk(d); },
       "p.pro",
       {"cp p.pro p.raw", "cp p.raw p.pro"}},
  };
  for (const System& s : systems)
    std::filesystem::create_directory(dir / s.format);
  std::ofstream(dir / "profi/diskdefs") << "diskdef profi\n  seclen 1024\n  tracks 160\n"
                                           "  sectrk 5\n  blocksize 2048\n  maxdir 128\n"
                                           "  skew 0\n  boottrk 0\n  os 2.2\nend\n";
  for (const System& s : systems) {
    SCOPED_TRACE(s.format);
    const std::string at = dir / s.format + "/";
    const std::string cd = "cd " + at + " && ";
    const auto& [toRaw, fromRaw] = s.toAndFromRaw;
    if (s.create) {
      s.create(*disk);
    } else {
      const std::string form = cd + "dskform -type edsk -format " + s.format + " p.dsk" + quiet;
      ASSERT_EQ(std::system(form.c_str()), 0);
      ASSERT_TRUE(LoadImageFile(*disk, at + s.image).ok);
    }
    CpmVolume v;
    std::string error;
    ASSERT_TRUE(v.Open(*disk, error));
    ASSERT_TRUE(v.Add(N("a.bin"), a, error));
    ASSERT_TRUE(v.Add(N("2:b.dat"), b, error));
    ASSERT_TRUE(v.Save(error));
    ASSERT_TRUE(SaveImageFile(*disk, at + s.image, {}).ok);
    const std::string fmt = std::string(" -f ") + s.format + " p.raw ";
    ASSERT_EQ(std::system((cd + toRaw + " && cpmcp" + fmt + "0:a.bin 2:b.dat ." + quiet).c_str()),
              0);
    // CP/M 2.2 sizes are whole records; on CP/M 3 byte 13 gives the exact size.
    const bool exact = std::string(s.format) != "profi";
    for (const auto& [name, bytes] : {std::pair{"a.bin", a}, std::pair{"b.dat", b}}) {
      Bytes got = test::ReadBytes(at + name);
      EXPECT_EQ(got.size(), exact ? bytes.size() : (bytes.size() + 127) / 128 * 128) << name;
      got.resize(bytes.size());
      EXPECT_EQ(got, bytes) << name;
    }

    test::WriteBytes(at + "c.txt", c);
    ASSERT_EQ(
        std::system((cd + "cpmcp" + fmt + "c.txt 0:c.txt" + quiet + " && " + fromRaw).c_str()), 0);
    ASSERT_TRUE(LoadImageFile(*disk, at + s.image).ok);
    Bytes out;
    ASSERT_TRUE(CollectCpmFile(*disk, N("c.txt").key, 0, out));
    out.resize(c.size());
    EXPECT_EQ(out, c);
  }
}

}  // namespace
}  // namespace kelvara
