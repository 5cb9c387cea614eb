// DSK ("MV - CPCEMU Disk-File") and extended DSK ("EXTENDED CPC DSK File"):
// the sector images that emulators of the Amstrad CPC and PCW and of the
// Spectrum +3 read. Multi-byte fields are little-endian.
//
// Disk Information Block, 256 bytes at offset 0:
//   0x00  34 signature; readers compare its first 8 characters only
//   0x22  14 creator name
//   0x30  u8 tracks (cylinders)
//   0x31  u8 sides, 1 or 2 (bit 7, an old "random errors" flag, is masked off)
//   0x32  u16 DSK: the size of every track block, its Track-Info included
//   0x34  204 EDSK: a byte per track block, cylinder 0 side 0, cylinder 0
//         side 1, ...: the block's size / 256, 0 = unformatted (no block)
// Track blocks follow at 0x100 in that order, each opened by a Track-Info:
//   0x00  "Track-Info\r\n" (bad writers drop the CR LF: 10 characters count)
//   0x10  u8 cylinder, 0x11 u8 side (blocks are placed by file order)
//   0x12  u8 data rate, 0x13 u8 recording mode (0 = not known, taken as MFM)
//   0x14  u8 size code N (DSK: of every sector; EDSK: informational)
//   0x15  u8 sector count
//   0x16  u8 GAP 3 of the format
//   0x17  u8 filler byte of the format
//   0x18  8 bytes a sector: C H R N, ST1, ST2 (the uPD765's status after the
//         read), u16 the data bytes stored (EDSK; 0 in a DSK)
// The sector data follow at the block's start plus the list rounded up to
// 256 bytes, back to back in list order: an EDSK sector takes the length its
// entry gives, a DSK one 128 << its N.
//
// Status bits: ST2 bit 0 (missing data mark) is an ID field without data;
// ST1 bit 5 with ST2 bit 5 a data CRC error, ST1 bit 5 alone an ID CRC error;
// ST2 bit 6 deleted data; ST1 bit 0 alone a missing address mark. An EDSK
// sector of weak data holds several reads back to back (a multiple of its
// size); the first is kept. The writer writes EDSK, since a plain DSK cannot
// hold sectors of mixed sizes.
#include "formats/Dsk.h"

#include <algorithm>
#include <string>

#include "formats/TrackImage.h"
#include "model/ByteReader.h"
#include "model/FileIO.h"

