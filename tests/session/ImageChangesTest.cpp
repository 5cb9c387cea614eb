#include "session/ImageChanges.h"

#include <gtest/gtest.h>

#include <tuple>

#include "drive/DriveOperations.h"
#include "session/MainCommands.h"
#include "support/FakePrompt.h"

namespace kelvara {
namespace {

using test::FakePrompt;

TEST(ImageChanges, EditsAndDriveReadsAreWorkAFileOrAnEmptyImageIsNot) {
  const std::pair<ImageEvent, bool> steps[] = {
      {ImageEvent::MapEdited, true},      {ImageEvent::Saved, false},
      {ImageEvent::CatalogChanged, true}, {ImageEvent::Loaded, false},
      {ImageEvent::CommentEdited, true},  {ImageEvent::Cleared, false},
      {ImageEvent::DriveRead, true},      {ImageEvent::Created, false},
      {ImageEvent::MapEdited, true},      {ImageEvent::LoadFailed, false},
  };
  ImageChanges changes;
  EXPECT_FALSE(changes.Modified());
  for (const auto& [event, modified] : steps) {
    changes.Note(event);
    EXPECT_EQ(changes.Modified(), modified) << static_cast<int>(event);
  }
}

TEST(ImageChanges, CaptionNamesTheFileOfTheLastLoadOrSave) {
  const std::tuple<ImageEvent, const char*, const char*> steps[] = {
      {ImageEvent::Loaded, "game.trd", "game.trd[*] — Kelvara"},
      {ImageEvent::MapEdited, "", "game.trd[*] — Kelvara"},
      {ImageEvent::Saved, "copy.scl", "copy.scl[*] — Kelvara"},
      {ImageEvent::Created, "copy.scl", "Kelvara[*]"},
      {ImageEvent::Loaded, "a.udi", "a.udi[*] — Kelvara"},
      {ImageEvent::Cleared, "a.udi", "Kelvara[*]"},
      {ImageEvent::Loaded, "b.fdi", "b.fdi[*] — Kelvara"},
      {ImageEvent::LoadFailed, "b.fdi", "Kelvara[*]"},
  };
  ImageChanges changes;
  EXPECT_EQ(changes.Caption(), "Kelvara[*]");
  for (const auto& [event, name, caption] : steps) {
    changes.Note(event, name);
    EXPECT_EQ(changes.Caption(), caption) << static_cast<int>(event);
  }
}

// A progress window closed (Esc, its close box) before its start ran
// nothing: no read changed the image, no write is saved back. A reading run
// that stored nothing (its first seek failed) leaves the image unchanged.
TEST(ImageChanges, OnlyARunThatRanAndStoredChangesTheImageOrKeepsTheDisk) {
  struct Case {
    int mode;
    bool ran, writes, stored, changed, keep;
  };
  const Case cases[] = {
      {kModeScan, true, false, true, true, false},
      {kModeScan | kModeRead, true, false, true, true, false},
      {kModeScan | kModeRead, true, false, false, false, false},
      {kModeFormat | kModeWrite, true, true, true, false, true},
      {kModeRead, false, false, true, false, false},
      {kModeWrite, false, true, true, false, false},
  };
  for (const Case& c : cases) {
    OperationResult result;
    result.tracksDone = c.stored ? 1 : 0;
    const DriveRunAftermath after = AfterDriveRun(c.mode, c.ran, c.writes, result);
    EXPECT_EQ(after.imageChanged, c.changed) << c.mode << c.ran << c.stored;
    EXPECT_EQ(after.keepWrittenDisk, c.keep) << c.mode << c.ran;
  }
}

TEST(ImageChanges, CommentCountsOnlyWhenItsLinesChange) {
  TZX_Disk disk;
  disk.Comment = {"one", "two"};
  EXPECT_FALSE(StoreComment(disk, "one\ntwo\n"));
  EXPECT_TRUE(StoreComment(disk, "one\nthree"));
  EXPECT_EQ(disk.Comment, (std::vector<std::string>{"one", "three"}));
}

TEST(ImageChanges, TheQuestionSavesGoesOnOrStops) {
  struct Case {
    Answer answer;
    bool saveWrites;
    bool goOn;
    int saves;
  };
  const Case cases[] = {
      {Answer::Yes, true, true, 1},
      {Answer::Yes, false, false, 1},  // the save was cancelled or failed
      {Answer::No, true, true, 0},
      {Answer::Cancel, true, false, 0},
  };
  for (const Case& c : cases) {
    ImageChanges changes;
    changes.Note(ImageEvent::MapEdited);
    FakePrompt prompt;
    prompt.answers = {c.answer};
    int saves = 0;
    EXPECT_EQ(MayDiscardChanges(changes, prompt, [&] { return ++saves, c.saveWrites; }), c.goOn);
    EXPECT_EQ(saves, c.saves);
    ASSERT_EQ(prompt.questions.size(), 1u);
    EXPECT_EQ(prompt.questions[0], "Kelvara|Сохранить изменения?");
  }
  // Nothing to lose: no question, no save.
  FakePrompt prompt;
  EXPECT_TRUE(MayDiscardChanges(ImageChanges{}, prompt, [] { return false; }));
  EXPECT_TRUE(prompt.questions.empty());
}

// Edits not accepted in the hex panel ask even for an unmodified image;
// "Да" stores them before the save, "Нет" and "Отмена" leave them.
TEST(ImageChanges, UnacceptedPanelEditsAreUnsavedWork) {
  for (const Answer answer : {Answer::Yes, Answer::No, Answer::Cancel}) {
    FakePrompt prompt;
    prompt.answers = {answer};
    std::string order;
    const bool goOn = MayDiscardChanges(
        ImageChanges{}, prompt, [&] { return order += "save ", true; }, [&] { order += "store "; });
    EXPECT_EQ(goOn, answer != Answer::Cancel);
    EXPECT_EQ(order, answer == Answer::Yes ? "store save " : "");
    EXPECT_EQ(prompt.questions.size(), 1u);
  }
}

TEST(ImageChanges, ClearingConfirmsFirstThenUnsavedWorkMayStopIt) {
  for (const bool goOn : {false, true}) {
    TZX_Disk disk;
    disk.GetTrack(0).Present = 0xFF;
    FakePrompt prompt;
    int asked = 0;
    EXPECT_EQ(ClearImageCommand(disk, prompt, [&] { return ++asked, goOn; }), goOn);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(disk.CountTracks(), goOn ? 0 : 1);
  }
  FakePrompt prompt;
  prompt.answers = {Answer::No};
  TZX_Disk disk;
  EXPECT_FALSE(ClearImageCommand(disk, prompt, [] { return ADD_FAILURE(), true; }));
}

TEST(ImageChanges, EmptyPanelsOfferNoBytesAndKeepNothing) {
  const CellView v = EmptyCellView();
  EXPECT_TRUE(v.track.empty() && v.sector.empty());
  EXPECT_EQ(v.owner, Visibility::Hidden);
  EXPECT_EQ(v.fieldCount, 6);
  for (const std::string& f : v.fields)
    EXPECT_TRUE(f.empty());
  EXPECT_EQ(v.hex, HexChange::Replace);
  EXPECT_TRUE(v.hexBytes.empty());
  EXPECT_FALSE(v.hexEditable || v.hexButtons);
}

TEST(DialogStartFolder, RememberedThenLastImageThenHome) {
  EXPECT_EQ(DialogStartFolder("/r/", "/usr/bin/", "/img/a.trd", "/home/u"), "/r/");
  EXPECT_EQ(DialogStartFolder("/usr/bin/", "/usr/bin/", "/img/a.trd", "/home/u"), "/img/");
  EXPECT_EQ(DialogStartFolder("", "/usr/bin/", "/img/a.trd", "/home/u"), "/img/");
  EXPECT_EQ(DialogStartFolder("/usr/bin/", "/usr/bin/", "", "/home/u"), "/home/u/");
  EXPECT_EQ(DialogStartFolder("", "/usr/bin/", "a.trd", "/home/u/"), "/home/u/");
}

}  // namespace
}  // namespace kelvara
