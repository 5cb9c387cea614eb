#include "session/TrdosCatalog.h"

#include <gtest/gtest.h>

#include <memory>

#include "session/Settings.h"
#include "support/DiskBuilder.h"
#include "support/FakePrompt.h"
#include "support/TempDir.h"
#include "support/TrdosBuilder.h"

namespace kelvara {
namespace {

using test::PatternFile;
using test::ServiceByte;
using test::TrdosFile;

class CatalogCommands : public ::testing::Test {
 protected:
  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
  test::FakePrompt prompt;
  TSettings settings;
  TrdosCatalog zx{*disk, prompt, settings};

  void Open(const std::vector<TrdosFile>& files) {
    test::BuildTrdosDisk(*disk, files);
    ASSERT_TRUE(zx.OpenFromImage());
  }
  // The catalog as it now stands on the image.
  TTrdosCatalog OnDisk() {
    TTrdosCatalog cat;
    EXPECT_TRUE(ReadTrdosCatalog(*disk, cat));
    return cat;
  }
  static std::vector<TrdosFile> Three() {
    return {PatternFile("ONE", 'C', 2, 1), PatternFile("TWO", 'C', 3, 2),
            PatternFile("THREE", 'C', 4, 3)};
  }
  TrdosFile Deleted(TrdosFile f) {
    f.deleted = true;
    return f;
  }
};

TEST_F(CatalogCommands, DeletingTheOnlyFileGivesBackTheWholeDisk) {
  Open({PatternFile("GAME", 'B', 5)});
  const int rows[] = {0};
  const CatalogOutcome r = zx.DeleteFiles(rows);
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(zx.Modified());
  EXPECT_EQ(prompt.questions.at(0), "Внимание..!|Вы действительно хотите удалить выбранные Файлы?");
  const TTrdosCatalog cat = OnDisk();
  EXPECT_EQ(cat.FileCount, 0);
  EXPECT_EQ(cat.DeletedCount, 0);
  EXPECT_EQ(cat.FirstFreeTrack, 1);
  EXPECT_EQ(cat.FirstFreeSector, 0);
  EXPECT_EQ(cat.FreeSectors, 2544);
  // The erased entry keeps its other bytes, so it is still read and listed
  // among the deleted ones.
  EXPECT_EQ(cat.ListedCount, 1);
  EXPECT_EQ(cat.Entries[0].Name[1], 'A');
  EXPECT_FALSE(cat.Entries[0].IsLive());
}

TEST_F(CatalogCommands, DeletingTheLastFileAlsoErasesTheDeletedBeforeIt) {
  Open(Three());
  const int second[] = {1};
  zx.DeleteFiles(second);
  TTrdosCatalog cat = OnDisk();
  EXPECT_EQ(cat.Entries[1].Name[0], 0x01);
  EXPECT_EQ(cat.DeletedCount, 1);
  EXPECT_EQ(cat.FileCount, 3);

  // With deleted files hidden, row 1 is now the third file.
  ASSERT_EQ(zx.Rows().size(), 2u);
  EXPECT_EQ(zx.EntryOfRow(1), 2);
  zx.DeleteFiles(second);
  cat = OnDisk();
  EXPECT_EQ(cat.Entries[0].Name[0], 'O');
  EXPECT_EQ(zx.Catalog().Entries[1].Name[0], 0);
  EXPECT_EQ(zx.Catalog().Entries[2].Name[0], 0);
  EXPECT_EQ(cat.FileCount, 1);
  EXPECT_EQ(cat.DeletedCount, 0);
  EXPECT_EQ(cat.FirstFreeTrack * 16 + cat.FirstFreeSector, 16 + 2);
  EXPECT_EQ(cat.FreeSectors, 2560 - 18);
}

TEST_F(CatalogCommands, DeleteNeedsASelectionAndAYes) {
  Open(Three());
  zx.DeleteFiles({});
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].caption, "Ошибка..!");
  EXPECT_EQ(prompt.messages[0].text, "Файлы для удаления не выбраны..!");
  prompt.answers = {Answer::No};
  const int rows[] = {0, 2};
  EXPECT_TRUE(zx.DeleteFiles(rows).cancelled);
  EXPECT_FALSE(zx.Modified());
  EXPECT_EQ(OnDisk().FileCount, 3);
}

