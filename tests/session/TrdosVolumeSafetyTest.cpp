// Disks whose catalog order is not their order on the disk, damaged service
// sectors, unusable catalog sectors and sectors with old CRC errors: no
// command may leave two files on the same sectors or a catalog half written.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "filesystems/Hobeta.h"
#include "session/Settings.h"
#include "session/TrdosCatalog.h"
#include "support/FakePrompt.h"
#include "support/TempDir.h"
#include "support/TrdosBuilder.h"

namespace kelvara {
namespace {

using test::PatternBytes;
using test::PatternFile;
using test::RunBytes;
using test::TrdosFile;

class VolumeSafety : public ::testing::Test {
 protected:
  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
  test::FakePrompt prompt;
  test::TempDir dir;
  TSettings settings;
  TrdosCatalog zx{*disk, prompt, settings};

  // Files one after another on the disk; the catalog lists them in `order`.
  void Build(const std::vector<TrdosFile>& files, const std::vector<int>& order) {
    test::BuildTrdosDisk(*disk, files);
    TTrdosCatalog cat;
    ASSERT_TRUE(ReadTrdosCatalog(*disk, cat));
    TSectorRec* s1 = GetLogicalSector(*disk, 0, 1);
    for (size_t i = 0; i < order.size(); ++i) {
      cat.Entries[static_cast<size_t>(order[i])].Encode(
          std::span<uint8_t, 16>(s1->MutableData().data() + i * 16, 16));
    }
  }
  void Open() { ASSERT_TRUE(zx.OpenFromImage()); }
  TTrdosCatalog OnDisk() {
    TTrdosCatalog cat;
    EXPECT_TRUE(ReadTrdosCatalog(*disk, cat));
    return cat;
  }
  // Every live file holds its pattern bytes and no two share a sector.
  void ExpectFilesIntact(const std::vector<std::pair<std::string, uint32_t>>& files) {
    const TTrdosCatalog cat = OnDisk();
    std::vector<std::pair<int, int>> runs;
    for (const auto& [name, seed] : files) {
      const auto* e = std::find_if(cat.Entries.begin(), cat.Entries.begin() + cat.ListedBound(),
                                   [&](const TTrdosFileEntry& x) {
                                     return x.IsLive() && TrdosNameText(x.Name).starts_with(name);
                                   });
      ASSERT_NE(e, cat.Entries.begin() + cat.ListedBound()) << name;
      EXPECT_EQ(RunBytes(*disk, e->FirstTrack, e->FirstSector, e->SectorCount),
                PatternBytes(e->SectorCount * 256u, seed))
          << name;
      runs.emplace_back(e->FirstLinear(), e->FirstLinear() + e->SectorCount);
    }
    std::sort(runs.begin(), runs.end());
    for (size_t i = 1; i < runs.size(); ++i)
      EXPECT_LE(runs[i - 1].second, runs[i].first);
    EXPECT_GE(cat.FirstFreeTrack * 16 + cat.FirstFreeSector, runs.back().second);
  }
  std::string Hobeta(const TrdosFile& f) {
    test::WriteBytes(dir / "f.$C", test::HobetaBytes(f));
    return dir / "f.$C";
  }
};

TEST_F(VolumeSafety, CompactMovesFilesInTheirOrderOnTheDisk) {
  // GAP is deleted; the catalog lists LATE (last on the disk) before EARLY.
  TrdosFile gap = PatternFile("GAP", 'C', 3, 1);
  gap.deleted = true;
  Build({gap, PatternFile("EARLY", 'C', 4, 2), PatternFile("LATE", 'C', 5, 3)}, {0, 2, 1});
  Open();
  EXPECT_TRUE(zx.CompactVolume().ok);
  ExpectFilesIntact({{"EARLY", 2}, {"LATE", 3}});
  const TTrdosCatalog cat = OnDisk();
  EXPECT_EQ(TrdosNameText(cat.Entries[0].Name), "LATE    ");  // catalog places kept
  EXPECT_EQ(cat.FreeSectors, 2560 - 25);
}

TEST_F(VolumeSafety, CompactRefusesFilesThatShareSectors) {
  TrdosFile gap = PatternFile("GAP", 'C', 1, 1);
  gap.deleted = true;
  Build({gap, PatternFile("ONE", 'C', 4, 2), PatternFile("TWO", 'C', 2, 3)}, {0, 1, 2});
  GetLogicalSector(*disk, 0, 1)->MutableData()[32 + 14] = 3;  // TWO now starts inside ONE
  Open();
  const std::vector<uint8_t> before = RunBytes(*disk, 0, 0, 16 * 3);
  EXPECT_FALSE(zx.CompactVolume().ok);
  EXPECT_EQ(prompt.messages.back().caption, "Ошибка..!");
  EXPECT_EQ(RunBytes(*disk, 0, 0, 16 * 3), before);
}

TEST_F(VolumeSafety, DeletingTheFileFirstOnTheDiskKeepsTheFreePointerPastLiveFiles) {
  Build({PatternFile("FIRST", 'C', 2, 1), PatternFile("SECOND", 'C', 3, 2)}, {1, 0});
  Open();
  zx.DeleteEntries({1});  // FIRST: last in the catalog, first on the disk
  EXPECT_EQ(OnDisk().FirstFreeTrack * 16 + OnDisk().FirstFreeSector, 16 + 5);
  ASSERT_TRUE(zx.AddFilesFrom({Hobeta(PatternFile("NEW", 'C', 3, 9))}).ok);
  ExpectFilesIntact({{"SECOND", 2}, {"NEW", 9}});

  // Restoring an erased file that lies first does not pull the pointer back.
  Build({PatternFile("FIRST", 'C', 2, 1), PatternFile("SECOND", 'C', 3, 2)}, {1, 0});
  Open();
  zx.DeleteEntries({1});
  zx.ToggleShowDeleted();
  prompt.texts = {"F"};
  zx.RestoreFile(1);
  EXPECT_EQ(OnDisk().FirstFreeTrack * 16 + OnDisk().FirstFreeSector, 16 + 5);
}

TEST_F(VolumeSafety, ACatalogWriteBackNeedsEverySectorBeforeItChangesOne) {
  Build({PatternFile("ONE", 'C', 1)}, {0});
  Open();
  GetLogicalSector(*disk, 0, 5)->ClearData();  // a failed read
  const std::vector<uint8_t> before = RunBytes(*disk, 0, 0, 4);
  std::string error;
  EXPECT_FALSE(WriteTrdosCatalog(*disk, zx.Catalog(), error));
  EXPECT_EQ(error, "Ошибка сектора - (track 0 sector 5)..!");
  EXPECT_EQ(RunBytes(*disk, 0, 0, 4), before);
}

TEST_F(VolumeSafety, SectorsWrittenWithNewDataAreGood) {
  TrdosFile gap = PatternFile("GAP", 'C', 2, 1);
  gap.deleted = true;
  Build({gap, PatternFile("TWO", 'C', 2, 2)}, {0, 1});
  for (int sec = 1; sec <= 6; ++sec)
    GetLogicalSector(*disk, 1, sec)->DataOk = 0;
  Open();
  ASSERT_TRUE(zx.CompactVolume().ok);  // TWO moves to sectors 1, 2
  ASSERT_TRUE(zx.AddFilesFrom({Hobeta(PatternFile("NEW", 'C', 2, 9))}).ok);  // 3, 4
  for (int sec = 1; sec <= 4; ++sec)
    EXPECT_EQ(GetLogicalSector(*disk, 1, sec)->DataOk, 0xFF) << sec;
  EXPECT_EQ(GetLogicalSector(*disk, 1, 5)->DataOk, 0);  // not written
}

TEST_F(VolumeSafety, FreeSpaceFollowsTheDiskType) {
  struct {
    uint8_t type;
    int total;
  } const types[] = {{0x16, 2560}, {0x17, 1280}, {0x18, 1280}, {0x19, 640}};
  for (const auto& t : types) {
    Build({PatternFile("ONE", 'C', 47)}, {0});
    GetLogicalSector(*disk, 0, 9)->MutableData()[0xE3] = t.type;
    Open();
    ASSERT_TRUE(zx.AddFilesFrom({Hobeta(PatternFile("NEW", 'C', 4, 9))}).ok);
    EXPECT_EQ(OnDisk().FreeSectors, t.total - 16 - 47 - 4) << int(t.type);
  }
}

TEST_F(VolumeSafety, ExportNamesThatCollideAreNumbered) {
  Build(
      {PatternFile("A/B", 'C', 1, 1), PatternFile("A:B", 'C', 1, 2), PatternFile("A/B", 'C', 1, 3)},
      {0, 1, 2});
  Open();
  const int all[] = {0, 1, 2};
  ASSERT_TRUE(zx.ExportFilesTo(dir.Path(), all, ExportKind::Hobeta).ok);
  EXPECT_TRUE(prompt.questions.empty());
  const char* names[] = {"A_B.$C", "A_B_1.$C", "A_B_2.$C"};
  for (uint32_t i = 0; i < 3; ++i) {
    const std::vector<uint8_t> file = test::ReadBytes(dir / names[i]);
    ASSERT_EQ(file.size(), 17u + 256);
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 17, file.end()), PatternBytes(256, i + 1));
  }
}

