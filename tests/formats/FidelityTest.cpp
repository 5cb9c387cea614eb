// Conversions between formats through the dispatch, as kelvara-cli convert
// makes them: every byte a format can carry comes back, and a save that
// cannot carry it is refused rather than cut.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "formats/ImageFiles.h"
#include "model/FileIO.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::PatternBytes;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

class FidelityTest : public ::testing::Test {
 protected:
  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
  TempDir dir;

  void Load(const std::string& name) {
    const LoadResult r = LoadImageFile(*disk, dir / name, ImageTypes::WithProject);
    ASSERT_TRUE(r.ok) << name << ": " << r.errorText;
  }
  void Save(const std::string& name, bool restoreTrack = true) {
    SaveOptions options;
    options.restoreTrack = restoreTrack;
    const SaveResult r = SaveImageFile(*disk, dir / name, options, ImageTypes::WithProject);
    ASSERT_TRUE(r.ok) << name << ": " << r.errorText << " " << r.logLine;
  }
  // Loads `from` and saves it as `to`.
  void Convert(const std::string& from, const std::string& to, bool restoreTrack = true) {
    Load(from);
    Save(to, restoreTrack);
  }
};

TEST_F(FidelityTest, MarkBytesInsideSectorDataSurviveEveryTrackFormat) {
  // Every sector holds the bytes of an ID mark and a data mark, as a disk
  // holding a copy of a disk tool does.
  auto file = PatternBytes(160 * 4096, 17);
  for (size_t at = 0; at < file.size(); at += 256) {
    const uint8_t marks[] = {0xA1, 0xA1, 0xFE, 1, 0, 1, 1, 0xA1, 0xA1, 0xFB};
    std::copy(std::begin(marks), std::end(marks), file.begin() + at + 40 + (at / 256) % 150);
  }
  WriteBytes(dir / "a.trd", file);
  Convert("a.trd", "b.udi");
  Convert("b.udi", "c.udi", false);  // laid out over its own raw bytes
  Convert("c.udi", "d.udi", true);
  Convert("d.udi", "e.hfe");
  Convert("e.hfe", "f.trd");
  EXPECT_EQ(ReadBytes(dir / "f.trd"), file);
}

TEST_F(FidelityTest, FullEightyFourCylinderDiskGoesThroughFdi) {
  const auto file = PatternBytes(168 * 4096, 3);
  WriteBytes(dir / "a.trd", file);
  Convert("a.trd", "b.fdi");
  Convert("b.fdi", "c.trd");
  EXPECT_EQ(ReadBytes(dir / "c.trd"), file);
}

TEST_F(FidelityTest, OddLengthTrdKeepsEveryByteThroughUdi) {
  for (size_t length : {70400u, 70400u + 100u}) {
    const auto file = PatternBytes(length, 4);
    WriteBytes(dir / "a.trd", file);
    Convert("a.trd", "b.udi");
    Convert("b.udi", "c.trd");
    auto back = ReadBytes(dir / "c.trd");
    ASSERT_EQ(back.size(), (length + 255) / 256 * 256) << "whole sectors only";
    back.resize(length);
    EXPECT_EQ(back, file) << length;
  }
}

TEST_F(FidelityTest, SectorDumpsRefuseSectorsOfAnotherSize) {
  WriteBytes(dir / "a.trd", PatternBytes(160 * 4096, 5));
  Load("a.trd");
  const SaveResult r = SaveImageFile(*disk, dir / "b.kdi", {});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(
      r.errorText,
      "Track 0.0 holds 16 sector(s) of 256 bytes (numbers 1-16); a KDI file needs sectors 1-5 "
      "of 1024 bytes there!");
  EXPECT_FALSE(FileExists(dir / "b.kdi"));
}

