// The writeout stage: a track's bit cells become the stream a WriteFlux puts
// on the disk, at the drive's own speed. Cells in, flux out; every rule of
// laying a track onto a turning disk lives here:
//
// - Timing: each cell lasts the measured revolution over the cells of a
//   revolution at the data rate, the rounding carried forward, so that the
//   track closes on itself at the index whatever the motor's speed.
// - Precompensation: from a chosen cylinder on, a transition with a
//   neighbour two cells away on one side only is written early (the
//   neighbour before it) or late (after it) by the chosen time. Read back,
//   close transitions push each other apart, most on the inner cylinders
//   where the bits lie closest; many 5.25" 80-track drives want it there.
// - The tail: the track is stretched with its gap filler to `tailMargin`
//   past the revolution, and a track shorter than a revolution is padded
//   the same way. The write starts at the index and the next index stops
//   it, so on a drive turning at the measured speed the stretch is cut off
//   unwritten; on one turning a little slower during the write than when it
//   was measured (a few tenths of a percent over a disk is normal) the
//   track still reaches the index, and nothing of the old recording (IDs of
//   an earlier format) survives before it.
// - The splice: cued at the index and ended at the next one, where the track
//   meets its own start; the stream ends with the value the device loads but
//   never writes (EncodeWriteStream).
//
// A cell pattern with long stretches of 0 (no flux) goes out as the stream's
// no-flux form, so a track with weak or empty stretches passes through
// unchanged.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kelvara::flux {

struct Precompensation {
  int fromCylinder = 0;
  double ns = 0;  // 0: off
  bool AppliesTo(int cylinder) const { return ns > 0 && cylinder >= fromCylinder; }
};

struct WriteoutTiming {
  double sampleFrequency = 72e6;
  double revolutionTicks = 14.4e6;     // the drive's revolution as measured
  double cellsPerRevolution = 100000;  // of the data rate: 100000 for double density
  double tailMargin = 0.07;            // how far past the revolution the track is stretched
  Precompensation precomp;
  int cylinder = 0;  // the drive's cylinder the track goes to
};

struct Writeout {
  std::vector<uint32_t> flux;   // ticks between transitions, the first from the index
  std::vector<uint8_t> stream;  // the WriteFlux stream
  size_t cells = 0;             // cells written, the tail included
  // The splice: where the write starts and what stops it.
  bool cueAtIndex = true;
  bool terminateAtIndex = true;
};

// `filler` is the unit of cells that stretches the tail, repeated: it must
// follow the track's last cell and itself as the encoding wants (for MFM the
// cells of the gap byte 0x4E, after a track that ends in one).
void BuildWriteout(std::span<const uint8_t> cells, std::span<const uint8_t> filler,
                   const WriteoutTiming& timing, Writeout& out);

}  // namespace kelvara::flux
