// Opening the driver and the drive at start-up and after a settings change,
// the controller reset and the catalog read straight from the drive.
#include <gtest/gtest.h>

#include "drive/DriveRig.h"
#include "drive/flux/FluxFloppy.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::FakeOperationHost;
using test::FillStandardDisk;

struct Opened {
  std::unique_ptr<DriveSession> session;
  VirtualFloppy* drive;
  DriveOpenReport report;
};

Opened OpenVirtual(const TSettings& settings, uint32_t version = kVirtualDriverVersion,
                   std::vector<DriveFault> faults = {}) {
  auto owned = std::make_unique<VirtualFloppy>();
  VirtualFloppy* drive = owned.get();
  drive->Options().version = version;
  for (const DriveFault& f : faults)
    drive->AddFault(f);
  auto session = std::make_unique<DriveSession>(std::move(owned));
  DriveOpenReport report = session->OpenAtStartup(settings);
  return {std::move(session), drive, std::move(report)};
}

// A session whose backend the settings choose takes the device the settings
// dialog names at once: the simulated Greaseweazle, opened as at start-up.
TEST(DriveOpening, TheSettingsDialogChoosesTheSimulatedDeviceAtOnce) {
  test::TempDir dir;
  TSettings settings;
  DriveSession session(std::make_unique<VirtualFloppy>());
  session.OpenAtStartup(settings);
  session.FollowSettings(settings);
  settings.FluxSimImage = dir / "sim.trd";
  const DriveOpenReport r = session.Reopen(settings);
  EXPECT_TRUE(r.diskMenuEnabled) << testing::PrintToString(r.messages);
  EXPECT_NE(r.panel0.find("(simulated, " + settings.FluxSimImage + ")"), std::string::npos)
      << r.panel0;
  EXPECT_NE(dynamic_cast<flux::FluxFloppy*>(&session.Driver()), nullptr);
  EXPECT_TRUE(session.DriveValid());
}

TEST(DriveOpening, DriverVersionMustBeOnePointZero) {
  const TSettings settings;
  for (uint32_t version : {0x01000000u, 0x0100FFFFu}) {
    const Opened o = OpenVirtual(settings, version);
    EXPECT_TRUE(o.report.messages.empty());
    EXPECT_TRUE(o.report.diskMenuEnabled);
    EXPECT_TRUE(o.session->DriveValid());
    char expected[64];
    std::snprintf(expected, sizeof expected, "  Driver version - %08X / FDC Type - 82077AA",
                  version);
    EXPECT_EQ(o.report.panel0, expected);
  }
  for (uint32_t version : {0x00FF0000u, 0x01010000u}) {
    const Opened o = OpenVirtual(settings, version);
    EXPECT_EQ(o.report.messages, std::vector<std::string>{"Версия драйвера не поддерживается!"});
    EXPECT_EQ(o.report.panel0, "  Driver version - not allowed");
    EXPECT_FALSE(o.report.diskMenuEnabled);
    EXPECT_EQ(o.drive->CallCount(DriveCall::OpenDrive), 0);
  }
}

TEST(DriveOpening, EachFailureHasItsMessageAndPanelText) {
  const TSettings settings;
  Opened o = OpenVirtual(settings, kVirtualDriverVersion, {{DriveCall::OpenDriver, 1, 1, 2}});
  EXPECT_EQ(o.report.messages, std::vector<std::string>{"Ошибка загрузки драйвера!"});
  EXPECT_EQ(o.report.panel0, "  Driver load error");
  EXPECT_FALSE(o.report.diskMenuEnabled);
  EXPECT_EQ(o.drive->CallCount(DriveCall::OpenDrive), 0);
  // A driver that never loaded is not made usable by the settings dialog.
  const DriveOpenReport again = o.session->Reopen(settings);
  EXPECT_FALSE(again.diskMenuEnabled);
  EXPECT_TRUE(again.messages.empty());
  EXPECT_EQ(o.drive->CallCount(DriveCall::OpenDrive), 0);

  o = OpenVirtual(settings, kVirtualDriverVersion, {{DriveCall::Version, 1, 1, 50}});
  EXPECT_EQ(o.report.messages, std::vector<std::string>{"Ошибка определения версии драйвера!"});
  EXPECT_EQ(o.report.panel0, "  Driver load error");

  o = OpenVirtual(settings, kVirtualDriverVersion, {{DriveCall::OpenDrive, 1, 1, 2}});
  EXPECT_EQ(o.report.messages,
            (std::vector<std::string>{"Дисковод A не найден!",
                                      "Ошибка получения информации о контроллере FDC!"}));
  EXPECT_EQ(o.report.panel0, "  Driver version - 01000100 / FDC info read error");
  EXPECT_FALSE(o.report.diskMenuEnabled);
  EXPECT_FALSE(o.session->DriveValid());
  EXPECT_EQ(o.drive->CallCount(DriveCall::SetDataRate), 0);

  o = OpenVirtual(settings, kVirtualDriverVersion, {{DriveCall::SetDataRate, 1, 1, 87}});
  EXPECT_EQ(o.report.messages, std::vector<std::string>{"Ошибка установки скорости передачи!"});
  EXPECT_EQ(o.report.panel0, "  Driver version - 01000100 / FDC Type - 82077AA");
  EXPECT_FALSE(o.report.diskMenuEnabled);
}

