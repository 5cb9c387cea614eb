#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <tuple>

#include "cli/Cli.h"
#include "formats/ImageFiles.h"
#include "formats/Project.h"
#include "model/ZXDisk.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::PatternBytes;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

constexpr size_t kEmptyProjectSize = 3796;

// Every field the project file carries, slot by slot and track by track.
void ExpectSameImage(const TZX_Disk& e, const TZX_Disk& a) {
  EXPECT_EQ(e.HeaderText, a.HeaderText);
  EXPECT_EQ(e.PresentTracks(), a.TrackCount);
  EXPECT_EQ(e.UseBaseTemplate, a.UseBaseTemplate);
  EXPECT_EQ(e.BaseTrack, a.BaseTrack);
  EXPECT_EQ(e.KeepRawBytes, a.KeepRawBytes);
  EXPECT_EQ(e.Comment, a.Comment);
  for (int t = 0; t < kTrackCount; ++t) {
    const TTrack& et = e.GetTrack(static_cast<uint8_t>(t));
    const TTrack& at = a.GetTrack(static_cast<uint8_t>(t));
    ASSERT_EQ(et.Present != 0, at.Present != 0) << "track " << t;
    if (et.Present) {
      EXPECT_EQ(et.SectorCount, at.SectorCount) << "track " << t;
      EXPECT_EQ(et.RawValid != 0, at.RawValid != 0) << "track " << t;
      EXPECT_EQ(et.RawLength(), at.RawLength()) << "track " << t;
      EXPECT_TRUE(std::equal(et.RawData().begin(), et.RawData().begin() + et.RawLength(),
                             at.RawData().begin()))
          << "track " << t;
      EXPECT_EQ(et.Log, at.Log) << "track " << t;
    }
    for (int i = 0; i < kSlotCount; ++i) {
      const TSectorRec& es = et.Sectors[i];
      const TSectorRec& as = at.Sectors[i];
      ASSERT_EQ(es.Present != 0, as.Present != 0) << "track " << t << " slot " << i;
      if (!es.Present) continue;
      EXPECT_EQ(std::make_tuple(es.Cyl, es.Head, es.Sec, es.SizeCode, es.HeaderCrc, es.ErrorCount,
                                es.DataOffset, es.DataLength()),
                std::make_tuple(as.Cyl, as.Head, as.Sec, as.SizeCode, as.HeaderCrc, as.ErrorCount,
                                as.DataOffset, as.DataLength()))
          << "track " << t << " slot " << i;
      EXPECT_EQ(es.DataOk != 0, as.DataOk != 0) << "track " << t << " slot " << i;
      EXPECT_TRUE(std::ranges::equal(es.Data(), as.Data())) << "track " << t << " slot " << i;
    }
  }
}

// An image using every field: odd IDs, bad sectors, raw tracks, logs, an
// absent track that still has sectors, a partly filled slot.
void FillRichImage(TZX_Disk& disk) {
  test::FillStandardDisk(disk, 6);
  disk.HeaderText = "Проект: demo disk";
  disk.UseBaseTemplate = true;
  disk.BaseTrack = 2;
  disk.KeepRawBytes = true;
  disk.Comment = {"Первая строка", "", "third line"};
  TTrack& t1 = disk.GetTrack(1);
  t1.SetRaw(PatternBytes(6256, 7));
  t1.RawValid = 1;
  t1.Log = {"Чтение дорожки 1", "CRC error, sector 3"};
  TSectorRec& s = t1.Sectors[2];
  s.Cyl = 200;
  s.Head = 3;
  s.SizeCode = 6;
  s.HeaderCrc = 0x1234;
  s.ErrorCount = 9;
  s.DataOk = 0;
  s.DataOffset = 4321;
  s.SetData(PatternBytes(1100, 3));
  disk.GetTrack(3).Sectors[0].SetData(PatternBytes(17, 1));
  disk.GetTrack(4).SetRaw(PatternBytes(kRawTrackCapacity, 2));
  disk.GetTrack(4).SectorCount = 7;  // stored as it is, not recounted
  disk.GetTrack(5).Present = 0;      // removed: its slots stay
  test::AddSector(disk, 100, 50, 0, 1, 0, PatternBytes(128, 1));
  disk.GetTrack(100).Present = 0;
}

class ProjectTest : public ::testing::Test {
 protected:
  std::vector<uint8_t> Build(TZX_Disk& d) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(BuildProjectBytes(d, out));
    return out;
  }
  std::unique_ptr<TZX_Disk> original = std::make_unique<TZX_Disk>();
  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
};