TEST_F(VolumeSafety, AddRefusesACatalogShorterThanItsFileCount) {
  Build({PatternFile("ONE", 'C', 1)}, {0});
  GetLogicalSector(*disk, 0, 9)->MutableData()[0xE4] = 3;
  Open();
  const std::vector<uint8_t> before = RunBytes(*disk, 0, 0, 16 * 3);
  EXPECT_FALSE(zx.AddFilesFrom({Hobeta(PatternFile("NEW", 'C', 1, 9))}).ok);
  EXPECT_EQ(prompt.messages.back().text, "Каталог диска поврежден..!");
  EXPECT_EQ(RunBytes(*disk, 0, 0, 16 * 3), before);
}

// Each damage, then a command that must refuse: a message, and no byte of
// the disk changed (no file data written under a catalog that cannot take
// its entry, none over a live file, none of a file that cannot be stored).
TEST_F(VolumeSafety, RefusedAddsAndCompactsLeaveTheDiskAsItWas) {
  struct Case {
    const char* what;
    void (*damage)(TZX_Disk&);
    bool compact;
    const char* message;  // prefix
  } const cases[] = {
      {"catalog sector short, add", [](TZX_Disk& d) { GetLogicalSector(d, 0, 5)->ClearData(); },
       false, "Ошибка сектора - (track 0 sector 5)"},
      {"catalog sector short, compact", [](TZX_Disk& d) { GetLogicalSector(d, 0, 5)->ClearData(); },
       true, "Ошибка сектора - (track 0 sector 5)"},
      {"a sector of the new run unusable",
       [](TZX_Disk& d) { GetLogicalSector(d, 2, 2)->Present = 0; }, false,
       "Ошибка добавления файла"},
      {"pointer inside a live file",
       [](TZX_Disk& d) { GetLogicalSector(d, 0, 9)->MutableData()[0xE1] = 2; }, false,
       "Каталог диска поврежден..!"},
      {"pointer at sector 21 of a track (found by fuzzing: the write ran off the checked run)",
       [](TZX_Disk& d) { GetLogicalSector(d, 0, 9)->MutableData()[0xE1] = 20; }, false,
       "Каталог диска поврежден..!"},
      {"live file beyond the file count",
       [](TZX_Disk& d) { GetLogicalSector(d, 0, 9)->MutableData()[0xE4] = 1; }, false,
       "Каталог диска поврежден..!"},
      {"pointer on the catalog track",
       [](TZX_Disk& d) {
         GetLogicalSector(d, 0, 9)->MutableData()[0xE1] = 3;
         GetLogicalSector(d, 0, 9)->MutableData()[0xE2] = 0;
       },
       false, "Каталог диска поврежден..!"},
      {"run past the disk type's 640 sectors, free count wrong",
       [](TZX_Disk& d) {
         uint8_t* service = GetLogicalSector(d, 0, 9)->MutableData().data();
         service[0xE3] = 0x19;
         service[0xE1] = 14;  // 638
         service[0xE2] = 39;
         service[0xE5] = 100;
       },
       false, "Нет места на образе диска ..!"},
      {"a track of the new run not part of the image",
       [](TZX_Disk& d) { d.GetTrack(2).Present = 0; }, false, "Ошибка добавления файла"},
      {"compact onto a track not part of the image", [](TZX_Disk& d) { d.GetTrack(1).Present = 0; },
       true, "Ошибка сектора - (track 1 sector 0)"},
  };
  for (const Case& c : cases) {
    TrdosFile gap = PatternFile("GAP", 'C', 1, 1);
    gap.deleted = true;
    Build({gap, PatternFile("ONE", 'C', 14, 2)}, {0, 1});  // free from track 1 sector 16
    c.damage(*disk);
    Open();
    const std::vector<uint8_t> before = RunBytes(*disk, 0, 0, 16 * 3);
    const CatalogOutcome r =
        c.compact ? zx.CompactVolume() : zx.AddFilesFrom({Hobeta(PatternFile("NEW", 'C', 3, 9))});
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_TRUE(prompt.messages.back().text.starts_with(c.message)) << c.what;
    EXPECT_EQ(RunBytes(*disk, 0, 0, 16 * 3), before) << c.what;
  }
}

