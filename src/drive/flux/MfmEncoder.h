// The other direction of the flux decoder, for the simulated device: a track
// of a disk image as raw bytes (its own raw track where it has one, else the
// standard layout), the bytes as MFM bit cells, and the cells as the flux a
// drive would see, with the faults of real media and drives added on demand.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "drive/flux/FluxStream.h"
#include "model/ZXDisk.h"

namespace kelvara::flux {

// The raw bytes of one track and a sync flag per byte (1 = written with a
// missing clock). A track that is not present, or whose sectors cannot be laid
// out, is an unformatted stretch: false, and `bytes` left empty.
bool TrackRawBytes(const TZX_Disk& disk, int track, std::vector<uint8_t>& bytes,
                   std::vector<uint8_t>& sync);

// MFM cells, one byte (0 or 1) per cell, 16 per raw byte: the clock cell is 1
// only between two 0 data bits. A flagged A1 is 0x4489 and a flagged C2
// 0x5224, the missing clock that marks a sync; other flagged bytes (the 0x14
// that some images put before the data of a bad sector) go out with their
// clocks.
void MfmCells(std::span<const uint8_t> bytes, std::span<const uint8_t> sync,
              std::vector<uint8_t>& cells);

// Where the data field of the first sector numbered `sector` lies, in bytes:
// from its mark to the end of its CRC. False when the track has no such field.
bool FindDataField(std::span<const uint8_t> bytes, std::span<const uint8_t> sync, uint8_t sector,
                   size_t& begin, size_t& end);

// A small fast generator, so that a simulated disk reads the same every run.
class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed ? seed : 0x9E3779B97F4A7C15ull) {}
  uint64_t Next() {
    s_ ^= s_ >> 12;
    s_ ^= s_ << 25;
    s_ ^= s_ >> 27;
    return s_ * 0x2545F4914F6CDD1Dull;
  }
  // Uniform in [-1, 1).
  double Signed() { return static_cast<double>(Next() >> 11) * 0x1.0p-52 - 1.0; }

 private:
  uint64_t s_;
};

// A stretch of cells [begin, end) that reads badly: `weak` ones in every
// second revolution of the disk (the even ones), dropouts in every one.
struct CellRange {
  size_t begin = 0;
  size_t end = 0;
  bool weak = false;
};

// How the simulated drive turns one track under the head.
struct SurfaceTiming {
  double cellTicks = 144;  // one cell at the nominal speed, in sample ticks
  double speedError = 0;   // +0.1: the disk turns 10 % fast, every time 10 % shorter
  double jitter = 0;       // each transition lands within +-jitter of the interval before it
  bool index = true;       // false: the drive gives no index pulses
};

// Flux of `cells` (a whole revolution from the index) captured from the
// absolute revolution `revolution` at cell `startCell`: until `indexes`
// index pulses have passed and then `lingerTicks` more, or until `maxTicks`
// when that comes first (0: no limit). `revolution` is advanced past the
// capture.
void CaptureSurface(std::span<const uint8_t> cells, std::span<const CellRange> faults,
                    const SurfaceTiming& timing, size_t startCell, uint64_t& revolution,
                    int indexes, uint64_t lingerTicks, uint64_t maxTicks, Rng& rng,
                    FluxCapture& out);

}  // namespace kelvara::flux
