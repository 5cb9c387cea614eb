// termios2 comes from the kernel's headers, which cannot share a unit with
// <termios.h>: this file talks to the line through ioctl alone.
#include "drive/flux/GreaseweazleLink.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace kelvara::flux {

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

const char* CommandName(GwCommand c) {
  switch (c) {
    case GwCommand::GetInfo:
      return "GetInfo";
    case GwCommand::Seek:
      return "Seek";
    case GwCommand::Head:
      return "Head";
    case GwCommand::Motor:
      return "Motor";
    case GwCommand::ReadFlux:
      return "ReadFlux";
    case GwCommand::GetFluxStatus:
      return "GetFluxStatus";
    case GwCommand::Select:
      return "Select";
    case GwCommand::Deselect:
      return "Deselect";
    case GwCommand::SetBusType:
      return "SetBusType";
    case GwCommand::GetPin:
      return "GetPin";
    case GwCommand::WriteFlux:
      return "WriteFlux";
    case GwCommand::EraseFlux:
      return "EraseFlux";
    case GwCommand::SetPin:
      return "SetPin";
    case GwCommand::Reset:
      return "Reset";
    default:
      return "command";
  }
}

constexpr int kOverflowRetries = 5;
constexpr int kUnderflowRetries = 5;

}  // namespace

GreaseweazleLink::~GreaseweazleLink() {
  Close();
}

void GreaseweazleLink::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool GreaseweazleLink::Fail(LinkFault fault, std::string text) {
  fault_ = fault;
  error_ = std::move(text);
  return false;
}

bool GreaseweazleLink::FailStatus(GwCommand cmd, uint8_t status) {
  status_ = status;
  return Fail(LinkFault::Status, GwStatusText(status) + " after " + CommandName(cmd));
}

bool GreaseweazleLink::SetBaud(uint32_t baud) {
  termios2 t{};
  if (::ioctl(fd_, TCGETS2, &t) != 0)
    return Fail(LinkFault::Io, path_ + ": not a serial line (" + std::strerror(errno) + ")");
  // Raw 8N1: no echo, no line editing, no CR/LF mapping, no XON/XOFF, no
  // signals from the bytes of a flux stream.
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = t.c_ospeed = baud;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::ioctl(fd_, TCSETS2, &t) != 0)
    return Fail(LinkFault::Io, path_ + ": cannot set the line to " + std::to_string(baud) +
                                   " baud (" + std::strerror(errno) + ")");
  return true;
}

bool GreaseweazleLink::ResetComms() {
  // The device acts on a change to the reset rate, not on the rate: a line
  // left at 10000 by a program that died there goes to 9600 first. Each
  // rate is held a moment so that whoever polls for it sees it.
  for (const uint32_t baud : {kGwNormalBaud, kGwResetBaud, kGwNormalBaud}) {
    if (!SetBaud(baud)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  ::ioctl(fd_, TCFLSH, TCIFLUSH);
  // What was already on its way is read and dropped until the line is quiet.
  uint8_t junk[4096];
  const int64_t until = NowMs() + 500;
  while (NowMs() < until) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 30) <= 0) break;
    if (::read(fd_, junk, sizeof junk) <= 0) break;
  }
  return true;
}

bool GreaseweazleLink::Open(const std::string& path) {
  Close();
  fault_ = LinkFault::None;
  path_ = path;
  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    const int e = errno;
    std::string why = std::strerror(e);
    if (e == EACCES)
      why += ": the user may not use the device (see the udev rule in the README)";
    else if (e == ENOENT)
      why += ": is the Greaseweazle plugged in?";
    return Fail(LinkFault::Io, path + ": " + why);
  }
  // One program at a time on the device.
  ::ioctl(fd_, TIOCEXCL);
  if (!ResetComms()) {
    Close();
    return false;
  }
  std::vector<uint8_t> info;
  if (!Command(GwCommand::GetInfo, {0}, timeouts_.commandMs, &info, kGwInfoSize)) {
    Close();
    return false;
  }
  info_ = ParseGwInfo(std::span<const uint8_t, kGwInfoSize>(info.data(), kGwInfoSize));
  if (!info_.mainFirmware) {
    Close();
    return Fail(LinkFault::Firmware,
                path +
                    ": the Greaseweazle runs its bootloader (update mode): remove the update "
                    "jumper and plug it in again");
  }
  if (info_.major * 100 + info_.minor < kGwMinFirmware || info_.sampleFrequency == 0) {
    Close();
    return Fail(LinkFault::Firmware,
                path + ": Greaseweazle firmware " + std::to_string(info_.major) + "." +
                    std::to_string(info_.minor) + " is too old; update it to " +
                    std::to_string(kGwMinFirmware / 100) + "." +
                    std::to_string(kGwMinFirmware % 100) + " or later");
  }
  return true;
}

