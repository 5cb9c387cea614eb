#include "session/MainCommands.h"

#include <SimpleIni.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "support/DiskBuilder.h"
#include "support/FakePrompt.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::FakePrompt;
using test::PatternBytes;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// Every "Диск" command needs an open drive; those that work from the
// image's sector table need at least one track as well.
TEST(DiskMenu, EachCommandFollowsTheDriveAndTheTracks) {
  struct Row {
    DiskCommand command;
    bool needsTracks;
  };
  const Row rows[] = {
      {DiskCommand::FullRead, false},    {DiskCommand::RawRead, false},
      {DiskCommand::Scan, false},        {DiskCommand::ReadByIds, true},
      {DiskCommand::ScanAndRead, false}, {DiskCommand::RereadBad, true},
      {DiskCommand::Format, true},       {DiskCommand::Write, true},
      {DiskCommand::FormatWrite, true},  {DiskCommand::ReadCatalog, false},
  };
  for (const Row& r : rows) {
    for (const int tracks : {0, 1, 168}) {
      for (const bool drive : {false, true}) {
        EXPECT_EQ(DiskCommandEnabled(r.command, drive, tracks),
                  drive && (tracks > 0 || !r.needsTracks))
            << static_cast<int>(r.command) << " tracks " << tracks << " drive " << drive;
      }
    }
  }
}

TEST(SaveDialog, ExtensionFollowsTheTypeAndTheNameLosesItsExtension) {
  const char* expected[] = {"udi", "trd", "td0", "fdi", "pro", "scl", "kdi", "hfe", "scp", "dsk"};
  for (int i = 1; i <= 10; ++i)
    EXPECT_EQ(SaveExtensionForFilter(i), expected[i - 1]);
  EXPECT_EQ(SaveExtensionForFilter(0), "");
  EXPECT_EQ(SaveExtensionForFilter(11), "");
  EXPECT_EQ(ProposedSaveName("game.fdi"), "game");
  EXPECT_EQ(ProposedSaveName(".trd"), "");
  EXPECT_EQ(ProposedSaveName(""), "");
  EXPECT_EQ(ProposedProjectName("game.trd"), "game.udf");
  EXPECT_EQ(ProposedProjectName(""), "");
}

// The save dialog proposes the loaded file itself while its type can hold
// the image; an edit its type cannot hold, or an image of no file, falls
// back to the last folder, the bare name and the last type.
TEST(SaveDialog, ProposesTheLoadedFileWhileItsTypeHoldsTheImage) {
  auto disk = std::make_unique<TZX_Disk>();
  test::FillStandardDisk(*disk, 4);
  const auto propose = [&](const std::string& path) {
    const SaveDialogProposal p = ProposeImageSave(*disk, path, {}, "/last/", "a.trd", 1);
    return p.folder + "|" + p.fileName + "|" + std::to_string(p.filterIndex);
  };
  EXPECT_EQ(propose("/disks/a.trd"), "/disks/|a.trd|2");
  EXPECT_EQ(propose("/disks/a.dsk"), "/disks/|a.dsk|10");
  EXPECT_EQ(propose(""), "/last/|a|1");
  EXPECT_EQ(propose("/disks/kf/track00.0.raw"), "/last/|a|1") << "streams are not written";
  disk->GetTrack(2).Sectors[3].SizeCode = 2;  // no TRD track any more
  EXPECT_EQ(propose("/disks/a.trd"), "/last/|a|1");
  EXPECT_EQ(propose("/disks/a.udi"), "/disks/|a.udi|1");
}

class ImageCommandsTest : public ::testing::Test {
 protected:
  std::string Stored(const char* key) {
    CSimpleIniA f;
    f.LoadFile(store.Path().c_str());
    const char* v = f.GetValue("Option", key, nullptr);
    return v ? v : "<missing>";
  }

  TempDir dir;
  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
  TSettings settings;
  SettingsStore store{dir / "Kelvara.ini", dir.Path()};
  FakePrompt prompt;
  std::string imageFileName = "old.trd";
};

