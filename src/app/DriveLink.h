// The main window's one seam to the floppy drive layer: opening the driver
// and the drive at start-up, re-opening the drive after the settings dialog,
// whether a drive is open, and the operations of the "Диск" and "Контроллер"
// menus. The program runs it on its drive session; window tests put a
// scripted drive in its place.
#pragma once

#include <string>

#include "drive/DriveSession.h"

namespace kelvara {

class DriveLink {
 public:
  virtual ~DriveLink() = default;
  virtual DriveOpenReport OpenAtStartup(const TSettings& settings) = 0;
  virtual DriveOpenReport Reopen(const TSettings& settings) = 0;
  virtual bool DriveValid() const = 0;

  // A run the checks allowed (DriveSession::Run).
  virtual OperationResult Run(const DriveRunPlan& plan, TZX_Disk& disk, const TSettings& settings,
                              OperationHost& host) = 0;
  // Before and after a writing run: the virtual drive's disk file.
  virtual bool CanKeepWrittenDisk(std::string& error) = 0;
  virtual bool KeepWrittenDisk(const TSettings& settings, std::string& error) = 0;
  virtual bool ResetController(OperationHost& host) = 0;
  virtual DriveCatalogRead ReadCatalog(OperationHost& host, const CatalogParse& parse) = 0;
};

class SessionDriveLink : public DriveLink {
 public:
  explicit SessionDriveLink(DriveSession& session) : session_(session) {}
  DriveOpenReport OpenAtStartup(const TSettings& s) override { return session_.OpenAtStartup(s); }
  DriveOpenReport Reopen(const TSettings& s) override { return session_.Reopen(s); }
  bool DriveValid() const override { return session_.DriveValid(); }

  OperationResult Run(const DriveRunPlan& plan, TZX_Disk& disk, const TSettings& s,
                      OperationHost& host) override {
    return session_.Run(plan, disk, s, host);
  }
  bool CanKeepWrittenDisk(std::string& error) override {
    return session_.CanKeepWrittenDisk(error);
  }
  bool KeepWrittenDisk(const TSettings& s, std::string& error) override {
    return session_.KeepWrittenDisk(s, error);
  }
  bool ResetController(OperationHost& host) override { return session_.ResetController(host); }
  DriveCatalogRead ReadCatalog(OperationHost& host, const CatalogParse& parse) override {
    return session_.ReadCatalog(host, parse);
  }

 private:
  DriveSession& session_;
};

}  // namespace kelvara
