// The raw floppy driver's control codes, parameter records, data-rate codes
// and controller types, as the driver publishes them. Every record is a run
// of unsigned bytes in a fixed order with no padding: the bytes of a record
// are the bytes the driver takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>

namespace kelvara {

// A device control code: device type 0x22 (unknown device), read and write
// access (3), the function number and the transfer method.
constexpr uint32_t FdrawControlCode(uint32_t function, uint32_t method) {
  return (0x22u << 16) | (3u << 14) | (function << 2) | method;
}
inline constexpr uint32_t kMethodBuffered = 0;
inline constexpr uint32_t kMethodInDirect = 1;
inline constexpr uint32_t kMethodOutDirect = 2;

inline constexpr uint32_t IOCTL_FDRAWCMD_GET_VERSION = 0x0022E220;
inline constexpr uint32_t IOCTL_FD_SET_DATA_RATE = 0x0022E410;
inline constexpr uint32_t IOCTL_FD_GET_FDC_INFO = 0x0022E414;
inline constexpr uint32_t IOCTL_FD_RESET = 0x0022E408;
inline constexpr uint32_t IOCTL_FDCMD_SEEK = 0x0022E03C;
inline constexpr uint32_t IOCTL_FD_SCAN_TRACK = 0x0022E400;
inline constexpr uint32_t IOCTL_FDCMD_READ_DATA = 0x0022E01A;
inline constexpr uint32_t IOCTL_FDCMD_WRITE_DATA = 0x0022E015;
inline constexpr uint32_t IOCTL_FDCMD_FORMAT_TRACK = 0x0022E034;

static_assert(IOCTL_FDRAWCMD_GET_VERSION == FdrawControlCode(0x888, kMethodBuffered));
static_assert(IOCTL_FD_SET_DATA_RATE == FdrawControlCode(0x904, kMethodBuffered));
static_assert(IOCTL_FD_GET_FDC_INFO == FdrawControlCode(0x905, kMethodBuffered));
static_assert(IOCTL_FD_RESET == FdrawControlCode(0x902, kMethodBuffered));
static_assert(IOCTL_FDCMD_SEEK == FdrawControlCode(0x80F, kMethodBuffered));
static_assert(IOCTL_FD_SCAN_TRACK == FdrawControlCode(0x900, kMethodBuffered));
static_assert(IOCTL_FDCMD_READ_DATA == FdrawControlCode(0x806, kMethodOutDirect));
static_assert(IOCTL_FDCMD_WRITE_DATA == FdrawControlCode(0x805, kMethodInDirect));
static_assert(IOCTL_FDCMD_FORMAT_TRACK == FdrawControlCode(0x80D, kMethodBuffered));

// The timed scan of the fast read: the ID fields of one revolution, each with
// its time after the index, and which of them comes under the head next.
// Backends without it answer as to any unknown code.
inline constexpr uint32_t IOCTL_FD_TIMED_SCAN_TRACK = 0x0022E454;
static_assert(IOCTL_FD_TIMED_SCAN_TRACK == FdrawControlCode(0x915, kMethodBuffered));

// Command option bits of the flags byte; they sit where the controller's
// command byte has them (multi-track, MFM, skip deleted).
inline constexpr uint8_t FD_OPTION_MT = 0x80;
inline constexpr uint8_t FD_OPTION_MFM = 0x40;
inline constexpr uint8_t FD_OPTION_SK = 0x20;

#pragma pack(push, 1)

struct FD_ID_HEADER {
  uint8_t cyl, head, sector, size;
};

struct FD_SEEK_PARAMS {
  uint8_t cyl, head;
};

struct FD_SCAN_PARAMS {
  uint8_t flags, head;
};

// The scan's answer: a count byte, then one header per ID field found. The
// count byte is not relied on: the number of headers follows from the number
// of bytes returned.
struct FD_SCAN_RESULT {
  uint8_t count;
  FD_ID_HEADER Header[255];
};

struct FD_TIMED_ID_HEADER {
  uint32_t reltime;  // microseconds from the index to the ID field
  uint8_t cyl, head, sector, size;
};

// The timed scan's answer: the headers in their order on the track from the
// index. `next` is the header that comes under the head first once the call
// has returned, so that a read can start there without waiting a turn.
struct FD_TIMED_SCAN_RESULT {
  uint8_t count;
  uint8_t next;
  uint32_t tracktime;  // microseconds of one revolution
  FD_TIMED_ID_HEADER Header[255];
};

struct FD_READ_WRITE_PARAMS {
  uint8_t flags;
  uint8_t phead;                    // the physical head (side) that reads or writes
  uint8_t cyl, head, sector, size;  // the wanted ID field
  uint8_t eot;                      // one past the last sector of the call
  uint8_t gap;
  uint8_t datalen;  // 0xFF: the size code gives the length
};

// Passed as 6 + 4 * sectors bytes: only the headers named by `sectors`.
struct FD_FORMAT_PARAMS {
  uint8_t flags, phead, size, sectors, gap, fillbyte;
  FD_ID_HEADER Header[255];
};

struct FD_FDC_INFO {
  uint8_t ControllerType;  // the only byte relied on
  uint8_t Reserved[15];
};

#pragma pack(pop)

static_assert(sizeof(FD_ID_HEADER) == 4);
static_assert(sizeof(FD_SEEK_PARAMS) == 2);
static_assert(sizeof(FD_SCAN_PARAMS) == 2);
static_assert(sizeof(FD_SCAN_RESULT) == 1 + 4 * 255);
static_assert(sizeof(FD_TIMED_ID_HEADER) == 8);
static_assert(offsetof(FD_TIMED_SCAN_RESULT, Header) == 6);
static_assert(sizeof(FD_READ_WRITE_PARAMS) == 9);
static_assert(offsetof(FD_FORMAT_PARAMS, Header) == 6);
static_assert(sizeof(FD_FDC_INFO) == 16);

inline constexpr size_t kFormatParamsHead = offsetof(FD_FORMAT_PARAMS, Header);
inline constexpr size_t kTimedScanHead = offsetof(FD_TIMED_SCAN_RESULT, Header);
// Bytes of a format record carrying n headers.
constexpr size_t FormatParamsSize(size_t sectors) {
  return kFormatParamsHead + 4 * sectors;
}

// A record's bytes, as passed to the driver.
template <typename Record>
std::span<const uint8_t> RecordBytes(const Record& r, size_t size = sizeof(Record)) {
  static_assert(std::is_trivially_copyable_v<Record>);
  return {reinterpret_cast<const uint8_t*>(&r), size};
}

// Data-rate codes: the byte of IOCTL_FD_SET_DATA_RATE and of setting `Rate`.
inline constexpr uint8_t FD_RATE_500K = 0;
inline constexpr uint8_t FD_RATE_300K = 1;
inline constexpr uint8_t FD_RATE_250K = 2;
inline constexpr uint8_t FD_RATE_1M = 3;

// The rate code of a settings-dialog item ("250K", "300K", "500K", "1M");
// -1 for any other text.
int DataRateCode(const std::string& name);
// The item of a rate code; "" for a code above 3.
const char* DataRateName(uint8_t code);
// Bits per second of a rate code (0 for a code above 3).
int DataRateBits(uint8_t code);

// The name shown for the controller type byte of FD_FDC_INFO.
const char* ControllerTypeName(uint8_t type);

// The driver's error codes (system error codes, shown in decimal).
// The drive's cylinder for the disk's: twice it when double stepping. It is
// never clamped: a cylinder past the drive's last one, where 80-track drives
// have their end stop, is a seek error, not a seek to the stop (which would
// put every later cylinder onto the same track).
inline constexpr int kLastDriveCylinder = 83;
constexpr int PhysicalCylinder(int cylinder, bool doubleStep) {
  return doubleStep ? 2 * cylinder : cylinder;
}

inline constexpr uint32_t kErrorInvalidFunction = 1;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorInvalidData = 13;
inline constexpr uint32_t kErrorWriteProtect = 19;
inline constexpr uint32_t kErrorNotReady = 21;
inline constexpr uint32_t kErrorCrc = 23;
inline constexpr uint32_t kErrorSeek = 25;
inline constexpr uint32_t kErrorSectorNotFound = 27;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorIoDevice = 1117;  // a controller failure of no other kind
inline constexpr uint32_t kErrorIdMarkNotFound = 1122;

}  // namespace kelvara
