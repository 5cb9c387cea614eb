// A Greaseweazle with a drive and a disk, for tests and demonstrations: it
// answers the device's protocol on a pseudo-terminal, so the host code that
// talks to it is the code that talks to the hardware. The disk is any image;
// each track is laid out as raw bytes (its own raw track where it has one),
// encoded as MFM cells and turned under the head, with the faults that the
// options ask for.
//
// The drive is modelled on real hardware, not on the host's assumptions:
// a revolution is 200 ms at the speed setting whatever the track holds (a
// longer recording is cut at the index, a shorter one ends in gap), the
// speed may change between commands, a write starts a little after the
// index, an underflow leaves the part of the track written before it, a
// stretch without flux reads as noise (the read amplifier's gain rises), and
// the 10 s watchdog lets the drive go on the clock the host's timers use.
//
// The device runs in a thread of its own; every wait in it is bounded, and
// destroying it stops the thread.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "codec/MfmEncoder.h"
#include "drive/flux/DeviceClock.h"
#include "drive/flux/Greaseweazle.h"
#include "drive/flux/SimulatedSurface.h"
#include "model/ZXDisk.h"

namespace kelvara::flux {

struct SimulatedSector {
  int track = 0;
  int sector = 0;
};

struct SimulatedMedia {
  double jitter = 0;                     // each transition within +-jitter of its interval
  double speedError = 0;                 // +0.1: the drive turns 10 % fast
  bool noIndex = false;                  // the index sensor gives nothing
  std::vector<SimulatedSector> weak;     // data fields that read badly every other revolution
  std::vector<SimulatedSector> dropout;  // data fields with no flux at all
  uint64_t seed = 1;
  uint32_t sampleFrequency = 72000000;
  int overflows = 0;      // the first reads that end in FluxOverflow
  int underflows = 0;     // writes that end in FluxUnderflow, having written part of the track
  int underflowFrom = 1;  // ... from this write on (counted from 1)
  // From the driftFrom-th read or write on (counted from 1; 0: never) the
  // drive turns at driftSpeed instead: a motor that warms up, a belt that
  // slips, a write current that loads the motor.
  int driftFrom = 0;
  double driftSpeed = 0;
  bool writeProtected = false;
  bool trk0Stuck = false;  // the track-0 sensor asserted on every cylinder
  int firmware = 106;      // the version GetInfo reports, major * 100 + minor
  // Data fields that the first write of their track leaves without flux (a
  // speck of dirt the head then pushes away): a read-back finds them bad or
  // missing whatever they hold, a second write is good.
  std::vector<SimulatedSector> writeFaults;
};

// Every item a simulated disk takes, as the help and the errors list them.
inline constexpr const char* kSimulatedMediaItems =
    "jitter=0..0.25, speed=-0.2..0.2, drift=N:SPEED (the speed from the N-th read or write "
    "on), weak=TRACK:SECTOR, dropout=TRACK:SECTOR, writefault=TRACK:SECTOR, noindex, wprot, "
    "trk0stuck, seed=N, overflow=N, underflow=N or underflow=FROM:N";

// Items of kSimulatedMediaItems separated by commas, in any order; weak,
// dropout and writefault repeatable; "" is a perfect disk. False with the
// reason in `error`.
bool ParseSimulatedMedia(const std::string& text, SimulatedMedia& media, std::string& error);

class SimulatedGreaseweazle {
 public:
  // `clock` runs the watchdog (nullptr: the steady clock). A `blank` disk
  // (its image file did not exist) is unformatted until FormatBlank.
  SimulatedGreaseweazle(std::unique_ptr<TZX_Disk> disk, SimulatedMedia media,
                        std::shared_ptr<DeviceClock> clock = nullptr, bool blank = false);
  ~SimulatedGreaseweazle();
  SimulatedGreaseweazle(const SimulatedGreaseweazle&) = delete;
  SimulatedGreaseweazle& operator=(const SimulatedGreaseweazle&) = delete;

  // Opens the pseudo-terminal and starts the device; false with the reason.
  bool Start(std::string& error);
  void Stop();
  // The node a host opens, e.g. /dev/pts/5.
  const std::string& DevicePath() const { return path_; }