TEST(DriveOpening, DriveAndRateFollowTheSettings) {
  TSettings settings;
  settings.Drive = "B";
  settings.Rate = FD_RATE_500K;
  Opened o = OpenVirtual(settings);
  EXPECT_EQ(o.drive->OpenedDrive(), FloppyDevice::Drive1);
  EXPECT_EQ(o.drive->DataRate(), 0);

  // Any value but "A" is the second drive; the dialog's "1M" is code 3.
  settings.Drive = "C";
  settings.Rate = static_cast<uint8_t>(DataRateCode("1M"));
  DriveOpenReport r = o.session->Reopen(settings);
  EXPECT_TRUE(r.diskMenuEnabled);
  EXPECT_TRUE(r.panel0.empty());
  EXPECT_EQ(o.drive->OpenedDrive(), FloppyDevice::Drive1);
  EXPECT_EQ(o.drive->DataRate(), 3);
  EXPECT_EQ(o.drive->CallCount(DriveCall::Version), 1);
  EXPECT_EQ(o.drive->CallCount(DriveCall::FdcInfo), 1);

  settings.Drive = "A";
  o.drive->AddFault({DriveCall::SetDataRate, 3, 3, 31});
  r = o.session->Reopen(settings);
  EXPECT_EQ(o.drive->OpenedDrive(), FloppyDevice::Drive0);
  EXPECT_EQ(r.messages, std::vector<std::string>{"Ошибка установки скорости передачи!"});
  EXPECT_FALSE(r.diskMenuEnabled);
}

TEST(DriveController, ResetLeavesTheHeadOnCylinderZero) {
  test::DriveRig rig;
  rig.settings.FirstTrack = 100;
  rig.settings.LastTrack = 100;
  rig.Run(kModeScan);
  ASSERT_EQ(rig.drive.Cylinder(), 50);
  FakeOperationHost host;
  EXPECT_TRUE(rig.session.ResetController(host));
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(rig.drive.Cylinder(), 0);

  rig.drive.AddFault({DriveCall::Reset, 3, 3, 1117});
  rig.drive.AddFault({DriveCall::Seek, 4, 4, kErrorSeek});
  EXPECT_FALSE(rig.session.ResetController(host));
  EXPECT_FALSE(rig.session.ResetController(host));  // seek 4, to 0: never past cylinder 0
  EXPECT_EQ(host.MessageTexts(), (std::vector<std::string>{"Ошибка сброса контроллера - (1117)!",
                                                           "Ошибка позиционирования - (25)!"}));
}

TEST(DriveCatalog, ReadsTrackZeroAndHandsSectorsOneToTenToTheParse) {
  test::DriveRig rig;
  FillStandardDisk(rig.Disk(), 2, 9);
  FillStandardDisk(*rig.image, 3, 4);
  rig.host.AddLog("старая строка", false);
  std::vector<uint8_t> seen;
  const DriveCatalogRead read = rig.session.ReadCatalog(rig.host, [&](std::span<const uint8_t> b) {
    seen.assign(b.begin(), b.end());
    return true;
  });
  EXPECT_TRUE(read.ok);
  ASSERT_EQ(seen.size(), 2560u);
  for (int r = 1; r <= 10; ++r) {
    const TSectorRec& s = rig.Disk().GetTrack(0).Sectors[r - 1];
    EXPECT_TRUE(std::equal(s.Data().begin(), s.Data().begin() + 256, seen.begin() + (r - 1) * 256))
        << "sector " << r;
  }
  const TSectorRec& s16 = rig.Disk().GetTrack(0).Sectors[15];
  EXPECT_TRUE(std::equal(s16.Data().begin(), s16.Data().begin() + 256, read.buffer.begin() + 3840));
  EXPECT_TRUE(rig.host.log.empty());
  EXPECT_TRUE(rig.host.messages.empty());
  EXPECT_EQ(rig.drive.Cylinder(), 0);
  EXPECT_EQ(rig.image->CountTracks(), 3);  // the image is never touched

  // Not a TR-DOS catalog: the parse says no.
  const auto refuse = [](std::span<const uint8_t>) { return false; };
  EXPECT_FALSE(rig.session.ReadCatalog(rig.host, refuse).ok);
  EXPECT_EQ(rig.host.MessageTexts().back(), "Диск не соответствует формату TR-DOS!.");
}

TEST(DriveCatalog, ReadFailuresAfterFiveAttempts) {
  test::DriveRig rig;
  const auto accept = [](std::span<const uint8_t>) { return true; };
  rig.drive.EjectDisk();
  EXPECT_FALSE(rig.session.ReadCatalog(rig.host, accept).ok);
  EXPECT_EQ(rig.drive.CallCount(DriveCall::Read), 5);
  EXPECT_EQ(rig.host.MessageTexts(), std::vector<std::string>{"Ошибка - 21 при чтении 0 дорожки!"});
  EXPECT_EQ(rig.host.events, 0);

  // A DOS disk: nine 512-byte sectors, no 256-byte sector 1.
  TZX_Disk& dos = rig.drive.InsertDisk();
  for (int r = 1; r <= 9; ++r)
    test::AddSector(dos, 0, 0, 0, static_cast<uint8_t>(r), 2, test::PatternBytes(512, r));
  EXPECT_FALSE(rig.session.ReadCatalog(rig.host, accept).ok);
  EXPECT_EQ(rig.host.MessageTexts().back(), "Ошибка - 27 при чтении 0 дорожки!");

  // A fault on the first four attempts: the fifth reads the catalog.
  FillStandardDisk(dos, 1);
  rig.drive.AddFault({DriveCall::Read, 11, 14, kErrorCrc});
  EXPECT_TRUE(rig.session.ReadCatalog(rig.host, accept).ok);
}

}  // namespace
}  // namespace kelvara