TEST_F(CatalogCommands, TheMenuFollowsTheSelection) {
  TrdosFile almost = PatternFile("SCR", 'C', 27);
  almost.length = 6911;
  Open({almost, Deleted(PatternFile("OLD", 'C', 1))});
  TrdosMenuState m = zx.MenuState(std::vector<int>{0});
  EXPECT_FALSE(m.viewScreen);
  EXPECT_TRUE(m.viewHex && m.editEntry && m.remove && m.compact);
  EXPECT_FALSE(m.restore);

  TrdosFile screen = PatternFile("SCR", 'X', 27);
  screen.length = 6912;
  Open({screen, Deleted(PatternFile("OLD", 'C', 1))});
  EXPECT_TRUE(zx.MenuState(std::vector<int>{0}).viewScreen);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(zx.ScreenBytes(0, bytes));
  EXPECT_EQ(bytes, test::PatternBytes(6912, 1));

  zx.ToggleShowDeleted();
  m = zx.MenuState(std::vector<int>{1});
  EXPECT_TRUE(m.restore);
  EXPECT_FALSE(m.remove);
  m = zx.MenuState(std::vector<int>{0, 1});
  EXPECT_TRUE(m.remove);
  EXPECT_FALSE(m.viewHex || m.editEntry || m.restore);

  Open({Deleted(PatternFile("OLD", 'C', 1))});
  zx.ToggleShowDeleted();  // hidden again: the list is empty
  ASSERT_TRUE(zx.Rows().empty());
  m = zx.MenuState({});
  EXPECT_TRUE(m.add && m.renameDisk && m.showDeleted);
  EXPECT_FALSE(m.saveHobeta || m.saveScl || m.remove || m.compact);
}

TEST_F(CatalogCommands, RestoreMarksTheFileLiveOrMakesItTheLastAgain) {
  Open(Three());
  zx.DeleteEntries({1});
  zx.ToggleShowDeleted();
  prompt.texts = {"T"};
  EXPECT_TRUE(zx.RestoreFile(1).ok);
  EXPECT_EQ(prompt.questions.back(),
            "Восстановление файла|Для восстановления файла необходимо указать первую букву "
            "имени файла!\nЗадайте букву:");
  EXPECT_EQ(OnDisk().Entries[1].Name[0], 'T');
  EXPECT_EQ(OnDisk().DeletedCount, 0);
  EXPECT_TRUE(zx.Modified());

  zx.DeleteEntries({1, 2});  // both erased, one file left
  ASSERT_EQ(zx.Rows().size(), 3u);
  prompt.texts = {"T"};
  zx.RestoreFile(2);
  const TTrdosCatalog cat = OnDisk();
  EXPECT_EQ(cat.FileCount, 3);
  EXPECT_EQ(cat.DeletedCount, 1);
  EXPECT_EQ(cat.FirstFreeTrack * 16 + cat.FirstFreeSector, 16 + 2 + 3 + 4);
  EXPECT_EQ(cat.FreeSectors, 2560 - 25);
  // The erased entry between is now a deleted one, not the catalog's end.
  EXPECT_EQ(cat.Entries[1].Name[0], 0x01);
  EXPECT_EQ(cat.ListedCount, 3);

  prompt.texts = {""};
  zx.RestoreFile(1);
  EXPECT_EQ(OnDisk().Entries[1].Name[0], 0x01);
  EXPECT_EQ(zx.EntryOfRow(3), -1);
  EXPECT_FALSE(zx.RestoreFile(0).ok);  // a live file
}

