// SCP: the flux image of SuperCard Pro and the tools that share its layout.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/WriteResult.h"
#include "model/ZXDisk.h"

namespace kelvara {

struct ScpOptions {
  int revolutions = 1;  // revolutions written per track, 1..5
};

// Readers empty the image first and leave their error text (or a note) in
// the image's StatusText; Read...Bytes is the same work on bytes in memory.
bool LoadSCP(TZX_Disk& disk, const std::string& path);
bool ReadScpBytes(TZX_Disk& disk, std::span<const uint8_t> file);
WriteResult SaveSCP(const TZX_Disk& disk, const std::string& path, const ScpOptions& options = {});
WriteResult BuildScpBytes(const TZX_Disk& disk, std::vector<uint8_t>& out,
                          const ScpOptions& options = {});

}  // namespace kelvara
