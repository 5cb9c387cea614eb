// The reading run: for each track of the range, seek, scan the ID fields into
// the track's slots, read the data of every listed sector. Failed scans and
// reads are logged and the run goes on; a failed reset or seek, or a cancel,
// ends it at once and keeps what was stored so far.
#include <algorithm>
#include <cstring>

#include "drive/DriveOperations.h"
#include "model/RawTrack.h"

namespace kelvara {

namespace {

constexpr uint8_t kReadGap = 0x0E;
constexpr size_t kReadOffered = 4096;

struct ReadRun {
  DriveChannel& drive;
  TZX_Disk& disk;
  int retryCount;
  OperationHost& host;
  OperationResult result;  // bad sectors and calls counted so far
};

void LogBoth(TTrack& track, OperationHost& host, const std::string& line, bool select) {
  track.Log.push_back(line);
  host.AddLog(line, select);
}

// Sector bytes by size code. Codes above 7 are refused by the drive layer,
// so for them the length only sizes the buffer offered.
size_t NominalBytes(uint8_t sizeCode) {
  return size_t{128} << std::min<uint8_t>(sizeCode, kLargestSizeCode);
}

// Stores the ID fields of a scan. A track holds 20 slots: the headers after
// the 20th are left out and the track log and LOG say how many there were.
void StoreHeaders(ReadRun& run, int n, size_t headers) {
  const auto index = static_cast<uint8_t>(n);
  TTrack& track = run.disk.GetTrack(index);
  const std::span<const uint8_t> io = run.drive.Buffer();
  const size_t stored = std::min<size_t>(headers, kSlotCount);
  // Present before the label is drawn, so that a track new to the image
  // shows its label as soon as its first sector does.
  track.Present = 0xFF;
  run.disk.RefreshTrackCell(index);
  for (size_t k = 0; k < stored; ++k) {
    const uint8_t* id = io.data() + 1 + 4 * k;
    TSectorRec& s = track.Sectors[k];
    s.SetId(id[0], id[1], id[2], id[3]);
    run.disk.RefreshSectorCell(index, static_cast<uint8_t>(k));
  }
  track.CountSectors();
  if (headers > stored) {
    LogBoth(track, run.host,
            "Найдено меток секторов - " + std::to_string(headers) + ", в образ записаны первые " +
                std::to_string(kSlotCount) + TrackText(n),
            true);
  }
  track.Log.push_back("Дорожка просканирована. Найдено " + std::to_string(stored) + " секторов.");
}

// A flux device reads the whole track: its raw bytes are kept with the
// sectors, as a UDI file would bring them, when the track's layout holds
// every stored sector (synthesis over them must succeed, or the raw bytes
// would stop the track being saved).
void StoreCapture(ReadRun& run, int n, const TrackCapture& capture, size_t headers) {
  const auto index = static_cast<uint8_t>(n);
  TTrack& track = run.disk.GetTrack(index);
  LogBoth(track, run.host, capture.logLine, false);
  if (capture.raw.empty() || headers < 2) return;
  track.RawValid = 1;
  track.SetRaw(capture.raw);
  const size_t stored = std::min<size_t>(headers, kSlotCount);
  for (size_t k = 0; k < stored && k < capture.dataOffsets.size(); ++k)
    track.Sectors[k].DataOffset = capture.dataOffsets[k];
  std::vector<uint8_t> check(kRawTrackSize, 0x4E);
  RawTrackFault fault;
  if (!BuildRawTrack(run.disk, index, check.data(), nullptr, {}, fault)) {
    track.RawValid = 0;
    track.ClearRaw();
    for (size_t k = 0; k < stored; ++k)
      track.Sectors[k].DataOffset = 0;
    track.Log.push_back("Сырая дорожка не сохранена: в ней нет всех найденных секторов.");
  }
  run.disk.RefreshTrackCell(index);
}

void ScanTrack(ReadRun& run, int n) {
  TTrack& track = run.disk.GetTrack(static_cast<uint8_t>(n));
  track.Log.push_back("Начало сканирования дорожки.");
  run.host.AddLog("Начало сканирования дорожки - " + std::to_string(n), false);
  uint32_t bytes = 0;
  if (!run.drive.Scan(static_cast<uint8_t>(n % 2), bytes)) {
    ++run.result.failedCalls;
    LogBoth(track, run.host,
            "Ошибка сканирования - " + std::to_string(run.drive.LastError()) + TrackText(n), true);
    if (!run.drive.FailureText().empty()) LogBoth(track, run.host, run.drive.FailureText(), false);
  } else {
    ++run.result.succeededCalls;
    LogBoth(track, run.host, "Данные приняты - " + std::to_string(bytes) + " bytes", false);
    // Whole headers only: a count of bytes that ends inside a header does
    // not make the rest of that header valid.
    const size_t headers = bytes > 0 ? (bytes - 1) / 4 : 0;
    // A single ID field leaves the track as it was.
    if (headers >= 2) StoreHeaders(run, n, headers);
    if (const TrackCapture* capture = run.drive.ScanCapture())
      StoreCapture(run, n, *capture, headers);
  }
  run.host.ProcessEvents();
}

void StoreSector(ReadRun& run, int n, TSectorRec& s, size_t nominal, uint32_t returned) {
  TTrack& track = run.disk.GetTrack(static_cast<uint8_t>(n));
  const std::span<uint8_t> io = run.drive.Buffer();
  if (returned != nominal) {
    LogBoth(track, run.host,
            "Длинна сектора - " + std::to_string(nominal) +
                " byte не равна колличеству считанных байтов - " + std::to_string(returned),
            true);
    // What the driver did not deliver is kept as zeros, not as the bytes a
    // previous call left in the buffer.
    if (returned < nominal) std::fill(io.begin() + returned, io.begin() + nominal, 0);
  }
  // A slot holds 1100 bytes: of a longer sector (size code 4 and up) the
  // first 1100 are kept and the logs say so.
  const size_t kept = std::min<size_t>(nominal, kSectorDataSize);
  if (kept < nominal) {
    LogBoth(track, run.host,
            "Сектор " + std::to_string(s.Sec) + " длиной " + std::to_string(nominal) +
                " byte сохранён не полностью - " + std::to_string(kept) + " byte" +
                TrackSectorText(n, s.Sec),
            true);
  }
  s.SetData(io.first(kept));
  s.DataOk = 0xFF;
  s.Present = 0xFF;
}

// Reads every present slot of the track. The slots are walked over the whole
// table rather than the first CountSectors ones, so a table with a gap
// neither reads an empty slot nor misses the last sector.
Attempts ReadTrackSectors(ReadRun& run, int n) {
  const auto index = static_cast<uint8_t>(n);
  TTrack& track = run.disk.GetTrack(index);
  for (int i = 0; i < kSlotCount; ++i) {
    TSectorRec& s = track.Sectors[i];
    if (!s.Present) continue;
    const FD_READ_WRITE_PARAMS p = SectorParams(n, s.Cyl, s.Head, s.Sec, s.SizeCode, kReadGap);
    const size_t nominal = NominalBytes(s.SizeCode);
    const size_t offered = std::max(kReadOffered, nominal);
    uint32_t returned = 0;
    int made = 0;
    const Attempts a = Retried(run.retryCount, run.host, made, [&] {
      return run.drive.Read(p, run.drive.Buffer().first(offered), returned);
    });
    if (a == Attempts::Cancelled) return a;
    if (a == Attempts::Failed) {
      // With no attempt made there is no driver error to show.
      const uint32_t err = made ? run.drive.LastError() : 0;
      LogBoth(track, run.host,
              "Ошибка чтения сектора  - " + std::to_string(err) + TrackSectorText(n, s.Sec), true);
      if (s.ErrorCount < 0xFF) ++s.ErrorCount;
      s.DataOk = 0;
      ++run.result.badSectors;
      ++run.result.failedCalls;
    } else {
      StoreSector(run, n, s, nominal, returned);
      ++run.result.succeededCalls;
    }
    run.disk.RefreshSectorCell(index, static_cast<uint8_t>(i));
  }
  return Attempts::Succeeded;
}

OperationResult Ended(const ReadRun& run, OperationEnd end) {
  OperationResult r = run.result;
  r.end = end;
  return r;
}

OperationResult Cancelled(const ReadRun& run) {
  run.host.AddLog(kCancelledLine, true);
  return Ended(run, OperationEnd::Cancelled);
}

}  // namespace

OperationResult RunReadOperation(DriveChannel& drive, TZX_Disk& disk, const DriveRunPlan& plan,
                                 int retryCount, OperationHost& host) {
  if (plan.lastTrack > kTrackCount - 1) {
    host.ShowMessage(kErrorCaption, "Число дорожек превышает 166 ...");
    return {};
  }
  ReadRun run{drive, disk, retryCount, host, {}};
  host.SetTrackLabel("0");
  host.ClearLog();
  if (!RestartController(drive, host)) return {};
  host.AddLog(kStartLine, true);
  for (int n = plan.firstTrack; n <= plan.lastTrack; ++n) {
    if (!drive.Seek(static_cast<uint8_t>(n / 2), static_cast<uint8_t>(n % 2))) {
      host.ShowMessage(kErrorCaption, SeekErrorText(drive.LastError()) + FailureLine(drive));
      return Ended(run, OperationEnd::Stopped);
    }
    host.SetTrackLabel(std::to_string(n));
    if (host.CancelRequested()) return Cancelled(run);
    if (plan.mode & kModeScan) ScanTrack(run, n);
    if (host.CancelRequested()) return Cancelled(run);
    if ((plan.mode & kModeRead) && ReadTrackSectors(run, n) == Attempts::Cancelled)
      return Cancelled(run);
    if (host.CancelRequested()) return Cancelled(run);
    host.SetProgress(n + 1, plan.progressMax);
  }
  host.AddLog(kDoneLine, true);
  if (run.result.badSectors > 0)
    host.AddLog("Сбойных секторов - " + std::to_string(run.result.badSectors), true);
  return Ended(run, OperationEnd::Finished);
}

}  // namespace kelvara
