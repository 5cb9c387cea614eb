// The virtual drive answering the driver's calls as a controller with the
// disk inserted would, its options and its simulated clock; and the checks
// every backend gets from the driver layer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "drive/DriveChannel.h"
#include "drive/LinuxFloppy.h"
#include "drive/VirtualFloppy.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::AddSector;
using test::FillStandardDisk;
using test::PatternBytes;

struct Wired {
  VirtualFloppy drive;
  DeviceHandle control = drive.Open(FloppyDevice::Control);
  DeviceHandle handle = drive.Open(FloppyDevice::Drive0);
  std::vector<uint8_t> io = std::vector<uint8_t>(kIoBufferSize);
  DriveChannel channel{drive, handle, io};
  uint32_t returned = 0;

  Wired() { drive.InsertDisk(); }
  TZX_Disk& Disk() { return *drive.Disk(); }
  bool Read(uint8_t phead, uint8_t c, uint8_t h, uint8_t r, uint8_t n, uint8_t eot = 0) {
    FD_READ_WRITE_PARAMS p = SectorParams(phead, c, h, r, n, 0x0E);
    if (eot) p.eot = eot;
    return channel.Read(p, io, returned);
  }
  std::vector<uint8_t> Returned() const { return {io.begin(), io.begin() + returned}; }
};

TEST(VirtualDrive, SeekAndScan) {
  Wired w;
  EXPECT_TRUE(w.channel.Seek(83, 0));
  EXPECT_FALSE(w.channel.Seek(84, 0));
  EXPECT_EQ(w.channel.LastError(), kErrorSeek);
  EXPECT_EQ(w.drive.Cylinder(), 83);

  // Cylinder 2, head 1 is image track 5; IDs come in slot order.
  AddSector(w.Disk(), 5, 2, 1, 7, 1, PatternBytes(256, 1));
  AddSector(w.Disk(), 5, 2, 1, 3, 2, PatternBytes(512, 2));
  AddSector(w.Disk(), 5, 9, 9, 9, 0, {});  // an ID field with no data field
  ASSERT_TRUE(w.channel.Seek(2, 0));
  uint32_t bytes = 0;
  ASSERT_TRUE(w.channel.Scan(1, bytes));
  EXPECT_EQ(std::vector<uint8_t>(w.io.begin(), w.io.begin() + bytes),
            (std::vector<uint8_t>{3, 2, 1, 7, 1, 2, 1, 3, 2, 9, 9, 9, 0}));
  EXPECT_FALSE(w.channel.Scan(0, bytes));  // track 4 is absent
  EXPECT_EQ(w.channel.LastError(), kErrorIdMarkNotFound);

  // Another data rate sees nothing of a double-density track.
  ASSERT_TRUE(
      w.drive.Control(w.handle, IOCTL_FD_SET_DATA_RATE, std::vector<uint8_t>{0}, {}, w.returned));
  EXPECT_FALSE(w.channel.Scan(1, bytes));
  EXPECT_EQ(w.channel.LastError(), kErrorIdMarkNotFound);
  EXPECT_FALSE(w.Read(1, 2, 1, 7, 1));
  EXPECT_EQ(w.channel.LastError(), kErrorSectorNotFound);

  // A track of sectors longer than a revolution shows only those that fit.
  for (int r = 1; r <= 8; ++r)
    AddSector(w.Disk(), 10, 5, 0, static_cast<uint8_t>(r), 3, PatternBytes(1024, r));
  ASSERT_TRUE(
      w.drive.Control(w.handle, IOCTL_FD_SET_DATA_RATE, std::vector<uint8_t>{2}, {}, w.returned));
  ASSERT_TRUE(w.channel.Seek(5, 0));
  ASSERT_TRUE(w.channel.Scan(0, bytes));
  EXPECT_EQ(bytes, 1u + 4u * 6u);
}

