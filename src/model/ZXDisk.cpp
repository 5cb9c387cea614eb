#include "model/ZXDisk.h"

#include <algorithm>
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

uint16_t TSectorRec::SetData(std::span<const uint8_t> bytes) {
  const size_t n = std::min(bytes.size(), Data.size());
  std::copy_n(bytes.begin(), n, Data.begin());
  DataLength = static_cast<uint16_t>(n);
  return DataLength;
}

DataState SectorDataState(const TSectorRec& s) {
  if (s.DataLength == 0) return DataState::NoData;
  return s.DataOk ? DataState::Good : DataState::Bad;
}

void TTrack::ClearTrack() {
  for (auto& s : Sectors)
    s = TSectorRec{};
  Present = 0;
  SectorCount = 0;
  RawValid = 0;
  RawLength = 0;
  RawData.fill(0);
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
  if (!RawValid || !Present || RawLength == 0) return;
  const int count = std::min<int>(SectorCount, kSlotCount);
  for (int i = 0; i < count; ++i) {
    const TSectorRec& s = Sectors[i];
    if (s.DataOffset != 0 && s.DataOffset + s.DataLength < RawLength) {
      std::memcpy(RawData.data() + s.DataOffset, s.Data.data(), s.DataLength);
    }
  }
}

uint16_t TTrack::SetRaw(std::span<const uint8_t> bytes) {
  const size_t n = std::min(bytes.size(), RawData.size());
  std::copy_n(bytes.begin(), n, RawData.begin());
  RawLength = static_cast<uint16_t>(n);
  return RawLength;
}

TZX_Disk::TZX_Disk() {
  tracks_.reserve(kTrackCount);
  for (int i = 0; i < kTrackCount; ++i)
    tracks_.emplace_back(static_cast<uint8_t>(i));
  ClearImage();
}

void TZX_Disk::ClearImage() {
  for (auto& t : tracks_)
    t.ClearTrack();
  UseBaseTemplate = false;
  BaseTrack = kNoBaseTrack;
  HeaderText.clear();
  Comment.clear();
  TrackCount = 0;
  if (view_) view_->ScrollToTopAndRepaint();
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
