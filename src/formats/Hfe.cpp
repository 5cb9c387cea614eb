// HFE: the flux-level image of floppy emulators. Each track holds the MFM
// cell stream of both sides, interleaved in 512-byte blocks: the first 256
// bytes of a block belong to side 0, the next 256 to side 1. Every byte
// carries 8 cells, the least significant bit first in time; two bytes carry
// one data byte as clock, data, clock, data... for data bits 7 down to 0.
//
// Header (first 512-byte block), little-endian:
//   0  "HXCPICFE"        8  format revision      9  number of tracks
//  10  number of sides  11  track encoding      12  u16 bit rate, kbit/s
//  14  u16 rpm          16  interface mode      17  unused
//  18  u16 block of the track list              20  write allowed
// Track list: per track u16 block of its data, u16 its length in bytes
// (both sides). A last block that is not full holds (length mod 512) / 2
// bytes of each side, side 1 again from the block's byte 256.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "codec/Mfm.h"
#include "formats/Hfe.h"
#include "formats/TrackImage.h"
#include "model/ByteReader.h"
#include "model/FileIO.h"

namespace kelvara {

namespace {

constexpr size_t kBlock = 512;
constexpr size_t kHalfBlock = 256;
constexpr size_t kHeaderArea = 2 * kBlock;  // header, then the track list

// The writer's fixed geometry: 6250 data bytes a side (250 kbit/s at 300 rpm),
// 48 full blocks of 128 data bytes a side and a last block of 106, in a
// track area of 49 blocks.
constexpr int kMinCylinders = 80;
constexpr int kSideBytes = 6250;
constexpr int kDataBytesPerBlock = 128;
constexpr uint16_t kTrackLength = 25000;
constexpr size_t kTrackArea = 49 * kBlock;

constexpr uint8_t Reverse(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i)
    r = static_cast<uint8_t>(r | (((b >> i) & 1) << (7 - i)));
  return r;
}

// 16 cells written as the textbooks do, first cell in the top bit, as the two
// file bytes read little-endian: first cell in bit 0.
constexpr uint16_t FileOrder(uint16_t cells) {
  return static_cast<uint16_t>(Reverse(static_cast<uint8_t>(cells >> 8)) |
                               Reverse(static_cast<uint8_t>(cells)) << 8);
}

constexpr uint16_t kSyncA1 = FileOrder(flux::kSyncA1Cells);
constexpr uint16_t kMaskA1 = FileOrder(static_cast<uint16_t>(~flux::kMissingClockA1));
constexpr uint16_t kMaskC2 = FileOrder(static_cast<uint16_t>(~flux::kMissingClockC2));
constexpr uint16_t kFirstClock = FileOrder(flux::kFirstClockCell);

// A byte's cells after a 0 bit, in file order.
constexpr uint16_t MfmCells(uint8_t b) {
  return FileOrder(flux::MfmWord(b));
}

// Four data bits from eight cells (first in bit 0). The cells of a file are
// exact: a (1, 1) pair reads as 0.
constexpr uint8_t DataNibble(uint8_t cells) {
  return flux::DataNibble(Reverse(cells), flux::PairRule::ClockVetoes);
}

// A sync pattern starting k cells into file byte i (k = 0..7) fills the top
// of byte i, all of byte i+1 and the bottom k cells of byte i+2. Each table
// marks, per byte value, the k for which the byte holds its part; a start
// is where all three agree.
constexpr uint8_t SyncHead(uint8_t b) {
  uint8_t ks = 0;
  for (int k = 0; k < 8; ++k) {
    if ((b >> k) == (kSyncA1 & (0xFF >> k))) ks = static_cast<uint8_t>(ks | 1 << k);
  }
  return ks;
}
constexpr uint8_t SyncBody(uint8_t b) {
  uint8_t ks = 0;
  for (int k = 0; k < 8; ++k) {
    if (b == static_cast<uint8_t>(kSyncA1 >> (8 - k))) ks = static_cast<uint8_t>(ks | 1 << k);
  }
  return ks;
}
constexpr uint8_t SyncTail(uint8_t b) {
  uint8_t ks = 0;
  for (int k = 0; k < 8; ++k) {
    if ((b & ((1 << k) - 1)) == (kSyncA1 >> (16 - k))) ks = static_cast<uint8_t>(ks | 1 << k);
  }
  return ks;
}

template <typename T, T (*F)(uint8_t)>
constexpr std::array<T, 256> Table() {
  std::array<T, 256> t{};
  for (int i = 0; i < 256; ++i)
    t[i] = F(static_cast<uint8_t>(i));
  return t;
}
constexpr auto kMfm = Table<uint16_t, MfmCells>();
constexpr auto kNibble = Table<uint8_t, DataNibble>();
constexpr auto kSyncHead = Table<uint8_t, SyncHead>();
constexpr auto kSyncBody = Table<uint8_t, SyncBody>();
constexpr auto kSyncTail = Table<uint8_t, SyncTail>();

// Decodes one side's cells into data bytes. Cells normally start on a byte
// boundary, but some emulator tools write streams shifted by a few cells, or
// tracks whose sectors were written at different alignments. So the byte
// boundary follows the A1 sync pattern, which no MFM data can produce: the
// stream before the first sync is aligned to it, and at every sync out of
// step the cells since the last whole byte are dropped.
class SideDecoder {
 public:
  void Reset() { count_ = 0; }
  // Appends the side's bytes of one block, as they stand in the file.
  void Append(std::span<const uint8_t> fileBytes) {
    std::memcpy(cells_.data() + count_, fileBytes.data(), fileBytes.size());
    count_ += fileBytes.size();
  }
  size_t CellBytes() const { return count_; }
  // After Decode: whether the cells hold an A1 sync, the start of every mark.
  bool HasSync() const { return !syncs_.empty(); }
  // Decoded bytes into out (at most cap); returns their number.
  int Decode(uint8_t* out, int cap);