TEST_F(VolumeSafety, CompactRefusesFilesThatPassTheDiskTypesCapacity) {
  TrdosFile gap = PatternFile("GAP", 'C', 1, 1);
  gap.deleted = true;
  Build({gap, PatternFile("ONE", 'C', 255, 2), PatternFile("TWO", 'C', 255, 3),
         PatternFile("THREE", 'C', 115, 4)},
        {0, 1, 2, 3});
  GetLogicalSector(*disk, 0, 9)->MutableData()[0xE3] = 0x19;  // 640 sectors, 625 in files
  Open();
  const std::vector<uint8_t> before = RunBytes(*disk, 0, 0, 16 * 41);
  EXPECT_FALSE(zx.CompactVolume().ok);
  EXPECT_EQ(prompt.messages.back().text, "Файлы не помещаются на диск - уплотнение невозможно..!");
  EXPECT_EQ(RunBytes(*disk, 0, 0, 16 * 41), before);
}

// TR-DOS reads its catalog up to the first entry whose first byte is 0.
TEST_F(VolumeSafety, DeletingTheFileCountedLastKeepsTheLiveOnesAfterItVisible) {
  Build({PatternFile("ONE", 'C', 1, 1), PatternFile("TWO", 'C', 1, 2),
         PatternFile("THREE", 'C', 1, 3)},
        {0, 1, 2});
  GetLogicalSector(*disk, 0, 9)->MutableData()[0xE4] = 2;
  Open();
  zx.DeleteEntries({1});
  const TTrdosCatalog cat = OnDisk();
  EXPECT_EQ(cat.Entries[1].Name[0], kDeletedMark);
  EXPECT_EQ(cat.DeletedCount, 1);
  EXPECT_EQ(cat.FileCount, 2);
  ExpectFilesIntact({{"ONE", 1}, {"THREE", 3}});
}

