// The sector-level difference of two images of any formats: tracks present
// in one only, sectors present in one only, ID fields, data states and bytes
// that differ; and for two TR-DOS disks the files that differ.
#pragma once

#include <string>
#include <vector>

#include "model/ZXDisk.h"

namespace kelvara {

struct SectorDifference {
  enum class Kind {
    TrackOnlyInA,  // sector is -1
    TrackOnlyInB,
    OnlyInA,  // a sector number the other track does not carry (as often)
    OnlyInB,
    Id,     // the same sector number, another C, H or N
    State,  // good, bad or no data
    Bytes,  // both hold data; its length or bytes differ
  };
  Kind kind = Kind::Bytes;
  int track = 0;
  int sector = -1;       // the sector number R
  std::string a, b;      // Id: "C/H/R/N"; State: the state names; Bytes: the lengths
  int firstOffset = -1;  // Bytes: the first byte that differs
  int differing = 0;     // Bytes: how many bytes differ (the extra of the longer included)
};

struct FileDifference {
  enum class Kind { OnlyInA, OnlyInB, Entry, Bytes };
  Kind kind = Kind::Bytes;
  std::string name;  // "boot.B"
};

struct ImageDifference {
  std::vector<SectorDifference> sectors;
  std::vector<FileDifference> files;
  bool trdos = false;  // both images hold a TR-DOS catalog, so files were compared
  bool Same() const { return sectors.empty() && files.empty(); }
};

const char* KindName(SectorDifference::Kind kind);  // "track-only-in-a", "id", ...
const char* KindName(FileDifference::Kind kind);    // "only-in-a", "entry", "bytes"
const char* DataStateName(DataState state);         // "good", "bad", "no-data"

ImageDifference DiffImages(const TZX_Disk& a, const TZX_Disk& b);

}  // namespace kelvara
