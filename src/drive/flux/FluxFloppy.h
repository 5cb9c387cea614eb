// A drive reached through a Greaseweazle flux reader, as a backend of the
// driver interface, so that every reading operation runs on it unchanged.
//
// A flux read takes a whole track at once: the first scan or sector read on
// a track captures two revolutions, decodes them and keeps the result; the
// scan answers with the IDs in the order they pass the head, the sector
// reads with the best copy of each sector, and the raw track bytes go along
// with the scan (LastScanCapture). A sector read again after it failed (a
// retry) captures the track anew and keeps any good copy the new
// revolutions give. Seeks and head changes drop the kept track.
//
// The device is opened with the "driver" (GetInfo, firmware check), the
// drive with the "drive": bus type, unit (drive A is unit 0, B unit 1, on
// either bus), motor on, the density-select pin when the settings hold it.
// The device lets the drive go after 10 s without a command (its watchdog):
// every call after a quiet spell, and every controller reset, chooses the
// drive and spins it up again.
//
// Writing is by whole tracks: the image's track is laid out as raw track
// synthesis does, turned into MFM cells and put through the writeout stage
// (Writeout.h: timing at the revolution measured on the drive, the tail,
// precompensation, the splice at the index). With verify on, the track is
// read back (two revolutions) and every sector must come back with its ID
// and bytes; the track is written again while some do not, up to the
// run's write passes.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "codec/MfmDecoder.h"
#include "drive/FloppyDriver.h"
#include "drive/flux/DeviceClock.h"
#include "drive/flux/FluxStream.h"
#include "drive/flux/GreaseweazleLink.h"
#include "drive/flux/SimulatedGreaseweazle.h"
#include "drive/flux/Writeout.h"
#include "formats/ImageFiles.h"
#include "model/SettingsRecord.h"

namespace kelvara::flux {

// The level held on the density-select pin 2, for 5.25" HD drives: what a
// level selects depends on the drive and its jumpers.
enum class DensitySelect : uint8_t { None, Low, High };

struct FluxDriveOptions {
  std::string device;          // the serial node; "" with simulatedImage
  std::string simulatedImage;  // an image in a simulated device on a pseudo-terminal
  SimulatedMedia media;        // the simulated disk's faults
  GwBus bus = GwBus::Ibm;
  int revolutions = 2;
  bool verify = true;       // read every written track back
  bool doubleStep = false;  // a 40-track disk in an 80-track drive: two steps a cylinder
  // Every this many attempts at one sector, the capture is made after a
  // trip of the head to cylinder 0 and back (setting RetryCount).
  int recalibrateEvery = 10;
  // Quiet time after which the device's watchdog (10 s) may have turned the
  // motor off and deselected: the drive is selected and spun up again first.
  int watchdogMarginMs = 8000;
  Precompensation precomp;  // off by default
  DensitySelect density = DensitySelect::None;
  // The clock of the quiet spells, the simulated device's too; nullptr: the
  // steady clock.
  std::shared_ptr<DeviceClock> clock;
};

// Reads the bus type from "ibm" or "shugart"; false for anything else.
bool ParseGwBus(const std::string& text, GwBus& bus);

// Options from the environment where the command line gives none:
// KELVARA_FLUX_BUS (ibm, shugart) and KELVARA_FLUX_SIM_MEDIA (the simulated
// disk's faults). False with the reason for a value that does not parse.
bool FluxOptionsFromEnvironment(FluxDriveOptions& options, std::string& error);

// Options from the settings (device or simulated image, bus, verify, double
// step, precompensation, density select), the environment's where the
// settings choose none. False with the reason for an environment value that
// does not parse.
bool FluxOptionsFromSettings(const TSettings& settings, FluxDriveOptions& options,
                             std::string& error);

class FluxFloppy final : public FloppyDriver {
 public:
  explicit FluxFloppy(FluxDriveOptions options);
  ~FluxFloppy() override;

  DeviceHandle Open(FloppyDevice device) override;
  void Close(DeviceHandle handle) override;

