#include <gtest/gtest.h>

#include <memory>

#include "filesystems/Hobeta.h"
#include "model/FileIO.h"
#include "session/Settings.h"
#include "session/TrdosCatalog.h"
#include "support/FakePrompt.h"
#include "support/TempDir.h"
#include "support/TrdosBuilder.h"

namespace kelvara {
namespace {

using test::HobetaBytes;
using test::PatternFile;
using test::ReadBytes;
using test::SclBytes;
using test::TrdosFile;
using test::WriteBytes;

class CatalogFiles : public ::testing::Test {
 protected:
  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
  test::FakePrompt prompt;
  test::TempDir dir;
  TSettings settings;
  SettingsStore store{dir / "Kelvara.ini", dir.Path()};
  TrdosCatalog zx{*disk, prompt, settings, &store};

  void Open(const std::vector<TrdosFile>& files) {
    test::BuildTrdosDisk(*disk, files);
    ASSERT_TRUE(zx.OpenFromImage());
  }
  std::string Put(const std::string& name, const std::vector<uint8_t>& bytes) {
    WriteBytes(dir / name, bytes);
    return dir / name;
  }
  // Adds files through the dialog; the last message it showed, if any.
  std::string Add(const std::vector<std::string>& paths) {
    prompt.messages.clear();
    prompt.openFiles = {paths};
    zx.AddFiles();
    return prompt.messages.empty() ? "" : prompt.messages.back().text;
  }
  TTrdosCatalog OnDisk() {
    TTrdosCatalog cat;
    EXPECT_TRUE(ReadTrdosCatalog(*disk, cat));
    return cat;
  }
};

TEST(HobetaFiles, HeaderChecksumAndExportNames) {
  const uint8_t zeros[15] = {};
  EXPECT_EQ(HobetaChecksum(zeros), 105);
  TTrdosFileEntry e;
  std::copy_n("A/B\x01:?  ", 8, e.Name.begin());
  e.FileType = '/';
  EXPECT_EQ(HobetaFileName(e), "A_B___.$_");
  std::copy_n("GAME    ", 8, e.Name.begin());
  e.FileType = 'B';
  e.SectorCount = 3;
  e.Length = 700;
  const auto h = HobetaHeader(e);
  const auto want = HobetaBytes({"GAME", 'B', 0, std::vector<uint8_t>(700, 0)});
  EXPECT_TRUE(std::equal(h.begin(), h.end(), want.begin()));
}

TEST_F(CatalogFiles, HobetaExportWritesEachFileAndAsksBeforeOverwriting) {
  Open({PatternFile("GAME", 'B', 2, 4), PatternFile("DATA", 'C', 1, 5)});
  prompt.folders = {dir.Path()};
  const int rows[] = {0, 1};
  const CatalogOutcome done = zx.ExportHobeta(rows);
  ASSERT_TRUE(done.ok);
  EXPECT_EQ(done.logLine, "Сохранено файлов - 2 в " + dir.Path());
  EXPECT_EQ(prompt.questions.at(0), "Директория сохранения Хобетных файлов!");
  EXPECT_EQ(ReadBytes(dir / "GAME.$B"), HobetaBytes(PatternFile("GAME", 'B', 2, 4)));
  EXPECT_EQ(settings.HobetaDir, dir.Path());
  TSettings stored;
  store.Load(stored, false);
  EXPECT_EQ(stored.HobetaDir, dir.Path());

  // No keeps the old file and goes on; Cancel ends at once.
  WriteBytes(dir / "GAME.$B", {1});
  WriteBytes(dir / "DATA.$C", {2});
  settings.HobetaDir = "/elsewhere/";
  prompt.folders = {dir.Path(), dir.Path()};
  prompt.answers = {Answer::No, Answer::Yes, Answer::Cancel};
  zx.ExportHobeta(rows);
  EXPECT_EQ(prompt.questions.back(), "Внимание..!|Файл DATA.$C уже существует! Перезаписать?");
  EXPECT_EQ(ReadBytes(dir / "GAME.$B"), std::vector<uint8_t>{1});
  EXPECT_EQ(ReadBytes(dir / "DATA.$C").size(), 17u + 256);
  EXPECT_TRUE(zx.ExportHobeta(rows).cancelled);
  EXPECT_EQ(settings.HobetaDir, dir.Path());  // from the finished export only
}

TEST_F(CatalogFiles, RawExportIsTheFilesLength) {
  TrdosFile f = PatternFile("TEXT", 'C', 2, 6);
  f.length = 300;
  Open({f});
  const int entries[] = {0};
  ASSERT_TRUE(zx.ExportFilesTo(dir.Path(), entries, ExportKind::Raw).ok);
  const auto bytes = ReadBytes(dir / "TEXT.C");
  EXPECT_EQ(bytes, std::vector<uint8_t>(f.data.begin(), f.data.begin() + 300));

  // A file on a sector the image lacks: the export says so and writes nothing.
  GetLogicalSector(*disk, 1, 2)->Present = 0;
  const CatalogOutcome r = zx.ExportFilesTo(dir.Path(), entries, ExportKind::Hobeta);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.files, 0);
  EXPECT_EQ(
      prompt.MessageTexts(),
      std::vector<std::string>{"Файл TEXT.C не сохранён: Ошибка сектора - (track 1 sector 2)..!"});
  EXPECT_FALSE(FileExists(dir / "TEXT.$C"));
}

TEST_F(CatalogFiles, SclExportPacksTheSelectionInListOrder) {
  const std::vector<TrdosFile> files = {PatternFile("A", 'C', 1, 1), PatternFile("B", 'C', 2, 2),
                                        PatternFile("C", 'C', 3, 3)};
  Open(files);
  zx.ExportScl({});
  EXPECT_EQ(prompt.MessageTexts().back(), "Файлы для сохранения не выбраны..!");
  prompt.saveFiles = {dir / "out"};
  const int rows[] = {0, 2};
  const CatalogOutcome done = zx.ExportScl(rows);
  ASSERT_TRUE(done.ok);
  EXPECT_EQ(done.logLine, "Сохранено файлов - 2 в " + dir / "out.scl");
  EXPECT_EQ(prompt.questions.at(0), "Сохранить файл(ы) в SCL..!");
  EXPECT_EQ(ReadBytes(dir / "out.scl"), SclBytes({files[0], files[2]}));
  EXPECT_EQ(settings.SCLDir, dir.Path());

  prompt.answers = {Answer::No};
  EXPECT_TRUE(zx.ExportSclTo(dir / "out.scl", rows).cancelled);
  EXPECT_EQ(prompt.questions.back(),
            "Внимание..!|Файл " + dir / "out.scl" + " уже существует! Перезаписать?");
  GetLogicalSector(*disk, 1, 6)->Present = 0;  // the last sector of C
  EXPECT_FALSE(zx.ExportSclTo(dir / "bad.scl", rows).ok);
  EXPECT_EQ(prompt.MessageTexts().back(), "Ошибка сектора - (track 1 sector 6)..!");
  EXPECT_FALSE(FileExists(dir / "bad.scl"));
}

TEST_F(CatalogFiles, HobetaImportChecksInOrder) {
  Open({});
  TrdosFile game = PatternFile("GAME", 'B', 3, 9);
  std::vector<uint8_t> file = HobetaBytes(game);
  file.resize(17 + 700);
  const std::string shortFile = Put("short.$B", file);
  EXPECT_EQ(Add({shortFile}), "Ошибочный размер файла " + shortFile + " ..!");
  EXPECT_EQ(prompt.messages.back().caption, "Ошибка..!");
  EXPECT_EQ(prompt.messages.back().icon, MessageIcon::None);
  EXPECT_EQ(OnDisk().FileCount, 0);

  file = HobetaBytes(game);
  file[13] = 0x99;  // summed, but not a sector count
  test::ResealHobeta(file);
  const std::string good = Put("game.$B", file);
  EXPECT_EQ(Add({good}), "");
  EXPECT_EQ(prompt.questions.back(), "Добавить файл(ы) в образ..");
  TTrdosCatalog cat = OnDisk();
  ASSERT_EQ(cat.FileCount, 1);
  EXPECT_EQ(cat.Entries[0].SectorCount, 3);
  EXPECT_EQ(test::RunBytes(*disk, 1, 0, 3), game.data);
  EXPECT_EQ(cat.FreeSectors, 2541);
  EXPECT_TRUE(zx.Modified());

  EXPECT_EQ(Add({good}), "Файл с именем GAME    .B в образе уже существует..!");
  EXPECT_EQ(Add({Put("tiny.$C", std::vector<uint8_t>(16, 0))}),
            "Размер файла " + dir / "tiny.$C" + " слишком мал..!");
  file[0] = 'X';
  EXPECT_EQ(Add({Put("bad.$B", file)}),
            "Неправильная контрольная сумма файла " + dir / "bad.$B" + " ..!");
  EXPECT_EQ(settings.SCLDir, dir.Path());
}

TEST_F(CatalogFiles, TheFirstFailureEndsTheImportButKeepsWhatWasAdded) {
  Open({PatternFile("BIG", 'C', 2540)});
  const std::string scl =
      Put("two.scl", SclBytes({PatternFile("S1", 'C', 3), PatternFile("S2", 'C', 3)}));
  const std::string hob = Put("h.$C", HobetaBytes(PatternFile("H", 'C', 1)));
  EXPECT_EQ(Add({scl, hob}), "Нет места на образе диска ..!");
  const TTrdosCatalog cat = OnDisk();
  EXPECT_EQ(cat.FileCount, 2);
  EXPECT_EQ(cat.FreeSectors, 1);
}

TEST_F(CatalogFiles, SclImportMessagesNameTheFile) {
  Open({PatternFile("S1", 'C', 1)});
  std::vector<uint8_t> scl = SclBytes({PatternFile("S0", 'C', 1), PatternFile("S1", 'C', 1)});
  const std::string dup = Put("dup.scl", scl);
  EXPECT_EQ(Add({dup}), "Файл с именем S1      .C в образе уже существует..!");
  EXPECT_EQ(OnDisk().FileCount, 2);  // S0 went in first

  std::vector<uint8_t> bad = scl;
  bad[0] = 'X';
  test::ResealScl(bad);
  EXPECT_EQ(Add({Put("sig.SCL", bad)}), "Неверный дескриптор файла " + dir / "sig.SCL" + " ..!");
  bad = scl;
  bad[20] ^= 1;
  EXPECT_EQ(Add({Put("sum.scl", bad)}),
            "Ошибка в контрольной сумме файла " + dir / "sum.scl" + " ..!");
  const std::string cut = Put("cut.scl", SclBytes({PatternFile("S3", 'C', 1)}, 30));
  EXPECT_EQ(Add({cut}), "Ошибка в длинне файла " + cut + " ..!");
  std::vector<uint8_t> two = SclBytes({PatternFile("S5", 'C', 1)});
  two[9 + 13] = 2;  // claims two sectors, holds one
  test::ResealScl(two);
  const std::string trunc = Put("trunc.scl", two);
  EXPECT_EQ(Add({trunc}), "Ошибочный размер файла " + trunc + " / S5      .C ..!");
}

TEST_F(CatalogFiles, AFullCatalogAndABadSectorStopTheImport) {
  std::vector<TrdosFile> files;
  for (int i = 0; i < 128; ++i)
    files.push_back(PatternFile("F" + std::to_string(i), 'C', 1));
  Open(files);
  EXPECT_EQ(Add({Put("h.$C", HobetaBytes(PatternFile("H", 'C', 1)))}), "Каталог диска заполнен..!");

  Open({PatternFile("A", 'C', 1)});
  GetLogicalSector(*disk, 1, 3)->MutableData(10);
  const std::string two = Put("two.$C", HobetaBytes(PatternFile("TWO", 'C', 2)));
  EXPECT_EQ(Add({two}), "Ошибка добавления файла " + two + " в образ ..!");
  EXPECT_EQ(OnDisk().FileCount, 1);
  EXPECT_EQ(OnDisk().ListedCount, 1);
}

TEST_F(CatalogFiles, AFileAddedAfterAnErasedOneReusesItsEntry) {
  Open({PatternFile("A", 'C', 1), PatternFile("B", 'C', 1)});
  zx.DeleteEntries({1});
  ASSERT_EQ(zx.Catalog().ListedCount, 2);
  Add({Put("c.$C", HobetaBytes(PatternFile("C", 'C', 1, 3)))});
  EXPECT_EQ(zx.Catalog().ListedCount, 2);
  zx.ToggleShowDeleted();
  EXPECT_EQ(zx.Rows().size(), 2u);  // no empty row behind the new file
  const TTrdosCatalog cat = OnDisk();
  EXPECT_EQ(cat.Entries[1].Name[0], 'C');
  EXPECT_EQ(cat.Entries[1].FirstLinear(), 17);
}

}  // namespace
}  // namespace kelvara
