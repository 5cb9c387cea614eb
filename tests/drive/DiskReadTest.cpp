// The checks before a run and the reading run, against the virtual drive
// (and a scripted driver for answers no real disk gives).
#include <gtest/gtest.h>

#include <cstring>

#include "drive/DriveRig.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::AddSector;
using test::DriveRig;
using test::FillStandardDisk;
using test::PatternBytes;

constexpr const char* kLowered =
    "Конечная дорожка превышает число дорожек в образе!\r"
    "   Будет обработано число существующих дорожек!   ";

TEST(DrivePlan, RangeChecksOfEveryCommand) {
  DriveRig rig;
  rig.settings.FirstTrack = 10;
  rig.settings.LastTrack = 5;
  FillStandardDisk(*rig.image, 20);
  for (int mode : {2, 4, 6, 8, 16, 24}) {
    const DriveRunPlan plan = rig.session.Plan(mode, *rig.image, rig.settings);
    EXPECT_FALSE(plan.start) << mode;
    EXPECT_EQ(plan.messages, std::vector<std::string>{"Начальная дорожка больше конечной..."});
  }

  // Reading by labels needs tracks and says nothing without them; scanning
  // takes the range as set, whatever the image holds.
  rig.image->ClearImage();
  rig.settings.FirstTrack = 0;
  rig.settings.LastTrack = 159;
  DriveRunPlan plan = rig.session.Plan(kModeRead, *rig.image, rig.settings);
  EXPECT_FALSE(plan.start);
  EXPECT_TRUE(plan.messages.empty());
  plan = rig.session.Plan(kModeScan, *rig.image, rig.settings);
  EXPECT_TRUE(plan.start);
  EXPECT_EQ(plan.lastTrack, 159);
  EXPECT_EQ(plan.caption, "Сканирование дорожек диска");

  // The writers lower the end to the image and stop on an empty one.
  plan = rig.session.Plan(kModeFormat, *rig.image, rig.settings);
  EXPECT_FALSE(plan.start);
  EXPECT_EQ(plan.messages, std::vector<std::string>{kLowered});

  // 80 present tracks counted, not the highest index: 0..39 and 100..139.
  FillStandardDisk(*rig.image, 40);
  for (int t = 100; t < 140; ++t)
    AddSector(*rig.image, static_cast<uint8_t>(t), 50, 0, 1, 1, PatternBytes(256, t));
  plan = rig.session.Plan(kModeRead, *rig.image, rig.settings);
  EXPECT_TRUE(plan.start);
  EXPECT_EQ(plan.messages, std::vector<std::string>{kLowered});
  EXPECT_EQ(plan.lastTrack, 79);
  EXPECT_EQ(plan.progressMax, 79);
  EXPECT_EQ(rig.session.Plan(kModeWrite, *rig.image, rig.settings).progressMax, 80);

  // The command line's progress counts the tracks of the run, not the disk.
  FillStandardDisk(*rig.image, 160);
  rig.settings.LastTrack = 40;
  plan = rig.session.Plan(kModeWrite, *rig.image, rig.settings);
  EXPECT_EQ(ProgressOfRun(plan, 41).done, 41);
  EXPECT_EQ(ProgressOfRun(plan, 41).total, 41);
}

TEST(DiskRead, ScanOfAnEmptyImageVisitsEveryTrackAndReadsNothing) {
  DriveRig rig;
  FillStandardDisk(rig.Disk(), 160);
  const OperationResult r = rig.Run(kModeScan);
  EXPECT_EQ(r.end, OperationEnd::Finished);
  EXPECT_EQ(rig.drive.CallCount(DriveCall::Scan), 160);
  EXPECT_EQ(rig.drive.CallCount(DriveCall::Seek), 161);  // the restart's seek to 0 first
  EXPECT_EQ(rig.drive.CallCount(DriveCall::Read), 0);
  EXPECT_EQ(rig.image->CountTracks(), 160);
  const TSectorRec& s = rig.image->GetTrack(33).Sectors[15];
  EXPECT_EQ(s.Sec, 16);
  EXPECT_EQ(s.Cyl, 16);
  EXPECT_EQ(s.HeaderCrc, IdFieldCrc(16, 0, 16, 1));
  EXPECT_EQ(s.DataLength(), 0);
  EXPECT_EQ(rig.host.progress, 160);
  EXPECT_EQ(rig.host.LogTexts().back(), "Операция выполнена!");
  EXPECT_EQ(rig.image->GetTrack(0).Log,
            (std::vector<std::string>{"Начало сканирования дорожки.", "Данные приняты - 65 bytes",
                                      "Дорожка просканирована. Найдено 16 секторов."}));
}

