// The writing run: for each present track of the range, seek, format it from
// its sector table, write the data of every listed sector. The layout comes
// from the sector tables alone; raw track bytes are never used, nothing is
// read back, and the image is not changed.
//
// A backend that writes whole tracks (a flux device) makes the format and
// the sector writes of a track one pass, laid out by raw track synthesis,
// read back and written again while sectors do not come back; its lines go
// to the LOG and to the track's log.
//
// A failure that reaches beyond its call (RunFailures) ends the track or the
// whole run: a write-protected disk stops the run at its first refusal, with
// one LOG line naming the cause.
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
  OperationResult result{};  // calls counted so far
  RunFailures failures{};
  bool trackEnded = false;  // a failure ended the track being written
  std::string stopWhy{};    // a failure ended the run: its line
};

// A failed call's line, with its cause, logged and judged by the run's rule.
void LogFailure(WriteRun& run, const std::string& line) {
  const std::string full = WithCause(line, run.drive);
  run.host.AddLog(full, true);
  switch (run.failures.After(run.drive)) {
    case RunFailures::Verdict::GoOn:
      break;
    case RunFailures::Verdict::EndRun:
      run.stopWhy = full;
      [[fallthrough]];
    case RunFailures::Verdict::EndTrack:
      run.trackEnded = true;
  }
}

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
  const Attempts a =
      Retried(run.drive, run.retryCount, run.host, made, [&] { return run.drive.Format(p); });
  if (a == Attempts::Failed) {
    const uint32_t err = made ? run.drive.LastError() : 0;
    const std::string line = "Ошибка форматирования - " + std::to_string(err) + TrackText(n);
    if (made) {
      LogFailure(run, line);
    } else {
      run.host.AddLog(line, true);
    }
    ++run.result.failedCalls;
    ++run.result.tracksFailed;
  } else if (a == Attempts::Succeeded) {
    ++run.result.succeededCalls;
    ++run.result.tracksDone;
  }
  return a;
}

// A sector's write counted; one that failed with `err` is logged unless
// `quiet` (the failure that ended its track is logged already).
void CountSectorWrite(WriteRun& run, int n, const TSectorRec& s, bool written, uint32_t err,
                      bool quiet = false) {
  if (written) {
    ++run.result.succeededCalls;
    ++run.result.sectorsDone;
    return;
  }
  if (!quiet)
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
    // The track ended by a failure: its other sectors are not tried.
    if (run.trackEnded) {
      CountSectorWrite(run, n, s, false, 0, true);
      continue;
    }
    const FD_READ_WRITE_PARAMS p = SectorParams(n, s.Cyl, s.Head, s.Sec, s.SizeCode, kWriteGap);
    std::copy_n(s.Data().begin(), s.DataLength(), io.begin());
    int made = 0;
    const Attempts a = Retried(run.drive, run.retryCount, run.host, made,
                               [&] { return run.drive.Write(p, s.DataLength()); });
    if (a == Attempts::Cancelled) return a;
    if (a == Attempts::Failed && made) {
      LogFailure(run, "Ошибка записи сектора  - " + std::to_string(run.drive.LastError()) +
                          TrackSectorText(n, s.Sec));
      CountSectorWrite(run, n, s, false, 0, true);
      continue;
    }
    CountSectorWrite(run, n, s, a != Attempts::Failed, 0);
  }
  run.host.ProcessEvents();
  return Attempts::Succeeded;
}

void FailTrackSectors(WriteRun& run, int n, uint32_t err, const std::vector<uint8_t>& slots,
                      bool all, bool quiet) {
  const TTrack& track = run.disk.GetTrack(static_cast<uint8_t>(n));
  for (uint8_t slot = 0; slot < kSlotCount; ++slot) {
    const TSectorRec& s = track.Sectors[slot];
    if (!s.Present) continue;
    CountSectorWrite(run, n, s, !all && std::find(slots.begin(), slots.end(), slot) == slots.end(),
                     err, quiet);
  }
}

