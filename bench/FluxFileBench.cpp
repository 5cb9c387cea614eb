// Loading a flux image file: a whole TR-DOS disk (160 tracks of 16 x 256
// bytes) as an SCP file of two revolutions a track, read and decoded into
// the track model, sectors and raw tracks. Target: under 0.3 s on one core.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "formats/Scp.h"
#include "model/ZXDisk.h"

namespace {

using namespace kelvara;

const std::vector<uint8_t>& DiskScp() {
  static std::vector<uint8_t> file;
  if (!file.empty()) return file;
  auto disk = std::make_unique<TZX_Disk>();
  std::vector<uint8_t> data(256);
  for (int t = 0; t < 160; ++t) {
    TTrack& track = disk->GetTrack(static_cast<uint8_t>(t));
    track.Present = 0xFF;
    for (int r = 1; r <= 16; ++r) {
      for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(t * 31 + r * 7 + i * 13);
      TSectorRec& s = track.Sectors[r - 1];
      s.SetId(static_cast<uint8_t>(t / 2), 0, static_cast<uint8_t>(r), 1);
      s.DataOk = 0xFF;
      s.SetData(data);
    }
    track.CountSectors();
  }
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
