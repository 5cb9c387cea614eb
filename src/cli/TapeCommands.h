// kelvara-cli's tape work on any disk whose file system has a tape form
// (session/TapeExchange.h): extract --tap, and add of TAP and TZX files.
#pragma once

#include <string>
#include <vector>

#include "cli/Cli.h"
#include "model/ZXDisk.h"

namespace kelvara::cli {

// The named files (every live file without names) as header and data
// pairs in one TAP file, or TZX when `out` ends in .tzx. A file without a
// tape form is left out with the reason; exit status 0 when every file was
// written, 2 when some were, 1 when none was.
int ExtractTap(Context& ctx, const TZX_Disk& disk, const std::vector<std::string>& names,
               const std::string& out, bool force);
// The files of TAP and TZX files onto the disk through its system's add;
// 0, or 1 after the reason.
int AddTapes(Context& ctx, TZX_Disk& disk, const std::vector<std::string>& files);
// Whether a path names a tape file (.tap or .tzx in any case).
bool IsTapePath(const std::string& path);

}  // namespace kelvara::cli
