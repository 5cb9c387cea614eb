// PRO (a CP/M disk of the Profi computer) and KDI (a disk of the Korvet
// computer): plain sector dumps without header, five 1024-byte sectors per
// track, tracks in image order (cylinder 0 side 0, cylinder 0 side 1, ...).
// Sector k of track t lies at t * 5120 + k * 1024.
//
// The two differ in one sector number only: the Profi formats the fifth
// sector of track 0 as sector 9, so a PRO image's track 0 reads 1, 2, 3, 4, 9.
// Unlike TR-DOS, both write the true side into the ID field's head byte.
#include <string>

#include "formats/ProKdi.h"
#include "formats/SectorDump.h"
#include "model/FileIO.h"

namespace kelvara {

namespace {

constexpr uint8_t kPlainTrack[5] = {1, 2, 3, 4, 5};
constexpr uint8_t kProfiTrack0[5] = {1, 2, 3, 4, 9};

constexpr DumpGeometry kPro = {"PRO", 5, 3, true,
                               [](int t) { return t == 0 ? kProfiTrack0 : kPlainTrack; }};
constexpr DumpGeometry kKdi = {"KDI", 5, 3, true, [](int) { return kPlainTrack; }};

}  // namespace

bool LoadPRO(TZX_Disk& disk, const std::string& path) {
  return LoadSectorDump(disk, path, kPro);
}
bool ReadProBytes(TZX_Disk& disk, std::span<const uint8_t> file) {
  return ReadSectorDump(disk, file, kPro);
}
WriteResult BuildProBytes(const TZX_Disk& disk, std::vector<uint8_t>& out) {
  return BuildSectorDump(disk, out, kPro);
}
WriteResult SavePRO(const TZX_Disk& disk, const std::string& path) {
  return BuildAndWrite(path,
                       [&](std::vector<uint8_t>& out) { return BuildSectorDump(disk, out, kPro); });
}

bool LoadKDI(TZX_Disk& disk, const std::string& path) {
  return LoadSectorDump(disk, path, kKdi);
}
bool ReadKdiBytes(TZX_Disk& disk, std::span<const uint8_t> file) {
  return ReadSectorDump(disk, file, kKdi);
}
WriteResult BuildKdiBytes(const TZX_Disk& disk, std::vector<uint8_t>& out) {
  return BuildSectorDump(disk, out, kKdi);
}
WriteResult SaveKDI(const TZX_Disk& disk, const std::string& path) {
  return BuildAndWrite(path,
                       [&](std::vector<uint8_t>& out) { return BuildSectorDump(disk, out, kKdi); });
}

}  // namespace kelvara
