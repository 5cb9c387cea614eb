// The fast read against the virtual drive: its plan of READ DATA calls, the
// timed scan, and whole runs that read what the per-sector reads read in
// two revolutions a track.
#include <gtest/gtest.h>

#include <cstring>

#include "drive/DriveRig.h"
#include "drive/FastRead.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::AddSector;
using test::DriveRig;
using test::FillStandardDisk;
using test::PatternBytes;

const std::vector<int> kInterleaved = {1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 8, 16};

std::vector<FD_ID_HEADER> Ids(const std::vector<int>& rs, uint8_t n = 1) {
  std::vector<FD_ID_HEADER> ids;
  for (int r : rs)
    ids.push_back({0, 0, static_cast<uint8_t>(r), n});
  return ids;
}

TEST(FastReadRuns, StretchesOfRisingNumbersFromTheSectorUnderTheHead) {
  using Runs = std::vector<std::pair<size_t, size_t>>;
  std::vector<int> sequential(16);
  for (int i = 0; i < 16; ++i)
    sequential[i] = i + 1;
  Runs oneEach;
  for (size_t k = 0; k < 16; ++k)
    oneEach.push_back({(3 + k) % 16, 1});
  std::vector<FD_ID_HEADER> mixedSizes = Ids({1, 2, 3});
  mixedSizes[1].size = 2;
  struct Case {
    const char* name;
    std::vector<FD_ID_HEADER> ids;
    size_t next;
    Runs runs;
  };
  const Case cases[] = {
      {"sequential from the index", Ids(sequential), 0, {{0, 16}}},
      {"sequential from mid-track", Ids(sequential), 6, {{6, 10}, {0, 6}}},
      {"interleaved", Ids(kInterleaved), 3, oneEach},
      {"a stretch across the index", Ids({3, 4, 1, 2}), 2, {{2, 4}}},
      {"another size splits", mixedSizes, 0, {{0, 1}, {1, 1}, {2, 1}}},
      {"end-of-track number past 255", Ids({253, 254, 255}), 0, {{0, 2}, {2, 1}}},
      {"an ID twice", Ids({1, 2, 3, 2}), 0, {}},
      {"sectors beyond a slot", Ids({1, 2}, 4), 0, {}},
  };
  for (const Case& c : cases) {
    Runs got;
    for (const SectorRun& r : FastReadRuns(c.ids, c.next))
      got.push_back({r.first, r.count});
    EXPECT_EQ(got, c.runs) << c.name;
  }
}

// Started anywhere, the timed scan takes one turn and lists the IDs from the
// index; the one it names next is read without waiting for another turn.
TEST(FastRead, TimedScanStartsUnderTheHeadAndLastsATurn) {
  VirtualFloppy drive;
  drive.Open(FloppyDevice::Control);
  const DeviceHandle handle = drive.Open(FloppyDevice::Drive0);
  FillStandardDisk(drive.InsertDisk(), 2);
  std::vector<uint8_t> io(kIoBufferSize);
  DriveChannel channel(drive, handle, io);
  uint32_t bytes = 0;
  ASSERT_TRUE(channel.Read(SectorParams(0, 0, 0, 5, 1, 0x0E), io, bytes));

  double before = drive.Revolutions();
  ASSERT_TRUE(channel.TimedScan(0, bytes));
  EXPECT_GT(drive.Revolutions() - before, 0.999);
  EXPECT_LT(drive.Revolutions() - before, 1.1);
  ASSERT_EQ(bytes, kTimedScanHead + 8 * 16);
  FD_TIMED_SCAN_RESULT result{};
  std::memcpy(&result, io.data(), bytes);
  EXPECT_EQ(result.count, 16);
  EXPECT_EQ(result.next, 5);  // sector 6: sector 5 was under the head
  // The record is packed: its fields are copied out before gtest takes a
  // reference to them.
  const uint32_t tracktime = result.tracktime, first = result.Header[0].reltime;
  EXPECT_EQ(tracktime, 200000u);
  EXPECT_EQ(first, (80 + 12 + 4 + 50) * 32u);
  for (int k = 0; k < 16; ++k) {
    const int sector = result.Header[k].sector;
    EXPECT_EQ(sector, k + 1);
    if (k > 0) {
      const uint32_t now = result.Header[k].reltime, previous = result.Header[k - 1].reltime;
      EXPECT_GT(now, previous);
    }
  }
  before = drive.Revolutions();
  ASSERT_TRUE(channel.Read(SectorParams(0, 0, 0, 6, 1, 0x0E), io, bytes));
  EXPECT_LT(drive.Revolutions() - before, 0.1);
}

