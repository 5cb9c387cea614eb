// One open drive as the operations use it: each call fills the driver's
// record the way every operation passes it, and the transfer buffer is the
// drive layer's one shared IoBuffer. Also what all operations share: the
// restart of the controller, the retried data calls and the common texts.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "drive/FloppyDriver.h"
#include "drive/OperationHost.h"

namespace kelvara {

inline constexpr const char* kErrorCaption = "Ошибка!";
inline constexpr const char* kStartLine = "Начало операции!";
inline constexpr const char* kDoneLine = "Операция выполнена!";
inline constexpr const char* kCancelledLine = "Операция отменена пользователем!";
inline constexpr const char* kStoppedLine = "Операция остановлена!";

std::string ResetErrorText(uint32_t err);  // "Ошибка сброса контроллера - (err)!"
std::string SeekErrorText(uint32_t err);  // "Ошибка позиционирования - (err)!"
std::string TrackText(int track);         // " (Track - N)"
std::string TrackSectorText(int track, int sector);  // " (Track - N / Sector - R)"

class DriveChannel {
 public:
  DriveChannel(FloppyDriver& driver, DeviceHandle drive, std::span<uint8_t> ioBuffer)
      : driver_(driver), drive_(drive), io_(ioBuffer) {}

  bool Reset();
  bool Seek(uint8_t cyl, uint8_t head);
  // The ID fields under the given head, into the transfer buffer.
  bool Scan(uint8_t head, uint32_t& bytesReturned);
  // The timed scan (FD_TIMED_SCAN_RESULT) into the transfer buffer.
  bool TimedScan(uint8_t head, uint32_t& bytesReturned);
  bool Read(const FD_READ_WRITE_PARAMS& p, std::span<uint8_t> into, uint32_t& bytesReturned);
  // Writes the first `length` bytes of the transfer buffer.
  bool Write(const FD_READ_WRITE_PARAMS& p, size_t length);
  bool Format(const FD_FORMAT_PARAMS& p);
  // A backend that writes whole tracks: see FloppyDriver::WriteTrack.
  bool WritesWholeTracks() const { return driver_.WritesWholeTracks(); }
  bool WriteTrack(const TZX_Disk& disk, int track, bool formatOnly, uint8_t fill, int attempts,
                  TrackWriteOutcome& outcome) {
    return driver_.WriteTrack(drive_, disk, track, formatOnly, fill, attempts, outcome);
  }

  uint32_t LastError() const { return driver_.LastError(); }
  bool LastCallUnsupported() const { return driver_.LastCallUnsupported(); }
  // The backend's words for the last failure; "" when the code says it all.
  const std::string& FailureText() const { return driver_.FailureText(); }
  FailureReach LastFailureReach() const { return driver_.LastFailureReach(); }
  // What a flux device decoded of the track it last scanned; nullptr for a
  // controller.
  const TrackCapture* ScanCapture() const { return driver_.LastScanCapture(); }
  std::span<uint8_t> Buffer() const { return io_; }

 private:
  FloppyDriver& driver_;
  DeviceHandle drive_;
  std::span<uint8_t> io_;
};

// The backend's words for the last failure on a line of their own after a
// message; "" when it has none.
std::string FailureLine(const DriveChannel& drive);
// A LOG line of a failed call with the backend's words for its cause after
// it: "Ошибка форматирования - 19 (Track - 0): the disk is write-protected".
std::string WithCause(const std::string& line, const DriveChannel& drive);

// The record of a one-sector read or write of a slot's sector under the
// physical head of track `track`.
FD_READ_WRITE_PARAMS SectorParams(int track, uint8_t cyl, uint8_t head, uint8_t sec,
                                  uint8_t sizeCode, uint8_t gap);

// Reset, then a seek to cylinder 0 head 0, as every operation begins: each
// backend finds track 0 by the drive's sensor after a reset (the kernel
// recalibrates, a Greaseweazle steps out until the sensor), and no seek goes
// past a cylinder the run does not ask for. A failure is shown in an
// "Ошибка!" box and ends the operation.
bool RestartController(DriveChannel& drive, OperationHost& host);
// The restart's failure as its message ("" when it worked), the backend's
// words on a line of their own.
std::string RestartFailure(DriveChannel& drive);

enum class Attempts { Succeeded, Failed, Cancelled };

// A data call attempted up to `count` times without moving the head; after
// each attempt pending events are processed and the cancel flag tested. A
// cancel ends the whole operation, whatever the attempt gave. A failure
// that reaches beyond its call is not retried: no attempt would go
// otherwise. `made` is the number of attempts made (0 when count is 0).
template <typename Call>
Attempts Retried(const DriveChannel& drive, int count, OperationHost& host, int& made,
                 Call&& call) {
  bool ok = false;
  made = 0;
  while (!ok && made < count) {
    ok = call();
    ++made;
    host.ProcessEvents();
    if (host.CancelRequested()) return Attempts::Cancelled;
    if (!ok && drive.LastFailureReach() != FailureReach::Call) break;
  }
  return ok ? Attempts::Succeeded : Attempts::Failed;
}

// The runs' rule for failures that reach beyond their call (FailureReach),
// kept over the tracks of one run. Every backend's failures end a run the
// same way: a write-protected disk at the first refusal, a drive that gives
// no index pulses on the run's first track, or on two tracks in a row.
class RunFailures {
 public:
  enum class Verdict { GoOn, EndTrack, EndRun };

  // What the failure of the drive's last call means for the run.
  Verdict After(const DriveChannel& drive);
  // The track being worked on is over, worked or ended by a failure.
  void TrackOver();

 private:
  bool trackWorked_ = false;  // some track of the run went to its end
  bool previousEnded_ = false;
  bool ended_ = false;  // the current track was ended by a failure
};

}  // namespace kelvara
