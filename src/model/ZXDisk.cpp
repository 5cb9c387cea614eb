#include "model/ZXDisk.h"

#include <algorithm>
#include <cstring>

namespace kelvara {

namespace {

// Table-driven CRC-16/CCITT-FALSE: one table lookup per byte.
constexpr std::array<uint16_t, 256> MakeCrc16Table() {
  std::array<uint16_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    uint16_t r = static_cast<uint16_t>(i << 8);
    for (int bit = 0; bit < 8; ++bit) {
      r = (r & 0x8000) ? static_cast<uint16_t>((r << 1) ^ 0x1021) : static_cast<uint16_t>(r << 1);
    }
    table[i] = r;
  }
  return table;
}
constexpr auto kCrc16Table = MakeCrc16Table();

// The UDI CRC-32 shifts its register arithmetically, so the sign bit is copied
// down and XORed with the polynomial as well. Each step is linear over GF(2),
// so eight steps on a register split into its low byte and the rest: the rest
// only shifts (arithmetically) by eight, the low byte's effect comes from a table.
constexpr uint32_t ShiftEightBits(uint32_t r) {
  for (int bit = 0; bit < 8; ++bit) {
    const uint32_t t = (r & 1) ? 0xFFFFFFFFu : 0u;
    r = static_cast<uint32_t>(static_cast<int32_t>(r) >> 1);
    r ^= 0xEDB88320u & t;
  }
  return r;
}

constexpr std::array<uint32_t, 256> MakeCrc32Table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i)
    table[i] = ShiftEightBits(i);
  return table;
}
constexpr auto kCrc32Table = MakeCrc32Table();

}  // namespace

uint16_t CalcCrc16(std::span<const uint8_t> bytes, uint16_t crc) {
  for (uint8_t b : bytes) {
    crc = static_cast<uint16_t>((crc << 8) ^ kCrc16Table[((crc >> 8) ^ b) & 0xFF]);
  }
  return crc;
}

uint32_t CalcCrc32(std::span<const uint8_t> bytes) {
  uint32_t r = 0xFFFFFFFFu;
  for (uint8_t b : bytes) {
    r ^= static_cast<uint32_t>(b) ^ 0xFFFFFFFFu;
    r = static_cast<uint32_t>(static_cast<int32_t>(r) >> 8) ^ kCrc32Table[r & 0xFF];
    r ^= 0xFFFFFFFFu;
  }
  return r;
}

uint16_t IdFieldCrc(uint8_t cyl, uint8_t head, uint8_t sec, uint8_t sizeCode) {
  const uint8_t id[8] = {0xA1, 0xA1, 0xA1, 0xFE, cyl, head, sec, sizeCode};
  return CalcCrc16(id);
}

uint16_t TSectorRec::SetData(std::span<const uint8_t> bytes) {
  const size_t n = std::min(bytes.size(), Data.size());
  std::copy_n(bytes.begin(), n, Data.begin());
  DataLength = static_cast<uint16_t>(n);
  return DataLength;
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

uint8_t TTrack::CountSectors() {
  SectorCount = static_cast<uint8_t>(
      std::count_if(Sectors.begin(), Sectors.end(), [](const TSectorRec& s) { return s.Present; }));
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

uint8_t TZX_Disk::CountTracks() {
  TrackCount = static_cast<uint8_t>(
      std::count_if(tracks_.begin(), tracks_.end(), [](const TTrack& t) { return t.Present; }));
  return TrackCount;
}

}  // namespace kelvara