TEST(DiskRead, ScanReplacesOnlyTheIdFieldsItFinds) {
  DriveRig rig;
  rig.settings.LastTrack = 2;
  // Track 0: one ID on the disk. Track 1: nine on the disk, ten in the image.
  AddSector(rig.Disk(), 0, 9, 9, 9, 1, PatternBytes(256, 1));
  for (int r = 1; r <= 9; ++r)
    AddSector(rig.Disk(), 1, 0, 1, static_cast<uint8_t>(r + 20), 1, PatternBytes(256, r));
  TZX_Disk& image = *rig.image;
  AddSector(image, 0, 0, 0, 1, 1, PatternBytes(256, 7));
  for (int r = 1; r <= 10; ++r) {
    TSectorRec& s =
        AddSector(image, 1, 0, 0, static_cast<uint8_t>(r), 1, PatternBytes(256, 40 + r), r != 4);
    s.ErrorCount = static_cast<uint8_t>(r);
  }
  image.GetTrack(1).SetRaw(PatternBytes(6256, 5));
  const std::vector<uint8_t> rawBefore = PatternBytes(6256, 5);

  rig.Run(kModeScan);
  const TTrack& t0 = image.GetTrack(0);
  EXPECT_EQ(t0.Sectors[0].Cyl, 0);
  EXPECT_EQ(t0.Sectors[0].Sec, 1);
  EXPECT_EQ(t0.Log.back(), "Данные приняты - 5 bytes");

  const TTrack& t1 = image.GetTrack(1);
  for (int i = 0; i < 9; ++i) {
    const TSectorRec& s = t1.Sectors[i];
    EXPECT_EQ(s.Sec, i + 21);
    EXPECT_EQ(s.Head, 1);
    EXPECT_EQ(s.HeaderCrc, IdFieldCrc(0, 1, static_cast<uint8_t>(i + 21), 1));
    // Data, their state and the error count stay with the slot.
    EXPECT_EQ(s.ErrorCount, i + 1);
    EXPECT_EQ(s.DataOk != 0, i != 3);
    EXPECT_EQ(std::vector<uint8_t>(s.Data().begin(), s.Data().begin() + 256),
              PatternBytes(256, 41 + i));
  }
  EXPECT_EQ(t1.Sectors[9].Sec, 10);
  EXPECT_EQ(t1.RawLength(), 6256);
  EXPECT_TRUE(std::ranges::equal(t1.RawData(), rawBefore));

  // Track 2 has nothing on the disk: the failure is logged, selected.
  EXPECT_TRUE(rig.host.Logged("Ошибка сканирования - 1122 (Track - 2)", true));
  EXPECT_FALSE(image.GetTrack(2).Present);
}

