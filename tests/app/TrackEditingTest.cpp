#include "app/TrackEditing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "app/MapCells.h"
#include "support/DiskBuilder.h"
#include "support/FakePrompt.h"
#include "support/TempDir.h"
#include "support/TrdosBuilder.h"

namespace kelvara {
namespace {

using test::AddSector;
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
  EXPECT_EQ(v.hexBytes, std::vector<uint8_t>(s.Data.begin(), s.Data.begin() + 256));
  EXPECT_TRUE(v.hexEditable && v.hexButtons);
  EXPECT_EQ(v.log, disk->GetTrack(2).Log);

  s.ErrorCount = 0;
  EXPECT_EQ(Click(5, 2).fields[5], "no data");
  EXPECT_EQ(CrcText(0x0A0C), "#0A0C");
}

TEST_F(TrackEditingTest, ShownSectorSizeComesFromTheIdOnlyWhenAsked) {
  Slot(1, 0).SizeCode = 2;
  EXPECT_EQ(Click(1, 1).hexBytes.size(), 256u);
  EXPECT_EQ(Click(1, 1, true).hexBytes.size(), 512u);
  Slot(1, 0).SizeCode = 0;
  EXPECT_EQ(Click(1, 1, true).hexBytes.size(), 128u);
}

TEST_F(TrackEditingTest, SectorWithoutDataShowsGoodButNoBytes) {
  Slot(0, 0).DataLength = 0;
  const CellView v = Click(1, 0);
  EXPECT_EQ(v.fields[5], "good");
  EXPECT_EQ(v.hex, HexChange::Replace);
  EXPECT_TRUE(v.hexBytes.empty());
  EXPECT_FALSE(v.hexEditable || v.hexButtons);
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

  Slot(2, 7).SizeCode = 5;  // no track can be built
  EXPECT_TRUE(Click(0, 2).hexBytes.empty());
}

TEST_F(TrackEditingTest, OwnerIsTheFileCoveringTheSectorOrFreeSpace) {
  test::BuildTrdosDisk(*disk, {test::PatternFile("NAME", 'B', 18)});
  ASSERT_TRUE(ReadTrdosCatalog(*disk, catalog));
  const CellView file = Click(2, 2);  // track 2, position 1: the file's 18th sector
  EXPECT_EQ(file.owner, Visibility::Shown);
  EXPECT_EQ(file.ownerText, "NAME    _B");
  EXPECT_EQ(Click(3, 2).ownerText, "Free sector!");
  EXPECT_EQ(Click(1, 0).owner, Visibility::Hidden);
}

TEST_F(TrackEditingTest, ContextMenuFollowsTheClickedCell) {
  ContextMenuState s = InitialContextMenuState();
  GiveRawTrack(2);
  PrepareContextMenu(*disk, 0, 2, s);
  for (int z : {8, 12, 13, 14, 16, 18, 19, 22})
    EXPECT_TRUE(s[z].enabled) << z;
  for (int z : {9, 10, 11, 15, 17})
    EXPECT_FALSE(s[z].enabled) << z;
  for (int z : {3, 4, 6, 7})
    EXPECT_TRUE(s[z].visible) << z;
  for (int z : {1, 2, 5, 23})
    EXPECT_FALSE(s[z].visible) << z;

  PrepareContextMenu(*disk, -1, -1, s);
  EXPECT_FALSE(s[23].enabled || s[23].visible || s[3].visible);
  EXPECT_TRUE(s[19].enabled);  // not the outside's concern: kept

  // The address entry comes back after a click outside the cells.
  PrepareContextMenu(*disk, 3, 1, s);
  EXPECT_TRUE(s[10].enabled && s[23].enabled && s[23].visible && s[1].visible);
  EXPECT_FALSE(s[11].enabled || s[19].enabled || s[22].enabled || s[3].visible);

  PrepareContextMenu(*disk, 0, 50, s);
  EXPECT_TRUE(s[9].enabled);
  EXPECT_FALSE(s[8].enabled || s[22].enabled || s[19].enabled || s[3].visible);
}

TEST_F(TrackEditingTest, AddingASectorNeedsAnEmptySlotNextToTheUsedOnes) {
  ContextMenuState s = InitialContextMenuState();
  PrepareContextMenu(*disk, 17, 1, s);
  EXPECT_TRUE(s[11].enabled);
  PrepareContextMenu(*disk, 18, 1, s);  // column 17 is empty
  EXPECT_FALSE(s[11].enabled);
  PrepareContextMenu(*disk, 1, 80, s);  // absent track
  EXPECT_FALSE(s[11].enabled);

  EXPECT_FALSE(AddSectorCommand(*disk, 3, 1));  // a used slot keeps its ID
  EXPECT_EQ(Slot(1, 2).Sec, 3);
  disk->GetTrack(5).Present = 0xFF;
  ASSERT_TRUE(AddSectorCommand(*disk, 1, 5));
  const CellView v = Click(1, 5);
  const std::array<std::string, 6> fields = {
      "2", "1", "0", "256b", CrcText(IdFieldCrc(2, 1, 0, 1)), "good"};
  EXPECT_EQ(v.fields, fields);
  EXPECT_EQ(LookOfCell(*disk, 1, 5, false).image, CellImage::YellowSector);
}

TEST_F(TrackEditingTest, RemovingASectorAsksAndNeedsASectorColumn) {
  EXPECT_FALSE(RemoveSectorCommand(*disk, 0, 1, prompt));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].caption, "Ошибка!");
  EXPECT_EQ(prompt.messages[0].text, "Сектор не выбран!");
  EXPECT_TRUE(prompt.questions.empty());

  prompt.answers = {Answer::No, Answer::Yes};
  EXPECT_FALSE(RemoveSectorCommand(*disk, 4, 1, prompt));
  EXPECT_EQ(Slot(1, 3).Sec, 4);
  EXPECT_TRUE(RemoveSectorCommand(*disk, 4, 1, prompt));
  EXPECT_EQ(Slot(1, 3).Sec, 5);
  EXPECT_EQ(prompt.questions.back(),
            "Удаление сектора..|Вы действительно хотите удалить сектор?\n"
            "Последующие сектора будут сдвинуты!");
}

