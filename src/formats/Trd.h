// TRD: the plain sector dump of a TR-DOS disk (16 sectors of 256 bytes a track).
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
// Any bytes make a TRD file: one whose track 0 holds no TR-DOS catalog may
// be no disk at all, and the note ends with kTrdNoCatalogNote.
inline constexpr const char* kTrdNoCatalogNote =
    "Track 0.0 holds no TR-DOS catalog: the file's bytes are kept as plain sectors.";
bool LoadTRD(TZX_Disk& disk, const std::string& path);
bool ReadTrdBytes(TZX_Disk& disk, std::span<const uint8_t> file);
WriteResult SaveTRD(const TZX_Disk& disk, const std::string& path);
WriteResult BuildTrdBytes(const TZX_Disk& disk, std::vector<uint8_t>& out);

}  // namespace kelvara