// An absent track stays absent through every format that can tell, and
// never brings its kept sectors back; the dumps refuse to leave one out.
TEST_F(FidelityTest, AbsentTracksStayAbsent) {
  for (const char* ext : {"udi", "fdi", "hfe", "td0", "udf"}) {
    test::FillStandardDisk(*disk, 12, 2);
    disk->GetTrack(4).Present = 0;  // "Убрать дорожку": the slots stay
    disk->GetTrack(11).Present = 0;
    const std::string name = std::string("x.") + ext;
    Save(name);
    Load(name);
    for (int t = 0; t < 12; ++t) {
      EXPECT_EQ(disk->GetTrack(static_cast<uint8_t>(t)).Present != 0, t != 4 && t != 11)
          << ext << " track " << t;
    }
    EXPECT_EQ(disk->CountTracks(), 10) << ext;
  }
  test::FillStandardDisk(*disk, 12, 2);
  disk->GetTrack(4).Present = 0;
  const SaveResult r = SaveImageFile(*disk, dir / "x.trd", {});
  EXPECT_EQ(r.errorText, "Track 2.0 is absent: a TRD file cannot leave out a track!");
}

TEST_F(FidelityTest, SingleSidedImageKeepsItsOddTracksAbsentThroughHfe) {
  disk->ClearImage();
  for (int t = 0; t < 20; t += 2) {
    for (int r = 1; r <= 9; ++r) {
      test::AddSector(*disk, static_cast<uint8_t>(t), static_cast<uint8_t>(t / 2), 0,
                      static_cast<uint8_t>(r), 2, PatternBytes(512, t * 10 + r));
    }
  }
  Save("s.hfe");
  Load("s.hfe");
  EXPECT_EQ(disk->CountTracks(), 10);
  EXPECT_FALSE(disk->GetTrack(1).Present);
  EXPECT_EQ(disk->GetTrack(18).CountSectors(), 9);
}

// A size code above 3 names a sector of the code's low two bits, as a
// WD179x reads it: track images load it, save it back and keep the code.
TEST_F(FidelityTest, SizeCodesAboveThreeSaveBackThroughTrackFormats) {
  disk->ClearImage();
  test::AddSector(*disk, 0, 0, 0, 1, 1, PatternBytes(256, 1));
  test::AddSector(*disk, 0, 0, 0, 2, 5, PatternBytes(256, 2));  // 5 & 3 = 1: 256 bytes
  test::AddSector(*disk, 0, 0, 0, 3, 1, PatternBytes(256, 3));
  for (const char* ext : {"udi", "hfe", "fdi"}) {
    const std::string name = std::string("n.") + ext;
    SCOPED_TRACE(name);
    Save(name);
    Load(name);
    for (int i = 0; i < 3; ++i) {
      const TSectorRec& s = disk->GetTrack(0).Sectors[i];
      EXPECT_EQ(s.Sec, i + 1);
      EXPECT_EQ(s.SizeCode, i == 1 ? 5 : 1);
      EXPECT_TRUE(s.DataOk);
      const auto data = PatternBytes(256, i + 1);
      EXPECT_TRUE(std::equal(data.begin(), data.end(), s.Data().begin()));
    }
    Save(name);  // and back again from what was loaded
  }
}

TEST_F(FidelityTest, FdiStoresAsManyBytesAsTheIdAnnounces) {
  disk->ClearImage();
  test::AddSector(*disk, 0, 0, 0, 1, 4, PatternBytes(300, 1));
  Save("a.fdi");
  const auto f = ReadBytes(dir / "a.fdi");
  const size_t dataArea = f[10] | f[11] << 8;
  EXPECT_EQ(f.size() - dataArea, 2048u);
  disk->GetTrack(0).Sectors[0].SizeCode = 8;
  const SaveResult r = SaveImageFile(*disk, dir / "a.fdi", {});
  EXPECT_EQ(r.errorText, "Track 0.0, sector 1: size code 8 does not fit an FDI track!");
}

}  // namespace
}  // namespace kelvara
