// What an image costs to hold: a new empty image (every process and every
// fuzz input makes one), emptying a full one, and the TD0 conversions of a
// full TR-DOS disk in memory.
// Targets: a new image under 0.1 ms (the fixed buffers zeroed 6 MB); a plain
// TD0 save or load of a full 160-track disk under 2 ms.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "formats/Td0.h"
#include "formats/Trd.h"
#include "model/ZXDisk.h"

namespace {

// A full TR-DOS disk's bytes: text-like runs, as used disks hold.
std::vector<uint8_t> TrdBytes() {
  std::vector<uint8_t> v(655360);
  uint32_t x = 7;
  for (size_t i = 0; i < v.size(); ++i) {
    x = x * 1103515245u + 12345u;
    v[i] = static_cast<uint8_t>((x >> 16) % 64 + 32);
  }
  return v;
}

void BM_NewImage(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(std::make_unique<kelvara::TZX_Disk>());
}
BENCHMARK(BM_NewImage)->Unit(benchmark::kMicrosecond);

void BM_ClearFullImage(benchmark::State& state) {
  const auto file = TrdBytes();
  auto disk = std::make_unique<kelvara::TZX_Disk>();
  for (auto _ : state) {
    state.PauseTiming();
    kelvara::ReadTrdBytes(*disk, file);
    state.ResumeTiming();
    disk->ClearImage();
  }
}
BENCHMARK(BM_ClearFullImage)->Unit(benchmark::kMicrosecond);

void BM_Td0SavePlainFullDisk(benchmark::State& state) {
  auto disk = std::make_unique<kelvara::TZX_Disk>();
  kelvara::ReadTrdBytes(*disk, TrdBytes());
  std::vector<uint8_t> out;
  for (auto _ : state)
    benchmark::DoNotOptimize(kelvara::BuildTd0Bytes(*disk, out, {.compress = false}));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 655360);
}
BENCHMARK(BM_Td0SavePlainFullDisk)->Unit(benchmark::kMillisecond);

void BM_Td0LoadPlainFullDisk(benchmark::State& state) {
  auto disk = std::make_unique<kelvara::TZX_Disk>();
  kelvara::ReadTrdBytes(*disk, TrdBytes());
  std::vector<uint8_t> file;
  kelvara::BuildTd0Bytes(*disk, file, {.compress = false});
  for (auto _ : state)
    benchmark::DoNotOptimize(kelvara::ReadTd0Bytes(*disk, file));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 655360);
}
BENCHMARK(BM_Td0LoadPlainFullDisk)->Unit(benchmark::kMillisecond);

}  // namespace
