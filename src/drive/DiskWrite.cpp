// The writing run: for each present track of the range, seek, format it from
// its sector table, write the data of every listed sector. The layout comes
// from the sector tables alone; raw track bytes are never used, nothing is
// read back, and the image is not changed.
//
// A backend that writes whole tracks (a flux device) makes the format and
// the sector writes of a track one pass, laid out by raw track synthesis,
// read back and written again while sectors do not come back; its lines go
// to the LOG and to the track's log.
#include <algorithm>

#include "drive/DriveOperations.h"

namespace kelvara {

namespace {

constexpr uint8_t kWriteGap = 0x14;
constexpr uint8_t kFormatGap = 0x14;
constexpr uint8_t kFormatFill = 0x00;

struct WriteRun {
  DriveChannel& drive;
  TZX_Disk& disk;
  int retryCount;
  OperationHost& host;
  OperationResult result;  // calls counted so far
};

// The ID fields are those of the present slots in table order, each with its
// own C, H, R and N; the controller's command takes the size code of the
// first one for every sector.
FD_FORMAT_PARAMS FormatParams(const TTrack& track, int n) {
  FD_FORMAT_PARAMS p{};
  p.flags = FD_OPTION_MFM;
  p.phead = static_cast<uint8_t>(n % 2);
  p.gap = kFormatGap;
  p.fillbyte = kFormatFill;
  for (const TSectorRec& s : track.Sectors) {
    if (!s.Present) continue;
    if (p.sectors == 0) p.size = s.SizeCode;
    p.Header[p.sectors++] = {s.Cyl, s.Head, s.Sec, s.SizeCode};
  }
  return p;
}

Attempts FormatTrack(WriteRun& run, int n) {
  const FD_FORMAT_PARAMS p = FormatParams(run.disk.GetTrack(static_cast<uint8_t>(n)), n);
  int made = 0;
  const Attempts a = Retried(run.retryCount, run.host, made, [&] { return run.drive.Format(p); });
  if (a == Attempts::Failed) {
    const uint32_t err = made ? run.drive.LastError() : 0;
    run.host.AddLog("Ошибка форматирования - " + std::to_string(err) + TrackText(n), true);
    ++run.result.failedCalls;
    ++run.result.tracksFailed;
  } else if (a == Attempts::Succeeded) {
    ++run.result.succeededCalls;
    ++run.result.tracksDone;
  }
  return a;
}

// A sector's write counted, and logged when it failed with `err`.
void CountSectorWrite(WriteRun& run, int n, const TSectorRec& s, bool written, uint32_t err) {
  if (written) {
    ++run.result.succeededCalls;
    ++run.result.sectorsDone;
    return;
  }
  run.host.AddLog("Ошибка записи сектора  - " + std::to_string(err) + TrackSectorText(n, s.Sec),
                  true);
  ++run.result.failedCalls;
  ++run.result.sectorsFailed;
}

// Every present slot is written, whatever its DataOk, with the data length
// it holds. A slot with no data goes to the driver with an empty buffer,
// which the drive layer refuses: it is logged as a failed write.
Attempts WriteTrackSectors(WriteRun& run, int n) {
  const TTrack& track = run.disk.GetTrack(static_cast<uint8_t>(n));
  const std::span<uint8_t> io = run.drive.Buffer();
  for (const TSectorRec& s : track.Sectors) {
    if (!s.Present) continue;
    const FD_READ_WRITE_PARAMS p = SectorParams(n, s.Cyl, s.Head, s.Sec, s.SizeCode, kWriteGap);
    std::copy_n(s.Data().begin(), s.DataLength(), io.begin());
    int made = 0;
    const Attempts a =
        Retried(run.retryCount, run.host, made, [&] { return run.drive.Write(p, s.DataLength()); });
    if (a == Attempts::Cancelled) return a;
    CountSectorWrite(run, n, s, a != Attempts::Failed, made ? run.drive.LastError() : 0);
  }
  run.host.ProcessEvents();
  return Attempts::Succeeded;
}

void FailTrackSectors(WriteRun& run, int n, uint32_t err, const std::vector<uint8_t>& slots,
                      bool all) {
  const TTrack& track = run.disk.GetTrack(static_cast<uint8_t>(n));
  for (uint8_t slot = 0; slot < kSlotCount; ++slot) {
    const TSectorRec& s = track.Sectors[slot];
    if (!s.Present) continue;
    CountSectorWrite(run, n, s, !all && std::find(slots.begin(), slots.end(), slot) == slots.end(),
                     err);
  }
}

Attempts WriteWholeTrack(WriteRun& run, int n, int mode) {
  const bool formats = mode & kModeFormat;
  const bool writes = mode & kModeWrite;
  TrackWriteOutcome o;
  const bool ok = run.drive.WriteTrack(run.disk, n, !writes, kFormatFill, 1 + run.retryCount, o);
  TTrack& track = run.disk.GetTrack(static_cast<uint8_t>(n));
  for (const std::string& line : o.log) {
    run.host.AddLog(line + TrackText(n), false);
    track.Log.push_back(line);
  }
  const uint32_t err = ok ? o.error : run.drive.LastError();
  const bool formatFailed = !ok || (!writes && !o.unverifiedSlots.empty());
  if (formats) {
    if (formatFailed) {
      run.host.AddLog("Ошибка форматирования - " + std::to_string(err) + TrackText(n), true);
      ++run.result.failedCalls;
      ++run.result.tracksFailed;
    } else {
      ++run.result.succeededCalls;
      ++run.result.tracksDone;
    }
  }
  if (writes) FailTrackSectors(run, n, err, o.unverifiedSlots, !ok);
  run.host.ProcessEvents();
  return run.host.CancelRequested() ? Attempts::Cancelled : Attempts::Succeeded;
}

}  // namespace

OperationResult RunWriteOperation(DriveChannel& drive, TZX_Disk& disk, const DriveRunPlan& plan,
                                  int retryCount, OperationHost& host) {
  WriteRun run{drive, disk, retryCount, host, {}};
  host.SetTrackLabel("0");
  host.ClearLog();
  if (!RestartController(drive, host)) return {};
  host.AddLog(kStartLine, true);
  for (int n = plan.firstTrack; n <= plan.lastTrack && n < kTrackCount; ++n) {
    // A track absent from the image is skipped: no seek, no format, no write.
    if (disk.GetTrack(static_cast<uint8_t>(n)).Present) {
      if (!drive.Seek(static_cast<uint8_t>(n / 2), static_cast<uint8_t>(n % 2))) {
        host.ShowMessage(kErrorCaption, SeekErrorText(drive.LastError()));
        return EndRun(run.result, OperationEnd::Stopped, run.host);
      }
      host.SetTrackLabel(std::to_string(n));
      if (drive.WritesWholeTracks()) {
        if (WriteWholeTrack(run, n, plan.mode) == Attempts::Cancelled)
          return EndRun(run.result, OperationEnd::Cancelled, run.host);
        host.SetProgress(n + 1, plan.progressMax);
        continue;
      }
      if ((plan.mode & kModeFormat) && FormatTrack(run, n) == Attempts::Cancelled)
        return EndRun(run.result, OperationEnd::Cancelled, run.host);
      if (host.CancelRequested()) return EndRun(run.result, OperationEnd::Cancelled, run.host);
      if ((plan.mode & kModeWrite) && WriteTrackSectors(run, n) == Attempts::Cancelled)
        return EndRun(run.result, OperationEnd::Cancelled, run.host);
      if (host.CancelRequested()) return EndRun(run.result, OperationEnd::Cancelled, run.host);
    }
    host.SetProgress(n + 1, plan.progressMax);
  }
  host.AddLog(kDoneLine, true);
  return EndRun(run.result, OperationEnd::Finished, run.host);
}

}  // namespace kelvara