TEST(VirtualDrive, ReadFindsTheSectorByItsWholeId) {
  Wired w;
  FillStandardDisk(w.Disk(), 2);
  TTrack& t0 = w.Disk().GetTrack(0);
  ASSERT_TRUE(w.Read(0, 0, 0, 5, 1));
  EXPECT_EQ(w.Returned(), PatternBytes(256, 1000003u + 5));
  EXPECT_FALSE(w.Read(0, 0, 0, 5, 2));  // wrong size code
  EXPECT_EQ(w.channel.LastError(), kErrorSectorNotFound);
  EXPECT_FALSE(w.Read(1, 0, 0, 17, 1));
  EXPECT_EQ(w.channel.LastError(), kErrorSectorNotFound);

  // A bad data field is returned, with a CRC error.
  t0.Sectors[4].DataOk = 0;
  EXPECT_FALSE(w.Read(0, 0, 0, 5, 1));
  EXPECT_EQ(w.channel.LastError(), kErrorCrc);
  EXPECT_EQ(w.Returned(), PatternBytes(256, 1000003u + 5));
  // So is a data field shorter than its ID says.
  t0.Sectors[5].MutableData(200);
  EXPECT_FALSE(w.Read(0, 0, 0, 6, 1));
  EXPECT_EQ(w.channel.LastError(), kErrorCrc);
  EXPECT_EQ(w.returned, 256u);
  EXPECT_EQ(w.io[200], 0);
  t0.Sectors[6].ClearData();
  EXPECT_FALSE(w.Read(0, 0, 0, 7, 1));
  EXPECT_EQ(w.channel.LastError(), kErrorSectorNotFound);

  // Sectors 1 up to one before the end-of-track number, in one call.
  ASSERT_TRUE(w.Read(1, 0, 0, 1, 1, 4));
  ASSERT_EQ(w.returned, 768u);
  EXPECT_EQ(std::vector<uint8_t>(w.io.begin() + 512, w.io.begin() + 768),
            PatternBytes(256, 1000003u + 16 + 3));
}

TEST(VirtualDrive, WriteAndFormatChangeTheDisk) {
  Wired w;
  FillStandardDisk(w.Disk(), 1);
  w.Disk().GetTrack(0).Sectors[0].DataOk = 0;
  w.Disk().GetTrack(0).SetRaw(PatternBytes(6256, 1));
  const auto data = PatternBytes(100, 9);
  std::copy(data.begin(), data.end(), w.io.begin());
  ASSERT_TRUE(w.channel.Write(SectorParams(0, 0, 0, 1, 1, 0x14), data.size()));
  const TSectorRec& s = w.Disk().GetTrack(0).Sectors[0];
  EXPECT_EQ(s.DataOk, 0xFF);
  EXPECT_EQ(s.DataLength(), 256);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), s.Data().begin()));
  EXPECT_EQ(s.Data()[100], 0);  // short data are followed by zeros
  EXPECT_EQ(w.Disk().GetTrack(0).RawLength(), 0);

  FD_FORMAT_PARAMS f{FD_OPTION_MFM, 1, 2, 3, 0x14, 0xE5, {}};
  f.Header[0] = {0, 1, 1, 2};
  f.Header[1] = {0, 1, 2, 0};
  f.Header[2] = {0, 1, 3, 3};
  ASSERT_TRUE(w.channel.Format(f));
  const TTrack& t1 = w.Disk().GetTrack(1);
  EXPECT_EQ(t1.SectorCount, 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(t1.Sectors[i].SizeCode, f.Header[i].size);
    EXPECT_EQ(t1.Sectors[i].DataLength(), 512);
    EXPECT_EQ(t1.Sectors[i].Data()[511], 0xE5);
  }
  ASSERT_TRUE(w.Read(1, 0, 1, 1, 2));
  EXPECT_FALSE(w.Read(1, 0, 1, 3, 3));  // 1024 asked, 512 laid down
  EXPECT_EQ(w.channel.LastError(), kErrorCrc);

  w.drive.SetWriteProtected(true);
  EXPECT_FALSE(w.channel.Format(f));
  EXPECT_EQ(w.channel.LastError(), kErrorWriteProtect);
  EXPECT_FALSE(w.channel.Write(SectorParams(0, 0, 0, 1, 1, 0x14), 256));
  EXPECT_EQ(w.channel.LastError(), kErrorWriteProtect);

  w.drive.EjectDisk();
  EXPECT_FALSE(w.Read(0, 0, 0, 1, 1));
  EXPECT_EQ(w.channel.LastError(), kErrorNotReady);
}

