// The project file (.udf): the program's own complete dump of the image, so
// that bad sectors, error counts, raw tracks and logs load back as they were.
// Users keep such files, so the layout below is fixed byte for byte.
//
// Flags are stored as 1 = yes and 0xFF = no; a reader takes exactly 1 as yes.
// Numbers are little-endian; texts are Windows-1251, lines ending in CR LF.
//
//   header (260): text field (256, NUL-terminated, zero-filled), u8 track
//     count, flag UseBaseTemplate, u8 BaseTrack, flag KeepRawBytes
//   168 track records: flag present; when present u8 TrackNo, u8 SectorCount,
//     flag RawValid, u16 RawLength, the raw bytes, i32 log size, the log text;
//     then, present or not, 20 slot records
//   slot record: flag present; when present C, H, R, N, u16 HeaderCrc,
//     u8 ErrorCount, flag DataOk, u16 DataOffset, u16 DataLength, the data
//   i32 comment size, the comment text
//   u32 CRC-32 (the UDI variant) of every byte before it
#include <algorithm>
#include <string>

#include "formats/Project.h"
#include "formats/TextLines.h"
#include "model/ByteReader.h"
#include "model/CodePage.h"
#include "model/FileIO.h"

namespace kelvara {

namespace {

constexpr size_t kHeaderTextField = 256;
constexpr size_t kHeaderTextMax = 255;
constexpr uint8_t kYes = 1;
constexpr uint8_t kNo = 0xFF;

uint8_t FileFlag(bool yes) {
  return yes ? kYes : kNo;
}

std::string_view AsText(std::span<const uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Reads the records of a project file into a cleared image. Stops at the
// first record the file does not hold whole, or whose length exceeds the
// model, and says which in Error().
class ProjectReader {
 public:
  ProjectReader(TZX_Disk& disk, std::span<const uint8_t> file) : disk_(disk), r_(file) {}

  bool ReadRecords() {
    if (!Header()) return false;
    for (int t = 0; t < kTrackCount; ++t) {
      if (!Track(t)) return false;
    }
    if (!TextBlock(disk_.Comment)) return Stop("Project file ends inside its comment!");
    return true;
  }
  // The CRC field after the records; false when the file ends first.
  bool StoredCrc(uint32_t& crc) { return r_.U32(crc) || Stop("Project file ends before its CRC!"); }
  const std::string& Error() const { return error_; }

 private:
  bool Stop(std::string text) {
    error_ = std::move(text);
    return false;
  }
  bool EndsInTrack(int t) {
    return Stop("Project file ends inside track " + std::to_string(t) + "!");
  }

  bool Header() {
    std::span<const uint8_t> text;
    uint8_t trackCount = 0, useBase = 0, keepRaw = 0;
    if (!r_.View(kHeaderTextField, text) || !r_.U8(trackCount) || !r_.U8(useBase) ||
        !r_.U8(disk_.BaseTrack) || !r_.U8(keepRaw)) {
      return Stop("Project file ends inside its header!");
    }
    const auto end = std::find(text.begin(), text.end(), 0);
    disk_.HeaderText = Cp1251ToUtf8(AsText(text.first(static_cast<size_t>(end - text.begin()))));
    // The count is taken as stored, but never past the image: commands walk
    // the tracks 0..TrackCount-1.
    disk_.TrackCount = std::min<uint8_t>(trackCount, kTrackCount);
    disk_.UseBaseTemplate = useBase == kYes;
    disk_.KeepRawBytes = keepRaw == kYes;
    return true;
  }

  // The image was cleared, so an absent track and an absent slot are as the
  // file says already: a track is handed out for writing (and so counted as
  // used) only when it holds something.
  bool Track(int t) {
    TTrack* track = nullptr;
    auto writable = [&]() -> TTrack& {
      if (!track) track = &disk_.GetTrack(static_cast<uint8_t>(t));
      return *track;
    };
    uint8_t present = 0;
    if (!r_.U8(present)) return EndsInTrack(t);
    if (present == kYes) {
      writable().Present = 0xFF;
      if (!TrackBody(t, *track)) return false;
    }
    for (int i = 0; i < kSlotCount; ++i) {
      if (!r_.U8(present)) return EndsInTrack(t);
      if (present == kYes && !Slot(t, i, writable().SectorHeader(static_cast<uint8_t>(i))))
        return false;
    }
    return true;
  }

  bool TrackBody(int t, TTrack& track) {
    // The stored track number is read past: a track keeps its index for the
    // life of the image (clearing never resets it), and this program only
    // ever stores the index there.
    uint8_t trackNo = 0, sectorCount = 0, rawValid = 0;
    uint16_t rawLength = 0;
    std::span<const uint8_t> raw;
    if (!r_.U8(trackNo) || !r_.U8(sectorCount) || !r_.U8(rawValid) || !r_.U16(rawLength)) {
      return EndsInTrack(t);
    }
    if (rawLength > kRawTrackCapacity) {
      return Stop("Project file: track " + std::to_string(t) + " has " + std::to_string(rawLength) +
                  " raw bytes, at most " + std::to_string(kRawTrackCapacity) + "!");
    }
    if (!r_.View(rawLength, raw)) return EndsInTrack(t);
    // As stored, but never past the slots: walks go over 0..SectorCount-1.
    track.SectorCount = std::min<uint8_t>(sectorCount, kSlotCount);
    track.RawValid = rawValid == kYes ? 1 : 0;
    track.SetRaw(raw);
    return TextBlock(track.Log) || EndsInTrack(t);
  }

  // A present slot's record after its flag: the fixed fields, taken whole.
  bool Slot(int t, int i, TSectorRec& s) {
    constexpr size_t kFields = 12;  // C H R N, u16 HeaderCrc, ErrorCount, DataOk, u16 x 2
    std::span<const uint8_t> f;
    if (!r_.View(kFields, f)) return EndsInTrack(t);
    const uint8_t* b = f.data();
    auto u16 = [b](int at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); };
    s.Present = 0xFF;
    s.Cyl = b[0];
    s.Head = b[1];
    s.Sec = b[2];
    s.SizeCode = b[3];
    s.HeaderCrc = u16(4);
    s.ErrorCount = b[6];
    const uint8_t dataOk = b[7];
    s.DataOffset = u16(8);
    const uint16_t length = u16(10);
    std::span<const uint8_t> data;
    if (length > kSectorDataSize) {
      return Stop("Project file: track " + std::to_string(t) + " slot " + std::to_string(i) +
                  " has " + std::to_string(length) + " data bytes, at most " +
                  std::to_string(kSectorDataSize) + "!");
    }
    if (!r_.View(length, data)) return EndsInTrack(t);
    s.DataOk = dataOk == kYes ? 0xFF : 0;
    s.SetData(data);
    return true;
  }

  // A signed size and that many bytes of text; a size of 0 or below is no text.
  bool TextBlock(std::vector<std::string>& lines) {
    uint32_t size = 0;
    if (!r_.U32(size)) return false;
    if (static_cast<int32_t>(size) <= 0) return true;
    std::span<const uint8_t> text;
    if (!r_.View(size, text)) return false;
    lines = SplitTextLines(AsText(text));
    return true;
  }

  TZX_Disk& disk_;
  ByteReader r_;
  std::string error_;
};

void WriteTextBlock(ByteWriter& w, const std::vector<std::string>& lines) {
  const std::string text = JoinCrLfLines(lines);
  w.U32(static_cast<uint32_t>(text.size()));
  w.Text(text);
}

void WriteSlot(ByteWriter& w, const TSectorRec& s) {
  w.U8(FileFlag(s.Present));
  if (!s.Present) return;
  w.U8(s.Cyl);
  w.U8(s.Head);
  w.U8(s.Sec);
  w.U8(s.SizeCode);
  w.U16(s.HeaderCrc);
  w.U8(s.ErrorCount);
  w.U8(FileFlag(s.DataOk));
  w.U16(s.DataOffset);
  const uint16_t length = std::min<uint16_t>(s.DataLength(), kSectorDataSize);
  w.U16(length);
  w.Bytes({s.Data().data(), length});
}

void WriteTrack(ByteWriter& w, const TTrack& track) {
  w.U8(FileFlag(track.Present));
  if (track.Present) {
    w.U8(track.TrackNo);
    w.U8(track.SectorCount);
    w.U8(FileFlag(track.RawValid));
    const uint16_t length = std::min<uint16_t>(track.RawLength(), kRawTrackCapacity);
    w.U16(length);
    w.Bytes({track.RawData().data(), length});
    WriteTextBlock(w, track.Log);
  }
  // Slots are stored for absent tracks too: removing a track keeps its
  // sectors, and adding it back shows them again.
  for (const TSectorRec& s : track.Sectors)
    WriteSlot(w, s);
}

}  // namespace

bool LoadProject(TZX_Disk& disk, const std::string& path) {
  if (!FileExists(path)) return false;
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, file, disk.StatusText)) {
    disk.ClearImage();
    return false;
  }
  return ReadProjectBytes(disk, file);
}

