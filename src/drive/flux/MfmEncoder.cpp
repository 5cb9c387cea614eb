#include "drive/flux/MfmEncoder.h"

#include <algorithm>

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
    for (int k = 7; k >= 0; --k) {
      const int bit = (b >> k) & 1;
      *c++ = static_cast<uint8_t>(!previous && !bit);
      *c++ = static_cast<uint8_t>(bit);
      previous = bit;
    }
    if (i < sync.size() && sync[i]) {
      // The clock before data bit 2 (A1) or bit 3 (C2) is left out.
      uint8_t* cell = c - 16;
      if (b == 0xA1) cell[10] = 0;  // 0x44A9 -> 0x4489
      if (b == 0xC2) cell[8] = 0;   // 0x52A4 -> 0x5224
    }
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

void CaptureSurface(std::span<const uint8_t> cells, std::span<const CellRange> faults,
                    const SurfaceTiming& timing, size_t startCell, uint64_t& revolution,
                    int indexes, uint64_t lingerTicks, uint64_t maxTicks, Rng& rng,
                    FluxCapture& out) {
  out.flux.clear();
  out.index.clear();
  const size_t n = cells.size();
  if (n == 0) return;
  const double cell = timing.cellTicks / (1.0 + timing.speedError);
  size_t i = startCell % n;
  uint64_t absolute = 0;  // cells since the start of the capture
  double lastTime = 0;    // the previous transition, in ticks
  uint64_t lastTick = 0;
  int sinceTransition = 0;
  uint64_t stopAt = UINT64_MAX;
  const CellRange* fault = nullptr;  // the fault range the head is in
  for (;;) {
    const double now = static_cast<double>(absolute) * cell;
    if (now >= static_cast<double>(stopAt)) break;
    if (maxTicks && now >= static_cast<double>(maxTicks)) break;
    if (i == 0 && absolute > 0) ++revolution;
    if (i == 0 && timing.index && (absolute > 0 || startCell % n == 0)) {
      out.index.push_back(static_cast<uint64_t>(RoundNonNegative(now)));
      if (static_cast<int>(out.index.size()) == indexes)
        stopAt = static_cast<uint64_t>(RoundNonNegative(now)) + lingerTicks;
    }
    fault = nullptr;
    for (const CellRange& f : faults) {
      if (i >= f.begin && i < f.end && (!f.weak || revolution % 2 == 0)) fault = &f;
    }
    ++sinceTransition;
    if (cells[i] && !(fault && !fault->weak)) {
      double t = (static_cast<double>(absolute) + 0.5) * cell;
      const int intervalCells = sinceTransition;
      t += rng.Signed() * timing.jitter * intervalCells * cell;
      // A weak stretch: the transitions wander by up to a cell.
      if (fault) t += rng.Signed() * 1.1 * cell;
      t = std::max(t, lastTime + 1);
      const auto tick = static_cast<uint64_t>(RoundNonNegative(t));
      if (tick > lastTick) {
        out.flux.push_back(static_cast<uint32_t>(tick - lastTick));
        lastTick = tick;
        lastTime = t;
      }
      sinceTransition = 0;
    }
    ++absolute;
    if (++i == n) i = 0;
  }
}

}  // namespace kelvara::flux