Attempts WriteWholeTrack(WriteRun& run, int n, int mode, int passes) {
  const bool formats = mode & kModeFormat;
  const bool writes = mode & kModeWrite;
  TrackWriteOutcome o;
  const bool ok = run.drive.WriteTrack(run.disk, n, !writes, kFormatFill, passes, o);
  TTrack& track = run.disk.GetTrack(static_cast<uint8_t>(n));
  for (const std::string& line : o.log) {
    run.host.AddLog(line + TrackText(n), false);
    track.Log.push_back(line);
  }
  const uint32_t err = ok ? o.error : run.drive.LastError();
  // A failure beyond the call is one line for the whole track.
  const bool beyond = !ok && run.drive.LastFailureReach() != FailureReach::Call;
  if (beyond)
    LogFailure(run, (formats ? "Ошибка форматирования - " : "Ошибка записи дорожки - ") +
                        std::to_string(err) + TrackText(n));
  const bool formatFailed = !ok || (!writes && !o.unverifiedSlots.empty());
  if (formats) {
    if (formatFailed) {
      if (!beyond)
        run.host.AddLog("Ошибка форматирования - " + std::to_string(err) + TrackText(n), true);
      ++run.result.failedCalls;
      ++run.result.tracksFailed;
    } else {
      ++run.result.succeededCalls;
      ++run.result.tracksDone;
    }
  }
  if (writes) FailTrackSectors(run, n, err, o.unverifiedSlots, !ok, beyond);
  run.host.ProcessEvents();
  return run.host.CancelRequested() ? Attempts::Cancelled : Attempts::Succeeded;
}

}  // namespace

OperationResult RunWriteOperation(DriveChannel& drive, TZX_Disk& disk, const DriveRunPlan& plan,
                                  int retryCount, OperationHost& host) {
  WriteRun run{.drive = drive, .disk = disk, .retryCount = retryCount, .host = host};
  host.SetTrackLabel("0");
  host.ClearLog();
  OperationResult stopped;
  if (!StartRun(drive, host, stopped)) return stopped;
  host.AddLog(kStartLine, true);
  for (int n = plan.firstTrack; n <= plan.lastTrack && n < kTrackCount; ++n) {
    // A track absent from the image is skipped: no seek, no format, no write.
    if (disk.GetTrack(static_cast<uint8_t>(n)).Present) {
      if (!drive.Seek(static_cast<uint8_t>(n / 2), static_cast<uint8_t>(n % 2))) {
        host.AddLog(WithCause(SeekErrorText(drive.LastError()) + TrackText(n), drive), true);
        return StopRun(run.result, SeekErrorText(drive.LastError()) + FailureLine(drive), host);
      }
      host.SetTrackLabel(std::to_string(n));
      run.trackEnded = false;
      Attempts a = Attempts::Succeeded;
      if (drive.WritesWholeTracks()) {
        a = WriteWholeTrack(run, n, plan.mode, plan.writePasses);
      } else {
        if (plan.mode & kModeFormat) a = FormatTrack(run, n);
        if (a != Attempts::Cancelled && run.stopWhy.empty() && host.CancelRequested())
          a = Attempts::Cancelled;
        if (a != Attempts::Cancelled && run.stopWhy.empty() && (plan.mode & kModeWrite))
          a = WriteTrackSectors(run, n);
      }
      if (a == Attempts::Cancelled) return EndRun(run.result, OperationEnd::Cancelled, run.host);
      if (!run.stopWhy.empty()) return StopRun(run.result, run.stopWhy, host);
      run.failures.TrackOver();
      if (host.CancelRequested()) return EndRun(run.result, OperationEnd::Cancelled, run.host);
    }
    host.SetProgress(n + 1, plan.progressMax);
  }
  host.AddLog(kDoneLine, true);
  return EndRun(run.result, OperationEnd::Finished, run.host);
}

}  // namespace kelvara
