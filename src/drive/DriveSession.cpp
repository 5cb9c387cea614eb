#include "drive/DriveSession.h"

#include <cstdio>

#include "drive/flux/FluxFloppy.h"
#include "model/ByteReader.h"

namespace kelvara {

namespace {

constexpr uint32_t kVersionMask = 0xFFFF0000;
constexpr uint32_t kSupportedVersion = 0x01000000;
constexpr const char* kDriverLoadError = "  Driver load error";

std::string HexVersion(uint32_t version) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", version);
  return text;
}

// What tells the backends the settings choose apart; the other flux
// settings are taken by the backend in place.
std::string BackendKey(const TSettings& s) {
  if (!s.FluxSimImage.empty()) return "simulated " + s.FluxSimImage + " " + s.FluxBus;
  if (!s.FluxDevice.empty()) return "flux " + s.FluxDevice + " " + s.FluxBus;
  return "controller";
}

}  // namespace

std::unique_ptr<FloppyDriver> BackendFromSettings(const TSettings& settings, std::string& warning) {
  warning.clear();
  if (settings.FluxSimImage.empty() && settings.FluxDevice.empty()) return CreateFloppyDriver("");
  flux::FluxDriveOptions options;
  // A bad environment value is said and left out; the device opens as it can.
  flux::FluxOptionsFromSettings(settings, options, warning);
  return flux::CreateFluxFloppy(std::move(options));
}

void DriveSession::FollowSettings(const TSettings& settings) {
  follows_ = true;
  backendKey_ = BackendKey(settings);
}

DriveSession::DriveSession(std::unique_ptr<FloppyDriver> driver)
    : driver_(std::move(driver)),
      ioBuffer_(std::make_unique<std::array<uint8_t, kIoBufferSize>>()) {}

DriveSession::~DriveSession() {
  if (driveHandle_ != kInvalidHandle) driver_->Close(driveHandle_);
}

bool DriveSession::OpenDrive(const TSettings& settings, DriveOpenReport& report) {
  if (driveHandle_ != kInvalidHandle) driver_->Close(driveHandle_);
  // "A" is the first drive; any other value the second.
  driveHandle_ = driver_->Open(settings.Drive == "A" ? FloppyDevice::Drive0 : FloppyDevice::Drive1);
  if (driveHandle_ == kInvalidHandle) {
    // The backend's reason (permission, busy, no drive) follows on its own line.
    const std::string& reason = driver_->Detail();
    report.messages.push_back("Дисковод " + settings.Drive + " не найден!" +
                              (reason.empty() ? "" : "\n" + reason));
    report.diskMenuEnabled = false;
    return false;
  }
  uint32_t returned = 0;
  const uint8_t rate = settings.Rate;
  if (!driver_->Control(driveHandle_, IOCTL_FD_SET_DATA_RATE, {&rate, 1}, {}, returned)) {
    report.messages.push_back("Ошибка установки скорости передачи!");
    report.diskMenuEnabled = false;
    return false;
  }
  driver_->SetDoubleStep(settings.DoubleStep);
  driver_->SetSettleTime(settings.HeadSettleMs);
  if (auto* f = dynamic_cast<flux::FluxFloppy*>(driver_.get())) {
    flux::FluxDriveOptions options;
    std::string ignored;  // said when the backend was made
    flux::FluxOptionsFromSettings(settings, options, ignored);
    f->TakeOptions(options);
  }
  return true;
}

