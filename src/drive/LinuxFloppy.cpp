#include "drive/LinuxFloppy.h"

#include <fcntl.h>
#include <linux/fd.h>
#include <linux/fdreg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace kelvara {

namespace {

// The driver itself has no control device here: once the kernel driver is
// known to be loaded, this token stands for it.
constexpr DeviceHandle kControlToken = 0x7FFF0000;

// READ ID returns the ID field that next passes the head; the first ID seen
// comes round again after one revolution (200 ms at 300 rpm, 167 ms at
// 360 rpm). The scan stops at that repeat, or just short of a 300 rpm turn.
constexpr auto kFullTurn = std::chrono::milliseconds(196);
constexpr auto kHalfTurn = std::chrono::milliseconds(100);
constexpr int kMaxReadIds = 64;

constexpr unsigned kDataFlags = FD_RAW_INTR | FD_RAW_NEED_DISK | FD_RAW_SPIN;

uint8_t HeadAndUnit(uint8_t head, uint8_t unit) {
  return static_cast<uint8_t>(((head & 1) << 2) | (unit & 3));
}

// A read or write of sectors R to one before the record's end-of-track
// number. The controller's own EOT is the last sector it transfers, and
// terminal count at the end of the DMA length ends the command there.
FdcCommand ReadWriteCommand(uint8_t opcode, uint8_t unit, const FD_READ_WRITE_PARAMS& p) {
  const uint8_t last = static_cast<uint8_t>(std::max<int>(p.sector, p.eot - 1));
  FdcCommand c;
  c.bytes = {opcode,   HeadAndUnit(p.phead, unit), p.cyl, p.head, p.sector, p.size, last, p.gap,
             p.datalen};
  c.length = 9;
  c.dataLength = static_cast<size_t>(last - p.sector + 1) * (128u << p.size);
  return c;
}

struct StatusErrno {
  int reg;  // 1 = ST1, 2 = ST2
  uint8_t mask;
  int error;
};

// In order of precedence.
constexpr StatusErrno kStatusErrnos[] = {
    {1, ST1_WP, EROFS},    {1, ST1_CRC, EBADMSG}, {2, ST2_CRC, EBADMSG}, {1, ST1_MAM, ENODATA},
    {2, ST2_MAM, ENODATA}, {1, ST1_ND, ENXIO},    {2, ST2_WC, ENXIO},    {2, ST2_BC, ENXIO},
};

struct FdcTypeRow {
  uint8_t fdcVersion;
  uint8_t type;
};

constexpr FdcTypeRow kFdcTypes[] = {
    {FDC_NONE, 0},    {FDC_UNKNOWN, 1},    {FDC_8272A, 2}, {FDC_765ED, 2},      {FDC_82072, 3},
    {FDC_82072A, 3},  {FDC_82077_ORIG, 4}, {FDC_82077, 5}, {FDC_82078_UNKN, 6}, {FDC_82078, 6},
    {FDC_82078_1, 7}, {FDC_S82078B, 7},    {FDC_87306, 8},
};

bool BlockDriverListed(const std::string& procDevices) {
  std::ifstream in(procDevices);
  std::string line;
  bool block = false;
  while (std::getline(in, line)) {
    if (line.rfind("Block devices:", 0) == 0) block = true;
    std::istringstream fields(line);
    std::string major, name;
    if (block && (fields >> major >> name) && major == "2" && name == "fd") return true;
  }
  return false;
}

}  // namespace

FdcCommand SeekCommand(uint8_t unit, const FD_SEEK_PARAMS& p) {
  FdcCommand c;
  c.bytes = {FD_SEEK, HeadAndUnit(p.head, unit), p.cyl};
  c.length = 3;
  c.rawFlags = FD_RAW_INTR;
  return c;
}

FdcCommand ReadIdCommand(uint8_t unit, const FD_SCAN_PARAMS& p) {
  FdcCommand c;
  c.bytes = {static_cast<uint8_t>(0x0A | (p.flags & FD_OPTION_MFM)), HeadAndUnit(p.head, unit)};
  c.length = 2;
  c.rawFlags = kDataFlags;
  return c;
}

FdcCommand ReadDataCommand(uint8_t unit, const FD_READ_WRITE_PARAMS& p) {
  const uint8_t options = p.flags & (FD_OPTION_MT | FD_OPTION_MFM | FD_OPTION_SK);
  FdcCommand c = ReadWriteCommand(static_cast<uint8_t>(0x06 | options), unit, p);
  c.rawFlags = kDataFlags | FD_RAW_READ;
  return c;
}

