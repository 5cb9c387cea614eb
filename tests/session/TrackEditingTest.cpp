#include "session/TrackEditing.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/DiskBuilder.h"
#include "support/FakePrompt.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::FakePrompt;
using test::PatternBytes;

class TrackEditingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::FillStandardDisk(*disk, 4);
    disk->GetTrack(2).Log = {"scan", "read"};
  }
  CellView Click(int column, int row, bool sizeFromHead = false) {
    return DescribeCell(*disk, catalog, column, row, sizeFromHead);
  }
  TSectorRec& Slot(int track, int slot) {
    return disk->GetTrack(static_cast<uint8_t>(track)).Sectors[static_cast<size_t>(slot)];
  }
  void GiveRawTrack(int track) {
    TTrack& t = disk->GetTrack(static_cast<uint8_t>(track));
    t.SetRaw(PatternBytes(6300, 4));
    t.RawValid = 1;
  }

  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
  TTrdosCatalog catalog;
  FakePrompt prompt;
};

TEST_F(TrackEditingTest, SectorShowsItsIdStateDataAndTheTracksLog) {
  TSectorRec& s = Slot(2, 4);
  s.DataOk = 0;
  s.ErrorCount = 2;
  const CellView v = Click(5, 2);
  EXPECT_EQ(v.track, "2");
  EXPECT_EQ(v.sector, "5");
  ASSERT_EQ(v.fieldCount, 6);
  const std::array<std::string, 6> fields = {"1", "0", "5", "256b", CrcText(s.HeaderCrc), "bad"};
  EXPECT_EQ(v.fields, fields);
  EXPECT_EQ(v.info, Visibility::Shown);
  EXPECT_EQ(v.owner, Visibility::Hidden);  // no catalog snapshot
  EXPECT_EQ(v.hex, HexChange::Replace);
  EXPECT_EQ(v.hexBytes, std::vector<uint8_t>(s.Data().begin(), s.Data().begin() + 256));
  EXPECT_TRUE(v.hexEditable && v.hexButtons);
  EXPECT_EQ(v.log, disk->GetTrack(2).Log);

  s.ErrorCount = 0;
  EXPECT_EQ(Click(5, 2).fields[5], "no data");
  EXPECT_EQ(CrcText(0x0A0C), "#0A0C");

  // Good without data: the state says good, the panel shows nothing.
  s.DataOk = 0xFF;
  s.ClearData();
  const CellView empty = Click(5, 2);
  EXPECT_EQ(empty.fields[5], "good");
  EXPECT_TRUE(empty.hex == HexChange::Replace && empty.hexBytes.empty());
  EXPECT_FALSE(empty.hexEditable || empty.hexButtons);
}

TEST_F(TrackEditingTest, ShownSectorSizeComesFromTheIdOnlyWhenAsked) {
  Slot(1, 0).SizeCode = 2;
  EXPECT_EQ(Click(1, 1).hexBytes.size(), 256u);
  EXPECT_EQ(Click(1, 1, true).hexBytes.size(), 512u);
  Slot(1, 0).SizeCode = 0;
  EXPECT_EQ(Click(1, 1, true).hexBytes.size(), 128u);
}

TEST_F(TrackEditingTest, UnusableSizeCodeStopsAfterTheIdAndFreezesThePanel) {
  Slot(0, 3).SizeCode = 4;
  const CellView v = Click(4, 0);
  EXPECT_EQ(v.fieldCount, 3);
  EXPECT_EQ(v.fields[2], "4");
  // The panel still holds the last sector's bytes: nothing may be taken
  // from it or saved as this sector's.
  EXPECT_EQ(v.hex, HexChange::ReadOnly);
  EXPECT_FALSE(v.logChanged);
}

TEST_F(TrackEditingTest, EmptySlotAndAbsentTrackEmptyThePanels) {
  const CellView slot = Click(18, 2);
  EXPECT_EQ(slot.sector, "");
  EXPECT_EQ(slot.info, Visibility::Hidden);
  EXPECT_EQ(slot.owner, Visibility::Hidden);
  EXPECT_TRUE(slot.hex == HexChange::Replace && slot.hexBytes.empty());
  EXPECT_EQ(slot.log.size(), 2u);

  const CellView label = Click(0, 40);
  EXPECT_EQ(label.track, "");
  EXPECT_TRUE(label.hex == HexChange::Replace && label.hexBytes.empty());
  EXPECT_FALSE(label.hexButtons);
  EXPECT_TRUE(label.logChanged && label.log.empty());
}

TEST_F(TrackEditingTest, TrackLabelShowsItsOwnRawBytesOrASynthesisedTrack) {
  GiveRawTrack(1);
  const CellView own = Click(0, 1);
  EXPECT_EQ(own.hexBytes, PatternBytes(6300, 4));
  EXPECT_TRUE(own.hexEditable && own.hexButtons);
  EXPECT_EQ(own.info, Visibility::Hidden);

  const CellView built = Click(0, 2);
  ASSERT_EQ(built.hexBytes.size(), size_t(kRawTrackSize));
  EXPECT_FALSE(built.hexEditable || built.hexButtons);
  EXPECT_EQ(built.hexBytes[95], 0xFC);  // index mark of the standard layout
  EXPECT_EQ(built.hexBytes[kRawTrackSize - 1], 0x4E);
  EXPECT_EQ(built.log, disk->GetTrack(2).Log);

  for (int i = 0; i < 16; ++i)
    Slot(2, i).SizeCode = 3;  // 16 sectors of 1024 bytes: no track can be built
  EXPECT_TRUE(Click(0, 2).hexBytes.empty());
}

