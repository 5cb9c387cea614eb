#include "filesystems/Plus3Dos.h"

#include <algorithm>
#include <numeric>

namespace kelvara {

namespace {

constexpr uint8_t kGeometrySector = 1;
constexpr uint8_t kPlus3SizeCode = 2;  // 512-byte sectors
constexpr size_t kGeometryBytes = 10;
constexpr uint8_t kCpcIdMask = 0xC0;
constexpr uint8_t kCpcSystemIds = 0x40;
constexpr uint8_t kCpcDataIds = 0xC0;
constexpr const char kPlus3Signature[] = "PLUS3DOS";

const TSectorRec* FirstSlot(const TTrack& track) {
  for (const TSectorRec& s : track.Sectors) {
    if (s.Present) return &s;
  }
  return nullptr;
}

const TSectorRec* SectorOnTrack(const TTrack& track, uint8_t sec) {
  for (const TSectorRec& s : track.Sectors) {
    if (s.Present && s.Sec == sec) return &s;
  }
  return nullptr;
}

// The CPC formats: the +3 one's geometry with their own first sector ID and
// reserved tracks, and no geometry record.
CpmFormat CpcFormat(bool system) {
  Plus3Geometry geometry;
  geometry.type = system ? 1 : 2;
  geometry.reserved = system ? 2 : 0;
  CpmFormat format;
  FormatFromGeometry(geometry, format);
  format.name = system ? "CPC system" : "CPC data";
  format.id = system ? "cpc-system" : "cpc-data";
  format.firstSector = system ? 0x41 : 0xC1;
  return format;
}

uint16_t U16(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

}  // namespace

std::array<uint8_t, 10> Plus3Geometry::Bytes() const {
  return {type,     sidedness,  tracks,    sectors,      sizeCode,
          reserved, blockShift, dirBlocks, gapReadWrite, gapFormat};
}

bool FormatFromGeometry(const Plus3Geometry& geometry, CpmFormat& format) {
  const int sides = geometry.sidedness & 3;
  // A CP/M block holds at least 1 KB; the sectors of a track fit its slots.
  if (geometry.type > 3 || sides > 2 || (geometry.sidedness & 0x3C) || geometry.tracks == 0 ||
      geometry.sectors == 0 || geometry.sectors > kSlotCount || geometry.sizeCode > 3 ||
      geometry.blockShift < 3 || geometry.blockShift > 7 || geometry.dirBlocks == 0) {
    return false;
  }
  CpmFormat f;
  f.name = "+3DOS";
  f.id = "plus3dos";
  f.sides = sides == 0   ? CpmFormat::Sides::One
            : sides == 1 ? CpmFormat::Sides::Interleaved
                         : CpmFormat::Sides::Successive;
  f.tracksPerSide = geometry.tracks;
  f.sectorsPerTrack = geometry.sectors;
  f.sectorSize = SectorBytes(geometry.sizeCode);
  f.firstSector = 1;
  f.profiTrack0 = false;
  f.reservedTracks = geometry.reserved;
  f.blockSize = 128 << geometry.blockShift;
  const int dataTracks = geometry.tracks * (sides == 0 ? 1 : 2) - geometry.reserved;
  if (dataTracks <= 0 || f.blockSize < f.sectorSize) return false;
  f.blockCount = dataTracks * geometry.sectors * f.sectorSize / f.blockSize;
  f.dirEntries = geometry.dirBlocks * f.blockSize / kCpmEntrySize;
  if (f.blockCount <= geometry.dirBlocks || f.blockCount > kCpmMaxBlocks) return false;
  f.plus3 = true;
  f.lastRecordBytes = true;
  format = f;
  return true;
}

bool FindPlus3Format(const TZX_Disk& disk, CpmFormat& format) {
  const TTrack& track = disk.GetTrack(0);
  if (!track.Present) return false;
  const TSectorRec* first = FirstSlot(track);
  if (!first) return false;
  const uint8_t ids = first->Sec & kCpcIdMask;
  if (first->SizeCode == kPlus3SizeCode && (ids == kCpcSystemIds || ids == kCpcDataIds)) {
    format = CpcFormat(ids == kCpcSystemIds);
    return true;
  }
  const TSectorRec* geometrySector = SectorOnTrack(track, kGeometrySector);
  if (!geometrySector || geometrySector->DataLength() < kGeometryBytes) return false;
  const std::span<const uint8_t> b = geometrySector->Data();
  Plus3Geometry geometry;
  const bool blank =
      std::all_of(b.begin(), b.begin() + kGeometryBytes, [](uint8_t x) { return x == kCpmUnused; });
  if (!blank) {
    geometry = {b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9]};
  }
  // The sectors must be the ones the geometry record names, and a track 0
  // must hold them all: a disk of another system seldom passes both.
  if (geometrySector->SizeCode != geometry.sizeCode || track.PresentSlots() < geometry.sectors)
    return false;
  return FormatFromGeometry(geometry, format);
}

bool ReadPlus3Header(std::span<const uint8_t> file, Plus3Header& header) {
  if (file.size() < kPlus3HeaderSize ||
      !std::equal(kPlus3Signature, kPlus3Signature + 8, file.begin()) || file[8] != 0x1A) {
    return false;
  }
  const uint8_t sum =
      static_cast<uint8_t>(std::accumulate(file.begin(), file.begin() + kPlus3HeaderSize - 1, 0u));
  if (sum != file[kPlus3HeaderSize - 1]) return false;
  header.fileLength = static_cast<uint32_t>(U16(file, 11) | U16(file, 13) << 16);
  header.type = file[15];
  header.dataLength = U16(file, 16);
  header.param1 = U16(file, 18);
  header.param2 = U16(file, 20);
  return true;
}

std::array<uint8_t, kPlus3HeaderSize> BuildPlus3Header(const Plus3Header& h) {
  std::array<uint8_t, kPlus3HeaderSize> b{};
  std::copy_n(kPlus3Signature, 8, b.begin());
  b[8] = 0x1A;
  b[9] = 1;   // issue
  b[10] = 0;  // version
  for (int i = 0; i < 4; ++i)
    b[11 + i] = static_cast<uint8_t>(h.fileLength >> (8 * i));
  b[15] = h.type;
  const uint16_t words[] = {h.dataLength, h.param1, h.param2};
  for (size_t i = 0; i < 3; ++i) {
    b[16 + 2 * i] = static_cast<uint8_t>(words[i]);
    b[17 + 2 * i] = static_cast<uint8_t>(words[i] >> 8);
  }
  b[kPlus3HeaderSize - 1] = static_cast<uint8_t>(std::accumulate(b.begin(), b.end() - 1, 0u));
  return b;
}

std::string DescribePlus3Header(const Plus3Header& h) {
  const std::string length = std::to_string(h.dataLength) + " bytes";
  switch (h.type) {
    case 0: {
      std::string text = "Program " + length;
      if (h.param1 < 0x8000) text += ", LINE " + std::to_string(h.param1);
      return text + ", variables at " + std::to_string(h.param2);
    }
    case 1:
    case 2: {
      const char name = static_cast<char>('a' + ((h.param1 >> 8) & 0x1F) - 1);
      return std::string(h.type == 1 ? "Number array " : "Character array ") + name +
             (h.type == 2 ? "$ " : " ") + length;
    }
    case 3:
      return "Bytes " + std::to_string(h.dataLength) + " at " + std::to_string(h.param1);
    default:
      return "Type " + std::to_string(h.type) + ", " + length;
  }
}

std::span<const uint8_t> Plus3FileBody(std::span<const uint8_t> file) {
  Plus3Header h;
  if (!ReadPlus3Header(file, h)) return file;
  const std::span<const uint8_t> body = file.subspan(kPlus3HeaderSize);
  // The length counts the header; one below it, or past the bytes, keeps
  // what there is.
  if (h.fileLength < kPlus3HeaderSize) return body;
  return body.first(std::min<size_t>(body.size(), h.fileLength - kPlus3HeaderSize));
}

void CreatePlus3Disk(TZX_Disk& disk) {
  disk.ClearImage();
  const Plus3Geometry geometry;
  for (int cyl = 0; cyl < geometry.tracks; ++cyl) {
    TTrack& track = disk.GetTrack(static_cast<uint8_t>(2 * cyl));
    track.Present = 0xFF;
    track.FormatGap3 = geometry.gapFormat;
    for (int slot = 0; slot < geometry.sectors; ++slot) {
      TSectorRec& s = track.SectorHeader(static_cast<uint8_t>(slot));
      s.SetId(static_cast<uint8_t>(cyl), 0, static_cast<uint8_t>(slot + 1), geometry.sizeCode);
      s.DataOk = 0xFF;
      // Formatted sectors are filled with 0xE5, which is also the empty
      // directory.
      std::ranges::fill(s.MutableData(SectorBytes(geometry.sizeCode)), kCpmUnused);
    }
    track.CountSectors();
  }
  const std::array<uint8_t, 10> bytes = geometry.Bytes();
  std::ranges::copy(bytes, disk.GetTrack(0).Sectors[0].MutableData().begin());
  disk.CountTracks();
  if (disk.View()) disk.View()->ScrollToTopAndRepaint();
}

}  // namespace kelvara