 private:
  // 16 cells from bit position pos, the first in bit 0.
  uint16_t Cells(size_t pos) const {
    uint32_t w;
    static_assert(std::endian::native == std::endian::little,
                  "cells are read as little-endian words");
    std::memcpy(&w, cells_.data() + (pos >> 3), sizeof w);
    return static_cast<uint16_t>(w >> (pos & 7));
  }
  void FindSyncs();

  // The largest side a 16-bit track length can give, and slack for reading
  // 16 cells at any bit.
  std::array<uint8_t, 32768 + 4> cells_{};
  size_t count_ = 0;
  std::vector<size_t> syncs_;  // bit positions of A1 syncs, ascending
};

void SideDecoder::FindSyncs() {
  syncs_.clear();
  const size_t bits = count_ * 8;
  for (size_t i = 0; i + 1 < count_; ++i) {
    const uint8_t ks = kSyncHead[cells_[i]] & kSyncBody[cells_[i + 1]] & kSyncTail[cells_[i + 2]];
    if (!ks) continue;
    for (int k = 0; k < 8; ++k) {
      if ((ks >> k & 1) && 8 * i + k + 16 <= bits) syncs_.push_back(8 * i + k);
    }
  }
}

// Bytes are taken 16 cells at a time. Where the first sync at or after the
// window starts inside it, the window moves onto the sync; where that sync
// starts the window, any other inside it is passed over. So the window runs
// unchecked up to the first sync that would move it.
int SideDecoder::Decode(uint8_t* out, int cap) {
  std::memset(cells_.data() + count_, 0, 4);
  FindSyncs();
  const size_t bits = count_ * 8;
  size_t pos = syncs_.empty() ? 0 : syncs_.front() % 16;
  const size_t* sync = syncs_.data();
  const size_t* const syncEnd = sync + syncs_.size();
  int n = 0;
  while (pos + 16 <= bits && n < cap) {
    while (sync != syncEnd && *sync < pos)
      ++sync;
    if (sync != syncEnd && *sync < pos + 16 && *sync != pos) {
      pos = *sync;
      continue;
    }
    size_t run = std::min((bits - pos) / 16, static_cast<size_t>(cap - n));
    size_t inStep = pos - 1;  // the last sync that starts a window of this run
    for (const size_t* s = sync; s != syncEnd; ++s) {
      const size_t step = (*s - pos) / 16;  // the window of the run it falls in
      if (step >= run) break;
      const size_t window = pos + 16 * step;
      if (*s == window) {
        inStep = *s;
      } else if (inStep != window) {
        run = step;  // at least 1: the check above moved any nearer one
        break;
      }
    }
    for (const size_t end = pos + 16 * run; pos != end; pos += 16) {
      const uint16_t w = Cells(pos);
      out[n++] = static_cast<uint8_t>(kNibble[w & 0xFF] << 4 | kNibble[w >> 8]);
    }
  }
  return n;
}

// The side-1 track that a failed scan names, written out whole for a look
// with a hex viewer; the dump is a help, its failure is not reported.
void DumpTrack(const TTrack& track) {
  std::error_code ec;
  const std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) return;
  std::string ignored;
  WriteFileAtomic((dir / "kelvara.dbg").string(), {track.RawData().data(), track.RawLength()},
                  ignored);
}

