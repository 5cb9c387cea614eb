// What a user needs to know before trusting an image file: the sectors that
// are bad, hold no data or are missing, track by track; whether its TR-DOS
// catalog or CP/M directory is consistent; and for Hobeta and SCL files
// whether their checksums hold.
#pragma once

#include <string>
#include <vector>

#include "model/ZXDisk.h"

namespace kelvara {

// The sectors of one track that cannot be trusted, by sector number.
struct TrackDamage {
  int track = 0;
  std::vector<int> bad;      // data with a CRC error
  std::vector<int> noData;   // an ID field without data
  std::vector<int> missing;  // numbers the track's layout has but no slot carries
};

struct ImageCheck {
  enum class Verdict { Clean, Damaged, Unreadable };
  Verdict verdict = Verdict::Clean;
  std::string format;              // the extension key: "TRD", "SCL", "$C" (Hobeta) ...
  std::string error;               // Unreadable: why
  std::string note;                // the reader's note, when it left one
  std::string fileSystem;          // "trdos", "cpm" or "" when neither is recognised
  int tracks = 0;                  // present tracks
  std::vector<int> missingTracks;  // absent tracks before the last present one
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
// The TR-DOS catalog read as TR-DOS reads it (entries up to the first whose
// first byte is 0), its service sector's counts, pointer and type, and the
// files' places and sectors; a sentence per finding. Empty when consistent.
// `isTrdos` tells whether track 0 holds a TR-DOS catalog at all.
std::vector<std::string> CheckTrdosVolume(const TZX_Disk& disk, bool& isTrdos);
// The CP/M directory: blocks outside the disk or in the directory, blocks
// held by two files, record counts above an extent's 128.
std::vector<std::string> CheckCpmVolume(const TZX_Disk& disk);

}  // namespace kelvara
