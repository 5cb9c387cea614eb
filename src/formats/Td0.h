// TeleDisk (TD0): sector records behind a header, plain or LZH-packed.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/WriteResult.h"
#include "model/ZXDisk.h"

namespace kelvara {

struct Td0Options {
  // Pack everything after the header ("td" files).
  bool compress = false;
};

// Readers empty the image first and leave their error text (or a note) in
// the image's StatusText; Read...Bytes is the same work on bytes in memory.
bool LoadTD0(TZX_Disk& disk, const std::string& path);
bool ReadTd0Bytes(TZX_Disk& disk, std::span<const uint8_t> file);
WriteResult SaveTD0(const TZX_Disk& disk, const std::string& path, const Td0Options& options = {});
WriteResult BuildTd0Bytes(const TZX_Disk& disk, std::vector<uint8_t>& out,
                          const Td0Options& options = {});

}  // namespace kelvara
