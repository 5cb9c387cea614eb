// The Greaseweazle's USB protocol as it runs over its CDC-ACM serial port
// (little-endian):
//
//   command  [cmd u8][len u8][parameters], len counting the whole command
//   reply    [cmd echoed][status]; a payload follows only with status 0
//
// One command at a time: the whole reply (ACK, payload, flux stream) is read
// before the next one is sent. A reply whose echo differs from the command
// means the link lost step; so does a host that stopped reading mid-stream.
// Either is mended by the baud-rate side channel: a change of the line's
// rate to 10000 aborts whatever the device was doing and empties its
// buffers (it leaves motors and selection alone); going back to 9600 makes
// the next 10000 a change again.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kelvara::flux {

enum class GwCommand : uint8_t {
  GetInfo = 0,
  Seek = 2,
  Head = 3,
  SetParams = 4,
  GetParams = 5,
  Motor = 6,
  ReadFlux = 7,
  WriteFlux = 8,
  GetFluxStatus = 9,
  Select = 12,
  Deselect = 13,
  SetBusType = 14,
  SetPin = 15,
  Reset = 16,
  EraseFlux = 17,
  GetPin = 20,
};

enum GwStatus : uint8_t {
  kGwOkay = 0,
  kGwBadCommand = 1,
  kGwNoIndex = 2,
  kGwNoTrk0 = 3,
  kGwFluxOverflow = 4,
  kGwFluxUnderflow = 5,
  kGwWrprot = 6,
  kGwNoUnit = 7,
  kGwNoBus = 8,
  kGwBadUnit = 9,
  kGwBadPin = 10,
  kGwBadCylinder = 11,
  kGwOutOfSram = 12,
  kGwOutOfFlash = 13,
};

// The protocol's name of a status ("NoIndex") and what it means for the
// user, with what usually causes it.
const char* GwStatusName(uint8_t status);
std::string GwStatusText(uint8_t status);

// Bus types: an IBM PC cable reaches drives A (unit 0) and B (unit 1) by the
// twist in the cable; a straight Shugart cable reaches units 0..3 by their
// drive-select jumpers.
enum class GwBus : uint8_t { None = 0, Ibm = 1, Shugart = 2 };

inline constexpr uint32_t kGwResetBaud = 10000;
inline constexpr uint32_t kGwNormalBaud = 9600;
inline constexpr size_t kGwInfoSize = 32;
inline constexpr uint8_t kGwPinTrk0 = 26;
inline constexpr uint8_t kGwPinWrprot = 28;
inline constexpr uint8_t kGwPinDensity = 2;
inline constexpr uint8_t kGwMaxCommand = 22;
// The oldest firmware whose protocol this host speaks.
inline constexpr int kGwMinFirmware = 31;  // 0.31, as major * 100 + minor

// GetInfo page 0.
struct GwInfo {
  uint8_t major = 0, minor = 0;
  bool mainFirmware = false;  // false: the bootloader, which reads no disk
  uint8_t maxCommand = 0;
  uint32_t sampleFrequency = 0;  // ticks per second of every time on the link
  uint8_t hwModel = 0, hwSubmodel = 0;
  uint8_t usbSpeed = 0;  // 0 Full Speed, 1 High Speed
};

GwInfo ParseGwInfo(std::span<const uint8_t, kGwInfoSize> bytes);
void PutGwInfo(const GwInfo& info, std::span<uint8_t, kGwInfoSize> out);
// "F7 firmware 1.6, 72 MHz".
std::string DescribeGwInfo(const GwInfo& info);

}  // namespace kelvara::flux
