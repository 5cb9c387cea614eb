// The data revolution of the fast read. A 765-family controller reads
// sectors R, R + 1, ... up to EOT in one READ DATA, finding each by its whole
// ID (C, H, R, N the same for all); the sectors come in the order they pass
// the head. So a track is read in one revolution by starting at the sector
// that comes under the head next and taking, call after call, each stretch
// of sectors that lie one after the other on the track with numbers rising
// by one: a sequential track is one or two calls, an interleaved one
// (1, 9, 2, 10, ...) one call a sector, the calls following each other
// within the gaps.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "drive/Fdraw.h"

namespace kelvara {

// Sectors first, first + 1, ... (places in the track order, counted round
// the end of the track) read by one READ DATA.
struct SectorRun {
  size_t first;
  size_t count;
};

// The calls that read every ID of `ids` (the track order from the index)
// starting with ids[next]. None when one call a sector could not tell the
// sectors apart or a slot could not hold one: two IDs the same, or a size
// code above 3.
std::vector<SectorRun> FastReadRuns(std::span<const FD_ID_HEADER> ids, size_t next);

}  // namespace kelvara
