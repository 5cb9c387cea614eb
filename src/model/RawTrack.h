// Raw track synthesis: one track of the image as the 6256 bytes an MFM
// controller would leave on a double-density track, with a bitmap of the
// sync bytes written with a missing clock.
#pragma once

#include <cstdint>

#include "model/ZXDisk.h"

namespace kelvara {

// One bit per raw byte: bit k of byte i flags position 8i + k as a sync byte.
inline constexpr int kMarkBitmapSize = kRawTrackSize / 8;  // 782

struct RawTrackOptions {
  // A track laid out on its own raw bytes starts from a copy of them rather
  // than from the caller's gap filler.
  bool keepRawBytes = false;
};

// Where synthesis refused: the track, and the slot when the refusal is tied
// to one; -1 where nothing is said.
struct RawTrackFault {
  int track = -1;
  int slot = -1;
};

// Synthesises `track` into `out` (kRawTrackSize bytes, filled by the caller
// with its gap byte first) and its sync bitmap into `marks` when given. On
// failure `fault` says where and the output is incomplete.
bool BuildRawTrack(const TZX_Disk& disk, uint8_t track, uint8_t* out, uint8_t* marks,
                   const RawTrackOptions& options, RawTrackFault& fault);

}  // namespace kelvara
