#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "filesystems/CpmCatalog.h"
#include "session/CpmCatalogWindow.h"
#include "support/CpmDiskBuilder.h"
#include "support/DiskBuilder.h"
#include "support/FakePrompt.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::Key;
using test::PatternBytes;
using test::PutCpmEntry;
using test::PutCpmFile;
using Bytes = std::vector<uint8_t>;

std::vector<uint16_t> EightFrom(int first) {
  std::vector<uint16_t> v;
  for (int i = 0; i < 8; ++i)
    v.push_back(static_cast<uint16_t>(first + i));
  return v;
}

class CpmTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateCpmDisk(*disk); }

  CpmCatalog List(bool deleted = false, bool hidden = false) {
    return ReadCpmCatalog(*disk, {deleted, hidden});
  }
  std::vector<std::string> Names(bool deleted, bool hidden) {
    std::vector<std::string> out;
    for (const CpmFileRow& r : List(deleted, hidden).rows)
      out.push_back(r.Name());
    return out;
  }
  Bytes Collect(std::string_view key, uint8_t user = 0) {
    Bytes out;
    EXPECT_TRUE(CollectCpmFile(*disk, Key(key), user, out)) << key;
    return out;
  }

  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
};

using V = std::vector<std::string>;

TEST_F(CpmTest, NewDiskIsAnEmptyFormattedProfiDisk) {
  test::FillStandardDisk(*disk, 168);
  CreateCpmDisk(*disk);
  EXPECT_EQ(disk->TrackCount, 160);
  EXPECT_FALSE(disk->GetTrack(160).Present);
  for (int t = 0; t < 160; ++t) {
    const TTrack& track = disk->GetTrack(static_cast<uint8_t>(t));
    EXPECT_FALSE(track.Sectors[5].Present) << t;
    for (int i = 0; i < 5; ++i) {
      const TSectorRec& s = track.Sectors[i];
      ASSERT_EQ(s.Sec, t == 0 && i == 4 ? 9 : i + 1) << t;
      ASSERT_TRUE(s.Cyl == t / 2 && s.Head == t % 2 && s.SizeCode == 3 && s.DataOk) << t;
      ASSERT_EQ(s.HeaderCrc, IdFieldCrc(s.Cyl, s.Head, s.Sec, 3));
      ASSERT_EQ(s.DataLength(), 1024);
      // The directory (track 0 sectors 1 to 4) is 0xE5, everything else zero.
      const uint8_t fill = t == 0 && i < 4 ? 0xE5 : 0;
      ASSERT_TRUE(std::all_of(s.Data().begin(), s.Data().begin() + 1024,
                              [fill](uint8_t b) { return b == fill; }))
          << t << "/" << i;
    }
  }
  const CpmCatalog cat = List(true, true);
  EXPECT_TRUE(cat.rows.empty()) << "a zeroed entry would be a nameless live file";
  EXPECT_EQ(cat.UsedKb(), 4);
  EXPECT_EQ(cat.FreeKb(), 796);
}

TEST_F(CpmTest, ImageIsCpmWithFiveOrSixSectorsOnTrackZeroCountedAfresh) {
  EXPECT_TRUE(IsCpmImage(*disk));
  test::AddSector(*disk, 0, 0, 0, 10, 3, {});
  EXPECT_TRUE(IsCpmImage(*disk));
  test::AddSector(*disk, 0, 0, 0, 11, 3, {});
  EXPECT_FALSE(IsCpmImage(*disk));
  CreateCpmDisk(*disk);
  disk->GetTrack(0).Sectors[4].Present = 0;
  EXPECT_FALSE(IsCpmImage(*disk));
  test::FillStandardDisk(*disk, 2);
  EXPECT_FALSE(IsCpmImage(*disk));
}

// ---- the directory ----

