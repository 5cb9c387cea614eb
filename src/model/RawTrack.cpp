// Raw track synthesis: one track of the image as the 6256 bytes an MFM
// controller of the WD179x family would leave on a double-density track
// (gaps, sync bytes, address marks, ID and data fields, CRCs), with a bitmap
// of the sync bytes written with a missing clock.
//
// The layout comes from one of three places: the track's own raw bytes (a UDI
// or HFE track kept from a file), the base track's raw bytes (a template laid
// over every track), or the fixed format table below. The sector contents
// always come from the requested track's slots and every CRC is computed anew.
//
// A size code above 3 stays in the ID field as recorded; its data field has
// the size of the code's low two bits, as a WD179x writes and reads it (the
// track readers take it the same way).
#include <algorithm>
#include <array>
#include <cstring>

#include "model/RawTrack.h"

namespace kelvara {

namespace {

// Room for the format table's plan; no accepted plan comes near it.
constexpr int kWorkSize = 8000;
// The highest track a template may come from.
constexpr int kLastBaseTrack = 160;

// In a kept layout a bad sector's data field starts with this byte in place
// of its first A1 (still flagged as a sync byte), besides its complemented
// CRC: the field is damaged at the mark as well as at the end.
constexpr uint8_t kBrokenSync = 0x14;

// The track-format convention of the WD179x: F5 writes an A1 sync byte, F6 a
// C2 sync byte, F7 the two CRC bytes of the field before it.
constexpr uint8_t kWriteA1 = 0xF5;
constexpr uint8_t kWriteC2 = 0xF6;
constexpr uint8_t kWriteCrc = 0xF7;

enum class Entry : uint8_t {
  Fill,       // count bytes as the table says
  LeadIn,     // 4E before and after the index mark, shortened to fit
  IdField,    // C H R N and the ID CRC
  DataField,  // the sector data and the data CRC
  CrcDone,    // written with the field before it
  Gap3,       // 4E after the data, shortened to fit
};

struct FormatEntry {
  int count;
  uint8_t byte;
  Entry kind;
};

constexpr std::array<FormatEntry, 5> kTrackStart = {{
    {80, 0x4E, Entry::LeadIn},  // GAP 4a
    {12, 0x00, Entry::Fill},
    {3, kWriteC2, Entry::Fill},
    {1, 0xFC, Entry::Fill},     // index address mark
    {50, 0x4E, Entry::LeadIn},  // GAP 1
}};

constexpr std::array<FormatEntry, 12> kSectorFormat = {{
    {12, 0x00, Entry::Fill},
    {3, kWriteA1, Entry::Fill},
    {1, 0xFE, Entry::Fill},  // ID address mark
    {4, 0x00, Entry::IdField},
    {1, kWriteCrc, Entry::CrcDone},
    {22, 0x4E, Entry::Fill},  // GAP 2
    {12, 0x00, Entry::Fill},
    {3, kWriteA1, Entry::Fill},
    {1, 0xFB, Entry::Fill},  // data address mark
    {0, 0x00, Entry::DataField},
    {1, kWriteCrc, Entry::CrcDone},
    {54, 0x4E, Entry::Gap3},
}};

// Bytes an entry takes on the track, the sector data aside.
template <size_t N>
constexpr int PlannedBytes(const std::array<FormatEntry, N>& table) {
  int n = 0;
  for (const FormatEntry& e : table)
    n += e.byte == kWriteCrc ? 2 : e.count;
  return n;
}
constexpr int kTrackStartBytes = PlannedBytes(kTrackStart);        // 146
constexpr int kSectorOverheadBytes = PlannedBytes(kSectorFormat);  // 116
constexpr int kMaxLeadInCut = 25;
constexpr int kMinGap3 = 18;
constexpr int kMaxGap3Cut = 54 - kMinGap3;

// num / den rounded to the nearest whole number, an exact half to the even
// neighbour (num >= 0, den > 0).
int RoundHalfEven(int num, int den) {
  const int q = num / den;
  const int twiceRest = 2 * (num % den);
  if (twiceRest > den || (twiceRest == den && q % 2 == 1)) return q + 1;
  return q;
}

// Slots 0..n-1 of a track, n being the number of present slots among all 20.
int SlotsInUse(const TTrack& t) {
  return static_cast<int>(std::count_if(t.Sectors.begin(), t.Sectors.end(),
                                        [](const TSectorRec& s) { return s.Present; }));
}

// One call's output under construction: the bytes and one flag bit per byte
// for sync bytes, laid out as the mark bitmap (bit k of byte i = position 8i+k).
class TrackWriter {
 public:
  TrackWriter(const TZX_Disk& disk, uint8_t track, RawTrackFault& fault)
      : disk_(disk), track_(track), fault_(fault) {}