DriveOpenReport DriveSession::OpenAtStartup(const TSettings& settings) {
  DriveOpenReport report;
  if (driverHandle_ == kInvalidHandle) driverHandle_ = driver_->Open(FloppyDevice::Control);
  if (driverHandle_ == kInvalidHandle) {
    report.messages.push_back("Ошибка загрузки драйвера!");
    report.panel0 = kDriverLoadError;
    report.diskMenuEnabled = false;
    return report;
  }
  std::array<uint8_t, 4> out{};
  uint32_t returned = 0;
  if (!driver_->Control(driverHandle_, IOCTL_FDRAWCMD_GET_VERSION, {}, out, returned)) {
    report.messages.push_back("Ошибка определения версии драйвера!");
    report.panel0 = kDriverLoadError;
    report.diskMenuEnabled = false;
    return report;
  }
  uint32_t version = 0;
  ByteReader(out).U32(version);
  if ((version & kVersionMask) != kSupportedVersion) {
    report.messages.push_back("Версия драйвера не поддерживается!");
    report.panel0 = "  Driver version - not allowed";
    report.diskMenuEnabled = false;
    return report;
  }
  report.panel0 = "  Driver version - " + HexVersion(version);
  driverUsable_ = true;
  OpenDrive(settings, report);
  // Asked also when the drive did not open: the call then fails.
  FD_FDC_INFO info{};
  if (driver_->Control(driveHandle_, IOCTL_FD_GET_FDC_INFO, {},
                       {reinterpret_cast<uint8_t*>(&info), sizeof info}, returned)) {
    report.panel0 += std::string(" / FDC Type - ") + ControllerTypeName(info.ControllerType);
  } else {
    report.messages.push_back("Ошибка получения информации о контроллере FDC!");
    report.panel0 += " / FDC info read error";
    report.diskMenuEnabled = false;
  }
  // A flux device says what it is in its own words.
  if (report.diskMenuEnabled && !driver_->StatusText().empty())
    report.panel0 = "  " + driver_->StatusText();
  return report;
}

DriveOpenReport DriveSession::Reopen(const TSettings& settings) {
  if (follows_ && BackendKey(settings) != backendKey_) {
    // Another device: the old one let go, the new one opened as at start-up.
    if (driveHandle_ != kInvalidHandle) driver_->Close(driveHandle_);
    if (driverHandle_ != kInvalidHandle) driver_->Close(driverHandle_);
    driveHandle_ = driverHandle_ = kInvalidHandle;
    driverUsable_ = false;
    backendKey_ = BackendKey(settings);
    std::string warning;
    driver_ = BackendFromSettings(settings, warning);
    DriveOpenReport report = OpenAtStartup(settings);
    if (!warning.empty()) report.messages.insert(report.messages.begin(), warning);
    return report;
  }
  DriveOpenReport report;
  if (!driverUsable_) {
    report.diskMenuEnabled = false;
    return report;
  }
  OpenDrive(settings, report);
  return report;
}

DriveChannel DriveSession::Channel() {
  return DriveChannel(*driver_, driveHandle_, *ioBuffer_);
}

DriveRunPlan DriveSession::Plan(int mode, TZX_Disk& disk, const TSettings& settings) const {
  return StartDriveOperation(mode, disk, settings);
}

OperationResult DriveSession::Run(const DriveRunPlan& plan, TZX_Disk& disk,
                                  const TSettings& settings, OperationHost& host) {
  if (disk.View()) disk.View()->ScrollToTopAndRepaint();
  host.SetProgress(0, plan.progressMax);
  if (plan.mode >= kModeFormat) driver_->PrepareForWriting(disk);
  DriveChannel drive = Channel();
  return plan.mode < kModeFormat ? RunReadOperation(drive, disk, plan, settings.RetryCount, host)
                                 : RunWriteOperation(drive, disk, plan, settings.RetryCount, host);
}

bool DriveSession::CanKeepWrittenDisk(std::string& error) {
  if (!driver_->CanWrite(error)) return false;
  std::string path;
  if (const VirtualFloppy* v = Virtual()) {
    path = v->ImagePath();
  } else if (auto* f = dynamic_cast<flux::FluxFloppy*>(driver_.get())) {
    path = f->SimulatedImage();
  }
  if (path.empty() || FindImageFormat(ExtensionKey(path))) return true;
  error = "virtual disk " + path + ": " + kUnsupportedFileText;
  return false;
}

bool DriveSession::KeepWrittenDisk(const TSettings& settings, std::string& error) {
  SaveOptions options;
  options.restoreTrack = settings.RestoreTrack;
  options.td0Compress = settings.TD0arch;
  if (auto* f = dynamic_cast<flux::FluxFloppy*>(driver_.get()))
    return f->SaveSimulatedDisk(options, error);
  VirtualFloppy* v = Virtual();
  if (!v) return true;
  if (v->SaveDisk(v->ImagePath(), options, error)) return true;
  error = "virtual disk " + v->ImagePath() + ": " + error;
  return false;
}

bool DriveSession::ResetController(OperationHost& host) {
  DriveChannel drive = Channel();
  return ResetControllerToZero(drive, host);
}

DriveCatalogRead DriveSession::ReadCatalog(OperationHost& host, const CatalogParse& parse) {
  DriveChannel drive = Channel();
  return ReadDriveCatalog(drive, host, parse);
}

}  // namespace kelvara
