// The drive layer for the whole run of a program: the driver backend, the
// driver and drive handles, the 32 KiB transfer buffer, the opening at
// start-up and after the settings change, and the operations the menus
// start. The desktop program and kelvara-cli host the same session.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "drive/DriveOperations.h"
#include "drive/FloppyDriver.h"
#include "drive/OperationHost.h"
#include "drive/VirtualFloppy.h"
#include "model/SettingsRecord.h"
#include "model/ZXDisk.h"

namespace kelvara {

struct DriveOpenReport {
  std::vector<std::string> messages;  // each shown in an "Ошибка!" box, in order
  std::string panel0;                 // status-bar panel 0; Reopen leaves it empty = unchanged
  bool diskMenuEnabled = true;
};

// What the main window asks of the drive: opening the driver and the drive
// at start-up, re-opening the drive after the settings dialog, whether a
// drive is open, and the operations of the "Диск" and "Контроллер" menus.
// The program runs it on its DriveSession; window tests put a scripted drive
// in its place.
class DriveLink {
 public:
  virtual ~DriveLink() = default;
  virtual DriveOpenReport OpenAtStartup(const TSettings& settings) = 0;
  virtual DriveOpenReport Reopen(const TSettings& settings) = 0;
  virtual bool DriveValid() const = 0;
  virtual OperationResult Run(const DriveRunPlan& plan, TZX_Disk& disk, const TSettings& settings,
                              OperationHost& host) = 0;
  virtual bool CanKeepWrittenDisk(std::string& error) = 0;
  virtual bool KeepWrittenDisk(const TSettings& settings, std::string& error) = 0;
  virtual bool ResetController(OperationHost& host) = 0;
  virtual DriveCatalogRead ReadCatalog(OperationHost& host, const CatalogParse& parse) = 0;
};

// The backend the settings choose: a simulated Greaseweazle holding
// FluxSimImage, a Greaseweazle on FluxDevice, else the floppy controller
// (or the virtual drive of KELVARA_VIRTUAL_DRIVE). `warning` says what of the
// environment could not be taken.
std::unique_ptr<FloppyDriver> BackendFromSettings(const TSettings& settings, std::string& warning);

class DriveSession : public DriveLink {
 public:
  explicit DriveSession(std::unique_ptr<FloppyDriver> driver);
  ~DriveSession() override;
  DriveSession(const DriveSession&) = delete;
  DriveSession& operator=(const DriveSession&) = delete;

  // Opens the driver, checks its version, opens the drive of setting
  // `Drive`, sets the data rate of `Rate` and asks the controller type.
  DriveOpenReport OpenAtStartup(const TSettings& settings) override;
  // After the settings dialog: the drive of the new `Drive` at the new
  // `Rate`; the version and controller are not asked again. Without a
  // usable driver (start-up failed before the drive) nothing is opened and
  // the menu stays disabled.
  DriveOpenReport Reopen(const TSettings& settings) override;
  bool DriveValid() const override { return driveHandle_ != kInvalidHandle; }

  FloppyDriver& Driver() { return *driver_; }
  // The backend follows the settings: when the settings dialog chooses
  // another device (BackendFromSettings), Reopen puts it in place and opens
  // it as at start-up. Off for a backend the command line chose.
  void FollowSettings(const TSettings& settings);

  // The checks of a "Диск" menu command (mode 2, 4, 6, 8, 16 or 24).
  DriveRunPlan Plan(int mode, TZX_Disk& disk, const TSettings& settings) const;
  // Runs a plan the checks allowed, as the progress window does once shown:
  // the map scrolled to the top, the progress reset, then the reading or
  // the writing run by mode.
  OperationResult Run(const DriveRunPlan& plan, TZX_Disk& disk, const TSettings& settings,
                      OperationHost& host) override;

  // The virtual drive when the session runs on one; nullptr otherwise.
  VirtualFloppy* Virtual() { return dynamic_cast<VirtualFloppy*>(driver_.get()); }
  // Before a writing run: the disk of a virtual drive is saved back to its
  // file afterwards, so a file type that cannot be written is refused before
  // anything is done. True for a real drive; false with the reason in error.
  bool CanKeepWrittenDisk(std::string& error) override;
  // After a writing run: the virtual drive's disk saved back to its file, as
  // a real disk keeps what was written. True for a real drive.
  bool KeepWrittenDisk(const TSettings& settings, std::string& error) override;

  // "Сбросить FDD контроллер".
  bool ResetController(OperationHost& host) override;
  // "Считать ZX каталог".
  DriveCatalogRead ReadCatalog(OperationHost& host, const CatalogParse& parse) override;

 private:
  DriveChannel Channel();
  // Opens the drive of `Drive` and sets `Rate`, adding the messages of a
  // failure; true when both succeeded.
  bool OpenDrive(const TSettings& settings, DriveOpenReport& report);

  std::unique_ptr<FloppyDriver> driver_;
  DeviceHandle driverHandle_ = kInvalidHandle;
  DeviceHandle driveHandle_ = kInvalidHandle;
  bool driverUsable_ = false;  // opened, and its version accepted
  bool follows_ = false;       // the settings choose the backend
  std::string backendKey_;     // which backend the settings chose
  std::unique_ptr<std::array<uint8_t, kIoBufferSize>> ioBuffer_;
};

}  // namespace kelvara
