#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "filesystems/CPMcat.h"
#include "model/CodePage.h"
#include "support/CpmDiskBuilder.h"
#include "support/DiskBuilder.h"
#include "support/FakePrompt.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::CpmSlot;
using test::Key;
using test::PatternBytes;
using test::PutCpmBlock;
using test::PutCpmEntry;
using test::PutCpmFile;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

class CpmTest : public ::testing::Test {
 protected:
  void SetUp() override { disk->CreateCpmDisk(); }

  CpmCatalog List(bool deleted = false, bool hidden = false) {
    return ReadCpmCatalog(*disk, {deleted, hidden});
  }
  std::vector<uint8_t> Collect(std::string_view key, uint8_t user = 0) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(CollectCpmFile(*disk, Key(key), user, out)) << key;
    return out;
  }

  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
};

// ---- geometry and the new disk ----

TEST_F(CpmTest, SectorAddressesRunAcrossTracksWithSectorNineOnTrackZero) {
  const std::pair<int, std::pair<int, int>> cases[] = {{0, {0, 1}}, {3, {0, 4}}, {4, {0, 9}},
                                                       {5, {1, 1}}, {9, {1, 5}}, {799, {159, 5}}};
  for (const auto& [logical, place] : cases) {
    const CpmSectorPlace p = CpmSectorOf(logical);
    EXPECT_EQ(p.track, place.first) << logical;
    EXPECT_EQ(p.sec, place.second) << logical;
  }
}

TEST_F(CpmTest, NewDiskHasProfiIdsOnEveryTrack) {
  EXPECT_EQ(disk->TrackCount, 160);
  for (int t = 0; t < kTrackCount; ++t) {
    const TTrack& track = disk->GetTrack(static_cast<uint8_t>(t));
    ASSERT_EQ(track.Present != 0, t < 160) << t;
    if (t >= 160) continue;
    EXPECT_EQ(track.SectorCount, 5);
    EXPECT_EQ(track.RawLength, 0);
    for (int i = 0; i < 5; ++i) {
      const TSectorRec& s = track.Sectors[i];
      EXPECT_EQ(s.Sec, t == 0 && i == 4 ? 9 : i + 1) << t;
      EXPECT_EQ(s.Cyl, t / 2);
      EXPECT_EQ(s.Head, t % 2) << "the head byte follows the side";
      EXPECT_EQ(s.SizeCode, 3);
      EXPECT_EQ(s.HeaderCrc, IdFieldCrc(s.Cyl, s.Head, s.Sec, 3));
      EXPECT_TRUE(s.Present && s.DataOk);
      EXPECT_EQ(s.ErrorCount, 0);
      EXPECT_EQ(s.DataLength, 1024);
    }
    EXPECT_FALSE(track.Sectors[5].Present);
  }
  EXPECT_EQ(disk->GetTrack(1).Sectors[0].Head, 1);
}

TEST_F(CpmTest, NewDiskHasAnEmptyDirectoryAndZeroData) {
  const TTrack& t0 = disk->GetTrack(0);
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(std::all_of(t0.Sectors[i].Data.begin(), t0.Sectors[i].Data.begin() + 1024,
                            [](uint8_t b) { return b == 0xE5; }))
        << "directory sector " << i + 1;
  }
  for (int t = 0; t < 160; ++t) {
    for (int i = t == 0 ? 4 : 0; i < 5; ++i) {
      const auto& d = disk->GetTrack(static_cast<uint8_t>(t)).Sectors[i].Data;
      ASSERT_TRUE(std::all_of(d.begin(), d.end(), [](uint8_t b) { return b == 0; })) << t;
    }
  }
  const CpmCatalog cat = List(true, true);
  EXPECT_TRUE(cat.rows.empty()) << "an all-zero entry would be a nameless live file";
  EXPECT_EQ(cat.UsedKb(), 4);
  EXPECT_EQ(cat.FreeKb(), 796);
  EXPECT_TRUE(IsCpmImage(*disk));
}