TEST_F(ProjectTest, SaveAndLoadGiveBackEveryField) {
  FillRichImage(*original);
  TempDir dir;
  ASSERT_TRUE(SaveProject(*original, dir / "a.udf"));
  ASSERT_TRUE(LoadProject(*disk, dir / "a.udf"));
  EXPECT_EQ(disk->TrackCount, 5) << "the file carries the present tracks, counted afresh";
  ExpectSameImage(*original, *disk);
  EXPECT_EQ(disk->GetTrack(5).Sectors[3].Sec, 4) << "slots of an absent track survive";

  // The file does not depend on the image it was loaded into.
  EXPECT_EQ(Build(*disk), ReadBytes(dir / "a.udf"));
}

TEST_F(ProjectTest, EmptyImageLayout) {
  const auto out = Build(*disk);
  ASSERT_EQ(out.size(), kEmptyProjectSize);
  EXPECT_EQ(std::count(out.begin(), out.begin() + 256, 0), 256);
  EXPECT_EQ(out[256], 0);     // track count
  EXPECT_EQ(out[257], 0xFF);  // UseBaseTemplate: no
  EXPECT_EQ(out[258], 255);   // no base track
  EXPECT_EQ(out[259], 0xFF);  // KeepRawBytes: no
  EXPECT_EQ(std::count(out.begin() + 260, out.begin() + 260 + 168 * 21, 0xFF), 168 * 21);
  const std::vector<uint8_t> before(out.begin(), out.end() - 4);
  const uint32_t crc = out[3792] | out[3793] << 8 | out[3794] << 16 | uint32_t{out[3795]} << 24;
  EXPECT_EQ(crc, CalcCrc32(before));
  EXPECT_EQ(std::count(out.end() - 8, out.end() - 4, 0), 4);  // no comment
}

TEST_F(ProjectTest, HeaderTextFillsTheFieldWithOneZeroAfterIt) {
  disk->HeaderText = std::string(255, 'x');
  auto out = Build(*disk);
  EXPECT_EQ(std::count(out.begin(), out.begin() + 255, 'x'), 255);
  EXPECT_EQ(out[255], 0);
  disk->HeaderText = std::string(300, 'y');
  out = Build(*disk);
  EXPECT_EQ(out[254], 'y');
  EXPECT_EQ(out[255], 0) << "cut to 255 characters";
  ASSERT_TRUE(ReadProjectBytes(*disk, out));
  EXPECT_EQ(disk->HeaderText, std::string(255, 'y'));
}

TEST_F(ProjectTest, CrcMismatchLoadsEverythingAndReturnsFalse) {
  FillRichImage(*original);
  auto out = Build(*original);
  out.back() ^= 1;
  EXPECT_FALSE(ReadProjectBytes(*disk, out));
  EXPECT_EQ(disk->StatusText, "Project file CRC error!");
  ExpectSameImage(*original, *disk);
}

TEST_F(ProjectTest, ReaderTakesOnlyOneAsYesAndKeepsCountsInsideTheModel) {
  // Track 0: a 10-byte track body, 16 slots of 268 bytes, 4 empty ones; then track 1.
  test::FillStandardDisk(*original, 1);
  original->GetTrack(0).RawValid = 1;
  original->UseBaseTemplate = original->KeepRawBytes = true;
  original->Comment = {"end"};
  auto out = Build(*original);
  out[256] = 250;                  // track count
  out[257] = 2;                    // UseBaseTemplate
  out[259] = 0;                    // KeepRawBytes
  out[261] = 77;                   // track number of track 0
  out[262] = 200;                  // sector count of track 0
  out[263] = 2;                    // RawValid of track 0
  out[270 + 8] = 2;                // DataOk of slot 0
  out[270 + 16 * 268] = 2;         // slot 16 present flag
  out[270 + 16 * 268 + 4] = 0x80;  // track 1 present flag
  EXPECT_FALSE(ReadProjectBytes(*disk, out));
  EXPECT_EQ(disk->StatusText, "Project file CRC error!") << "every record still lines up";
  EXPECT_EQ(disk->Comment, original->Comment);
  EXPECT_FALSE(disk->UseBaseTemplate);
  EXPECT_FALSE(disk->KeepRawBytes);
  const TTrack& t0 = disk->GetTrack(0);
  EXPECT_EQ(t0.RawValid, 0);
  EXPECT_EQ(t0.Sectors[0].DataOk, 0);
  EXPECT_EQ(t0.Sectors[1].DataOk, 0xFF);
  EXPECT_FALSE(t0.Sectors[16].Present);
  EXPECT_FALSE(disk->GetTrack(1).Present);
  EXPECT_EQ(disk->TrackCount, 168);
  EXPECT_EQ(t0.TrackNo, 0) << "a track keeps its index";
  EXPECT_EQ(t0.SectorCount, 20);
}

