#include "drive/flux/SimulatedSurface.h"

#include <algorithm>

#include "model/Arithmetic.h"

namespace kelvara::flux {

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
  const double bitCells = timing.wanderTicks > 0 ? timing.wanderTicks / timing.cellTicks : 1;
  size_t noiseAfter = timing.quietCells;  // cells of quiet before the next noise transition
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
    bool noise = false;
    if (noiseAfter && static_cast<size_t>(sinceTransition) >= noiseAfter) {
      noise = true;
      noiseAfter = static_cast<size_t>(bitCells * (3.5 + 1.5 * rng.Signed()));
    }
    if ((cells[i] && !(fault && !fault->weak)) || noise) {
      if (!noise) noiseAfter = timing.quietCells;
      double t = (static_cast<double>(absolute) + 0.5) * cell;
      const int intervalCells = sinceTransition;
      t += rng.Signed() * timing.jitter * intervalCells * cell;
      // A weak stretch: the transitions wander by up to a cell.
      if (fault)
        t += rng.Signed() * 1.1 *
             (timing.wanderTicks > 0 ? timing.wanderTicks / (1.0 + timing.speedError) : cell);
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
