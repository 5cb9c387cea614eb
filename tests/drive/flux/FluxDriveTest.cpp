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
#include <filesystem>
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

std::unique_ptr<SimulatedGreaseweazle> StartDevice(SimulatedMedia media = {},
                                                   std::shared_ptr<DeviceClock> clock = nullptr) {
  auto disk = std::make_unique<TZX_Disk>();
  test::FillStandardDisk(*disk, 4);
  auto device = std::make_unique<SimulatedGreaseweazle>(std::move(disk), media, clock);
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
  auto clock = std::make_shared<ManualDeviceClock>();
  auto device = StartDevice(media, clock);
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
  // After the watchdog's 10 s, no unit is selected; a read then waits for an
  // index that never comes rather than refuse.
  clock->Advance(std::chrono::seconds(11));
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
  options.doubleStep = GetParam();
  auto clock = std::make_shared<ManualDeviceClock>();
  options.clock = clock;
  FluxFloppy drive(options);
  ASSERT_NE(drive.Open(FloppyDevice::Control), kInvalidHandle) << drive.Detail();
  const DeviceHandle h = drive.Open(FloppyDevice::Drive0);
  ASSERT_NE(h, kInvalidHandle) << drive.FailureText();
  std::array<uint8_t, 8> buffer{};
  for (int t = 0; t < 4; ++t) {
    // The watchdog lets the drive go between tracks 1 and 2.
    if (t == 2) clock->Advance(std::chrono::seconds(12));
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
    const char* first = "0";  // and the next track
  } cases[] = {
      {{"read", dir / "o.trd", "--flux-media", "noindex"}, 1, "(NoIndex, status 2)"},
      {{"read", dir / "o.trd", "--flux-media", "overflow=9"}, 1, "(FluxOverflow, status 4)"},
      {{"read", dir / "o.trd", "--flux-media", "trk0stuck"},
       1,
       "sensor is asserted at cylinder",
       "2"},
      {{"read", dir / "o.trd", "--flux-media", "dropout=1:3"}, 2, "Сбойных секторов - 1"},
      {{"write", dir / "src.trd", "--flux-media", "wprot"}, 1, "Ошибка форматирования - 19"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--flux-sim", dir / "src.trd", "--first", c.first, "--last",
                             std::to_string(std::stoi(c.first) + 1), "--retries", "2"});
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

// A simulated Greaseweazle under a DriveSession as both programs open it, on
// a clock the test moves.
struct FluxRig {
  explicit FluxRig(const std::string& image, const std::string& media = "") {
    options.simulatedImage = image;
    options.clock = clock;
    std::string error;
    EXPECT_TRUE(ParseSimulatedMedia(media, options.media, error)) << error;
    auto owned = std::make_unique<FluxFloppy>(options);
    drive = owned.get();
    session = std::make_unique<DriveSession>(std::move(owned));
    const DriveOpenReport report = session->OpenAtStartup(settings);
    EXPECT_TRUE(report.diskMenuEnabled) << testing::PrintToString(report.messages);
  }
  OperationResult Run(int mode, TZX_Disk& disk) {
    host = test::FakeOperationHost{};
    const DriveRunPlan plan = session->Plan(mode, disk, settings);
    return plan.start ? session->Run(plan, disk, settings, host) : OperationResult{};
  }
  bool Logged(const std::string& part) const {
    for (const std::string& line : host.LogTexts())
      if (Has(line, part)) return true;
    return false;
  }
  SimulatedGreaseweazle& Device() { return *drive->Simulated(); }

  std::shared_ptr<ManualDeviceClock> clock = std::make_shared<ManualDeviceClock>();
  FluxDriveOptions options;
  TSettings settings;
  FluxFloppy* drive = nullptr;
  std::unique_ptr<DriveSession> session;
  test::FakeOperationHost host;
};

std::string SavedDisk(TempDir& dir, int tracks, const char* name = "src.trd") {
  TZX_Disk disk;
  test::FillStandardDisk(disk, tracks);
  EXPECT_TRUE(SaveImageFile(disk, dir / name, {}).ok);
  return dir / name;
}

// The device lets the drive go after 10 s without a command: a run, and the
// controller reset, after a longer quiet spell choose it and spin it up again.
TEST(FluxRun, QuietSpellsLongerThanTheWatchdogStopNeitherARunNorTheReset) {
  TempDir dir;
  FluxRig rig(SavedDisk(dir, 4));
  rig.settings.LastTrack = 3;
  auto disk = std::make_unique<TZX_Disk>();
  for (int round = 0; round < 2; ++round) {
    rig.clock->Advance(std::chrono::seconds(11));
    const OperationResult r = rig.Run(kModeScan | kModeRead, *disk);
    EXPECT_EQ(r.end, OperationEnd::Finished) << testing::PrintToString(rig.host.MessageTexts());
    EXPECT_EQ(r.sectorsDone, 64);
    rig.clock->Advance(std::chrono::minutes(3));
    EXPECT_TRUE(rig.session->ResetController(rig.host));
    EXPECT_TRUE(rig.host.messages.empty()) << rig.host.MessageTexts()[0];
  }
}

// A write-protected disk: the first refusal ends the run with one line.
TEST(FluxRun, WriteProtectedDiskStopsAtItsFirstRefusal) {
  TempDir dir;
  const test::CliRun w = RunCliArgs({"write", SavedDisk(dir, 4), "--flux-sim",
                                     SavedDisk(dir, 4, "disk.trd"), "--flux-media", "wprot"});
  EXPECT_EQ(w.status, 1);
  EXPECT_EQ(w.out,
            "Начало операции!\n"
            "Ошибка форматирования - 19 (Track - 0): Greaseweazle: the disk is write-protected\n"
            "Операция остановлена!\n");
  EXPECT_TRUE(Has(w.err, "Ошибка! Ошибка форматирования - 19")) << w.err;
}

// No disk: the first track's missing index ends a read or a write at once,
// with its cause.
TEST(FluxRun, NoIndexOnTheFirstTrackEndsTheRunWithItsCause) {
  TempDir dir;
  FluxRig rig(SavedDisk(dir, 160), "noindex");
  auto disk = std::make_unique<TZX_Disk>();
  test::FillStandardDisk(*disk, 160);
  for (const int mode : {kModeScan | kModeRead, kModeFormat | kModeWrite}) {
    const int reads = rig.Device().ReadFluxCount();
    const OperationResult r = rig.Run(mode, *disk);
    EXPECT_EQ(r.end, OperationEnd::Stopped) << mode;
    EXPECT_TRUE(Has(r.stopReason, "no index: no disk in the drive, or the drive is not turning"))
        << r.stopReason;
    EXPECT_EQ(rig.host.LogTexts().back(), "Операция остановлена!");
    EXPECT_EQ(rig.Device().ReadFluxCount() - reads, 1) << mode;
  }
}

// A drive turning 1 % slower during the write than when it was measured:
// the track is stretched past the revolution, so every sector verifies and
// the ID the old recording had just before the index is gone. Slower than
// the stretch covers (9 %), the leftover is found and named.
TEST(FluxWrite, ADriveSlowerDuringTheWriteLeavesNothingOfTheOldTrack) {
  TempDir dir;
  // The old track: sector 1 at the start, and an ID (R = 99) that ends 32
  // bytes before the index, its data running over it.
  TZX_Disk old;
  TTrack& t = old.GetTrack(0);
  std::vector<uint8_t> raw(kRawTrackSize, 0x4E);
  auto field = [&](size_t at, uint8_t mark) {
    std::fill_n(raw.begin() + static_cast<long>(at), 12, 0x00);
    std::fill_n(raw.begin() + static_cast<long>(at + 12), 3, 0xA1);
    raw[at + 15] = mark;
  };
  field(100, 0xFE);
  field(140, 0xFB);
  field(6196, 0xFE);
  field(6236, 0xFB);
  t.SetRaw(raw);
  t.RawValid = 1;
  test::AddSector(old, 0, 0, 0, 1, 1, test::PatternBytes(256, 1));
  test::AddSector(old, 0, 0, 0, 99, 1, test::PatternBytes(256, 2), false);
  ASSERT_TRUE(SaveImageFile(old, dir / "old.udi", {}).ok);
  const std::string image = SavedDisk(dir, 1);
  const struct {
    const char* drift;
    bool leftover;
  } cases[] = {{"drift=2:-0.01", false}, {"drift=2:-0.09", true}};
  for (const auto& c : cases) {
    std::filesystem::copy_file(dir / "old.udi", dir / "disk.udi",
                               std::filesystem::copy_options::overwrite_existing);
    const test::CliRun w = RunCliArgs(
        {"write", image, "--flux-sim", dir / "disk.udi", "--flux-media", c.drift, "--last", "0"});
    EXPECT_TRUE(Has(w.out, "Флюкс: запись 1 (оборот 200.00 ms), проверка - совпали 16 из 16"))
        << c.drift << "\n"
        << w.out;
    EXPECT_EQ(Has(w.out, "метки, которых нет в образе - 0:0:99:1"), c.leftover) << c.drift << "\n"
                                                                                << w.out;
  }
}

// A rewrite that fails after a verify that did: the write gate was on over
// the whole track, so none of it counts as written, and the failure is said.
TEST(FluxWrite, AFailedRewriteLeavesEveryOtherSectorUnverified) {
  TempDir dir;
  const test::CliRun w =
      RunCliArgs({"write", SavedDisk(dir, 1), "--flux-sim", SavedDisk(dir, 1, "disk.trd"),
                  "--flux-media", "writefault=0:5,underflow=2:20", "--last", "0"});
  EXPECT_EQ(w.status, 1) << w.out << w.err;
  EXPECT_TRUE(Has(w.out,
                  "Флюкс: запись 2 (оборот 200.00 ms), запись не удалась: Greaseweazle: "
                  "the host did not send the flux fast enough"))
      << w.out;
  EXPECT_TRUE(Has(w.out, "Ошибка записи сектора  - 1117 (Track - 0 / Sector - 16)")) << w.out;
}

// The write fault leaves a sector without flux, and no flux reads as noise,
// so it is found whatever the sector held: here a blank disk's zeros.
TEST(FluxWrite, AWriteFaultDamagesASectorOfZerosToo) {
  TempDir dir;
  TZX_Disk zeros;
  test::FillStandardDisk(zeros, 2);
  for (TSectorRec& sec : zeros.GetTrack(1).Sectors)
    if (sec.Present) std::fill(sec.MutableData().begin(), sec.MutableData().end(), uint8_t{0});
  ASSERT_TRUE(SaveImageFile(zeros, dir / "zeros.trd", {}).ok);
  const test::CliRun w = RunCliArgs({"write", dir / "zeros.trd", "--flux-sim", dir / "disk.trd",
                                     "--flux-media", "writefault=1:5", "--last", "1"});
  EXPECT_EQ(w.status, 0) << w.out << w.err;
  EXPECT_TRUE(Has(w.out, "совпали 15 из 16 секторов (Track - 1)")) << w.out;
  EXPECT_TRUE(Has(w.out, "Флюкс: запись 2 (оборот 200.00 ms), проверка - совпали 16 из 16"));
}

// Part of a disk onto a new simulated disk saved as a TRD: the blank disk
// starts formatted like the image, so the sector dump has every track.
TEST(FluxWrite, PartOfADiskOntoANewSectorDumpKeepsEveryTrack) {
  TempDir dir;
  const std::string image = SavedDisk(dir, 160);
  const test::CliRun w =
      RunCliArgs({"write", image, "--flux-sim", dir / "new.trd", "--first", "5", "--last", "5"});
  ASSERT_EQ(w.status, 0) << w.out << w.err;
  TZX_Disk source, written;
  ASSERT_TRUE(LoadImageFile(source, image).ok);
  ASSERT_TRUE(LoadImageFile(written, dir / "new.trd").ok);
  EXPECT_EQ(written.CountTracks(), 160);
  EXPECT_TRUE(std::ranges::equal(written.GetTrack(5).Sectors[3].Data(),
                                 source.GetTrack(5).Sectors[3].Data()));
  EXPECT_EQ(written.GetTrack(6).Sectors[3].Data()[0], 0);
}

// A stream whose sending stops part-way: the link is reset, so the device
// takes the next command as a command and not as more flux.
TEST(GreaseweazleLink, AStreamCutPartWayResetsTheLink) {
  auto device = StartDevice();
  GreaseweazleLink link;
  ASSERT_TRUE(link.Open(device->DevicePath())) << link.Error();
  ASSERT_TRUE(link.SetBusType(GwBus::Ibm) && link.Select(0) && link.Motor(0, true) && link.Seek(0));
  link.Timeouts().writeMs = 300;
  device->StallNextWrite();
  EXPECT_FALSE(link.WriteFlux(std::vector<uint8_t>(100000, 100), true, true));
  EXPECT_EQ(link.Fault(), LinkFault::Timeout);
  uint8_t level = 0;
  EXPECT_TRUE(link.GetPin(kGwPinWrprot, level)) << link.Error();
}

// The head goes no farther than the run's cylinders: the restart finds
// track 0 by the sensor, and double stepping past the drive's last cylinder
// is a seek error, not a seek to the stop.
TEST(FluxRun, SeeksNeverPassTheCylindersOfTheRun) {
  TempDir dir;
  FluxRig rig(SavedDisk(dir, 4));
  rig.settings.LastTrack = 3;
  auto disk = std::make_unique<TZX_Disk>();
  ASSERT_EQ(rig.Run(kModeScan, *disk).end, OperationEnd::Finished);
  EXPECT_EQ(rig.Device().HighestCylinder(), 1);
  rig.drive->SetDoubleStep(true);
  DriveChannel channel(*rig.drive, 0x301, {});
  EXPECT_TRUE(channel.Seek(41, 0));
  EXPECT_FALSE(channel.Seek(42, 0));
  EXPECT_EQ(channel.LastError(), kErrorSeek);
  EXPECT_EQ(rig.Device().HighestCylinder(), 82);
}

// The simulated drive: a revolution of 200 ms at the speed setting whatever
// the track holds, a speed that changes from a chosen command on, and the
// density pin it is given.
TEST(SimulatedGreaseweazle, TurnsAsADriveDoes) {
  TempDir dir;
  TZX_Disk disk;
  test::FillStandardDisk(disk, 2);
  // Track 1 a recording of 5000 bytes: its own raw track, all gap.
  disk.GetTrack(1).ClearTrack();
  disk.GetTrack(1).SetRaw(std::vector<uint8_t>(5000, 0x4E));
  disk.GetTrack(1).RawValid = 1;
  disk.GetTrack(1).Present = 0xFF;
  const SaveResult saved = SaveImageFile(disk, dir / "short.udi", {});
  ASSERT_TRUE(saved.ok) << saved.errorText;
  FluxRig rig(dir / "short.udi", "speed=0.02,drift=3:-0.01");
  rig.settings.DensitySelect = "high";
  rig.session->Reopen(rig.settings);
  EXPECT_EQ(rig.Device().DensityPin(), 1);
  GreaseweazleLink& link = rig.drive->Link();
  std::vector<uint8_t> stream;
  FluxCapture capture;
  std::string error;
  for (const auto& [head, speed] : {std::pair{0, 0.02}, {1, 0.02}, {1, -0.01}}) {
    ASSERT_TRUE(link.Seek(0) && link.Head(static_cast<uint8_t>(head)) &&
                link.ReadFlux(0, 3, stream) && DecodeFluxStream(stream, capture, error))
        << link.Error() << error;
    EXPECT_NEAR(static_cast<double>(capture.index[2] - capture.index[1]), 14.4e6 / (1 + speed), 2)
        << head << " " << speed;
  }
}

TEST(FluxRead, MediaHelpListsEveryFault) {
  const test::CliRun r = RunCliArgs({"read", "--help"});
  for (const char* item : {"jitter=", "speed=", "drift=", "weak=", "dropout=", "writefault=",
                           "noindex", "wprot", "trk0stuck", "seed=", "overflow=", "underflow="})
    EXPECT_TRUE(Has(r.out, item)) << item;
}

}  // namespace
}  // namespace kelvara::flux