enum class Scan { Ok, Crowded, SizeError };

// Finds the sectors in one side's decoded bytes. A data mark is taken for
// the nearest ID before it, so an ID without a data field gets the next
// sector's data and that next ID is passed over; the scan ends at an ID with
// no data mark after it.
Scan ScanSide(TTrack& track) {
  const int n = track.RawLength();
  const uint8_t* b = track.RawData().data();
  int s = 0;
  for (int p = 0; p < n - 10; ++p) {
    if (b[p] != 0xA1 || b[p + 1] != 0xA1 || b[p + 2] != 0xFE) continue;
    if (s == kSlotCount) return Scan::Crowded;
    TSectorRec& sec = track.Sectors[s];
    sec.Present = 0xFF;
    sec.Cyl = b[p + 3];
    sec.Head = b[p + 4];
    sec.Sec = b[p + 5];
    sec.SizeCode = b[p + 6];
    sec.HeaderCrc = static_cast<uint16_t>(b[p + 7] << 8 | b[p + 8]);  // not checked
    int q = p + 10;
    while (q < n - 3 &&
           !(b[q] == 0xA1 && b[q + 1] == 0xA1 && (b[q + 2] == 0xFB || b[q + 2] == 0xF8)))
      ++q;
    if (q >= n - 3) return Scan::Ok;
    const int d = q + 3;
    const int size = ControllerSectorBytes(sec.SizeCode);
    if (d + size > n) return Scan::SizeError;
    sec.SetData({b + d, static_cast<size_t>(size)});
    sec.DataOffset = static_cast<uint16_t>(d);
    // A CRC cut off by the end of the side is no proof of good data.
    sec.DataOk = 0;
    if (d + size + 2 <= n) {
      const uint16_t recorded = static_cast<uint16_t>(b[d + size] << 8 | b[d + size + 1]);
      // Over the three A1 bytes, the mark and the data.
      if (recorded == CalcCrc16({b + d - 4, static_cast<size_t>(size + 4)})) sec.DataOk = 0xFF;
    }
    ++s;
    p = d + size - 1;
  }
  return Scan::Ok;
}

// An index mark (C2 C2 C2 FC) among a side's decoded bytes.
bool HasIndexMark(const TTrack& track) {
  static constexpr uint8_t kIndex[] = {0xC2, 0xC2, 0xFC};
  const uint8_t* b = track.RawData().data();
  return std::search(b, b + track.RawLength(), std::begin(kIndex), std::end(kIndex)) !=
         b + track.RawLength();
}

