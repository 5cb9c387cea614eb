// UDI: a track-level image. Each track is stored as the bytes an MFM
// controller decodes from it (gaps, sync bytes, marks, fields, CRCs) with a
// bitmap of the sync bytes written with a missing clock, so a copy-protected
// track survives. The file ends with the image's own CRC-32 (CalcCrc32), low
// byte first, over everything before it.
//
// Header, 16 bytes, little-endian:
//   0  "UDI!"
//   4  u32 file length without the final CRC
//   8  u8  version, 0
//   9  u8  highest cylinder number
//  10  u8  highest side number (0 or 1)
//  11  u8  reserved, 0
//  12  u32 length of an extended header (not supported: must be 0)
// Then the track records, cylinder by cylinder, side 0 first:
//   u8 type (0 = MFM), u16 length L, L track bytes, ceil(L/8) bitmap bytes
//   (bit k mod 8 of byte k div 8 set for a sync byte at track byte k).
#include <algorithm>
#include <array>
#include <string>

#include "formats/TrackImage.h"
#include "formats/Udi.h"
#include "model/ByteReader.h"
#include "model/FileIO.h"

namespace kelvara {

namespace {

constexpr size_t kHeaderSize = 16;
constexpr size_t kCrcSize = 4;
constexpr size_t kTrackRecordSize = 3 + kRawTrackSize + kMarkBitmapSize;  // 7041
constexpr size_t kCylinderSize = 2 * kTrackRecordSize;                    // 14082

bool IsSyncByte(std::span<const uint8_t> marks, int pos) {
  return (marks[pos >> 3] >> (pos & 7)) & 1;
}

// Finds the sectors in one track's bytes. A byte after one or more sync bytes
// is a mark: FE opens an ID field while no ID waits for its data; FB or F8
// (deleted data, not told apart) carries the data of the waiting ID. So after
// an ID without data every later ID of the track is passed over until a data
// mark arrives, and that data goes to the first ID's slot. Returns false when
// the track holds more sectors than the slots.
bool ScanTrack(TTrack& track, std::span<const uint8_t> bytes, std::span<const uint8_t> marks) {
  const int n = static_cast<int>(bytes.size());
  int s = 0;
  bool afterSync = false, haveId = false, wantId = true;
  for (int p = 0; p < n; ++p) {
    // Eight bytes without a sync byte go by at once.
    if (!afterSync && (p & 7) == 0 && marks[p >> 3] == 0) {
      p += 7;
      continue;
    }
    if (IsSyncByte(marks, p)) {
      afterSync = true;
      continue;
    }
    if (!afterSync) continue;
    afterSync = false;
    if (bytes[p] == 0xFE && wantId) {
      if (s == kSlotCount) return false;
      // An ID field cut off by the end of the track is no sector.
      if (p + 6 >= n) return true;
      TSectorRec& sec = track.Sectors[s];
      sec.Present = 0xFF;
      sec.Cyl = bytes[p + 1];
      sec.Head = bytes[p + 2];
      sec.Sec = bytes[p + 3];
      sec.SizeCode = bytes[p + 4];
      sec.HeaderCrc = static_cast<uint16_t>(bytes[p + 5] << 8 | bytes[p + 6]);  // not checked
      haveId = true;
      wantId = false;
      p += 7;
      if (p >= n) return true;
    }
    if ((bytes[p] == 0xFB || bytes[p] == 0xF8) && haveId) {
      TSectorRec& sec = track.Sectors[s];
      const int size = ControllerSectorBytes(sec.SizeCode);
      sec.DataOffset = static_cast<uint16_t>(p + 1);
      if (p + size + 3 < n) {
        sec.SetData(bytes.subspan(p + 1, size));
        const uint16_t recorded =
            static_cast<uint16_t>(bytes[p + size + 1] << 8 | bytes[p + size + 2]);
        // Over the three bytes before the mark, the mark and the data.
        sec.DataOk = recorded == CalcCrc16(bytes.subspan(p - 3, size + 4)) ? 0xFF : 0;
        p += size + 1;
      } else {
        // The field runs past the end of the track (even when only the byte
        // after its CRC is missing): what there is of it, as bad data. A mark
        // in the last three bytes leaves no data at all.
        sec.DataOk = 0;
        sec.SetData(bytes.subspan(p + 1, std::max(0, n - p - 3)));
        p = std::max(p, n - 2);
      }
      wantId = true;
      haveId = false;
      ++s;
    }
  }
  return true;
}

struct UdiHeader {
  int lastCyl = 0;
  int lastSide = 0;
};

// The checks of a UDI file before its tracks, in the order that decides which
// text a broken file gets; the reader is left at the first track record.
bool ReadHeader(std::span<const uint8_t> body, uint32_t storedCrc, ByteReader& r, UdiHeader& h,
                std::string& error) {
  // The checksum first: a file of any other kind fails here.
  if (storedCrc != CalcCrc32(body)) {
    error = "UDI file CRC error!";
    return false;
  }
  std::string signature;
  uint32_t length = 0, extendedHeader = 0;
  uint8_t version = 0, lastCyl = 0, lastSide = 0, reserved = 0;
  r.Text(4, signature);
  if (signature != "UDI!") {
    error = "No UDI format!";
    return false;
  }
  r.U32(length);
  r.U8(version);
  r.U8(lastCyl);
  r.U8(lastSide);
  r.U8(reserved);
  r.U32(extendedHeader);
  // A third side has no place in the image's numbering.
  if (version != 0 || reserved != 0 || extendedHeader != 0 || lastSide > 1) {
    error = "Error UDI format!";
    return false;
  }
  if (length != body.size()) {
    error = "Error UDI file length!";
    return false;
  }
  h.lastCyl = lastCyl;
  h.lastSide = lastSide;
  return true;
}

}  // namespace

bool LoadUDI(TZX_Disk& disk, const std::string& path) {
  if (path.empty() || !FileExists(path)) return false;
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, file, disk.StatusText)) {
    disk.ClearImage();
    return false;
  }
  return ReadUdiBytes(disk, file);
}

