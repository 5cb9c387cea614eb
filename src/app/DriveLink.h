// The main window's one seam to the floppy drive layer: opening the driver
// and the drive at start-up, re-opening the drive after the settings dialog,
// and whether a drive is open. The program runs it on its drive session;
// window tests put a scripted drive in its place.
#pragma once

#include "drive/DriveSession.h"

namespace kelvara {

class DriveLink {
 public:
  virtual ~DriveLink() = default;
  virtual DriveOpenReport OpenAtStartup(const TSettings& settings) = 0;
  virtual DriveOpenReport Reopen(const TSettings& settings) = 0;
  virtual bool DriveValid() const = 0;
};

class SessionDriveLink : public DriveLink {
 public:
  explicit SessionDriveLink(DriveSession& session) : session_(session) {}
  DriveOpenReport OpenAtStartup(const TSettings& s) override { return session_.OpenAtStartup(s); }
  DriveOpenReport Reopen(const TSettings& s) override { return session_.Reopen(s); }
  bool DriveValid() const override { return session_.DriveValid(); }

 private:
  DriveSession& session_;
};

}  // namespace kelvara
