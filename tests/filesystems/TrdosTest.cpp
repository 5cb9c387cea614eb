#include "filesystems/Trdos.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>

#include "session/TrdosCatalog.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"
#include "support/TrdosBuilder.h"

namespace kelvara {
namespace {

using test::BuildTrdosDisk;
using test::PatternFile;
using test::SectorBytes;
using test::ServiceByte;

class TrdosVolume : public ::testing::Test {
 protected:
  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
  TTrdosCatalog cat;

  uint8_t* Service() { return GetLogicalSector(*disk, 0, 9)->MutableData().data(); }
  uint8_t* Catalog(int sec) { return GetLogicalSector(*disk, 0, sec)->MutableData().data(); }
};

TEST_F(TrdosVolume, TheServiceSectorDecidesWhatIsATrdosDisk) {
  // Only track 0 sectors 1..9 with zero catalog sectors.
  for (int r = 1; r <= 9; ++r)
    test::AddSector(*disk, 0, 0, 0, static_cast<uint8_t>(r), 1, std::vector<uint8_t>(256, 0));
  Service()[0xE7] = 0x10;
  Service()[0xE3] = 0x16;
  ASSERT_TRUE(ReadTrdosCatalog(*disk, cat));
  EXPECT_TRUE(cat.Valid);
  EXPECT_EQ(cat.ListedCount, 0);

  for (uint8_t type : {0x15, 0x1A}) {
    Service()[0xE3] = type;
    EXPECT_FALSE(ReadTrdosCatalog(*disk, cat)) << int(type);
    EXPECT_FALSE(cat.Valid);
  }
  Service()[0xE3] = 0x19;
  Service()[0xE7] = 0x11;
  EXPECT_FALSE(ReadTrdosCatalog(*disk, cat));
}

TEST_F(TrdosVolume, OtherSectorsOfTrackZeroOnlyMatterFromOneToNine) {
  BuildTrdosDisk(*disk, {PatternFile("A", 'C', 1)});
  test::AddSector(*disk, 0, 0, 0, 12, 3, std::vector<uint8_t>(1024, 0));  // slot 16
  ASSERT_TRUE(ReadTrdosCatalog(*disk, cat));
  EXPECT_EQ(cat.ListedCount, 1);

  disk->GetTrack(0).Sectors[2].SizeCode = 2;
  EXPECT_FALSE(ReadTrdosCatalog(*disk, cat));
  disk->GetTrack(0).Sectors[2].SizeCode = 1;
  disk->GetTrack(0).Sectors[8].MutableData(255);
  EXPECT_FALSE(ReadTrdosCatalog(*disk, cat));
  disk->GetTrack(0).Present = 0;
  EXPECT_FALSE(ReadTrdosCatalog(*disk, cat));
}

TEST_F(TrdosVolume, TheListEndsAtEightZeroBytesOrAfter128Entries) {
  std::vector<test::TrdosFile> files;
  for (int i = 0; i < 128; ++i)
    files.push_back(PatternFile("F" + std::to_string(i), 'C', 1, i));
  BuildTrdosDisk(*disk, files);
  ASSERT_TRUE(ReadTrdosCatalog(*disk, cat));
  EXPECT_EQ(cat.ListedCount, 128);
  EXPECT_EQ(cat.Entries[127].FirstTrack, (16 + 127) / 16);

  // A zero first byte alone does not end the list; eight zero bytes do.
  BuildTrdosDisk(*disk, {PatternFile("A", 'C', 1), PatternFile("B", 'C', 1),
                         PatternFile("C", 'C', 1), PatternFile("D", 'C', 1)});
  std::copy_n("\0AAAAAAA", 8, Catalog(1) + 16);
  std::fill_n(Catalog(1) + 32, 8, 0);
  ASSERT_TRUE(ReadTrdosCatalog(*disk, cat));
  EXPECT_EQ(cat.ListedCount, 2);
  // Read over the 128: nothing of theirs stays past the list.
  EXPECT_TRUE(std::all_of(cat.Entries.begin() + 2, cat.Entries.end(), [](const TTrdosFileEntry& e) {
    return e.Name[0] == 0 && e.FirstTrack == 0;
  }));
  const auto rows = ListTrdosFiles(cat, true);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].cells[0], "?AAAAAAA");
  EXPECT_EQ(ListTrdosFiles(cat, false).size(), 1u);
  EXPECT_EQ(TrdosRowCount(cat, true), 2);
  EXPECT_EQ(TrdosRowCount(cat, false), 1);
}