  bool FromLayout(const TTrack& source, bool ownRaw, bool keepRawBytes, uint8_t* out);
  bool FromFormatTable(uint8_t* out);
  void CopyMarks(uint8_t* marks) const { std::memcpy(marks, flags_.data(), kMarkBitmapSize); }

 private:
  bool Fail() {
    fault_.track = track_;
    return false;
  }
  bool Fail(int slot) {
    fault_.slot = slot;
    return Fail();
  }

  // Writes outside the buffer are dropped: a field that a layout puts at the
  // very end of the track is cut there (the call then fails on the next mark).
  void Put(int pos, uint8_t b) {
    if (pos >= 0 && pos < size_) buf_[pos] = b;
  }
  void PutSync(int pos, uint8_t b) {
    if (pos < 0 || pos >= size_) return;
    buf_[pos] = b;
    flags_[pos >> 3] = static_cast<uint8_t>(flags_[pos >> 3] | (1u << (pos & 7)));
  }
  // Runs are cut to the buffer like single bytes.
  void PutRun(int pos, int count, uint8_t b) {
    const int from = std::max(pos, 0), to = std::min(pos + count, size_);
    if (from < to) std::memset(buf_ + from, b, to - from);
  }
  void PutBytes(int pos, const uint8_t* bytes, int count) {
    const int from = std::max(pos, 0), to = std::min(pos + count, size_);
    if (from < to) std::memcpy(buf_ + from, bytes + (from - pos), to - from);
  }
  void PutCrc(int pos, uint16_t crc) {
    Put(pos, static_cast<uint8_t>(crc >> 8));
    Put(pos + 1, static_cast<uint8_t>(crc));
  }
  // The slot's data, zero-filled to the sector size when it holds less.
  void PutData(int pos, const TSectorRec& s, int size) {
    const int have = std::min<int>(s.DataLength(), size);
    PutBytes(pos, s.Data().data(), have);
    PutRun(pos + have, size - have, 0x00);
  }
  // The head of a field that runs past the track end: `count` bytes whatever
  // the sector size says, the slot's bytes and zeros past them (a slot holds
  // nothing beyond DataLength).
  void PutCutData(int pos, const TSectorRec& s, int count) {
    PutData(pos, s, std::clamp(count, 0, kSectorDataSize));
  }
  // CRC of `count` written bytes from `pos`, complemented for a bad sector.
  uint16_t FieldCrc(int pos, int count, bool good) const {
    const uint16_t crc = CalcCrc16({buf_ + pos, static_cast<size_t>(count)});
    return good ? crc : static_cast<uint16_t>(~crc);
  }
  void PutIdField(int a1, const TSectorRec& s);
  bool WriteEntry(const FormatEntry& e, int& pos, int reduction, const TSectorRec* s, int slot,
                  bool last);