TEST(DiskRead, BadSectorsAreLoggedCountedAndMarked) {
  DriveRig rig;
  rig.settings.LastTrack = 3;
  FillStandardDisk(rig.Disk(), 4);
  rig.Disk().GetTrack(1).Sectors[2].DataOk = 0;    // sector 3
  rig.Disk().GetTrack(3).Sectors[15].ClearData();  // sector 16 has no data field

  const OperationResult r = rig.Run(kModeScan | kModeRead);
  EXPECT_EQ(r.end, OperationEnd::Finished);
  EXPECT_EQ(r.badSectors, 2);
  const std::string bad1 = "Ошибка чтения сектора  - 23 (Track - 1 / Sector - 3)";
  const std::string bad2 = "Ошибка чтения сектора  - 27 (Track - 3 / Sector - 16)";
  EXPECT_TRUE(rig.host.Logged(bad1, true));
  EXPECT_TRUE(rig.host.Logged(bad2, true));
  const auto log = rig.host.LogTexts();
  EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()),
            (std::vector<std::string>{"Операция выполнена!", "Сбойных секторов - 2"}));
  EXPECT_EQ(rig.image->GetTrack(1).Log.back(), bad1);

  const TSectorRec& s = rig.image->GetTrack(1).Sectors[2];
  EXPECT_EQ(s.DataOk, 0);
  EXPECT_EQ(s.ErrorCount, 1);
  EXPECT_EQ(s.DataLength(), 0);
  // Each sector is tried RetryCount times: 10 for each of the two bad ones.
  EXPECT_EQ(rig.drive.CallCount(DriveCall::Read), 64 - 2 + 20);

  // A second run over the same image adds to the counts.
  rig.settings.FirstTrack = 1;
  rig.settings.LastTrack = 1;
  rig.Run(kModeRead);
  EXPECT_EQ(rig.image->GetTrack(1).Sectors[2].ErrorCount, 2);
  EXPECT_EQ(rig.host.LogTexts().back(), "Сбойных секторов - 1");
}

TEST(DiskRead, RetriesCancelAndZeroRetryCount) {
  DriveRig rig;
  rig.settings.LastTrack = 0;
  FillStandardDisk(rig.Disk(), 1);
  FillStandardDisk(*rig.image, 1);
  rig.image->GetTrack(0).Sectors[0].DataOk = 0;

  // Three failures, then the fourth attempt reads the sector.
  rig.drive.AddFault({DriveCall::Read, 1, 3, kErrorCrc});
  OperationResult r = rig.Run(kModeRead);
  EXPECT_EQ(r.badSectors, 0);
  EXPECT_EQ(rig.image->GetTrack(0).Sectors[0].DataOk, 0xFF);
  EXPECT_EQ(rig.drive.CallCount(DriveCall::Read), 16 + 3);
  EXPECT_EQ(rig.host.LogTexts().back(), "Операция выполнена!");

  // Cancel pressed during the retries of the second sector: the attempt in
  // hand ends the run, and what was read before stays.
  rig.drive.AddFault({DriveCall::Read, 21, 40, kErrorCrc});
  rig.image->GetTrack(0).Sectors[1].ClearData();
  rig.host.events = 0;
  rig.host.cancelAfterEvents = 3;
  r = rig.Run(kModeRead);
  EXPECT_EQ(r.end, OperationEnd::Cancelled);
  EXPECT_EQ(rig.drive.CallCount(DriveCall::Read), 19 + 3);
  EXPECT_EQ(rig.host.LogTexts(),
            (std::vector<std::string>{"Начало операции!", "Операция отменена пользователем!"}));
  EXPECT_EQ(rig.image->GetTrack(0).Sectors[1].DataLength(), 0);

  // RetryCount 0: no read is tried and every sector is logged as failed.
  rig.host.cancelAfterEvents = -1;
  rig.settings.RetryCount = 0;
  r = rig.Run(kModeRead);
  EXPECT_EQ(r.badSectors, 16);
  EXPECT_EQ(rig.drive.CallCount(DriveCall::Read), 22);
  EXPECT_TRUE(rig.host.Logged("Ошибка чтения сектора  - 0 (Track - 0 / Sector - 16)", true));
}

