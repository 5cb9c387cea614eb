#include "formats/ImageFiles.h"

#include <array>
#include <cctype>

#include "model/FileIO.h"

namespace kelvara {

namespace {

// Member readers and writers as table entries.
template <bool (TZX_Disk::*Load)(const std::string&)>
bool LoadBy(TZX_Disk& disk, const std::string& path) {
  return (disk.*Load)(path);
}
template <bool (TZX_Disk::*Save)(const std::string&)>
bool SaveBy(TZX_Disk& disk, const std::string& path, const SaveOptions&) {
  return (disk.*Save)(path);
}

// A UDI track is synthesised afresh or over its own raw bytes as the
// RestoreTrack setting says.
bool SaveUdiFile(TZX_Disk& disk, const std::string& path, const SaveOptions& options) {
  disk.KeepRawBytes = !options.restoreTrack;
  return disk.SaveUDI(path);
}

bool SaveTd0(TZX_Disk& disk, const std::string& path, const SaveOptions& options) {
  return disk.SaveTD0(path, options.td0Compress);
}

// In the order keys are compared; a row without a reader is a format still
// to come and counts as unsupported.
const std::array<ImageFormat, 8> kImageFormats = {{
    // A UDI load that had to leave tracks out says so.
    {"UDI", "Error load UDI - ", LoadBy<&TZX_Disk::LoadUDI>, SaveUdiFile, true},
    // The FDI reader leaves a note on success when a track lists more
    // sectors than the image keeps.
    {"FDI", "Error load FDI -", LoadBy<&TZX_Disk::LoadFDI>, SaveBy<&TZX_Disk::SaveFDI>, true},
    // The TRD reader's only failures are a missing, unreadable or oversized
    // file; such a load is a failure like any other.
    {"TRD", "Error load TRD -", LoadBy<&TZX_Disk::LoadTRD>, SaveBy<&TZX_Disk::SaveTRD>, true},
    {"TD0", "Error load TD0 -", LoadBy<&TZX_Disk::LoadTD0>, SaveTd0, true},
    {"PRO", "Error load PRO -", LoadBy<&TZX_Disk::LoadPRO>, SaveBy<&TZX_Disk::SavePRO>, true},
    {"SCL", "Error load SCL -", LoadBy<&TZX_Disk::LoadSCL>, SaveBy<&TZX_Disk::SaveSCL>, true},
    {"KDI", "Error load KDI -", LoadBy<&TZX_Disk::LoadKDI>, SaveBy<&TZX_Disk::SaveKDI>, true},
    {"HFE", "Error load HFE -", LoadBy<&TZX_Disk::LoadHFE>, SaveBy<&TZX_Disk::SaveHFE>, true},
}};

// The program's own project file. The desktop program opens and saves it
// with commands of its own and keeps it out of the general dialogs, drops and
// hand-offs; kelvara-cli takes it like any other type.
const ImageFormat kProjectFormat = {"UDF", "Error load UDF -", LoadBy<&TZX_Disk::LoadProject>,
                                    SaveBy<&TZX_Disk::SaveProject>, false};

}  // namespace

std::string ExtensionKey(const std::string& path) {
  const std::string name = FileNameOf(path);
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return {};
  std::string key = name.substr(dot + 1, 3);
  for (char& c : key)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

const ImageFormat* FindImageFormat(const std::string& key, ImageTypes types) {
  for (const ImageFormat& f : kImageFormats) {
    if (key == f.key) return f.load ? &f : nullptr;
  }
  if (types == ImageTypes::WithProject && key == kProjectFormat.key) return &kProjectFormat;
  return nullptr;
}

LoadResult LoadImageFile(TZX_Disk& disk, const std::string& path, ImageTypes types) {
  LoadResult r;
  disk.StatusText.clear();
  const ImageFormat* format = FindImageFormat(ExtensionKey(path), types);
  if (!format) {
    r.errorText = kUnsupportedFileText;
    disk.ClearImage();
    return r;
  }
  r.ok = format->load(disk, path);
  if (r.ok) {
    if (format->statusOnSuccess) r.statusPanel2 = disk.StatusText;
    r.imageFileName = FileNameOf(path);
    r.statusPanel1 =
        "Disk Image - " + path + " (Дорожек - " + std::to_string(disk.CountTracks()) + ")";
  } else {
    r.errorText = disk.StatusText;
    if (r.errorText.empty()) r.errorText = "Cannot read " + path;
    r.logLine = std::string(format->errorPrefix) + "\"" + disk.StatusText + "\"";
    r.statusPanel1 = "Disk Image load error";
    disk.ClearImage();
  }
  return r;
}

SaveResult SaveImageFile(TZX_Disk& disk, const std::string& path, const SaveOptions& options,
                         ImageTypes types) {
  SaveResult r;
  const ImageFormat* format = FindImageFormat(ExtensionKey(path), types);
  if (!format || !format->save) {
    r.errorText = kUnsupportedFileText;
    return r;
  }
  r.knownType = true;
  disk.StatusText.clear();
  r.ok = format->save(disk, path, options);
  if (!r.ok) {
    r.errorText = disk.StatusText.empty() ? "Cannot write " + path : disk.StatusText;
  }
  // A failed UDI save shows one fixed text; the LOG line names the track and
  // sector synthesis refused (or the reason the file could not be written).
  if (!r.ok && format->save == SaveUdiFile) {
    r.logLine = r.errorText;
    r.errorText = kUdiSaveErrorText;
  }
  return r;
}

}  // namespace kelvara