  int ReadFluxCount() const { return reads_.load(); }
  int WriteFluxCount() const { return writes_.load(); }
  int ResetCount() const { return resets_.load(); }
  int SeeksToZero() const { return zeroSeeks_.load(); }
  // The farthest cylinder the head was taken to.
  int HighestCylinder() const { return highest_.load(); }
  // The firmware's watchdog: after this long without a command the motor
  // goes off and the unit is deselected (10 s on the device).
  void SetWatchdogMs(int ms) { watchdogMs_ = ms; }
  // The next read sends part of its stream and then the device is pulled
  // out: the line hangs up.
  void UnplugDuringNextRead() { unplug_ = true; }
  // The next write stream stops being taken part-way (a USB hiccup): the
  // device waits for the rest until the host resets the link.
  void StallNextWrite() { stall_ = true; }
  // The level last set on the density-select pin; -1 when never set.
  int DensityPin() const { return densityPin_.load(); }
  // A blank disk nothing has been written to yet becomes a freshly formatted
  // one of `image`'s geometry: its tracks, their sector IDs, data of zeros.
  void FormatBlank(const TZX_Disk& image);
  // The disk as it now reads, written tracks included, decoded without the
  // media's faults: what a virtual drive's disk would be saved as.
  void TakeDisk(TZX_Disk& out);
  // Some track was written or erased.
  bool Written();

 private:
  struct Track {
    bool built = false;
    bool written = false;
    std::vector<uint8_t> cells;
    std::vector<CellRange> faults;
  };

  void Run();
  // Sends a reply; false when the host reset the link or the device stops.
  bool Send(const std::vector<uint8_t>& bytes);
  bool ResetSeen();
  void Handle(const std::vector<uint8_t>& cmd);
  void Ack(uint8_t cmd, uint8_t status, std::vector<uint8_t> payload = {});
  void ReadFlux(const std::vector<uint8_t>& cmd);
  void WriteFlux(const std::vector<uint8_t>& cmd);
  void EraseFlux(const std::vector<uint8_t>& cmd);
  // The bytes the host sends up to and including their 0; false when none
  // came within the time a device waits.
  bool ReceiveStream(std::vector<uint8_t>& out);
  // An unformatted stretch of `bitCells` cells.
  void Noise(std::vector<uint8_t>& cells, size_t bitCells);
  Track& TrackUnderHead();
  Track& TrackAt(int index);
  // Lays the written cells' data fields out again, so that the media's
  // faults stay on the sectors they were given for.
  void PlaceFaults(int index, Track& t);
  bool UnitValid(int unit) const;
  // The speed error of the read or write now starting (counts it).
  double SpeedOfNextCommand();

  std::unique_ptr<TZX_Disk> disk_;
  SimulatedMedia media_;
  int master_ = -1;
  int slave_ = -1;  // kept open so that the line lives between hosts
  std::string path_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> reads_{0};
  std::atomic<int> resets_{0};
  std::atomic<int> zeroSeeks_{0};
  std::atomic<int> highest_{0};
  std::atomic<int> writes_{0};
  std::atomic<int> watchdogMs_{10000};
  std::atomic<bool> unplug_{false};
  std::atomic<bool> stall_{false};
  std::atomic<int> densityPin_{-1};
  std::mutex mutex_;  // the drive and its tracks, between the device and TakeDisk
  std::shared_ptr<DeviceClock> clock_;
  std::chrono::milliseconds lastCommand_{};
  uint32_t lastBaud_ = 0;
  bool blank_ = false;    // an unformatted disk nothing was written to yet
  int fluxCommands_ = 0;  // reads and writes so far

  // The device and its drive.
  GwBus bus_ = GwBus::None;
  int unit_ = -1;
  bool motor_ = false;
  bool homed_ = false;
  int cylinder_ = 0;
  int head_ = 0;
  uint8_t fluxStatus_ = kGwOkay;
  int overflowsLeft_ = 0;
  std::vector<bool> writeFaultUsed_;
  double clockTicks_ = 0;  // the disk's turn, as time since power-on
  std::vector<Track> tracks_;
  Track noise_;  // past the image's last track: unformatted
  Rng rng_;
};

}  // namespace kelvara::flux
