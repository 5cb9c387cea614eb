// The host end of a Greaseweazle over its serial node (/dev/ttyACM*,
// /dev/greaseweazle, or the pseudo-terminal of the simulated device): the
// line in raw mode through termios2 (the reset rate of 10000 is not one of
// the standard rates), the reset on open, one command at a time with its
// ACK checked, and every wait bounded by a timeout long enough for what the
// drive does meanwhile (motor spin-up, a seek from cylinder 0, a read of
// several revolutions).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drive/flux/Greaseweazle.h"

namespace kelvara::flux {

// How long each kind of command may take before the device counts as gone.
struct LinkTimeouts {
  int commandMs = 1500;       // anything quick
  int motorMs = 4000;         // motor_delay (750 ms) and more
  int seekMs = 10000;         // 256 steps of up to 30 ms from an unknown place
  int readBaseMs = 3500;      // the 2 s the device waits for an index, and then some
  int perRevolutionMs = 400;  // each revolution asked for (300 rpm, or slower)
  int writeMs = 4000;         // the index wait (2 s) and a revolution or two
};

// Why the last call failed.
enum class LinkFault { None, Status, Timeout, Io, OutOfStep, BadStream, Firmware };

class GreaseweazleLink {
 public:
  GreaseweazleLink() = default;
  ~GreaseweazleLink();
  GreaseweazleLink(const GreaseweazleLink&) = delete;
  GreaseweazleLink& operator=(const GreaseweazleLink&) = delete;

  // Opens the node, resets the link and asks GetInfo; refuses the
  // bootloader and firmware older than 0.31.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const GwInfo& Info() const { return info_; }
  LinkTimeouts& Timeouts() { return timeouts_; }

  bool SetBusType(GwBus bus);
  bool Select(uint8_t unit);
  bool Deselect();
  bool Motor(uint8_t unit, bool on);
  bool Seek(int cylinder);
  bool Head(uint8_t head);
  // Level of an input pin (0 = asserted for the active-low drive signals).
  bool GetPin(uint8_t pin, uint8_t& level);
  // Holds an output pin (2: density select) low (0) or high (1).
  bool SetPin(uint8_t pin, uint8_t level);
  // The device's own reset: no bus, drives deselected with their motors
  // off, pins idle; the next seek after choosing the drive again finds
  // track 0 by stepping out until the sensor.
  bool Reset();
  // Reads until `maxIndex` index pulses (and the device's linger after the
  // last) or `ticks` (0: no limit), then asks GetFluxStatus; an overflow is
  // retried up to five times. The stream ends with its 0.
  bool ReadFlux(uint32_t ticks, uint16_t maxIndex, std::vector<uint8_t>& stream);
  // Writes a stream made by EncodeWriteStream, starting at the index when
  // `cue` and stopping at the next one when `terminate`; a write-protected
  // disk is refused at the ACK (status Wrprot) before anything is written.
  // An underflow (the host too slow for the device) is retried up to five
  // times. A stream whose sending fails part-way leaves the device waiting
  // for the rest: the link is reset so that it takes the next command as one.
  bool WriteFlux(const std::vector<uint8_t>& stream, bool cue, bool terminate);
  // Holds the write gate for `ticks` with no transitions.
  bool EraseFlux(uint32_t ticks);
  // The baud-rate reset: aborts what the device is doing and drops what it
  // and the host still hold.
  bool ResetComms();

  LinkFault Fault() const { return fault_; }
  uint8_t Status() const { return status_; }  // device status of a LinkFault::Status
  const std::string& Error() const { return error_; }

 private:
  bool Command(GwCommand cmd, std::initializer_list<uint8_t> params, int timeoutMs,
               std::vector<uint8_t>* payload = nullptr, size_t payloadSize = 0);
  bool SetBaud(uint32_t baud);
  bool WriteAll(const uint8_t* p, size_t n, int timeoutMs);
  // Reads exactly n bytes before the deadline (ms on the steady clock).
  bool ReadExact(uint8_t* p, size_t n, int64_t deadline);
  // The status byte that ends a write or erase, then GetFluxStatus.
  bool FinishFluxCommand(GwCommand cmd, int timeoutMs);
  bool Fail(LinkFault fault, std::string text);
  bool FailStatus(GwCommand cmd, uint8_t status);

  int fd_ = -1;
  std::string path_;
  GwInfo info_;
  LinkTimeouts timeouts_;
  LinkFault fault_ = LinkFault::None;
  uint8_t status_ = 0;
  std::string error_;
};

}  // namespace kelvara::flux
