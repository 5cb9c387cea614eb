// The pseudo-terminal's line settings are read through termios2, like the
// host's: no <termios.h> here.
#include "drive/flux/SimulatedGreaseweazle.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "codec/Mfm.h"
#include "codec/MfmDecoder.h"
#include "drive/flux/FluxStream.h"
#include "formats/FluxImage.h"
#include "model/Arithmetic.h"
#include "model/ByteReader.h"

namespace kelvara::flux {

namespace {

constexpr int kPollMs = 5;
constexpr double kCellSeconds = 2e-6;
// The surface holds each bit cell as kFine slots, so that flux written at a
// drive's own speed lands where it was timed rather than on the nearest cell.
constexpr size_t kFine = 8;
// A revolution of 200 ms at the nominal speed: 100000 cells of 2 us, the
// same for every track whatever it holds.
constexpr size_t kRevolutionCells = 100000;
constexpr size_t kRingSlots = kRevolutionCells * kFine;
constexpr int kCylinders = 86;            // how far the simulated drive's head goes
constexpr double kNoIndexSeconds = 0.05;  // flux sent before a NoIndex read gives up
constexpr uint32_t kLingerUs = 500;
constexpr int kStreamWaitSeconds = 3;  // for the rest of a write stream
// A write begins this long after the index pulse: the firmware's latency.
constexpr double kWriteStartUs = 10;
// A stretch this long without a transition reads as noise: the read
// amplifier's gain rises until it finds some.
constexpr size_t kQuietCells = 8;
// An underflow stops the write after this share of its flux; the write gate
// stays on a little longer with nothing to write.
constexpr double kUnderflowShare = 0.5;
constexpr size_t kUnderflowGapCells = 256;

bool ParseSector(const std::string& value, SimulatedSector& s) {
  const size_t colon = value.find(':');
  if (colon == std::string::npos) return false;
  char* end = nullptr;
  s.track = static_cast<int>(std::strtol(value.c_str(), &end, 10));
  if (end != value.c_str() + colon) return false;
  s.sector = static_cast<int>(std::strtol(value.c_str() + colon + 1, &end, 10));
  return *end == '\0' && s.track >= 0 && s.track < kTrackCount && s.sector >= 0 && s.sector < 256;
}

bool ParseDouble(const std::string& value, double low, double high, double& out) {
  char* end = nullptr;
  out = std::strtod(value.c_str(), &end);
  return !value.empty() && *end == '\0' && out >= low && out <= high;
}

// "A:B", each part within its range.
bool ParsePair(const std::string& value, double lowA, double highA, double lowB, double highB,
               double& a, double& b) {
  const size_t colon = value.find(':');
  return colon != std::string::npos && ParseDouble(value.substr(0, colon), lowA, highA, a) &&
         ParseDouble(value.substr(colon + 1), lowB, highB, b);
}

// A command's 32-bit parameter at `at` (0 past its end).
uint32_t ParamU32(const std::vector<uint8_t>& cmd, size_t at) {
  uint32_t v = 0;
  ByteReader(std::span(cmd).subspan(std::min(at, cmd.size()))).U32(v);
  return v;
}

}  // namespace

bool ParseSimulatedMedia(const std::string& text, SimulatedMedia& media, std::string& error) {
  std::stringstream items(text);
  std::string item;
  while (std::getline(items, item, ',')) {
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
    bool ok = true;
    if (key == "noindex" && eq == std::string::npos) {
      media.noIndex = true;
    } else if (key == "wprot" && eq == std::string::npos) {
      media.writeProtected = true;
    } else if (key == "trk0stuck" && eq == std::string::npos) {
      media.trk0Stuck = true;
    } else if (key == "jitter") {
      ok = ParseDouble(value, 0, 0.25, media.jitter);
    } else if (key == "speed") {
      ok = ParseDouble(value, -0.2, 0.2, media.speedError);
    } else if (key == "weak" || key == "dropout" || key == "writefault") {
      SimulatedSector s;
      ok = ParseSector(value, s);
      (key == "weak"      ? media.weak
       : key == "dropout" ? media.dropout
                          : media.writeFaults)
          .push_back(s);
    } else if (key == "drift") {
      double from = 0;
      ok = ParsePair(value, 1, 1e9, -0.2, 0.2, from, media.driftSpeed);
      media.driftFrom = static_cast<int>(from);
    } else if (key == "underflow" && value.find(':') != std::string::npos) {
      double from = 0, count = 0;
      ok = ParsePair(value, 1, 1e9, 0, 1e9, from, count);
      media.underflowFrom = static_cast<int>(from);
      media.underflows = static_cast<int>(count);
    } else if (key == "seed" || key == "overflow" || key == "underflow") {
      double v = 0;
      ok = ParseDouble(value, 0, 1e9, v);
      if (key == "seed")
        media.seed = static_cast<uint64_t>(v);
      else
        (key == "overflow" ? media.overflows : media.underflows) = static_cast<int>(v);
    } else {
      ok = false;
    }
    if (!ok) {
      error = "simulated disk: bad item \"" + item + "\" (" + kSimulatedMediaItems + ")";
      return false;
    }
  }
  return true;
}

SimulatedGreaseweazle::SimulatedGreaseweazle(std::unique_ptr<TZX_Disk> disk, SimulatedMedia media,
                                             std::shared_ptr<DeviceClock> clock, bool blank)
    : disk_(std::move(disk)),
      media_(std::move(media)),
      clock_(clock ? std::move(clock) : SteadyClockShared()),
      blank_(blank),
      tracks_(kTrackCount),
      rng_(media_.seed) {
  overflowsLeft_ = media_.overflows;
  writeFaultUsed_.assign(media_.writeFaults.size(), false);
  lastCommand_ = clock_->Now();
}

double SimulatedGreaseweazle::SpeedOfNextCommand() {
  ++fluxCommands_;
  return media_.driftFrom > 0 && fluxCommands_ >= media_.driftFrom ? media_.driftSpeed
                                                                   : media_.speedError;
}

SimulatedGreaseweazle::~SimulatedGreaseweazle() {
  Stop();
}

bool SimulatedGreaseweazle::Start(std::string& error) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    error =
        std::string("simulated Greaseweazle: no pseudo-terminal (") + std::strerror(errno) + ")";
    Stop();
    return false;
  }
  char name[128];
  if (::ptsname_r(master_, name, sizeof name) != 0) {
    error = "simulated Greaseweazle: the pseudo-terminal has no name";
    Stop();
    return false;
  }
  path_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    error = "simulated Greaseweazle: " + path_ + ": " + std::strerror(errno);
    Stop();
    return false;
  }
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void SimulatedGreaseweazle::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
  slave_ = master_ = -1;
}

