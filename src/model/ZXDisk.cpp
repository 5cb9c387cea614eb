#include "model/ZXDisk.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>

namespace kelvara {

void TSectorRec::SetId(uint8_t cyl, uint8_t head, uint8_t sec, uint8_t sizeCode) {
  Present = 0xFF;
  Cyl = cyl;
  Head = head;
  Sec = sec;
  SizeCode = sizeCode;
  HeaderCrc = IdFieldCrc(cyl, head, sec, sizeCode);
}

namespace {

// Sizes a byte store to `size`, cut to `capacity`; a store that shrinks gives
// its spare memory back, since a slot rarely grows again.
std::span<uint8_t> Resize(std::vector<uint8_t>& v, size_t size, size_t capacity) {
  size = std::min(size, capacity);
  if (size < v.size()) {
    std::vector<uint8_t>(v.begin(), v.begin() + static_cast<ptrdiff_t>(size)).swap(v);
  } else {
    v.reserve(size);  // exactly: a growing slot is not a growing list
    v.resize(size);
  }
  return v;
}

size_t Assign(std::vector<uint8_t>& v, std::span<const uint8_t> bytes, size_t capacity) {
  const size_t n = std::min(bytes.size(), capacity);
  if (n < v.size()) std::vector<uint8_t>().swap(v);
  v.assign(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(n));
  return n;
}

}  // namespace

std::span<uint8_t> TSectorRec::MutableData(size_t size) {
  return Resize(data_, size, kSectorDataSize);
}

uint16_t TSectorRec::SetData(std::span<const uint8_t> bytes) {
  return static_cast<uint16_t>(Assign(data_, bytes, kSectorDataSize));
}

void TSectorRec::CopyDataPadded(std::span<uint8_t> out) const {
  const size_t n = std::min(out.size(), data_.size());
  // memcpy and memset: under the fuzzers' instrumentation a byte loop costs
  // as much as the rest of a small load.
  if (n) std::memcpy(out.data(), data_.data(), n);
  if (n < out.size()) std::memset(out.data() + n, 0, out.size() - n);
}

void TSectorRec::Clear() {
  Present = Cyl = Head = Sec = SizeCode = 0;
  HeaderCrc = 0;
  ErrorCount = DataOk = 0;
  DataOffset = 0;
  // A slot keeps storage of up to a TR-DOS sector's size for the next load
  // into the image (at most 860 KB an image); larger storage goes back.
  if (data_.capacity() > kKeptSectorCapacity) {
    ClearData();
  } else {
    data_.clear();
  }
}

DataState SectorDataState(const TSectorRec& s) {
  if (s.DataLength() == 0) return DataState::NoData;
  return s.DataOk ? DataState::Good : DataState::Bad;
}

std::string CylSideText(int track) {
  return std::to_string(track / 2) + "." + std::to_string(track % 2);
}

bool IdFieldOk(const TSectorRec& s) {
  return s.HeaderCrc == IdFieldCrc(s.Cyl, s.Head, s.Sec, s.SizeCode);
}

void TTrack::ClearTrack() {
  for (auto& s : Sectors)
    s.Clear();
  Present = 0;
  SectorCount = 0;
  RawValid = 0;
  FormatGap3 = 0;
  FormatFiller = 0xE5;
  // The raw storage stays for the track's next raw bytes (at most 14,002
  // bytes a track), as a slot's does for its data.
  raw_.clear();
  Log.clear();
}

uint8_t TTrack::PresentSlots() const {
  return static_cast<uint8_t>(
      std::count_if(Sectors.begin(), Sectors.end(), [](const TSectorRec& s) { return s.Present; }));
}

uint8_t TTrack::CountSectors() {
  SectorCount = PresentSlots();
  return SectorCount;
}

void TTrack::SectorsToRaw() {
  if (!RawValid || !Present || raw_.empty()) return;
  const int count = std::min<int>(SectorCount, kSlotCount);
  for (int i = 0; i < count; ++i) {
    const TSectorRec& s = Sectors[i];
    if (s.DataOffset != 0 && s.DataLength() != 0 && s.DataOffset + s.DataLength() < RawLength()) {
      std::memcpy(raw_.data() + s.DataOffset, s.Data().data(), s.DataLength());
    }
  }
}

std::span<uint8_t> TTrack::MutableRaw(size_t size) {
  return Resize(raw_, size, kRawTrackCapacity);
}

uint16_t TTrack::SetRaw(std::span<const uint8_t> bytes) {
  return static_cast<uint16_t>(Assign(raw_, bytes, kRawTrackCapacity));
}

TZX_Disk::TZX_Disk() {
  static std::atomic<uint64_t> images{0};
  serial_ = ++images;
  tracks_.reserve(kTrackCount);
  for (int i = 0; i < kTrackCount; ++i)
    tracks_.emplace_back(static_cast<uint8_t>(i));
}

void TZX_Disk::ClearImage() {
  for (int t = 0; t < kTrackCount; ++t) {
    if (!used_[t]) continue;
    tracks_[t].ClearTrack();
    used_[t] = false;
    Changed(static_cast<uint8_t>(t));
  }
  UseBaseTemplate = false;
  BaseTrack = kNoBaseTrack;
  HeaderText.clear();
  Comment.clear();
  TrackCount = 0;
  if (view_) view_->ScrollToTopAndRepaint();
}

void TZX_Disk::CopyFrom(const TZX_Disk& other) {
  if (this == &other) return;
  HeaderText = other.HeaderText;
  TrackCount = other.TrackCount;
  UseBaseTemplate = other.UseBaseTemplate;
  BaseTrack = other.BaseTrack;
  KeepRawBytes = other.KeepRawBytes;
  Comment = other.Comment;
  ErrTrack = other.ErrTrack;
  ErrSector = other.ErrSector;
  StatusText = other.StatusText;
  // Element-wise, so that vectors keep their memory. Tracks empty on both
  // sides are left alone. Again from the same image, only the tracks changed
  // since on either side can differ; when that image did not change at all,
  // they are the ones this one marked.
  const auto copyTrack = [&](int t) {
    if (!used_[t] && !other.used_[t]) return;
    tracks_[t] = other.tracks_[t];
    used_[t] = true;
    Changed(static_cast<uint8_t>(t));
  };
  const auto changed = changedSinceCopy_;
  const auto changedHere = [&changed](int t) { return (changed[t / 64] >> (t % 64)) & 1; };
  const bool again = copiedFrom_ == other.serial_;
  if (again && sourceTotalAtCopy_ == other.totalChanges_) {
    for (size_t word = 0; word < changed.size(); ++word) {
      for (uint64_t bits = changed[word]; bits != 0; bits &= bits - 1)
        copyTrack(static_cast<int>(word * 64) + std::countr_zero(bits));
    }
  } else {
    for (int t = 0; t < kTrackCount; ++t) {
      if (!again || changedHere(t) || other.changes_[t] != sourceChangesAtCopy_[t]) copyTrack(t);
    }
    sourceChangesAtCopy_ = other.changes_;
  }
  copiedFrom_ = other.serial_;
  sourceTotalAtCopy_ = other.totalChanges_;
  changedSinceCopy_ = {};
}

uint8_t TZX_Disk::PresentTracks() const {
  return static_cast<uint8_t>(
      std::count_if(tracks_.begin(), tracks_.end(), [](const TTrack& t) { return t.Present; }));
}

uint8_t TZX_Disk::CountTracks() {
  TrackCount = PresentTracks();
  return TrackCount;
}

int TZX_Disk::LastPresentTrack() const {
  for (int t = kTrackCount - 1; t >= 0; --t) {
    if (tracks_[t].Present) return t;
  }
  return -1;
}

DataStateCounts TZX_Disk::CountDataStates() const {
  DataStateCounts c;
  for (const TTrack& t : tracks_) {
    if (!t.Present) continue;
    for (const TSectorRec& s : t.Sectors) {
      if (!s.Present) continue;
      switch (SectorDataState(s)) {
        case DataState::Good:
          ++c.good;
          break;
        case DataState::Bad:
          ++c.bad;
          break;
        case DataState::NoData:
          ++c.noData;
          break;
      }
    }
  }
  return c;
}

}  // namespace kelvara
