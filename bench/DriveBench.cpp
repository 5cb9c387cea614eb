// A full scan-and-read ("Сканирование и чтение диска") of a standard
// 160-track TR-DOS disk in the virtual drive. Besides the host time, it
// reports the simulated time the run would take on a real drive at 300 rpm
// and the revolutions per track. The physical floor is one revolution per
// track for the scan and one for the data: 2 per track, 64 s for the disk.
#include <benchmark/benchmark.h>

#include <memory>

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

// Tracks 0..159 of a TR-DOS disk: C = t / 2, H = 0, R = 1..16, N = 1.
void FillTrdosDisk(TZX_Disk& disk) {
  std::vector<uint8_t> data(256);
  for (int t = 0; t < 160; ++t) {
    TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    track.Present = 0xFF;
    for (int r = 1; r <= 16; ++r) {
      for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(t * 31 + r * 7 + i);
      TSectorRec& s = track.Sectors[r - 1];
      s.Present = 0xFF;
      s.Cyl = static_cast<uint8_t>(t / 2);
      s.Sec = static_cast<uint8_t>(r);
      s.SizeCode = 1;
      s.DataOk = 0xFF;
      s.SetData(data);
    }
    track.CountSectors();
  }
  disk.CountTracks();
}

// The scan and read of a full disk in the per-sector mode (state.range(0) =
// 0) and the fast read (1); target for the fast read: at most 70 simulated
// seconds.
void BM_VirtualScanAndReadFullDisk(benchmark::State& state) {
  double seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto driver = std::make_unique<VirtualFloppy>();
    VirtualFloppy& drive = *driver;
    FillTrdosDisk(drive.InsertDisk());
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
