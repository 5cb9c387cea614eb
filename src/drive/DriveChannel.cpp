#include "drive/DriveChannel.h"

namespace kelvara {

std::string ResetErrorText(uint32_t err) {
  return "Ошибка сброса контроллера - (" + std::to_string(err) + ")!";
}

std::string SeekErrorText(uint32_t err) {
  return "Ошибка позиционирования - (" + std::to_string(err) + ")!";
}

std::string TrackText(int track) {
  return " (Track - " + std::to_string(track) + ")";
}

std::string TrackSectorText(int track, int sector) {
  return " (Track - " + std::to_string(track) + " / Sector - " + std::to_string(sector) + ")";
}

bool DriveChannel::Reset() {
  uint32_t returned = 0;
  return driver_.Control(drive_, IOCTL_FD_RESET, {}, {}, returned);
}

bool DriveChannel::Seek(uint8_t cyl, uint8_t head) {
  const FD_SEEK_PARAMS p{cyl, head};
  uint32_t returned = 0;
  return driver_.Control(drive_, IOCTL_FDCMD_SEEK, RecordBytes(p), {}, returned);
}

bool DriveChannel::Scan(uint8_t head, uint32_t& bytesReturned) {
  const FD_SCAN_PARAMS p{FD_OPTION_MFM, head};
  return driver_.Control(drive_, IOCTL_FD_SCAN_TRACK, RecordBytes(p), io_.first(kScanBufferSize),
                         bytesReturned);
}

bool DriveChannel::TimedScan(uint8_t head, uint32_t& bytesReturned) {
  const FD_SCAN_PARAMS p{FD_OPTION_MFM, head};
  return driver_.Control(drive_, IOCTL_FD_TIMED_SCAN_TRACK, RecordBytes(p),
                         io_.first(kScanBufferSize), bytesReturned);
}

bool DriveChannel::Read(const FD_READ_WRITE_PARAMS& p, std::span<uint8_t> into,
                        uint32_t& bytesReturned) {
  return driver_.Control(drive_, IOCTL_FDCMD_READ_DATA, RecordBytes(p), into, bytesReturned);
}

bool DriveChannel::Write(const FD_READ_WRITE_PARAMS& p, size_t length) {
  uint32_t returned = 0;
  return driver_.Control(drive_, IOCTL_FDCMD_WRITE_DATA, RecordBytes(p), io_.first(length),
                         returned);
}

bool DriveChannel::Format(const FD_FORMAT_PARAMS& p) {
  uint32_t returned = 0;
  return driver_.Control(drive_, IOCTL_FDCMD_FORMAT_TRACK,
                         RecordBytes(p, FormatParamsSize(p.sectors)), {}, returned);
}

FD_READ_WRITE_PARAMS SectorParams(int track, uint8_t cyl, uint8_t head, uint8_t sec,
                                  uint8_t sizeCode, uint8_t gap) {
  return {FD_OPTION_MFM, static_cast<uint8_t>(track % 2), cyl, head, sec,
          sizeCode,      static_cast<uint8_t>(sec + 1),   gap, 0xFF};
}

std::string FailureLine(const DriveChannel& drive) {
  return drive.FailureText().empty() ? "" : "\r" + drive.FailureText();
}

std::string WithCause(const std::string& line, const DriveChannel& drive) {
  return drive.FailureText().empty() ? line : line + ": " + drive.FailureText();
}

std::string RestartFailure(DriveChannel& drive) {
  if (!drive.Reset()) return ResetErrorText(drive.LastError()) + FailureLine(drive);
  if (!drive.Seek(0, 0)) return SeekErrorText(drive.LastError()) + FailureLine(drive);
  return {};
}

bool RestartController(DriveChannel& drive, OperationHost& host) {
  const std::string why = RestartFailure(drive);
  if (!why.empty()) host.ShowMessage(kErrorCaption, why);
  return why.empty();
}

RunFailures::Verdict RunFailures::After(const DriveChannel& drive) {
  switch (drive.LastFailureReach()) {
    case FailureReach::Call:
      return Verdict::GoOn;
    case FailureReach::Run:
      return Verdict::EndRun;
    case FailureReach::Track:
      break;
  }
  ended_ = true;
  return !trackWorked_ || previousEnded_ ? Verdict::EndRun : Verdict::EndTrack;
}

void RunFailures::TrackOver() {
  previousEnded_ = ended_;
  trackWorked_ |= !ended_;
  ended_ = false;
}

}  // namespace kelvara
