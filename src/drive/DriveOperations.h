// The drive operations of the "Диск" and "Контроллер" menus, free of any
// window: the checks before a run, the reading run (scan, read by labels,
// both), the writing run (format, write, both), the controller reset and the
// TR-DOS catalog read straight from the drive. They talk to the drive
// through a DriveChannel, to the user through an OperationHost, and change
// the image in place (the writing run and the catalog read never change it).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "drive/DriveChannel.h"
#include "model/SettingsRecord.h"
#include "model/ZXDisk.h"

namespace kelvara {

// OperationMode bits; the commands use 2, 4, 6, 8, 16 and 24.
inline constexpr int kModeScan = 2;
inline constexpr int kModeRead = 4;
inline constexpr int kModeFormat = 8;
inline constexpr int kModeWrite = 16;

struct DriveCommand {
  int mode;
  const char* menuItem;
  const char* caption;  // the progress window's caption
  bool needsTracks;     // does nothing at all on an image without tracks
  bool endLowered;      // the last track is lowered to the image's track count
  bool asksFirst;       // overwrites the disk in the drive: the user is asked first
};

// The question before a run that overwrites the disk in the drive.
inline constexpr const char* kOverwriteCaption = "Внимание!";
inline constexpr const char* kOverwriteQuestion =
    "Диск в дисководе будет перезаписан, его прежнее содержимое пропадёт. Продолжить?";

// The complaint about a first track above the last, before a run and when
// the settings dialog is accepted.
inline constexpr const char* kFirstAfterLastText = "Начальная дорожка больше конечной...";

// The row of a mode in the command table; nullptr for any other mode.
const DriveCommand* FindDriveCommand(int mode);

// What the checks before a run decided.
struct DriveRunPlan {
  bool start = false;                 // show the progress window and run
  std::vector<std::string> messages;  // "Ошибка!" boxes of the main window, in order
  std::string caption;
  int mode = 0;
  int firstTrack = 0;  // FirstTrackOfRun
  int lastTrack = 0;   // LastTrackOfRun, inclusive
  int progressMax = 0;
  bool asksFirst = false;  // ask kOverwriteQuestion before the progress window
  // Scan and read: each track in two revolutions, a timed scan and then
  // READ DATA calls from the sector under the head; a track whose fast read
  // fails is read sector by sector.
  bool fastRead = false;
  // A backend that writes whole tracks (a flux device): passes of a track
  // whose read-back finds sectors missing, counted apart from the retries of
  // a sector (setting FluxWritePasses).
  int writePasses = 3;
};

// Double stepping puts the disk's cylinder n under the drive's 2n: a disk of
// at most this many tracks (42 cylinders) reaches the drive's last cylinder,
// 83, and no further.
inline constexpr int kDoubleStepTracks = 84;
inline constexpr const char* kDoubleStepWriteText =
    "Двойной шаг (настройка DoubleStep) умещает на диск не больше 42 цилиндров (дорожки "
    "0-83), а запись доходит до дорожки %d.\rВыключите двойной шаг или уменьшите конечную "
    "дорожку.";
inline constexpr const char* kDoubleStepReadText =
    "Двойной шаг (настройка DoubleStep): диск не больше 42 цилиндров,\r   будут прочитаны "
    "дорожки до 83!   ";

// The progress of a run counted in the tracks of its range, from the
// position a run reports (the track after the last one done).
struct RunProgress {
  int done = 0;
  int total = 0;
};
RunProgress ProgressOfRun(const DriveRunPlan& plan, int position);

// The checks a menu command makes before its run (StartDriveOperation).
DriveRunPlan StartDriveOperation(int mode, TZX_Disk& disk, const TSettings& settings);

enum class OperationEnd { Finished, Cancelled, Stopped };

struct OperationResult {
  OperationEnd end = OperationEnd::Stopped;
  int badSectors = 0;  // BadSectorCount of a reading run
  // Data calls (scans, sector reads, formats, sector writes) that worked and
  // that failed after all their attempts.
  int succeededCalls = 0;
  int failedCalls = 0;
  // The same by what they do: sectors read or written (a fast read counts
  // each sector it stores), and tracks scanned or formatted.
  int sectorsDone = 0;
  int sectorsFailed = 0;
  int tracksDone = 0;
  int tracksFailed = 0;
  // Why a stopped run stopped: the line logged and shown for it.
  std::string stopReason;
  // Something of the image was filled in: IDs scanned, sectors read or
  // marked bad.
  bool Stored() const { return tracksDone + sectorsDone + sectorsFailed > 0; }
};

// What follows a drive run's window. A run of a reading mode that stored
// something changed the image; one that only formats or writes the disk
// left it as it was, and a writing run saves the virtual drive's disk back.
// A run whose window was closed before its start did none of it.
struct DriveRunAftermath {
  bool imageChanged = false;
  bool keepWrittenDisk = false;
};
DriveRunAftermath AfterDriveRun(int mode, bool ran, bool writesDisk, const OperationResult& result);

// The result of a run so far, ended as `end`; a cancelled run first logs
// kCancelledLine, selected.
OperationResult EndRun(OperationResult result, OperationEnd end, OperationHost& host);
// A run stopped by a failure already in the LOG: kStoppedLine ends the LOG
// and `why` is shown in an "Ошибка!" box.
OperationResult StopRun(OperationResult result, const std::string& why, OperationHost& host);
// The restart every run begins with (RestartController), its failure put in
// the LOG as well as shown; false when the run cannot start.
bool StartRun(DriveChannel& drive, OperationHost& host, OperationResult& stopped);

// How a run went for the command that ran it. The work of a run that reads
// or writes sectors is its sectors; that of a scan or a format alone, its
// tracks.
enum class RunOutcome {
  Done,     // finished, and every scan, format, read and write worked
  Partly,   // finished with some of them failed: bad, missing or unwritten sectors
  Nothing,  // did not finish (cancelled, stopped), or none of its work was done
};
RunOutcome OutcomeOf(const OperationResult& result, int mode);

// Modes 2, 4 and 6 over the plan's tracks.
OperationResult RunReadOperation(DriveChannel& drive, TZX_Disk& disk, const DriveRunPlan& plan,
                                 int retryCount, OperationHost& host);
// Modes 8, 16 and 24 over the plan's tracks.
OperationResult RunWriteOperation(DriveChannel& drive, TZX_Disk& disk, const DriveRunPlan& plan,
                                  int retryCount, OperationHost& host);

// "Сбросить FDD контроллер": reset and seek to cylinder 0 (RestartController).
// Failures are shown in an "Ошибка!" box; nothing is shown on success.
bool ResetControllerToZero(DriveChannel& drive, OperationHost& host);

// The catalog read: sectors 1 to 16 of track 0 in one call into a buffer of
// its own; the first 2560 bytes (sectors 1 to 10) go to the TR-DOS parse.
inline constexpr size_t kCatalogReadSize = 4096;
inline constexpr size_t kCatalogBlockSize = 2560;

// Parses the 2560-byte block; false when it is not a TR-DOS catalog.
using CatalogParse = std::function<bool(std::span<const uint8_t> block)>;

struct DriveCatalogRead {
  bool ok = false;  // read and taken as a TR-DOS catalog
  std::array<uint8_t, kCatalogReadSize> buffer{};

  std::span<const uint8_t> CatalogBlock() const { return {buffer.data(), kCatalogBlockSize}; }
};

// "Считать ZX каталог": never touches the image; every failure is one
// "Ошибка!" box.
DriveCatalogRead ReadDriveCatalog(DriveChannel& drive, OperationHost& host,
                                  const CatalogParse& parse);

}  // namespace kelvara