TEST_F(CpmTest, NewDiskReplacesWhateverWasThere) {
  struct CountingView : DiskView {
    int repaints = 0;
    void ScrollToTopAndRepaint() override { ++repaints; }
    void RefreshSectorCell(uint8_t, uint8_t) override {}
    void RefreshTrackCell(uint8_t) override {}
  } view;
  test::FillStandardDisk(*disk, 168);
  disk->Comment = {"old"};
  disk->GetTrack(3).SetRaw(PatternBytes(6250, 1));
  disk->SetView(&view);
  disk->CreateCpmDisk();
  EXPECT_FALSE(disk->GetTrack(165).Present);
  EXPECT_EQ(disk->GetTrack(3).RawLength, 0);
  EXPECT_FALSE(disk->GetTrack(3).Sectors[5].Present);
  EXPECT_TRUE(disk->Comment.empty());
  EXPECT_EQ(disk->TrackCount, 160);
  EXPECT_GE(view.repaints, 1);
  disk->SetView(nullptr);
}

TEST_F(CpmTest, ImageIsCpmWithFiveOrSixSectorsOnTrackZero) {
  EXPECT_TRUE(IsCpmImage(*disk));
  test::AddSector(*disk, 0, 0, 0, 10, 3, {});
  EXPECT_TRUE(IsCpmImage(*disk));
  test::AddSector(*disk, 0, 0, 0, 11, 3, {});
  EXPECT_FALSE(IsCpmImage(*disk));
  test::FillStandardDisk(*disk, 160);
  EXPECT_FALSE(IsCpmImage(*disk));
  disk->ClearImage();
  EXPECT_FALSE(IsCpmImage(*disk));
  // The count is taken afresh, not from a stale SectorCount.
  disk->CreateCpmDisk();
  disk->GetTrack(0).Sectors[4].Present = 0;
  disk->GetTrack(0).Sectors[3].Present = 0;
  EXPECT_FALSE(IsCpmImage(*disk));
}

// ---- the directory ----

