#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <numeric>

#include "filesystems/SclArchive.h"
#include "filesystems/Trdos.h"
#include "formats/ImageFiles.h"
#include "formats/Scl.h"
#include "model/ZXDisk.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"
#include "support/TrdosBuilder.h"

namespace kelvara {
namespace {

using test::PatternFile;
using test::SclBytes;
using test::TrdosFile;

class SclTest : public ::testing::Test {
 protected:
  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
  test::TempDir dir;

  TTrdosCatalog Catalog() {
    TTrdosCatalog cat;
    EXPECT_TRUE(ReadTrdosCatalog(*disk, cat));
    return cat;
  }
  std::vector<TrdosFile> Files(int count, int sectors) {
    std::vector<TrdosFile> files;
    for (int i = 0; i < count; ++i)
      files.push_back(PatternFile("F" + std::to_string(i), 'C', sectors, i));
    return files;
  }
};

TEST(SclSum, IsTheByteSumAtEveryLengthAndAlignment) {
  // All 0xFF: every lane of the block-wise sum at its largest, and the bytes
  // after the last whole block.
  const std::vector<uint8_t> ones(3000, 0xFF);
  for (size_t from : {0, 1, 7})
    for (size_t n : {0, 1, 7, 8, 9, 15, 16, 17, 1023, 1024, 1025, 2040, 2999 - 7}) {
      const std::span<const uint8_t> part(ones.data() + from, n);
      EXPECT_EQ(SclSum(part), std::accumulate(part.begin(), part.end(), 0u)) << from << " " << n;
    }
}

TEST_F(SclTest, LoadingUnpacksOntoANewDisk) {
  ASSERT_TRUE(ReadSclBytes(*disk, SclBytes({})));
  TTrdosCatalog cat = Catalog();
  EXPECT_EQ(cat.ListedCount, 0);
  EXPECT_EQ(cat.FreeSectors, 2544);
  EXPECT_EQ(TrdosNameText(cat.DiskName), "NEW DISK");

  const std::vector<TrdosFile> files = {PatternFile("GAME", 'B', 15, 1),
                                        PatternFile("CODE", 'C', 3, 2)};
  ASSERT_TRUE(ReadSclBytes(*disk, SclBytes(files)));
  cat = Catalog();
  EXPECT_EQ(cat.FileCount, 2);
  EXPECT_EQ(cat.DeletedCount, 0);
  EXPECT_EQ(cat.Entries[1].FirstTrack, 1);
  EXPECT_EQ(cat.Entries[1].FirstSector, 15);
  EXPECT_EQ(test::RunBytes(*disk, 1, 15, 3), files[1].data);
  EXPECT_EQ(cat.FirstFreeTrack * 16 + cat.FirstFreeSector, 16 + 18);
  EXPECT_EQ(cat.FreeSectors, 2560 - 34);

  ASSERT_TRUE(ReadSclBytes(*disk, SclBytes(Files(128, 1))));
  EXPECT_EQ(Catalog().ListedCount, 128);
}

TEST_F(SclTest, LoadingRefusesBadArchivesWithTheirMessages) {
  auto refused = [&](const std::vector<uint8_t>& file) {
    EXPECT_FALSE(ReadSclBytes(*disk, file));
    return disk->StatusText;
  };
  std::vector<uint8_t> file = SclBytes(Files(1, 1));
  file[30] ^= 1;
  EXPECT_EQ(refused(file), "Ошибка в контрольной сумме файла!");
  EXPECT_EQ(refused({1, 2}), "Ошибка в контрольной сумме файла!");
  file = SclBytes(Files(1, 1));
  file[7] = 'r';
  test::ResealScl(file);
  EXPECT_EQ(refused(file), "Неверный дескриптор файла!");
  EXPECT_EQ(refused(SclBytes(Files(1, 1), 50)), "Ошибка в длинне файла!");
  std::vector<TrdosFile> many = Files(129, 0);
  EXPECT_EQ(refused(SclBytes(many)), "Количество файлов превышает максимально возможное!");

  file = SclBytes({PatternFile("LOST", 'X', 2)});
  file[9 + 13] = 3;
  test::ResealScl(file);
  EXPECT_EQ(refused(file), "Ошибочный размер файла LOST    .X");

  // 2544 sectors fill the disk exactly; 2545: the last file no longer fits,
  // the ones before it are on the disk, the service sector still shows an
  // empty one.
  std::vector<TrdosFile> full = Files(9, 255);
  full.push_back(PatternFile("LAST", 'C', 249));
  ASSERT_TRUE(ReadSclBytes(*disk, SclBytes(full)));
  EXPECT_EQ(Catalog().FileCount, 10);
  EXPECT_EQ(Catalog().FreeSectors, 0);
  full.back() = PatternFile("LAST", 'C', 250);
  EXPECT_EQ(refused(SclBytes(full)), "Нет места на образе диска!");
  TTrdosCatalog cat = Catalog();
  EXPECT_EQ(cat.FileCount, 0);
  EXPECT_EQ(test::RunBytes(*disk, 1, 0, 1),
            std::vector<uint8_t>(full[0].data.begin(), full[0].data.begin() + 256));
}

TEST_F(SclTest, SavingPacksEveryLiveFileAndRoundTrips) {
  std::vector<TrdosFile> files = {PatternFile("ONE", 'C', 2, 1), PatternFile("TWO", 'B', 17, 2),
                                  PatternFile("THREE", 'C', 1, 3)};
  files[1].deleted = true;
  test::BuildTrdosDisk(*disk, files);
  std::vector<uint8_t> out;
  ASSERT_TRUE(BuildSclBytes(*disk, out));
  EXPECT_EQ(out, SclBytes({files[0], files[2]}));

  // The counts of the service sector do not decide N: the headers written do.
  GetLogicalSector(*disk, 0, 9)->MutableData()[0xF4] = 0;
  ASSERT_TRUE(BuildSclBytes(*disk, out));
  EXPECT_EQ(out[8], 2);

  auto copy = std::make_unique<TZX_Disk>();
  ASSERT_TRUE(ReadSclBytes(*copy, out));
  std::vector<uint8_t> again;
  ASSERT_TRUE(BuildSclBytes(*copy, again));
  EXPECT_EQ(again, out);
  EXPECT_EQ(test::RunBytes(*copy, 1, 2, 1), files[2].data);
}

TEST_F(SclTest, SavingRefusesWhatItCannotPack) {
  std::vector<uint8_t> out;
  EXPECT_EQ(BuildSclBytes(*disk, out).text, "Формат образа отличается от диска TRDOS");

  // A disk of no live files is an archive of none, which loads as an empty disk.
  TrdosFile gone = PatternFile("GONE", 'C', 1);
  gone.deleted = true;
  test::BuildTrdosDisk(*disk, {gone, gone});
  ASSERT_TRUE(BuildSclBytes(*disk, out));
  EXPECT_EQ(out, SclBytes({}));
  ASSERT_TRUE(ReadSclBytes(*disk, out)) << disk->StatusText;
  TTrdosCatalog cat;
  ASSERT_TRUE(ReadTrdosCatalog(*disk, cat));
  EXPECT_EQ(cat.FileCount, 0);

  test::BuildTrdosDisk(*disk, {PatternFile("A", 'C', 3)});
  GetLogicalSector(*disk, 1, 2)->Present = 0;
  test::WriteBytes(dir / "old.scl", {7, 7});
  EXPECT_EQ(SaveSCL(*disk, dir / "old.scl").text, "Ошибка сектора - (track 1 sector 2) !");
  EXPECT_EQ(test::ReadBytes(dir / "old.scl"), (std::vector<uint8_t>{7, 7}));
}

TEST_F(SclTest, TheDispatchLoadsAndSavesByExtension) {
  const auto file = SclBytes(Files(3, 4));
  test::WriteBytes(dir / "a.Scl", file);
  const LoadResult r = LoadImageFile(*disk, dir / "a.Scl");
  ASSERT_TRUE(r.ok) << r.errorText;
  EXPECT_EQ(r.statusPanel1, "Disk Image - " + dir / "a.Scl" + " (Дорожек - 160)");
  ASSERT_TRUE(SaveImageFile(*disk, dir / "b.scl", {}).ok);
  EXPECT_EQ(test::ReadBytes(dir / "b.scl"), file);
  EXPECT_FALSE(LoadSCL(*disk, dir / "missing.scl"));
  EXPECT_TRUE(disk->StatusText.empty());
}

TEST_F(SclTest, TheSampleArchiveRoundTrips) {
  const std::string sample = std::string(KELVARA_TESTDATA_DIR) + "/eyeache2.scl";
  if (!std::filesystem::exists(sample)) GTEST_SKIP() << "no sample images";
  ASSERT_TRUE(LoadSCL(*disk, sample));
  ASSERT_TRUE(SaveSCL(*disk, dir / "copy.scl"));
  EXPECT_EQ(test::ReadBytes(dir / "copy.scl"), test::ReadBytes(sample));
}

}  // namespace
}  // namespace kelvara
