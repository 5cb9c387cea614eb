// FDI: sector headers with their data and a good-CRC flag per sector.
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
bool LoadFDI(TZX_Disk& disk, const std::string& path);
bool ReadFdiBytes(TZX_Disk& disk, std::span<const uint8_t> file);
WriteResult SaveFDI(const TZX_Disk& disk, const std::string& path);
WriteResult BuildFdiBytes(const TZX_Disk& disk, std::vector<uint8_t>& out);

}  // namespace kelvara
