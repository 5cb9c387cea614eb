// kelvara-cli's TR-DOS file commands as plain functions on a loaded image, so
// that other command groups can call them for TR-DOS disks. Each returns the
// exit status (0 or 1) and reports failures through the context. Functions
// that change the image change only the image in memory; saving is the
// caller's, and only after success.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "model/ZXDisk.h"

namespace kelvara::cli {

// The disk description and the file list, as the catalog window shows them.
int TrdosCat(Context& ctx, TZX_Disk& disk, bool showDeleted);
// The same as one JSON object (session/JsonReports.h).
int TrdosCatAsJson(Context& ctx, TZX_Disk& disk, bool showDeleted, const std::string& path);
// The same for track 0 as a drive read it (sectors 1 upward); false when it
// holds no TR-DOS catalog.
bool TrdosCatFromDrive(Context& ctx, std::span<const uint8_t> track0, bool showDeleted);

struct TrdosExtractOptions {
  enum class Mode { Hobeta, Scl, Raw } mode = Mode::Hobeta;
  std::string sclFile;       // Scl: the archive to write
  std::string folder = ".";  // Hobeta, Raw: created when missing
  bool force = false;        // overwrite existing files without asking
};
// The named files (NAME.T, the name without its padding) or, with no names,
// every live file.
int TrdosExtract(Context& ctx, TZX_Disk& disk, const std::vector<std::string>& names,
                 const TrdosExtractOptions& options);
// Adds the files of SCL and Hobeta files (SCL by the extension .scl).
int TrdosAdd(Context& ctx, TZX_Disk& disk, const std::vector<std::string>& files);
int TrdosRemove(Context& ctx, TZX_Disk& disk, const std::vector<std::string>& names);
int TrdosCompact(Context& ctx, TZX_Disk& disk);
// The whole sectors of the file NAME.T.
int TrdosFileBytes(Context& ctx, const TZX_Disk& disk, const std::string& name,
                   std::vector<uint8_t>& out);
// Saves the image by its extension (new images and changed ones).
void SaveImage(Context& ctx, TZX_Disk& disk, const std::string& path);

}  // namespace kelvara::cli
