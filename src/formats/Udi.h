// UDI: raw MFM tracks with a sync-byte bitmap, one record per track.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/WriteResult.h"
#include "model/ZXDisk.h"

namespace kelvara {

struct UdiOptions {
  // Tracks kept from a file are laid out over their own raw bytes rather
  // than on a blank track.
  bool keepRawBytes = false;
};

// Readers empty the image first and leave their error text (or a note) in
// the image's StatusText; Read...Bytes is the same work on bytes in memory.
bool LoadUDI(TZX_Disk& disk, const std::string& path);
bool ReadUdiBytes(TZX_Disk& disk, std::span<const uint8_t> file);
WriteResult SaveUDI(const TZX_Disk& disk, const std::string& path, const UdiOptions& options = {});
WriteResult BuildUdiBytes(const TZX_Disk& disk, std::vector<uint8_t>& out,
                          const UdiOptions& options = {});

}  // namespace kelvara
