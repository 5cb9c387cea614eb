// The layer through which every drive is reached: devices opened by kind and
// one control call per operation of the driver's code table, each taking the
// driver's own parameter record as bytes. A failed call leaves an error code
// (shown in decimal) in LastError.
//
// Control() checks what every backend would have to check (a known code, a
// handle of the right device, records of the right length) and hands the
// decoded record to the backend.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "drive/Fdraw.h"

namespace kelvara {

class TZX_Disk;

// The driver's control device and the two drive devices (drive A, drive B).
enum class FloppyDevice { Control, Drive0, Drive1 };

using DeviceHandle = int;
inline constexpr DeviceHandle kInvalidHandle = -1;

// The bytes a scan is offered, and the transfer buffer of the drive layer.
inline constexpr size_t kScanBufferSize = 16384;
inline constexpr size_t kIoBufferSize = 32768;

// What a backend that reads whole tracks at once (a flux device) decoded of
// the track it last scanned, beyond the ID fields the scan returned.
struct TrackCapture {
  std::vector<uint8_t> raw;           // one revolution from the index; empty when none
  std::vector<uint16_t> dataOffsets;  // per header returned: its data in `raw`, 0 = not there
  std::string logLine;                // what the decoding found, for the track log
};

// What writing one track in a single pass (a flux device) did.
struct TrackWriteOutcome {
  bool written = false;  // the track went onto the disk at least once
  int writes = 0;        // passes made
  // Slots of the image's track whose sector did not come back with its ID
  // and bytes after the last pass; empty when all did or nothing was checked.
  std::vector<uint8_t> unverifiedSlots;
  uint32_t error = 0;            // the code for the failed sectors, or of a failed write
  std::vector<std::string> log;  // what each pass wrote and what its read-back found
};

// How far a failure reaches beyond the call that met it. The backend says
// it, as only it knows what its hardware told it; the runs act on it the same
// way for every backend (DriveChannel.h, RunFailures):
//
//   Call   the call alone failed: it is retried and logged, the run goes on.
//   Track  nothing more will work on this track (no index pulses, a drive
//          that timed out): the track's other calls are not made, and a run
//          whose first track, or two tracks in a row, end so is stopped.
//   Run    nothing more will work on this disk (it is write-protected, the
//          device went away): the run stops at once.
//
// The failure's text (FailureText) names the cause; the run's one LOG line
// and its message carry it.
enum class FailureReach : uint8_t { Call, Track, Run };

// The error codes a backend gives for calls that never reach the hardware.
struct CallErrorCodes {
  uint32_t invalidHandle;
  uint32_t invalidFunction;
  uint32_t invalidParameter;
};

class FloppyDriver {
 public:
  virtual ~FloppyDriver() = default;
  FloppyDriver(const FloppyDriver&) = delete;
  FloppyDriver& operator=(const FloppyDriver&) = delete;

  // Opens a device; kInvalidHandle on failure, with LastError set.
  virtual DeviceHandle Open(FloppyDevice device) = 0;
  virtual void Close(DeviceHandle handle) = 0;

  // One control call. For the write call `out` is the data to write (the
  // driver reads it), as the transfer method of that code has it.
  bool Control(DeviceHandle handle, uint32_t code, std::span<const uint8_t> in,
               std::span<uint8_t> out, uint32_t& bytesReturned);

  uint32_t LastError() const { return lastError_; }
  // The last call failed because the backend does not know it.
  bool LastCallUnsupported() const { return lastError_ == codes_.invalidFunction; }
  // Why the last failed open failed, in words, when the code alone does not
  // say it (for example the reason a virtual disk image did not load).
  const std::string& Detail() const { return detail_; }
  // Why the last call failed, in words, when the backend has more to say
  // than the code (a flux device's status); empty otherwise.
  const std::string& FailureText() const { return failureText_; }
  FailureReach LastFailureReach() const { return reach_; }