bool ReadUdiBytes(TZX_Disk& disk, std::span<const uint8_t> file) {
  disk.ClearImage();
  if (file.size() < kHeaderSize + kCrcSize) {
    disk.StatusText = "Error UDI file!";
    return false;
  }
  const std::span<const uint8_t> body = file.first(file.size() - kCrcSize);
  uint32_t storedCrc = 0;
  ByteReader(file.subspan(body.size())).U32(storedCrc);
  ByteReader r(body);
  UdiHeader h;
  if (!ReadHeader(body, storedCrc, r, h, disk.StatusText)) return false;

  TrackNotes notes;
  const int fileTracks = (h.lastCyl + 1) * (h.lastSide + 1);
  for (int k = 0; k < fileTracks; ++k) {
    uint8_t type = 0;
    uint16_t trackLength = 0;
    std::span<const uint8_t> bytes, marks;
    r.U8(type);  // MFM or not, the bytes are read the same way
    r.U16(trackLength);
    r.View(trackLength, bytes);
    r.View((trackLength + 7u) / 8, marks);
    if (!r.Ok()) {
      disk.StatusText = "Error UDI file length!";
      return false;
    }
    // A single-sided file keeps the image's numbering (cylinder x 2 + side):
    // its tracks go to the even indexes.
    const int index = h.lastSide ? k : 2 * k;
    if (index >= kTrackCount) {
      notes.TracksBeyondImage(1);
      continue;
    }
    TTrack& track = disk.GetTrack(static_cast<uint8_t>(index));
    track.Present = 0xFF;
    track.RawValid = 1;
    if (track.SetRaw(bytes) < trackLength) notes.TrackCut(index);
    if (!ScanTrack(track, bytes.first(track.RawLength), marks)) notes.TrackCrowded(index);
    // Counted here so that data written back into the raw bytes reaches them.
    track.CountSectors();
  }
  // Success says nothing unless part of the file did not fit the image.
  disk.StatusText = notes.Text();
  return true;
}

WriteResult BuildUdiBytes(const TZX_Disk& disk, std::vector<uint8_t>& out,
                          const UdiOptions& options) {
  out.clear();
  // Up to the last present track, so that no track is lost behind a hole;
  // absent tracks before it are written as filler tracks.
  const int last = disk.LastPresentTrack();
  // No cylinder count of zero can be written.
  if (last < 0) return WriteResult::Failed("The image has no tracks to save!");
  const int cylinders = last / 2 + 1;

  ByteWriter w;
  w.Data().reserve(kHeaderSize + cylinders * kCylinderSize + kCrcSize);
  w.Text("UDI!");
  w.U32(static_cast<uint32_t>(kHeaderSize + cylinders * kCylinderSize));
  w.U8(0);
  w.U8(static_cast<uint8_t>(cylinders - 1));
  w.U8(1);
  w.U8(0);
  w.U32(0);
  std::array<uint8_t, kRawTrackSize> bytes;
  std::array<uint8_t, kMarkBitmapSize> marks;
  for (int t = 0; t < 2 * cylinders; ++t) {
    bytes.fill(0x4E);
    RawTrackFault fault;
    if (!BuildRawTrack(disk, static_cast<uint8_t>(t), bytes.data(), marks.data(),
                       {options.keepRawBytes}, fault)) {
      // The LOG line that says where. A refusal not tied to a slot leaves
      // the image's last ErrSector standing.
      fault.track = t;
      const int slot = fault.slot >= 0 ? fault.slot : disk.ErrSector;
      return WriteResult::Failed(
          "Ошибка в дорожке - " + std::to_string(t) + " / Сектор - " + std::to_string(slot), fault);
    }
    w.U8(0);
    w.U16(kRawTrackSize);
    w.Bytes(bytes);
    w.Bytes(marks);
  }
  w.U32(CalcCrc32(w.Data()));
  out = w.Take();
  return {};
}

WriteResult SaveUDI(const TZX_Disk& disk, const std::string& path, const UdiOptions& options) {
  return BuildAndWrite(
      path, [&](std::vector<uint8_t>& out) { return BuildUdiBytes(disk, out, options); });
}

}  // namespace kelvara
