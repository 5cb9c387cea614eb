#include "model/TrackSlots.h"

#include <algorithm>

namespace kelvara {

void RemoveSlot(TTrack& track, int slot) {
  if (slot < 0 || slot >= kSlotCount) return;
  auto& s = track.Sectors;
  std::move(s.begin() + slot + 1, s.end(), s.begin() + slot);
  s.back() = TSectorRec{};
  track.CountSectors();
}

void NewSectorInSlot(TZX_Disk& disk, int track, int slot) {
  if (track < 0 || track >= kTrackCount || slot < 0 || slot >= kSlotCount) return;
  TTrack& t = disk.GetTrack(static_cast<uint8_t>(track));
  TSectorRec& s = t.SectorHeader(static_cast<uint8_t>(slot));
  s.SetId(static_cast<uint8_t>(track / 2), static_cast<uint8_t>(track % 2),
          static_cast<uint8_t>(slot), 1);
  s.DataOk = 0xFF;
  t.CountSectors();
}

void DropRawTrack(TTrack& track) {
  track.RawValid = 0;
  track.ClearRaw();
}

void SectorsToRawAll(TZX_Disk& disk) {
  for (int i = 0; i < kTrackCount; ++i) {
    TTrack& track = disk.GetTrack(static_cast<uint8_t>(i));
    track.CountSectors();
    track.SectorsToRaw();
  }
}

}  // namespace kelvara
