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
//  11  u8  flags: bit 0 set = a description follows the tracks (UDI 1.1);
//          the other bits must be 0
//  12  u32 length of an extended header (not supported: must be 0)
// Then the track records, cylinder by cylinder, side 0 first:
//   u8 type, u16 length L, L track bytes, ceil(L/8) bytes of the clock bitmap
//   (bit k mod 8 of byte k div 8 set for a sync byte at track byte k); when
//   the type has bit 1 set (a track mixing FM and MFM) a bitmap of the FM
//   marks follows, and when it has bit 7 set (weak bits) a bitmap of the weak
//   bytes, each of the clock bitmap's size. The image holds MFM tracks: both
//   extra bitmaps are passed over, with a note in the track's log.
// With the description flag, a zero-terminated text (Windows-1251, lines
// ended by CR LF) stands between the last track and the CRC. It becomes the
// disk comment; the writer stores a comment the same way and sets the flag
// only then, so a disk without comment gives a plain UDI 1.0 file.
//
// Compressed tracks, as the Fuse emulator writes them when built with zlib
// (only where the stream is shorter than the plain record, so a file may mix
// both): u8 0xF0, u16 (length of the zlib stream - 1), u8 the track's own
// type, u16 L, then the zlib stream, which inflates to what follows the
// length in a plain record of that type (the L bytes and the bitmaps). The
// record as stored is 6 bytes plus the stream; the file's length field and
// CRC cover the records as stored. Such records are read, never written: the
// writer stores every track as a plain MFM record (type 0, clock bitmap only).
//
// A record whose bitmap flags no sync byte holds no mark at all: it is an
// unformatted track, as the writer stores an absent one, and loads absent.
#include <algorithm>
#include <array>
#include <string>

#include <zlib.h>

#include "formats/TextLines.h"
#include "formats/TrackImage.h"
#include "formats/Udi.h"
#include "model/ByteReader.h"
#include "model/CodePage.h"
#include "model/FileIO.h"

