// The other direction of the flux decoder: a track of a disk image as raw
// bytes (its own raw track where it has one, else the standard layout), the
// bytes as MFM bit cells, and the cells as clean flux.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "codec/Flux.h"
#include "model/ZXDisk.h"

namespace kelvara::flux {

// The raw bytes of one track and a sync flag per byte (1 = written with a
// missing clock). A track that is not present, or whose sectors cannot be laid
// out, is an unformatted stretch: false, and `bytes` left empty.
bool TrackRawBytes(const TZX_Disk& disk, int track, std::vector<uint8_t>& bytes,
                   std::vector<uint8_t>& sync);

// MFM cells, one byte (0 or 1) per cell, 16 per raw byte: the clock cell is 1
// only between two 0 data bits. A flagged A1 is 0x4489 and a flagged C2
// 0x5224, the missing clock that marks a sync; other flagged bytes (the 0x14
// that some images put before the data of a bad sector) go out with their
// clocks.
void MfmCells(std::span<const uint8_t> bytes, std::span<const uint8_t> sync,
              std::vector<uint8_t>& cells);

// Where the data field of the first sector numbered `sector` lies, in bytes:
// from its mark to the end of its CRC. False when the track has no such field.
bool FindDataField(std::span<const uint8_t> bytes, std::span<const uint8_t> sync, uint8_t sector,
                   size_t& begin, size_t& end);

// The cells of a whole revolution as flux intervals of `cellTicks` ticks a
// cell, the first transition timed from the index: each interval is rounded
// to whole ticks with the remainder carried into the next, so the sum does
// not drift. Returns the ticks of the cells after the last transition, which
// belong to the first interval of the next revolution.
uint32_t CellsToFlux(std::span<const uint8_t> cells, double cellTicks, std::vector<uint32_t>& flux);

}  // namespace kelvara::flux
