// DSK and extended DSK (EDSK): the sector images of Amstrad CPC, PCW and
// Spectrum +3 disks, with each sector's ID field and controller status.
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
// Both kinds are read; the writer always writes EDSK.
bool LoadDSK(TZX_Disk& disk, const std::string& path);
bool ReadDskBytes(TZX_Disk& disk, std::span<const uint8_t> file);
WriteResult SaveDSK(const TZX_Disk& disk, const std::string& path);
WriteResult BuildDskBytes(const TZX_Disk& disk, std::vector<uint8_t>& out);

}  // namespace kelvara