bool SimulatedGreaseweazle::ResetSeen() {
  // The line's settings are the slave's; the master reads them.
  termios2 t{};
  if (::ioctl(master_, TCGETS2, &t) != 0) return false;
  const uint32_t baud = t.c_ospeed;
  const bool reset = baud == kGwResetBaud && lastBaud_ != kGwResetBaud;
  lastBaud_ = baud;
  if (reset) ++resets_;
  return reset;
}

bool SimulatedGreaseweazle::Send(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    if (stop_ || ResetSeen()) return false;
    const ssize_t w = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
      continue;
    }
    if (w < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd p{master_, POLLOUT, 0};
    ::poll(&p, 1, kPollMs);
  }
  return true;
}

void SimulatedGreaseweazle::Run() {
  std::vector<uint8_t> in;
  uint8_t buffer[4096];
  while (!stop_) {
    if (master_ < 0) {  // unplugged
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
      continue;
    }
    pollfd p{master_, POLLIN, 0};
    ::poll(&p, 1, kPollMs);
    if (ResetSeen()) in.clear();
    const ssize_t r = ::read(master_, buffer, sizeof buffer);
    if (r > 0) in.insert(in.end(), buffer, buffer + r);
    // A command runs once its length byte is in and all of it has come.
    while (in.size() >= 2 && in.size() >= std::max<size_t>(in[1], 2)) {
      const size_t len = std::max<size_t>(in[1], 2);
      const std::vector<uint8_t> cmd(in.begin(), in.begin() + static_cast<long>(len));
      in.erase(in.begin(), in.begin() + static_cast<long>(len));
      Handle(cmd);
      // Bytes sent before the reply was read are thrown away.
      in.clear();
    }
  }
}