TEST_F(VolumeSafety, AFileThatExactlyFillsTheFreeSpaceIsAdded) {
  for (const bool scl : {false, true}) {
    // 640 sectors: 16 + 455 used, 169 free.
    Build({PatternFile("ONE", 'C', 255, 1), PatternFile("TWO", 'C', 200, 2)}, {0, 1});
    GetLogicalSector(*disk, 0, 9)->MutableData()[0xE3] = 0x19;
    GetLogicalSector(*disk, 0, 9)->MutableData()[0xE5] = 169;
    GetLogicalSector(*disk, 0, 9)->MutableData()[0xE6] = 0;
    Open();
    std::string path = dir / "fill.scl";
    if (scl) {
      test::WriteBytes(
          path, test::SclBytes({PatternFile("NEW", 'C', 100, 9), PatternFile("LAST", 'C', 69, 8)}));
    } else {
      path = Hobeta(PatternFile("NEW", 'C', 169, 9));
    }
    ASSERT_TRUE(zx.AddFilesFrom({path}).ok) << scl;
    EXPECT_EQ(OnDisk().FreeSectors, 0) << scl;
    EXPECT_EQ(OnDisk().FirstFreeTrack * 16 + OnDisk().FirstFreeSector, 640) << scl;
  }
}

TEST_F(VolumeSafety, DeletingEveryFileAfterADeletedFirstEntryFreesTheWholeDisk) {
  // The deleted entry 0 lies last on the disk.
  TrdosFile gone = PatternFile("GONE", 'C', 3, 1);
  gone.deleted = true;
  Build({PatternFile("ONE", 'C', 2, 2), PatternFile("TWO", 'C', 4, 3), gone}, {2, 0, 1});
  Open();
  zx.DeleteEntries({1, 2});
  const TTrdosCatalog cat = OnDisk();
  EXPECT_EQ(cat.FileCount, 0);
  EXPECT_EQ(cat.DeletedCount, 0);
  EXPECT_EQ(cat.FreeSectors, 2544);
  EXPECT_EQ(cat.FirstFreeTrack * 16 + cat.FirstFreeSector, 16);
  EXPECT_EQ(cat.Entries[0].Name[0], 0);
}

