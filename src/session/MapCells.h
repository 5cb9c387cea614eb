// What each cell of the disk map shows, decided from the image alone: the
// map widget only copies the chosen cell image and writes the text.
//
// Row r is track index r; column 0 is the track label, column c (1..20) is
// sector slot c - 1. The grid is created with 26 columns and cut to 21 when
// the main window first shows; columns past 20 never show anything.
#pragma once

#include <cstdint>
#include <string>

#include "model/ZXDisk.h"

namespace kelvara {

inline constexpr int kMapRowHeight = 14;
inline constexpr int kMapLabelWidth = 50;   // column 0
inline constexpr int kMapSectorWidth = 30;  // columns 1..
inline constexpr int kMapColumnsAtCreation = 26;
inline constexpr int kMapColumns = 21;  // label + 20 slots

// The seven cell images, plus "paint nothing" (the grid's background shows).
enum class CellImage {
  None,
  RedSector,     // data read with a bad CRC
  LimeSector,    // good data
  YellowSector,  // ID field without data
  GreySector,    // empty slot, only with ShowDisabledSectors
  BlueTrack,     // track with raw bytes
  YellowTrack,   // track of sectors only
  GreyTrack,     // absent track, only with ShowDisabledSectors
};

struct CellLook {
  CellImage image = CellImage::None;
  std::string text;        // drawn centred over the image
  bool whiteText = false;  // black otherwise
};

CellLook LookOfCell(const TZX_Disk& disk, int column, int row, bool showDisabledSectors);

// "T" and the track index in three digits: T000 .. T167.
std::string TrackCellText(int track);
// "s" and the last two digits of the sector number: 5 -> s05, 100 -> s00.
std::string SectorCellText(uint8_t sec);

}  // namespace kelvara