bool GreaseweazleLink::WriteAll(const uint8_t* p, size_t n, int timeoutMs) {
  const int64_t deadline = NowMs() + timeoutMs;
  while (n > 0) {
    const ssize_t w = ::write(fd_, p, n);
    if (w > 0) {
      p += w;
      n -= static_cast<size_t>(w);
      continue;
    }
    if (w < 0 && errno != EAGAIN && errno != EINTR)
      return Fail(LinkFault::Io, path_ + ": " + std::strerror(errno));
    const int64_t left = deadline - NowMs();
    if (left <= 0) return Fail(LinkFault::Timeout, path_ + ": the device takes no commands");
    pollfd q{fd_, POLLOUT, 0};
    ::poll(&q, 1, static_cast<int>(std::min<int64_t>(left, 100)));
  }
  return true;
}

bool GreaseweazleLink::ReadExact(uint8_t* p, size_t n, int64_t deadline) {
  while (n > 0) {
    const ssize_t r = ::read(fd_, p, n);
    if (r > 0) {
      p += r;
      n -= static_cast<size_t>(r);
      continue;
    }
    if (r < 0 && errno != EAGAIN && errno != EINTR)
      return Fail(LinkFault::Io, path_ + ": " + std::strerror(errno));
    const int64_t left = deadline - NowMs();
    if (left <= 0) return Fail(LinkFault::Timeout, "");
    pollfd q{fd_, POLLIN, 0};
    if (::poll(&q, 1, static_cast<int>(std::min<int64_t>(left, 100))) > 0 &&
        (q.revents & (POLLHUP | POLLERR)) && !(q.revents & POLLIN))
      return Fail(LinkFault::Io, path_ + ": the device went away");
  }
  return true;
}

bool GreaseweazleLink::Command(GwCommand cmd, std::initializer_list<uint8_t> params, int timeoutMs,
                               std::vector<uint8_t>* payload, size_t payloadSize) {
  if (fd_ < 0) return Fail(LinkFault::Io, "the Greaseweazle is not open");
  fault_ = LinkFault::None;
  uint8_t bytes[16];
  size_t n = 0;
  bytes[n++] = static_cast<uint8_t>(cmd);
  bytes[n++] = static_cast<uint8_t>(2 + params.size());
  for (uint8_t p : params)
    if (n < sizeof bytes) bytes[n++] = p;
  if (!WriteAll(bytes, n, timeoutMs)) return false;
  uint8_t ack[2];
  const int64_t deadline = NowMs() + timeoutMs;
  if (!ReadExact(ack, 2, deadline)) {
    if (fault_ == LinkFault::Timeout) {
      ResetComms();
      return Fail(LinkFault::Timeout, std::string("Greaseweazle: no answer to ") +
                                          CommandName(cmd) + " within " +
                                          std::to_string(timeoutMs) + " ms");
    }
    return false;
  }
  if (ack[0] != static_cast<uint8_t>(cmd)) {
    ResetComms();
    return Fail(LinkFault::OutOfStep, std::string("Greaseweazle: the link lost step (") +
                                          CommandName(cmd) + " answered as command " +
                                          std::to_string(ack[0]) + "); it was reset");
  }
  if (ack[1] != kGwOkay) return FailStatus(cmd, ack[1]);
  if (payload) {
    payload->assign(payloadSize, 0);
    if (!ReadExact(payload->data(), payloadSize, deadline)) {
      if (fault_ == LinkFault::Timeout) {
        ResetComms();
        return Fail(LinkFault::Timeout,
                    std::string("Greaseweazle: the reply to ") + CommandName(cmd) + " was cut");
      }
      return false;
    }
  }
  return true;
}

bool GreaseweazleLink::SetBusType(GwBus bus) {
  return Command(GwCommand::SetBusType, {static_cast<uint8_t>(bus)}, timeouts_.commandMs);
}

bool GreaseweazleLink::Select(uint8_t unit) {
  return Command(GwCommand::Select, {unit}, timeouts_.commandMs);
}

bool GreaseweazleLink::Deselect() {
  return Command(GwCommand::Deselect, {}, timeouts_.commandMs);
}

bool GreaseweazleLink::Motor(uint8_t unit, bool on) {
  return Command(GwCommand::Motor, {unit, static_cast<uint8_t>(on)}, timeouts_.motorMs);
}

bool GreaseweazleLink::Seek(int cylinder) {
  if (cylinder >= -128 && cylinder <= 127)
    return Command(GwCommand::Seek, {static_cast<uint8_t>(static_cast<int8_t>(cylinder))},
                   timeouts_.seekMs);
  const auto c = static_cast<uint16_t>(static_cast<int16_t>(cylinder));
  return Command(GwCommand::Seek, {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)},
                 timeouts_.seekMs);
}

bool GreaseweazleLink::Head(uint8_t head) {
  return Command(GwCommand::Head, {head}, timeouts_.commandMs);
}

bool GreaseweazleLink::GetPin(uint8_t pin, uint8_t& level) {
  std::vector<uint8_t> out;
  if (!Command(GwCommand::GetPin, {pin}, timeouts_.commandMs, &out, 1)) return false;
  level = out[0];
  return true;
}

bool GreaseweazleLink::SetPin(uint8_t pin, uint8_t level) {
  return Command(GwCommand::SetPin, {pin, level}, timeouts_.commandMs);
}