namespace kelvara {

namespace {

constexpr size_t kHeaderSize = 16;
constexpr size_t kCrcSize = 4;
constexpr size_t kTrackRecordSize = 3 + kRawTrackSize + kMarkBitmapSize;  // 7041
constexpr size_t kCylinderSize = 2 * kTrackRecordSize;                    // 14082
constexpr uint8_t kFlagDescription = 0x01;
constexpr uint8_t kCompressedTrack = 0xF0;

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
  bool description = false;
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
  uint8_t version = 0, lastCyl = 0, lastSide = 0, flags = 0;
  r.Text(4, signature);
  if (signature != "UDI!") {
    error = "No UDI format!";
    return false;
  }
  r.U32(length);
  r.U8(version);
  r.U8(lastCyl);
  r.U8(lastSide);
  r.U8(flags);
  r.U32(extendedHeader);
  // A third side has no place in the image's numbering.
  if (version != 0 || (flags & ~kFlagDescription) != 0 || extendedHeader != 0 || lastSide > 1) {
    error = "Error UDI format!";
    return false;
  }
  if (length != body.size()) {
    error = "Error UDI file length!";
    return false;
  }
  h.lastCyl = lastCyl;
  h.lastSide = lastSide;
  h.description = flags & kFlagDescription;
  return true;
}

constexpr uint8_t kTypeFmMarks = 0x02;
constexpr uint8_t kTypeWeakBits = 0x80;

// One track record: its bytes and clock bitmap, and whether it carried
// bitmaps the image cannot keep. A compressed record is inflated into
// `inflated`, which the views then point into.
struct TrackRecord {
  std::span<const uint8_t> bytes, marks;
  bool fmMarks = false, weakBits = false;
};

bool ReadTrackRecord(ByteReader& r, std::vector<uint8_t>& inflated, TrackRecord& rec,
                     std::string& error) {
  uint8_t type = 0;
  uint16_t streamLength = 0;  // less one
  r.U8(type);
  const bool compressed = type == kCompressedTrack;
  if (compressed) {
    r.U16(streamLength);
    r.U8(type);
  }
  uint16_t trackLength = 0;
  r.U16(trackLength);
  const size_t bitmapLength = (trackLength + 7u) / 8;
  rec.fmMarks = type & kTypeFmMarks;
  rec.weakBits = type & kTypeWeakBits;
  const size_t need = trackLength + (1u + rec.fmMarks + rec.weakBits) * bitmapLength;
  if (!compressed) {
    // MFM or not, the bytes are read the same way.
    std::span<const uint8_t> all;
    if (!r.View(need, all)) {
      error = "Error UDI file length!";
      return false;
    }
    rec.bytes = all.first(trackLength);
    rec.marks = all.subspan(trackLength, bitmapLength);
    return true;
  }
  std::span<const uint8_t> packed;
  if (!r.View(streamLength + 1u, packed)) {
    error = "Error UDI file length!";
    return false;
  }
  // A record packed twice is no track; the stream must inflate to exactly
  // the bytes and bitmaps its type calls for and end there.
  inflated.assign(need, 0);
  z_stream z{};
  if (type == kCompressedTrack || inflateInit(&z) != Z_OK) {
    error = "UDI compressed track error!";
    return false;
  }
  z.next_in = const_cast<Bytef*>(packed.data());
  z.avail_in = static_cast<uInt>(packed.size());
  z.next_out = inflated.data();
  z.avail_out = static_cast<uInt>(inflated.size());
  const int rc = inflate(&z, Z_FINISH);
  const bool whole = rc == Z_STREAM_END && z.total_out == need;
  inflateEnd(&z);
  if (!whole) {
    error = "UDI compressed track error!";
    return false;
  }
  rec.bytes = std::span<const uint8_t>(inflated).first(trackLength);
  rec.marks = std::span<const uint8_t>(inflated).subspan(trackLength, bitmapLength);
  return true;
}

bool AnySync(std::span<const uint8_t> marks) {
  return std::any_of(marks.begin(), marks.end(), [](uint8_t b) { return b != 0; });
}

// The description after the last track: its text up to the NUL, or to the
// end when there is none.
std::vector<std::string> ReadDescription(std::span<const uint8_t> rest) {
  const auto end = std::find(rest.begin(), rest.end(), uint8_t{0});
  return SplitTextLines(std::string(rest.begin(), end));
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
  std::vector<uint8_t> inflated;
  for (int k = 0; k < fileTracks; ++k) {
    TrackRecord rec;
    if (!ReadTrackRecord(r, inflated, rec, disk.StatusText)) return false;
    const std::span<const uint8_t> bytes = rec.bytes, marks = rec.marks;
    // A single-sided file keeps the image's numbering (cylinder x 2 + side):
    // its tracks go to the even indexes.
    const int index = h.lastSide ? k : 2 * k;
    if (index >= kTrackCount) {
      notes.TracksBeyondImage(1);
      continue;
    }
    if (!AnySync(marks)) continue;
    TTrack& track = disk.GetTrack(static_cast<uint8_t>(index));
    track.Present = 0xFF;
    track.RawValid = 1;
    if (track.SetRaw(bytes) < bytes.size()) notes.TrackCut(index);
    if (!ScanTrack(track, bytes.first(track.RawLength()), marks)) notes.TrackCrowded(index);
    if (rec.fmMarks) track.Log.push_back("Карта FM-меток дорожки UDI не загружена.");
    if (rec.weakBits) track.Log.push_back("Карта слабых битов дорожки UDI не загружена.");
    // Counted here so that data written back into the raw bytes reaches them.
    track.CountSectors();
  }
  if (h.description) disk.Comment = ReadDescription(body.subspan(r.Pos()));
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
  w.U8(disk.Comment.empty() ? 0 : kFlagDescription);
  w.U32(0);
  std::array<uint8_t, kRawTrackSize> bytes;
  std::array<uint8_t, kMarkBitmapSize> marks;
  for (int t = 0; t < 2 * cylinders; ++t) {
    bytes.fill(0x4E);
    marks.fill(0);
    RawTrackFault fault;
    // An absent track is written unformatted, whatever raw bytes it keeps.
    if (disk.GetTrack(static_cast<uint8_t>(t)).Present &&
        !BuildRawTrack(disk, static_cast<uint8_t>(t), bytes.data(), marks.data(),
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
  if (!disk.Comment.empty()) {
    std::string text = JoinCrLfLines(disk.Comment);
    std::replace(text.begin(), text.end(), '\0', ' ');
    w.Text(text);
    w.U8(0);
    w.PatchU32(4, static_cast<uint32_t>(w.Size()));
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