TEST(DiskRead, FailedResetOrSeekStopsTheRun) {
  DriveRig rig;
  FillStandardDisk(rig.Disk(), 10);
  rig.settings.LastTrack = 9;
  rig.drive.AddFault({DriveCall::Reset, 1, 1, 1117});
  rig.Run(kModeScan | kModeRead);
  EXPECT_EQ(rig.host.MessageTexts(),
            std::vector<std::string>{"Ошибка сброса контроллера - (1117)!"});
  EXPECT_EQ(rig.host.LogTexts(), (std::vector<std::string>{"Ошибка сброса контроллера - (1117)!",
                                                           "Операция остановлена!"}));

  // Seeks: 1 = the restart, 2..5 = tracks 0..3, 6 = track 4 fails.
  rig.drive.AddFault({DriveCall::Seek, 6, 6, kErrorSeek});
  const OperationResult r = rig.Run(kModeScan | kModeRead);
  EXPECT_EQ(r.end, OperationEnd::Stopped);
  EXPECT_EQ(rig.host.MessageTexts().back(), "Ошибка позиционирования - (25)!");
  EXPECT_NE(rig.host.LogTexts().back(), "Операция выполнена!");
  EXPECT_EQ(rig.image->CountTracks(), 4);
  EXPECT_EQ(rig.host.messages.back().first, "Ошибка!");

  // A last track beyond the image's 168 is refused before anything moves.
  rig.settings.LastTrack = 200;
  EXPECT_EQ(rig.Run(kModeScan).end, OperationEnd::Stopped);
  EXPECT_EQ(rig.host.MessageTexts().back(), "Число дорожек превышает 166 ...");
  EXPECT_EQ(rig.drive.CallCount(DriveCall::Reset), 2);
}

// Answers the scan and the read as a test sets them.
class ScriptedDriver final : public FloppyDriver {
 public:
  ScriptedDriver() : FloppyDriver({6, 1, 87}) {}
  std::vector<FD_ID_HEADER> headers;
  uint32_t readBytes = 0;  // 0: the sector's size

  DeviceHandle Open(FloppyDevice device) override {
    return device == FloppyDevice::Control ? 1 : 2;
  }
  void Close(DeviceHandle) override {}

 protected:
  bool IsControlHandle(DeviceHandle h) const override { return h == 1; }
  bool IsDriveHandle(DeviceHandle h) const override { return h == 2; }
  bool GetVersion(uint32_t& v) override {
    v = 0x01000000;
    return Succeed();
  }
  bool SetDataRate(DeviceHandle, uint8_t) override { return Succeed(); }
  bool GetFdcInfo(DeviceHandle, FD_FDC_INFO&) override { return Succeed(); }
  bool ResetController(DeviceHandle) override { return Succeed(); }
  bool Seek(DeviceHandle, const FD_SEEK_PARAMS&) override { return Succeed(); }
  bool ScanTrack(DeviceHandle, const FD_SCAN_PARAMS&, std::span<uint8_t> out,
                 uint32_t& bytes) override {
    out[0] = static_cast<uint8_t>(headers.size());
    std::memcpy(out.data() + 1, headers.data(), 4 * headers.size());
    bytes = static_cast<uint32_t>(1 + 4 * headers.size());
    return Succeed();
  }
  bool ReadData(DeviceHandle, const FD_READ_WRITE_PARAMS& p, std::span<uint8_t> out,
                uint32_t& bytes) override {
    bytes = readBytes ? readBytes : 128u << p.size;
    std::fill(out.begin(), out.begin() + bytes, p.sector);
    return Succeed();
  }
  bool WriteData(DeviceHandle, const FD_READ_WRITE_PARAMS&, std::span<const uint8_t>) override {
    return Succeed();
  }
  bool FormatTrack(DeviceHandle, const FD_FORMAT_PARAMS&) override { return Succeed(); }
};

