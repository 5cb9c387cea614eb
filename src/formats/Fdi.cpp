// FDI: a sector image that keeps each sector's ID field and whether its data
// were read with a good CRC. The sector data lie in one area at the end of
// the file, addressed by offsets, so the track headers can be walked without
// touching the data.
//
// Header (14 bytes, little-endian):
//   0  "FDI" (any case when read)   3  write-protect flag (ignored)
//   4  u16 cylinders                6  u16 heads
//   8  u16 offset of the description text
//  10  u16 offset of the data area
//  12  u16 length of extra header bytes that follow the 14 (skipped)
// Then one track header per cylinder and head, head 0 first:
//   u32 offset of the track's data in the data area, u16 reserved,
//   u8 sector count, and per sector C, H, R, N, flags, u16 offset of the
//   sector's data from the track's data.
// Flag bits 0-5 say "data read with a good CRC" (writers set the bit of the
// size code); bit 7 marks deleted data, which the image does not keep.
//
// A track header without sectors is an unformatted track: the writer gives
// one to every absent track it passes, and the reader leaves such a track
// absent. Cylinders beyond the image's 84 are read past and named in the
// note. A size code above 3 is stored with the 128 << N bytes its ID field
// announces (the bytes the slot holds, then zeros).
#include <algorithm>
#include <cctype>
#include <memory>
#include <string>

#include "formats/Fdi.h"
#include "formats/TextLines.h"
#include "formats/TrackImage.h"
#include "model/ByteReader.h"
#include "model/FileIO.h"

namespace kelvara {

namespace {

constexpr const char* kReadError = "FDI file read error!";
constexpr const char* kNotFdi = "Not FDI file!";
constexpr const char* kSizeError = "FDI file size error!";
constexpr const char* kGeometryError = "FDI image geometry error!";

constexpr size_t kHeaderSize = 14;
constexpr size_t kTrackHeaderSize = 7;
constexpr int kImageCylinders = kTrackCount / 2;
// Sector offsets within a track are 16-bit, and so sizes of codes above 7.
constexpr int kLargestSizeCode = 7;
constexpr int kMaxHeads = 2;
constexpr uint8_t kGoodCrcBits = 0x3F;
constexpr size_t kDescriptionLength = 63;

struct FdiHeader {
  uint16_t cylinders = 0;
  uint16_t heads = 0;
  uint16_t dataArea = 0;
  uint16_t extra = 0;
};

// The bytes a slot keeps of a sector of size code N. Sizes beyond the slot
// (N above 3 asks for 2048 bytes or more) keep the slot's 1100 bytes: the ID
// field is what copy protections check, and the head of the data is all the
// image can hold.
size_t KeptBytes(uint8_t sizeCode) {
  return IsUsableSizeCode(sizeCode) ? static_cast<size_t>(SectorBytes(sizeCode))
                                    : static_cast<size_t>(kSectorDataSize);
}

// The flags a writer gives a good sector: the bit of its size code, bit 0
// for codes past 4 (so that bits 0-5 still say "good").
uint8_t GoodFlags(uint8_t sizeCode) {
  return sizeCode <= 4 ? static_cast<uint8_t>(1u << sizeCode) : 1;
}

bool Fail(std::string& status, const char* text) {
  status = text;
  return false;
}

bool HasSignature(std::span<const uint8_t> file) {
  if (file.size() < 3) return false;
  std::string sig(file.begin(), file.begin() + 3);
  for (char& c : sig)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return sig == "FDI";
}

// Tracks whose headers list more sectors than a track has slots.
struct Overflow {
  int firstTrack = -1;
  int sectors = 0;
};

// Reads the header of image track `index` and its sector entries into the track.
bool ReadFdiTrack(ByteReader& r, std::span<const uint8_t> file, const FdiHeader& h, int index,
                  TTrack& track, Overflow& overflow, std::string& status) {
  uint32_t trackOffset = 0;
  uint8_t count = 0;
  // The two bytes after the offset are reserved.
  if (!r.U32(trackOffset) || !r.Skip(2) || !r.U8(count)) return Fail(status, kSizeError);
  const uint64_t trackData = uint64_t{h.dataArea} + trackOffset;
  if (trackData > file.size()) return Fail(status, kSizeError);
  if (count > 0) track.Present = 0xFF;
  for (int i = 0; i < count; ++i) {
    uint8_t c = 0, hd = 0, sec = 0, n = 0, flags = 0;
    uint16_t sectorOffset = 0;
    if (!r.U8(c) || !r.U8(hd) || !r.U8(sec) || !r.U8(n) || !r.U8(flags) || !r.U16(sectorOffset)) {
      return Fail(status, kSizeError);
    }
    // The image holds 20 slots a track; further entries are read past (the
    // next track header follows them) and counted for the reader's note.
    if (i >= kSlotCount) {
      if (overflow.firstTrack < 0) overflow.firstTrack = index;
      ++overflow.sectors;
      continue;
    }
    const uint64_t pos = trackData + sectorOffset;
    // Data that start past the end, or start inside the file but run past
    // it, both make the file shorter than it says.
    std::span<const uint8_t> data;
    ByteReader at(file);
    if (pos > file.size() || !at.Seek(static_cast<size_t>(pos)) || !at.View(KeptBytes(n), data)) {
      return Fail(status, kSizeError);
    }
    TSectorRec& s = track.SectorHeader(static_cast<uint8_t>(i));
    s.SetId(c, hd, sec, n);
    s.DataOk = (flags & kGoodCrcBits) ? 0xFF : 0;
    s.SetData(data);
  }
  return true;
}

}  // namespace

bool LoadFDI(TZX_Disk& disk, const std::string& path) {
  if (!FileExists(path)) return false;
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, file, disk.StatusText)) {
    disk.ClearImage();
    return false;
  }
  return ReadFdiBytes(disk, file);
}