TEST_F(CatalogCommands, RestoringTheFileJustErasedAtTheEndCountsItAgain) {
  Open(Three());
  zx.DeleteEntries({2});
  ASSERT_EQ(OnDisk().FileCount, 2);
  zx.ToggleShowDeleted();
  prompt.texts = {"T"};
  ASSERT_TRUE(zx.RestoreFile(2).ok);
  const TTrdosCatalog cat = OnDisk();
  EXPECT_EQ(cat.FileCount, 3);
  EXPECT_EQ(cat.DeletedCount, 0);
  EXPECT_EQ(cat.FirstFreeTrack * 16 + cat.FirstFreeSector, 16 + 2 + 3 + 4);
}

// The copy a controller finds first after the index is the one read and
// written.
TEST_F(CatalogCommands, ACatalogSectorHeldTwiceIsUsedAtItsFirstSlot) {
  test::BuildTrdosDisk(*disk, {PatternFile("ONE", 'C', 2)});
  std::vector<uint8_t> other(256, 0);
  std::copy_n("OTHER   C", 9, other.begin());
  test::AddSector(*disk, 0, 0, 0, 1, 1, other);  // slot 16
  ASSERT_TRUE(zx.OpenFromImage());
  EXPECT_EQ(TrdosNameText(zx.Catalog().Entries[0].Name), "ONE     ");
  zx.DeleteEntries({0});
  EXPECT_EQ(OnDisk().FileCount, 0);
  EXPECT_EQ(OnDisk().FreeSectors, 2544);
  ASSERT_TRUE(zx.OpenFromImage());
  ASSERT_EQ(disk->GetTrack(0).Log.size(), 1u);  // noted once
  EXPECT_TRUE(disk->GetTrack(0).Log[0].starts_with("Сектор 1 встречается"))
      << disk->GetTrack(0).Log[0];
}

TEST_F(CatalogCommands, RenamingWritesTheNamePaddedWithZeros) {
  Open({});
  prompt.texts = {"ABC"};
  zx.RenameDisk();
  EXPECT_EQ(prompt.questions.at(0), "Имя диска!|Задайте имя диска (8 символов максимум)\nИмя:");
  const std::vector<uint8_t> want = {'A', 'B', 'C', 0, 0, 0, 0, 0};
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(ServiceByte(*disk, 0xF5 + i), want[static_cast<size_t>(i)]);
  EXPECT_EQ(zx.Description()[0].value, "ABC");
  EXPECT_TRUE(zx.Modified());

  ASSERT_TRUE(zx.OpenFromImage());
  prompt.texts = {"ABC"};
  EXPECT_TRUE(zx.RenameDisk().cancelled);
  EXPECT_FALSE(zx.Modified());
}

TEST_F(CatalogCommands, EditingKeepsTheDeletedMarkBehindAQuestionMark) {
  Open({PatternFile("ONE", 'C', 2), Deleted(PatternFile("TWO", 'C', 3))});
  zx.ToggleShowDeleted();
  TrdosEntryFields f = TrdosEntryFieldsOf(zx.Catalog().Entries[1]);
  EXPECT_EQ(f.name, "?WO     ");
  f.name = "?AB";
  f.type = "";
  f.start = 0x1234;
  zx.EditEntry(1, f);
  TTrdosFileEntry e = OnDisk().Entries[1];
  EXPECT_EQ(std::string(e.Name.begin(), e.Name.end()),
            "\x01"
            "AB     ");
  EXPECT_EQ(e.FileType, ' ');
  EXPECT_EQ(e.Start, 0x1234);

  f.name = "NEW";
  zx.EditEntry(1, f);
  e = OnDisk().Entries[1];
  EXPECT_EQ(std::string(e.Name.begin(), e.Name.end()), "NEW     ");
  EXPECT_EQ(OnDisk().DeletedCount, 1);  // counts are left alone
  f.name = "?X";
  zx.EditEntry(0, f);
  EXPECT_EQ(OnDisk().Entries[0].Name[0], '?');

  GetLogicalSector(*disk, 0, 1)->Present = 0;
  f.name = "LOST";
  EXPECT_FALSE(zx.EditEntry(0, f).ok);
  EXPECT_EQ(prompt.MessageTexts().back(), "Ошибка сектора - (track 0 sector 1)..!");
  EXPECT_EQ(zx.Catalog().Entries[0].Name[0], '?');
}