void SimulatedGreaseweazle::Ack(uint8_t cmd, uint8_t status, std::vector<uint8_t> payload) {
  std::vector<uint8_t> reply{cmd, status};
  if (status == kGwOkay) reply.insert(reply.end(), payload.begin(), payload.end());
  Send(reply);
}

bool SimulatedGreaseweazle::UnitValid(int unit) const {
  return unit >= 0 && unit < (bus_ == GwBus::Ibm ? 2 : 4);
}

void SimulatedGreaseweazle::Handle(const std::vector<uint8_t>& cmd) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const uint8_t code = cmd[0];
  const size_t len = cmd.size();
  auto ack = [&](uint8_t status) { Ack(code, status); };
  // The watchdog: a host that went quiet finds the motor off and no unit
  // selected (the head stays where it was).
  const auto now = clock_->Now();
  if (now - lastCommand_ > std::chrono::milliseconds(watchdogMs_.load())) {
    motor_ = false;
    unit_ = -1;
  }
  lastCommand_ = now;
  switch (static_cast<GwCommand>(code)) {
    case GwCommand::GetInfo: {
      if (len != 3) return ack(kGwBadCommand);
      std::vector<uint8_t> page(kGwInfoSize, 0);
      if (cmd[2] == 0) {
        GwInfo info;
        info.major = static_cast<uint8_t>(media_.firmware / 100);
        info.minor = static_cast<uint8_t>(media_.firmware % 100);
        info.mainFirmware = true;
        info.maxCommand = kGwMaxCommand;
        info.sampleFrequency = media_.sampleFrequency;
        info.hwModel = 7;
        info.usbSpeed = 1;
        PutGwInfo(info, std::span<uint8_t, kGwInfoSize>(page.data(), kGwInfoSize));
      } else if (cmd[2] == 7) {
        if (unit_ < 0) return ack(kGwNoUnit);
        page[0] = static_cast<uint8_t>(homed_ | motor_ << 1);
        page[4] = static_cast<uint8_t>(cylinder_);
      } else {
        return ack(kGwBadCommand);
      }
      return Ack(code, kGwOkay, page);
    }
    case GwCommand::SetBusType:
      if (len != 3 || cmd[2] > 2) return ack(kGwBadCommand);
      // The same bus again changes nothing: units, motor and cylinder stay.
      if (static_cast<GwBus>(cmd[2]) == bus_) return ack(kGwOkay);
      bus_ = static_cast<GwBus>(cmd[2]);
      unit_ = -1;
      motor_ = false;
      homed_ = false;
      return ack(kGwOkay);
    case GwCommand::Select:
      if (len != 3) return ack(kGwBadCommand);
      if (bus_ == GwBus::None) return ack(kGwNoBus);
      if (!UnitValid(cmd[2])) return ack(kGwBadUnit);
      unit_ = cmd[2];
      return ack(kGwOkay);
    case GwCommand::Deselect:
      unit_ = -1;
      return ack(kGwOkay);
    case GwCommand::Motor:
      if (len != 4 || cmd[3] > 1) return ack(kGwBadCommand);
      if (bus_ == GwBus::None) return ack(kGwNoBus);
      if (!UnitValid(cmd[2])) return ack(kGwBadUnit);
      motor_ = cmd[3] != 0;
      return ack(kGwOkay);
    case GwCommand::Seek: {
      if (len != 3 && len != 4) return ack(kGwBadCommand);
      if (unit_ < 0) return ack(kGwNoUnit);
      const int target =
          len == 3 ? static_cast<int8_t>(cmd[2]) : static_cast<int16_t>(cmd[2] | cmd[3] << 8);
      if (target < 0) return ack(kGwBadCylinder);
      // The first seek finds track 0; a head never passes its end stop.
      homed_ = true;
      cylinder_ = std::min(target, kCylinders - 1);
      highest_ = std::max(highest_.load(), cylinder_);
      if (target == 0) ++zeroSeeks_;
      return ack(kGwOkay);
    }
    case GwCommand::Head:
      if (len != 3 || cmd[2] > 1) return ack(kGwBadCommand);
      head_ = cmd[2];
      return ack(kGwOkay);
    case GwCommand::SetPin:
      if (len != 4 || cmd[3] > 1) return ack(kGwBadCommand);
      if (cmd[2] != kGwPinDensity) return ack(kGwBadPin);
      densityPin_ = cmd[3];
      return ack(kGwOkay);
    case GwCommand::GetPin:
      if (len != 3) return ack(kGwBadCommand);
      if (cmd[2] == kGwPinWrprot)
        return Ack(code, kGwOkay, {static_cast<uint8_t>(media_.writeProtected ? 0 : 1)});
      if (cmd[2] != kGwPinTrk0) return ack(kGwBadPin);
      return Ack(code, kGwOkay,
                 {static_cast<uint8_t>(media_.trk0Stuck || (homed_ && cylinder_ == 0) ? 0 : 1)});
    case GwCommand::GetFluxStatus:
      return ack(len == 2 ? fluxStatus_ : uint8_t{kGwBadCommand});
    case GwCommand::ReadFlux:
      return ReadFlux(cmd);
    case GwCommand::WriteFlux:
      return WriteFlux(cmd);
    case GwCommand::EraseFlux:
      return EraseFlux(cmd);
    case GwCommand::Reset:
      bus_ = GwBus::None;
      unit_ = -1;
      motor_ = false;
      homed_ = false;
      return ack(kGwOkay);
    default:
      return ack(kGwBadCommand);
  }
}

