#include "drive/LinuxFloppy.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/fd.h>
#include <linux/fdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace kelvara {

namespace {

// The driver itself has no control device here: once the kernel driver is
// known to be loaded, this token stands for it.
constexpr DeviceHandle kControlToken = 0x7FFF0000;

constexpr unsigned kDataFlags = FD_RAW_INTR | FD_RAW_SPIN;

using Micros = std::chrono::microseconds;

// The scan. READ ID gives the ID field that next passes the head, but an ID
// that passes while the previous call is still returning is missed, and a
// protected track may carry the same ID twice: so the IDs are timed, the
// scan watches more than a revolution of the slowest drive (300 rpm less
// its tolerance) plus the ID after it, and a second turn when an interval
// looks like a missed ID. The IDs are then placed by angle and listed from
// the one after the largest gap, the gap of the index.
constexpr Micros kTurnWindow{215000};
constexpr Micros kNominalTurn{200000};
constexpr Micros kShortestTurn{150000};  // 360 rpm drives turn in 167 ms
constexpr int kMaxReadIds = 512;
// How far apart two sightings of one ID field in two turns may fall.
constexpr Micros kSightingJitter{1000};
// An interval this many times the median one means an ID was missed.
constexpr double kMissedIdRatio = 1.6;

// Bytes of a sector between the end of its ID field and the start of the
// next one, less the gap: gap 2, the data mark's sync and mark, the data,
// its CRC, and the next ID field.
constexpr int kSectorBytesAfterId = 22 + 16 + 2 + 22;

uint8_t HeadAndUnit(uint8_t head, uint8_t unit) {
  return static_cast<uint8_t>(((head & 1) << 2) | (unit & 3));
}

// A read or write of sectors R to one before the record's end-of-track
// number. The controller's own EOT is the last sector it transfers, and
// terminal count at the end of the DMA length ends the command there. With
// N = 0 the controller takes the length from DTL, so "length by size code"
// (0xFF) becomes 128 there.
FdcCommand ReadWriteCommand(uint8_t opcode, uint8_t unit, const FD_READ_WRITE_PARAMS& p) {
  const uint8_t last = static_cast<uint8_t>(std::max<int>(p.sector, p.eot - 1));
  const uint8_t dtl = p.size == 0 && p.datalen == 0xFF ? 0x80 : p.datalen;
  FdcCommand c;
  c.bytes = {opcode, HeadAndUnit(p.phead, unit), p.cyl, p.head, p.sector, p.size, last, p.gap, dtl};
  c.length = 9;
  c.dataLength = static_cast<size_t>(last - p.sector + 1) * (128u << p.size);
  return c;
}

struct StatusCode {
  size_t reg;  // 0 = ST0, 1 = ST1, 2 = ST2
  uint8_t mask;
  uint32_t code;
};

// In order of precedence. A missing data mark sets both MA bits: the ID was
// there, its sector's data field was not.
constexpr StatusCode kStatusCodes[] = {
    {0, ST0_NR, kErrorNotReady},
    {1, ST1_WP, kErrorWriteProtect},
    {1, ST1_CRC, kErrorCrc},
    {2, ST2_CRC, kErrorCrc},
    {2, ST2_MAM, kErrorSectorNotFound},
    {1, ST1_MAM, kErrorIdMarkNotFound},
    {1, ST1_ND, kErrorSectorNotFound},
    {2, ST2_WC, kErrorSectorNotFound},
    {2, ST2_BC, kErrorSectorNotFound},
    {0, ST0_ECE, kErrorSeek},
    {1, ST1_OR, kErrorIoDevice},
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

class KernelSystem final : public FloppySystem {
 public:
  int Open(const std::string& path, int flags) override {
    const int fd = ::open(path.c_str(), flags);
    return fd < 0 ? -errno : fd;
  }
  void Close(int fd) override { ::close(fd); }
  int Ioctl(int fd, unsigned long request, void* arg) override {
    return ::ioctl(fd, request, arg) < 0 ? -errno : 0;
  }
  Micros Now() override {
    return std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now().time_since_epoch());
  }
  void Sleep(Micros time) override { std::this_thread::sleep_for(time); }
};

// One ID field seen by the scan: when READ ID returned it, and whether its
// CRC was good.
struct SeenId {
  Micros at;
  std::array<uint8_t, 4> chrn;
  bool good;
};

Micros Median(std::vector<Micros> values) {
  if (values.empty()) return Micros{0};
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

std::vector<Micros> Intervals(const std::vector<SeenId>& seen) {
  std::vector<Micros> out;
  for (size_t i = 1; i < seen.size(); ++i)
    out.push_back(seen[i].at - seen[i - 1].at);
  return out;
}

// True when an interval between IDs is long enough to hide one.
bool LooksLikeMissedId(const std::vector<SeenId>& seen) {
  if (seen.size() < 4) return true;  // too few to tell; a turn more costs little
  const std::vector<Micros> intervals = Intervals(seen);
  const Micros median = Median(intervals);
  return std::any_of(intervals.begin(), intervals.end(),
                     [&](Micros d) { return d.count() > kMissedIdRatio * median.count(); });
}

// The revolution: the time between two sightings of the same ID about a
// turn apart that most other such pairs agree with (a repeated ID on a
// protected track pairs up at other times too); the nominal 200 ms when
// nothing was seen twice.
Micros Revolution(const std::vector<SeenId>& seen) {
  std::vector<Micros> turns;
  for (size_t i = 0; i < seen.size(); ++i) {
    for (size_t j = i + 1; j < seen.size(); ++j) {
      const Micros d = seen[j].at - seen[i].at;
      if (seen[j].chrn == seen[i].chrn && d >= kShortestTurn && d <= kTurnWindow)
        turns.push_back(d);
    }
  }
  Micros best = kNominalTurn;
  long bestVotes = 0;
  for (const Micros t : turns) {
    const long votes = std::count_if(turns.begin(), turns.end(), [&](Micros u) {
      return (u > t ? u - t : t - u) <= kSightingJitter;
    });
    if (votes > bestVotes) {
      best = t;
      bestVotes = votes;
    }
  }
  return best;
}

// The distinct ID fields of the scan in their order on the track, from the
// one after the index. Sightings of the same ID at the same angle in two
// turns are one field; the same ID at another angle is another field.
std::vector<SeenId> TrackOrder(const std::vector<SeenId>& seen, int bitsPerSecond) {
  const Micros turn = Revolution(seen);
  const Micros t0 = seen.front().at;
  const auto angle = [&](Micros t) { return Micros{(t - t0).count() % turn.count()}; };
  const Micros median = Median(Intervals(seen));
  const Micros tolerance =
      std::min(std::max(median / 4, Micros{1500}), std::max(median * 3 / 4, Micros{1}));

  std::vector<SeenId> fields;  // `at` holds the angle
  for (const SeenId& s : seen) {
    const Micros a = angle(s.at);
    const bool known = std::any_of(fields.begin(), fields.end(), [&](const SeenId& f) {
      Micros d = a > f.at ? a - f.at : f.at - a;
      d = std::min(d, turn - d);
      return f.chrn == s.chrn && f.good == s.good && d <= tolerance;
    });
    if (!known) fields.push_back({a, s.chrn, s.good});
  }
  std::sort(fields.begin(), fields.end(),
            [](const SeenId& a, const SeenId& b) { return a.at < b.at; });

  // The gap after field i: the time to the next field less that of the
  // sector's own bytes.
  const double usPerByte = 8e6 / bitsPerSecond;
  size_t first = 0;
  double widest = -1e18;
  for (size_t i = 0; i < fields.size(); ++i) {
    const size_t next = (i + 1) % fields.size();
    Micros d = fields[next].at - fields[i].at;
    if (d <= Micros{0}) d += turn;
    const int bytes = kSectorBytesAfterId + (128 << std::min<int>(fields[i].chrn[3], 7));
    const double gap = static_cast<double>(d.count()) - bytes * usPerByte;
    if (gap > widest) {
      widest = gap;
      first = next;
    }
  }
  std::rotate(fields.begin(), fields.begin() + static_cast<std::ptrdiff_t>(first), fields.end());
  return fields;
}

// A time as an angle: its place in a turn.
Micros Wrap(Micros t, Micros turn) {
  return (t % turn + turn) % turn;
}

// Of the first `listed` fields of the track order (their times are angles
// from the first sighting), the one READ ID would give next now that the
// scan is over: the nearest ahead of the last sighting, passing over the
// field that sighting was.
size_t NextUnderHead(const std::vector<SeenId>& seen, const std::vector<SeenId>& order,
                     size_t listed) {
  const Micros turn = Revolution(seen);
  const Micros last = Wrap(seen.back().at - seen.front().at, turn);
  const Micros passed = Median(Intervals(seen)) / 2;
  size_t next = 0;
  Micros nearest = turn;
  for (size_t k = 0; k < listed; ++k) {
    const Micros ahead = Wrap(order[k].at - last, turn);
    if (ahead > passed && ahead < turn - passed && ahead < nearest) {
      nearest = ahead;
      next = k;
    }
  }
  return next;
}

// The kernel does not report the index pulse: it is taken to lie where a
// formatted track has it, gap 4a, the index mark and gap 1 before the first
// ID field of the track order.
Micros IndexLead(int bitsPerSecond) {
  constexpr int kLeadBytes = 80 + 12 + 4 + 50;
  return Micros{static_cast<long>(kLeadBytes * 8e6 / bitsPerSecond)};
}

}  // namespace

std::unique_ptr<FloppySystem> KernelFloppySystem() {
  return std::make_unique<KernelSystem>();
}

std::string DriveOpenReason(const std::string& path, int error) {
  switch (error) {
    case EACCES:
    case EPERM: {
      // The group that owns the node, usually disk or floppy.
      std::string owner = "disk";
      struct stat st {};
      if (::stat(path.c_str(), &st) == 0) {
        if (const struct group* g = ::getgrgid(st.st_gid)) owner = g->gr_name;
      }
      return path + ": no permission. The user must be in the group that owns it (" + owner +
             "): sudo usermod -aG " + owner + " $USER, then log in again.";
    }
    case EBUSY:
      return path +
             ": busy. The floppy is mounted or another program holds the drive: unmount it "
             "(umount " +
             path + ") and close that program.";
    case ENXIO:
    case ENODEV:
      return path +
             ": no drive. The BIOS (CMOS setup) reports no floppy drive of this unit: set "
             "its type there, or give it to the kernel (floppy=UNIT,TYPE,cmos).";
    case ENOENT:
      return path +
             ": no such node. The kernel floppy driver made no node for this drive: the "
             "BIOS reports no drive, or the module is not loaded (modprobe floppy).";
    default:
      return path + ": " + std::strerror(error);
  }
}

FdcCommand SeekCommand() {
  return FdcCommand{};
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

uint32_t FdcResultError(std::span<const uint8_t> reply, bool allMoved) {
  if (reply.empty()) return kErrorIoDevice;
  if ((reply[0] & ST0_INTR) == 0) return 0;
  for (const StatusCode& s : kStatusCodes) {
    if (s.reg < reply.size() && (reply[s.reg] & s.mask)) return s.code;
  }
  // With no error bit left, "end of cylinder" or a deleted-data mark ended
  // a transfer that is whole when every byte moved (the kernel counts the
  // first as success too); short of that the sector range was not there.
  if (reply.size() >= 3 && ((reply[1] & ST1_EOC) || (reply[2] & ST2_CM)))
    return allMoved ? 0 : kErrorSectorNotFound;
  return kErrorIoDevice;
}

uint8_t ControllerTypeOfLinuxFdc(uint8_t fdcVersion) {
  for (const FdcTypeRow& r : kFdcTypes) {
    if (r.fdcVersion == fdcVersion) return r.type;
  }
  return 9;  // shown as "UNKNOWN3"
}

LinuxFloppy::LinuxFloppy(LinuxFloppyPaths paths, std::unique_ptr<FloppySystem> system)
    : FloppyDriver({EBADF, ENOTTY, EINVAL}),
      paths_(std::move(paths)),
      system_(system ? std::move(system) : KernelFloppySystem()) {}

LinuxFloppy::~LinuxFloppy() {
  if (driveFd_ != kInvalidHandle) system_->Close(driveFd_);
}

DeviceHandle LinuxFloppy::Open(FloppyDevice device) {
  if (device == FloppyDevice::Control) {
    if (!BlockDriverListed(paths_.procDevices)) {
      SetDetail("the kernel floppy driver is not loaded (no block device 2 \"fd\" in " +
                paths_.procDevices + "): modprobe floppy");
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
  // it and probes the format of one with a disk; raw commands want neither.
  const int fd = system_->Open(path, O_RDWR | O_NONBLOCK | O_EXCL | O_CLOEXEC);
  if (fd < 0) {
    SetDetail(DriveOpenReason(path, -fd));
    Fail(static_cast<uint32_t>(-fd));
    return kInvalidHandle;
  }
  SetDetail("");
  driveFd_ = fd;
  unit_ = device == FloppyDevice::Drive0 ? 0 : 1;
  needSeek_ = true;
  Succeed();
  return fd;
}

void LinuxFloppy::Close(DeviceHandle handle) {
  if (handle == driveFd_ && driveFd_ != kInvalidHandle) {
    system_->Close(driveFd_);
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
  if (const int r = system_->Ioctl(fd, FDGETFDCSTAT, &state); r < 0)
    return Fail(static_cast<uint32_t>(-r));
  info.ControllerType = ControllerTypeOfLinuxFdc(state.version);
  return Succeed();
}

bool LinuxFloppy::ResetController(DeviceHandle fd) {
  // The kernel then takes every drive's position as unknown: the next
  // command with FD_RAW_NEED_SEEK recalibrates before it seeks.
  needSeek_ = true;
  headAt_ = -1;
  const int r =
      system_->Ioctl(fd, FDRESET, reinterpret_cast<void*>(static_cast<uintptr_t>(FD_RESET_ALWAYS)));
  return r < 0 ? Fail(static_cast<uint32_t>(-r)) : Succeed();
}

uint32_t LinuxFloppy::Run(DeviceHandle fd, const FdcCommand& cmd, void* data, Reply& reply,
                          size_t& moved) {
  floppy_raw_cmd raw{};
  raw.flags = cmd.rawFlags | (needSeek_ ? FD_RAW_NEED_SEEK : 0);
  // The kernel seeks the drive's cylinder; the command bytes keep the disk's.
  raw.track = PhysicalCylinder(cylinder_, doubleStep_);
  raw.data = data;
  raw.length = static_cast<long>(cmd.dataLength);
  raw.rate = rate_;
  raw.cmd_count = cmd.length;
  std::memcpy(raw.cmd, cmd.bytes.data(), cmd.length);
  moved = 0;
  reply.fill(0);
  needSeek_ = true;  // until the command is known to have succeeded
  const int r = system_->Ioctl(fd, FDRAWCMD, &raw);
  if (r < 0 || (raw.flags & FD_RAW_HARDFAILURE)) {
    // A timeout (no disk turning: no index pulses) or a controller the
    // kernel had to reset: put it right for the next command.
    if (r == -EIO || (raw.flags & FD_RAW_HARDFAILURE)) {
      system_->Ioctl(fd, FDRESET,
                     reinterpret_cast<void*>(static_cast<uintptr_t>(FD_RESET_IF_NEEDED)));
      return kErrorNotReady;
    }
    return static_cast<uint32_t>(-r);
  }
  if (cmd.rawFlags & (FD_RAW_READ | FD_RAW_WRITE))
    moved = cmd.dataLength -
            static_cast<size_t>(std::clamp(raw.length, 0L, static_cast<long>(cmd.dataLength)));
  const size_t count = std::min<size_t>(raw.reply_count, reply.size());
  std::copy_n(raw.reply, count, reply.begin());
  // A seek has no result phase: the kernel's own seek succeeded.
  const uint32_t error =
      cmd.length == 0 ? 0 : FdcResultError({reply.data(), count}, moved == cmd.dataLength);
  if (error == 0) needSeek_ = cmd.length == 0;
  return error;
}

bool LinuxFloppy::Execute(DeviceHandle fd, const FdcCommand& cmd, void* data, Reply& reply,
                          size_t& moved) {
  const uint32_t error = Run(fd, cmd, data, reply, moved);
  return error ? Fail(error) : Succeed();
}

bool LinuxFloppy::Seek(DeviceHandle fd, const FD_SEEK_PARAMS& p) {
  // Past the drive's last cylinder (double stepping a disk of more than 42)
  // is a seek error, never a seek to the end stop.
  if (PhysicalCylinder(p.cyl, doubleStep_) > kLastDriveCylinder) return Fail(kErrorSeek);
  // The head is chosen by each command; the seek only moves to the cylinder.
  cylinder_ = p.cyl;
  needSeek_ = true;
  Reply reply{};
  size_t moved = 0;
  if (!Execute(fd, SeekCommand(), nullptr, reply, moved)) {
    headAt_ = -1;
    return false;
  }
  const int at = PhysicalCylinder(cylinder_, doubleStep_);
  if (at != headAt_) system_->Sleep(settle_);
  headAt_ = at;
  return Succeed();
}

bool LinuxFloppy::ScanTrack(DeviceHandle fd, const FD_SCAN_PARAMS& p, std::span<uint8_t> out,
                            uint32_t& bytesReturned) {
  return ScanIds(fd, p, out, bytesReturned, false);
}

bool LinuxFloppy::TimedScanTrack(DeviceHandle fd, const FD_SCAN_PARAMS& p, std::span<uint8_t> out,
                                 uint32_t& bytesReturned) {
  return ScanIds(fd, p, out, bytesReturned, true);
}

bool LinuxFloppy::ScanIds(DeviceHandle fd, const FD_SCAN_PARAMS& p, std::span<uint8_t> out,
                          uint32_t& bytesReturned, bool timed) {
  const FdcCommand cmd = ReadIdCommand(unit_, p);
  Micros window = kTurnWindow;
  bool reseek = true;  // one seek again when the head is found elsewhere
  bool secondTurn = false;
  std::vector<SeenId> seen;
  Reply reply{};
  size_t moved = 0;
  for (int i = 0; i < kMaxReadIds; ++i) {
    const uint32_t error = Run(fd, cmd, nullptr, reply, moved);
    const Micros now = system_->Now();
    // An ID field with a bad CRC is timed like any other but not listed.
    if (error && error != kErrorCrc) {
      if (error == kErrorIdMarkNotFound && !seen.empty()) break;
      return Fail(error);
    }
    // Another program's open of the drive can recalibrate it behind the
    // kernel's back: the first ID read names another cylinder. The head is
    // placed again (a reset makes the kernel recalibrate) and the scan
    // starts over, once; a disk whose IDs name other cylinders then reads
    // as it is.
    if (seen.empty() && error == 0 && reply[3] != cylinder_ && reseek) {
      reseek = false;
      system_->Ioctl(fd, FDRESET, reinterpret_cast<void*>(static_cast<uintptr_t>(FD_RESET_ALWAYS)));
      needSeek_ = true;
      headAt_ = -1;
      if (!Seek(fd, FD_SEEK_PARAMS{static_cast<uint8_t>(cylinder_), p.head})) return false;
      continue;
    }
    seen.push_back({now, {reply[3], reply[4], reply[5], reply[6]}, error == 0});
    if (now - seen.front().at > window) {
      if (secondTurn || !LooksLikeMissedId(seen)) break;
      secondTurn = true;
      window += kNominalTurn;
    }
    // A track of nothing but bad ID fields ends too. Timed from the first
    // ID: the motor's spin-up before it is no part of the track.
    if (now - seen.front().at > 3 * kTurnWindow) break;
  }
  if (std::none_of(seen.begin(), seen.end(), [](const SeenId& s) { return s.good; }))
    return Fail(seen.empty() ? kErrorIdMarkNotFound : kErrorCrc);
  std::vector<SeenId> order = TrackOrder(seen, DataRateBits(rate_));
  std::erase_if(order, [](const SeenId& s) { return !s.good; });
  if (!timed) {
    const size_t found = std::min<size_t>({order.size(), (out.size() - 1) / 4, 255});
    out[0] = static_cast<uint8_t>(found);
    for (size_t k = 0; k < found; ++k)
      std::memcpy(out.data() + 1 + 4 * k, order[k].chrn.data(), 4);
    bytesReturned = static_cast<uint32_t>(1 + 4 * found);
    return Succeed();
  }
  const size_t found = std::min<size_t>({order.size(), (out.size() - kTimedScanHead) / 8, 255});
  FD_TIMED_SCAN_RESULT result{};
  result.count = static_cast<uint8_t>(found);
  result.next = static_cast<uint8_t>(NextUnderHead(seen, order, found));
  const Micros turn = Revolution(seen);
  result.tracktime = static_cast<uint32_t>(turn.count());
  const Micros lead = IndexLead(DataRateBits(rate_));
  for (size_t k = 0; k < found; ++k) {
    const SeenId& s = order[k];
    const Micros after = lead + Wrap(s.at - order[0].at, turn);
    result.Header[k] = {static_cast<uint32_t>(after.count()), s.chrn[0], s.chrn[1], s.chrn[2],
                        s.chrn[3]};
  }
  bytesReturned = static_cast<uint32_t>(kTimedScanHead + 8 * found);
  std::memcpy(out.data(), &result, bytesReturned);
  return Succeed();
}

bool LinuxFloppy::ReadData(DeviceHandle fd, const FD_READ_WRITE_PARAMS& p, std::span<uint8_t> out,
                           uint32_t& bytesReturned) {
  const FdcCommand cmd = ReadDataCommand(unit_, p);
  if (out.size() < cmd.dataLength) return Fail(EINVAL);
  Reply reply{};
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
  Reply reply{};
  size_t moved = 0;
  return Execute(fd, cmd, field.data(), reply, moved);
}

bool LinuxFloppy::FormatTrack(DeviceHandle fd, const FD_FORMAT_PARAMS& p) {
  // The kernel refuses a data phase of no bytes, and the controller has no
  // defined meaning for a track of no sectors.
  if (p.sectors == 0) return Fail(kErrorInvalidParameter);
  const FdcCommand cmd = FormatCommand(unit_, p);
  std::vector<uint8_t> headers(cmd.dataLength);
  std::memcpy(headers.data(), p.Header, cmd.dataLength);
  Reply reply{};
  size_t moved = 0;
  return Execute(fd, cmd, headers.data(), reply, moved);
}

}  // namespace kelvara
