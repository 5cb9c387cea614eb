// kelvara-cli in process: track-level conversions and the text disk map.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "formats/ImageFiles.h"
#include "formats/Udi.h"
#include "model/ZXDisk.h"
#include "support/CliRun.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::CliRun;
using test::PatternBytes;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// A UDI file of a disk, with one byte of its first track changed.
void WriteChangedUdi(TZX_Disk& disk, const std::string& path, size_t trackByte, uint8_t value) {
  std::vector<uint8_t> f;
  ASSERT_TRUE(BuildUdiBytes(disk, f));
  f[16 + 3 + trackByte] = value;
  const uint32_t crc = CalcCrc32({f.data(), f.size() - 4});
  for (size_t i = 0; i < 4; ++i)
    f[f.size() - 4 + i] = static_cast<uint8_t>(crc >> (8 * i));
  WriteBytes(path, f);
}

TEST(TrackImageConvert, TrdThroughUdiAndHfeKeepsEverySector) {
  TempDir dir;
  const auto trd = PatternBytes(655360, 11);
  WriteBytes(dir / "x.trd", trd);
  for (const char* via : {"x.udi", "x.hfe"}) {
    CliRun r = test::RunCliArgs({"convert", dir / "x.trd", dir / via});
    ASSERT_EQ(r.status, 0) << r.err;
    r = test::RunCliArgs({"convert", dir / via, dir / "y.trd"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir / "y.trd"), trd) << via;
  }
}

TEST(TrackImageConvert, SizeCodeAboveThreeSavesBackWithItsCode) {
  // Size code 5 reads as 256 bytes, as a WD179x takes it, and is written so.
  TempDir dir;
  auto disk = std::make_unique<TZX_Disk>();
  test::FillStandardDisk(*disk, 2);
  WriteChangedUdi(*disk, dir / "odd.udi", 165, 5);  // N of the first ID
  for (const char* out : {"out.udi", "out.hfe"}) {
    const CliRun r = test::RunCliArgs({"convert", dir / "odd.udi", dir / out});
    ASSERT_EQ(r.status, 0) << r.err;
    auto back = std::make_unique<TZX_Disk>();
    ASSERT_TRUE(LoadImageFile(*back, dir / out).ok);
    const TSectorRec& s = back->GetTrack(0).Sectors[0];
    EXPECT_EQ(s.SizeCode, 5) << out;
    EXPECT_TRUE(s.DataOk) << out;
    EXPECT_TRUE(std::equal(s.Data().begin(), s.Data().begin() + 256,
                           disk->GetTrack(0).Sectors[0].Data().begin()))
        << out;
  }
}

TEST(MapCommand, ARowPerPresentTrackWithAMarkPerSector) {
  TempDir dir;
  auto disk = std::make_unique<TZX_Disk>();
  test::AddSector(*disk, 0, 0, 0, 1, 1, PatternBytes(256, 1));
  test::AddSector(*disk, 0, 0, 0, 2, 1, PatternBytes(256, 2), false);
  test::AddSector(*disk, 0, 0, 0, 3, 1, PatternBytes(256, 3));
  test::AddSector(*disk, 2, 1, 0, 1, 1, PatternBytes(256, 4));
  // The third sector loses its data mark: its ID stays, without data.
  WriteChangedUdi(*disk, dir / "m.udi", 205 + 2 * 372, 0x4E);

  const CliRun r = test::RunCliArgs({"map", dir / "m.udi"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Whole cylinders are written: tracks 1 and 3 are unformatted fillers, absent.
  EXPECT_NE(r.out.find("\nT000 R +x-\nT002 R +\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("T003"), std::string::npos);
  // info counts the states the map shows: the CRC error is bad, not "no data".
  const CliRun info = test::RunCliArgs({"info", dir / "m.udi"});
  EXPECT_NE(info.out.find("Good:      2\nBad:       1\nNo data:   1\n"), std::string::npos)
      << info.out;

  WriteBytes(dir / "a.trd", PatternBytes(4096, 1));
  EXPECT_NE(test::RunCliArgs({"map", dir / "a.trd"}).out.find("\nT000   ++++++++++++++++\n"),
            std::string::npos);
  EXPECT_EQ(test::RunCliArgs({"map", dir / "missing.udi"}).status, 1);
  EXPECT_EQ(test::RunCliArgs({"map"}).status, 1);
}

}  // namespace
}  // namespace kelvara
