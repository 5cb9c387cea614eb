// TRD: the plain sector dump of a TR-DOS disk. No header: 16 sectors of 256
// bytes per track, tracks in image order (cylinder 0 side 0, cylinder 0 side
// 1, ...), so sector r of track t lies at t * 4096 + (r - 1) * 256. Every ID
// field is synthesised: C = t / 2, H = 0 on both sides (as TR-DOS formats
// them), R = 1..16, N = 1.
//
// The file's length need not be a whole number of tracks: the last track
// keeps the sectors the file holds (see SectorDump.h), and such an image
// saves back to a file of the same length.
#include <string>

#include "filesystems/Trdos.h"
#include "formats/SectorDump.h"
#include "formats/Trd.h"

namespace kelvara {

namespace {

constexpr uint8_t kTrdNumbers[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
constexpr DumpGeometry kTrd = {"TRD", 16, 1, false, [](int) { return kTrdNumbers; }};

bool NoteWithoutCatalog(TZX_Disk& disk) {
  TTrdosCatalog cat;
  if (disk.LastPresentTrack() < 0 || ReadTrdosCatalog(disk, cat)) return true;
  if (!disk.StatusText.empty()) disk.StatusText += " ";
  disk.StatusText += kTrdNoCatalogNote;
  return true;
}

}  // namespace

bool LoadTRD(TZX_Disk& disk, const std::string& path) {
  return LoadSectorDump(disk, path, kTrd) && NoteWithoutCatalog(disk);
}

bool ReadTrdBytes(TZX_Disk& disk, std::span<const uint8_t> file) {
  return ReadSectorDump(disk, file, kTrd) && NoteWithoutCatalog(disk);
}

WriteResult BuildTrdBytes(const TZX_Disk& disk, std::vector<uint8_t>& out) {
  return BuildSectorDump(disk, out, kTrd);
}

WriteResult SaveTRD(const TZX_Disk& disk, const std::string& path) {
  return BuildAndWrite(path, [&](std::vector<uint8_t>& out) { return BuildTrdBytes(disk, out); });
}

}  // namespace kelvara