// One track list entry's sides decoded into image tracks 2t and 2t + 1.
void DecodeTrack(TZX_Disk& disk, int t, std::span<const uint8_t> area, uint16_t length, int sides,
                 SideDecoder& decoder, TrackNotes& notes) {
  const size_t fullBlocks = length / kBlock;
  const size_t partial = (length % kBlock) / 2;
  for (int side = 0; side < sides; ++side) {
    decoder.Reset();
    for (size_t i = 0; i < fullBlocks; ++i)
      decoder.Append(area.subspan(i * kBlock + side * kHalfBlock, kHalfBlock));
    decoder.Append(area.subspan(fullBlocks * kBlock + side * kHalfBlock, partial));
    const int index = 2 * t + side;
    TTrack& track = disk.GetTrack(static_cast<uint8_t>(index));
    std::array<uint8_t, kRawTrackCapacity> raw;
    track.SetRaw(std::span(raw).first(decoder.Decode(raw.data(), kRawTrackCapacity)));
    // A side without a single mark is unformatted, as the writer leaves an
    // absent track: it stays absent.
    if (!decoder.HasSync() && !HasIndexMark(track)) {
      track.ClearRaw();
      continue;
    }
    if (decoder.CellBytes() / 2 > static_cast<size_t>(kRawTrackCapacity)) notes.TrackCut(index);
    track.Present = 0xFF;
    track.RawValid = 1;
  }
}

// The reader behind LoadHFE and ReadHfeBytes; failedSide1 gets the image
// track of a side-1 scan failure, for the dump.
bool ReadHfe(TZX_Disk& disk, std::span<const uint8_t> file, int* failedSide1) {
  disk.ClearImage();
  if (file.size() < kHeaderArea) {
    disk.StatusText = "HFE file size error!";
    return false;
  }
  ByteReader r(file);
  std::string signature;
  uint8_t tracks = 0, sides = 0;
  uint16_t listBlock = 0;
  r.Text(8, signature);
  if (signature != "HXCPICFE") {
    disk.StatusText = "HFE header error!";
    return false;
  }
  r.Skip(1);
  r.U8(tracks);
  r.U8(sides);
  if (sides != 1 && sides != 2) {
    disk.StatusText = "Side number error!";
    return false;
  }
  r.Seek(18);
  r.U16(listBlock);

  TrackNotes notes;
  auto decoder = std::make_unique<SideDecoder>();
  for (int t = 0; t < tracks; ++t) {
    uint16_t block = 0, length = 0;
    r.Seek(listBlock * kBlock + 4u * t);
    r.U16(block);
    r.U16(length);
    // Side 1's share of a last block that is not full starts at its byte
    // 256, beyond the track length: it must be in the file too.
    const size_t partial = (length % kBlock) / 2;
    const size_t extent =
        partial && sides == 2 ? length / kBlock * kBlock + kHalfBlock + partial : length;
    if (!r.Ok() || block * kBlock + extent > file.size()) {
      disk.StatusText = "Size HFE file error!";
      return false;
    }
    // Cylinders past the image's last are checked but not loaded.
    if (2 * t >= kTrackCount) {
      notes.TracksBeyondImage(sides);
      continue;
    }
    DecodeTrack(disk, t, file.subspan(block * kBlock, extent), length, sides, *decoder, notes);
    for (int side = 0; side < sides; ++side) {
      const int index = 2 * t + side;
      TTrack& track = disk.GetTrack(static_cast<uint8_t>(index));
      if (!track.Present) continue;
      const Scan scan = ScanSide(track);
      if (scan == Scan::SizeError) {
        disk.StatusText = "Track " + std::to_string(index) + " size error!";
        if (side == 1 && failedSide1) *failedSide1 = index;
        return false;
      }
      if (scan == Scan::Crowded) notes.TrackCrowded(index);
      // Counted here so that data written back into the raw bytes reaches them.
      track.CountSectors();
    }
  }
  disk.StatusText = notes.Text();
  return true;
}

