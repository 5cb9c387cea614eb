// PRO (a CP/M disk of the Profi computer) and KDI (a disk of the Korvet
// computer): plain sector dumps without header, five 1024-byte sectors per
// track, tracks in image order (cylinder 0 side 0, cylinder 0 side 1, ...).
// Sector k of track t lies at t * 5120 + k * 1024.
//
// The two differ in one sector number only: the Profi formats the fifth
// sector of track 0 as sector 9, so a PRO image's track 0 reads 1, 2, 3, 4, 9.
// Unlike TR-DOS, both write the true side into the ID field's head byte.
#include <array>
#include <string>

#include "formats/ProKdi.h"
#include "model/FileIO.h"

namespace kelvara {

namespace {

constexpr size_t kSectorSize = 1024;
constexpr int kSectorsPerTrack = 5;
constexpr size_t kTrackSize = kSectorSize * kSectorsPerTrack;
constexpr uint8_t kSizeCode = 3;

using SectorNumbers = std::array<uint8_t, kSectorsPerTrack>;
constexpr SectorNumbers kPlainTrack = {1, 2, 3, 4, 5};
constexpr SectorNumbers kProfiTrack0 = {1, 2, 3, 4, 9};

struct DumpFormat {
  const char* name;
  bool nineOnTrack0;

  const SectorNumbers& Numbers(int track) const {
    return nineOnTrack0 && track == 0 ? kProfiTrack0 : kPlainTrack;
  }
};

constexpr DumpFormat kPro = {"PRO", true};
constexpr DumpFormat kKdi = {"KDI", false};

// The track count is the length in tracks rounded to the nearest whole
// number, an exact half to the even neighbour: 2560 bytes give no track.
size_t RoundedTrackCount(size_t length) {
  const size_t whole = length / kTrackSize;
  const size_t rest = length % kTrackSize;
  if (rest > kTrackSize / 2 || (rest == kTrackSize / 2 && whole % 2 == 1)) return whole + 1;
  return whole;
}

bool ReadDump(TZX_Disk& disk, std::span<const uint8_t> file, const DumpFormat& format);

bool LoadDump(TZX_Disk& disk, const std::string& path, const DumpFormat& format) {
  if (!FileExists(path)) return false;
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, file, disk.StatusText)) return false;
  return ReadDump(disk, file, format);
}

bool ReadDump(TZX_Disk& disk, std::span<const uint8_t> file, const DumpFormat& format) {
  const size_t count = RoundedTrackCount(file.size());
  // A file of more tracks than the image holds is no disk of either machine:
  // it is refused, and the image stays as it was.
  if (count > static_cast<size_t>(kTrackCount)) {
    disk.StatusText = std::string(format.name) + " file too large: " + std::to_string(count) +
                      " tracks, at most " + std::to_string(kTrackCount) + "!";
    return false;
  }
  disk.ClearImage();
  size_t offset = 0;
  for (size_t t = 0; t < count; ++t) {
    TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    track.Present = 0xFF;
    track.RawLength = 0;
    const SectorNumbers& numbers = format.Numbers(static_cast<int>(t));
    for (int k = 0; k < kSectorsPerTrack; ++k) {
      // A last track counted by the rounding ends inside the file: its whole
      // sectors are kept, the bytes of a partial one are dropped, and the
      // reader's note says so.
      if (offset + kSectorSize > file.size()) {
        disk.StatusText = std::string(format.name) + " file ends inside track " +
                          std::to_string(t) + ": " + std::to_string(k) + " of 5 sectors read.";
        return true;
      }
      TSectorRec& s = track.SectorHeader(static_cast<uint8_t>(k));
      s.SetId(static_cast<uint8_t>(t / 2), static_cast<uint8_t>(t % 2), numbers[k], kSizeCode);
      s.DataOk = 0xFF;
      s.SetData(file.subspan(offset, kSectorSize));
      offset += kSectorSize;
    }
  }
  return true;
}

// The first present slot among slots 0..4 that holds sector `sec`.
const TSectorRec* FindSector(const TTrack& track, uint8_t sec) {
  for (int i = 0; i < kSectorsPerTrack; ++i) {
    const TSectorRec& s = track.Sectors[i];
    if (s.Present && s.Sec == sec) return &s;
  }
  return nullptr;
}

WriteResult BuildDump(const TZX_Disk& disk, std::vector<uint8_t>& out, const DumpFormat& format) {
  out.clear();
  const int count = disk.PresentTracks();
  out.reserve(static_cast<size_t>(count) * kTrackSize);
  // By index, not by presence: an image is filled from track 0 upward.
  for (int t = 0; t < count; ++t) {
    const TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    for (uint8_t sec : format.Numbers(t)) {
      const TSectorRec* s = FindSector(track, sec);
      if (!s) {
        out.clear();
        return WriteResult::Failed("Track " + std::to_string(t) + " has no sector " +
                                   std::to_string(sec) + " among its first 5 slots!");
      }
      out.insert(out.end(), s->Data.begin(), s->Data.begin() + kSectorSize);
    }
  }
  return {};
}

}  // namespace

bool LoadPRO(TZX_Disk& disk, const std::string& path) {
  return LoadDump(disk, path, kPro);
}
bool ReadProBytes(TZX_Disk& disk, std::span<const uint8_t> file) {
  return ReadDump(disk, file, kPro);
}
WriteResult BuildProBytes(const TZX_Disk& disk, std::vector<uint8_t>& out) {
  return BuildDump(disk, out, kPro);
}
WriteResult SavePRO(const TZX_Disk& disk, const std::string& path) {
  return BuildAndWrite(path, [&](std::vector<uint8_t>& out) { return BuildDump(disk, out, kPro); });
}

bool LoadKDI(TZX_Disk& disk, const std::string& path) {
  return LoadDump(disk, path, kKdi);
}
bool ReadKdiBytes(TZX_Disk& disk, std::span<const uint8_t> file) {
  return ReadDump(disk, file, kKdi);
}
WriteResult BuildKdiBytes(const TZX_Disk& disk, std::vector<uint8_t>& out) {
  return BuildDump(disk, out, kKdi);
}
WriteResult SaveKDI(const TZX_Disk& disk, const std::string& path) {
  return BuildAndWrite(path, [&](std::vector<uint8_t>& out) { return BuildDump(disk, out, kKdi); });
}

}  // namespace kelvara
