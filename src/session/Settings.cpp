#include "session/Settings.h"

#include <SimpleIni.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

#include "model/FileIO.h"

namespace kelvara {

namespace {

constexpr const char* kSection = "Option";
constexpr const char* kIniName = "Kelvara.ini";

// The integer a profile-string read gives: an optional sign and leading
// digits; anything else (or nothing) reads as 0.
long ParseProfileInt(const char* text) {
  if (!text) return 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  return end == text ? 0 : v;
}

bool FolderExists(const std::string& folder) {
  struct stat st {};
  return !folder.empty() && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

using Ini = CSimpleIniA;  // keys compared without case, as profile strings are

// Whether a file can be created in the folder: tried, since permission bits
// say nothing for root or on read-only mounts.
bool FolderWritable(const std::string& folder) {
  std::string probe = folder + ".kelvara-probe-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

// False for a file that is missing, unreadable or not an INI file; the
// callers then start from an empty one. Read as every file is, so one that
// has grown past any settings file's size does not fill the memory.
bool LoadIni(Ini& ini, const std::string& path) {
  ini.SetUnicode(false);
  std::vector<uint8_t> text;
  std::string error;
  return ReadWholeFile(path, text, error) &&
         ini.LoadData(reinterpret_cast<const char*>(text.data()), text.size()) >= 0;
}

bool SaveIni(const Ini& ini, const std::string& path) {
  std::string text;
  if (ini.Save(text) < 0) return false;
  std::string error;
  return WriteFileAtomic(
      path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), error);
}

// What reading the keys needs besides the file: the folder that a folder key
// naming none reads as, and the last folder looked for (the folder keys
// mostly name the same one).
class ReadContext {
 public:
  explicit ReadContext(const std::string& programFolder) : programFolder_(programFolder) {}
  // The folder a folder key's value gives.
  std::string Folder(const std::string& value) {
    if (!looked_ || value != lastValue_) {
      lastValue_ = value;
      lastExists_ = FolderExists(value);
      looked_ = true;
    }
    return lastExists_ ? WithSlash(value) : programFolder_;
  }

 private:
  const std::string& programFolder_;
  std::string lastValue_;
  bool lastExists_ = false;
  bool looked_ = false;
};

// One key of the record: how it reads, repairs and writes.
struct Key {
  const char* name;
  std::function<void(Ini&, TSettings&, ReadContext&)> read;
  std::function<std::string(const TSettings&)> write;
};

// Integer keys: low eight bits, 0 becomes the default, then the range repair.
Key ByteKey(const char* name, uint8_t TSettings::*field, uint8_t def,
            std::function<uint8_t(uint8_t)> repair) {
  return {name,
          [=](Ini& ini, TSettings& s, ReadContext&) {
            auto v = static_cast<uint8_t>(ParseProfileInt(ini.GetValue(kSection, name, nullptr)));
            if (v == 0) v = def;
            s.*field = repair(v);
          },
          [=](const TSettings& s) { return std::to_string(s.*field); }};
}

// Flags: false (also a missing key) becomes the default.
Key FlagKey(const char* name, bool TSettings::*field, bool def) {
  return {name,
          [=](Ini& ini, TSettings& s, ReadContext&) {
            const bool v = ParseProfileInt(ini.GetValue(kSection, name, nullptr)) != 0;
            s.*field = v ? true : def;
          },
          [=](const TSettings& s) { return std::string(s.*field ? "1" : "0"); }};
}

Key FolderKey(const char* name, std::string TSettings::*field) {
  return {name,
          [=](Ini& ini, TSettings& s, ReadContext& context) {
            s.*field = context.Folder(ini.GetValue(kSection, name, ""));
          },
          [=](const TSettings& s) { return s.*field; }};
}

uint8_t Keep(uint8_t v) {
  return v;
}

// Text keys: a value `valid` refuses reads as "".
Key TextKey(const char* name, std::string TSettings::*field,
            std::function<bool(const std::string&)> valid) {
  return {name,
          [=](Ini& ini, TSettings& s, ReadContext&) {
            const std::string v = ini.GetValue(kSection, name, "");
            s.*field = !valid || valid(v) ? v : "";
          },
          [=](const TSettings& s) { return s.*field; }};
}

// In the order they are read and written back at start-up.
const std::vector<Key>& AllKeys() {
  static const std::vector<Key> keys = {
      ByteKey("RetryCount", &TSettings::RetryCount, 10, Keep),
      ByteKey("RetryCountWithReset", &TSettings::RetryCountWithReset, 5, Keep),
      ByteKey("FirstTrack", &TSettings::FirstTrack, 0,
              [](uint8_t v) -> uint8_t { return v > 82 ? 0 : v; }),
      ByteKey("LastTrack", &TSettings::LastTrack, 159,
              [](uint8_t v) -> uint8_t { return v > 167 ? 167 : v; }),
      ByteKey("CycleRead", &TSettings::CycleRead, 5,
              [](uint8_t v) -> uint8_t { return v < 1 || v > 30 ? 5 : v; }),
      ByteKey("TimeOut", &TSettings::TimeOut, 10,
              [](uint8_t v) -> uint8_t { return v < 1 || v > 30 ? 10 : v; }),
      FlagKey("RestoreTrack", &TSettings::RestoreTrack, true),
      FlagKey("TD0arch", &TSettings::TD0arch, false),
      FlagKey("OverlapTrackAndData", &TSettings::OverlapTrackAndData, false),
      FlagKey("SetSectorSizeFromHead", &TSettings::SetSectorSizeFromHead, false),
      FolderKey("Directory_1", &TSettings::Directory_1),
      FolderKey("Directory_2", &TSettings::Directory_2),
      FolderKey("HobetaDir", &TSettings::HobetaDir),
      FolderKey("SCLDir", &TSettings::SCLDir),
      {"Drive",
       [](Ini& ini, TSettings& s, ReadContext&) {
         const std::string v = ini.GetValue(kSection, "Drive", "");
         s.Drive = (v == "A" || v == "B") ? v : "A";
       },
       [](const TSettings& s) { return s.Drive; }},
      ByteKey("GAP", &TSettings::GAP, 20,
              [](uint8_t v) -> uint8_t { return v < 5 || v > 250 ? 20 : v; }),
      ByteKey("Rate", &TSettings::Rate, 2, [](uint8_t v) -> uint8_t { return v > 3 ? 2 : v; }),
      TextKey("FluxDevice", &TSettings::FluxDevice, nullptr),
      TextKey("FluxBus", &TSettings::FluxBus,
              [](const std::string& v) { return v == "ibm" || v == "shugart"; }),
      // On unless the file says 0: a missing key is the default.
      {"FluxVerify",
       [](Ini& ini, TSettings& s, ReadContext&) {
         const char* v = ini.GetValue(kSection, "FluxVerify", nullptr);
         s.FluxVerify = !v || ParseProfileInt(v) != 0;
       },
       [](const TSettings& s) { return std::string(s.FluxVerify ? "1" : "0"); }},
      FlagKey("DoubleStep", &TSettings::DoubleStep, false),
      ByteKey("HeadSettleMs", &TSettings::HeadSettleMs, 15, Keep),
      TextKey("FluxSimImage", &TSettings::FluxSimImage, nullptr),
      ByteKey("FluxWritePasses", &TSettings::FluxWritePasses, 3,
              [](uint8_t v) -> uint8_t { return std::min<uint8_t>(v, 10); }),
      ByteKey("PrecompCylinder", &TSettings::PrecompCylinder, 40,
              [](uint8_t v) -> uint8_t { return v > 83 ? 40 : v; }),
      ByteKey("PrecompNs", &TSettings::PrecompNs, 0,
              [](uint8_t v) -> uint8_t { return v > 250 ? 0 : v; }),
      TextKey("DensitySelect", &TSettings::DensitySelect,
              [](const std::string& v) { return v == "low" || v == "high"; }),
  };
  return keys;
}

}  // namespace

SettingsStore::SettingsStore(std::string iniPath, std::string programFolder)
    : path_(std::move(iniPath)), programFolder_(WithSlash(std::move(programFolder))) {}

std::string SettingsStore::ProgramFolder() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  return FolderOf(std::string(buf, static_cast<size_t>(n)));
}

std::string SettingsStore::DefaultIniPath(const std::string& programFolder) {
  const std::string folder = WithSlash(programFolder);
  const std::string local = folder + kIniName;
  if (FileExists(local) ? ::access(local.c_str(), W_OK) == 0 && FolderWritable(folder)
                        : FolderWritable(folder)) {
    return local;
  }
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    config = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    config = std::string(home) + "/.config";
  } else {
    config = "/tmp";
  }
  const std::string dir = WithSlash(config) + "Kelvara/";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return dir + kIniName;
}

