// TD0: TeleDisk sector images. All numbers little-endian.
//
// File header, 12 bytes, never compressed:
//   0  2  "TD", or "td" when everything after the header is LZH-packed
//   2  1  volume sequence          3  1  check signature
//   4  1  version, 21 = 2.1        5  1  data rate
//   6  1  drive type               7  1  stepping; bit 7: a comment block follows
//   8  1  DOS allocation flag      9  1  sides
//  10  2  Td0Crc of bytes 0..9
// Comment block: Td0Crc of the rest of the block (2), text length (2), year -
//   1900, month, day, hour, minute, second (1 each), then the text: lines of
//   Windows-1251 each ended by a NUL.
// Track record: sector count (0xFF ends the image), cylinder, head (bit 7 set
//   on single-density tracks), low byte of the Td0Crc of those three.
// Sector record: C, H, R, N of the ID field, flags, low byte of the Td0Crc of
//   the data; then, unless the flags say there is none, a data block: u16
//   length (of the encoding byte and what follows), encoding, encoded bytes.
//   Encoding 0: the bytes as they are; 1: u16 count and two bytes repeated
//   count times; 2: runs of (0, n, n bytes) or (1, n, two bytes repeated n times).
// Sector flags: 0x02 the data was read with a CRC error; 0x04 deleted-data
//   mark; 0x10 DOS allocation skipped the sector and 0x20 the sector had an ID
//   field but no data: in both cases no data block follows.
#include "formats/Td0.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <ctime>
#include <string>

#include "formats/LZH.h"
#include "model/ByteReader.h"
#include "model/CodePage.h"
#include "model/FileIO.h"
#include "model/ZXDisk.h"

namespace kelvara {

namespace {

constexpr size_t kHeaderSize = 12;
constexpr uint8_t kVersion = 21;
constexpr uint8_t kOldestVersion = 10;
constexpr uint8_t kOldestPackedVersion = 20;  // older "td" files use another scheme
constexpr uint8_t kDriveType = 3;
constexpr uint8_t kSides = 2;
constexpr uint8_t kCommentFollows = 0x80;  // in the stepping byte
constexpr uint8_t kSingleDensity = 0x80;   // in a track record's head byte
constexpr uint8_t kEndOfImage = 0xFF;
constexpr size_t kCommentHeaderSize = 10;
constexpr size_t kCommentBudget = 1016;  // text bytes of the lines a save keeps
constexpr size_t kMaxRawBlock = 5000;

constexpr uint8_t kFlagCrcError = 0x02;
constexpr uint8_t kFlagNotAllocated = 0x10;
constexpr uint8_t kFlagNoDataField = 0x20;

constexpr const char* kSizeError = "Size Error.";
constexpr const char* kSectorSizeError = "Sector Size Error!";
constexpr const char* kFormatError = "TD0 format error!";

uint8_t LowCrc(std::span<const uint8_t> bytes) {
  return static_cast<uint8_t>(Td0Crc(bytes));
}

// A data block's decoded bytes as far as a slot holds them; `size` counts
// them all. Only the first `size` bytes are ever read, so the buffer starts
// unfilled: a disk has thousands of sectors.
struct DecodedData {
  std::array<uint8_t, kSectorDataSize> bytes;
  size_t size = 0;

