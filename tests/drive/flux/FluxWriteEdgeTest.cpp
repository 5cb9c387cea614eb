// The edges of a flux write with verify, run as a user runs it: kelvara-cli
// writing to the simulated device and reading its disk back.
#include <gtest/gtest.h>

#include "formats/ImageFiles.h"
#include "support/CliRun.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::RunCliArgs;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A bad sector is written as it is: the read-back expects its ID, not good
// data, and the track goes once; read again, the sector is bad.
TEST(FluxWriteEdge, SectorsTheImageHoldsBadAreExpectedBackBad) {
  test::TempDir dir;
  TZX_Disk source;
  test::FillStandardDisk(source, 4);
  source.GetTrack(1).Sectors[4].DataOk = 0;
  ASSERT_TRUE(SaveImageFile(source, dir / "src.udi", {}).ok);
  const test::CliRun w = RunCliArgs(
      {"write", dir / "src.udi", "--flux-sim", dir / "disk.udi", "--last", "3", "--retries", "2"});
  ASSERT_EQ(w.status, 0) << w.out << w.err;
  EXPECT_FALSE(Has(w.out, "Флюкс: запись 2")) << w.out;
  TZX_Disk back;
  ASSERT_TRUE(LoadImageFile(back, dir / "disk.udi").ok);
  const TSectorRec& s = back.GetTrack(1).Sectors[4];
  EXPECT_EQ(s.Sec, 5);
  EXPECT_NE(SectorDataState(s), DataState::Good);
  EXPECT_EQ(SectorDataState(back.GetTrack(1).Sectors[5]), DataState::Good);
}

// A sector no write can mend: two write passes allowed, and a third is never
// made.
TEST(FluxWriteEdge, AWriteThatNeverVerifiesStopsAfterItsLastPass) {
  test::TempDir dir;
  TZX_Disk source;
  test::FillStandardDisk(source, 4);
  ASSERT_TRUE(SaveImageFile(source, dir / "src.trd", {}).ok);
  ASSERT_TRUE(SaveImageFile(source, dir / "disk.trd", {}).ok);
  const test::CliRun w = RunCliArgs({"write", dir / "src.trd", "--flux-sim", dir / "disk.trd",
                                     "--flux-media", "dropout=2:7", "--write-passes", "2"});
  EXPECT_EQ(w.status, 2) << w.out << w.err;
  EXPECT_TRUE(Has(w.out, "Флюкс: запись 2")) << w.out;
  EXPECT_FALSE(Has(w.out, "Флюкс: запись 3")) << w.out;
}

}  // namespace
}  // namespace kelvara