TEST(VirtualDrive, FaultPlanFailsTheNamedCalls) {
  Wired w;
  FillStandardDisk(w.Disk(), 1);
  DriveFault fault;
  std::string error;
  ASSERT_TRUE(ParseDriveFault("read:2-3:23", fault, error)) << error;
  w.drive.AddFault(fault);
  ASSERT_TRUE(ParseDriveFault("seek:1:1122", fault, error)) << error;
  w.drive.AddFault(fault);
  EXPECT_FALSE(w.channel.Seek(1, 0));
  EXPECT_EQ(w.channel.LastError(), 1122u);
  EXPECT_EQ(w.drive.Cylinder(), 0);
  std::vector<bool> results;
  for (int i = 0; i < 4; ++i)
    results.push_back(w.Read(0, 0, 0, 1, 1));
  EXPECT_EQ(results, (std::vector<bool>{true, false, false, true}));
  EXPECT_EQ(w.drive.CallCount(DriveCall::Read), 4);

  for (const char* bad : {"read", "read:0:23", "read:3-2:23", "read:1:0", "reed:1:23", "read:x:1"})
    EXPECT_FALSE(ParseDriveFault(bad, fault, error)) << bad;
}

TEST(VirtualDrive, ClockCountsRevolutionsAndSeeks) {
  Wired w;
  FillStandardDisk(w.Disk(), 4);
  ASSERT_TRUE(w.channel.Seek(1, 0));
  EXPECT_NEAR(w.drive.SimulatedSeconds(), 0.003, 1e-9);
  uint32_t bytes = 0;
  const double before = w.drive.Revolutions();
  ASSERT_TRUE(w.channel.Scan(0, bytes));
  const double scan = w.drive.Revolutions() - before;
  EXPECT_GT(scan, 1.0);  // waits for the index, then one whole turn
  EXPECT_LE(scan, 2.0);
  // Right after the scan, all sixteen sectors pass within one turn.
  for (int r = 1; r <= 16; ++r)
    ASSERT_TRUE(w.Read(0, 1, 0, static_cast<uint8_t>(r), 1));
  EXPECT_LT(w.drive.Revolutions() - before - scan, 1.0);
  // A missing sector costs the two index pulses a controller waits for.
  const double found = w.drive.Revolutions();
  EXPECT_FALSE(w.Read(0, 1, 0, 20, 1));
  EXPECT_GT(w.drive.Revolutions() - found, 1.0);
}

TEST(VirtualDrive, DiskComesFromAndGoesToImageFiles) {
  test::TempDir dir;
  const auto bytes = PatternBytes(16 * 256 * 4, 3);
  test::WriteBytes(dir / "in.trd", bytes);
  VirtualFloppy drive(dir / "in.trd");
  ASSERT_NE(drive.Open(FloppyDevice::Control), kInvalidHandle);
  ASSERT_NE(drive.Disk(), nullptr);
  EXPECT_EQ(drive.Disk()->CountTracks(), 4);
  std::string error;
  ASSERT_TRUE(drive.SaveDisk(dir / "out.trd", {}, error)) << error;
  EXPECT_EQ(test::ReadBytes(dir / "out.trd"), bytes);

  // A file that is not there is an unformatted disk; one that does not load
  // keeps the driver from opening.
  VirtualFloppy blank(dir / "none.trd");
  ASSERT_NE(blank.Open(FloppyDevice::Control), kInvalidHandle);
  EXPECT_EQ(blank.Disk()->CountTracks(), 0);
  test::WriteBytes(dir / "disk.xyz", bytes);
  VirtualFloppy unknown(dir / "disk.xyz");
  EXPECT_EQ(unknown.Open(FloppyDevice::Control), kInvalidHandle);
  EXPECT_EQ(unknown.LastError(), kErrorInvalidData);
  EXPECT_NE(unknown.Detail().find("disk.xyz"), std::string::npos);
}