  void Append(std::span<const uint8_t> run) {
    if (size < bytes.size()) {
      std::copy_n(run.begin(), std::min(run.size(), bytes.size() - size), bytes.begin() + size);
    }
    size += run.size();
  }
  void Repeat(uint8_t a, uint8_t b, size_t count) {
    const size_t n = size < bytes.size() ? std::min(2 * count, bytes.size() - size) : 0;
    if (a == b) {
      std::fill_n(bytes.begin() + size, n, a);
    } else {
      for (size_t i = 0; i < n; ++i)
        bytes[size + i] = (i & 1) ? b : a;
    }
    size += 2 * count;
  }
};

// Decodes one data block (its encoding byte and what follows). Returns the
// error text, or nullptr. Runs that would cross the block's end are a format
// error: the next record starts there.
const char* DecodeBlock(std::span<const uint8_t> block, DecodedData& data) {
  ByteReader in(block);
  uint8_t encoding = 0;
  if (!in.U8(encoding)) return kFormatError;
  switch (encoding) {
    case 0:
      if (block.size() > kMaxRawBlock) return kSectorSizeError;
      data.Append(block.subspan(1));
      return nullptr;
    case 1: {
      uint16_t count = 0;
      uint8_t a = 0, b = 0;
      in.U16(count);
      in.U8(a);
      in.U8(b);
      if (!in.Ok()) return kFormatError;
      if (size_t{count} * 2 > kMaxRawBlock) return kSectorSizeError;
      data.Repeat(a, b, count);
      return nullptr;
    }
    case 2:
      while (!in.AtEnd()) {
        uint8_t type = 0, n = 0;
        in.U8(type);
        if (type > 1) return kFormatError;
        in.U8(n);
        std::span<const uint8_t> run;
        if (type == 0 && in.View(n, run)) data.Append(run);
        uint8_t a = 0, b = 0;
        if (type == 1 && in.U8(a) && in.U8(b)) data.Repeat(a, b, n);
        if (!in.Ok()) return kFormatError;
      }
      return nullptr;
    default:
      return kFormatError;
  }
}

// Reads the part of a TD0 file after its header (unpacked) into the image.
class Td0Reader {
 public:
  Td0Reader(TZX_Disk& disk, std::span<const uint8_t> body) : disk_(disk), in_(body) {}

  bool ReadComment();
  bool ReadTracks();

 private:
  bool Fail(const char* text) {
    disk_.StatusText = text;
    return false;
  }
  bool EndOfData(const std::string& where) {
    disk_.StatusText = "TD0 file ends inside " + where + ".";
    return false;
  }
  bool ReadTrack(uint8_t sectorCount);
  bool ReadSector(TTrack* track, int slot);
  bool DataBlockFollows(uint8_t flags, uint8_t sizeCode) const;
  bool ReadDataBlock(DecodedData& data);
  void StoreSector(TSectorRec& s, const uint8_t* id, const DecodedData* data);
  void AddNotes();