bool GreaseweazleLink::Reset() {
  return Command(GwCommand::Reset, {}, timeouts_.commandMs);
}

bool GreaseweazleLink::ReadFlux(uint32_t ticks, uint16_t maxIndex, std::vector<uint8_t>& stream) {
  for (int attempt = 0;; ++attempt) {
    stream.clear();
    const int timeout = timeouts_.readBaseMs + timeouts_.perRevolutionMs * maxIndex;
    if (!Command(GwCommand::ReadFlux,
                 {static_cast<uint8_t>(ticks), static_cast<uint8_t>(ticks >> 8),
                  static_cast<uint8_t>(ticks >> 16), static_cast<uint8_t>(ticks >> 24),
                  static_cast<uint8_t>(maxIndex), static_cast<uint8_t>(maxIndex >> 8)},
                 timeout))
      return false;
    // The stream runs to its only 0 byte.
    const int64_t deadline = NowMs() + timeout;
    size_t have = 0;
    bool hungUp = false;  // the last poll saw the line hang up
    for (;;) {
      if (stream.size() < have + 65536) stream.resize(have + 65536);
      const ssize_t r = ::read(fd_, stream.data() + have, stream.size() - have);
      // A device unplugged mid-read hangs the line up, after which reads
      // give nothing: the read ends at once rather than at its timeout.
      if (r == 0 && hungUp)
        return Fail(LinkFault::Io, path_ + ": the device went away during a read");
      if (r > 0) {
        const void* zero = std::memchr(stream.data() + have, 0, static_cast<size_t>(r));
        have += static_cast<size_t>(r);
        if (zero) {
          have = static_cast<size_t>(static_cast<const uint8_t*>(zero) - stream.data()) + 1;
          break;
        }
        continue;
      }
      if (r < 0 && errno != EAGAIN && errno != EINTR)
        return Fail(LinkFault::Io, path_ + ": " + std::strerror(errno));
      const int64_t left = deadline - NowMs();
      if (left <= 0) {
        ResetComms();
        return Fail(LinkFault::Timeout, "Greaseweazle: the flux stream did not end within " +
                                            std::to_string(timeout / 1000) +
                                            " s; the read was aborted");
      }
      pollfd q{fd_, POLLIN, 0};
      hungUp = ::poll(&q, 1, static_cast<int>(std::min<int64_t>(left, 100))) > 0 &&
               (q.revents & (POLLHUP | POLLERR));
    }
    stream.resize(have);
    // The outcome of the read comes only now: a stream cut by an error is
    // worth nothing.
    if (!Command(GwCommand::GetFluxStatus, {}, timeouts_.commandMs)) {
      if (fault_ == LinkFault::Status && status_ == kGwFluxOverflow &&
          attempt + 1 < kOverflowRetries)
        continue;
      stream.clear();
      if (fault_ == LinkFault::Status) error_ = GwStatusText(status_) + " while reading flux";
      return false;
    }
    return true;
  }
}

bool GreaseweazleLink::FinishFluxCommand(GwCommand cmd, int timeoutMs) {
  uint8_t status = 0;
  if (!ReadExact(&status, 1, NowMs() + timeoutMs)) {
    if (fault_ == LinkFault::Timeout) {
      ResetComms();
      return Fail(LinkFault::Timeout, std::string("Greaseweazle: ") + CommandName(cmd) +
                                          " did not end within " + std::to_string(timeoutMs) +
                                          " ms; it was aborted");
    }
    return false;
  }
  // The status byte and GetFluxStatus say the same; the latter is what the
  // device keeps, and asking it keeps host and device in step.
  if (!Command(GwCommand::GetFluxStatus, {}, timeouts_.commandMs)) {
    if (fault_ == LinkFault::Status) error_ = GwStatusText(status_) + " after " + CommandName(cmd);
    return false;
  }
  return true;
}

bool GreaseweazleLink::WriteFlux(const std::vector<uint8_t>& stream, bool cue, bool terminate) {
  for (int attempt = 0;; ++attempt) {
    if (!Command(GwCommand::WriteFlux, {uint8_t{cue}, uint8_t{terminate}}, timeouts_.commandMs))
      return false;
    if (!WriteAll(stream.data(), stream.size(), timeouts_.writeMs)) {
      const LinkFault fault = fault_;
      const std::string error = error_;
      ResetComms();
      return Fail(fault, error + "; the write was aborted");
    }
    if (FinishFluxCommand(GwCommand::WriteFlux, timeouts_.writeMs)) return true;
    if (!(fault_ == LinkFault::Status && status_ == kGwFluxUnderflow &&
          attempt + 1 < kUnderflowRetries))
      return false;
  }
}

bool GreaseweazleLink::EraseFlux(uint32_t ticks) {
  if (!Command(GwCommand::EraseFlux,
               {static_cast<uint8_t>(ticks), static_cast<uint8_t>(ticks >> 8),
                static_cast<uint8_t>(ticks >> 16), static_cast<uint8_t>(ticks >> 24)},
               timeouts_.commandMs))
    return false;
  return FinishFluxCommand(GwCommand::EraseFlux, timeouts_.writeMs);
}

}  // namespace kelvara::flux