SimulatedGreaseweazle::Track& SimulatedGreaseweazle::TrackUnderHead() {
  return TrackAt(cylinder_ * 2 + head_);
}

SimulatedGreaseweazle::Track& SimulatedGreaseweazle::TrackAt(int index) {
  if (index >= kTrackCount) return noise_;
  Track& t = tracks_[static_cast<size_t>(index)];
  if (t.built) return t;
  t.built = true;
  // No cells: an unformatted track, which reads as noise.
  std::vector<uint8_t> bytes, sync;
  if (!disk_ || blank_ || !TrackRawBytes(*disk_, index, bytes, sync)) return t;
  // A revolution holds 100000 cells: a shorter recording ends in gap, a
  // longer one was cut by the index when it was written.
  const size_t revolutionBytes = kRevolutionCells / 16;
  if (bytes.size() < revolutionBytes) {
    bytes.resize(revolutionBytes, 0x4E);
    sync.resize(revolutionBytes, 0);
  }
  std::vector<uint8_t> cells;
  MfmCells(bytes, sync, cells);
  cells.resize(kRevolutionCells);
  t.cells.assign(kRingSlots, 0);
  for (size_t i = 0; i < cells.size(); ++i)
    t.cells[i * kFine + kFine / 2] = cells[i];
  auto add = [&](const std::vector<SimulatedSector>& list, bool weak) {
    for (const SimulatedSector& s : list) {
      size_t begin = 0, end = 0;
      if (s.track == index &&
          FindDataField(bytes, sync, static_cast<uint8_t>(s.sector), begin, end))
        t.faults.push_back({std::min((begin + 8) * 16 * kFine, kRingSlots),
                            std::min(end * 16 * kFine, kRingSlots), weak});
    }
  };
  add(media_.weak, true);
  add(media_.dropout, false);
  return t;
}

