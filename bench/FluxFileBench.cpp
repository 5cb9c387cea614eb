// Loading a flux image file: a whole TR-DOS disk (160 tracks of 16 x 256
// bytes) as an SCP file of two revolutions a track, read and decoded into
// the track model, sectors and raw tracks. Target: under 0.3 s on one core.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "PatternDisk.h"
#include "formats/Scp.h"
#include "model/ZXDisk.h"

namespace {

using namespace kelvara;

const std::vector<uint8_t>& DiskScp() {
  static std::vector<uint8_t> file;
  if (!file.empty()) return file;
  auto disk = std::make_unique<TZX_Disk>();
  bench::FillPatternDisk(*disk);
  BuildScpBytes(*disk, file, {2});
  return file;
}

void BM_ScpLoadFullDisk(benchmark::State& state) {
  const std::vector<uint8_t>& file = DiskScp();
  auto disk = std::make_unique<TZX_Disk>();
  int good = 0;
  for (auto _ : state) {
    ReadScpBytes(*disk, file);
    good = disk->CountDataStates().good;
    benchmark::DoNotOptimize(good);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
  state.counters["good_sectors"] = good;
  state.counters["file_MB"] = static_cast<double>(file.size()) / 1e6;
}
BENCHMARK(BM_ScpLoadFullDisk)->Unit(benchmark::kMillisecond);

}  // namespace
