// The virtual drive: an emulated controller and drive with a disk given as a
// disk image, for tests, demonstrations and machines without a floppy
// controller. It answers the driver's calls as a real controller would with
// that disk inserted, and keeps a simulated clock so that a run tells how
// long it would take on real hardware.
//
// The disk: image track cylinder * 2 + head; each track's present slots lie
// around the track in slot order, starting after the index, spread evenly
// over the revolution when they fit and cut off where they do not. The drive
// turns at 300 rpm and steps 3 ms per cylinder.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "drive/FloppyDriver.h"
#include "formats/ImageFiles.h"
#include "model/ZXDisk.h"

namespace kelvara {

inline constexpr uint32_t kVirtualDriverVersion = 0x01000100;
inline constexpr int kVirtualCylinders = 84;  // cylinders 0..83 can be reached
inline constexpr double kRevolutionSeconds = 0.2;
inline constexpr double kSeekSecondsPerCylinder = 0.003;

// The driver's calls, for fault plans and call counts.
enum class DriveCall {
  OpenDriver,
  OpenDrive,
  Version,
  SetDataRate,
  FdcInfo,
  Reset,
  Seek,
  Scan,
  Read,
  Write,
  Format,
};
inline constexpr int kDriveCallKinds = 11;

// Calls first..last (1-based, counted per kind of call) fail with `code`.
struct DriveFault {
  DriveCall call = DriveCall::Read;
  int first = 1;
  int last = 1;
  uint32_t code = kErrorCrc;
};

// Parses "CALL:N:CODE" or "CALL:N-M:CODE", CALL being one of open-driver,
// open-drive, version, rate, fdc-info, reset, seek, scan, read, write,
// format. On failure returns false with the reason in error.
bool ParseDriveFault(const std::string& text, DriveFault& fault, std::string& error);

struct VirtualDriveOptions {
  uint32_t version = kVirtualDriverVersion;
  uint8_t controllerType = 5;       // "82077AA"
  uint8_t diskRate = FD_RATE_250K;  // the density the disk was recorded at
  // Wall-clock seconds per simulated second: 1 turns the disk at a real
  // drive's speed (for demonstrations), 0 answers at once.
  double pace = 0;
};

// The environment variable that sets the pace of the virtual drive.
inline constexpr const char* kVirtualDrivePaceVariable = "KELVARA_VIRTUAL_DRIVE_PACE";

class VirtualFloppy final : public FloppyDriver {
 public:
  // A drive with no disk in it.
  VirtualFloppy();
  // A drive whose disk is loaded from imagePath when the driver is opened. A
  // file that does not exist gives an unformatted disk; one that does not
  // load makes the driver fail to open.
  explicit VirtualFloppy(std::string imagePath);
  ~VirtualFloppy() override;

  DeviceHandle Open(FloppyDevice device) override;
  void Close(DeviceHandle handle) override;

  VirtualDriveOptions& Options() { return options_; }
  const std::string& ImagePath() const { return imagePath_; }

  // Puts in an unformatted disk and returns it, for filling in place.
  TZX_Disk& InsertDisk();
  // Puts in the disk of an image file; false with the reason in Detail().
  bool LoadDisk(const std::string& path);
  void EjectDisk() { disk_.reset(); }
  TZX_Disk* Disk() { return disk_.get(); }
  // Saves the disk as an image file chosen by extension.
  bool SaveDisk(const std::string& path, const SaveOptions& options, std::string& error);

  void SetWriteProtected(bool on) { writeProtected_ = on; }
  void AddFault(const DriveFault& fault) { faults_.push_back(fault); }
  void ClearFaults() { faults_.clear(); }
  int CallCount(DriveCall call) const { return callCounts_[static_cast<int>(call)]; }

  int Cylinder() const { return cylinder_; }
  uint8_t DataRate() const { return rate_; }
  FloppyDevice OpenedDrive() const { return openedDrive_; }
  double SimulatedSeconds() const { return nowUs_ / 1e6; }
  double Revolutions() const { return SimulatedSeconds() / kRevolutionSeconds; }

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
  bool TimedScanTrack(DeviceHandle drive, const FD_SCAN_PARAMS& p, std::span<uint8_t> out,
                      uint32_t& bytesReturned) override;
  bool ReadData(DeviceHandle drive, const FD_READ_WRITE_PARAMS& p, std::span<uint8_t> out,
                uint32_t& bytesReturned) override;
  bool WriteData(DeviceHandle drive, const FD_READ_WRITE_PARAMS& p,
                 std::span<const uint8_t> data) override;
  bool FormatTrack(DeviceHandle drive, const FD_FORMAT_PARAMS& p) override;

 private:
  struct Placed {
    int slot;
    int idStart;  // byte position of the ID field after the index
  };

  // Counts the call and fails it when the fault plan says so.
  bool Faulted(DriveCall call);
  // With a pace set: waits as long as the simulated clock ran since the
  // last wait.
  void KeepPace();
  int TrackUnder(uint8_t head) const { return cylinder_ * 2 + (head & 1); }
  uint8_t TrackRate(int track) const;
  // The slots of a track that a revolution shows at the current rate, in
  // slot order; none when the track was recorded at another rate.
  std::vector<Placed> Visible(int track) const;
  // The matching slot whose ID field comes first under the head; -1 if none.
  const Placed* Find(const std::vector<Placed>& placed, int track, const FD_READ_WRITE_PARAMS& p,
                     uint8_t sector) const;

  // Sectors R up to one before the end-of-track number (at least R) on the
  // track under the head, each found by its whole ID: waits for each to pass
  // the head and hands its slot and its place in the call to `each`, which
  // returns false (having failed the call) to stop. A sector that is not
  // there, or with needData one without a data field, fails the call (27).
  template <typename Each>
  bool WalkSectors(const FD_READ_WRITE_PARAMS& p, bool needData, Each&& each);

  double UsPerByte() const;
  double AngleUs() const;
  void WaitForByte(int position);
  void WaitForIndex();
  void PassBytes(int count) { nowUs_ += count * UsPerByte(); }
  // A controller that finds nothing gives up at the second index pulse.
  void GiveUp();
  // The ID fields of the track under the head, as a scan would find them;
  // false (after the time a search costs) without a disk or without IDs.
  bool IdsUnderHead(uint8_t head, int& track, std::vector<Placed>& placed);

  VirtualDriveOptions options_;
  std::string imagePath_;
  bool imageLoaded_ = false;
  std::unique_ptr<TZX_Disk> disk_;
  std::array<uint8_t, kTrackCount> formattedRate_{};  // 0xFF: recorded at the disk's density
  bool writeProtected_ = false;
  std::vector<DriveFault> faults_;
  std::array<int, kDriveCallKinds> callCounts_{};

  bool controlOpen_ = false;
  bool driveOpen_ = false;
  FloppyDevice openedDrive_ = FloppyDevice::Drive0;
  uint8_t rate_ = FD_RATE_250K;
  int cylinder_ = 0;
  double nowUs_ = 0;
  double pacedUs_ = 0;
};

}  // namespace kelvara