TEST_F(ProjectTest, ShortFilesAndOversizedLengthsLeaveAnEmptyImage) {
  FillRichImage(*original);
  const auto out = Build(*original);
  const auto expectRefused = [&](std::vector<uint8_t> file, const std::string& text) {
    test::FillStandardDisk(*disk, 3);
    disk->KeepRawBytes = false;
    EXPECT_FALSE(ReadProjectBytes(*disk, file));
    EXPECT_EQ(disk->StatusText, text);
    EXPECT_EQ(disk->CountTracks(), 0);
    EXPECT_TRUE(disk->Comment.empty());
    EXPECT_FALSE(disk->KeepRawBytes) << "left as it was before the load";
  };
  expectRefused({}, "Project file ends inside its header!");
  expectRefused({out.begin(), out.begin() + 300}, "Project file ends inside track 0!");
  expectRefused({out.begin(), out.end() - 40}, "Project file ends inside track 167!");
  expectRefused({out.begin(), out.end() - 10}, "Project file ends inside its comment!");
  expectRefused({out.begin(), out.end() - 2}, "Project file ends before its CRC!");

  // Track 0's raw length, then slot 0's data length, beyond the model.
  auto file = out;
  file[260 + 4] = 0xB3;
  file[260 + 5] = 0x36;  // 14003
  expectRefused(file, "Project file: track 0 has 14003 raw bytes, at most 14002!");
  file = out;
  const size_t slot0 = 260 + 1 + 5 + 4;
  file[slot0 + 11] = 0x4D;
  file[slot0 + 12] = 0x04;  // 1101
  expectRefused(file, "Project file: track 0 slot 0 has 1101 data bytes, at most 1100!");
}

TEST_F(ProjectTest, TextBlocksSplitAtEveryKindOfLineBreak) {
  test::FillStandardDisk(*original, 1);
  auto out = Build(*original);
  const std::string log = "a\rb\nc\r\n\r\nd";
  const size_t logSize = 260 + 1 + 5;
  out[logSize] = static_cast<uint8_t>(log.size());
  out.insert(out.begin() + logSize + 4, log.begin(), log.end());
  ReadProjectBytes(*disk, out);
  EXPECT_EQ(disk->GetTrack(0).Log, (std::vector<std::string>{"a", "b", "c", "", "d"}));

  out = Build(*original);
  out[logSize + 3] = 0x80;  // a negative size is no log
  ReadProjectBytes(*disk, out);
  EXPECT_TRUE(disk->GetTrack(0).Log.empty());
  EXPECT_EQ(disk->GetTrack(0).Sectors[0].Sec, 1);
}

TEST_F(ProjectTest, OnlyKelvaraCliTakesTheProjectFileByExtension) {
  TempDir dir;
  FillRichImage(*original);
  ASSERT_TRUE(SaveProject(*original, dir / "p.udf"));
  EXPECT_FALSE(LoadImageFile(*disk, dir / "p.udf").ok);
  EXPECT_EQ(FindImageFormat("UDF"), nullptr);
  ASSERT_TRUE(LoadImageFile(*disk, dir / "p.udf", ImageTypes::WithProject).ok);
  ExpectSameImage(*original, *disk);
  EXPECT_FALSE(LoadProject(*disk, dir / "none.udf"));
  EXPECT_EQ(disk->CountTracks(), 5) << "a missing file leaves the image";

  // kelvara-cli converts to the project file and back.
  WriteBytes(dir / "a.trd", PatternBytes(16 * 4096, 5));
  std::ostringstream stdoutText, stderrText;
  for (const auto& [in, out] : {std::pair{"a.trd", "a.udf"}, std::pair{"a.udf", "b.trd"}}) {
    const std::string from = dir / in, to = dir / out;
    const char* argv[] = {"kelvara-cli", "convert", from.c_str(), to.c_str()};
    EXPECT_EQ(cli::RunCli(4, argv, stdoutText, stderrText), 0) << stderrText.str();
  }
  EXPECT_EQ(ReadBytes(dir / "b.trd"), PatternBytes(16 * 4096, 5));
}

}  // namespace
}  // namespace kelvara
