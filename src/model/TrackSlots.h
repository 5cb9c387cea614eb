// Slot-level edits of a track that the disk map's commands make: a
// sector slot taken out or put in, a raw track dropped, the sectors' data
// written back into the raw tracks. They keep the used slots of a track
// contiguous from slot 0, which every walk over a track's sectors assumes.
#pragma once

#include <cstdint>

#include "model/ZXDisk.h"

namespace kelvara {

// Takes slot `slot` out: every later slot moves one place down with all its
// fields and data, and slot 19 becomes empty. The sector count follows.
void RemoveSlot(TTrack& track, int slot);

// Puts a sector with good but empty data into slot `slot` of track `track`:
// C and H from the track index, R the slot index, 256-byte size code, and
// the ID CRC computed over them. The slot's other fields stay as they were
// (zero on an emptied slot). The sector count follows.
void NewSectorInSlot(TZX_Disk& disk, int track, int slot);

// Drops the track's raw bytes; its sectors and log stay.
void DropRawTrack(TTrack& track);

// Writes the sectors' data back into the raw track of every track that has
// one, each after recounting its sectors (a reader may have left the count
// at 0 after filling the slots).
void SectorsToRawAll(TZX_Disk& disk);

}  // namespace kelvara
