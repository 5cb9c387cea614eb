#include "session/MainCommands.h"
#include "formats/Project.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "model/FileIO.h"

namespace kelvara {

namespace {

// The save dialog's types, in filter order, as extension keys.
constexpr std::array<const char*, 10> kSaveKeys = {"UDI", "TRD", "TD0", "FDI", "PRO",
                                                   "SCL", "KDI", "HFE", "SCP", "DSK"};

void RememberFolder(TSettings& settings, SettingsStore& store, std::string TSettings::*field,
                    const char* key, const std::string& path) {
  const std::string folder = FolderOf(path);
  if (folder.empty()) return;
  settings.*field = folder;
  store.WriteFolder(key, folder);
}

}  // namespace

std::string NotWrittenText(const std::string& path, const std::string& reason) {
  std::string text = "Файл " + path + " не записан!";
  if (!reason.empty()) text += "\n" + reason;
  return text;
}

bool MayReplace(const std::string& path, Prompt& prompt) {
  return !FileExists(path) ||
         prompt.AskYesNo("Внимание..!", "Файл уже существует! Перезаписать?") == Answer::Yes;
}

bool ImageCommandsEnabled(TZX_Disk& disk) {
  return disk.CountTracks() != 0;
}

bool DiskCommandEnabled(DiskCommand command, bool driveValid, int trackCount) {
  if (!driveValid) return false;
  switch (command) {
    case DiskCommand::ReadByIds:
    case DiskCommand::RereadBad:
    case DiskCommand::Format:
    case DiskCommand::Write:
    case DiskCommand::FormatWrite:
      return trackCount != 0;
    default:
      return true;
  }
}

std::string SaveExtensionForFilter(int filterIndex) {
  if (filterIndex < 1 || filterIndex > static_cast<int>(kSaveKeys.size())) return {};
  std::string ext = kSaveKeys[static_cast<size_t>(filterIndex - 1)];
  for (char& c : ext)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

std::string ProposedSaveName(const std::string& imageFileName) {
  return imageFileName.size() > 4 ? imageFileName.substr(0, imageFileName.size() - 4)
                                  : std::string();
}

std::string ProposedProjectName(const std::string& imageFileName) {
  if (imageFileName.size() < 3) return {};
  return imageFileName.substr(0, imageFileName.size() - 3) + "udf";
}

SaveDialogProposal ProposeImageSave(TZX_Disk& disk, const std::string& imagePath,
                                    const SaveOptions& options, const std::string& startFolder,
                                    const std::string& imageFileName, int lastFilterIndex) {
  const std::string key = imagePath.empty() ? std::string() : ExtensionKey(imagePath);
  const auto type = std::ranges::find_if(kSaveKeys, [&](const char* k) { return key == k; });
  if (type != kSaveKeys.end() && ImageFitsFormat(disk, key, options))
    return {FolderOf(imagePath), FileNameOf(imagePath),
            static_cast<int>(type - kSaveKeys.begin()) + 1};
  return {startFolder, ProposedSaveName(imageFileName), lastFilterIndex};
}

std::string ImageStatusText(const std::string& path, int trackCount) {
  return "Disk Image - " + path + " (Дорожек - " + std::to_string(trackCount) + ")";
}

LoadResult OpenImage(TZX_Disk& disk, const std::string& path, std::string& imageFileName) {
  LoadResult r = LoadImageFile(disk, path);
  if (r.ok) imageFileName = r.imageFileName;
  return r;
}

std::optional<LoadResult> OpenChosenImage(TZX_Disk& disk, const std::string& path,
                                          TSettings& settings, SettingsStore& store,
                                          std::string& imageFileName) {
  // A folder is a set of KryoFlux stream files.
  if (path.empty() || (!FileExists(path) && ExtensionKey(path) != "RAW")) return std::nullopt;
  LoadResult r = OpenImage(disk, path, imageFileName);
  if (r.ok) RememberFolder(settings, store, &TSettings::Directory_1, "Directory_1", path);
  return r;
}

SaveOutcome SaveImageCommand(TZX_Disk& disk, const std::string& path, TSettings& settings,
                             SettingsStore& store, Prompt& prompt, std::string& imageFileName) {
  SaveOutcome out;
  if (path.empty() || !MayReplace(path, prompt)) return out;
  const SaveResult r = SaveImageFile(disk, path, {settings.RestoreTrack, settings.TD0arch});
  if (!r.ok && !r.logLine.empty()) {
    // UDI: one fixed message; the LOG line names the track and sector that
    // raw synthesis refused, or why the file could not be written.
    prompt.ShowMessage("Внимание..!", r.errorText, MessageIcon::Warning);
    out.clearLog = true;
    out.logLines.push_back(r.logLine);
    return out;
  }
  if (!r.ok) {
    // A writer that refuses or fails leaves the old file as it was; saying
    // nothing would let the user take it for a save.
    prompt.ShowMessage("Ошибка!", NotWrittenText(path, r.errorText), MessageIcon::Error);
    return out;
  }
  out.written = true;
  out.logLines.insert(out.logLines.end(), r.notes.begin(), r.notes.end());
  imageFileName = FileNameOf(path);
  RememberFolder(settings, store, &TSettings::Directory_2, "Directory_2", path);
  return out;
}

bool OpenProjectCommand(TZX_Disk& disk, const std::string& path, TSettings& settings,
                        SettingsStore& store, std::string& imageFileName) {
  if (path.empty() || !FileExists(path) || !LoadProject(disk, path)) return false;
  imageFileName = FileNameOf(path);
  RememberFolder(settings, store, &TSettings::Directory_1, "Directory_1", path);
  return true;
}

bool SaveProjectCommand(TZX_Disk& disk, const std::string& path, TSettings& settings,
                        SettingsStore& store, Prompt& prompt, std::string& imageFileName) {
  if (path.empty() || !MayReplace(path, prompt)) return false;
  disk.CountTracks();  // the file carries the count, so the image agrees with it
  const WriteResult saved = SaveProject(disk, path);
  if (!saved) {
    prompt.ShowMessage("Ошибка!", NotWrittenText(path, saved.text), MessageIcon::Error);
    return false;
  }
  imageFileName = FileNameOf(path);
  RememberFolder(settings, store, &TSettings::Directory_1, "Directory_1", path);
  return true;
}

bool ClearImageCommand(TZX_Disk& disk, Prompt& prompt, const std::function<bool()>& mayDiscard) {
  if (prompt.AskYesNo("Очистка образа..", "Вы действительно хотите очистить образ?") !=
      Answer::Yes) {
    return false;
  }
  if (mayDiscard && !mayDiscard()) return false;
  disk.ClearImage();
  return true;
}

}  // namespace kelvara