TEST_F(CpmTest, ShowSwitchesListDeletedAndHiddenEntries) {
  PutCpmEntry(*disk, 0, {0, "PLAIN   TXT", 0, 1, {2}});
  PutCpmEntry(*disk, 1, {3, "HIDDEN  TXT", 0, 1, {3}});
  PutCpmEntry(*disk, 2, {0xE5, "GONE    TXT", 0, 1, {4}});
  EXPECT_EQ(Names(false, false), (V{"PLAIN   "}));
  EXPECT_EQ(Names(false, true), (V{"PLAIN   ", "HIDDEN  "}));
  EXPECT_EQ(Names(true, false), (V{"PLAIN   ", "GONE    "}));
  const CpmCatalog cat = List();
  EXPECT_TRUE(cat.usedBlocks[3]) << "a hidden file holds its blocks";
  EXPECT_FALSE(cat.usedBlocks[4]) << "a deleted one does not";
}

// Bit 7 of a name byte is an attribute: the name shows in 7 bits, the
// attributes in their own column. User bytes 16 and up are no files: the
// label, date stamps and passwords are listed as what they are and hold no
// blocks.
TEST_F(CpmTest, NameBitsAreAttributesAndHighUsersAreNoFiles) {
  PutCpmEntry(*disk, 0, {0, "J10LOCO \xC5\xCDS", 0, 1, {2}});
  PutCpmEntry(*disk, 1, {0x20, "MYDISK  VOL", 0, 0, {}});
  PutCpmEntry(*disk, 2, {0x21, "\x01\x02\x03\x04", 0, 0, {300}});
  PutCpmEntry(*disk, 3, {0x13, "SECRET  TXT", 0, 0, {301}});
  const CpmCatalog cat = List(true, true);
  ASSERT_EQ(cat.rows.size(), 1u);
  EXPECT_EQ(cat.rows[0].Name() + "." + cat.rows[0].Ext(), "J10LOCO .EMS");
  EXPECT_EQ(CpmListCells(cat.rows[0], ",")[5], "R/O SYS");
  EXPECT_EQ(CpmTypedName(Key("\xC1LL     TXT")), "ALL.TXT");
  EXPECT_EQ(CpmAttributes(Key("\xC1LL     TX\xD4")), (V{"F1", "ARC"}));
  std::vector<std::string> others;
  for (const CpmOtherEntry& e : cat.others)
    others.push_back(std::string(e.KindName()) + " " + e.Describe());
  EXPECT_EQ(others, (V{"label Label: MYDISK.VOL", "date-stamps Date stamps",
                       "password Password of 3:SECRET.TXT"}));
  EXPECT_EQ(DescribeCpmDisk(cat).back().second, "MYDISK.VOL");
  EXPECT_FALSE(cat.usedBlocks[300] || cat.usedBlocks[301]);
}

TEST_F(CpmTest, LaterExtentsAreNeverListedButHoldTheirBlocks) {
  PutCpmEntry(*disk, 0, {0, "BIG     DAT", 1, 10, {20, 21}});
  const CpmCatalog cat = List(true, true);
  EXPECT_TRUE(cat.rows.empty());
  EXPECT_EQ(cat.UsedKb(), 8);
  EXPECT_EQ(cat.FreeKb(), 792);
  // Marking stops at the first block number past the disk.
  PutCpmEntry(*disk, 1, {0, "ODD     DAT", 1, 10, {399, 400, 30}});
  EXPECT_TRUE(List().usedBlocks[399]);
  EXPECT_FALSE(List().usedBlocks[30]);
}

TEST_F(CpmTest, DirectoryEndsAtTheFirstNeverUsedEntry) {
  PutCpmEntry(*disk, 0, {0xE5, "OLD     TXT", 0, 1, {5}});  // deleted, not the end
  PutCpmEntry(*disk, 1, {0, "A       TXT", 0, 1, {6}});
  PutCpmEntry(*disk, 3, {0, "LOST    TXT", 0, 1, {7}});  // behind the untouched entry 2
  EXPECT_EQ(Names(true, true), (V{"OLD     ", "A       "}));
  EXPECT_FALSE(List().usedBlocks[7]);
}