TEST_F(TrdosVolume, WriteBackRebuildsTheCatalogAndKeepsTheFormattersBytes) {
  BuildTrdosDisk(*disk, {PatternFile("A", 'C', 2), PatternFile("B", 'C', 2)});
  ASSERT_TRUE(ReadTrdosCatalog(*disk, cat));
  Catalog(1)[40] = 0x77;  // stray byte past the listed entries
  Service()[0x10] = 0x55;
  cat.ListedCount = 1;
  cat.FreeSectors = 0x1234;
  std::string error;
  ASSERT_TRUE(WriteTrdosCatalog(*disk, cat, error));
  EXPECT_EQ(Catalog(1)[16], 0);
  EXPECT_EQ(Catalog(1)[40], 0);
  EXPECT_EQ(Service()[0x10], 0x55);
  EXPECT_EQ(Service()[0xE3], 0x16);
  EXPECT_EQ(Service()[0xE5], 0x34);
  EXPECT_EQ(Service()[0xE6], 0x12);

  GetLogicalSector(*disk, 0, 4)->MutableData(128);
  EXPECT_FALSE(WriteTrdosCatalog(*disk, cat, error));
  EXPECT_EQ(error, "Ошибка сектора - (track 0 sector 4)..!");
}

TEST_F(TrdosVolume, RunsCrossTrackBoundariesAndOwnersAreFound) {
  BuildTrdosDisk(*disk, {PatternFile("A", 'C', 15), PatternFile("B", 'X', 3, 7)});
  ASSERT_TRUE(ReadTrdosCatalog(*disk, cat));
  const TTrdosFileEntry& b = cat.Entries[1];
  ASSERT_EQ(b.FirstTrack, 1);
  ASSERT_EQ(b.FirstSector, 15);
  std::vector<uint8_t> out;
  TrdosSectorAddress failed;
  ASSERT_TRUE(ReadTrdosRun(*disk, b.FirstTrack, b.FirstSector, 3, out, failed));
  EXPECT_EQ(out, test::PatternBytes(768, 7));

  EXPECT_EQ(FindSectorOwner(cat, 1, 15), "B       _X");
  EXPECT_EQ(FindSectorOwner(cat, 2, 1), "B       _X");
  EXPECT_EQ(FindSectorOwner(cat, 2, 2), "Free sector!");
  EXPECT_EQ(FindSectorOwner(cat, 0, 0), "");
  EXPECT_EQ(FindSectorOwner(TTrdosCatalog{}, 1, 0), "");

  GetLogicalSector(*disk, 2, 1)->Present = 0;
  EXPECT_FALSE(ReadTrdosRun(*disk, 1, 15, 3, out, failed));
  EXPECT_EQ(failed.track, 2);
  EXPECT_EQ(failed.sec, 1);
}

TEST_F(TrdosVolume, TheLinearIndexFindsWhatTheSlotSearchFinds) {
  // Slots with repeated, missing and foreign sector numbers, some absent or short.
  uint32_t seed = 7;
  auto next = [&] { return (seed = seed * 1103515245 + 12345) >> 16; };
  for (uint8_t t = 0; t < 4; ++t)
    for (int slot = 0; slot < kSlotCount; ++slot) {
      TSectorRec& s = test::AddSector(*disk, t, t, 0, static_cast<uint8_t>(next() % 20), 1,
                                      std::vector<uint8_t>(next() % 2 ? 256 : 100));
      s.Present = next() % 4 ? 0xFF : 0;
    }
  LinearSectorIndex index(*disk);
  for (int linear : {0, 5, 70, 3, 17, 17, 63, 64, 2000, kTrackCount * 16, -1}) {
    const int t = linear / 16, sec = linear % 16 + 1;
    SCOPED_TRACE(linear);
    EXPECT_EQ(index.Logical(linear),
              linear < 0 ? nullptr : GetLogicalSector(std::as_const(*disk), t, sec));
    EXPECT_EQ(index.Usable(linear),
              linear < 0 ? nullptr : UsableSector(std::as_const(*disk), t, sec));
  }
}