bool SettingsStore::Load(TSettings& s, bool writeBack) {
  Ini ini;
  if (!LoadIni(ini, path_)) ini.Reset();  // read as empty, and rewritten
  ReadContext context(programFolder_);
  for (const Key& k : AllKeys()) {
    k.read(ini, s, context);
    if (writeBack) ini.SetValue(kSection, k.name, k.write(s).c_str());
  }
  return !writeBack || SaveIni(ini, path_);
}

bool SettingsStore::WriteDialogKeys(const TSettings& s) {
  Ini ini;
  if (!LoadIni(ini, path_)) ini.Reset();
  static const char* const kOrder[] = {"RetryCount",
                                       "RetryCountWithReset",
                                       "FirstTrack",
                                       "LastTrack",
                                       "CycleRead",
                                       "TimeOut",
                                       "GAP",
                                       "Rate",
                                       "Drive",
                                       "RestoreTrack",
                                       "TD0arch",
                                       "OverlapTrackAndData",
                                       "SetSectorSizeFromHead",
                                       "FluxDevice",
                                       "FluxBus",
                                       "FluxVerify",
                                       "DoubleStep",
                                       "FluxSimImage",
                                       "FluxWritePasses",
                                       "PrecompCylinder",
                                       "PrecompNs",
                                       "DensitySelect"};
  for (const char* name : kOrder) {
    for (const Key& k : AllKeys()) {
      if (std::string(k.name) == name) ini.SetValue(kSection, name, k.write(s).c_str());
    }
  }
  return SaveIni(ini, path_);
}

bool SettingsStore::WriteFolder(const std::string& key, const std::string& folder) {
  Ini ini;
  if (!LoadIni(ini, path_)) ini.Reset();
  ini.SetValue(kSection, key.c_str(), WithSlash(folder).c_str());
  return SaveIni(ini, path_);
}

}  // namespace kelvara
