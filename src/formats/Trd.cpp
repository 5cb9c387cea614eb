// TRD: the plain sector dump of a TR-DOS disk. No header: 16 sectors of 256
// bytes per track, tracks in image order (cylinder 0 side 0, cylinder 0 side
// 1, ...), so sector r of track t lies at t * 4096 + (r - 1) * 256. Every ID
// field is synthesised: C = t / 2, H = 0 on both sides (as TR-DOS formats
// them), R = 1..16, N = 1.
#include <string>

#include "formats/Trd.h"
#include "model/FileIO.h"

namespace kelvara {

namespace {
constexpr size_t kTrdSectorSize = 256;
constexpr int kTrdSectorsPerTrack = 16;
constexpr size_t kTrdTrackSize = kTrdSectorSize * kTrdSectorsPerTrack;
}  // namespace

bool LoadTRD(TZX_Disk& disk, const std::string& path) {
  if (!FileExists(path)) return false;
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, file, disk.StatusText)) return false;
  return ReadTrdBytes(disk, file);
}

bool ReadTrdBytes(TZX_Disk& disk, std::span<const uint8_t> file) {
  // The track count is the length in tracks rounded to the nearest whole
  // number, an exact half to the even neighbour (so 2048 bytes give no track
  // and 6144 give two).
  const size_t whole = file.size() / kTrdTrackSize;
  const size_t rest = file.size() % kTrdTrackSize;
  size_t count = whole;
  if (rest > kTrdTrackSize / 2 || (rest == kTrdTrackSize / 2 && whole % 2 == 1)) ++count;
  // A file of more tracks than the image holds is refused rather than cut:
  // it is not a TRD of any drive.
  if (count > static_cast<size_t>(kTrackCount)) {
    disk.StatusText = "TRD file too large: " + std::to_string(count) + " tracks, at most " +
                      std::to_string(kTrackCount) + "!";
    return false;
  }

  disk.ClearImage();
  size_t offset = 0;
  int shortTrack = -1;
  int sectorsInShortTrack = 0;
  for (size_t t = 0; t < count; ++t) {
    TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    track.Present = 0xFF;
    track.RawLength = 0;
    for (int i = 0; i < kTrdSectorsPerTrack; ++i) {
      // A track counted by the rounding may end inside the file's last
      // bytes: its whole sectors are kept, the rest of it stays empty.
      if (offset + kTrdSectorSize > file.size()) {
        shortTrack = static_cast<int>(t);
        sectorsInShortTrack = i;
        break;
      }
      TSectorRec& s = track.SectorHeader(static_cast<uint8_t>(i));
      s.SetId(static_cast<uint8_t>(t / 2), 0, static_cast<uint8_t>(i + 1), 1);
      s.DataOk = 0xFF;
      s.SetData(file.subspan(offset, kTrdSectorSize));
      offset += kTrdSectorSize;
    }
  }
  if (shortTrack >= 0) {
    disk.StatusText = "TRD file ends inside track " + std::to_string(shortTrack) + ": " +
                      std::to_string(sectorsInShortTrack) + " of 16 sectors read.";
  }
  return true;
}

WriteResult BuildTrdBytes(const TZX_Disk& disk, std::vector<uint8_t>& out) {
  out.clear();
  const int count = disk.PresentTracks();
  out.reserve(static_cast<size_t>(count) * kTrdTrackSize);
  // By index, not by presence: an image must be filled from track 0 upward.
  for (int t = 0; t < count; ++t) {
    const TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    for (int r = 1; r <= kTrdSectorsPerTrack; ++r) {
      const TSectorRec* found = nullptr;
      for (int i = 0; i < kTrdSectorsPerTrack && !found; ++i) {
        if (track.SectorHeader(static_cast<uint8_t>(i)).Sec == r) {
          found = &track.SectorHeader(static_cast<uint8_t>(i));
        }
      }
      if (!found) {
        out.clear();
        return WriteResult::Failed("Track " + std::to_string(t) + " has no sector " +
                                   std::to_string(r) + "!");
      }
      out.insert(out.end(), found->Data.begin(), found->Data.begin() + kTrdSectorSize);
    }
  }
  return {};
}

WriteResult SaveTRD(const TZX_Disk& disk, const std::string& path) {
  return BuildAndWrite(path, [&](std::vector<uint8_t>& out) { return BuildTrdBytes(disk, out); });
}

}  // namespace kelvara