  // A flux device: the decoded track behind the last successful scan;
  // nullptr for a controller, which sees only the IDs.
  virtual const TrackCapture* LastScanCapture() const { return nullptr; }
  // The status-bar text for an opened backend that is not the fdrawcmd-like
  // driver (the version and controller type say nothing there); "" keeps
  // the standard text.
  virtual std::string StatusText() const { return {}; }
  // A backend that writes a whole track in one pass rather than formatting
  // and then writing sector by sector (a flux device).
  virtual bool WritesWholeTracks() const { return false; }
  // Writes track `track` of `disk` (laid out as raw track synthesis does,
  // with the image's raw bytes where it has them; with `formatOnly` the
  // sector table alone, each data field filled with `fill`) under the
  // head of the last seek, read back and written again up to `attempts`
  // passes while sectors do not come back. False with LastError when no
  // pass could be made.
  bool WriteTrack(DeviceHandle drive, const TZX_Disk& disk, int track, bool formatOnly,
                  uint8_t fill, int attempts, TrackWriteOutcome& outcome);
  // Before a writing run: the image it writes. A simulated device whose disk
  // is blank takes the image's geometry as a freshly formatted disk, so a
  // run over some tracks leaves a disk a sector dump can hold.
  virtual void PrepareForWriting(const TZX_Disk& image) { (void)image; }
  // Double stepping: a 40-track disk in an 80-track drive, its cylinder n
  // under the drive's 2n (the image's tracks keep the disk's numbers). A
  // backend without physical cylinders ignores it.
  virtual void SetDoubleStep(bool on) { (void)on; }
  // The wait after a seek that moved the head, before the next command, for
  // a backend whose seeks do not wait it themselves.
  virtual void SetSettleTime(int ms) { (void)ms; }
  // False, with the reason, for a backend that cannot write disks.
  virtual bool CanWrite(std::string& why) const {
    (void)why;
    return true;
  }

 protected:
  explicit FloppyDriver(CallErrorCodes codes) : codes_(codes) {}

  virtual bool IsControlHandle(DeviceHandle handle) const = 0;
  virtual bool IsDriveHandle(DeviceHandle handle) const = 0;

  // The operations, called with a handle of the right device and records of
  // the right size; each returns false through Fail().
  virtual bool GetVersion(uint32_t& version) = 0;
  virtual bool SetDataRate(DeviceHandle drive, uint8_t code) = 0;
  virtual bool GetFdcInfo(DeviceHandle drive, FD_FDC_INFO& info) = 0;
  virtual bool ResetController(DeviceHandle drive) = 0;
  virtual bool Seek(DeviceHandle drive, const FD_SEEK_PARAMS& p) = 0;
  // Fills `out` with the count byte and the headers.
  virtual bool ScanTrack(DeviceHandle drive, const FD_SCAN_PARAMS& p, std::span<uint8_t> out,
                         uint32_t& bytesReturned) = 0;
  // Fills `out` with an FD_TIMED_SCAN_RESULT of the headers that fit; a
  // backend without a timed scan answers as to an unknown code.
  virtual bool TimedScanTrack(DeviceHandle drive, const FD_SCAN_PARAMS& p, std::span<uint8_t> out,
                              uint32_t& bytesReturned);
  virtual bool ReadData(DeviceHandle drive, const FD_READ_WRITE_PARAMS& p, std::span<uint8_t> out,
                        uint32_t& bytesReturned) = 0;
  // `data` is never empty.
  virtual bool WriteData(DeviceHandle drive, const FD_READ_WRITE_PARAMS& p,
                         std::span<const uint8_t> data) = 0;
  virtual bool FormatTrack(DeviceHandle drive, const FD_FORMAT_PARAMS& p) = 0;
  virtual bool WriteWholeTrack(DeviceHandle drive, const TZX_Disk& disk, int track, bool formatOnly,
                               uint8_t fill, int attempts, TrackWriteOutcome& outcome);

  bool Fail(uint32_t code) {
    lastError_ = code;
    failureText_.clear();
    reach_ = FailureReach::Call;
    return false;
  }
  bool FailWith(uint32_t code, std::string text, FailureReach reach = FailureReach::Call) {
    lastError_ = code;
    failureText_ = std::move(text);
    reach_ = reach;
    return false;
  }
  bool Succeed() {
    lastError_ = 0;
    failureText_.clear();
    reach_ = FailureReach::Call;
    return true;
  }
  void SetDetail(std::string text) { detail_ = std::move(text); }
  const CallErrorCodes& Codes() const { return codes_; }

 private:
  bool Dispatch(DeviceHandle handle, uint32_t code, std::span<const uint8_t> in,
                std::span<uint8_t> out, uint32_t& bytesReturned);

  CallErrorCodes codes_;
  uint32_t lastError_ = 0;
  std::string detail_;
  std::string failureText_;
  FailureReach reach_ = FailureReach::Call;
};

// Sizes of the sectors a read or write may name: the controller knows size
// codes 0..7 (128 to 16384 bytes); higher codes are refused.
inline constexpr uint8_t kLargestSizeCode = 7;

// The virtual drive when virtualDiskImage (or else the environment variable
// KELVARA_VIRTUAL_DRIVE) names an image file, the Linux floppy otherwise.
std::unique_ptr<FloppyDriver> CreateFloppyDriver(const std::string& virtualDiskImage);
// The image file of the virtual drive that CreateFloppyDriver would choose;
// "" for the Linux floppy.
std::string VirtualDriveImage(const std::string& virtualDiskImage);

}  // namespace kelvara
