// The reading run: for each track of the range, seek, scan the ID fields into
// the track's slots, read the data of every listed sector. Failed scans and
// reads are logged and the run goes on; a failed reset or seek, a cancel, or
// a failure that leaves nothing to read (RunFailures) ends it at once and
// keeps what was stored so far.
#include <algorithm>
#include <cstring>

#include "drive/DriveOperations.h"
#include "drive/FastRead.h"
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
  OperationResult result{};  // bad sectors and calls counted so far
  // A fast read: the timed scan's place of the header under the head (-1
  // when this track has none) and the number of headers it stored.
  bool fast = false;
  int next = -1;
  size_t stored = 0;
  RunFailures failures{};
  bool trackEnded = false;  // a failure ended the track being read
  std::string stopWhy{};    // a failure ended the run: its line
};

// A failed call judged by the run's rule: false when it ends the run (its
// line kept as the reason), the track marked ended when it ends that.
bool GoesOn(ReadRun& run, const std::string& line) {
  switch (run.failures.After(run.drive)) {
    case RunFailures::Verdict::GoOn:
      return true;
    case RunFailures::Verdict::EndTrack:
      run.trackEnded = true;
      return true;
    case RunFailures::Verdict::EndRun:
      run.trackEnded = true;
      run.stopWhy = line;
      return false;
  }
  return true;
}

// The sectors of slots from `slot` on that a read cannot reach any more:
// counted as not read, left as they were.
void CountUnread(ReadRun& run, int n, int slot) {
  const TTrack& track = run.disk.GetTrack(static_cast<uint8_t>(n));
  for (int i = slot; i < kSlotCount; ++i) {
    if (!track.Sectors[i].Present) continue;
    ++run.result.badSectors;
    ++run.result.sectorsFailed;
  }
}

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
  run.stored = stored;
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

// The timed scan's headers put into the transfer buffer in the plain scan's
// form, so that they are stored and logged as a scan's are.
void TakeTimedScan(ReadRun& run, uint32_t& bytes) {
  const std::span<uint8_t> io = run.drive.Buffer();
  const size_t headers = bytes >= kTimedScanHead ? (bytes - kTimedScanHead) / 8 : 0;
  const std::vector<uint8_t> timed(io.begin(), io.begin() + kTimedScanHead + 8 * headers);
  io[0] = static_cast<uint8_t>(headers);
  for (size_t k = 0; k < headers; ++k)
    std::memcpy(io.data() + 1 + 4 * k, timed.data() + kTimedScanHead + 8 * k + 4, 4);
  bytes = static_cast<uint32_t>(1 + 4 * headers);
  run.next = timed[1] < headers ? timed[1] : 0;
}

// The scan call: the timed scan in a fast read, the plain one otherwise and
// from the first track on which the driver turns out to have no timed scan.
bool ScanCall(ReadRun& run, int n, uint32_t& bytes) {
  const auto head = static_cast<uint8_t>(n % 2);
  run.next = -1;
  run.stored = 0;
  if (run.fast) {
    if (run.drive.TimedScan(head, bytes)) {
      TakeTimedScan(run, bytes);
      return true;
    }
    if (!run.drive.LastCallUnsupported()) return false;
    run.fast = false;
  }
  return run.drive.Scan(head, bytes);
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
  if (!ScanCall(run, n, bytes)) {
    ++run.result.failedCalls;
    ++run.result.tracksFailed;
    const std::string line =
        "Ошибка сканирования - " + std::to_string(run.drive.LastError()) + TrackText(n);
    LogBoth(track, run.host, line, true);
    if (!run.drive.FailureText().empty()) LogBoth(track, run.host, run.drive.FailureText(), false);
    GoesOn(run, WithCause(line, run.drive));
  } else {
    ++run.result.succeededCalls;
    ++run.result.tracksDone;
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
    const Attempts a = Retried(run.drive, run.retryCount, run.host, made, [&] {
      return run.drive.Read(p, run.drive.Buffer().first(offered), returned);
    });
    if (a == Attempts::Cancelled) return a;
    if (a == Attempts::Failed) {
      // With no attempt made there is no driver error to show.
      const uint32_t err = made ? run.drive.LastError() : 0;
      const std::string line = WithCause(
          "Ошибка чтения сектора  - " + std::to_string(err) + TrackSectorText(n, s.Sec), run.drive);
      LogBoth(track, run.host, line, true);
      if (s.ErrorCount < 0xFF) ++s.ErrorCount;
      s.DataOk = 0;
      ++run.result.badSectors;
      ++run.result.failedCalls;
      ++run.result.sectorsFailed;
      if (made && (!GoesOn(run, line) || run.trackEnded)) {
        CountUnread(run, n, i + 1);
        run.disk.RefreshSectorCell(index, static_cast<uint8_t>(i));
        return Attempts::Failed;
      }
    } else {
      StoreSector(run, n, s, nominal, returned);
      ++run.result.succeededCalls;
      ++run.result.sectorsDone;
    }
    run.disk.RefreshSectorCell(index, static_cast<uint8_t>(i));
  }
  return Attempts::Succeeded;
}