  TZX_Disk& disk_;
  ByteReader in_;
  int highestCyl_ = -1;
  int highestSide_ = -1;
  // What did not fit the image, reported after the creation text.
  int skippedTracks_ = 0;
  int droppedSectors_ = 0;
  int cutSectors_ = 0;
  int truncatedAfter_ = -1;  // track records read before the data ran out
};

bool Td0Reader::ReadComment() {
  std::array<uint8_t, kCommentHeaderSize> head{};
  if (!in_.Bytes(head)) return EndOfData("the comment header");
  const size_t length = head[2] | (head[3] << 8);
  disk_.StatusText = "Создан: " + std::to_string(head[6]) + "." + std::to_string(head[5]) + "." +
                     std::to_string(1900 + head[4]) + " " + std::to_string(head[7]) + ":" +
                     std::to_string(head[8]) + ":" + std::to_string(head[9]);
  std::span<const uint8_t> text;
  if (!in_.View(length, text)) return EndOfData("the comment");
  // Lines end at NUL; the last may end at the text's end; empty ones are padding.
  auto begin = text.begin();
  while (begin != text.end()) {
    const auto end = std::find(begin, text.end(), uint8_t{0});
    if (end != begin) {
      disk_.Comment.push_back(Cp1251ToUtf8(std::string(begin, end)));
    }
    begin = end == text.end() ? end : end + 1;
  }
  return true;
}

bool Td0Reader::ReadTracks() {
  int tracks = 0;
  bool ended = false;
  while (!in_.AtEnd()) {
    uint8_t count = 0;
    in_.U8(count);
    // The end marker is a whole track record, but its first byte is enough.
    if (count == kEndOfImage) {
      ended = true;
      break;
    }
    if (!ReadTrack(count)) return false;
    ++tracks;
  }
  // A file cut at a track boundary reads like a whole one but for the end
  // marker: what it holds loads, and the note says it may be short.
  truncatedAfter_ = ended ? -1 : tracks;
  // As many tracks as the highest cylinder and side span, as TeleDisk counts.
  disk_.TrackCount =
      highestCyl_ < 0
          ? 0
          : static_cast<uint8_t>(std::min((highestCyl_ + 1) * (highestSide_ + 1), kTrackCount));
  AddNotes();
  return true;
}

bool Td0Reader::ReadTrack(uint8_t sectorCount) {
  std::array<uint8_t, 3> rest{};  // cylinder, head, check byte
  if (!in_.Bytes(rest)) return EndOfData("a track record");
  const int cyl = rest[0];
  // Bit 7 of the head byte is the density of the track, not part of the side.
  const int side = rest[1] & ~kSingleDensity;
  // A track the image has no place for is read past, so that the records
  // after it stay aligned, and left out.
  TTrack* track = nullptr;
  if (side <= 1 && cyl * 2 + side < kTrackCount) {
    track = &disk_.GetTrack(static_cast<uint8_t>(cyl * 2 + side));
    // A second record for the same track replaces the first.
    track->ClearTrack();
    track->Present = 0xFF;
    highestCyl_ = std::max(highestCyl_, cyl);
    highestSide_ = std::max(highestSide_, side);
  } else {
    ++skippedTracks_;
  }
  for (int i = 0; i < sectorCount; ++i) {
    if (!ReadSector(track, i)) return false;
  }
  return true;
}

bool Td0Reader::ReadSector(TTrack* track, int slot) {
  std::array<uint8_t, 6> id{};  // C, H, R, N, flags, check byte
  if (!in_.Bytes(id)) return EndOfData("a sector record");
  DecodedData data;
  const bool hasData = DataBlockFollows(id[4], id[3]);
  if (hasData && !ReadDataBlock(data)) return false;
  if (!track) return true;
  // The model has 20 slots; further sectors of a track are read past.
  if (slot >= kSlotCount) {
    ++droppedSectors_;
    return true;
  }
  StoreSector(track->SectorHeader(static_cast<uint8_t>(slot)), id.data(),
              hasData ? &data : nullptr);
  return true;
}

// TeleDisk writes no data block after a 0x10 sector, but writers that marked
// bad sectors with 0x10 did. A block is taken to follow such a sector only
// when the next bytes form one that decodes to exactly the sector's size: a
// sector or track record read as a block almost never does.
bool Td0Reader::DataBlockFollows(uint8_t flags, uint8_t sizeCode) const {
  if (flags & kFlagNoDataField) return false;
  if (!(flags & kFlagNotAllocated)) return true;
  ByteReader peek = in_;
  uint16_t length = 0;
  std::span<const uint8_t> block;
  if (!peek.U16(length) || !peek.View(length, block)) return false;
  DecodedData data;
  return DecodeBlock(block, data) == nullptr &&
         data.size == static_cast<size_t>(ControllerSectorBytes(sizeCode));
}

bool Td0Reader::ReadDataBlock(DecodedData& data) {
  uint16_t length = 0;
  if (!in_.U16(length)) return EndOfData("a data block");
  std::span<const uint8_t> block;
  if (!in_.View(length, block)) return Fail(kSizeError);
  const char* error = DecodeBlock(block, data);
  return error ? Fail(error) : true;
}

void Td0Reader::StoreSector(TSectorRec& s, const uint8_t* id, const DecodedData* data) {
  s.SetId(id[0], id[1], id[2], id[3]);
  const uint8_t flags = id[4];
  // A sector without a data block has its ID only. One with a block is bad
  // when read with a CRC error, or when an older writer marked it 0x10.
  if (!data) {
    s.DataOk = 0;
    s.ClearData();
    return;
  }
  const bool bad = (flags & kFlagCrcError) || (flags & kFlagNotAllocated);
  s.DataOk = bad ? 0 : 0xFF;
  // The slot reads as the sector's size as a controller reads it even when
  // the block decoded to less (the rest is zero), and as more when it decoded
  // to more; a slot holds at most kSectorDataSize bytes and keeps the first
  // of them.
  const size_t length = std::max<size_t>(ControllerSectorBytes(s.SizeCode), data->size);
  if (length > kSectorDataSize) ++cutSectors_;
  const size_t kept = std::min(length, size_t{kSectorDataSize});
  if (data->size >= kept) {
    s.SetData(std::span(data->bytes).first(kept));
  } else {
    s.ClearData();
    std::copy_n(data->bytes.begin(), data->size, s.MutableData(kept).begin());
  }
}

void Td0Reader::AddNotes() {
  std::string notes;
  auto add = [&notes](int count, const char* what) {
    if (!count) return;
    if (!notes.empty()) notes += ", ";
    notes += what + std::to_string(count);
  };
  add(skippedTracks_, "tracks outside the image skipped: ");
  add(droppedSectors_, "sectors beyond 20 on a track dropped: ");
  add(cutSectors_, "sectors cut to 1100 bytes: ");
  if (truncatedAfter_ >= 0) {
    if (!notes.empty()) notes += ", ";
    notes += "TD0 file ends without its end-of-image record after " +
             std::to_string(truncatedAfter_) + " track(s): it may be cut short";
  }
  if (notes.empty()) return;
  if (!disk_.StatusText.empty()) disk_.StatusText += "; ";
  disk_.StatusText += notes;
}

// ---------------------------------------------------------------------------
// Writing.

void WriteHeader(ByteWriter& out, bool compress) {
  std::array<uint8_t, kHeaderSize> header = {static_cast<uint8_t>(compress ? 't' : 'T'),
                                             static_cast<uint8_t>(compress ? 'd' : 'D'),
                                             0,  // volume sequence
                                             0,  // check signature
                                             kVersion,
                                             0,  // data rate
                                             kDriveType,
                                             kCommentFollows,
                                             0,  // DOS allocation
                                             kSides};
  const uint16_t crc = Td0Crc(std::span(header).first(10));
  header[10] = static_cast<uint8_t>(crc);
  header[11] = static_cast<uint8_t>(crc >> 8);
  out.Bytes(header);
}

// The comment lines as the file's text: Windows-1251, each line ended by a
// NUL, empty lines left out, and no line once the text would pass the budget.
std::string CommentText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    if (line.empty()) continue;
    const std::string bytes = Utf8ToCp1251(line);
    if (text.size() + bytes.size() > kCommentBudget) break;
    text += bytes;
    text += '\0';
  }
  if (!text.empty()) text.append(2, '\0');
  return text;
}