TEST_F(CpmTest, ShowSwitchesListDeletedAndHiddenEntries) {
  PutCpmEntry(*disk, 0, {0, "PLAIN   TXT", 0, 1, {2}});
  PutCpmEntry(*disk, 1, {3, "HIDDEN  TXT", 0, 1, {3}});
  PutCpmEntry(*disk, 2, {0xE5, "GONE    TXT", 0, 1, {4}});
  auto names = [&](bool deleted, bool hidden) {
    std::vector<std::string> out;
    for (const CpmFileRow& r : List(deleted, hidden).rows)
      out.push_back(r.Name());
    return out;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(names(false, false), (V{"PLAIN   "}));
  EXPECT_EQ(names(false, true), (V{"PLAIN   ", "HIDDEN  "}));
  EXPECT_EQ(names(true, false), (V{"PLAIN   ", "GONE    "}));
  EXPECT_EQ(names(true, true), (V{"PLAIN   ", "HIDDEN  ", "GONE    "}));
  const CpmCatalog all = List(true, true);
  EXPECT_EQ(all.rows[1].user, 3);
  EXPECT_EQ(all.rows[1].Ext(), "TXT");
  // The deleted file's block is free again; the hidden one's is not.
  EXPECT_TRUE(all.usedBlocks[2] && all.usedBlocks[3]);
  EXPECT_FALSE(all.usedBlocks[4]);
  EXPECT_EQ(all.UsedKb(), 8);
}

TEST_F(CpmTest, LaterExtentsAreNeverListedButHoldTheirBlocks) {
  PutCpmEntry(*disk, 0, {0, "BIG     DAT", 1, 10, {20, 21}});
  const CpmCatalog cat = List(true, true);
  EXPECT_TRUE(cat.rows.empty());
  EXPECT_TRUE(cat.usedBlocks[20] && cat.usedBlocks[21]);
  EXPECT_EQ(cat.UsedKb(), 8);
  EXPECT_EQ(cat.FreeKb(), 792);
}

TEST_F(CpmTest, DirectoryEndsAtTheFirstNeverUsedEntry) {
  PutCpmEntry(*disk, 0, {0xE5, "OLD     TXT", 0, 1, {5}});  // deleted, not the end
  PutCpmEntry(*disk, 1, {0, "A       TXT", 0, 1, {6}});
  // Entry 2 stays 0xE5 throughout: everything after it is ignored.
  PutCpmEntry(*disk, 3, {0, "LOST    TXT", 0, 1, {7}});
  const CpmCatalog cat = List(true, true);
  ASSERT_EQ(cat.rows.size(), 2u);
  EXPECT_EQ(cat.rows[1].Name(), "A       ");
  EXPECT_FALSE(cat.usedBlocks[7]);
  std::vector<uint8_t> out;
  EXPECT_FALSE(CollectCpmFile(*disk, Key("LOST    TXT"), 0, out));
}

TEST_F(CpmTest, MarkingStopsAtTheFirstBlockNumberPastTheDisk) {
  PutCpmEntry(*disk, 0, {0, "ODD     BIN", 0, 64, {10, 399, 400, 11}});
  const CpmCatalog cat = List();
  EXPECT_TRUE(cat.usedBlocks[10] && cat.usedBlocks[399]);
  EXPECT_FALSE(cat.usedBlocks[11]);
  EXPECT_EQ(cat.UsedKb(), 8);
}

TEST_F(CpmTest, FullDirectoryIsReadToItsLastEntry) {
  for (int i = 0; i < 128; ++i) {
    char name[12];
    std::snprintf(name, sizeof name, "F%03d    TXT", i);
    PutCpmEntry(*disk, i, {0, name, 0, 16, {static_cast<uint16_t>(2 + i)}});
  }
  const CpmCatalog cat = List();
  EXPECT_EQ(cat.rows.size(), 128u);
  EXPECT_EQ(cat.rows.back().Name(), "F127    ");
  EXPECT_EQ(cat.UsedKb(), 4 + 128 * 2);
}

TEST_F(CpmTest, MissingDirectorySectorsReadAsZeros) {
  // Sector 1 gone: its 32 entries are zeros, that is live nameless files.
  disk->GetTrack(0).Sectors[0].Present = 0;
  PutCpmEntry(*disk, 32, {0, "SECOND  TXT", 0, 1, {9}});
  CpmCatalog cat = List();
  ASSERT_EQ(cat.rows.size(), 33u);
  EXPECT_EQ(cat.rows[0].Name(), "????????");
  EXPECT_EQ(cat.rows[0].records, 0u);
  EXPECT_EQ(cat.rows[32].Name(), "SECOND  ");

  // A short sector gives what it has; the rest of its kilobyte is zeros.
  disk->CreateCpmDisk();
  PutCpmEntry(*disk, 0, {0, "SHORT   TXT", 0, 1, {9}});
  disk->GetTrack(0).Sectors[0].DataLength = 32;
  cat = List();
  ASSERT_EQ(cat.rows.size(), 32u);
  EXPECT_EQ(cat.rows[0].Name(), "SHORT   ");

  // Slots are found by sector number, whatever their order on the track.
  disk->CreateCpmDisk();
  PutCpmEntry(*disk, 0, {0, "MOVED   TXT", 0, 1, {9}});
  std::swap(disk->GetTrack(0).Sectors[0], disk->GetTrack(0).Sectors[4]);
  ASSERT_EQ(List().rows.size(), 1u);
  EXPECT_EQ(List().rows[0].Name(), "MOVED   ");

  // No track 0 at all: the directory is all zeros.
  disk->ClearImage();
  EXPECT_EQ(List().rows.size(), 128u);
}

// ---- the size column ----

TEST_F(CpmTest, SizeColumnShowsKilobytesAndBytesAsThousandths) {
  EXPECT_EQ(CpmSizeText(17, ","), "2,128");
  EXPECT_EQ(CpmSizeText(16, ","), "2");
  EXPECT_EQ(CpmSizeText(138, ","), "17,256");
  EXPECT_EQ(CpmSizeText(5, ","), "0,64");
  EXPECT_EQ(CpmSizeText(0, ","), "0");
  EXPECT_EQ(CpmSizeText(1, "."), "0.128");
  EXPECT_EQ(CpmSizeText(6400, ","), "800");
  EXPECT_FALSE(SystemDecimalSeparator().empty());
}

TEST_F(CpmTest, FileSizeAddsTheRecordsOfLaterExtents) {
  PutCpmFile(*disk, 0, 2, "TWO     EXT", PatternBytes(17664, 1));
  CpmCatalog cat = List();
  ASSERT_EQ(cat.rows.size(), 1u);
  EXPECT_EQ(cat.rows[0].records, 138u);
  EXPECT_EQ(CpmSizeText(cat.rows[0].records, ","), "17,256");
  EXPECT_EQ(cat.UsedKb(), 4 + 9 * 2);

  // Three extents (266 records) keep their true size rather than 8 bits of it.
  disk->CreateCpmDisk();
  PutCpmFile(*disk, 0, 2, "THREE   EXT", PatternBytes(266 * 128, 1));
  cat = List();
  ASSERT_EQ(cat.rows.size(), 1u);
  EXPECT_EQ(cat.rows[0].records, 266u);
  EXPECT_EQ(CpmSizeText(cat.rows[0].records, ","), "33,256");
}

TEST_F(CpmTest, FileSizeCountsOnlyTheFilesOwnExtents) {
  // Extents out of directory order, a deleted copy's extent and another
  // user's namesake between them.
  PutCpmEntry(*disk, 0, {0, "DOC     TXT", 2, 10, {30}});
  PutCpmEntry(*disk, 1, {0xE5, "DOC     TXT", 1, 5, {40}});
  PutCpmEntry(*disk, 2, {0, "DOC     TXT", 0, 128, {2, 3, 4, 5, 6, 7, 8, 9}});
  PutCpmEntry(*disk, 3, {4, "DOC     TXT", 1, 77, {41}});
  PutCpmEntry(*disk, 4, {0, "DOC     TXT", 1, 128, {10, 11, 12, 13, 14, 15, 16, 17}});
  const CpmCatalog cat = List(true, true);
  ASSERT_EQ(cat.rows.size(), 1u);
  EXPECT_EQ(cat.rows[0].records, 128u + 128 + 10);
  EXPECT_FALSE(cat.usedBlocks[40]);
  EXPECT_TRUE(cat.usedBlocks[41]);
}

TEST_F(CpmTest, DeletedFileSizeCountsItsDeletedExtents) {
  PutCpmEntry(*disk, 0, {0xE5, "OLD     TXT", 0, 128, {2, 3, 4, 5, 6, 7, 8, 9}});
  PutCpmEntry(*disk, 1, {0xE5, "OLD     TXT", 1, 3, {10}});
  PutCpmEntry(*disk, 2, {0, "OLD     TXT", 1, 99, {11}});
  const CpmCatalog cat = List(true, false);
  ASSERT_EQ(cat.rows.size(), 1u);
  EXPECT_EQ(cat.rows[0].records, 131u);
}

// ---- collecting a file ----

TEST_F(CpmTest, CollectsAFileAcrossExtentsCutToItsLength) {
  const auto data = PatternBytes(17664, 7);
  PutCpmFile(*disk, 0, 50, "TWO     EXT", data);
  EXPECT_EQ(Collect("TWO     EXT"), data);

  // A file ending inside a block, and an empty file.
  const auto small = PatternBytes(300, 8);
  PutCpmFile(*disk, 2, 70, "SMALL   BIN", small);
  PutCpmFile(*disk, 3, 0, "EMPTY   BIN", {});
  auto out = Collect("SMALL   BIN");
  ASSERT_EQ(out.size(), 384u);  // whole records
  EXPECT_TRUE(std::equal(small.begin(), small.end(), out.begin()));
  EXPECT_TRUE(Collect("EMPTY   BIN").empty());
}

TEST_F(CpmTest, CollectionFollowsExtentNumbersNotDirectoryOrder) {
  const auto data = PatternBytes(376 * 128, 9);
  ASSERT_EQ(PutCpmFile(*disk, 1, 100, "LONG    DAT", data), 3);
  auto eightFrom = [](int first) {
    std::vector<uint16_t> v;
    for (int i = 0; i < 8; ++i)
      v.push_back(static_cast<uint16_t>(first + i));
    return v;
  };
  // The extents as CP/M leaves them when a file grows into freed slots:
  // 2, 0, 1; and a deleted copy's extent 1 before them.
  PutCpmEntry(*disk, 0, {0xE5, "LONG    DAT", 1, 128, eightFrom(200)});
  PutCpmEntry(*disk, 1, {0, "LONG    DAT", 2, 120, eightFrom(116)});
  PutCpmEntry(*disk, 2, {0, "LONG    DAT", 0, 128, eightFrom(100)});
  PutCpmEntry(*disk, 3, {0, "LONG    DAT", 1, 128, eightFrom(108)});
  EXPECT_EQ(Collect("LONG    DAT"), data);
  ASSERT_EQ(List().rows.size(), 1u);
  EXPECT_EQ(List().rows[0].records, 376u);
}

TEST_F(CpmTest, CollectionWalksOnOnlyWhenAllEightBlocksAreSet) {
  PutCpmBlock(*disk, 2, std::vector<uint8_t>(2048, 0x11));
  PutCpmBlock(*disk, 9, std::vector<uint8_t>(2048, 0x22));
  PutCpmEntry(*disk, 0, {0, "SEVEN   BLK", 0, 128, {2, 3, 4, 5, 6, 7, 8}});
  PutCpmEntry(*disk, 1, {0, "SEVEN   BLK", 1, 16, {9}});
  const auto out = Collect("SEVEN   BLK");
  // Never more than the blocks assembled, though the records say 16 KB.
  ASSERT_EQ(out.size(), 7u * 2048);
  EXPECT_EQ(out[0], 0x11);
  EXPECT_EQ(std::count(out.begin(), out.end(), 0x22), 0) << "block 9 of the next extent";
}

TEST_F(CpmTest, UnreadableSectorsOfAFileReadAsZeros) {
  PutCpmFile(*disk, 0, 12, "HOLES   BIN", std::vector<uint8_t>(4 * 2048, 0x5A));
  // Blocks 12..15 are sectors 24..31: track 4 sectors 5, track 5 sectors 1..5,
  // track 6 sectors 1..2.
  CpmSlot(*disk, 24)->DataLength = 1023;  // a short read
  CpmSlot(*disk, 25)->Present = 0;        // no such sector
  disk->GetTrack(6).Present = 0;          // the track is not part of the image
  CpmSlot(*disk, 27)->DataOk = 0;         // bad data of the right size still counts
  const auto out = Collect("HOLES   BIN");
  ASSERT_EQ(out.size(), 8192u);
  auto kb = [&](int i) {
    return std::vector<uint8_t>(out.begin() + i * 1024, out.begin() + i * 1024 + 1024);
  };
  const std::vector<uint8_t> zeros(1024, 0), full(1024, 0x5A);
  EXPECT_EQ(kb(0), zeros);
  EXPECT_EQ(kb(1), zeros);
  EXPECT_EQ(kb(2), full);
  EXPECT_EQ(kb(3), full);
  EXPECT_EQ(kb(6), zeros);
  EXPECT_EQ(kb(7), zeros);
}

TEST_F(CpmTest, CollectionFindsTheFileOfTheRightUserOnly) {
  PutCpmFile(*disk, 0, 2, "SAME    TXT", std::vector<uint8_t>(128, 'a'), 0);
  PutCpmFile(*disk, 1, 3, "SAME    TXT", std::vector<uint8_t>(256, 'b'), 5);
  EXPECT_EQ(Collect("SAME    TXT", 0), std::vector<uint8_t>(128, 'a'));
  EXPECT_EQ(Collect("SAME    TXT", 5), std::vector<uint8_t>(256, 'b'));
  std::vector<uint8_t> out(3, 1);
  EXPECT_FALSE(CollectCpmFile(*disk, Key("SAME    TXT"), 1, out));
  EXPECT_FALSE(CollectCpmFile(*disk, Key("OTHER   TXT"), 0, out));
  EXPECT_TRUE(out.empty());
}

TEST_F(CpmTest, HostileBlockNumbersReadAsZerosWithoutLeavingTheImage) {
  PutCpmEntry(*disk, 0,
              {0, "WILD    BIN", 0, 128, {0xFFFF, 401, 420, 1000, 60000, 0x8000, 2, 399}});
  PutCpmEntry(*disk, 1, {0, "WILD    BIN", 1, 128, {0xFFFF, 0xFFFE, 0xFFFD, 1, 1, 1, 1, 1}});
  const auto out = Collect("WILD    BIN");
  EXPECT_EQ(out.size(), 16u * 2048);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[11 * 2048], 0xE5) << "block 1: the directory's third and fourth sectors";
  EXPECT_EQ(List().UsedKb(), 4) << "marking stops at the first block past the disk";
}