namespace kelvara {

namespace {

constexpr size_t kInfoSize = 256;
constexpr size_t kSizeTableOffset = 0x34;
constexpr int kSizeTableEntries = 204;
constexpr size_t kTrackInfoFields = 0x14;
constexpr size_t kSectorListOffset = 0x18;
constexpr size_t kSectorEntrySize = 8;
constexpr const char* kEdskSignature = "EXTENDED CPC DSK File\r\nDisk-Info\r\n";

constexpr uint8_t kSt1MissingAddress = 0x01;
constexpr uint8_t kSt1DataError = 0x20;
constexpr uint8_t kSt2MissingData = 0x01;
constexpr uint8_t kSt2DataError = 0x20;
constexpr uint8_t kSt2Deleted = 0x40;
// What the writer gives a track without a recorded format gap.
constexpr uint8_t kDefaultGap3 = 0x4E;

constexpr size_t RoundUp256(size_t n) {
  return (n + 255) & ~size_t{255};
}

bool Fail(std::string& status, const std::string& text) {
  status = text;
  return false;
}

std::string SectorText(uint8_t sec) {
  return "Sector " + std::to_string(sec);
}

// What a reader met that the notes of TrackNotes do not cover.
struct DskNotes {
  int cutFirst = -1;  // the first track whose sector data run past its block
  int cutCount = 0;
  int missingFrom = -1;  // the first track block the file ends before
  int missingCount = 0;
};

// One sector list entry.
struct SectorEntry {
  uint8_t c = 0, h = 0, r = 0, n = 0, st1 = 0, st2 = 0;
  uint16_t stored = 0;
};

// Fills slot `s` from a sector entry and the bytes stored for it.
void FillSlot(TTrack& track, TSectorRec& s, const SectorEntry& e, std::span<const uint8_t> data,
              bool cut) {
  s.SetId(e.c, e.h, e.r, e.n);
  // An ID CRC error: the slot keeps a CRC that does not match its ID.
  if ((e.st1 & kSt1DataError) && !(e.st2 & kSt2DataError)) s.HeaderCrc ^= 0xFFFF;
  if ((e.st1 & kSt1MissingAddress) && !(e.st2 & kSt2MissingData)) {
    track.Log.push_back(SectorText(e.r) +
                        ": missing address mark, the controller could not read the track.");
  }
  if (e.st2 & kSt2MissingData) return;  // an ID field without data
  const size_t size = SizeCodeBytes(e.n);
  if (size != 0 && data.size() > size && data.size() % size == 0) {
    track.Log.push_back(SectorText(e.r) + ": " + std::to_string(data.size() / size) +
                        " stored copies of weak data, the first kept.");
    data = data.first(size);
  }
  if (e.st2 & kSt2Deleted) track.Log.push_back(SectorText(e.r) + ": deleted data.");
  s.SetData(data);
  const bool crcError = (e.st1 & kSt1DataError) && (e.st2 & kSt2DataError);
  s.DataOk = crcError || cut ? 0 : 0xFF;
}

// Reads one track block into `track`; false with the reason in status when
// the block is no track.
bool ReadTrackBlock(std::span<const uint8_t> block, bool extended, int number, TTrack& track,
                    TrackNotes& notes, DskNotes& dsk, std::string& status) {
  ByteReader r(block);
  std::string signature;
  r.Text(10, signature);
  const std::string where = "DSK file, track block " + std::to_string(number);
  if (signature != "Track-Info") return Fail(status, where + ": no Track-Info!");
  uint8_t sizeCode = 0, count = 0, gap3 = 0, filler = 0;
  r.Seek(kTrackInfoFields);
  r.U8(sizeCode);
  r.U8(count);
  r.U8(gap3);
  r.U8(filler);
  const size_t headerSize = RoundUp256(kSectorListOffset + kSectorEntrySize * count);
  if (!r.Ok() || headerSize > block.size()) {
    return Fail(status, where + ": the Track-Info lists more sectors than the block holds!");
  }
  // A track without sectors is an unformatted one.
  if (count == 0) return true;
  track.Present = 0xFF;
  track.FormatGap3 = gap3;
  track.FormatFiller = filler;
  size_t pos = headerSize;
  bool anyCut = false;
  for (int i = 0; i < count; ++i) {
    SectorEntry e;
    r.U8(e.c);
    r.U8(e.h);
    r.U8(e.r);
    r.U8(e.n);
    r.U8(e.st1);
    r.U8(e.st2);
    r.U16(e.stored);
    const size_t length = extended ? e.stored : SizeCodeBytes(e.n);
    const size_t from = std::min(pos, block.size());
    const std::span<const uint8_t> data =
        block.subspan(from, std::min(length, block.size() - from));
    const bool cut = data.size() < length;
    pos += length;
    if (i >= kSlotCount) {
      if (i == kSlotCount) notes.TrackCrowded(track.TrackNo);
      continue;
    }
    anyCut |= cut;
    FillSlot(track, track.Sectors[i], e, data, cut);
  }
  if (anyCut && dsk.cutCount++ == 0) dsk.cutFirst = track.TrackNo;
  track.CountSectors();
  return true;
}

std::string DskNoteText(const TrackNotes& notes, const DskNotes& dsk) {
  std::string text = notes.Text();
  auto add = [&text](const std::string& line) {
    if (!text.empty()) text += " ";
    text += line;
  };
  if (dsk.cutCount) {
    add("Sector data run past the track block on " + std::to_string(dsk.cutCount) +
        " track(s) (first " + CylSideText(dsk.cutFirst) + "): kept as bad data.");
  }
  if (dsk.missingCount) {
    add("DSK file ends before track block " + std::to_string(dsk.missingFrom) + ": " +
        std::to_string(dsk.missingCount) + " track(s) it lists not loaded.");
  }
  return text;
}

}  // namespace

bool LoadDSK(TZX_Disk& disk, const std::string& path) {
  if (!FileExists(path)) return false;
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, file, disk.StatusText)) {
    disk.ClearImage();
    return false;
  }
  return ReadDskBytes(disk, file);
}