TEST_F(TrackEditingTest, ContextMenuFollowsTheClickedCell) {
  ContextMenuState s = InitialContextMenuState();
  GiveRawTrack(2);
  PrepareContextMenu(*disk, 0, 2, s, true);
  for (int z : {8, 12, 13, 14, 16, 18, 19, 22})
    EXPECT_TRUE(s[z].enabled) << z;
  for (int z : {9, 10, 11, 15, 17})
    EXPECT_FALSE(s[z].enabled) << z;
  for (int z : {3, 4, 6, 7})
    EXPECT_TRUE(s[z].visible) << z;
  for (int z : {1, 2, 5, 23})
    EXPECT_FALSE(s[z].visible) << z;

  PrepareContextMenu(*disk, -1, -1, s, true);
  EXPECT_FALSE(s[23].enabled || s[23].visible || s[3].visible);
  EXPECT_TRUE(s[19].enabled);  // not the outside's concern: kept

  // The address entry comes back after a click outside the cells.
  PrepareContextMenu(*disk, 3, 1, s, true);
  EXPECT_TRUE(s[10].enabled && s[23].enabled && s[23].visible && s[1].visible);
  EXPECT_FALSE(s[11].enabled || s[19].enabled || s[22].enabled || s[3].visible);

  PrepareContextMenu(*disk, 0, 50, s, true);
  EXPECT_TRUE(s[9].enabled);
  EXPECT_FALSE(s[8].enabled || s[22].enabled || s[19].enabled || s[3].visible);

  // A new sector only next to the used slots of a present track.
  PrepareContextMenu(*disk, 17, 1, s, true);
  EXPECT_TRUE(s[11].enabled);
  PrepareContextMenu(*disk, 1, 80, s, true);
  EXPECT_FALSE(s[11].enabled);
  EXPECT_FALSE(AddSectorCommand(*disk, 3, 1));  // a used slot keeps its ID
  EXPECT_EQ(Slot(1, 2).Sec, 3);
}

// The drive entries do nothing without a drive: they are off then, on a
// track label and on a sector alike, and on again once a drive is open.
TEST_F(TrackEditingTest, DriveEntriesFollowTheDrive) {
  ContextMenuState s = InitialContextMenuState();
  for (const bool drive : {false, true}) {
    for (const auto& [column, row] : {std::pair{0, 1}, std::pair{3, 1}}) {
      PrepareContextMenu(*disk, column, row, s, drive);
      for (int z = 1; z <= 7; ++z)
        EXPECT_EQ(s[size_t(z)].enabled, drive) << z << " at " << column;
    }
  }
}

TEST_F(TrackEditingTest, AcceptedPanelBytesStayWithinTheDataOrRawTrack) {
  TSectorRec& s = Slot(1, 0);
  std::vector<uint8_t> panel(300, 0xAB);  // more than the sector holds
  EXPECT_EQ(AcceptPanelBytes(*disk, 1, 1, panel, prompt), AcceptOutcome::Stored);
  EXPECT_EQ(s.Data()[255], 0xAB);
  EXPECT_EQ(s.DataLength(), 256);

  EXPECT_EQ(AcceptPanelBytes(*disk, 0, 1, panel, prompt), AcceptOutcome::Nothing);
  GiveRawTrack(1);
  EXPECT_EQ(AcceptPanelBytes(*disk, 0, 1, panel, prompt), AcceptOutcome::Stored);
  EXPECT_EQ(prompt.questions.back(), "Внимание!|Вы хотитете принять изменения дорожки?");
  EXPECT_EQ(disk->GetTrack(1).RawData()[299], 0xAB);
  EXPECT_EQ(disk->GetTrack(1).RawData()[300], PatternBytes(6300, 4)[300]);
}

TEST_F(TrackEditingTest, SectorFileIsReplacedOnlyOnYesAndAFailedWriteSaysSo) {
  test::TempDir dir;
  const std::string path = dir / "s.sec";
  test::WriteBytes(path, {1, 2, 3});
  prompt.answers = {Answer::No};
  EXPECT_FALSE(SaveSectorFile(path, PatternBytes(10, 1), prompt));
  EXPECT_EQ(test::ReadBytes(path), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(prompt.questions.back(), "Внимание..!|Файл уже существует! Перезаписать?");
  EXPECT_FALSE(SaveSectorFile(dir / "no/such/s.sec", PatternBytes(10, 1), prompt));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].caption, "Ошибка!");
}

TEST(CommentMemo, LinesOfTheMemo) {
  EXPECT_TRUE(MemoLines("").empty());
  EXPECT_EQ(MemoLines("a\n\nb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(MemoLines("a\nb\n"), (std::vector<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace kelvara