bool ReadProjectBytes(TZX_Disk& disk, std::span<const uint8_t> file) {
  // A file that ends early or claims more than the model holds leaves an
  // empty image rather than half of one, and KeepRawBytes as it was.
  const bool keepRawBytes = disk.KeepRawBytes;
  disk.ClearImage();
  ProjectReader reader(disk, file);
  uint32_t stored = 0;
  if (!reader.ReadRecords() || !reader.StoredCrc(stored)) {
    disk.ClearImage();
    disk.KeepRawBytes = keepRawBytes;
    disk.StatusText = reader.Error();
    return false;
  }
  // A CRC mismatch keeps everything read: the caller decides what to trust.
  if (stored != CalcCrc32(file.first(file.size() - 4))) {
    disk.StatusText = "Project file CRC error!";
    return false;
  }
  return true;
}

WriteResult BuildProjectBytes(const TZX_Disk& disk, std::vector<uint8_t>& out) {
  ByteWriter w;
  std::string header = Utf8ToCp1251(disk.HeaderText);
  header.resize(std::min(header.size(), kHeaderTextMax));
  w.Text(header);
  w.Fill(kHeaderTextField - header.size(), 0);
  w.U8(disk.PresentTracks());
  w.U8(FileFlag(disk.UseBaseTemplate));
  w.U8(disk.BaseTrack);
  w.U8(FileFlag(disk.KeepRawBytes));
  for (int t = 0; t < kTrackCount; ++t)
    WriteTrack(w, disk.GetTrack(static_cast<uint8_t>(t)));
  WriteTextBlock(w, disk.Comment);
  w.U32(CalcCrc32(w.Data()));
  out = w.Take();
  return {};
}

WriteResult SaveProject(const TZX_Disk& disk, const std::string& path) {
  return BuildAndWrite(path,
                       [&](std::vector<uint8_t>& out) { return BuildProjectBytes(disk, out); });
}

}  // namespace kelvara