TEST_F(CpmTest, MissingDirectorySectorsReadAsZerosWhereverTheSlotsLie) {
  disk->GetTrack(0).Sectors[0].Present = 0;  // sector 1: entries 0..31 become zeros
  PutCpmEntry(*disk, 32, {0, "SECOND  TXT", 0, 1, {9}});
  std::swap(disk->GetTrack(0).Sectors[1], disk->GetTrack(0).Sectors[4]);
  const CpmCatalog cat = List();
  ASSERT_EQ(cat.rows.size(), 33u);
  EXPECT_EQ(cat.rows[0].Name(), "????????");
  EXPECT_EQ(cat.rows[32].Name(), "SECOND  ");
}

// ---- the size column ----

TEST_F(CpmTest, SizeColumnShowsKilobytesAndTheRestAsThousandths) {
  EXPECT_EQ(CpmSizeText(17, ","), "2,128");
  EXPECT_EQ(CpmSizeText(16, ","), "2");
  EXPECT_EQ(CpmSizeText(5, "."), "0.64");
  EXPECT_EQ(CpmSizeText(6400, ","), "800");
}

TEST_F(CpmTest, FileSizeAddsTheRecordsOfEveryLaterExtent) {
  PutCpmFile(*disk, 0, 2, "TWO     EXT", PatternBytes(17664, 1));
  // Three extents: 266 records, kept whole rather than cut to 8 bits.
  PutCpmFile(*disk, 2, 20, "THREE   EXT", PatternBytes(266 * 128, 1));
  const CpmCatalog cat = List();
  ASSERT_EQ(cat.rows.size(), 2u);
  EXPECT_EQ(CpmSizeText(cat.rows[0].records, ","), "17,256");
  EXPECT_EQ(CpmSizeText(cat.rows[1].records, ","), "33,256");
  EXPECT_EQ(cat.UsedKb(), 4 + (9 + 17) * 2);
}

TEST_F(CpmTest, FilesOverHalfAMegabyteNumberTheirExtentsOnInByte14) {
  // 600 KB: 38 extents; from the 33rd on byte 12 starts again at 0 and byte
  // 14 says 1. Neither those entries nor byte 12 alone may cut the file.
  const Bytes data = PatternBytes(600 * 1024, 3);
  ASSERT_EQ(PutCpmFile(*disk, 0, 2, "HUGE    DAT", data), 38);
  const CpmCatalog cat = List(false, true);
  ASSERT_EQ(cat.rows.size(), 1u);
  EXPECT_EQ(CpmSizeText(cat.rows[0].records, ","), "600");
  EXPECT_EQ(cat.UsedKb(), 4 + 600);
  EXPECT_EQ(Collect("HUGE    DAT"), data);
}

// ---- collecting a file ----

TEST_F(CpmTest, CollectionFollowsExtentNumbersNotDirectoryOrder) {
  const Bytes data = PatternBytes(376 * 128, 9);
  PutCpmFile(*disk, 1, 100, "LONG    DAT", data);
  // As CP/M leaves a file grown into freed slots: extents 2, 0, 1; a deleted
  // copy's extent 1 before them and another user's behind.
  PutCpmEntry(*disk, 0, {0xE5, "LONG    DAT", 1, 128, EightFrom(200)});
  PutCpmEntry(*disk, 4, {7, "LONG    DAT", 1, 50, {300}});
  PutCpmEntry(*disk, 1, {0, "LONG    DAT", 2, 120, EightFrom(116)});
  PutCpmEntry(*disk, 2, {0, "LONG    DAT", 0, 128, EightFrom(100)});
  PutCpmEntry(*disk, 3, {0, "LONG    DAT", 1, 128, EightFrom(108)});
  EXPECT_EQ(Collect("LONG    DAT"), data);
  EXPECT_EQ(List().rows.at(0).records, 376u);
}