TEST(NewTrdosDisk, IsFormattedEmptyAndNamed) {
  auto disk = std::make_unique<TZX_Disk>();
  disk->GetTrack(165).Present = 0xFF;
  disk->GetTrack(3).MutableRaw(100);
  CreateTrdosDisk(*disk, "ABC");
  EXPECT_EQ(disk->CountTracks(), 160);
  EXPECT_FALSE(disk->GetTrack(165).Present);
  EXPECT_EQ(disk->GetTrack(3).RawLength(), 0);
  const TSectorRec& first = disk->GetTrack(0).Sectors[0];
  EXPECT_EQ(first.HeaderCrc, 0xFA0C);
  const TSectorRec& side1 = disk->GetTrack(1).Sectors[0];
  EXPECT_EQ((std::array<int, 4>{side1.Cyl, side1.Head, side1.Sec, side1.SizeCode}),
            (std::array<int, 4>{0, 0, 1, 1}));
  const TSectorRec& last = disk->GetTrack(159).Sectors[15];
  EXPECT_EQ((std::array<int, 4>{last.Cyl, last.Sec, last.DataLength(), last.DataOk}),
            (std::array<int, 4>{79, 16, 256, 0xFF}));
  EXPECT_FALSE(disk->GetTrack(0).Sectors[16].Present);

  const std::vector<uint8_t> want = {0, 1, 0x16, 0, 0xF0, 0x09, 0x10};
  for (size_t i = 0; i < want.size(); ++i)
    EXPECT_EQ(ServiceByte(*disk, 0xE1 + static_cast<int>(i)), want[i]) << i;
  TTrdosCatalog cat;
  ASSERT_TRUE(ReadTrdosCatalog(*disk, cat));
  std::vector<std::string> shown;
  for (const LabelledValue& v : DescribeTrdosDisk(cat))
    shown.push_back(v.value);
  EXPECT_EQ(shown,
            (std::vector<std::string>{"ABC     ", "80-дорожек", "1", "1", "2544", "0", "0"}));
  cat.DiskType = 0x19;
  EXPECT_EQ(DescribeTrdosDisk(cat)[1].value, "40-дорожек");
  cat.DiskType = 0x1A;
  EXPECT_EQ(DescribeTrdosDisk(cat)[1].value, "Не определено");

  CreateTrdosDisk(*disk, "");
  EXPECT_EQ(ServiceByte(*disk, 0xF5), ' ');
  CreateTrdosDisk(*disk, "LONGERNAME");
  EXPECT_EQ(ServiceByte(*disk, 0xFC), 'A');
  EXPECT_EQ(ServiceByte(*disk, 0xFD), 0);

  // Again over an edited new disk: what was written is gone, what the image
  // keeps across an emptying stays.
  GetLogicalSector(*disk, 50, 3)->MutableData()[7] = 0x55;
  GetLogicalSector(*disk, 20, 1)->ClearData();
  disk->KeepRawBytes = true;
  disk->StatusText = "kept";
  CreateTrdosDisk(*disk, "ABC");
  EXPECT_EQ(GetLogicalSector(*disk, 50, 3)->Data()[7], 0);
  EXPECT_EQ(GetLogicalSector(*disk, 20, 1)->DataLength(), 256);
  EXPECT_EQ(ServiceByte(*disk, 0xF5), 'A');
  EXPECT_TRUE(disk->KeepRawBytes);
  EXPECT_EQ(disk->StatusText, "kept");
}

}  // namespace
}  // namespace kelvara
