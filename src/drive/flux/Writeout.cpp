#include "drive/flux/Writeout.h"

#include <algorithm>

#include "drive/flux/FluxStream.h"
#include "model/Arithmetic.h"

namespace kelvara::flux {

void BuildWriteout(std::span<const uint8_t> cells, std::span<const uint8_t> filler,
                   const WriteoutTiming& timing, Writeout& out) {
  const size_t own = cells.size();
  size_t total = own;
  if (!filler.empty()) {
    const auto wanted = static_cast<size_t>(timing.cellsPerRevolution * (1 + timing.tailMargin));
    while (total < wanted)
      total += filler.size();
  }
  out.cells = total;
  auto cellAt = [&](size_t i) -> int {
    if (i < own) return cells[i];
    return filler[(i - own) % filler.size()];
  };
  const double cell = timing.revolutionTicks / timing.cellsPerRevolution;
  const double shift = timing.precomp.AppliesTo(timing.cylinder)
                           ? timing.precomp.ns * 1e-9 * timing.sampleFrequency
                           : 0;
  out.flux.clear();
  out.flux.reserve(total / 2);
  double emitted = 0;  // whole ticks sent so far: the rounding is carried forward
  for (size_t i = 0; i < total; ++i) {
    if (!cellAt(i)) continue;
    // A transition lies at the end of its cell.
    double at = static_cast<double>(i + 1) * cell;
    if (shift > 0) {
      const bool before = i >= 2 && cellAt(i - 2);
      const bool after = i + 2 < total && cellAt(i + 2);
      if (before != after) at += before ? -shift : shift;
    }
    const auto ticks = static_cast<uint32_t>(RoundNonNegative(std::max(at - emitted, 0.0)));
    out.flux.push_back(ticks);
    emitted += ticks;
  }
  EncodeWriteStream(out.flux, WriteStreamTiming::At(timing.sampleFrequency), out.stream);
  out.cueAtIndex = true;
  out.terminateAtIndex = true;
}

}  // namespace kelvara::flux
