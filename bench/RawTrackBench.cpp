// Raw track synthesis and the track-level image files, in memory.
// Targets: BuildRawTrack under 10 us a track; a full 160-track TR-DOS disk
// saved or loaded as UDI or HFE under 5 ms.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "formats/Hfe.h"
#include "formats/Trd.h"
#include "formats/Udi.h"
#include "model/ZXDisk.h"

namespace {

constexpr int kTracks = 160;

// A full TR-DOS disk: 16 sectors of 256 bytes on every track.
std::unique_ptr<kelvara::TZX_Disk> FullDisk() {
  std::vector<uint8_t> trd(kTracks * 4096);
  uint32_t x = 777;
  for (auto& b : trd) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  auto disk = std::make_unique<kelvara::TZX_Disk>();
  ReadTrdBytes(*disk, trd);
  return disk;
}

void BM_BuildRawTrack(benchmark::State& state) {
  auto disk = FullDisk();
  std::vector<uint8_t> out(kelvara::kRawTrackSize), marks(kelvara::kRawTrackSize / 8);
  for (auto _ : state) {
    for (int t = 0; t < kTracks; ++t)
      benchmark::DoNotOptimize(
          disk->BuildRawTrack(static_cast<uint8_t>(t), out.data(), marks.data()));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kTracks);
}
BENCHMARK(BM_BuildRawTrack)->Unit(benchmark::kMicrosecond);

template <auto Build>
void BM_Save(benchmark::State& state) {
  auto disk = FullDisk();
  std::vector<uint8_t> out;
  for (auto _ : state)
    benchmark::DoNotOptimize(Build(*disk, out, {}).ok);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}

template <auto Build, auto Read>
void BM_Load(benchmark::State& state) {
  auto disk = FullDisk();
  std::vector<uint8_t> file;
  Build(*disk, file, {});
  for (auto _ : state)
    benchmark::DoNotOptimize(Read(*disk, file));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}

using kelvara::BuildHfeBytes;
using kelvara::BuildUdiBytes;
using kelvara::ReadHfeBytes;
using kelvara::ReadUdiBytes;
BENCHMARK(BM_Save<BuildUdiBytes>)->Name("BM_UdiSaveFullDisk")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load<BuildUdiBytes, ReadUdiBytes>)
    ->Name("BM_UdiLoadFullDisk")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save<BuildHfeBytes>)->Name("BM_HfeSaveFullDisk")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load<BuildHfeBytes, ReadHfeBytes>)
    ->Name("BM_HfeLoadFullDisk")
    ->Unit(benchmark::kMillisecond);

}  // namespace
