// The CP/M catalog and the viewers on whole disks.
// Targets: the directory of a full CP/M disk read under 0.5 ms; its largest
// file (the whole data area) collected under 5 ms; a hexadecimal dump of a
// full disk's bytes under 100 ms; a ZX screen as RGB pixels under 0.5 ms.
#include <benchmark/benchmark.h>

#include <memory>
#include <numeric>
#include <vector>

#include "filesystems/CpmCatalog.h"
#include "session/Viewers.h"

namespace {

using namespace kelvara;

// Every byte value in turn: the dump's characters and the screen's
// attributes all occur.
std::vector<uint8_t> Bytes(size_t n) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), uint8_t{0});
  return v;
}

// A CP/M disk whose directory holds one file over every block but the
// directory's, in 50 extents.
std::unique_ptr<TZX_Disk> FullCpmDisk() {
  auto disk = std::make_unique<TZX_Disk>();
  CreateCpmDisk(*disk);
  std::vector<uint8_t> dir(kCpmDirBytes, kCpmUnused);
  for (int e = 0; e < 50; ++e) {
    uint8_t* p = &dir[e * kCpmEntrySize];
    p[0] = 0;
    std::fill_n(p + 1, 11, 'A');
    p[12] = static_cast<uint8_t>(e);  // extent: bytes 12 and 14
    p[13] = p[14] = 0;
    p[15] = 128;
    for (int i = 0; i < 8; ++i) {
      const int block = 2 + e * 8 + i;
      p[16 + 2 * i] = static_cast<uint8_t>(block < kCpmBlockCount ? block : 0);
      p[17 + 2 * i] = static_cast<uint8_t>(block < kCpmBlockCount ? block >> 8 : 0);
    }
  }
  for (int s = 0; s < 4; ++s)
    disk->GetTrack(0).Sectors[s].SetData({dir.data() + s * kCpmSectorSize, kCpmSectorSize});
  return disk;
}

void BM_CpmCatalogFullDisk(benchmark::State& state) {
  const auto disk = FullCpmDisk();
  for (auto _ : state)
    benchmark::DoNotOptimize(ReadCpmCatalog(*disk, {true, true}));
}
BENCHMARK(BM_CpmCatalogFullDisk)->Unit(benchmark::kMicrosecond);

void BM_CpmCollectWholeDisk(benchmark::State& state) {
  const auto disk = FullCpmDisk();
  const CpmKey key = ReadCpmCatalog(*disk, {}).rows.at(0).key;
  std::vector<uint8_t> out;
  for (auto _ : state)
    benchmark::DoNotOptimize(CollectCpmFile(*disk, key, 0, out));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_CpmCollectWholeDisk)->Unit(benchmark::kMillisecond);

void BM_HexDumpFullDisk(benchmark::State& state) {
  const auto bytes = Bytes(kCpmDiskBytes);
  for (auto _ : state)
    benchmark::DoNotOptimize(HexDumpLines(bytes));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kCpmDiskBytes);
}
BENCHMARK(BM_HexDumpFullDisk)->Unit(benchmark::kMillisecond);

void BM_ZxScreenToRgb(benchmark::State& state) {
  const auto screen = Bytes(kZxScreenBytes);
  for (auto _ : state)
    benchmark::DoNotOptimize(ZxScreenToRgb(screen));
}
BENCHMARK(BM_ZxScreenToRgb)->Unit(benchmark::kMicrosecond);

}  // namespace
