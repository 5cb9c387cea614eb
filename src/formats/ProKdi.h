// PRO (Profi CP/M) and KDI (Korvet): plain dumps of five 1024-byte sectors a track.
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
bool LoadPRO(TZX_Disk& disk, const std::string& path);
bool ReadProBytes(TZX_Disk& disk, std::span<const uint8_t> file);
WriteResult SavePRO(const TZX_Disk& disk, const std::string& path);
WriteResult BuildProBytes(const TZX_Disk& disk, std::vector<uint8_t>& out);
bool LoadKDI(TZX_Disk& disk, const std::string& path);
bool ReadKdiBytes(TZX_Disk& disk, std::span<const uint8_t> file);
WriteResult SaveKDI(const TZX_Disk& disk, const std::string& path);
WriteResult BuildKdiBytes(const TZX_Disk& disk, std::vector<uint8_t>& out);

}  // namespace kelvara