void SimulatedGreaseweazle::ReadFlux(const std::vector<uint8_t>& cmd) {
  const uint8_t code = cmd[0];
  if (cmd.size() != 8 && cmd.size() != 12) return Ack(code, kGwBadCommand);
  const uint32_t ticks = ParamU32(cmd, 2);
  const int maxIndex = cmd[6] | cmd[7] << 8;
  const uint32_t linger = cmd.size() == 12
                              ? ParamU32(cmd, 8)
                              : static_cast<uint32_t>(media_.sampleFrequency / 1e6 * kLingerUs);
  if (ticks == 0 && maxIndex == 0) return Ack(code, kGwBadCommand);
  ++reads_;
  Ack(code, kGwOkay);
  if (unit_ < 0) {
    // No drive selected, so no index: the firmware waits its 2 s for one
    // (cut short here) and sends an empty stream; GetFluxStatus says NoIndex.
    fluxStatus_ = maxIndex > 0 ? kGwNoIndex : kGwOkay;
    Send({0});
    return;
  }

  Track& track = TrackUnderHead();
  const double speed = SpeedOfNextCommand();
  const double slotTicks = media_.sampleFrequency * kCellSeconds / kFine;
  SurfaceTiming timing{slotTicks,         speed,
                       media_.jitter,     motor_ && !media_.noIndex && homed_,
                       slotTicks * kFine, kQuietCells * kFine};
  const double revTicks = static_cast<double>(kRingSlots) * slotTicks / (1 + speed);
  uint64_t revolution = static_cast<uint64_t>(clockTicks_ / revTicks);
  const double angle = RemainderNonNegative(clockTicks_, revTicks) / revTicks;
  const auto start = static_cast<size_t>(angle * static_cast<double>(kRingSlots));
  // Without index pulses (no disk turning, a broken sensor) the device
  // gives up after 2 s; the simulation cuts that short.
  const bool noIndex = !timing.index && maxIndex > 0;
  const uint64_t limit =
      noIndex ? static_cast<uint64_t>(kNoIndexSeconds * media_.sampleFrequency) : ticks;
  std::vector<uint8_t> noiseCells;
  std::span<const uint8_t> cells = track.cells;
  if (cells.empty()) {
    Noise(noiseCells, kRevolutionCells);
    cells = noiseCells;
  }
  FluxCapture capture;
  if (motor_) {
    CaptureSurface(cells, track.faults, timing, start, revolution, maxIndex, linger, limit, rng_,
                   capture);
  }
  clockTicks_ += static_cast<double>(capture.TotalTicks()) + 0.01 * media_.sampleFrequency;
  fluxStatus_ = kGwOkay;
  if (noIndex) {
    fluxStatus_ = kGwNoIndex;
  } else if (overflowsLeft_ > 0) {
    --overflowsLeft_;
    fluxStatus_ = kGwFluxOverflow;
  }
  std::vector<uint8_t> stream;
  if (fluxStatus_ != kGwOkay) {
    // The device drops what it still holds: the stream is cut short.
    capture.flux.resize(capture.flux.size() / 3);
    capture.index.clear();
  }
  EncodeFluxStream(capture, static_cast<uint32_t>(media_.sampleFrequency / 1e6 * 200), 1, stream);
  if (unplug_.exchange(false)) {
    stream.resize(stream.size() / 2);
    Send(stream);
    ::close(master_);
    ::close(slave_);
    master_ = slave_ = -1;
    return;
  }
  Send(stream);
}

void SimulatedGreaseweazle::Noise(std::vector<uint8_t>& cells, size_t bitCells) {
  // Flux at random, no two transitions closer than two cells.
  cells.assign(bitCells * kFine, 0);
  for (size_t i = 0; i < cells.size(); i += (2 + rng_.Next() % 6) * kFine)
    cells[i] = 1;
}

bool SimulatedGreaseweazle::ReceiveStream(std::vector<uint8_t>& out) {
  out.clear();
  uint8_t buffer[4096];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStreamWaitSeconds);
  const bool stall = stall_.exchange(false);
  while (!stop_ && std::chrono::steady_clock::now() < deadline) {
    if (ResetSeen()) return false;
    // A stalled transfer takes nothing more after its first packets.
    if (stall && out.size() >= sizeof buffer) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
      continue;
    }
    const ssize_t r = ::read(master_, buffer, sizeof buffer);
    if (r > 0) {
      out.insert(out.end(), buffer, buffer + r);
      const auto zero = std::find(out.end() - r, out.end(), uint8_t{0});
      if (zero != out.end()) {
        // What follows the 0 belongs to no command: it is dropped.
        out.erase(zero + 1, out.end());
        return true;
      }
      continue;
    }
    pollfd p{master_, POLLIN, 0};
    ::poll(&p, 1, kPollMs);
  }
  return false;
}