TEST(DiskRead, AnswersBeyondWhatASlotHolds) {
  auto owned = std::make_unique<ScriptedDriver>();
  ScriptedDriver& driver = *owned;
  DriveSession session(std::move(owned));
  TSettings settings;
  settings.LastTrack = 0;
  session.OpenAtStartup(settings);
  test::FakeOperationHost host;
  auto image = std::make_unique<TZX_Disk>();

  // 25 ID fields: the first 20 are kept.
  for (int r = 1; r <= 25; ++r)
    driver.headers.push_back({0, 0, static_cast<uint8_t>(r), r == 2 ? uint8_t{4} : uint8_t{1}});
  session.Run(session.Plan(kModeScan | kModeRead, *image, settings), *image, settings, host);
  const TTrack& t = image->GetTrack(0);
  EXPECT_EQ(t.SectorCount, 20);
  EXPECT_EQ(t.Sectors[19].Sec, 20);
  EXPECT_TRUE(
      host.Logged("Найдено меток секторов - 25, в образ записаны первые 20 (Track - 0)", true));
  EXPECT_EQ(t.Log[3], "Дорожка просканирована. Найдено 20 секторов.");
  // A 2048-byte sector keeps its first 1100 bytes.
  EXPECT_EQ(t.Sectors[1].DataLength(), kSectorDataSize);
  EXPECT_EQ(t.Sectors[1].DataOk, 0xFF);
  EXPECT_TRUE(host.Logged(
      "Сектор 2 длиной 2048 byte сохранён не полностью - 1100 byte (Track - 0 / Sector - 2)",
      true));

  // A short answer is logged; the missing bytes are zeros, not the buffer's
  // leftovers from the sector before.
  driver.readBytes = 100;
  session.Run(session.Plan(kModeRead, *image, settings), *image, settings, host);
  EXPECT_TRUE(
      host.Logged("Длинна сектора - 256 byte не равна колличеству считанных байтов - 100", true));
  const TSectorRec& s = t.Sectors[4];
  EXPECT_EQ(s.DataLength(), 256);
  EXPECT_EQ(s.Data()[99], 5);
  EXPECT_EQ(s.Data()[100], 0);
  EXPECT_EQ(s.Data()[255], 0);
}

// A driver without the timed scan: a fast read is the plain scan and the
// per-sector reads.
TEST(DiskRead, FastReadOnADriverWithoutTheTimedScan) {
  auto owned = std::make_unique<ScriptedDriver>();
  ScriptedDriver& driver = *owned;
  DriveSession session(std::move(owned));
  TSettings settings;
  settings.LastTrack = 1;
  session.OpenAtStartup(settings);
  test::FakeOperationHost host;
  auto image = std::make_unique<TZX_Disk>();
  for (uint8_t r = 1; r <= 3; ++r)
    driver.headers.push_back({0, 0, r, 1});
  DriveRunPlan plan = session.Plan(kModeScan | kModeRead, *image, settings);
  plan.fastRead = true;
  const OperationResult r = session.Run(plan, *image, settings, host);
  EXPECT_EQ(r.end, OperationEnd::Finished);
  EXPECT_EQ(r.succeededCalls, 2 * (1 + 3));  // each track: a scan, three reads
  EXPECT_EQ(image->GetTrack(1).Sectors[2].Data()[0], 3);
}

// The label of a track new to the image is drawn present, so a run on an
// empty image shows its labels as it goes.
TEST(DiskRead, ScanRedrawsTheTrackThenEachCell) {
  struct Recorder : DiskView {
    std::vector<std::string> calls;
    const TZX_Disk* disk = nullptr;
    void ScrollToTopAndRepaint() override { calls.push_back("top"); }
    void RefreshSectorCell(uint8_t t, uint8_t s) override {
      calls.push_back(std::to_string(t) + "." + std::to_string(s));
    }
    void RefreshTrackCell(uint8_t t) override {
      calls.push_back(std::to_string(t) + (disk->GetTrack(t).Present ? "" : " absent"));
    }
  } view;
  DriveRig rig;
  rig.settings.LastTrack = 0;
  for (int r = 1; r <= 2; ++r)
    AddSector(rig.Disk(), 0, 0, 0, static_cast<uint8_t>(r), 1, PatternBytes(256, r));
  view.disk = rig.image.get();
  rig.image->SetView(&view);
  rig.Run(kModeScan | kModeRead);
  EXPECT_EQ(view.calls, (std::vector<std::string>{"top", "0", "0.0", "0.1", "0.0", "0.1"}));
}

}  // namespace
}  // namespace kelvara