// The data revolution of a fast read (FastRead.h): each call made once. What
// the calls give is kept aside and stored only when the whole track was
// read, so that a track left to the per-sector reads is read from the state
// its scan left, as those reads alone would have found it. Failed: the
// track is for the per-sector reads.
Attempts FastReadTrack(ReadRun& run, int n) {
  const auto index = static_cast<uint8_t>(n);
  TTrack& track = run.disk.GetTrack(index);
  std::vector<FD_ID_HEADER> ids;
  for (size_t i = 0; i < run.stored; ++i) {
    const TSectorRec& s = track.Sectors[i];
    ids.push_back({s.Cyl, s.Head, s.Sec, s.SizeCode});
  }
  // Slots the scan did not fill, and a retry count of 0 (no read at all),
  // are the per-sector reads' to deal with.
  const auto present = std::count_if(track.Sectors.begin(), track.Sectors.end(),
                                     [](const TSectorRec& s) { return s.Present != 0; });
  if (static_cast<size_t>(present) != ids.size() || run.retryCount == 0) return Attempts::Failed;
  const std::vector<SectorRun> runs = FastReadRuns(ids, static_cast<size_t>(run.next));
  if (runs.empty()) return Attempts::Failed;
  const std::span<uint8_t> io = run.drive.Buffer();
  std::vector<std::vector<uint8_t>> data(ids.size());
  for (const SectorRun& r : runs) {
    const FD_ID_HEADER& id = ids[r.first];
    FD_READ_WRITE_PARAMS p = SectorParams(n, id.cyl, id.head, id.sector, id.size, kReadGap);
    p.eot = static_cast<uint8_t>(id.sector + r.count);
    const size_t size = NominalBytes(id.size);
    uint32_t returned = 0;
    const bool ok = run.drive.Read(p, io.first(std::max(kReadOffered, size * r.count)), returned);
    run.host.ProcessEvents();
    if (run.host.CancelRequested()) return Attempts::Cancelled;
    if (!ok && run.drive.LastFailureReach() != FailureReach::Call) {
      // Nothing more of the track can be read: no per-sector reads either.
      const std::string line = WithCause(
          "Быстрое чтение не удалось - " + std::to_string(run.drive.LastError()) + TrackText(n),
          run.drive);
      LogBoth(track, run.host, line, true);
      GoesOn(run, line);
      return Attempts::Failed;
    }
    if (!ok || returned != size * r.count) {
      LogBoth(track, run.host,
              "Быстрое чтение не удалось - " + std::to_string(ok ? 0 : run.drive.LastError()) +
                  TrackText(n) + ", чтение по секторам",
              false);
      return Attempts::Failed;
    }
    ++run.result.succeededCalls;
    for (size_t k = 0; k < r.count; ++k) {
      const auto from = io.begin() + static_cast<std::ptrdiff_t>(k * size);
      data[(r.first + k) % ids.size()].assign(from, from + static_cast<std::ptrdiff_t>(size));
    }
  }
  for (size_t i = 0; i < ids.size(); ++i) {
    TSectorRec& s = track.Sectors[i];
    s.SetData(data[i]);
    s.DataOk = 0xFF;
    s.Present = 0xFF;
    run.disk.RefreshSectorCell(index, static_cast<uint8_t>(i));
  }
  run.result.sectorsDone += static_cast<int>(ids.size());
  return Attempts::Succeeded;
}

Attempts ReadTrack(ReadRun& run, int n) {
  if (run.next >= 0 && !run.trackEnded) {
    const Attempts a = FastReadTrack(run, n);
    if (a != Attempts::Failed) return a;
  }
  if (run.trackEnded) {
    CountUnread(run, n, 0);
    return Attempts::Failed;
  }
  return ReadTrackSectors(run, n);
}

}  // namespace

OperationResult RunReadOperation(DriveChannel& drive, TZX_Disk& disk, const DriveRunPlan& plan,
                                 int retryCount, OperationHost& host) {
  if (plan.lastTrack > kTrackCount - 1) {
    host.ShowMessage(kErrorCaption, "Число дорожек превышает 166 ...");
    return {};
  }
  ReadRun run{.drive = drive, .disk = disk, .retryCount = retryCount, .host = host};
  run.fast = plan.fastRead && (plan.mode & kModeScan) && (plan.mode & kModeRead);
  host.SetTrackLabel("0");
  host.ClearLog();
  OperationResult stopped;
  if (!StartRun(drive, host, stopped)) return stopped;
  host.AddLog(kStartLine, true);
  for (int n = plan.firstTrack; n <= plan.lastTrack; ++n) {
    if (!drive.Seek(static_cast<uint8_t>(n / 2), static_cast<uint8_t>(n % 2))) {
      host.AddLog(WithCause(SeekErrorText(drive.LastError()) + TrackText(n), drive), true);
      return StopRun(run.result, SeekErrorText(drive.LastError()) + FailureLine(drive), host);
    }
    host.SetTrackLabel(std::to_string(n));
    run.trackEnded = false;
    if (host.CancelRequested()) return EndRun(run.result, OperationEnd::Cancelled, run.host);
    if (plan.mode & kModeScan) ScanTrack(run, n);
    if (host.CancelRequested()) return EndRun(run.result, OperationEnd::Cancelled, run.host);
    if ((plan.mode & kModeRead) && run.stopWhy.empty() && ReadTrack(run, n) == Attempts::Cancelled)
      return EndRun(run.result, OperationEnd::Cancelled, run.host);
    if (!run.stopWhy.empty()) return StopRun(run.result, run.stopWhy, host);
    run.failures.TrackOver();
    if (host.CancelRequested()) return EndRun(run.result, OperationEnd::Cancelled, run.host);
    host.SetProgress(n + 1, plan.progressMax);
  }
  host.AddLog(kDoneLine, true);
  if (run.result.badSectors > 0)
    host.AddLog("Сбойных секторов - " + std::to_string(run.result.badSectors), true);
  return EndRun(run.result, OperationEnd::Finished, run.host);
}

}  // namespace kelvara