void SimulatedGreaseweazle::WriteFlux(const std::vector<uint8_t>& cmd) {
  const uint8_t code = cmd[0];
  if (cmd.size() != 4 && cmd.size() != 8) return Ack(code, kGwBadCommand);
  if (unit_ < 0) return Ack(code, kGwNoUnit);
  if (media_.writeProtected) return Ack(code, kGwWrprot);
  const bool cue = cmd[2] != 0;
  const bool terminate = cmd[3] != 0;
  Ack(code, kGwOkay);
  std::vector<uint8_t> stream;
  std::vector<uint32_t> flux;
  std::string error;
  if (!ReceiveStream(stream)) return;  // the host reset the line or went away
  const int number = ++writes_;
  const bool indexSeen = motor_ && !media_.noIndex && homed_;
  const bool underflow =
      number >= media_.underflowFrom && number < media_.underflowFrom + media_.underflows;
  if (!DecodeWriteStream(stream, flux, error)) {
    fluxStatus_ = kGwBadCommand;
  } else if (cue && !indexSeen) {
    fluxStatus_ = kGwNoIndex;
  } else {
    fluxStatus_ = underflow ? kGwFluxUnderflow : kGwOkay;
  }
  const int index = cylinder_ * 2 + head_;
  const bool writes = fluxStatus_ == kGwOkay || fluxStatus_ == kGwFluxUnderflow;
  if (writes && motor_ && index < kTrackCount) {
    Track& t = TrackAt(index);
    // An unformatted track is a revolution of noise to write over.
    if (t.cells.empty()) Noise(t.cells, kRevolutionCells);
    // Each transition lands in the slot under the head at its time, at the
    // speed the drive turns now; the head writes from just after the index
    // (or wherever the disk is) until the stream runs out or, told so, the
    // next index. The slots after the write keep what was there: the splice.
    const double slot = media_.sampleFrequency * kCellSeconds / kFine / (1 + SpeedOfNextCommand());
    const size_t n = t.cells.size();
    const size_t start =
        cue ? static_cast<size_t>(kWriteStartUs * 1e-6 * media_.sampleFrequency / slot)
            : static_cast<size_t>(RemainderNonNegative(clockTicks_, slot * static_cast<double>(n)) /
                                  slot);
    const size_t end = terminate ? (start / n + 1) * n : start + 4 * n;
    // An underflow: the device ran out of flux part-way and stopped there,
    // its write gate on a little longer with nothing to write.
    const size_t values =
        underflow ? static_cast<size_t>(static_cast<double>(flux.size()) * kUnderflowShare)
                  : flux.size();
    double time = 0;
    size_t last = start;
    for (size_t i = 0; i < values; ++i) {
      time += flux[i];
      const auto at = start + static_cast<size_t>(time / slot);
      for (size_t k = last; k < std::min(at, end); ++k)
        t.cells[k % n] = 0;
      if (at >= end) break;
      // The write stops as the last value is loaded: it is never written.
      if (i + 1 < flux.size()) t.cells[at % n] = 1;
      last = at + 1;
    }
    if (underflow) {
      for (size_t k = last; k < std::min(last + kUnderflowGapCells * kFine, end); ++k)
        t.cells[k % n] = 0;
    }
    t.written = true;
    PlaceFaults(index, t);
    clockTicks_ += time;
  }
  Send({fluxStatus_});
}

void SimulatedGreaseweazle::EraseFlux(const std::vector<uint8_t>& cmd) {
  const uint8_t code = cmd[0];
  if (cmd.size() != 6) return Ack(code, kGwBadCommand);
  if (unit_ < 0) return Ack(code, kGwNoUnit);
  if (media_.writeProtected) return Ack(code, kGwWrprot);
  Ack(code, kGwOkay);
  const int index = cylinder_ * 2 + head_;
  fluxStatus_ = kGwOkay;
  if (motor_ && index < kTrackCount) {
    Track& t = TrackAt(index);
    if (t.cells.empty()) t.cells.assign(kRingSlots, 0);
    const double slot = media_.sampleFrequency * kCellSeconds / kFine / (1 + SpeedOfNextCommand());
    const auto slots = static_cast<size_t>(ParamU32(cmd, 2) / slot);
    // A whole revolution erased leaves no flux at all, as a bulk-erased disk.
    std::fill(t.cells.begin(), t.cells.begin() + static_cast<long>(std::min(slots, t.cells.size())),
              uint8_t{0});
    t.written = true;
    PlaceFaults(index, t);
  }
  Send({fluxStatus_});
}

namespace {

// The track's cells read cleanly, three index pulses apart: the capture a
// perfect drive would make of two whole revolutions.
void CleanCapture(std::span<const uint8_t> cells, double cellTicks, FluxCapture& out) {
  Rng rng(1);
  uint64_t revolution = 0;
  CaptureSurface(cells, {}, SurfaceTiming{cellTicks, 0, 0, true}, 0, revolution, 3, 0, 0, rng, out);
}

}  // namespace