TEST_F(ImageCommandsTest, ChosenImageRemembersItsFolderOnlyWhenItLoads) {
  std::filesystem::create_directory(dir / "img");
  const std::string good = dir / "img/game.trd";
  WriteBytes(good, PatternBytes(16 * 4096, 3));
  EXPECT_EQ(OpenChosenImage(*disk, dir / "img/none.trd", settings, store, imageFileName),
            std::nullopt);
  const std::optional<LoadResult> r = OpenChosenImage(*disk, good, settings, store, imageFileName);
  ASSERT_TRUE(r && r->ok);
  EXPECT_EQ(imageFileName, "game.trd");
  EXPECT_EQ(settings.Directory_1, dir / "img/");
  EXPECT_EQ(Stored("Directory_1"), dir / "img/");

  WriteBytes(dir / "bad.udi", {1, 2, 3});
  const std::optional<LoadResult> bad =
      OpenChosenImage(*disk, dir / "bad.udi", settings, store, imageFileName);
  ASSERT_TRUE(bad && !bad->ok);
  EXPECT_EQ(imageFileName, "game.trd");
  EXPECT_EQ(settings.Directory_1, dir / "img/");
  EXPECT_EQ(disk->CountTracks(), 0);
}

TEST_F(ImageCommandsTest, SavedFileIsRememberedAndAnExistingOneIsAskedAbout) {
  test::FillStandardDisk(*disk, 4);
  std::filesystem::create_directory(dir / "out");
  const std::string path = dir / "out/copy.trd";
  SaveOutcome out = SaveImageCommand(*disk, path, settings, store, prompt, imageFileName);
  EXPECT_TRUE(out.written);
  EXPECT_TRUE(prompt.questions.empty());
  EXPECT_EQ(ReadBytes(path).size(), 4u * 4096);
  EXPECT_EQ(imageFileName, "copy.trd");
  EXPECT_EQ(Stored("Directory_2"), dir / "out/");

  WriteBytes(path, {1, 2, 3});
  prompt.answers = {Answer::No};
  out = SaveImageCommand(*disk, path, settings, store, prompt, imageFileName);
  EXPECT_FALSE(out.written);
  EXPECT_EQ(prompt.questions.back(), "Внимание..!|Файл уже существует! Перезаписать?");
  EXPECT_EQ(ReadBytes(path), (std::vector<uint8_t>{1, 2, 3}));
  prompt.answers = {Answer::Yes};
  EXPECT_TRUE(SaveImageCommand(*disk, path, settings, store, prompt, imageFileName).written);
  EXPECT_EQ(ReadBytes(path).size(), 4u * 4096);
}

TEST_F(ImageCommandsTest, FailedWriterSaysWhyAndRemembersNothing) {
  test::FillStandardDisk(*disk, 4);
  disk->GetTrack(2).SectorHeader(4).Sec = 99;  // track 2 now lacks sector 5
  const std::string path = dir / "copy.trd";
  WriteBytes(path, {7, 7});
  const SaveOutcome out = SaveImageCommand(*disk, path, settings, store, prompt, imageFileName);
  EXPECT_FALSE(out.written);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].caption, "Ошибка!");
  EXPECT_NE(prompt.messages[0].text.find("не записан"), std::string::npos);
  EXPECT_NE(prompt.messages[0].text.find("Track 1.0 has no sector 5"), std::string::npos);
  EXPECT_EQ(ReadBytes(path), (std::vector<uint8_t>{7, 7}));
  EXPECT_EQ(imageFileName, "old.trd");
  EXPECT_EQ(Stored("Directory_2"), "<missing>");
}

TEST_F(ImageCommandsTest, UnknownTypeWritesNothingAndSaysSo) {
  test::FillStandardDisk(*disk, 2);
  const SaveOutcome out =
      SaveImageCommand(*disk, dir / "copy.xyz", settings, store, prompt, imageFileName);
  EXPECT_FALSE(out.written);
  EXPECT_FALSE(std::filesystem::exists(dir / "copy.xyz"));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_NE(prompt.messages[0].text.find("Данный тип файлов не поддерживается!"),
            std::string::npos);
  EXPECT_EQ(imageFileName, "old.trd");
}

TEST_F(ImageCommandsTest, ProjectThatCannotBeWrittenIsReportedAndNotRemembered) {
  const std::string path = dir / "missing/work.udf";
  EXPECT_FALSE(SaveProjectCommand(*disk, path, settings, store, prompt, imageFileName));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].caption, "Ошибка!");
  EXPECT_EQ(imageFileName, "old.trd");
  EXPECT_EQ(Stored("Directory_1"), "<missing>");
}

}  // namespace
}  // namespace kelvara