bool ReadDskBytes(TZX_Disk& disk, std::span<const uint8_t> file) {
  disk.ClearImage();
  if (file.size() < kInfoSize) return Fail(disk.StatusText, "DSK file size error!");
  ByteReader r(file);
  std::string signature;
  r.Text(8, signature);
  const bool extended = signature == "EXTENDED";
  if (!extended && signature != "MV - CPC") return Fail(disk.StatusText, "Not DSK file!");
  uint8_t cylinders = 0, sides = 0;
  uint16_t fixedSize = 0;
  r.Seek(0x30);
  r.U8(cylinders);
  r.U8(sides);
  r.U16(fixedSize);
  sides &= 0x7F;
  const int blocks = cylinders * sides;
  if (sides < 1 || sides > 2 || (extended && blocks > kSizeTableEntries) ||
      (!extended && blocks > 0 && fixedSize < kInfoSize)) {
    return Fail(disk.StatusText, "DSK image geometry error!");
  }

  TrackNotes notes;
  DskNotes dsk;
  size_t offset = kInfoSize;
  for (int k = 0; k < blocks; ++k) {
    const size_t size = extended ? size_t{file[kSizeTableOffset + k]} * 256 : fixedSize;
    if (size == 0) continue;
    if (offset >= file.size()) {
      if (dsk.missingCount++ == 0) dsk.missingFrom = k;
      continue;
    }
    const std::span<const uint8_t> block =
        std::span(file).subspan(offset, std::min(size, file.size() - offset));
    offset += size;
    const int index = (k / sides) * 2 + k % sides;
    if (index >= kTrackCount) {
      notes.TracksBeyondImage(1);
      continue;
    }
    TTrack& track = disk.GetTrack(static_cast<uint8_t>(index));
    if (!ReadTrackBlock(block, extended, k, track, notes, dsk, disk.StatusText)) {
      disk.ClearImage();
      return false;
    }
  }
  disk.StatusText = DskNoteText(notes, dsk);
  return true;
}

WriteResult BuildDskBytes(const TZX_Disk& disk, std::vector<uint8_t>& out) {
  out.clear();
  const int last = disk.LastPresentTrack();
  if (last < 0) return WriteResult::Failed("The image has no tracks to save!");
  // One side unless a track of side 1 is present: a +3 disk stays single-sided.
  bool twoSides = false;
  for (int t = 1; t <= last; t += 2)
    twoSides |= disk.GetTrack(static_cast<uint8_t>(t)).Present != 0;
  const int sides = twoSides ? 2 : 1;
  const int cylinders = last / 2 + 1;

  ByteWriter w;
  w.Text(kEdskSignature);
  std::string creator = "Kelvara";
  creator.resize(14, '\0');
  w.Text(creator);
  w.U8(static_cast<uint8_t>(cylinders));
  w.U8(static_cast<uint8_t>(sides));
  w.U16(0);
  w.Fill(kInfoSize - w.Size(), 0);
  for (int k = 0; k < cylinders * sides; ++k) {
    const int cyl = k / sides, side = k % sides;
    const TTrack& track = disk.GetTrack(static_cast<uint8_t>(cyl * 2 + side));
    const int count = track.Present ? track.PresentSlots() : 0;
    // An absent track, or one without sectors, is unformatted: no block.
    if (count == 0) continue;
    const size_t start = w.Size();
    const TSectorRec* first = &*std::find_if(track.Sectors.begin(), track.Sectors.end(),
                                             [](const TSectorRec& s) { return s.Present != 0; });
    w.Text("Track-Info\r\n");
    w.Fill(4, 0);
    w.U8(static_cast<uint8_t>(cyl));
    w.U8(static_cast<uint8_t>(side));
    w.U8(1);  // double density
    w.U8(2);  // MFM
    w.U8(first->SizeCode);
    w.U8(static_cast<uint8_t>(count));
    w.U8(track.FormatGap3 ? track.FormatGap3 : kDefaultGap3);
    w.U8(track.FormatFiller);
    // The present slots in slot order; 20 entries stay inside the 256 bytes.
    for (const TSectorRec& s : track.Sectors) {
      if (!s.Present) continue;
      uint8_t st1 = 0, st2 = 0;
      switch (SectorDataState(s)) {
        case DataState::NoData:
          st1 = kSt1MissingAddress;
          st2 = kSt2MissingData;
          break;
        case DataState::Bad:
          st1 = kSt1DataError;
          st2 = kSt2DataError;
          break;
        case DataState::Good:
          break;
      }
      if (s.HeaderCrc != IdFieldCrc(s.Cyl, s.Head, s.Sec, s.SizeCode)) st1 |= kSt1DataError;
      w.U8(s.Cyl);
      w.U8(s.Head);
      w.U8(s.Sec);
      w.U8(s.SizeCode);
      w.U8(st1);
      w.U8(st2);
      w.U16(s.DataLength());
    }
    w.Fill(start + kInfoSize - w.Size(), 0);
    for (const TSectorRec& s : track.Sectors) {
      if (s.Present) w.Bytes(s.Data());
    }
    w.Fill(RoundUp256(w.Size() - start) - (w.Size() - start), 0);
    w.Data()[kSizeTableOffset + k] = static_cast<uint8_t>((w.Size() - start) / 256);
  }
  // Raw track bytes have no place in the file; the save says so
  // (formats/ImageFiles.h).
  out = w.Take();
  return {};
}

WriteResult SaveDSK(const TZX_Disk& disk, const std::string& path) {
  return BuildAndWrite(path, [&](std::vector<uint8_t>& out) { return BuildDskBytes(disk, out); });
}

}  // namespace kelvara
