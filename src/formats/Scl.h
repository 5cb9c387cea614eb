// SCL as an image format: the archive unpacked onto a fresh TR-DOS disk, and packed back.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/WriteResult.h"
#include "model/ZXDisk.h"

namespace kelvara {

// Readers empty the image first and leave their error text (or a note) in
// the image's StatusText; Read...Bytes is the same work on bytes in memory.
bool LoadSCL(TZX_Disk& disk, const std::string& path);
bool ReadSclBytes(TZX_Disk& disk, std::span<const uint8_t> file);
WriteResult SaveSCL(const TZX_Disk& disk, const std::string& path);
WriteResult BuildSclBytes(const TZX_Disk& disk, std::vector<uint8_t>& out);

}  // namespace kelvara
