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

// The record of a one-sector read or write of a slot's sector under the
// physical head of track `track`.
FD_READ_WRITE_PARAMS SectorParams(int track, uint8_t cyl, uint8_t head, uint8_t sec,
                                  uint8_t sizeCode, uint8_t gap);

// Reset, then a seek to cylinder 80 head 0, as every operation begins. A
// failure is shown in an "Ошибка!" box and ends the operation.
bool RestartController(DriveChannel& drive, OperationHost& host);

enum class Attempts { Succeeded, Failed, Cancelled };

// A data call attempted up to `count` times without moving the head; after
// each attempt pending events are processed and the cancel flag tested. A
// cancel ends the whole operation, whatever the attempt gave. `made` is the
// number of attempts made (0 when count is 0).
template <typename Call>
Attempts Retried(int count, OperationHost& host, int& made, Call&& call) {
  bool ok = false;
  made = 0;
  while (!ok && made < count) {
    ok = call();
    ++made;
    host.ProcessEvents();
    if (host.CancelRequested()) return Attempts::Cancelled;
  }
  return ok ? Attempts::Succeeded : Attempts::Failed;
}

}  // namespace kelvara
