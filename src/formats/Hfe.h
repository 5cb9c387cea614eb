// HFE: MFM cell streams of both sides, interleaved in 512-byte blocks.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/WriteResult.h"
#include "model/ZXDisk.h"

namespace kelvara {

struct HfeOptions {
  // Tracks kept from a file are laid out over their own raw bytes rather
  // than on a blank track.
  bool keepRawBytes = false;
};

// Readers empty the image first and leave their error text (or a note) in
// the image's StatusText; Read...Bytes is the same work on bytes in memory.
bool LoadHFE(TZX_Disk& disk, const std::string& path);
bool ReadHfeBytes(TZX_Disk& disk, std::span<const uint8_t> file);
WriteResult SaveHFE(const TZX_Disk& disk, const std::string& path, const HfeOptions& options = {});
WriteResult BuildHfeBytes(const TZX_Disk& disk, std::vector<uint8_t>& out,
                          const HfeOptions& options = {});

}  // namespace kelvara
