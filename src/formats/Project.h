// The program's own project file (.udf): every field of the image, with a CRC-32.
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
bool LoadProject(TZX_Disk& disk, const std::string& path);
bool ReadProjectBytes(TZX_Disk& disk, std::span<const uint8_t> file);
WriteResult SaveProject(const TZX_Disk& disk, const std::string& path);
WriteResult BuildProjectBytes(const TZX_Disk& disk, std::vector<uint8_t>& out);

}  // namespace kelvara