  const TrackCapture* LastScanCapture() const override {
    return lastScan_.logLine.empty() ? nullptr : &lastScan_;
  }
  std::string StatusText() const override;
  bool CanWrite(std::string& why) const override;
  bool WritesWholeTracks() const override { return true; }
  void SetDoubleStep(bool on) override { options_.doubleStep = on; }
  void PrepareForWriting(const TZX_Disk& image) override;
  // Options that change nothing of the device's identity (verify, double
  // step, precompensation, density), taken at once.
  void TakeOptions(const FluxDriveOptions& options);
  const FluxDriveOptions& Options() const { return options_; }
  // A simulated device: its disk, written tracks included, saved to the
  // image it was loaded from, when something was written. True for real
  // hardware.
  bool SaveSimulatedDisk(const SaveOptions& options, std::string& error);
  // The image a simulated device holds; "" for real hardware.
  const std::string& SimulatedImage() const { return options_.simulatedImage; }

  GreaseweazleLink& Link() { return link_; }
  SimulatedGreaseweazle* Simulated() { return simulated_.get(); }
  int Captures() const { return captures_; }

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
  bool ReadData(DeviceHandle drive, const FD_READ_WRITE_PARAMS& p, std::span<uint8_t> out,
                uint32_t& bytesReturned) override;
  bool WriteData(DeviceHandle drive, const FD_READ_WRITE_PARAMS& p,
                 std::span<const uint8_t> data) override;
  bool FormatTrack(DeviceHandle drive, const FD_FORMAT_PARAMS& p) override;
  bool WriteWholeTrack(DeviceHandle drive, const TZX_Disk& disk, int track, bool formatOnly,
                       uint8_t fill, int attempts, TrackWriteOutcome& outcome) override;

 private:
  // The decoded track under `head`, captured when not kept; nullptr after a
  // failure (already reported through FailWith).
  const DecodedTrack* Track(uint8_t head, bool fresh);
  bool FailLink();
  // Bus, unit, motor and density pin: the drive chosen and spinning.
  bool TakeDrive();
  // The drive chosen again after a quiet spell that the device's watchdog
  // may have ended it with.
  bool Spinning();
  const DecodedSector* Find(const FD_READ_WRITE_PARAMS& p, uint8_t sector) const;
  // The drive's revolution in sample ticks, measured once after the drive
  // is opened; false (reported) when the drive gives no index.
  bool MeasureRevolution();
  // Reads the track under the head back, lists the slots of `source` that
  // did not come back, and says what it found that the image does not have
  // (IDs of an earlier format) in `strays`.
  bool Verify(const TTrack& source, uint8_t head, std::vector<uint8_t>& failed,
              std::string& strays);
  // The track as written: the image's, or its sector table alone with every
  // data field filled.
  const TZX_Disk& TrackSource(const TZX_Disk& disk, int track, bool formatOnly, uint8_t fill);
  // The track laid out, encoded and put through the writeout stage.
  bool PrepareWriteout(const TZX_Disk& from, int track);
  // Write and verify passes of the prepared track.
  bool WritePasses(const TTrack& source, uint8_t head, int passes, TrackWriteOutcome& outcome);
  std::chrono::milliseconds Now() const { return options_.clock->Now(); }

  FluxDriveOptions options_;
  std::unique_ptr<SimulatedGreaseweazle> simulated_;
  GreaseweazleLink link_;
  bool controlOpen_ = false;
  bool driveOpen_ = false;
  uint8_t unit_ = 0;
  int cylinder_ = -1;
  DecoderSettings decoder_;
  DecoderScratch scratch_;
  std::vector<uint8_t> stream_;
  FluxCapture capture_;
  bool kept_ = false;  // track_ holds the track under keptHead_ at cylinder_
  uint8_t keptHead_ = 0;
  DecodedTrack track_;
  TrackCapture lastScan_;
  // The sector whose read failed last, so that the next read of it is a retry.
  int failedSector_ = -1;
  int captures_ = 0;
  int retries_ = 0;  // retries of the same track in a row
  std::chrono::milliseconds lastCommand_{};
  double revolutionTicks_ = 0;           // 0 until measured
  std::unique_ptr<TZX_Disk> formatted_;  // a track laid out for a format alone
  std::vector<uint8_t> bytes_, sync_, cells_;
  Writeout writeout_;
};

// The flux backend for a device node or a simulated device.
std::unique_ptr<FloppyDriver> CreateFluxFloppy(FluxDriveOptions options);

}  // namespace kelvara::flux