TEST_F(TrackEditingTest, ClearingATrackDropsOnlyItsRawBytesAndOnlyOnALabel) {
  GiveRawTrack(1);
  EXPECT_FALSE(ClearTrackCommand(*disk, 2, 1, prompt));
  EXPECT_TRUE(prompt.questions.empty());
  prompt.answers = {Answer::No};
  EXPECT_FALSE(ClearTrackCommand(*disk, 0, 1, prompt));
  EXPECT_EQ(LookOfCell(*disk, 0, 1, false).image, CellImage::BlueTrack);
  EXPECT_TRUE(ClearTrackCommand(*disk, 0, 1, prompt));
  EXPECT_EQ(LookOfCell(*disk, 0, 1, false).image, CellImage::YellowTrack);
  EXPECT_EQ(disk->GetTrack(1).CountSectors(), 16);
  EXPECT_EQ(prompt.questions.back(),
            "Очиска RAW дорожки!|Вы действительно хотите удалить данные дорожки?");
}

TEST_F(TrackEditingTest, BaseTemplateNeedsABaseTrackWithRawBytes) {
  BaseTrackOutcome r = SetBaseTrackCommand(*disk, 3);
  EXPECT_EQ(r.switchCaption, "Использовать базовый шаблон для всех дорожек (Трэк - 3)");
  EXPECT_FALSE(r.templateOn || disk->UseBaseTemplate);
  EXPECT_FALSE(BaseTemplateSwitch(*disk, false));

  GiveRawTrack(3);
  EXPECT_TRUE(SetBaseTrackCommand(*disk, 3).templateOn);
  EXPECT_FALSE(BaseTemplateSwitch(*disk, true));
  EXPECT_FALSE(disk->UseBaseTemplate);
  EXPECT_TRUE(BaseTemplateSwitch(*disk, false));
  EXPECT_TRUE(disk->UseBaseTemplate);
  disk->UseBaseTemplate = false;
  disk->BaseTrack = 160;
  EXPECT_FALSE(BaseTemplateSwitch(*disk, false));
}

TEST_F(TrackEditingTest, AcceptedPanelBytesChangeOnlyTheData) {
  TSectorRec& s = Slot(1, 0);
  const TSectorRec before = s;
  std::vector<uint8_t> panel(300, 0xAB);  // more than the sector holds
  prompt.answers = {Answer::No};
  EXPECT_EQ(AcceptPanelBytes(*disk, 1, 1, panel, prompt), AcceptOutcome::Declined);
  EXPECT_EQ(s.Data, before.Data);
  EXPECT_EQ(AcceptPanelBytes(*disk, 1, 1, panel, prompt), AcceptOutcome::Stored);
  EXPECT_EQ(prompt.questions.back(), "Внимание!|Вы хотитете принять изменения сектора?");
  EXPECT_EQ(s.Data[255], 0xAB);
  EXPECT_EQ(s.Data[256], before.Data[256]);
  EXPECT_EQ(s.DataLength, 256);
  EXPECT_EQ(s.DataOk, before.DataOk);
  EXPECT_EQ(s.HeaderCrc, before.HeaderCrc);

  EXPECT_EQ(AcceptPanelBytes(*disk, 0, 1, panel, prompt), AcceptOutcome::Nothing);
  GiveRawTrack(1);
  EXPECT_EQ(AcceptPanelBytes(*disk, 0, 1, panel, prompt), AcceptOutcome::Stored);
  EXPECT_EQ(disk->GetTrack(1).RawData[299], 0xAB);
  EXPECT_EQ(disk->GetTrack(1).RawData[300], PatternBytes(6300, 4)[300]);
}

TEST_F(TrackEditingTest, SectorFileHoldsExactlyThePanelsBytes) {
  test::TempDir dir;
  const std::string path = dir / "s.sec";
  const std::vector<uint8_t> bytes = PatternBytes(256, 8);
  EXPECT_TRUE(SaveSectorFile(path, bytes, prompt));
  EXPECT_EQ(test::ReadBytes(path), bytes);
  prompt.answers = {Answer::No};
  EXPECT_FALSE(SaveSectorFile(path, PatternBytes(10, 1), prompt));
  EXPECT_EQ(test::ReadBytes(path), bytes);
  EXPECT_EQ(prompt.questions.back(), "Внимание..!|Файл уже существует! Перезаписать?");

  EXPECT_FALSE(SaveSectorFile(dir / "no/such/s.sec", bytes, prompt));
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
