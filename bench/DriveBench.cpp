// A full scan-and-read ("Сканирование и чтение диска") of a standard
// 160-track TR-DOS disk in the virtual drive. Besides the host time, it
// reports the simulated time the run would take on a real drive at 300 rpm
// and the revolutions per track. The physical floor is one revolution per
// track for the scan and one for the data: 2 per track, 64 s for the disk.
#include <benchmark/benchmark.h>

#include <memory>

#include "PatternDisk.h"
#include "drive/DriveSession.h"
#include "drive/VirtualFloppy.h"

namespace {

using namespace kelvara;

class QuietHost final : public OperationHost {
 public:
  void ClearLog() override {}
  void AddLog(const std::string&, bool) override {}
  void SetTrackLabel(const std::string&) override {}
  void SetProgress(int, int) override {}
  void ProcessEvents() override {}
  bool CancelRequested() override { return false; }
  void ShowMessage(const std::string&, const std::string&) override {}
};

// The scan and read of a full disk in the per-sector mode (state.range(0) =
// 0) and the fast read (1); target for the fast read: at most 70 simulated
// seconds.
void BM_VirtualScanAndReadFullDisk(benchmark::State& state) {
  double seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto driver = std::make_unique<VirtualFloppy>();
    VirtualFloppy& drive = *driver;
    TZX_Disk& disk = drive.InsertDisk();
    bench::FillPatternDisk(disk);
    disk.CountTracks();
    DriveSession session(std::move(driver));
    TSettings settings;
    session.OpenAtStartup(settings);
    auto image = std::make_unique<TZX_Disk>();
    QuietHost host;
    state.ResumeTiming();
    DriveRunPlan plan = session.Plan(kModeScan | kModeRead, *image, settings);
    plan.fastRead = state.range(0) != 0;
    benchmark::DoNotOptimize(session.Run(plan, *image, settings, host));
    seconds = drive.SimulatedSeconds();
  }
  state.counters["simulated_s"] = seconds;
  state.counters["revs_per_track"] = seconds / kRevolutionSeconds / 160;
  state.counters["vs_floor"] = seconds / (160 * 2 * kRevolutionSeconds);
}
BENCHMARK(BM_VirtualScanAndReadFullDisk)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
