// The simulated drive's disk surface: the MFM cells of a track turned under
// the head as the flux a drive would see, with the faults of real media and
// drives added on demand.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "codec/Flux.h"

namespace kelvara::flux {

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
  // How far a transition in a weak stretch wanders, either way; 0: 1.1
  // cells (a surface that holds a bit cell as several slots says its own).
  double wanderTicks = 0;
  // After this many cells without a transition the read amplifier's gain
  // has risen to its own noise: transitions at random, 2 to 5 bit cells
  // (`wanderTicks`) apart, until flux comes again. 0: a quiet stretch reads
  // as quiet.
  size_t quietCells = 0;
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