TEST_F(CatalogCommands, CompactingMovesEveryFileDown) {
  Open({Deleted(PatternFile("GONE", 'C', 5, 1)), PatternFile("TWO", 'C', 3, 2),
        PatternFile("THREE", 'C', 14, 3)});
  EXPECT_TRUE(zx.Compact().ok);
  EXPECT_EQ(prompt.questions.at(0),
            "Внимание..!|Данная процедура может повредить структуру образа диска!\r"
            "          Сохраняйте образ под другим именем!           \r"
            "       Вы действительно хотите уплотнить образ?    ");
  const TTrdosCatalog cat = OnDisk();
  ASSERT_EQ(cat.ListedCount, 2);
  EXPECT_EQ(cat.FileCount, 2);
  EXPECT_EQ(cat.DeletedCount, 0);
  EXPECT_EQ(cat.Entries[0].Name[0], 'T');
  EXPECT_EQ(cat.Entries[0].FirstLinear(), 16);
  EXPECT_EQ(cat.Entries[1].FirstLinear(), 19);
  EXPECT_EQ(test::RunBytes(*disk, 1, 0, 3), test::PatternBytes(768, 2));
  EXPECT_EQ(test::RunBytes(*disk, 1, 3, 14), test::PatternBytes(14 * 256, 3));
  EXPECT_EQ(cat.FirstFreeTrack * 16 + cat.FirstFreeSector, 33);
  EXPECT_EQ(cat.FreeSectors, 2560 - 33);
}

TEST_F(CatalogCommands, ACompactThatHitsABadSectorWritesNoCatalog) {
  Open({Deleted(PatternFile("GONE", 'C', 2)), PatternFile("TWO", 'C', 3)});
  GetLogicalSector(*disk, 1, 4)->ClearData();  // the second sector of TWO
  EXPECT_FALSE(zx.CompactVolume().ok);
  EXPECT_EQ(prompt.MessageTexts().back(), "Ошибка сектора - (track 1 sector 3)..!");
  EXPECT_EQ(OnDisk().Entries[0].Name[0], 0x01);
  EXPECT_EQ(OnDisk().DeletedCount, 1);
}

TEST_F(CatalogCommands, ADriveCatalogIsOnlyLookedAt) {
  Open({PatternFile("ONE", 'C', 2)});
  std::vector<uint8_t> track0 = test::RunBytes(*disk, 0, 0, 10);
  ASSERT_TRUE(zx.OpenFromDrive(track0));
  EXPECT_FALSE(zx.Editable());
  EXPECT_FALSE(zx.MenuState(std::vector<int>{0}).remove);
  const int rows[] = {0};
  EXPECT_FALSE(zx.DeleteFiles(rows).ok);
  EXPECT_TRUE(prompt.questions.empty());

  EXPECT_FALSE(zx.OpenFromDrive(std::span(track0).first(9 * 256 - 1)));
  track0[8 * 256 + 0xE7] = 0;
  EXPECT_FALSE(zx.OpenFromDrive(track0));
  EXPECT_EQ(prompt.messages.back().text, "Диск не соответствует формату TR-DOS!.");
  disk->ClearImage();
  EXPECT_FALSE(zx.OpenFromImage());
  EXPECT_EQ(prompt.messages.back().caption, "Ошибка!");
  EXPECT_EQ(prompt.messages.back().text, "Образ не соответствует стандартному TR-DOS диску!");
}

}  // namespace
}  // namespace kelvara
