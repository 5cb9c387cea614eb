#include "session/CpmFileCommands.h"

#include <algorithm>
#include <cctype>

#include "filesystems/DiskTape.h"
#include "filesystems/Plus3Dos.h"
#include "filesystems/TapeImage.h"
#include "model/FileIO.h"
#include "session/TapeExchange.h"

namespace kelvara {

namespace {

constexpr const char* kErrorCaption = "Ошибка..!";

std::string Extension(const std::string& path) {
  const std::string name = FileNameOf(path);
  const size_t dot = name.find_last_of('.');
  std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  for (char& c : ext)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext;
}

std::string BaseName(const std::string& path) {
  const std::string name = FileNameOf(path);
  return name.substr(0, name.find_last_of('.'));
}

CpmEditOutcome Report(Prompt& prompt, bool ok, const std::string& error) {
  if (ok) return CpmEditOutcome::Changed;
  prompt.ShowMessage(kErrorCaption, error, MessageIcon::Error);
  return CpmEditOutcome::Failed;
}

}  // namespace

bool AddCpmFileBytes(CpmVolume& volume, const std::string& path, std::span<const uint8_t> bytes,
                     const CpmAddOptions& options, std::string& error) {
  const bool plus3 = volume.Format().plus3;
  const std::string ext = Extension(path);
  if (ext == "TAP" || ext == "TZX") {
    if (!plus3) {
      error = path + ": tape files go onto +3DOS and CPC disks, not onto " + volume.Format().name;
      return false;
    }
    std::vector<TapeFile> files;
    if (!ReadTapeFiles(bytes, BaseName(path), files, error) ||
        !AddTapeFilesToCpm(volume, files, options.user, error)) {
      error = path + ": " + error;
      return false;
    }
    return true;
  }
  const CpmName name{options.user, options.name ? *options.name : CpmKeyFrom(FileNameOf(path))};
  if (name.key[0] == 0) {
    error = path + ": no CP/M name can be made of the file name";
    return false;
  }
  Plus3Header header;
  if (!options.codeStart || ReadPlus3Header(bytes, header)) return volume.Add(name, bytes, error);
  if (!plus3) {
    error = "a PLUS3DOS header goes onto +3DOS and CPC disks, not onto " +
            std::string(volume.Format().name);
    return false;
  }
  if (bytes.size() > 0xFFFF) {
    error = path + ": " + std::to_string(bytes.size()) +
            " bytes, more than a PLUS3DOS header can give (65535)";
    return false;
  }
  TapeFile code;
  code.header.length = static_cast<uint16_t>(bytes.size());
  code.header.param1 = *options.codeStart;
  code.data.assign(bytes.begin(), bytes.end());
  return volume.Add(name, Plus3FileFromTape(code), error);
}

bool AddCpmFiles(TZX_Disk& disk, const std::vector<std::string>& paths,
                 const CpmAddOptions& options, std::string& error) {
  if (options.name && paths.size() != 1) {
    error = "a name for the file on the disk goes with one file only";
    return false;
  }
  CpmVolume volume;
  if (!volume.Open(disk, error)) return false;
  for (const std::string& path : paths) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, error) ||
        !AddCpmFileBytes(volume, path, bytes, options, error)) {
      return false;
    }
  }
  return volume.Save(error);
}

bool RemoveCpmFiles(TZX_Disk& disk, std::span<const CpmName> names, std::string& error) {
  CpmVolume volume;
  if (!volume.Open(disk, error)) return false;
  for (const CpmName& name : names) {
    if (!volume.Remove(name, error)) return false;
  }
  return volume.Save(error);
}

bool RenameCpmFile(TZX_Disk& disk, const CpmName& from, const CpmName& to, std::string& error) {
  CpmVolume volume;
  return volume.Open(disk, error) && volume.Rename(from, to, error) && volume.Save(error);
}

CpmEditOutcome AddCpmFilesAsked(TZX_Disk& disk, Prompt& prompt, std::string& folder) {
  std::vector<std::string> paths;
  if (!prompt.PickOpenFiles("Добавить файл(ы) в образ..",
                            "All files (*)|*|Tape files (*.tap, *.tzx)|*.tap;*.tzx", folder,
                            paths) ||
      paths.empty()) {
    return CpmEditOutcome::Cancelled;
  }
  folder = FolderOf(paths.front());
  return AddCpmFilesFrom(disk, prompt, paths);
}

CpmEditOutcome AddCpmFilesFrom(TZX_Disk& disk, Prompt& prompt,
                               const std::vector<std::string>& paths) {
  std::string error;
  const bool ok = AddCpmFiles(disk, paths, {}, error);
  return Report(prompt, ok, error);
}

CpmEditOutcome DeleteCpmRows(TZX_Disk& disk, Prompt& prompt, std::span<const CpmFileRow> rows) {
  std::vector<CpmName> names;
  for (const CpmFileRow& row : rows) {
    const CpmName name{row.user, row.key};
    if (row.user != kCpmUnused && std::ranges::find(names, name) == names.end())
      names.push_back(name);
  }
  if (names.empty()) return CpmEditOutcome::Cancelled;
  if (prompt.AskYesNo("Внимание..!", kCpmDeleteQuestion) != Answer::Yes)
    return CpmEditOutcome::Cancelled;
  std::string error;
  const bool ok = RemoveCpmFiles(disk, names, error);
  return Report(prompt, ok, error);
}

CpmEditOutcome RenameCpmRow(TZX_Disk& disk, Prompt& prompt, const CpmFileRow& row) {
  if (row.user == kCpmUnused) return CpmEditOutcome::Cancelled;
  const CpmName from{row.user, row.key};
  std::string text = CpmNameText(from);
  const std::string current = text;
  if (!prompt.AskText("Переименовать", "Новое имя файла (ИМЯ.РАС или N:ИМЯ.РАС):", text, 14) ||
      text == current) {
    return CpmEditOutcome::Cancelled;
  }
  CpmName to;
  std::string error;
  const bool ok = ParseCpmName(text, to, error) && RenameCpmFile(disk, from, to, error);
  return Report(prompt, ok, error);
}

}  // namespace kelvara
