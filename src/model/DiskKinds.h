// The disk kinds Kelvara knows by their layout: one row each, the single place
// that image readers, new disks, the drive runs and the Linux block-device
// mode take a regular geometry from. Adding a kind is a row, not a code path.
//
// A row describes the disk as its DOS formats it: every track of every side
// alike, `sectors` sectors of one size, numbered from `firstSector`, laid out
// round the track with `interleave` (1 = in order) and shifted by `skew`
// positions from one cylinder to the next. Quirks of one image format (the
// Profi's track 0, the side order of a sector dump) stay with that format.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace kelvara {

struct DiskKind {
  const char* key;        // name on the command line and in the settings: "trdos"
  const char* name;       // for messages: "TR-DOS"
  uint8_t cylinders;      // per side
  uint8_t sides;          // 1 or 2
  uint8_t sectors;        // per track
  uint8_t sizeCode;       // N of every sector: 128 << N bytes
  uint8_t firstSector;    // R of the first sector
  uint8_t interleave;     // 1 = sectors in number order round the track
  uint8_t skew;           // positions the first sector moves on from one cylinder to the next
  bool headIsSide;        // the ID's head byte: the side, or 0 on both sides
  uint8_t gap3Format;     // GAP 3 a format writes
  uint8_t gap3ReadWrite;  // GAP 3 given with read and write commands
  uint8_t filler;         // data byte of a freshly formatted sector
  uint16_t dataRateKbps;  // 250 double density, 500 high density (MFM)

  int SectorSize() const { return 128 << sizeCode; }
  int TrackCount() const { return cylinders * sides; }
  int TotalSectors() const { return TrackCount() * sectors; }
  long TotalBytes() const { return static_cast<long>(TotalSectors()) * SectorSize(); }
  // The sector numbers (R) of cylinder `cyl` in the order they pass the head
  // from the index.
  std::vector<uint8_t> SectorOrder(int cyl) const;
};

// Every kind, in the order a probe tries them.
std::span<const DiskKind> DiskKinds();
// The row of a key ("trdos", "plus3", ...); nullptr when there is none.
const DiskKind* FindDiskKind(std::string_view key);

}  // namespace kelvara