void SimulatedGreaseweazle::PlaceFaults(int index, Track& t) {
  t.faults.clear();
  bool any = false;
  for (const auto* list : {&media_.weak, &media_.dropout, &media_.writeFaults})
    for (const SimulatedSector& s : *list)
      any |= s.track == index;
  if (!any) return;
  FluxCapture capture;
  const double cellTicks = media_.sampleFrequency * kCellSeconds / kFine;
  CleanCapture(t.cells, cellTicks, capture);
  DecoderSettings settings;
  settings.sampleFrequency = media_.sampleFrequency;
  settings.cellsPerRevolution = 0;
  DecodedTrack decoded;
  DecoderScratch scratch;
  DecodeMfmTrack(capture, settings, decoded, scratch);
  // A data field's slots: from its mark (or a few bytes in) to its CRC.
  auto range = [&](int sector, size_t skip, size_t& begin, size_t& end) {
    for (const DecodedSector& d : decoded.sectors) {
      if (d.sec != sector || d.rawDataOffset <= 0) continue;
      begin = (static_cast<size_t>(d.rawDataOffset) + skip - 1) * 16 * kFine;
      end = (static_cast<size_t>(d.rawDataOffset) + FieldBytes(d.sizeCode) + 2) * 16 * kFine;
      return end <= t.cells.size();
    }
    return false;
  };
  auto add = [&](const std::vector<SimulatedSector>& list, bool weak) {
    for (const SimulatedSector& s : list) {
      size_t begin = 0, end = 0;
      if (s.track == index && range(s.sector, 8, begin, end))
        t.faults.push_back({begin, end, weak});
    }
  };
  add(media_.weak, true);
  add(media_.dropout, false);
  for (size_t k = 0; k < media_.writeFaults.size(); ++k) {
    const SimulatedSector& s = media_.writeFaults[k];
    size_t begin = 0, end = 0;
    if (writeFaultUsed_[k] || s.track != index || !range(s.sector, 0, begin, end)) continue;
    // The first write there leaves the field, its mark included, without
    // flux: it reads as noise whatever the sector holds.
    writeFaultUsed_[k] = true;
    std::fill(t.cells.begin() + static_cast<long>(begin), t.cells.begin() + static_cast<long>(end),
              uint8_t{0});
  }
}

bool SimulatedGreaseweazle::Written() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(tracks_.begin(), tracks_.end(), [](const Track& t) { return t.written; });
}

void SimulatedGreaseweazle::FormatBlank(const TZX_Disk& image) {
  if (!blank_ || Written()) return;
  const std::lock_guard<std::mutex> lock(mutex_);
  blank_ = false;
  auto fresh = std::make_unique<TZX_Disk>();
  for (int index = 0; index < kTrackCount; ++index) {
    const TTrack& from = image.GetTrack(static_cast<uint8_t>(index));
    if (!from.Present) continue;
    TTrack& to = fresh->GetTrack(static_cast<uint8_t>(index));
    to.Present = 0xFF;
    for (size_t slot = 0; slot < kSlotCount; ++slot) {
      const TSectorRec& s = from.Sectors[slot];
      if (!s.Present) continue;
      TSectorRec& d = to.Sectors[slot];
      d.SetId(s.Cyl, s.Head, s.Sec, s.SizeCode);
      d.Present = 0xFF;
      d.DataOk = 0xFF;
      std::span<uint8_t> data = d.MutableData(FieldBytes(s.SizeCode));
      std::fill(data.begin(), data.end(), uint8_t{0});
    }
    to.CountSectors();
  }
  fresh->CountTracks();
  disk_ = std::move(fresh);
  for (Track& t : tracks_)
    t = Track{};
}

void SimulatedGreaseweazle::TakeDisk(TZX_Disk& out) {
  const std::lock_guard<std::mutex> lock(mutex_);
  FluxImageLoad load;
  DecoderSettings settings;
  settings.sampleFrequency = media_.sampleFrequency;
  const double cellTicks = media_.sampleFrequency * kCellSeconds / kFine;
  FluxCapture capture;
  for (int index = 0; index < kTrackCount; ++index) {
    const Track& t = TrackAt(index);
    if (t.cells.empty()) continue;
    CleanCapture(t.cells, cellTicks, capture);
    load.AddCapture(index / 2, index % 2, capture, settings);
  }
  out.ClearImage();
  load.Store(out, false);
  out.CountTracks();
}

}  // namespace kelvara::flux