// Found by the property runs: a deleted entry beyond the end of the catalog
// became part of what TR-DOS reads, uncounted, once a file took the erased
// entry before it, restored or added.
TEST_F(VolumeSafety, ANewLastFileEndsTheCatalogAfterIt) {
  for (const bool restore : {true, false}) {
    TrdosFile two = PatternFile("TWO", 'C', 1, 2), three = PatternFile("THREE", 'C', 1, 3);
    two.deleted = three.deleted = true;
    Build({PatternFile("ONE", 'C', 1, 1), two, three}, {0, 1, 2});
    GetLogicalSector(*disk, 0, 1)->MutableData()[16] = 0;  // TWO erased, THREE still marked
    GetLogicalSector(*disk, 0, 9)->MutableData()[0xE4] = 1;
    GetLogicalSector(*disk, 0, 9)->MutableData()[0xF4] = 0;
    Open();
    if (restore) {
      if (!zx.ShowDeleted()) zx.ToggleShowDeleted();
      prompt.texts = {"T"};
      ASSERT_TRUE(zx.RestoreFile(1).ok);
    } else {
      ASSERT_TRUE(zx.AddFilesFrom({Hobeta(PatternFile("NEW", 'C', 1, 9))}).ok);
    }
    const TTrdosCatalog cat = OnDisk();
    EXPECT_EQ(cat.FileCount, 2) << restore;
    EXPECT_EQ(cat.DeletedCount, 0) << restore;
    EXPECT_EQ(cat.Entries[2].Name[0], 0) << restore;
  }
}

TEST_F(VolumeSafety, ThePointerStaysPastLiveFilesTheCountsMiss) {
  // TWO is live but beyond a file count of 1: erasing ONE gives back only
  // ONE's sectors.
  Build({PatternFile("ONE", 'C', 2, 1), PatternFile("TWO", 'C', 3, 2)}, {0, 1});
  GetLogicalSector(*disk, 0, 9)->MutableData()[0xE4] = 1;
  Open();
  zx.DeleteEntries({0});
  EXPECT_EQ(OnDisk().FirstFreeTrack * 16 + OnDisk().FirstFreeSector, 16 + 5);

  // A deleted file the pointer was moved into takes the pointer past it
  // again when restored.
  TrdosFile gone = PatternFile("GONE", 'C', 3, 2);
  gone.deleted = true;
  Build({PatternFile("ONE", 'C', 2, 1), gone}, {0, 1});
  GetLogicalSector(*disk, 0, 9)->MutableData()[0xE1] = 2;
  Open();
  zx.ToggleShowDeleted();
  prompt.texts = {"G"};
  ASSERT_TRUE(zx.RestoreFile(1).ok);
  EXPECT_EQ(OnDisk().FirstFreeTrack * 16 + OnDisk().FirstFreeSector, 16 + 5);
}

TEST_F(VolumeSafety, RestoreRefusesAnEntryWhoseSectorsAnotherFileTook) {
  Build({PatternFile("ONE", 'C', 1, 1), PatternFile("TWO", 'C', 2, 2),
         PatternFile("THREE", 'C', 2, 3)},
        {0, 1, 2});
  Open();
  zx.DeleteEntries({1});
  zx.DeleteEntries({2});  // erases THREE and TWO, free from TWO's start
  ASSERT_TRUE(zx.AddFilesFrom({Hobeta(PatternFile("NEW", 'C', 3, 9))}).ok);  // over THREE's first
  zx.ToggleShowDeleted();
  prompt.texts = {"T"};
  const std::vector<uint8_t> before = RunBytes(*disk, 0, 0, 16 * 2);
  EXPECT_FALSE(zx.RestoreFile(2).ok);
  EXPECT_EQ(prompt.messages.back().text,
            "Сектора файла заняты другим файлом - восстановление невозможно..!");
  EXPECT_EQ(RunBytes(*disk, 0, 0, 16 * 2), before);
  ExpectFilesIntact({{"ONE", 1}, {"NEW", 9}});
}

}  // namespace
}  // namespace kelvara