FdcCommand WriteDataCommand(uint8_t unit, const FD_READ_WRITE_PARAMS& p) {
  const uint8_t options = p.flags & (FD_OPTION_MT | FD_OPTION_MFM);
  FdcCommand c = ReadWriteCommand(static_cast<uint8_t>(0x05 | options), unit, p);
  c.rawFlags = kDataFlags | FD_RAW_WRITE;
  return c;
}

FdcCommand FormatCommand(uint8_t unit, const FD_FORMAT_PARAMS& p) {
  FdcCommand c;
  c.bytes = {static_cast<uint8_t>(0x0D | (p.flags & FD_OPTION_MFM)),
             HeadAndUnit(p.phead, unit),
             p.size,
             p.sectors,
             p.gap,
             p.fillbyte};
  c.length = 6;
  c.rawFlags = kDataFlags | FD_RAW_WRITE;
  c.dataLength = 4u * p.sectors;
  return c;
}

int FdcResultErrno(std::span<const uint8_t> reply) {
  if (reply.empty()) return EIO;
  if ((reply[0] & ST0_INTR) == 0) return 0;
  if (reply.size() >= 3) {
    for (const StatusErrno& s : kStatusErrnos) {
      if (reply[s.reg] & s.mask) return s.error;
    }
  }
  if (reply[0] & ST0_NR) return ENOMEDIUM;
  return EIO;
}

uint8_t ControllerTypeOfLinuxFdc(uint8_t fdcVersion) {
  for (const FdcTypeRow& r : kFdcTypes) {
    if (r.fdcVersion == fdcVersion) return r.type;
  }
  return 9;  // shown as "UNKNOWN3"
}

LinuxFloppy::LinuxFloppy(LinuxFloppyPaths paths)
    : FloppyDriver({EBADF, ENOTTY, EINVAL}), paths_(std::move(paths)) {}

LinuxFloppy::~LinuxFloppy() {
  if (driveFd_ != kInvalidHandle) ::close(driveFd_);
}

DeviceHandle LinuxFloppy::Open(FloppyDevice device) {
  if (device == FloppyDevice::Control) {
    if (!BlockDriverListed(paths_.procDevices)) {
      SetDetail("the kernel floppy driver is not loaded (no block device 2 \"fd\" in " +
                paths_.procDevices + ")");
      Fail(ENODEV);
      return kInvalidHandle;
    }
    controlOpen_ = true;
    Succeed();
    return kControlToken;
  }
  if (driveFd_ != kInvalidHandle) Close(driveFd_);
  const std::string& path = device == FloppyDevice::Drive0 ? paths_.drive0 : paths_.drive1;
  // Without O_NONBLOCK the kernel refuses to open a drive with no disk in
  // it, and raw commands are wanted exactly then too.
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_EXCL | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    SetDetail(path + ": " + std::strerror(error));
    Fail(static_cast<uint32_t>(error));
    return kInvalidHandle;
  }
  driveFd_ = fd;
  unit_ = device == FloppyDevice::Drive0 ? 0 : 1;
  Succeed();
  return fd;
}

void LinuxFloppy::Close(DeviceHandle handle) {
  if (handle == driveFd_ && driveFd_ != kInvalidHandle) {
    ::close(driveFd_);
    driveFd_ = kInvalidHandle;
  }
}

bool LinuxFloppy::IsControlHandle(DeviceHandle handle) const {
  return controlOpen_ && handle == kControlToken;
}

bool LinuxFloppy::IsDriveHandle(DeviceHandle handle) const {
  return handle != kInvalidHandle && handle == driveFd_;
}

bool LinuxFloppy::GetVersion(uint32_t& version) {
  version = kLinuxDriverVersion;
  return Succeed();
}

bool LinuxFloppy::SetDataRate(DeviceHandle, uint8_t code) {
  // Every raw command carries its own rate; the code is kept for them.
  if (code > FD_RATE_1M) return Fail(EINVAL);
  rate_ = code;
  return Succeed();
}

bool LinuxFloppy::GetFdcInfo(DeviceHandle fd, FD_FDC_INFO& info) {
  floppy_fdc_state state{};
  if (::ioctl(fd, FDGETFDCSTAT, &state) < 0) return Fail(static_cast<uint32_t>(errno));
  info.ControllerType = ControllerTypeOfLinuxFdc(state.version);
  return Succeed();
}

bool LinuxFloppy::ResetController(DeviceHandle fd) {
  if (::ioctl(fd, FDRESET, static_cast<long>(FD_RESET_ALWAYS)) < 0)
    return Fail(static_cast<uint32_t>(errno));
  return Succeed();
}

