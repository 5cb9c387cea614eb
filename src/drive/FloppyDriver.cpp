#include "drive/FloppyDriver.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "drive/LinuxFloppy.h"
#include "drive/VirtualFloppy.h"
#include "model/ZXDisk.h"

namespace kelvara {

namespace {

enum class Target { Control, Drive };

struct CallShape {
  uint32_t code;
  Target target;
  size_t inSize;  // exact record size; the format record is checked apart
  size_t minOut;  // bytes the caller must offer
};

constexpr std::array<CallShape, 10> kCalls = {{
    {IOCTL_FDRAWCMD_GET_VERSION, Target::Control, 0, 4},
    {IOCTL_FD_SET_DATA_RATE, Target::Drive, 1, 0},
    {IOCTL_FD_GET_FDC_INFO, Target::Drive, 0, sizeof(FD_FDC_INFO)},
    {IOCTL_FD_RESET, Target::Drive, 0, 0},
    {IOCTL_FDCMD_SEEK, Target::Drive, sizeof(FD_SEEK_PARAMS), 0},
    {IOCTL_FD_SCAN_TRACK, Target::Drive, sizeof(FD_SCAN_PARAMS), 1},
    {IOCTL_FD_TIMED_SCAN_TRACK, Target::Drive, sizeof(FD_SCAN_PARAMS), kTimedScanHead},
    {IOCTL_FDCMD_READ_DATA, Target::Drive, sizeof(FD_READ_WRITE_PARAMS), 1},
    {IOCTL_FDCMD_WRITE_DATA, Target::Drive, sizeof(FD_READ_WRITE_PARAMS), 1},
    {IOCTL_FDCMD_FORMAT_TRACK, Target::Drive, kFormatParamsHead, 0},
}};

template <typename Record>
Record Decode(std::span<const uint8_t> in) {
  Record r{};
  std::memcpy(&r, in.data(), std::min(in.size(), sizeof(Record)));
  return r;
}

}  // namespace

bool FloppyDriver::Control(DeviceHandle handle, uint32_t code, std::span<const uint8_t> in,
                           std::span<uint8_t> out, uint32_t& bytesReturned) {
  bytesReturned = 0;
  const CallShape* shape = nullptr;
  for (const CallShape& s : kCalls) {
    if (s.code == code) shape = &s;
  }
  if (!shape) return Fail(codes_.invalidFunction);
  const bool rightDevice =
      shape->target == Target::Control ? IsControlHandle(handle) : IsDriveHandle(handle);
  if (!rightDevice) return Fail(codes_.invalidHandle);
  const bool formatCall = code == IOCTL_FDCMD_FORMAT_TRACK;
  const bool inOk = formatCall
                        ? in.size() >= kFormatParamsHead && in.size() == FormatParamsSize(in[3])
                        : in.size() == shape->inSize;
  if (!inOk || out.size() < shape->minOut) return Fail(codes_.invalidParameter);
  return Dispatch(handle, code, in, out, bytesReturned);
}

bool FloppyDriver::Dispatch(DeviceHandle handle, uint32_t code, std::span<const uint8_t> in,
                            std::span<uint8_t> out, uint32_t& bytesReturned) {
  switch (code) {
    case IOCTL_FDRAWCMD_GET_VERSION: {
      uint32_t version = 0;
      if (!GetVersion(version)) return false;
      for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(version >> (8 * i));
      bytesReturned = 4;
      return true;
    }
    case IOCTL_FD_SET_DATA_RATE:
      return SetDataRate(handle, in[0]);
    case IOCTL_FD_GET_FDC_INFO: {
      FD_FDC_INFO info{};
      if (!GetFdcInfo(handle, info)) return false;
      std::memcpy(out.data(), &info, sizeof info);
      bytesReturned = sizeof info;
      return true;
    }
    case IOCTL_FD_RESET:
      return ResetController(handle);
    case IOCTL_FDCMD_SEEK:
      return Seek(handle, Decode<FD_SEEK_PARAMS>(in));
    case IOCTL_FD_SCAN_TRACK:
      return ScanTrack(handle, Decode<FD_SCAN_PARAMS>(in), out, bytesReturned);
    case IOCTL_FD_TIMED_SCAN_TRACK:
      return TimedScanTrack(handle, Decode<FD_SCAN_PARAMS>(in), out, bytesReturned);
    case IOCTL_FDCMD_READ_DATA: {
      const auto p = Decode<FD_READ_WRITE_PARAMS>(in);
      if (p.size > kLargestSizeCode) return Fail(codes_.invalidParameter);
      return ReadData(handle, p, out, bytesReturned);
    }
    case IOCTL_FDCMD_WRITE_DATA: {
      const auto p = Decode<FD_READ_WRITE_PARAMS>(in);
      if (p.size > kLargestSizeCode) return Fail(codes_.invalidParameter);
      return WriteData(handle, p, out);
    }
    default: {
      const auto p = Decode<FD_FORMAT_PARAMS>(in);
      if (p.size > kLargestSizeCode) return Fail(codes_.invalidParameter);
      return FormatTrack(handle, p);
    }
  }
}

bool FloppyDriver::WriteTrack(DeviceHandle drive, const TZX_Disk& disk, int track, bool formatOnly,
                              uint8_t fill, int attempts, TrackWriteOutcome& outcome) {
  outcome = TrackWriteOutcome{};
  if (!IsDriveHandle(drive)) return Fail(codes_.invalidHandle);
  if (track < 0 || track >= kTrackCount) return Fail(codes_.invalidParameter);
  return WriteWholeTrack(drive, disk, track, formatOnly, fill, attempts, outcome);
}

bool FloppyDriver::WriteWholeTrack(DeviceHandle, const TZX_Disk&, int, bool, uint8_t, int,
                                   TrackWriteOutcome&) {
  return Fail(codes_.invalidFunction);
}

bool FloppyDriver::TimedScanTrack(DeviceHandle, const FD_SCAN_PARAMS&, std::span<uint8_t>,
                                  uint32_t&) {
  return Fail(codes_.invalidFunction);
}

std::string VirtualDriveImage(const std::string& virtualDiskImage) {
  if (!virtualDiskImage.empty()) return virtualDiskImage;
  const char* env = std::getenv("KELVARA_VIRTUAL_DRIVE");
  return env ? std::string(env) : std::string();
}

std::unique_ptr<FloppyDriver> CreateFloppyDriver(const std::string& virtualDiskImage) {
  const std::string image = VirtualDriveImage(virtualDiskImage);
  if (!image.empty()) {
    auto drive = std::make_unique<VirtualFloppy>(image);
    if (const char* pace = std::getenv(kVirtualDrivePaceVariable))
      drive->Options().pace = std::clamp(std::strtod(pace, nullptr), 0.0, 10.0);
    return drive;
  }
  return std::make_unique<LinuxFloppy>();
}

}  // namespace kelvara