void WriteComment(ByteWriter& out, const std::vector<std::string>& lines) {
  const std::string text = CommentText(lines);
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  const size_t start = out.Size();
  out.U16(0);  // checksum, below
  out.U16(static_cast<uint16_t>(text.size()));
  out.U8(static_cast<uint8_t>(t.tm_year));
  out.U8(static_cast<uint8_t>(t.tm_mon + 1));
  out.U8(static_cast<uint8_t>(t.tm_mday));
  out.U8(static_cast<uint8_t>(t.tm_hour));
  out.U8(static_cast<uint8_t>(t.tm_min));
  out.U8(static_cast<uint8_t>(t.tm_sec));
  out.Text(text);
  out.PatchU16(start, Td0Crc(std::span(out.Data()).subspan(start + 2)));
}

// The bytes a sector's data block carries: its size as a controller reads
// it, and for a size code above 3 all the slot holds when that is more (what
// the reader keeps of a longer block). A slot that holds fewer is padded with
// zeros in `pad`. Loading the file gives the same slot back.
std::span<const uint8_t> BlockBytes(const TSectorRec& s,
                                    std::array<uint8_t, kSectorDataSize>& pad) {
  const size_t nominal = ControllerSectorBytes(s.SizeCode);
  const size_t n =
      IsUsableSizeCode(s.SizeCode) ? nominal : std::max<size_t>(nominal, s.DataLength());
  if (s.DataLength() >= n) return s.Data().first(n);
  const std::span<uint8_t> field = std::span(pad).first(n);
  s.CopyDataPadded(field);
  return field;
}

void WriteSector(ByteWriter& out, const TSectorRec& s) {
  // No data at all: an ID field without data, flag 0x20 and no block, as
  // TeleDisk writes a sector whose data field it could not find. Readers that
  // expect a block after every sector record misread such a file, but no
  // other record says "ID without data". Data that failed its CRC keep their
  // block with flag 0x02.
  const bool noData = s.DataLength() == 0;
  std::array<uint8_t, kSectorDataSize> pad;
  const std::span<const uint8_t> bytes = noData ? std::span<const uint8_t>() : BlockBytes(s, pad);
  const uint8_t flags = noData ? kFlagNoDataField : (s.DataOk ? 0 : kFlagCrcError);
  const std::array<uint8_t, 6> id = {s.Cyl, s.Head, s.Sec, s.SizeCode, flags, LowCrc(bytes)};
  out.Bytes(id);
  if (noData) return;
  out.U16(static_cast<uint16_t>(bytes.size() + 1));
  out.U8(0);  // encoding: as they are
  out.Bytes(bytes);
}