// 160 tracks with what the fast read leaves to the per-sector reads: a bad
// data CRC, an ID without data, an interleaved track, a track of no IDs, an
// ID twice on a track, 128-byte sectors.
void BuildBadDisk(TZX_Disk& disk) {
  FillStandardDisk(disk, 160);
  disk.GetTrack(3).Sectors[5].DataOk = 0;
  disk.GetTrack(4).Sectors[2].SetData({});
  disk.GetTrack(7).ClearTrack();
  for (int r : kInterleaved)
    AddSector(disk, 7, 3, 0, static_cast<uint8_t>(r), 1, PatternBytes(256, r));
  disk.GetTrack(9).ClearTrack();
  AddSector(disk, 11, 5, 0, 3, 1, PatternBytes(256, 99));
  disk.GetTrack(12).ClearTrack();
  for (uint8_t r = 1; r <= 16; ++r)
    AddSector(disk, 12, 6, 0, r, 0, PatternBytes(128, r));
  disk.CountTracks();
}

TEST(FastRead, ReadsTheSectorsThePerSectorReadReads) {
  DriveRig perSector, fast;
  BuildBadDisk(perSector.Disk());
  BuildBadDisk(fast.Disk());
  fast.fastRead = true;
  const OperationResult a = perSector.Run(kModeScan | kModeRead);
  const OperationResult b = fast.Run(kModeScan | kModeRead);

  test::ExpectSameSectors(*perSector.image, *fast.image);
  EXPECT_EQ(b.badSectors, a.badSectors);
  EXPECT_EQ(fast.image->GetTrack(3).Sectors[5].ErrorCount, 1);
  // The same LOG but for a line on each track whose fast read failed.
  std::vector<std::string> fastLog;
  for (const std::string& line : fast.host.LogTexts())
    if (line.rfind("Быстрое чтение", 0) != 0) fastLog.push_back(line);
  EXPECT_EQ(fastLog, perSector.host.LogTexts());
  EXPECT_TRUE(
      fast.host.Logged("Быстрое чтение не удалось - 23 (Track - 3), чтение по секторам", false));
  EXPECT_TRUE(
      fast.host.Logged("Быстрое чтение не удалось - 27 (Track - 4), чтение по секторам", false));
  EXPECT_EQ(fast.host.LogTexts().size(), fastLog.size() + 2);
  EXPECT_LT(fast.drive.SimulatedSeconds(), perSector.drive.SimulatedSeconds() - 10);
}

// The target: a full TR-DOS disk in at most 70 s of the drive's clock, two
// revolutions a track (64 s, less what follows the last sector of the last
// track) being the floor; the per-sector read's 79.8 s stays as it was.
TEST(FastRead, FullTrdosDiskInTwoRevolutionsATrack) {
  DriveRig perSector, fast;
  FillStandardDisk(perSector.Disk(), 160);
  FillStandardDisk(fast.Disk(), 160);
  fast.fastRead = true;
  perSector.Run(kModeScan | kModeRead);
  fast.Run(kModeScan | kModeRead);
  test::ExpectSameSectors(perSector.Disk(), *fast.image);
  EXPECT_NEAR(perSector.drive.SimulatedSeconds(), 79.8, 0.05);
  EXPECT_LE(fast.drive.SimulatedSeconds(), 70.0);
  EXPECT_GE(fast.drive.SimulatedSeconds(), 63.9);
  // A sequential track is one or two READ DATA calls.
  EXPECT_EQ(fast.drive.CallCount(DriveCall::Scan), 160);
  EXPECT_LE(fast.drive.CallCount(DriveCall::Read), 320);
}

// A cancel ends the run at once; a track part-read keeps no data.
TEST(FastRead, CancelLeavesAPartReadTrackUnread) {
  DriveRig rig;
  FillStandardDisk(rig.Disk(), 4);
  rig.fastRead = true;
  rig.host.cancelAfterEvents = 2;  // the scan's events, then the first READ DATA
  const OperationResult r = rig.Run(kModeScan | kModeRead);
  EXPECT_EQ(r.end, OperationEnd::Cancelled);
  EXPECT_EQ(rig.drive.CallCount(DriveCall::Read), 1);
  for (const TSectorRec& s : rig.image->GetTrack(0).Sectors)
    EXPECT_EQ(s.DataLength(), 0);
  EXPECT_EQ(rig.host.LogTexts().back(), "Операция отменена пользователем!");
}

// A retry count of 0 makes no read call, fast or sector by sector: every
// sector is bad. One attempt reads them all.
TEST(FastRead, RetryCountZeroReadsNothingAsThePerSectorReadDoes) {
  for (const bool fastRead : {false, true}) {
    for (const uint8_t retries : {uint8_t{0}, uint8_t{1}}) {
      DriveRig rig;
      FillStandardDisk(rig.Disk(), 2);
      rig.fastRead = fastRead;
      rig.settings.LastTrack = 1;
      rig.settings.RetryCount = retries;
      const OperationResult r = rig.Run(kModeScan | kModeRead);
      EXPECT_EQ(r.end, OperationEnd::Finished);
      EXPECT_EQ(rig.drive.CallCount(DriveCall::Read) == 0, retries == 0) << fastRead;
      EXPECT_EQ(r.badSectors, retries ? 0 : 32) << fastRead;
      EXPECT_EQ(rig.image->GetTrack(1).Sectors[15].DataLength(), retries ? 256 : 0) << fastRead;
    }
  }
}

}  // namespace
}  // namespace kelvara