// ---- saving a file ----

TEST_F(CpmTest, ProposedFileNameIsTheKeyMadeSafe) {
  EXPECT_EQ(CpmProposedFileName(Key("GAME    COM")), "GAME    COM");
  CpmKey odd = Key("A/B     C  ");
  odd[3] = 0;
  odd[4] = 0xC0;
  EXPECT_EQ(CpmProposedFileName(odd), "A_B_\xD0\x90   C  ");
}

TEST_F(CpmTest, SaveAsWritesTheFileAndRemembersTheFolder) {
  TempDir dir;
  const auto data = PatternBytes(2048 * 3, 4);
  PutCpmFile(*disk, 0, 2, "GAME    COM", data);
  const CpmFileRow row = List().rows.at(0);
  test::FakePrompt prompt;
  prompt.saveFiles = {dir / "game"};
  std::string sclDir = "/elsewhere/";
  EXPECT_EQ(SaveCpmFileAs(*disk, row, prompt, sclDir), CpmSaveOutcome::Saved);
  EXPECT_EQ(ReadBytes(dir / "game.cpm"), data);
  EXPECT_EQ(sclDir, dir.Path());
  EXPECT_TRUE(prompt.messages.empty());

  // Replacing asks first; No leaves the old file.
  WriteBytes(dir / "old.bin", {1, 2, 3});
  prompt.saveFiles = {dir / "old.bin"};
  prompt.answers = {Answer::No};
  sclDir = "/elsewhere/";
  EXPECT_EQ(SaveCpmFileAs(*disk, row, prompt, sclDir), CpmSaveOutcome::Cancelled);
  EXPECT_EQ(ReadBytes(dir / "old.bin"), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(prompt.questions.back(), "Внимание!|Файл существует! Перезаписать?!");
  EXPECT_EQ(sclDir, "/elsewhere/");
  prompt.saveFiles = {dir / "old.bin"};
  EXPECT_EQ(SaveCpmFileAs(*disk, row, prompt, sclDir), CpmSaveOutcome::Saved);
  EXPECT_EQ(ReadBytes(dir / "old.bin"), data);

  // A cancelled dialog does nothing.
  EXPECT_EQ(SaveCpmFileAs(*disk, row, prompt, sclDir), CpmSaveOutcome::Cancelled);
}

TEST_F(CpmTest, SaveAsOfAFileGoneFromTheDirectoryReportsAndWritesNothing) {
  TempDir dir;
  PutCpmFile(*disk, 0, 2, "GAME    COM", PatternBytes(100, 1));
  const CpmFileRow row = List().rows.at(0);
  PutCpmEntry(*disk, 0, {0xE5, "GAME    COM", 0, 1, {2}});
  test::FakePrompt prompt;
  prompt.saveFiles = {dir / "x.cpm"};
  std::string sclDir;
  EXPECT_EQ(SaveCpmFileAs(*disk, row, prompt, sclDir), CpmSaveOutcome::Failed);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].caption, "Ошибка!");
  EXPECT_EQ(prompt.messages[0].text, "Ошибка в CP/M каталоге!");
  EXPECT_FALSE(std::filesystem::exists(dir / "x.cpm"));

  // A write that fails leaves its reason in the message.
  prompt.saveFiles = {dir / "no/such/folder/x.cpm"};
  disk->CreateCpmDisk();
  PutCpmFile(*disk, 0, 2, "GAME    COM", PatternBytes(100, 1));
  EXPECT_EQ(SaveCpmFileAs(*disk, row, prompt, sclDir), CpmSaveOutcome::Failed);
  EXPECT_EQ(prompt.messages.back().caption, "Ошибка!");
}

}  // namespace
}  // namespace kelvara