// A little more than a plain file of the image takes: the records and the
// largest data block each sector can have.
size_t PlainSizeHint(const TZX_Disk& disk) {
  size_t n = kHeaderSize + 10 + kCommentBudget + 4;
  for (int t = 0; t < kTrackCount; ++t) {
    const TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    if (!track.Present) continue;
    n += 4;
    for (const TSectorRec& s : track.Sectors) {
      if (s.Present) n += 9 + std::max<size_t>(s.DataLength(), ControllerSectorBytes(s.SizeCode));
    }
  }
  return n;
}

void WriteTracks(ByteWriter& out, const TZX_Disk& disk) {
  for (int t = 0; t < kTrackCount; ++t) {
    const TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    if (!track.Present) continue;
    // The track's place in the image names it, whatever its sectors' IDs say.
    const std::array<uint8_t, 3> record = {track.PresentSlots(), static_cast<uint8_t>(t / 2),
                                           static_cast<uint8_t>(t % 2)};
    out.Bytes(record);
    out.U8(LowCrc(record));
    for (const TSectorRec& s : track.Sectors) {
      if (s.Present) WriteSector(out, s);
    }
  }
  const std::array<uint8_t, 4> end = {kEndOfImage, 0, 0, 0};
  out.Bytes(end);
}

}  // namespace

bool LoadTD0(TZX_Disk& disk, const std::string& path) {
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, file, disk.StatusText)) {
    disk.ClearImage();
    return false;
  }
  return ReadTd0Bytes(disk, file);
}

bool ReadTd0Bytes(TZX_Disk& disk, std::span<const uint8_t> file) {
  disk.ClearImage();
  disk.StatusText.clear();
  const auto upper = [&file](size_t i) { return std::toupper(file[i]); };
  if (file.size() < 2 || upper(0) != 'T' || upper(1) != 'D') {
    disk.StatusText = "No TD0 file.";
    return false;
  }
  if (file.size() < kHeaderSize) {
    disk.StatusText = "TD0 file ends inside the file header.";
    return false;
  }
  const uint8_t version = file[4];
  if (version < kOldestVersion || version > kVersion) {
    disk.StatusText = "Version TD0 not allowed.";
    return false;
  }
  if (Td0Crc(file.first(10)) != (file[10] | (file[11] << 8))) {
    disk.StatusText = "TD0 header CRC error.";
    return false;
  }
  // Only exactly "td" is packed; "Td" and "tD" pass as plain files.
  std::span<const uint8_t> body = file.subspan(kHeaderSize);
  std::vector<uint8_t> unpacked;
  if (file[0] == 't' && file[1] == 'd') {
    if (version < kOldestPackedVersion) {
      disk.StatusText =
          "TD0 file of TeleDisk 1.x with \"advanced\" compression: that packing is not supported, "
          "the file cannot be read.";
      return false;
    }
    // The whole file is the decoder's input so that its end is flushed (see
    // LZH.h). No floppy comes near the cut, which bounds hostile streams.
    LzhUnpack(file, kHeaderSize, unpacked, kMaxImageFileSize);
    body = unpacked;
  }
  Td0Reader reader(disk, body);
  if ((file[7] & kCommentFollows) && !reader.ReadComment()) return false;
  return reader.ReadTracks();
}

WriteResult BuildTd0Bytes(const TZX_Disk& disk, std::vector<uint8_t>& out,
                          const Td0Options& options) {
  // Header and body are built in one buffer sized for a plain file up front,
  // which a plain file then takes whole.
  ByteWriter w;
  w.Data().reserve(PlainSizeHint(disk));
  WriteHeader(w, options.compress);
  const size_t bodyStart = w.Size();
  WriteComment(w, disk.Comment);
  WriteTracks(w, disk);
  if (!options.compress) {
    out = w.Take();
    return {};
  }
  out.assign(w.Data().begin(), w.Data().begin() + static_cast<ptrdiff_t>(bodyStart));
  LzhPack(std::span(w.Data()).subspan(bodyStart), out);
  return {};
}

WriteResult SaveTD0(const TZX_Disk& disk, const std::string& path, const Td0Options& options) {
  return BuildAndWrite(
      path, [&](std::vector<uint8_t>& out) { return BuildTd0Bytes(disk, out, options); });
}

}  // namespace kelvara
