#include "formats/ImageFiles.h"

#include <array>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "formats/Dsk.h"
#include "formats/Fdi.h"
#include "formats/Hfe.h"
#include "formats/KryoFlux.h"
#include "formats/ProKdi.h"
#include "formats/Project.h"
#include "formats/Scl.h"
#include "formats/Scp.h"
#include "formats/Td0.h"
#include "formats/Trd.h"
#include "formats/Udi.h"
#include "model/FileIO.h"

namespace kelvara {

namespace {

// Writers without options as table entries.
template <WriteResult (*Save)(const TZX_Disk&, const std::string&)>
WriteResult SavePlain(TZX_Disk& disk, const std::string& path, const SaveOptions&) {
  return Save(disk, path);
}

// A UDI track is synthesised afresh or over its own raw bytes as the
// RestoreTrack setting says; the image keeps the choice (a project file
// stores it, and later HFE saves follow it).
WriteResult SaveUdiFile(TZX_Disk& disk, const std::string& path, const SaveOptions& options) {
  disk.KeepRawBytes = !options.restoreTrack;
  return SaveUDI(disk, path, {disk.KeepRawBytes});
}

WriteResult SaveHfeFile(TZX_Disk& disk, const std::string& path, const SaveOptions&) {
  return SaveHFE(disk, path, {disk.KeepRawBytes});
}

WriteResult SaveTd0File(TZX_Disk& disk, const std::string& path, const SaveOptions& options) {
  return SaveTD0(disk, path, {options.td0Compress});
}

WriteResult SaveScpFile(TZX_Disk& disk, const std::string& path, const SaveOptions& options) {
  return SaveSCP(disk, path, {options.scpRevolutions});
}

// KryoFlux streams are read only: a flux image is written as SCP.
WriteResult SaveKryoFluxFile(TZX_Disk&, const std::string&, const SaveOptions&) {
  return WriteResult::Failed("KryoFlux stream files are not written; save the image as SCP.");
}

// In the order keys are compared.
const std::array<ImageFormat, 11> kImageFormats = {{
    {"UDI", "Error load UDI - ", LoadUDI, SaveUdiFile},
    {"FDI", "Error load FDI -", LoadFDI, SavePlain<SaveFDI>},
    {"TRD", "Error load TRD -", LoadTRD, SavePlain<SaveTRD>},
    {"TD0", "Error load TD0 -", LoadTD0, SaveTd0File},
    {"PRO", "Error load PRO -", LoadPRO, SavePlain<SavePRO>},
    {"SCL", "Error load SCL -", LoadSCL, SavePlain<SaveSCL>},
    {"KDI", "Error load KDI -", LoadKDI, SavePlain<SaveKDI>},
    {"HFE", "Error load HFE -", LoadHFE, SaveHfeFile},
    {"SCP", "Error load SCP -", LoadSCP, SaveScpFile},
    {"RAW", "Error load KryoFlux -", LoadKryoFlux, SaveKryoFluxFile},
    {"DSK", "Error load DSK -", LoadDSK, SavePlain<SaveDSK>},
}};

// The program's own project file. The desktop program opens and saves it
// with commands of its own and keeps it out of the general dialogs, drops and
// hand-offs; kelvara-cli takes it like any other type.
WriteResult SaveProjectFile(TZX_Disk& disk, const std::string& path, const SaveOptions&) {
  disk.CountTracks();  // the file carries the count, so the image agrees with it
  return SaveProject(disk, path);
}

const ImageFormat kProjectFormat = {"UDF", "Error load UDF -", LoadProject, SaveProjectFile};

}  // namespace

std::string ExtensionKey(const std::string& path) {
  std::error_code ec;
  if (!path.empty() && std::filesystem::is_directory(path, ec)) return "RAW";
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
    if (key == f.key) return &f;
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
    r.statusPanel2 = disk.StatusText;
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
  if (!format) {
    r.errorText = kUnsupportedFileText;
    return r;
  }
  r.knownType = true;
  const WriteResult w = format->save(disk, path, options);
  r.ok = w.ok;
  r.note = w.note;
  if (r.ok) return r;
  // The image keeps where synthesis last refused.
  if (w.fault.track >= 0) disk.ErrTrack = static_cast<uint8_t>(w.fault.track);
  if (w.fault.slot >= 0) disk.ErrSector = static_cast<uint8_t>(w.fault.slot);
  r.errorText = w.text.empty() ? "Cannot write " + path : w.text;
  // A failed UDI save shows one fixed text; the LOG line names the track and
  // sector synthesis refused (or the reason the file could not be written).
  if (format->save == SaveUdiFile) {
    r.logLine = r.errorText;
    r.errorText = kUdiSaveErrorText;
  }
  return r;
}

}  // namespace kelvara
