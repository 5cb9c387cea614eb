#include "session/ImageCheck.h"

#include <gtest/gtest.h>

#include <functional>

#include "filesystems/Plus3Dos.h"
#include "filesystems/Trdos.h"
#include "support/CpmDiskBuilder.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"
#include "support/TrdosBuilder.h"

namespace kelvara {
namespace {

using test::TrdosFile;

// Files A (2 sectors, track 1 sectors 1-2), B (3, sectors 3-5), C (1, sector 6).
void BuildThreeFiles(TZX_Disk& disk) {
  test::BuildTrdosDisk(disk, {test::PatternFile("A", 'C', 2), test::PatternFile("B", 'C', 3, 2),
                              test::PatternFile("C", 'B', 1, 3)});
}

uint8_t* Catalog(TZX_Disk& disk, int entry, int offset) {
  TSectorRec* s = GetLogicalSector(disk, 0, entry / 16 + 1);
  return s->MutableData().data() + (entry % 16) * kTrdosEntrySize + offset;
}
uint8_t* Service(TZX_Disk& disk, int offset) {
  return GetLogicalSector(disk, 0, kTrdosServiceSector)->MutableData().data() + offset;
}

// Each damage a catalog can carry, and the finding it gives; one consistent
// disk first. Entry offsets: 13 sector count, 14 first sector, 15 first track.
TEST(ImageCheck, TrdosCatalogFindingsAsTrdosReadsIt) {
  using namespace trdos_service;
  struct Case {
    const char* finding;  // "" = consistent
    std::function<void(TZX_Disk&)> damage;
  };
  const Case cases[] = {
      {"", [](TZX_Disk&) {}},
      {"counts 2 files, the catalog lists 3", [](TZX_Disk& d) { *Service(d, kFileCount) = 2; }},
      {"counts 1 deleted files, the catalog marks 0",
       [](TZX_Disk& d) { *Service(d, kDeletedCount) = 1; }},
      // An erased entry in the middle hides the files after it from TR-DOS.
      {"file C.B lies after the catalog's end", [](TZX_Disk& d) { *Catalog(d, 1, 0) = 0; }},
      {"the disk type 0x42", [](TZX_Disk& d) { *Service(d, kDiskType) = 0x42; }},
      {"the first free sector (track 0", [](TZX_Disk& d) { *Service(d, kFirstFreeTrack) = 0; }},
      {"the first free sector (track 161", [](TZX_Disk& d) { *Service(d, kFirstFreeTrack) = 161; }},
      {"counts 7 free sectors",
       [](TZX_Disk& d) { *Service(d, kFreeSectors) = 7, *Service(d, kFreeSectors + 1) = 0; }},
      {"files A.C and B.C share sectors", [](TZX_Disk& d) { *Catalog(d, 1, 14) = 1; }},
      {"file C.B runs past the end of the disk",
       [](TZX_Disk& d) {
         *Catalog(d, 2, 15) = 159, *Catalog(d, 2, 14) = 15, *Catalog(d, 2, 13) = 2;
       }},
      {"file C.B runs past the first free sector", [](TZX_Disk& d) { *Catalog(d, 2, 13) = 5; }},
      {"file B.C: the length 1000 does not fit its 3 sectors",
       [](TZX_Disk& d) { *Catalog(d, 1, 11) = 0xE8, *Catalog(d, 1, 12) = 0x03; }},
      {"file A.C starts outside the data area", [](TZX_Disk& d) { *Catalog(d, 0, 15) = 0; }},
      {"file B.C: sector 4 of track 1 is bad",
       [](TZX_Disk& d) { GetLogicalSector(d, 1, 4)->DataOk = 0; }},
      {"file B.C: sector 5 of track 1 is missing",
       [](TZX_Disk& d) { GetLogicalSector(d, 1, 5)->Present = 0; }},
  };
  for (const Case& c : cases) {
    auto disk = std::make_unique<TZX_Disk>();
    BuildThreeFiles(*disk);
    c.damage(*disk);
    bool isTrdos = false;
    const auto problems = CheckTrdosVolume(*disk, isTrdos);
    EXPECT_TRUE(isTrdos);
    std::string all;
    for (const std::string& p : problems)
      all += p + "\n";
    if (*c.finding == 0) {
      EXPECT_TRUE(problems.empty()) << all;
    } else {
      EXPECT_NE(all.find(c.finding), std::string::npos) << c.finding << "\n" << all;
    }
  }
}

TEST(ImageCheck, SectorsTracksAndVerdict) {
  auto disk = std::make_unique<TZX_Disk>();
  BuildThreeFiles(*disk);
  GetLogicalSector(*disk, 3, 5)->DataOk = 0;
  GetLogicalSector(*disk, 3, 2)->ClearData();
  GetLogicalSector(*disk, 3, 16)->Present = 0;
  disk->GetTrack(7).Present = 0;
  ImageCheck c;
  CheckImage(*disk, c);
  c.Settle();
  EXPECT_EQ(c.fileSystem, "trdos");
  EXPECT_EQ(c.verdict, ImageCheck::Verdict::Damaged);
  EXPECT_EQ(c.tracks, 159);
  EXPECT_EQ(c.missingTracks, std::vector<int>{7});
  ASSERT_EQ(c.damage.size(), 1u);
  EXPECT_EQ(c.damage[0].track, 3);
  EXPECT_EQ(c.damage[0].bad, std::vector<int>{5});
  EXPECT_EQ(c.damage[0].noData, std::vector<int>{2});
  EXPECT_EQ(c.damage[0].missing, std::vector<int>{16});
}

TEST(ImageCheck, CpmDirectoryFindings) {
  auto disk = std::make_unique<TZX_Disk>();
  CreateCpmDisk(*disk);
  test::PutCpmEntry(*disk, 0, {0, "A       COM", 0, 16, {2, 3}});
  test::PutCpmEntry(*disk, 1, {0, "B       COM", 0, 200, {3, 400, 1}});
  test::PutCpmEntry(*disk, 2, {0, "C       COM", 0, 17, {4}});  // 17 records, 2 KB block
  const auto problems = CheckCpmVolume(*disk);
  ASSERT_EQ(problems.size(), 5u);
  EXPECT_EQ(problems[4], "directory entry 2 counts 17 records, its 1 block(s) hold 16");
  EXPECT_EQ(problems[0], "directory entry 1 counts 200 records, an extent holds 128");
  EXPECT_EQ(problems[1], "directory entry 1 names block 3, used by another file");
  EXPECT_EQ(problems[2], "directory entry 1 names block 400, past the end of the disk");
  EXPECT_EQ(problems[3], "directory entry 1 names block 1, which holds the directory");
}

// One side of 40 tracks of nine 512-byte sectors numbered from `firstId`,
// filled with 0xE5: a +3 disk with the blank format record (1), a CPC
// system (0x41) or data (0xC1) disk.
void OneSidedDisk(TZX_Disk& disk, uint8_t firstId) {
  disk.ClearImage();
  for (int cyl = 0; cyl < 40; ++cyl) {
    for (int r = 0; r < 9; ++r)
      test::AddSector(disk, static_cast<uint8_t>(2 * cyl), static_cast<uint8_t>(cyl), 0,
                      static_cast<uint8_t>(firstId + r), 2, std::vector<uint8_t>(512, 0xE5));
  }
}

// The CP/M family is recognised by its layout and checked in it; a
// one-sided disk misses nothing of the side it lacks. A sector of the
// layout gone is missing; a block named twice is found in the +3 layout.
TEST(ImageCheck, Plus3AndCpcDisksAreCleanOnOneSide) {
  struct Case {
    const char* fileSystem;
    uint8_t firstId;
  };
  auto disk = std::make_unique<TZX_Disk>();
  for (const Case c : {Case{"plus3dos", 1}, Case{"cpc-system", 0x41}, Case{"cpc-data", 0xC1}}) {
    OneSidedDisk(*disk, c.firstId);
    ImageCheck check;
    CheckImage(*disk, check);
    check.Settle();
    EXPECT_EQ(check.fileSystem, c.fileSystem);
    EXPECT_EQ(check.verdict, ImageCheck::Verdict::Clean) << c.fileSystem;
    EXPECT_EQ(check.tracks, 40);
  }
  CreatePlus3Disk(*disk);
  disk->GetTrack(4).Sectors[3].Present = 0;
  CpmFormat f;
  ASSERT_TRUE(FindPlus3Format(*disk, f));
  // Entries of 2 records in block 2, then in blocks 2 and 3; a label holds none.
  for (const auto& [entry, blocks] : {std::pair{0, std::vector<uint8_t>{2}}, {1, {2, 3}}}) {
    uint8_t* raw = disk->GetTrack(2).Sectors[0].MutableData().data() + 32 * entry;
    std::fill_n(raw, 32, 0);
    std::fill_n(raw + 1, 11, 'A' + entry);
    raw[15] = 2;
    std::copy(blocks.begin(), blocks.end(), raw + 16);
  }
  uint8_t* label = disk->GetTrack(2).Sectors[0].MutableData().data() + 64;
  std::fill_n(label, 32, 0x7F);
  label[0] = 0x20;
  ImageCheck check;
  CheckImage(*disk, check);
  EXPECT_EQ(check.fileSystem, "plus3dos");
  ASSERT_EQ(check.damage.size(), 1u);
  EXPECT_EQ(check.damage[0].track, 4);
  EXPECT_EQ(check.damage[0].missing, std::vector<int>{4});
  EXPECT_EQ(check.problems, std::vector<std::string>{"directory entry 1 names block 2, used by "
                                                     "another file"});
  EXPECT_TRUE(check.missingTracks.empty());
}

// A sector whose ID field has a CRC error is no sector to a controller: the
// check lists it, and a file on it is not readable.
TEST(ImageCheck, AnUnreadableIdIsReportedAndHidesItsData) {
  auto disk = std::make_unique<TZX_Disk>();
  BuildThreeFiles(*disk);
  GetLogicalSector(*disk, 1, 4)->HeaderCrc ^= 0xFFFF;
  ImageCheck c;
  CheckImage(*disk, c);
  ASSERT_EQ(c.damage.size(), 1u);
  EXPECT_EQ(c.damage[0].badId, std::vector<int>{4});
  EXPECT_TRUE(c.damage[0].missing.empty());
  ASSERT_EQ(c.problems.size(), 1u);
  EXPECT_EQ(c.problems[0], "file B.C: sector 4 of track 1 has an unreadable ID");
  EXPECT_EQ(UsableSector(*disk, 1, 4), nullptr);
}

// Hobeta and SCL checksums are damage, not unreadable files.
TEST(ImageCheck, FilesByTheirChecksums) {
  test::TempDir dir;
  const TrdosFile f = test::PatternFile("GAME", 'C', 2);
  std::vector<uint8_t> hobeta = test::HobetaBytes(f), scl = test::SclBytes({f});
  auto badHobeta = hobeta, badScl = scl, cutHobeta = hobeta;
  badHobeta[15] ^= 1;
  badScl[20] ^= 1;
  cutHobeta.resize(hobeta.size() - 256);
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    ImageCheck::Verdict verdict;
  };
  using V = ImageCheck::Verdict;
  const Case cases[] = {{"a.$C", hobeta, V::Clean},      {"b.$C", badHobeta, V::Damaged},
                        {"c.$C", cutHobeta, V::Damaged}, {"d.scl", scl, V::Clean},
                        {"e.scl", badScl, V::Damaged},   {"f.udi", {1, 2, 3}, V::Unreadable},
                        {"g.$C", {1, 2}, V::Unreadable}};
  auto scratch = std::make_unique<TZX_Disk>();
  for (const Case& c : cases) {
    test::WriteBytes(dir / c.name, c.bytes);
    const ImageCheck r = CheckImageFile(*scratch, dir / c.name);
    EXPECT_EQ(r.verdict, c.verdict) << c.name << ": " << r.error;
  }
  EXPECT_FALSE(IsCheckableFile("notes.txt"));
  EXPECT_TRUE(IsCheckableFile("GAME.$C"));
}

}  // namespace
}  // namespace kelvara
