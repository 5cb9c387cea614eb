#include "session/MapCells.h"

#include <cstdio>

namespace kelvara {

std::string TrackCellText(int track) {
  char text[8];
  std::snprintf(text, sizeof text, "T%03d", track % 1000);
  return text;
}

std::string SectorCellText(uint8_t sec) {
  char text[4];
  std::snprintf(text, sizeof text, "s%02d", sec % 100);
  return text;
}

CellLook LookOfCell(const TZX_Disk& disk, int column, int row, bool showDisabledSectors) {
  CellLook look;
  if (row < 0 || row >= kTrackCount || column < 0 || column >= kMapColumns) return look;
  const TTrack& track = disk.GetTrack(static_cast<uint8_t>(row));
  if (column == 0) {
    if (track.Present) {
      look.image = track.RawLength ? CellImage::BlueTrack : CellImage::YellowTrack;
      look.whiteText = track.RawLength != 0;
      look.text = TrackCellText(row);
    } else if (showDisabledSectors) {
      look.image = CellImage::GreyTrack;
    }
    return look;
  }
  const TSectorRec& slot = track.SectorHeader(static_cast<uint8_t>(column - 1));
  if (!slot.Present) {
    if (showDisabledSectors) look.image = CellImage::GreySector;
    return look;
  }
  // A slot left in an absent track (one removed with its sectors kept)
  // shows nothing until the track is added back.
  if (!track.Present) return look;
  switch (SectorDataState(slot)) {
    case DataState::NoData:
      look.image = CellImage::YellowSector;
      break;
    case DataState::Good:
      look.image = CellImage::LimeSector;
      break;
    case DataState::Bad:
      look.image = CellImage::RedSector;
      break;
  }
  look.text = SectorCellText(slot.Sec);
  return look;
}

}  // namespace kelvara
