// What a user needs to know before trusting an image file: the sectors that
// are bad, hold no data, have an unreadable ID or are missing, track by
// track; whether the file system on it (TR-DOS, +3DOS, CPC, CP/M Profi) is
// consistent; and for Hobeta and SCL files whether their checksums hold.
#pragma once

#include <bitset>
#include <functional>
#include <string>
#include <vector>

#include "filesystems/CpmCatalog.h"
#include "model/ZXDisk.h"

namespace kelvara {

// The sectors of one track that cannot be trusted, by sector number.
struct TrackDamage {
  int track = 0;
  std::vector<int> bad;      // data with a CRC error
  std::vector<int> noData;   // an ID field without data
  std::vector<int> missing;  // numbers the track's layout has but no slot carries
  std::vector<int> badId;    // an ID field with a CRC error: its data is never reached
};

struct ImageCheck {
  enum class Verdict { Clean, Damaged, Unreadable };
  Verdict verdict = Verdict::Clean;
  std::string format;  // the extension key: "TRD", "SCL", "$C" (Hobeta) ...
  std::string error;   // Unreadable: why
  std::string note;    // the reader's note, when it left one
  // "trdos", "plus3dos", "cpc-system", "cpc-data", "cpm" (Profi), "hobeta",
  // or "" when none is recognised.
  std::string fileSystem;
  int tracks = 0;  // present tracks
  // Absent tracks before the last present one, of a side the disk has.
  std::vector<int> missingTracks;
  std::vector<TrackDamage> damage;
  std::vector<std::string> problems;  // catalog and checksum findings, a sentence each

  void Settle() {
    if (verdict != Verdict::Unreadable)
      verdict = missingTracks.empty() && damage.empty() && problems.empty() ? Verdict::Clean
                                                                            : Verdict::Damaged;
  }
};

const char* VerdictName(ImageCheck::Verdict v);  // "clean", "damaged", "unreadable"

// Whether verify takes a file found in a folder: a loadable image type or a
// Hobeta file (an extension starting with '$').
bool IsCheckableFile(const std::string& path);

// Loads the file into `scratch` (emptied first) and checks it.
ImageCheck CheckImageFile(TZX_Disk& scratch, const std::string& path);
// The checks on an image in memory: sectors, then the file system.
void CheckImage(const TZX_Disk& disk, ImageCheck& out);

// What a file system's check found: its name in reports, the sector numbers
// each track of it is laid out with (those the layout has but the track
// lacks are missing), and a sentence per finding.
struct VolumeFindings {
  std::string fileSystem;
  std::function<std::bitset<256>(int track)> expectedSectors;
  std::vector<std::string> problems;
};
// A file system verify knows: `check` returns false when the disk does not
// hold it, and otherwise fills the findings. CheckImage walks its table of
// them (ImageCheck.cpp) in order, and the first that recognises the disk is
// the one checked; a new file system adds its row there.
struct FileSystemCheck {
  const char* family;  // for the reader: "trdos", "plus3dos / cpc", "cpm"
  bool (*check)(const TZX_Disk& disk, VolumeFindings& out);
};
// The TR-DOS catalog read as TR-DOS reads it (entries up to the first whose
// first byte is 0), its service sector's counts, pointer and type, and the
// files' places and sectors; a sentence per finding. Empty when consistent.
// `isTrdos` tells whether track 0 holds a TR-DOS catalog at all.
std::vector<std::string> CheckTrdosVolume(const TZX_Disk& disk, bool& isTrdos);
// The CP/M directory in the disk's layout (CpmFormatOf): blocks outside the
// disk or in the directory, blocks held by two files, record counts above an
// extent's 128 or beyond what the entry's blocks hold. Entries that are no
// files (labels, date stamps, passwords) hold no blocks and are passed over.
std::vector<std::string> CheckCpmVolume(const TZX_Disk& disk);
std::vector<std::string> CheckCpmVolume(const TZX_Disk& disk, const CpmFormat& format);

}  // namespace kelvara
