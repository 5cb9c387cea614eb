// Decoding a whole disk's flux: 160 tracks of a TR-DOS disk, each captured
// as a Greaseweazle sends it (three index pulses: two whole revolutions and
// the part before the first pulse), 1 % slow with 3 % jitter. The run
// parses every stream and decodes it through the PLL into sectors and the
// raw track. Target: under 0.5 s of CPU for the disk.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "PatternDisk.h"
#include "codec/MfmDecoder.h"
#include "codec/MfmEncoder.h"
#include "drive/flux/FluxStream.h"
#include "drive/flux/SimulatedSurface.h"
#include "model/ZXDisk.h"

namespace {

using namespace kelvara;
using namespace kelvara::flux;

std::vector<std::vector<uint8_t>> DiskStreams() {
  static std::vector<std::vector<uint8_t>> streams;
  if (!streams.empty()) return streams;
  auto disk = std::make_unique<TZX_Disk>();
  bench::FillPatternDisk(*disk);
  Rng rng(7);
  std::vector<uint8_t> bytes, sync, cells;
  for (int t = 0; t < 160; ++t) {
    TrackRawBytes(*disk, t, bytes, sync);
    MfmCells(bytes, sync, cells);
    FluxCapture capture;
    uint64_t revolution = 1;
    CaptureSurface(cells, {}, {144, -0.01, 0.03, true}, (t * 37117u) % cells.size(), revolution, 3,
                   36000, 0, rng, capture);
    streams.emplace_back();
    EncodeFluxStream(capture, 14400, 1, streams.back());
  }
  return streams;
}

void BM_FluxDecodeFullDisk(benchmark::State& state) {
  const auto streams = DiskStreams();
  FluxCapture capture;
  DecodedTrack track;
  DecoderScratch scratch;
  std::string error;
  size_t bytes = 0;
  int good = 0;
  for (auto _ : state) {
    good = 0;
    for (const auto& s : streams) {
      DecodeFluxStream(s, capture, error);
      DecodeMfmTrack(capture, DecoderSettings{}, track, scratch);
      good += track.GoodSectors();
    }
    benchmark::DoNotOptimize(good);
  }
  for (const auto& s : streams)
    bytes += s.size();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["good_sectors"] = good;
  state.counters["stream_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_FluxDecodeFullDisk)->Unit(benchmark::kMillisecond);

}  // namespace
