// The settings record and its INI file: "Kelvara.ini", section "Option",
// seventeen keys. At start-up every key is read, repaired and written straight
// back, so after the first run the file holds all of them.
#pragma once

#include <cstdint>
#include <string>

namespace kelvara {

struct TSettings {
  uint8_t RetryCount = 10;             // attempts per sector read, format and write
  uint8_t RetryCountWithReset = 5;     // kept and edited only
  uint8_t FirstTrack = 0;              // first track of every disk operation
  uint8_t LastTrack = 159;             // last track of every disk operation
  uint8_t CycleRead = 5;               // kept and edited only
  uint8_t TimeOut = 10;                // kept and edited only
  bool RestoreTrack = true;            // UDI saving synthesises tracks afresh
  bool TD0arch = false;                // TD0 saving compresses
  bool OverlapTrackAndData = false;    // kept and edited only
  bool SetSectorSizeFromHead = false;  // sector display takes its size from the ID
  std::string Directory_1;             // folder of the image load dialogs; folders end in "/"
  std::string Directory_2;             // folder of the image save dialog
  std::string HobetaDir;               // Hobeta export folder
  std::string SCLDir;                  // SCL and CP/M file export folder
  std::string Drive = "A";             // "A" or "B"
  uint8_t GAP = 20;                    // kept and edited only
  uint8_t Rate = 2;                    // data-rate code: 0 = 500K, 1 = 300K, 2 = 250K, 3 = 1M
};

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
