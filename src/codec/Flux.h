// Captured flux: the intervals between transitions and the index pulses, in
// sample ticks, as a device reads a track or a flux file stores it.
#pragma once

#include <cstdint>
#include <vector>

namespace kelvara::flux {

// What a read captured: the flux intervals and the absolute times of the
// index pulses, both in sample ticks from the start of the capture.
struct FluxCapture {
  std::vector<uint32_t> flux;
  std::vector<uint64_t> index;
  uint64_t TotalTicks() const;
};

}  // namespace kelvara::flux
