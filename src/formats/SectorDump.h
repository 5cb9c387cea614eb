// What the plain sector dumps (TRD, PRO, KDI) share: files of nothing but
// sector data, a fixed number of equal sectors a track, tracks in image
// order (cylinder 0 side 0, cylinder 0 side 1, ...).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/WriteResult.h"
#include "model/ZXDisk.h"

namespace kelvara {

struct DumpGeometry {
  const char* name;  // the format, for messages: "TRD"
  int sectorsPerTrack;
  uint8_t sizeCode;                      // of every sector
  bool headIsSide;                       // the ID's head byte: the side, or 0 on both sides
  const uint8_t* (*numbers)(int track);  // sector numbers of a track, in file order

  int SectorSize() const { return SectorBytes(sizeCode); }
};

// Loads a dump. A file that ends inside a track keeps every whole sector it
// holds, and the bytes of a last partial sector (padded with zeros and
// marked bad); a file of more tracks than the image holds loads its first
// 168. The note in StatusText says both.
bool ReadSectorDump(TZX_Disk& disk, std::span<const uint8_t> file, const DumpGeometry& g);
// The same from a file, read a track at a time (only the tracks the image
// holds are read). False, with the reason in StatusText, when the file
// cannot be opened or read; false without a text when there is no file.
bool LoadSectorDump(TZX_Disk& disk, const std::string& path, const DumpGeometry& g);

// Writes tracks 0 to the last present track. Refused, naming the track and
// sector, when a track before it is absent, a sector number is missing or a
// sector is not of the format's size, and when no track is present; the
// last track may end early (sectors 1..k of it only), as a file cut inside a
// track loads. Sectors without data are written as zeros, and the result's
// note says so.
WriteResult BuildSectorDump(const TZX_Disk& disk, std::vector<uint8_t>& out, const DumpGeometry& g);

}  // namespace kelvara