// One side's raw bytes as MFM cells into the track area: the first 48 blocks
// take 128 data bytes a side, the last one the remaining 106. Sync bytes go
// out with their clock missing; after a byte that ends in a 1 the next byte's
// first clock is cleared.
void EncodeSide(const uint8_t* raw, const uint8_t* marks, int side, uint8_t* area) {
  int prevBit = 0;
  for (int i = 0; i < kSideBytes; ++i) {
    uint16_t cells = kMfm[raw[i]];
    if (prevBit) cells &= ~kFirstClock;
    if ((marks[i >> 3] >> (i & 7)) & 1) {
      if (raw[i] == 0xA1) cells &= kMaskA1;
      if (raw[i] == 0xC2) cells &= kMaskC2;
    }
    prevBit = raw[i] & 1;
    uint8_t* dst =
        area + (i / kDataBytesPerBlock) * kBlock + side * kHalfBlock + (i % kDataBytesPerBlock) * 2;
    dst[0] = static_cast<uint8_t>(cells);
    dst[1] = static_cast<uint8_t>(cells >> 8);
  }
}

}  // namespace

bool LoadHFE(TZX_Disk& disk, const std::string& path) {
  if (path.empty() || !FileExists(path)) return false;
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, file, disk.StatusText)) {
    disk.ClearImage();
    return false;
  }
  int failedSide1 = -1;
  if (ReadHfe(disk, file, &failedSide1)) return true;
  if (failedSide1 >= 0) DumpTrack(disk.GetTrack(static_cast<uint8_t>(failedSide1)));
  return false;
}

bool ReadHfeBytes(TZX_Disk& disk, std::span<const uint8_t> file) {
  return ReadHfe(disk, file, nullptr);
}

WriteResult BuildHfeBytes(const TZX_Disk& disk, std::vector<uint8_t>& out,
                          const HfeOptions& options) {
  out.clear();
  // The header counts the cylinders up to the last present track; at least
  // 80 cylinders of track data follow, as drives and emulators expect.
  const int last = disk.LastPresentTrack();
  const int cylinders = (last + 2) / 2;
  const int written = std::max(cylinders, kMinCylinders);

  ByteWriter w;
  w.Data().reserve(kHeaderArea + written * kTrackArea);
  w.Text("HXCPICFE");
  w.U8(0);  // revision
  w.U8(static_cast<uint8_t>(cylinders));
  w.U8(2);  // sides
  w.U8(0);  // MFM
  w.U16(250);
  w.U16(0);  // rpm
  w.U8(2);   // interface mode
  w.U8(1);
  w.U16(1);  // the track list in block 1
  w.U8(0xFF);
  w.Fill(kBlock - w.Size(), 0xFF);
  for (int c = 0; c < written; ++c) {
    w.U16(static_cast<uint16_t>((kHeaderArea + c * kTrackArea) / kBlock));
    w.U16(kTrackLength);
  }
  w.Fill(kHeaderArea + written * kTrackArea - w.Size(), 0xFF);

  std::array<uint8_t, kRawTrackSize> raw;
  std::array<uint8_t, kMarkBitmapSize> marks;
  for (int c = 0; c < written; ++c) {
    uint8_t* area = w.Data().data() + kHeaderArea + c * kTrackArea;
    for (int side = 0; side < 2; ++side) {
      const auto index = static_cast<uint8_t>(2 * c + side);
      marks.fill(0);
      if (disk.GetTrack(index).Present) {
        raw.fill(0x4E);
        RawTrackFault fault;
        if (!BuildRawTrack(disk, index, raw.data(), marks.data(), {options.keepRawBytes}, fault)) {
          fault.track = c;  // the cylinder, not the track
          return WriteResult::Failed(
              "Cannot build track " + std::to_string(index) + " for the HFE file!", fault);
        }
      } else {
        raw.fill(0xFF);  // an unformatted track, which the reader leaves absent
      }
      EncodeSide(raw.data(), marks.data(), side, area);
    }
  }
  out = w.Take();
  return {};
}

WriteResult SaveHFE(const TZX_Disk& disk, const std::string& path, const HfeOptions& options) {
  return BuildAndWrite(
      path, [&](std::vector<uint8_t>& out) { return BuildHfeBytes(disk, out, options); });
}

}  // namespace kelvara
