// The CP/M and screen commands of kelvara-cli as plain functions, so that the
// commands shared with other file systems (cat, extract, new, screen) can
// choose by the image and call them. Each returns 0 on success, or 1 after
// reporting the failure through the context (CpmExtract 2 when partly done).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "filesystems/CpmCatalog.h"
#include "session/CpmFileCommands.h"

namespace kelvara::cli {

// The directory of a CP/M disk: a row per listed file, then the free and used
// space and the number of files.
int CpmCat(Context& ctx, const TZX_Disk& disk, CpmShowOptions show);
// Saves the named files (NAME.EXT, USER:NAME.EXT for users 1-15; all listed
// files when names is empty) into outDir, created when missing: from a Profi
// disk each as its 11-byte key with the extension cpm, from a +3DOS or CPC
// disk as NAME.EXT; the files of users 1-15 into a folder named after the
// user. An existing file is replaced only with `force`. With `raw` a file's
// PLUS3DOS header is left out and the bytes cut to the length it gives.
// Returns the exit status: 2 when only some files were written.
int CpmExtract(Context& ctx, const TZX_Disk& disk, const std::vector<std::string>& names,
               const std::string& outDir, CpmShowOptions show, bool force, bool raw = false);
// The bytes of the file NAME.EXT (hidden files included), without a
// PLUS3DOS header.
int CpmFileBytes(Context& ctx, const TZX_Disk& disk, const std::string& name,
                 std::vector<uint8_t>& out);
// Adds files (session/CpmFileCommands.h), all or none.
int CpmAdd(Context& ctx, TZX_Disk& disk, const std::vector<std::string>& files,
           const CpmAddOptions& options);
// Deletes the files named NAME.EXT or N:NAME.EXT, all or none.
int CpmRemove(Context& ctx, TZX_Disk& disk, const std::vector<std::string>& names);
// Renames a file; NEW may name another user area.
int CpmRename(Context& ctx, TZX_Disk& disk, const std::string& from, const std::string& to);
// Writes an empty CP/M Profi disk to outPath, its format chosen by extension.
int NewCpm(Context& ctx, const std::string& outPath);
// Writes an empty +3 disk (the standard 180 KB format) to outPath.
int NewPlus3(Context& ctx, const std::string& outPath);
// Writes the first 6912 bytes of `screen` as a PNG picture, each pixel a
// scale x scale square.
int ScreenToPng(Context& ctx, std::span<const uint8_t> screen, const std::string& outPath,
                int scale);

}  // namespace kelvara::cli
