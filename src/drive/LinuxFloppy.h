// The Linux backend: the kernel floppy driver on /dev/fd0 (drive A) and
// /dev/fd1 (drive B), reached with FDRESET and FDRAWCMD. Each driver call
// becomes one 82077 command block (a scan becomes READ ID repeated over one
// revolution); the blocks are built by the functions below so that they can
// be checked byte by byte, and the ioctl calls stay thin. Error codes are
// errno values; a command the controller ends abnormally gives the errno of
// its status bits.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "drive/FloppyDriver.h"

namespace kelvara {

inline constexpr uint32_t kLinuxDriverVersion = 0x01000200;

// One controller command: its bytes, the FDRAWCMD flags (FD_RAW_...), and
// the bytes moved by DMA in the data phase.
struct FdcCommand {
  std::array<uint8_t, 9> bytes{};
  uint8_t length = 0;
  unsigned rawFlags = 0;
  size_t dataLength = 0;

  std::span<const uint8_t> Bytes() const { return {bytes.data(), length}; }
};

// `unit` is the drive's number on its controller (0 for /dev/fd0).
FdcCommand SeekCommand(uint8_t unit, const FD_SEEK_PARAMS& p);
FdcCommand ReadIdCommand(uint8_t unit, const FD_SCAN_PARAMS& p);
FdcCommand ReadDataCommand(uint8_t unit, const FD_READ_WRITE_PARAMS& p);
FdcCommand WriteDataCommand(uint8_t unit, const FD_READ_WRITE_PARAMS& p);
// The data phase of FORMAT TRACK is the n headers of the record, C H R N each.
FdcCommand FormatCommand(uint8_t unit, const FD_FORMAT_PARAMS& p);

// The errno for a controller's result bytes (ST0, ST1, ST2, ...); 0 when
// the command ended normally.
int FdcResultErrno(std::span<const uint8_t> reply);
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
  explicit LinuxFloppy(LinuxFloppyPaths paths = {});
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
  bool ReadData(DeviceHandle drive, const FD_READ_WRITE_PARAMS& p, std::span<uint8_t> out,
                uint32_t& bytesReturned) override;
  bool WriteData(DeviceHandle drive, const FD_READ_WRITE_PARAMS& p,
                 std::span<const uint8_t> data) override;
  bool FormatTrack(DeviceHandle drive, const FD_FORMAT_PARAMS& p) override;

 private:
  // Runs one command; on success `reply` holds the result bytes and
  // `moved` the bytes of the data phase actually transferred.
  bool Execute(DeviceHandle fd, const FdcCommand& cmd, void* data, std::array<uint8_t, 16>& reply,
               size_t& moved);

  LinuxFloppyPaths paths_;
  bool controlOpen_ = false;
  DeviceHandle driveFd_ = kInvalidHandle;
  uint8_t unit_ = 0;
  uint8_t rate_ = FD_RATE_250K;
};

}  // namespace kelvara
