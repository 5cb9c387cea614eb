// The whole flux path: the host's link over a pseudo-terminal to the
// simulated Greaseweazle, the flux backend under the reading run, and
// kelvara-cli read --flux-sim.
#include <gtest/gtest.h>

#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <sstream>
#include <thread>

#include "drive/DriveSession.h"
#include "drive/flux/FluxFloppy.h"
#include "drive/flux/GreaseweazleLink.h"
#include "drive/flux/SimulatedGreaseweazle.h"
#include "formats/ImageFiles.h"
#include "session/StartupRules.h"
#include "support/CliRun.h"
#include "support/DiskBuilder.h"
#include "support/FakeOperationHost.h"
#include "support/TempDir.h"
#include "support/TrdosBuilder.h"

namespace kelvara::flux {
namespace {

using test::RunCliArgs;
using test::TempDir;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::unique_ptr<SimulatedGreaseweazle> StartDevice(SimulatedMedia media = {}) {
  auto disk = std::make_unique<TZX_Disk>();
  test::FillStandardDisk(*disk, 4);
  auto device = std::make_unique<SimulatedGreaseweazle>(std::move(disk), media);
  std::string error;
  EXPECT_TRUE(device->Start(error)) << error;
  return device;
}

TEST(GreaseweazleLink, OpensWithAResetAndNamesTheDevicesRefusals) {
  auto device = StartDevice();
  GreaseweazleLink link;
  link.Timeouts().commandMs = 10000;  // generous: a loaded machine answers late
  ASSERT_TRUE(link.Open(device->DevicePath())) << link.Error();
  EXPECT_GE(device->ResetCount(), 1) << "the baud-rate reset reached the device";
  EXPECT_EQ(link.Info().sampleFrequency, 72000000u);
  EXPECT_TRUE(link.Info().mainFirmware);

  // Out of order, the device refuses with its status; the host says which.
  EXPECT_FALSE(link.Seek(3));
  EXPECT_TRUE(Has(link.Error(), "NoUnit")) << link.Error();
  EXPECT_FALSE(link.Select(0));
  EXPECT_TRUE(Has(link.Error(), "NoBus")) << link.Error();
  ASSERT_TRUE(link.SetBusType(GwBus::Ibm));
  EXPECT_FALSE(link.Select(2));
  EXPECT_TRUE(Has(link.Error(), "BadUnit")) << link.Error();
  EXPECT_FALSE(link.Head(2));
  EXPECT_TRUE(Has(link.Error(), "BadCommand")) << link.Error();

  // The motor off: no index comes, and the read says so in words.
  ASSERT_TRUE(link.Select(0) && link.Seek(1) && link.Head(0));
  std::vector<uint8_t> stream;
  EXPECT_FALSE(link.ReadFlux(0, 3, stream));
  EXPECT_EQ(link.Status(), kGwNoIndex);
  EXPECT_TRUE(Has(link.Error(), "no index pulse")) << link.Error();

  ASSERT_TRUE(link.Motor(0, true));
  ASSERT_TRUE(link.ReadFlux(0, 3, stream)) << link.Error();
  FluxCapture capture;
  std::string error;
  ASSERT_TRUE(DecodeFluxStream(stream, capture, error)) << error;
  EXPECT_EQ(capture.index.size(), 3u);
}

TEST(GreaseweazleLink, OverflowIsRetriedAndAGoneDeviceTimesOut) {
  SimulatedMedia media;
  media.overflows = 2;
  auto device = StartDevice(media);
  GreaseweazleLink link;
  ASSERT_TRUE(link.Open(device->DevicePath())) << link.Error();
  ASSERT_TRUE(link.SetBusType(GwBus::Ibm) && link.Select(0) && link.Motor(0, true) && link.Seek(0));
  std::vector<uint8_t> stream;
  EXPECT_TRUE(link.ReadFlux(0, 3, stream)) << link.Error();
  EXPECT_EQ(device->ReadFluxCount(), 3);

  // A device that stops answering: every wait ends.
  device->Stop();
  link.Timeouts().commandMs = 200;
  EXPECT_FALSE(link.Head(1));
  EXPECT_NE(link.Fault(), LinkFault::None);
}

TEST(GreaseweazleLink, HardwareRules) {
  // A line left at the reset rate by a program that died there still
  // resets: the host goes to 9600 first, so 10000 is a change again.
  {
    auto device = StartDevice();
    const int fd = ::open(device->DevicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios2 t{};
    ASSERT_EQ(::ioctl(fd, TCGETS2, &t), 0);
    t.c_cflag = (t.c_cflag & ~CBAUD) | BOTHER;
    t.c_ispeed = t.c_ospeed = kGwResetBaud;
    ASSERT_EQ(::ioctl(fd, TCSETS2, &t), 0);
    for (int i = 0; i < 100 && device->ResetCount() == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(device->ResetCount(), 1);
    GreaseweazleLink link;
    ASSERT_TRUE(link.Open(device->DevicePath())) << link.Error();
    EXPECT_EQ(device->ResetCount(), 2);
    ::close(fd);
  }
  // A device pulled out during a read ends the read at once.
  {
    auto device = StartDevice();
    GreaseweazleLink link;
    ASSERT_TRUE(link.Open(device->DevicePath())) << link.Error();
    ASSERT_TRUE(link.SetBusType(GwBus::Ibm) && link.Select(0) && link.Motor(0, true) &&
                link.Seek(0));
    link.Timeouts().readBaseMs = 30000;
    device->UnplugDuringNextRead();
    std::vector<uint8_t> stream;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(link.ReadFlux(0, 3, stream));
    EXPECT_EQ(link.Fault(), LinkFault::Io) << link.Error();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
  // Firmware too old for the protocol: the message names the real minimum.
  {
    SimulatedMedia media;
    media.firmware = 30;
    auto device = StartDevice(media);
    GreaseweazleLink link;
    EXPECT_FALSE(link.Open(device->DevicePath()));
    EXPECT_TRUE(Has(link.Error(), "0.30 is too old; update it to 0.31 or later")) << link.Error();
  }
}

TEST(SimulatedGreaseweazle, AnswersAsTheFirmwareDoes) {
  SimulatedMedia media;
  media.writeProtected = true;
  auto device = StartDevice(media);
  GreaseweazleLink link;
  link.Timeouts().commandMs = 10000;
  ASSERT_TRUE(link.Open(device->DevicePath())) << link.Error();
  ASSERT_TRUE(link.SetBusType(GwBus::Ibm) && link.Select(0) && link.Seek(2));
  // The same bus again keeps the unit selected.
  EXPECT_TRUE(link.SetBusType(GwBus::Ibm));
  EXPECT_TRUE(link.Seek(3)) << link.Error();
  // Write and erase are refused at the ACK on a protected disk, and the
  // pin says so before.
  uint8_t level = 1;
  ASSERT_TRUE(link.GetPin(kGwPinWrprot, level));
  EXPECT_EQ(level, 0);
  EXPECT_FALSE(link.WriteFlux({10, 0}, true, true));
  EXPECT_EQ(link.Status(), kGwWrprot);
  EXPECT_FALSE(link.EraseFlux(1000));
  EXPECT_EQ(link.Status(), kGwWrprot);
  // After the watchdog, no unit is selected; a read then waits for an index
  // that never comes rather than refuse.
  device->SetWatchdogMs(100);
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  std::vector<uint8_t> stream;
  EXPECT_FALSE(link.ReadFlux(0, 3, stream));
  EXPECT_EQ(link.Status(), kGwNoIndex) << link.Error();
  EXPECT_FALSE(link.Seek(1));
  EXPECT_EQ(link.Status(), kGwNoUnit) << link.Error();
}

class FluxWriteStepping : public testing::TestWithParam<bool> {};

TEST_P(FluxWriteStepping, BackendReselectsAfterTheWatchdogAndVerifiesEachTrack) {
  TempDir dir;
  TZX_Disk source;
  test::FillStandardDisk(source, 4);
  FluxDriveOptions options;
  options.simulatedImage = dir / "disk.trd";  // not there: an unformatted disk
  options.watchdogMarginMs = 50;
  options.doubleStep = GetParam();
  FluxFloppy drive(options);
  ASSERT_NE(drive.Open(FloppyDevice::Control), kInvalidHandle) << drive.Detail();
  const DeviceHandle h = drive.Open(FloppyDevice::Drive0);
  ASSERT_NE(h, kInvalidHandle) << drive.FailureText();
  drive.Simulated()->SetWatchdogMs(100);
  std::array<uint8_t, 8> buffer{};
  for (int t = 0; t < 4; ++t) {
    std::this_thread::sleep_for(std::chrono::milliseconds(t == 2 ? 250 : 0));
    const FD_SEEK_PARAMS seek{static_cast<uint8_t>(t / 2), static_cast<uint8_t>(t % 2)};
    uint32_t returned = 0;
    ASSERT_TRUE(drive.Control(h, IOCTL_FDCMD_SEEK, RecordBytes(seek), buffer, returned))
        << drive.FailureText();
    TrackWriteOutcome o;
    ASSERT_TRUE(drive.WriteTrack(h, source, t, false, 0, 3, o)) << drive.FailureText();
    EXPECT_EQ(o.writes, 1) << "track " << t;
    EXPECT_TRUE(o.unverifiedSlots.empty()) << "track " << t;
  }
  // One measuring read, then a read-back per track.
  EXPECT_EQ(drive.Simulated()->ReadFluxCount(), 5);
  TZX_Disk back;
  drive.Simulated()->TakeDisk(back);
  if (!GetParam()) return test::ExpectSameSectors(source, back);
  // Double stepping: the disk's cylinder 1 went under the drive's 2.
  EXPECT_FALSE(back.GetTrack(2).Present);
  EXPECT_EQ(back.GetTrack(4).Sectors[0].Cyl, 1);
}

INSTANTIATE_TEST_SUITE_P(SingleAndDouble, FluxWriteStepping, testing::Bool());

TEST(FluxWrite, CliWritesAFullTrdosDiskThatReadsBackTheSame) {
  TempDir dir;
  TZX_Disk source;
  test::BuildTrdosDisk(source,
                       {test::PatternFile("game", 'C', 200), test::PatternFile("scr", 'C', 27)});
  ASSERT_TRUE(SaveImageFile(source, dir / "src.trd", {}).ok);
  // A drive 5 % fast, jittery; a speck of dirt on track 3 that the first
  // write leaves there: the read-back finds it and the track goes again.
  const std::string media = "speed=0.05,jitter=0.04,writefault=3:5";
  test::CliRun w =
      RunCliArgs({"write", dir / "src.trd", "--flux-sim", dir / "disk.trd", "--flux-media", media});
  ASSERT_EQ(w.status, 0) << w.out << w.err;
  EXPECT_TRUE(Has(w.out, "Флюкс: запись 2")) << "track 3 written twice";
  EXPECT_TRUE(Has(w.out, "совпали 16 из 16 секторов"));
  test::CliRun r =
      RunCliArgs({"read", "--flux-sim", dir / "disk.trd", dir / "out.trd", "--flux-media", media});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadBytes(dir / "out.trd"), test::ReadBytes(dir / "src.trd"));
}

TEST(FluxWrite, CliReportsExactlyTheSectorsThatDoNotComeBack) {
  TempDir dir;
  TZX_Disk source;
  test::FillStandardDisk(source, 4);
  ASSERT_TRUE(SaveImageFile(source, dir / "src.trd", {}).ok);
  ASSERT_TRUE(SaveImageFile(source, dir / "disk.trd", {}).ok);
  // A dropout no write can mend.
  test::CliRun w = RunCliArgs({"write", dir / "src.trd", "--flux-sim", dir / "disk.trd",
                               "--flux-media", "dropout=2:7", "--retries", "2"});
  EXPECT_EQ(w.status, 2) << w.out << w.err;
  EXPECT_TRUE(Has(w.out, "Ошибка записи сектора  - 23 (Track - 2 / Sector - 7)")) << w.out;
  EXPECT_TRUE(Has(w.out, "Флюкс: запись 3")) << w.out;
  EXPECT_TRUE(Has(w.err, "finished with 1 sector(s) not written")) << w.err;
  // Without the read-back, nothing is found wrong.
  w = RunCliArgs({"write", dir / "src.trd", "--flux-sim", dir / "disk.trd", "--flux-media",
                  "dropout=2:7", "--no-verify"});
  EXPECT_EQ(w.status, 0) << w.out << w.err;
  EXPECT_TRUE(Has(w.out, "без проверки")) << w.out;
}

TEST(FluxRead, CliReadsATrdosDiskToTheSameTrdAndAUdiWithRawTracks) {
  TempDir dir;
  TZX_Disk source;
  test::BuildTrdosDisk(source,
                       {test::PatternFile("game", 'C', 40), test::PatternFile("scr", 'C', 27)});
  ASSERT_TRUE(SaveImageFile(source, dir / "src.trd", {}).ok);
  // A drive 10 % slow with a jittery read, and one sector that reads badly
  // every other revolution.
  test::CliRun r = RunCliArgs({"read", "--flux-sim", dir / "src.trd", dir / "out.udi",
                               "--flux-media", "speed=-0.1,jitter=0.05,weak=2:7"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "Greaseweazle F7 firmware 1.6, 72 MHz (simulated")) << r.err;
  EXPECT_TRUE(Has(r.out, "Флюкс: оборотов - ")) << r.out.substr(0, 400);
  EXPECT_FALSE(Has(r.out, "Сбойных секторов"));

  TZX_Disk read;
  ASSERT_TRUE(LoadImageFile(read, dir / "out.udi").ok);
  test::ExpectSameSectors(source, read);
  for (int t = 0; t < 160; ++t)
    EXPECT_GT(read.GetTrack(static_cast<uint8_t>(t)).RawLength(), 6000) << "track " << t;
  ASSERT_TRUE(SaveImageFile(read, dir / "back.trd", {}).ok);
  EXPECT_EQ(test::ReadBytes(dir / "back.trd"), test::ReadBytes(dir / "src.trd"));
}

// A hard disk: 9 % jitter loses sectors through the default PLL; the noise
// PLL on the same flux and the longer captures of the retries recover them.
TEST(FluxRead, HardDiskRecoversThroughTheNoisePll) {
  TempDir dir;
  TZX_Disk source;
  test::FillStandardDisk(source, 40);
  ASSERT_TRUE(SaveImageFile(source, dir / "src.trd", {}).ok);
  const test::CliRun r =
      RunCliArgs({"read", "--flux-sim", dir / "src.trd", dir / "out.udi", "--flux-media",
                  "jitter=0.09,seed=2", "--retries", "10", "--last", "39"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Has(r.out, "Сбойных секторов")) << r.out;
}

// Every RetryCount-th attempt at a sector is captured after a trip of the
// head to cylinder 0 and back: with 2 attempts, one trip for the one sector
// that never reads.
TEST(FluxRead, EveryRetryCountthAttemptGoesToCylinderZeroFirst) {
  TempDir dir;
  TZX_Disk source;
  test::FillStandardDisk(source, 4);
  ASSERT_TRUE(SaveImageFile(source, dir / "src.trd", {}).ok);
  auto tripsToZero = [&](const std::string& media) {
    TSettings settings;
    settings.RetryCount = 2;
    settings.LastTrack = 3;
    FluxDriveOptions options;
    std::string error;
    EXPECT_TRUE(FluxOptionsFromSettings(settings, options, error)) << error;
    options.simulatedImage = dir / "src.trd";
    EXPECT_TRUE(ParseSimulatedMedia(media, options.media, error)) << error;
    auto owned = std::make_unique<FluxFloppy>(options);
    FluxFloppy* drive = owned.get();
    DriveSession session(std::move(owned));
    session.OpenAtStartup(settings);
    auto disk = std::make_unique<TZX_Disk>();
    test::FakeOperationHost host;
    session.Run(session.Plan(kModeScan | kModeRead, *disk, settings), *disk, settings, host);
    return drive->Simulated()->SeeksToZero();
  };
  EXPECT_EQ(tripsToZero("dropout=2:3") - tripsToZero("seed=1"), 1);
}

TEST(FluxRead, DeviceFaultsAreClear) {
  TempDir dir;
  TZX_Disk source;
  test::FillStandardDisk(source, 2);
  ASSERT_TRUE(SaveImageFile(source, dir / "src.trd", {}).ok);
  const struct {
    std::vector<std::string> args;
    int status;
    const char* says;
  } cases[] = {
      {{"read", dir / "o.trd", "--flux-media", "noindex"}, 1, "(NoIndex, status 2)"},
      {{"read", dir / "o.trd", "--flux-media", "overflow=9"}, 1, "(FluxOverflow, status 4)"},
      {{"read", dir / "o.trd", "--flux-media", "trk0stuck"}, 1, "sensor is asserted at cylinder"},
      {{"read", dir / "o.trd", "--flux-media", "dropout=1:3"}, 2, "Сбойных секторов - 1"},
      {{"write", dir / "src.trd", "--flux-media", "wprot"}, 1, "Ошибка форматирования - 19"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--flux-sim", dir / "src.trd", "--last", "1", "--retries", "2"});
    const test::CliRun r = RunCliArgs(args);
    EXPECT_EQ(r.status, c.status) << testing::PrintToString(c.args) << "\n" << r.out << r.err;
    EXPECT_TRUE(Has(r.out + r.err, c.says)) << testing::PrintToString(c.args) << "\n"
                                            << r.out << r.err;
  }
}

TEST(FluxRead, DesktopCommandLineTakesTheFluxDevice) {
  const CommandLine a = ParseCommandLine({"--flux", "/dev/ttyACM0", "disk.trd"});
  EXPECT_EQ(a.flux, "/dev/ttyACM0");
  EXPECT_EQ(a.image, "disk.trd");
  const CommandLine b = ParseCommandLine({"--flux-sim=demo.udi"});
  EXPECT_EQ(b.fluxSim, "demo.udi");
  EXPECT_TRUE(b.image.empty());
}

}  // namespace
}  // namespace kelvara::flux