  const TZX_Disk& disk_;
  uint8_t track_;
  RawTrackFault& fault_;
  uint8_t* buf_ = nullptr;
  int size_ = 0;
  std::array<uint8_t, kWorkSize / 8> flags_{};
};

// The first position from `from` where the three layout bytes match (the
// first of them is `lead`); -1 when none starts before the end of the
// synthesised track. memchr jumps from one lead byte to the next.
template <typename Match>
int FindMark(const uint8_t* raw, int from, uint8_t lead, Match match) {
  const uint8_t* const end = raw + kRawTrackSize - 2;  // a mark is three bytes
  for (const uint8_t* p = raw + std::max(from, 0); p < end; ++p) {
    p = static_cast<const uint8_t*>(std::memchr(p, lead, static_cast<size_t>(end - p)));
    if (!p) break;
    if (match(p[0], p[1], p[2])) return static_cast<int>(p - raw);
  }
  return -1;
}

void TrackWriter::PutIdField(int a1, const TSectorRec& s) {
  for (int i = 0; i < 3; ++i)
    PutSync(a1 + i, 0xA1);
  Put(a1 + 3, 0xFE);
  Put(a1 + 4, s.Cyl);
  Put(a1 + 5, s.Head);
  Put(a1 + 6, s.Sec);
  Put(a1 + 7, s.SizeCode);
  if (a1 >= 0 && a1 + 8 <= size_) PutCrc(a1 + 8, FieldCrc(a1, 8, true));
}

// Own-raw and template modes: the slots written over the marks of a raw
// layout. The searches match the last two sync bytes and the mark, so a
// layout whose first sync byte is damaged still counts.
bool TrackWriter::FromLayout(const TTrack& source, bool ownRaw, bool keepRawBytes, uint8_t* out) {
  buf_ = out;
  size_ = kRawTrackSize;
  // The searches walk a whole track's length; past RawLength the source
  // holds nothing, which reads as zeros and so holds no mark.
  std::array<uint8_t, kRawTrackSize> layout{};
  const std::span<const uint8_t> recorded =
      source.RawData().first(std::min<size_t>(source.RawLength(), kRawTrackSize));
  if (!recorded.empty()) std::memcpy(layout.data(), recorded.data(), recorded.size());
  const uint8_t* raw = layout.data();
  if (ownRaw && keepRawBytes) {
    // Only the recorded bytes: the caller's gap filler stands past them.
    if (!recorded.empty()) std::memcpy(out, recorded.data(), recorded.size());
  }

  int e = 0;  // last byte written for the previous field
  int from = 0;
  const int index = FindMark(raw, 0, 0xC2, [](uint8_t a, uint8_t b, uint8_t c) {
    return a == 0xC2 && b == 0xC2 && c == 0xFC;
  });
  if (index >= 0) {
    if (index < 15) return Fail();
    PutRun(index - 13, 12, 0x00);
    for (int i = -1; i <= 1; ++i)
      PutSync(index + i, 0xC2);
    Put(index + 2, 0xFC);
    e = index + 2;
    from = index;
  }

  // A track that is not part of the image has no sectors to write; only the
  // layout's index mark goes out.
  const TTrack& requested = disk_.GetTrack(track_);
  const int count = requested.Present ? SlotsInUse(requested) : 0;
  for (int s = 0; s < count; ++s) {
    const TSectorRec& sec = requested.Sectors[s];
    const int p = FindMark(raw, from, 0xA1, [](uint8_t a, uint8_t b, uint8_t c) {
      return a == 0xA1 && b == 0xA1 && c == 0xFE;
    });
    if (p < 0) return Fail(s);
    const int d = p - e;
    // A track's own layout may be tight (a copied protection); a template
    // must leave room for the full 12-byte zero run.
    if (d < (ownRaw ? 5 : 15)) return Fail(s);
    const int zeros = ownRaw ? std::min(12, d - 2) : 12;
    PutRun(p - 1 - zeros, zeros, 0x00);
    PutIdField(p - 1, sec);
    e = p + 8;

    // The data mark is looked for after the ID field and its CRC, whose
    // bytes may form any pattern.
    const int q = FindMark(raw, e + 1, 0xA1, [](uint8_t a, uint8_t b, uint8_t c) {
      return a == 0xA1 && b == 0xA1 && (c == 0xFB || c == 0xF8);
    });
    if (q < 0 || q - e < 15) return Fail(s);
    PutRun(q - 13, 12, 0x00);
    for (int i = -1; i <= 1; ++i)
      PutSync(q + i, 0xA1);
    Put(q + 2, raw[q + 2]);  // keeps a deleted-data mark

    const int size = ControllerSectorBytes(sec.SizeCode);
    if (q + size < kRawTrackSize - 16) {
      PutData(q + 3, sec, size);
      PutCrc(q + size + 3, FieldCrc(q - 1, size + 4, sec.DataOk));
      if (!sec.DataOk) Put(q - 1, kBrokenSync);
      e = q + size + 4;
    } else {
      // A field that runs past the end of the track can only be a bad last
      // sector (one that overlaps the index, as some protections do).
      if (s != count - 1 || sec.DataOk) return Fail(s);
      if (!ownRaw) PutCutData(q + 3, sec, kRawTrackSize - 10 - q);
    }
    // The next ID is looked for after this data field and its CRC: sector
    // data may hold the bytes of a mark (a copy of a disk tool does), and
    // a search through them would take one for the next sector's ID.
    from = e + 1;
  }
  return true;
}

// Writes one table entry at pos and moves pos past it; false when a data
// field does not fit.
bool TrackWriter::WriteEntry(const FormatEntry& e, int& pos, int reduction, const TSectorRec* s,
                             int slot, bool last) {
  switch (e.kind) {
    case Entry::Fill:
      if (e.byte == kWriteA1 || e.byte == kWriteC2) {
        for (int i = 0; i < e.count; ++i)
          PutSync(pos + i, e.byte == kWriteA1 ? 0xA1 : 0xC2);
      } else {
        PutRun(pos, e.count, e.byte);
      }
      pos += e.count;
      break;
    case Entry::LeadIn:
    case Entry::Gap3:
      PutRun(pos, e.count - reduction, e.byte);
      pos += e.count - reduction;
      break;
    case Entry::IdField:
      // The three A1 and the FE stand just before.
      PutIdField(pos - 4, *s);
      pos += 6;
      break;
    case Entry::DataField: {
      const int size = ControllerSectorBytes(s->SizeCode);
      if (pos + size + 16 >= kRawTrackSize) {
        if (!last || s->DataOk) return Fail(slot);
        PutCutData(pos, *s, kRawTrackSize - 10 - pos);
      } else {
        PutData(pos, *s, size);
        PutCrc(pos + size, FieldCrc(pos - 4, size + 4, s->DataOk));
      }
      pos += size + 2;
      break;
    }
    case Entry::CrcDone:
      break;
  }
  return true;
}

// Synthesis mode: the standard layout, with both lead-in runs and then GAP 3
// shortened when the sectors do not fit in a track.
bool TrackWriter::FromFormatTable(uint8_t* out) {
  std::array<uint8_t, kWorkSize> work;
  work.fill(0x4E);  // what stays unwritten at the end is GAP 4b
  buf_ = work.data();
  size_ = kWorkSize;

  const TTrack& t = disk_.GetTrack(track_);
  const int count = SlotsInUse(t);
  int total = kTrackStartBytes;
  for (int s = 0; s < count; ++s)
    total += ControllerSectorBytes(t.Sectors[s].SizeCode) + kSectorOverheadBytes;
  int leadInCut = 0, gap3Cut = 0;
  if (total > kRawTrackSize) {
    const int x = total - kRawTrackSize;
    if (x < 2 * kMaxLeadInCut) {
      leadInCut = RoundHalfEven(x, 2) + 2;
    } else {
      leadInCut = kMaxLeadInCut;
      gap3Cut = RoundHalfEven(x - 2 * kMaxLeadInCut, count);
      if (gap3Cut > kMaxGap3Cut) return Fail();
    }
  }

  int pos = 0;
  for (const FormatEntry& e : kTrackStart)
    WriteEntry(e, pos, leadInCut, nullptr, 0, false);
  for (int s = 0; s < count; ++s) {
    for (const FormatEntry& e : kSectorFormat) {
      if (!WriteEntry(e, pos, gap3Cut, &t.Sectors[s], s, s == count - 1)) return false;
    }
  }
  // A plan that still overshoots after rounding loses the end of its last GAP 3.
  std::memcpy(out, work.data(), kRawTrackSize);
  return true;
}

}  // namespace

bool BuildRawTrack(const TZX_Disk& disk, uint8_t track, uint8_t* out, uint8_t* marks,
                   const RawTrackOptions& options, RawTrackFault& fault) {
  if (track >= kTrackCount) {
    fault.track = track;
    return false;
  }
  TrackWriter writer(disk, track, fault);
  const TTrack& t = disk.GetTrack(track);
  bool ok = true;
  if (t.RawValid && t.RawLength() > 0) {
    ok = writer.FromLayout(t, true, options.keepRawBytes, out);
  } else if (disk.UseBaseTemplate && disk.BaseTrack <= kLastBaseTrack &&
             disk.GetTrack(disk.BaseTrack).RawLength() > 0) {
    ok = writer.FromLayout(disk.GetTrack(disk.BaseTrack), false, options.keepRawBytes, out);
  } else if (t.Present) {
    ok = writer.FromFormatTable(out);
  } else {
    std::memset(out, 0x4E, kRawTrackSize);
  }
  if (ok && marks) writer.CopyMarks(marks);
  return ok;
}

bool TZX_Disk::BuildRawTrack(uint8_t track, uint8_t* out, uint8_t* marks) {
  RawTrackFault fault;
  const bool ok = kelvara::BuildRawTrack(*this, track, out, marks, {KeepRawBytes}, fault);
  if (fault.track >= 0) ErrTrack = static_cast<uint8_t>(fault.track);
  if (fault.slot >= 0) ErrSector = static_cast<uint8_t>(fault.slot);
  return ok;
}

}  // namespace kelvara