TEST(DriverCalls, RefusedBeforeReachingTheDrive) {
  Wired w;
  FillStandardDisk(w.Disk(), 1);
  std::vector<uint8_t> out(16);
  uint32_t n = 0;
  EXPECT_FALSE(w.drive.Control(w.handle, 0x0022E000, {}, out, n));
  EXPECT_EQ(w.drive.LastError(), kErrorInvalidFunction);
  EXPECT_FALSE(w.drive.Control(w.handle, IOCTL_FDRAWCMD_GET_VERSION, {}, out, n));
  EXPECT_EQ(w.drive.LastError(), kErrorInvalidHandle);
  EXPECT_FALSE(w.drive.Control(w.handle, IOCTL_FDCMD_SEEK, std::vector<uint8_t>{1, 0, 0}, {}, n));
  EXPECT_EQ(w.drive.LastError(), kErrorInvalidParameter);
  // A format record must carry exactly the headers its count names.
  EXPECT_FALSE(w.drive.Control(w.handle, IOCTL_FDCMD_FORMAT_TRACK,
                               std::vector<uint8_t>{0x40, 0, 1, 2, 20, 0, 0, 0, 1, 1}, {}, n));
  EXPECT_EQ(w.drive.LastError(), kErrorInvalidParameter);
  // An empty write, and size codes beyond 7.
  EXPECT_FALSE(w.channel.Write(SectorParams(0, 0, 0, 1, 1, 0x14), 0));
  EXPECT_EQ(w.channel.LastError(), kErrorInvalidParameter);
  EXPECT_FALSE(w.Read(0, 0, 0, 1, 8));
  EXPECT_EQ(w.channel.LastError(), kErrorInvalidParameter);
  EXPECT_EQ(w.drive.CallCount(DriveCall::Read) + w.drive.CallCount(DriveCall::Write), 0);

  ASSERT_TRUE(w.drive.Control(w.control, IOCTL_FDRAWCMD_GET_VERSION, {}, out, n));
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 4),
            (std::vector<uint8_t>{0x00, 0x01, 0x00, 0x01}));
  w.drive.Close(w.handle);
  EXPECT_FALSE(w.channel.Reset());
  EXPECT_EQ(w.channel.LastError(), kErrorInvalidHandle);
}

TEST(DriverCalls, VirtualDriveWhenAnImageIsNamed) {
  unsetenv("KELVARA_VIRTUAL_DRIVE");
  EXPECT_NE(dynamic_cast<LinuxFloppy*>(CreateFloppyDriver("").get()), nullptr);
  const auto named = CreateFloppyDriver("a.trd");
  setenv("KELVARA_VIRTUAL_DRIVE", "b.trd", 1);
  const auto fromEnv = CreateFloppyDriver("");
  unsetenv("KELVARA_VIRTUAL_DRIVE");
  EXPECT_NE(dynamic_cast<VirtualFloppy*>(named.get()), nullptr);
  ASSERT_NE(dynamic_cast<VirtualFloppy*>(fromEnv.get()), nullptr);
  EXPECT_EQ(static_cast<VirtualFloppy*>(fromEnv.get())->ImagePath(), "b.trd");
}

// A paced drive takes the wall-clock time its simulated clock runs, scaled.
TEST(VirtualDrive, PaceTurnsSimulatedTimeIntoWaiting) {
  Wired w;
  w.drive.Options().pace = 0.5;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(w.channel.Seek(80, 0));  // 240 ms of stepping
  ASSERT_TRUE(w.channel.Seek(80, 0));  // waits for the first
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took.count(), 0.5 * w.drive.SimulatedSeconds() - 0.001);
  EXPECT_GE(w.drive.SimulatedSeconds(), 0.24);
}

}  // namespace
}  // namespace kelvara