TEST_F(CpmTest, CollectionGoesOnOnlyWhenAllEightBlocksAreSet) {
  PutCpmEntry(*disk, 0, {0, "SEVEN   BLK", 0, 128, {2, 3, 4, 5, 6, 7, 8}});
  PutCpmEntry(*disk, 1, {0, "SEVEN   BLK", 1, 16, {9}});
  test::PutCpmBlock(*disk, 9, Bytes(2048, 0x22));
  const Bytes out = Collect("SEVEN   BLK");
  EXPECT_EQ(out.size(), 7u * 2048) << "never more than the blocks assembled";
  EXPECT_EQ(std::count(out.begin(), out.end(), 0x22), 0);
}

TEST_F(CpmTest, UnusableSectorsOfAFileReadAsZeros) {
  // Blocks 12..15 are 1 KB sectors 24..31: track 4 sector 5, track 5
  // sectors 1..5, track 6 sectors 1..2.
  PutCpmFile(*disk, 0, 12, "HOLES   BIN", Bytes(4 * 2048, 0x5A));
  test::CpmSlot(*disk, 24)->MutableData(1023);
  test::CpmSlot(*disk, 25)->Present = 0;
  test::CpmSlot(*disk, 27)->DataOk = 0;  // bad data of the right size still counts
  disk->GetTrack(6).Present = 0;
  const Bytes out = Collect("HOLES   BIN");
  ASSERT_EQ(out.size(), 8192u);
  const int expected[8] = {0, 0, 0x5A, 0x5A, 0x5A, 0x5A, 0, 0};
  for (int kb = 0; kb < 8; ++kb) {
    EXPECT_EQ(std::count(out.begin() + kb * 1024, out.begin() + kb * 1024 + 1024, expected[kb]),
              1024)
        << "kilobyte " << kb;
  }
}

// ---- saving a file ----

TEST_F(CpmTest, SaveAsProposesTheKeyAsksBeforeReplacingAndReportsALostFile) {
  EXPECT_EQ(CpmProposedFileName(Key(std::string_view("A/B\0\xC0   C  ", 11))), "A_B_\u0410   C  ");
  test::TempDir dir;
  const Bytes data = PatternBytes(6144, 4);
  PutCpmFile(*disk, 0, 2, "GAME    COM", data);
  const CpmFileRow row = List().rows.at(0);
  test::FakePrompt prompt;
  std::string sclDir = "/elsewhere/";
  prompt.saveFiles = {dir / "game", dir / "game.cpm", dir / "game.cpm"};
  prompt.answers = {Answer::No};
  EXPECT_EQ(SaveCpmFileAs(*disk, row, prompt, sclDir), CpmSaveOutcome::Saved);
  EXPECT_EQ(test::ReadBytes(dir / "game.cpm"), data) << "the default extension is added";
  EXPECT_EQ(sclDir, dir.Path());
  test::WriteBytes(dir / "game.cpm", {1});
  EXPECT_EQ(SaveCpmFileAs(*disk, row, prompt, sclDir), CpmSaveOutcome::Cancelled);
  EXPECT_EQ(prompt.questions.back(), "Внимание!|Файл существует! Перезаписать?!");
  EXPECT_EQ(test::ReadBytes(dir / "game.cpm"), Bytes{1});

  PutCpmEntry(*disk, 0, {0xE5, "GAME    COM", 0, 48, {2, 3, 4}});
  EXPECT_EQ(SaveCpmFileAs(*disk, row, prompt, sclDir), CpmSaveOutcome::Failed);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].caption + "|" + prompt.messages[0].text,
            "Ошибка!|Ошибка в CP/M каталоге!");
  EXPECT_EQ(test::ReadBytes(dir / "game.cpm"), Bytes{1});
  EXPECT_EQ(SaveCpmFileAs(*disk, row, prompt, sclDir), CpmSaveOutcome::Cancelled);
}

}  // namespace
}  // namespace kelvara
