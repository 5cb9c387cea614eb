// The INI file of the settings record: "Kelvara.ini", section "Option",
// twenty-two keys. At start-up every key is read, repaired and written straight
// back, so after the first run the file holds all of them.
#pragma once

#include <string>

#include "model/SettingsRecord.h"

namespace kelvara {

class SettingsStore {
 public:
  // iniPath: the settings file; programFolder (ending in "/"): the default
  // and fallback of the folder keys.
  SettingsStore(std::string iniPath, std::string programFolder);

  // "Kelvara.ini" in the program's folder when that folder is writable,
  // otherwise $XDG_CONFIG_HOME/Kelvara/Kelvara.ini (~/.config/Kelvara/).
  static std::string DefaultIniPath(const std::string& programFolder);
  // The folder of the running executable, ending in "/".
  static std::string ProgramFolder();

  const std::string& Path() const { return path_; }

  // Reads every key by the reading rule and repairs it. With writeBack the
  // file is created when missing and every key is written back in order.
  // Returns false only when writing back failed (the record is filled anyway).
  bool Load(TSettings& s, bool writeBack = true);
  // Writes the keys the settings dialog edits, in the dialog's order.
  bool WriteDialogKeys(const TSettings& s);
  // Writes one folder key ("Directory_1", "Directory_2", "HobetaDir", "SCLDir").
  bool WriteFolder(const std::string& key, const std::string& folder);
  // The folder keys' default: the program's folder, ending in "/".
  const std::string& DefaultFolder() const { return programFolder_; }

 private:
  std::string path_;
  std::string programFolder_;
};

}  // namespace kelvara
