// A virtual drive with a blank disk, opened as the program opens it at
// start-up, an image to read into or write from, and a recording host.
#pragma once

#include <memory>

#include "drive/DriveSession.h"
#include "drive/VirtualFloppy.h"
#include "support/FakeOperationHost.h"

namespace kelvara::test {

class DriveRig {
 public:
  DriveRig()
      : owned_(std::make_unique<VirtualFloppy>()), drive(*owned_), session(std::move(owned_)) {
    drive.InsertDisk();
    session.OpenAtStartup(settings);
  }

  // The disk in the virtual drive.
  TZX_Disk& Disk() { return *drive.Disk(); }

  // A "Диск" menu command on `image`: its checks (messages to the host) and
  // its run when they allow it.
  OperationResult Run(int mode) {
    plan = session.Plan(mode, *image, settings);
    plan.fastRead = fastRead;
    for (const std::string& m : plan.messages)
      host.ShowMessage(kErrorCaption, m);
    return plan.start ? session.Run(plan, *image, settings, host) : OperationResult{};
  }

 private:
  std::unique_ptr<VirtualFloppy> owned_;

 public:
  VirtualFloppy& drive;
  DriveSession session;
  TSettings settings;
  FakeOperationHost host;
  std::unique_ptr<TZX_Disk> image = std::make_unique<TZX_Disk>();
  DriveRunPlan plan;
  bool fastRead = false;  // `read --fast`
};

}  // namespace kelvara::test