bool LinuxFloppy::Execute(DeviceHandle fd, const FdcCommand& cmd, void* data,
                          std::array<uint8_t, 16>& reply, size_t& moved) {
  floppy_raw_cmd raw{};
  raw.flags = cmd.rawFlags;
  raw.data = data;
  raw.length = static_cast<long>(cmd.dataLength);
  raw.rate = rate_;
  raw.cmd_count = cmd.length;
  std::memcpy(raw.cmd, cmd.bytes.data(), cmd.length);
  moved = 0;
  if (::ioctl(fd, FDRAWCMD, &raw) < 0) return Fail(static_cast<uint32_t>(errno));
  if (raw.flags & FD_RAW_HARDFAILURE) return Fail(EIO);
  if (cmd.rawFlags & (FD_RAW_READ | FD_RAW_WRITE))
    moved = cmd.dataLength - static_cast<size_t>(std::max(0L, raw.length));
  const size_t count = std::min<size_t>(raw.reply_count, reply.size());
  std::copy_n(raw.reply, count, reply.begin());
  const int error = FdcResultErrno({reply.data(), count});
  return error ? Fail(static_cast<uint32_t>(error)) : Succeed();
}

bool LinuxFloppy::Seek(DeviceHandle fd, const FD_SEEK_PARAMS& p) {
  std::array<uint8_t, 16> reply{};
  size_t moved = 0;
  return Execute(fd, SeekCommand(unit_, p), nullptr, reply, moved);
}

bool LinuxFloppy::ScanTrack(DeviceHandle fd, const FD_SCAN_PARAMS& p, std::span<uint8_t> out,
                            uint32_t& bytesReturned) {
  using Clock = std::chrono::steady_clock;
  const FdcCommand cmd = ReadIdCommand(unit_, p);
  const size_t capacity = std::min<size_t>((out.size() - 1) / 4, 255);
  std::array<uint8_t, 16> reply{};
  size_t moved = 0, found = 0;
  Clock::time_point first;
  for (int i = 0; i < kMaxReadIds && found < capacity; ++i) {
    if (!Execute(fd, cmd, nullptr, reply, moved)) {
      if (found == 0) return false;
      break;
    }
    const auto now = Clock::now();
    const uint8_t* id = reply.data() + 3;  // after ST0 ST1 ST2: C H R N
    if (found == 0) {
      first = now;
    } else if (now - first >= kFullTurn ||
               (now - first >= kHalfTurn && std::memcmp(id, out.data() + 1, 4) == 0)) {
      break;
    }
    std::memcpy(out.data() + 1 + 4 * found, id, 4);
    ++found;
  }
  out[0] = static_cast<uint8_t>(found);
  bytesReturned = static_cast<uint32_t>(1 + 4 * found);
  return Succeed();
}

bool LinuxFloppy::ReadData(DeviceHandle fd, const FD_READ_WRITE_PARAMS& p, std::span<uint8_t> out,
                           uint32_t& bytesReturned) {
  const FdcCommand cmd = ReadDataCommand(unit_, p);
  if (out.size() < cmd.dataLength) return Fail(EINVAL);
  std::array<uint8_t, 16> reply{};
  size_t moved = 0;
  const bool ok = Execute(fd, cmd, out.data(), reply, moved);
  bytesReturned = static_cast<uint32_t>(moved);
  return ok;
}

bool LinuxFloppy::WriteData(DeviceHandle fd, const FD_READ_WRITE_PARAMS& p,
                            std::span<const uint8_t> data) {
  const FdcCommand cmd = WriteDataCommand(unit_, p);
  // The DMA length is the sector size: short data go out followed by zeros.
  std::vector<uint8_t> field(cmd.dataLength, 0);
  std::copy_n(data.begin(), std::min(data.size(), field.size()), field.begin());
  std::array<uint8_t, 16> reply{};
  size_t moved = 0;
  return Execute(fd, cmd, field.data(), reply, moved);
}

bool LinuxFloppy::FormatTrack(DeviceHandle fd, const FD_FORMAT_PARAMS& p) {
  const FdcCommand cmd = FormatCommand(unit_, p);
  std::vector<uint8_t> headers(cmd.dataLength);
  std::memcpy(headers.data(), p.Header, cmd.dataLength);
  std::array<uint8_t, 16> reply{};
  size_t moved = 0;
  return Execute(fd, cmd, headers.data(), reply, moved);
}

}  // namespace kelvara
