// The Linux backend: the kernel floppy driver on /dev/fd0 (drive A) and
// /dev/fd1 (drive B), reached with FDRESET and FDRAWCMD. Each driver call
// becomes one 82077 command block (a scan becomes READ ID repeated over more
// than a revolution); the blocks are built by the functions below so that
// they can be checked byte by byte. The system calls go through
// FloppySystem, so that a simulated kernel and drive can stand in for them.
//
// The kernel's rules for raw commands that shape this code:
// - The head is positioned by the kernel only: a command flagged
//   FD_RAW_NEED_SEEK makes it recalibrate when a reset left the drive's
//   position unknown (twice if the head was beyond the 77-80 steps of one
//   recalibrate), then seek to raw.track. A SEEK sent as command bytes would
//   move the head behind the kernel's back and leave the controller's
//   cylinder register and the head apart after the next reset.
// - FD_RAW_NEED_DISK is never used: it makes the kernel step the head to
//   clear the disk-change line, and fail every command on drives whose line
//   does not work.
// - After a timeout (no index pulses: no disk) the kernel leaves the
//   controller marked for reset and fails every later command at once, so a
//   hard failure is followed by FDRESET with FD_RESET_IF_NEEDED and a seek.
// Error codes of the controller's status are the driver's codes of
// Fdraw.h, as the virtual drive gives them; a failed system call gives its
// errno.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "drive/FloppyDriver.h"

namespace kelvara {

inline constexpr uint32_t kLinuxDriverVersion = 0x01000200;

// The system calls of the backend. Open returns a descriptor or -errno,
// Ioctl 0 or -errno; Now is a monotonic clock.
class FloppySystem {
 public:
  virtual ~FloppySystem() = default;
  virtual int Open(const std::string& path, int flags) = 0;
  virtual void Close(int fd) = 0;
  virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
  virtual std::chrono::microseconds Now() = 0;
  virtual void Sleep(std::chrono::microseconds time) = 0;
};

// The real system calls.
std::unique_ptr<FloppySystem> KernelFloppySystem();

// One controller command: its bytes, the FDRAWCMD flags (FD_RAW_...), and
// the bytes moved by DMA in the data phase. The backend adds
// FD_RAW_NEED_SEEK and raw.track when the head must be placed first.
struct FdcCommand {
  std::array<uint8_t, 9> bytes{};
  uint8_t length = 0;
  unsigned rawFlags = 0;
  size_t dataLength = 0;

  std::span<const uint8_t> Bytes() const { return {bytes.data(), length}; }
};

// `unit` is the drive's number on its controller (0 for /dev/fd0). A seek
// has no command bytes: the kernel places the head (see above).
FdcCommand SeekCommand();
FdcCommand ReadIdCommand(uint8_t unit, const FD_SCAN_PARAMS& p);
FdcCommand ReadDataCommand(uint8_t unit, const FD_READ_WRITE_PARAMS& p);
FdcCommand WriteDataCommand(uint8_t unit, const FD_READ_WRITE_PARAMS& p);
// The data phase of FORMAT TRACK is the n headers of the record, C H R N each.
FdcCommand FormatCommand(uint8_t unit, const FD_FORMAT_PARAMS& p);

// The driver's error code for a controller's result bytes (ST0, ST1, ST2,
// ...); 0 when the command succeeded. `allMoved` says the data phase moved
// every byte: then an end with only "end of cylinder" (how a transfer ends
// without terminal count, under the kernel's pseudo-DMA) or with the
// deleted-data mark is a success.
uint32_t FdcResultError(std::span<const uint8_t> reply, bool allMoved);
// The controller type byte for the kernel's controller version code.
uint8_t ControllerTypeOfLinuxFdc(uint8_t fdcVersion);

// Where the backend looks; tests point these elsewhere.
struct LinuxFloppyPaths {
  std::string procDevices = "/proc/devices";  // lists block major 2 "fd" when the driver is in
  std::string drive0 = "/dev/fd0";
  std::string drive1 = "/dev/fd1";
};

class LinuxFloppy final : public FloppyDriver {
 public:
  explicit LinuxFloppy(LinuxFloppyPaths paths = {}, std::unique_ptr<FloppySystem> system = nullptr);
  ~LinuxFloppy() override;

  DeviceHandle Open(FloppyDevice device) override;
  void Close(DeviceHandle handle) override;

 protected:
  bool IsControlHandle(DeviceHandle handle) const override;
  bool IsDriveHandle(DeviceHandle handle) const override;
  bool GetVersion(uint32_t& version) override;
  bool SetDataRate(DeviceHandle drive, uint8_t code) override;
  bool GetFdcInfo(DeviceHandle drive, FD_FDC_INFO& info) override;
  bool ResetController(DeviceHandle drive) override;
  bool Seek(DeviceHandle drive, const FD_SEEK_PARAMS& p) override;
  bool ScanTrack(DeviceHandle drive, const FD_SCAN_PARAMS& p, std::span<uint8_t> out,
                 uint32_t& bytesReturned) override;
  bool TimedScanTrack(DeviceHandle drive, const FD_SCAN_PARAMS& p, std::span<uint8_t> out,
                      uint32_t& bytesReturned) override;
  bool ReadData(DeviceHandle drive, const FD_READ_WRITE_PARAMS& p, std::span<uint8_t> out,
                uint32_t& bytesReturned) override;
  bool WriteData(DeviceHandle drive, const FD_READ_WRITE_PARAMS& p,
                 std::span<const uint8_t> data) override;
  bool FormatTrack(DeviceHandle drive, const FD_FORMAT_PARAMS& p) override;

 public:
  void SetDoubleStep(bool on) override { doubleStep_ = on; }
  void SetSettleTime(int ms) override { settle_ = std::chrono::milliseconds(ms); }

 private:
  using Reply = std::array<uint8_t, 16>;
  // Runs one command and returns its error code (0 on success); `reply`
  // holds the result bytes and `moved` the bytes of the data phase
  // actually transferred.
  uint32_t Run(DeviceHandle fd, const FdcCommand& cmd, void* data, Reply& reply, size_t& moved);
  bool Execute(DeviceHandle fd, const FdcCommand& cmd, void* data, Reply& reply, size_t& moved);
  // Both scans: READ ID over a revolution and more, the answer in the plain
  // or the timed scan's form.
  bool ScanIds(DeviceHandle fd, const FD_SCAN_PARAMS& p, std::span<uint8_t> out,
               uint32_t& bytesReturned, bool timed);

  LinuxFloppyPaths paths_;
  std::unique_ptr<FloppySystem> system_;
  bool controlOpen_ = false;
  DeviceHandle driveFd_ = kInvalidHandle;
  uint8_t unit_ = 0;
  uint8_t rate_ = FD_RATE_250K;
  int cylinder_ = 0;      // of the last seek
  bool needSeek_ = true;  // after a seek, a reset or a failure
  bool doubleStep_ = false;
  // The kernel gives raw commands no head-settle time after a seek: the
  // backend waits it after every seek that moved the head.
  std::chrono::microseconds settle_{15000};
  int headAt_ = -1;  // the drive's cylinder after the last seek; -1 unknown
};

// Why opening a drive node failed, in words a user can act on.
std::string DriveOpenReason(const std::string& path, int error);

}  // namespace kelvara
