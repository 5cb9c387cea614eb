#include "codec/MfmEncoder.h"

#include <algorithm>

#include "codec/Mfm.h"
#include "model/Arithmetic.h"
#include "model/RawTrack.h"

namespace kelvara::flux {

bool TrackRawBytes(const TZX_Disk& disk, int track, std::vector<uint8_t>& bytes,
                   std::vector<uint8_t>& sync) {
  bytes.clear();
  sync.clear();
  if (track < 0 || track >= kTrackCount) return false;
  const TTrack& t = disk.GetTrack(static_cast<uint8_t>(track));
  const bool ownRaw = t.RawValid && t.RawLength() > 0;
  if (!t.Present && !ownRaw) return false;
  std::vector<uint8_t> out(kRawTrackSize, 0x4E);
  std::vector<uint8_t> marks(kMarkBitmapSize, 0);
  RawTrackFault fault;
  // The raw bytes as they are, the sector table written over their layout.
  if (!BuildRawTrack(disk, static_cast<uint8_t>(track), out.data(), marks.data(),
                     RawTrackOptions{.keepRawBytes = true}, fault))
    return false;
  // A raw track a little shorter than the synthesised size is a revolution
  // of its own; a longer one is cut to what synthesis keeps.
  const size_t length = ownRaw ? std::min<size_t>(t.RawLength(), kRawTrackSize) : kRawTrackSize;
  bytes.assign(out.begin(), out.begin() + static_cast<long>(length));
  sync.resize(length);
  for (size_t i = 0; i < length; ++i)
    sync[i] = (marks[i / 8] >> (i % 8)) & 1;
  return true;
}

void MfmCells(std::span<const uint8_t> bytes, std::span<const uint8_t> sync,
              std::vector<uint8_t>& cells) {
  cells.resize(bytes.size() * 16);
  uint8_t* c = cells.data();
  int previous = 0;  // the last data bit written
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint8_t b = bytes[i];
    uint16_t w = MfmWord(b);
    if (previous) w &= static_cast<uint16_t>(~kFirstClockCell);
    if (i < sync.size() && sync[i]) {
      if (b == 0xA1) w &= static_cast<uint16_t>(~kMissingClockA1);
      if (b == 0xC2) w &= static_cast<uint16_t>(~kMissingClockC2);
    }
    for (int k = 15; k >= 0; --k)
      *c++ = static_cast<uint8_t>((w >> k) & 1);
    previous = b & 1;
  }
}

bool FindDataField(std::span<const uint8_t> bytes, std::span<const uint8_t> sync, uint8_t sector,
                   size_t& begin, size_t& end) {
  const size_t n = bytes.size();
  for (size_t p = 1; p + 7 < n; ++p) {
    if (!(sync[p - 1] && bytes[p - 1] == 0xA1 && bytes[p] == 0xFE && bytes[p + 3] == sector))
      continue;
    const size_t size = size_t{128} << (bytes[p + 4] & 3);
    for (size_t q = p + 7; q + 1 < n && q < p + 80; ++q) {
      if (sync[q - 1] && bytes[q - 1] == 0xA1 && (bytes[q] == 0xFB || bytes[q] == 0xF8)) {
        begin = q;
        end = std::min(n, q + 1 + size + 2);
        return true;
      }
    }
  }
  return false;
}

uint32_t CellsToFlux(std::span<const uint8_t> cells, double cellTicks,
                     std::vector<uint32_t>& flux) {
  flux.clear();
  double due = 0;  // ticks since the last transition, before rounding
  double carry = 0;
  for (const uint8_t cell : cells) {
    due += cellTicks;
    if (!cell) continue;
    const double exact = due + carry;
    const auto ticks = static_cast<uint32_t>(RoundNonNegative(exact));
    carry = exact - ticks;
    flux.push_back(ticks);
    due = 0;
  }
  return static_cast<uint32_t>(RoundNonNegative(due + carry));
}

}  // namespace kelvara::flux
