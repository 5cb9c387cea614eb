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

// Builders without options as table entries.
template <WriteResult (*Build)(const TZX_Disk&, std::vector<uint8_t>&)>
WriteResult BuildPlain(TZX_Disk& disk, std::vector<uint8_t>& out, const SaveOptions&) {
  return Build(disk, out);
}

// A UDI track is synthesised afresh or over its own raw bytes as the
// RestoreTrack setting says; the image keeps the choice (a project file
// stores it, and later HFE saves follow it).
WriteResult BuildUdiFile(TZX_Disk& disk, std::vector<uint8_t>& out, const SaveOptions& options) {
  disk.KeepRawBytes = !options.restoreTrack;
  return BuildUdiBytes(disk, out, {disk.KeepRawBytes});
}

WriteResult BuildHfeFile(TZX_Disk& disk, std::vector<uint8_t>& out, const SaveOptions&) {
  return BuildHfeBytes(disk, out, {disk.KeepRawBytes});
}

WriteResult BuildTd0File(TZX_Disk& disk, std::vector<uint8_t>& out, const SaveOptions& options) {
  return BuildTd0Bytes(disk, out, {options.td0Compress});
}

WriteResult BuildScpFile(TZX_Disk& disk, std::vector<uint8_t>& out, const SaveOptions& options) {
  return BuildScpBytes(disk, out, {options.scpRevolutions});
}

// KryoFlux streams are read only: a flux image is written as SCP.
WriteResult BuildKryoFluxFile(TZX_Disk&, std::vector<uint8_t>&, const SaveOptions&) {
  return WriteResult::Failed("KryoFlux stream files are not written; save the image as SCP.");
}

constexpr uint8_t kKeepsAll = kKeepsStates | kKeepsRaw | kKeepsComment;

// In the order keys are compared.
const std::array<ImageFormat, 11> kImageFormats = {{
    {"UDI", "Error load UDI - ", LoadUDI, BuildUdiFile, kKeepsAll},
    {"FDI", "Error load FDI -", LoadFDI, BuildPlain<BuildFdiBytes>, kKeepsStates | kKeepsComment},
    {"TRD", "Error load TRD -", LoadTRD, BuildPlain<BuildTrdBytes>, 0},
    {"TD0", "Error load TD0 -", LoadTD0, BuildTd0File, kKeepsStates | kKeepsComment},
    {"PRO", "Error load PRO -", LoadPRO, BuildPlain<BuildProBytes>, 0},
    {"SCL", "Error load SCL -", LoadSCL, BuildPlain<BuildSclBytes>, kKeepsFilesOnly},
    {"KDI", "Error load KDI -", LoadKDI, BuildPlain<BuildKdiBytes>, 0},
    {"HFE", "Error load HFE -", LoadHFE, BuildHfeFile, kKeepsStates | kKeepsRaw},
    {"SCP", "Error load SCP -", LoadSCP, BuildScpFile, kKeepsStates},
    {"RAW", "Error load KryoFlux -", LoadKryoFlux, BuildKryoFluxFile, 0},
    {"DSK", "Error load DSK -", LoadDSK, BuildPlain<BuildDskBytes>, kKeepsStates},
}};

// The program's own project file. The desktop program opens and saves it
// with commands of its own and keeps it out of the general dialogs, drops and
// hand-offs; kelvara-cli takes it like any other type.
WriteResult BuildProjectFile(TZX_Disk& disk, std::vector<uint8_t>& out, const SaveOptions&) {
  disk.CountTracks();  // the file carries the count, so the image agrees with it
  return BuildProjectBytes(disk, out);
}

const ImageFormat kProjectFormat = {"UDF", "Error load UDF -", LoadProject, BuildProjectFile,
                                    kKeepsAll};

// What a file of the format cannot keep of the image, a sentence each.
std::vector<std::string> LossNotes(const TZX_Disk& disk, const ImageFormat& format) {
  std::vector<std::string> notes;
  const std::string name = std::string(format.key) + " file";
  if (format.keeps & kKeepsFilesOnly) {
    notes.push_back("Only the files of the TR-DOS catalog are kept.");
    return notes;
  }
  if (!(format.keeps & kKeepsStates)) {
    if (const int bad = disk.CountDataStates().bad)
      notes.push_back(std::to_string(bad) + " bad sector(s) saved as good data: the " + name +
                      " cannot mark a CRC error.");
  }
  if (!(format.keeps & kKeepsRaw)) {
    int raw = 0;
    for (int t = 0; t < kTrackCount; ++t) {
      const TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
      raw += track.Present && track.RawValid && track.RawLength();
    }
    if (raw)
      notes.push_back("The " + name + " keeps sectors only: the raw bytes of " +
                      std::to_string(raw) +
                      " track(s) outside the ID and data fields (gaps, sync bytes, marks) are "
                      "not stored.");
  }
  if (!(format.keeps & kKeepsComment) && !disk.Comment.empty())
    notes.push_back("The disk comment (" + std::to_string(disk.Comment.size()) +
                    " line(s)) is not kept: the " + name + " has no place for it.");
  return notes;
}

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
  std::vector<uint8_t> bytes;
  WriteResult w = format->build(disk, bytes, options);
  if (w) {
    std::string note = std::move(w.note);
    w = WriteImageBytes(path, bytes);
    if (w) {
      r.notes = LossNotes(disk, *format);
      if (!note.empty()) r.notes.push_back(std::move(note));
    }
  }
  r.ok = w.ok;
  if (r.ok) return r;
  // The image keeps where synthesis last refused.
  if (w.fault.track >= 0) disk.ErrTrack = static_cast<uint8_t>(w.fault.track);
  if (w.fault.slot >= 0) disk.ErrSector = static_cast<uint8_t>(w.fault.slot);
  r.errorText = w.text.empty() ? "Cannot write " + path : w.text;
  // A failed UDI save shows one fixed text; the LOG line names the track and
  // sector synthesis refused (or the reason the file could not be written).
  if (format->build == BuildUdiFile) {
    r.logLine = r.errorText;
    r.errorText = kUdiSaveErrorText;
  }
  return r;
}

bool ImageFitsFormat(TZX_Disk& disk, const std::string& key, const SaveOptions& options) {
  const ImageFormat* format = FindImageFormat(key);
  std::vector<uint8_t> bytes;
  return format && format->build(disk, bytes, options).ok;
}

}  // namespace kelvara