bool ReadFdiBytes(TZX_Disk& disk, std::span<const uint8_t> file) {
  disk.ClearImage();
  if (file.empty()) return Fail(disk.StatusText, kReadError);
  if (!HasSignature(file)) return Fail(disk.StatusText, kNotFdi);
  ByteReader r(file);
  FdiHeader h;
  r.Skip(4);  // signature and write-protect flag
  r.U16(h.cylinders);
  r.U16(h.heads);
  r.Skip(2);  // the description text is not taken into the image
  r.U16(h.dataArea);
  r.U16(h.extra);
  // The size check comes before the geometry check: a short file is "size"
  // whatever its header claims.
  const uint64_t headersEnd =
      uint64_t{h.cylinders} * h.heads * kTrackHeaderSize + h.extra + kHeaderSize;
  if (!r.Ok() || file.size() < headersEnd) return Fail(disk.StatusText, kSizeError);
  if (h.heads > kMaxHeads) return Fail(disk.StatusText, kGeometryError);

  r.Skip(h.extra);
  Overflow overflow;
  // Tracks past the image's last are checked like the others, then dropped.
  auto beyond = std::make_unique<TTrack>();
  TrackNotes notes;
  for (int c = 0; c < h.cylinders; ++c) {
    for (int hd = 0; hd < h.heads; ++hd) {
      const int index = c * 2 + hd;
      const bool inImage = c < kImageCylinders;
      TTrack& track = inImage ? disk.GetTrack(static_cast<uint8_t>(index)) : *beyond;
      if (!ReadFdiTrack(r, file, h, index, track, overflow, disk.StatusText)) return false;
      if (!inImage) {
        notes.TracksBeyondImage(1);
        beyond->ClearTrack();
      }
    }
  }
  disk.StatusText = notes.Text();
  // A track of more sectors than the image holds still loads; what was left
  // out is said, not hidden.
  if (overflow.sectors > 0) {
    if (!disk.StatusText.empty()) disk.StatusText += " ";
    disk.StatusText +=
        "FDI file lists more than 20 sectors on a track: " + std::to_string(overflow.sectors) +
        " sector(s) not kept, the first on track " + std::to_string(overflow.firstTrack) + ".";
  }
  return true;
}

WriteResult BuildFdiBytes(const TZX_Disk& disk, std::vector<uint8_t>& out) {
  // Every cylinder up to the last present track is written, absent tracks as
  // tracks without sectors. Counting the cylinders from the highest present
  // track rather than from the number of present tracks keeps a track that
  // lies beyond a gap; for an image filled from track 0 both agree.
  const int last = disk.LastPresentTrack();
  const int cylinders = (last + 2) / 2;

  ByteWriter w;
  w.Text("FDI");
  w.U8(0);
  w.U16(static_cast<uint16_t>(cylinders));
  w.U16(2);
  w.U16(0);  // text offset, filled in below
  w.U16(0);  // data area offset, filled in below
  w.U16(0);
  // The data area holds at most 168 x 20 x 1100 bytes, so it is collected
  // whole, whatever the image; track offsets are 32-bit and sector offsets
  // within a track stay below 20 x 1100.
  std::vector<uint8_t> data;
  for (int t = 0; t < cylinders * 2; ++t) {
    const TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    const size_t trackStart = data.size();
    w.U32(static_cast<uint32_t>(trackStart));
    w.U16(0);
    // An absent track (one removed keeps its slots) is written without sectors.
    w.U8(track.Present ? track.PresentSlots() : 0);
    if (!track.Present) continue;
    // The present slots in slot order: with the slots contiguous these are
    // slots 0..count-1, and a gap left by an edit loses no sector.
    for (const TSectorRec& s : track.Sectors) {
      if (!s.Present) continue;
      const size_t offset = data.size() - trackStart;
      if (s.SizeCode > kLargestSizeCode || offset > 0xFFFF) {
        return WriteResult::Failed("Track " + CylSideText(t) + ", sector " + std::to_string(s.Sec) +
                                   ": size code " + std::to_string(s.SizeCode) +
                                   " does not fit an FDI track!");
      }
      w.U8(s.Cyl);
      w.U8(s.Head);
      w.U8(s.Sec);
      w.U8(s.SizeCode);
      w.U8(s.DataOk ? GoodFlags(s.SizeCode) : 0);
      w.U16(static_cast<uint16_t>(offset));
      // As many bytes as the ID field announces: what the slot holds, then zeros.
      const size_t size = SizeCodeBytes(s.SizeCode);
      const size_t start = data.size();
      data.resize(start + size);
      s.CopyDataPadded(std::span(data).subspan(start));
    }
  }
  // The description is the start of the disk comment; this program does not
  // read it back.
  std::string text = JoinCrLfLines(disk.Comment);
  text.resize(std::min(text.size(), kDescriptionLength));
  w.PatchU16(8, static_cast<uint16_t>(w.Size()));
  w.Text(text);
  w.U8(0);
  w.PatchU16(10, static_cast<uint16_t>(w.Size()));
  w.Bytes(data);
  out = w.Take();
  return {};
}

WriteResult SaveFDI(const TZX_Disk& disk, const std::string& path) {
  return BuildAndWrite(path, [&](std::vector<uint8_t>& out) { return BuildFdiBytes(disk, out); });
}

}  // namespace kelvara
