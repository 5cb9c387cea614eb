// The main window's one seam to the floppy drive layer: opening the driver
// and the drive at start-up, re-opening the drive after the settings dialog,
// and whether a drive is open. Each opening reports what the window shows.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/Settings.h"

namespace kelvara {

struct DriveReport {
  std::vector<std::string> messages;  // shown in order, each in an "Ошибка!" box
  std::optional<std::string> panel0;  // new text of status panel 0; none = unchanged
  bool diskMenuEnabled = false;       // the "Диск" menu as a whole
};

class DriveLink {
 public:
  virtual ~DriveLink() = default;
  virtual DriveReport OpenAtStartup(const TSettings& settings) = 0;
  virtual DriveReport Reopen(const TSettings& settings) = 0;
  virtual bool DriveValid() const = 0;
};

// A program built without a drive layer: there is no driver to load. It says
// so in the status bar only, since every start would say the same.
class NoDriveLink : public DriveLink {
 public:
  DriveReport OpenAtStartup(const TSettings&) override {
    return {{}, "  Driver load error", false};
  }
  DriveReport Reopen(const TSettings&) override { return {{}, std::nullopt, false}; }
  bool DriveValid() const override { return false; }
};

}  // namespace kelvara
