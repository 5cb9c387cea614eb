#include "session/TapeExchange.h"

#include <algorithm>
#include <cctype>

#include "filesystems/CpmWrite.h"
#include "filesystems/DiskTape.h"
#include "filesystems/Plus3Dos.h"
#include "filesystems/TapeImage.h"
#include "filesystems/Trdos.h"
#include "model/Prompt.h"
#include "session/Settings.h"
#include "session/TrdosCatalog.h"

namespace kelvara {

namespace {

// The catalog core's questions answered No and its last message kept: a
// command without a user.
class MessageKeeper : public Prompt {
 public:
  Answer AskYesNo(const std::string&, const std::string&) override { return Answer::No; }
  Answer AskYesNoCancel(const std::string&, const std::string&) override { return Answer::Cancel; }
  bool AskText(const std::string&, const std::string&, std::string&, int) override { return false; }
  bool PickFolder(const std::string&, std::string&) override { return false; }
  bool PickOpenFiles(const std::string&, const std::string&, const std::string&,
                     std::vector<std::string>&) override {
    return false;
  }
  bool PickSaveFile(const std::string&, const std::string&, const std::string&,
                    std::string&) override {
    return false;
  }
  void ShowMessage(const std::string&, const std::string& text, MessageIcon) override {
    last = text;
  }

  std::string last;
};

bool TrdosHolds(const TZX_Disk& disk) {
  TTrdosCatalog cat;
  return ReadTrdosCatalog(disk, cat);
}

std::string TrdosListedName(const TTrdosFileEntry& e) {
  std::string name = TrdosNameText(e.Name);
  name.erase(name.find_last_not_of(' ') + 1);
  return name + "." + TrdosTypeText(e.FileType);
}

bool TrdosList(const TZX_Disk& disk, std::vector<DiskTapeFile>& out, std::string& error) {
  TTrdosCatalog cat;
  if (!ReadTrdosCatalog(disk, cat)) {
    error = "no TR-DOS catalog on the image";
    return false;
  }
  for (int i = 0; i < cat.ListedBound(); ++i) {
    const TTrdosFileEntry& e = cat.Entries[i];
    if (!e.IsLive()) continue;
    DiskTapeFile f;
    f.name = TrdosListedName(e);
    std::vector<uint8_t> sectors;
    TrdosSectorAddress failed;
    if (!ReadTrdosRun(disk, e.FirstTrack, e.FirstSector, e.SectorCount, sectors, failed)) {
      f.error = "sector " + std::to_string(failed.sec) + " of track " +
                std::to_string(failed.track) + " cannot be read";
    } else {
      TrdosFileToTape(e, sectors, f.file, f.note, f.error);
    }
    out.push_back(std::move(f));
  }
  return true;
}

bool TrdosAdd(TZX_Disk& disk, const std::string& source, std::span<const TapeFile> files,
              std::string& error) {
  MessageKeeper prompt;
  TSettings settings;
  TrdosCatalog cat(disk, prompt, settings);
  if (!cat.OpenFromImage() || !cat.AddTapeFiles(source, files).ok) {
    error = prompt.last;
    return false;
  }
  return true;
}

bool Plus3Holds(const TZX_Disk& disk) {
  CpmFormat format;
  return FindPlus3Format(disk, format);
}

bool Plus3List(const TZX_Disk& disk, std::vector<DiskTapeFile>& out, std::string&) {
  const CpmCatalog cat = ReadCpmCatalog(disk, {.hidden = true});
  const std::vector<CpmDirEntry> dir = ReadCpmDirectory(disk);
  for (const CpmFileRow& row : cat.rows) {
    if (row.user > kCpmMaxUser) continue;  // labels and date stamps
    DiskTapeFile f;
    f.name = CpmNameText({row.user, row.key});
    std::vector<uint8_t> bytes;
    if (!CollectCpmFile(disk, dir, row.key, row.user, bytes)) {
      f.error = kCpmCatalogErrorText;
    } else {
      // The tape name is the name without its user area.
      Plus3FileToTape(bytes, CpmNameText({0, row.key}), f.file, f.note, f.error);
    }
    out.push_back(std::move(f));
  }
  return true;
}

bool Plus3Add(TZX_Disk& disk, const std::string&, std::span<const TapeFile> files,
              std::string& error) {
  CpmVolume volume;
  return volume.Open(disk, error) && AddTapeFilesToCpm(volume, files, 0, error) &&
         volume.Save(error);
}

// +3DOS before TR-DOS: a +3 disk is told by its own track 0, which no
// TR-DOS disk passes.
constexpr TapeSystem kTapeSystems[] = {
    {"+3DOS", Plus3Holds, Plus3List, Plus3Add, true},
    {"TR-DOS", TrdosHolds, TrdosList, TrdosAdd, false},
};

std::string Upper(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::span<const TapeSystem> TapeSystems() {
  return kTapeSystems;
}

const TapeSystem* TapeSystemOf(const TZX_Disk& disk) {
  for (const TapeSystem& s : kTapeSystems) {
    if (s.holds(disk)) return &s;
  }
  return nullptr;
}

bool TapeNameMatches(const TapeSystem& system, const std::string& typed,
                     const std::string& listed) {
  return system.caseless ? Upper(typed) == Upper(listed) : typed == listed;
}

bool AddTapeFilesToCpm(CpmVolume& volume, std::span<const TapeFile> files, uint8_t user,
                       std::string& error) {
  for (const TapeFile& f : files) {
    const CpmName name{user, CpmKeyFrom(TapeNameText(f.header))};
    if (name.key[0] == 0) {
      error = "\"" + TapeNameText(f.header) + "\": no CP/M name can be made of it";
      return false;
    }
    if (!volume.Add(name, Plus3FileFromTape(f), error)) return false;
  }
  return true;
}

}  // namespace kelvara
