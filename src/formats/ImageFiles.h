// Image files chosen by extension: the one table of readers and writers, and
// the load and save calls that the desktop program and kelvara-cli share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/WriteResult.h"
#include "model/ZXDisk.h"

namespace kelvara {

// What a writer needs beyond the image: settings that shape the file.
struct SaveOptions {
  bool restoreTrack = true;  // UDI: synthesise tracks afresh rather than from their raw bytes
  bool td0Compress = false;  // TD0: pack everything after the header
  int scpRevolutions = 1;    // SCP: revolutions written per track
};

// What a file of a type keeps of an image beyond its sectors' bytes; a save
// notes what it cannot keep.
enum ImageKeeps : uint8_t {
  kKeepsStates = 1,    // bad data and IDs without data
  kKeepsRaw = 2,       // raw track bytes read from a file
  kKeepsComment = 4,   // the disk comment
  kKeepsFilesOnly = 8  // only the files of the TR-DOS catalog (SCL)
};

struct ImageFormat {
  const char* key;          // extension key, e.g. "UDI"
  const char* errorPrefix;  // start of the LOG line of a failed load
  bool (*load)(TZX_Disk&, const std::string& path);
  // The whole file in memory; a failure writes nothing. Non-const: the UDI
  // row records the raw-byte choice on the image.
  WriteResult (*build)(TZX_Disk&, std::vector<uint8_t>& out, const SaveOptions&);
  uint8_t keeps;  // ImageKeeps
};

// The characters after the last dot of the file name, upper-cased, cut to
// three: "disk.udix" -> "UDI"; "" without a dot. A folder is a set of
// KryoFlux stream files: "RAW", as each of its files.
std::string ExtensionKey(const std::string& path);
// Which types a caller takes: the general ones of the desktop program's
// dialogs, or those and the project file (.udf), as kelvara-cli does.
enum class ImageTypes { General, WithProject };

// The table row for a key; nullptr when the key is in no row.
const ImageFormat* FindImageFormat(const std::string& key, ImageTypes types = ImageTypes::General);

inline constexpr const char* kUnsupportedFileText = "Данный тип файлов не поддерживается!";
inline constexpr const char* kUdiSaveErrorText = "Ошибка создания образа UDI";

struct LoadResult {
  bool ok = false;
  std::string errorText;     // for the "Ошибка!" message box, on failure
  std::string logLine;       // for the LOG list, on a failed reader
  std::string statusPanel1;  // "Disk Image - <path> (Дорожек - N)" or "Disk Image load error"
  std::string statusPanel2;   // the reader's information line
  std::string imageFileName;  // the file name without folder, on success
};

// Loads an image file by its extension. On any failure the image is left
// empty, so that no partly read image stays in memory.
LoadResult LoadImageFile(TZX_Disk& disk, const std::string& path,
                         ImageTypes types = ImageTypes::General);

struct SaveResult {
  bool ok = false;
  bool knownType = false;  // the extension is in the table
  std::string errorText;   // why nothing was written
  std::string logLine;     // UDI: the track and sector where synthesis failed
  // On success, a sentence each: what of the image the file could not keep
  // (bad sectors, raw tracks, the comment, ...) and what else the writer said.
  std::vector<std::string> notes;
};

// Saves the image by the extension of path. Nothing is written on failure.
SaveResult SaveImageFile(TZX_Disk& disk, const std::string& path, const SaveOptions& options,
                         ImageTypes types = ImageTypes::General);
// Whether a file of the type `key` can hold the image: its writer builds it
// in memory without refusing (nothing is written).
bool ImageFitsFormat(TZX_Disk& disk, const std::string& key, const SaveOptions& options);

}  // namespace kelvara
