// A Greaseweazle with a drive and a disk, for tests and demonstrations: it
// answers the device's protocol on a pseudo-terminal, so the host code that
// talks to it is the code that talks to the hardware. The disk is any image;
// each track is laid out as raw bytes (its own raw track where it has one),
// encoded as MFM cells and turned under the head at 300 rpm, with the faults
// that the options ask for.
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
  int overflows = 0;   // the first reads that end in FluxOverflow
  int underflows = 0;  // the first writes that end in FluxUnderflow
  bool writeProtected = false;
  bool trk0Stuck = false;  // the track-0 sensor asserted on every cylinder
  int firmware = 106;      // the version GetInfo reports, major * 100 + minor
  // Data fields that the first write of their track leaves damaged (a
  // speck of dirt the head then pushes away): a read-back finds them bad,
  // a second write is good.
  std::vector<SimulatedSector> writeFaults;
};

// "jitter=0.05,speed=-0.1,weak=T:R,dropout=T:R,writefault=T:R,noindex,
// wprot,seed=N,overflow=N,underflow=N", items in any order, weak, dropout
// and writefault repeatable; "" is a perfect disk. False with the reason in
// `error`.
bool ParseSimulatedMedia(const std::string& text, SimulatedMedia& media, std::string& error);

class SimulatedGreaseweazle {
 public:
  SimulatedGreaseweazle(std::unique_ptr<TZX_Disk> disk, SimulatedMedia media);
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
  // The firmware's watchdog: after this long without a command the motor
  // goes off and the unit is deselected (10 s on the device).
  void SetWatchdogMs(int ms) { watchdogMs_ = ms; }
  // The next read sends part of its stream and then the device is pulled
  // out: the line hangs up.
  void UnplugDuringNextRead() { unplug_ = true; }
  // The disk as it now reads, written tracks included, decoded without the
  // media's faults: what a virtual drive's disk would be saved as.
  void TakeDisk(TZX_Disk& out);

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
  std::atomic<int> writes_{0};
  std::atomic<int> watchdogMs_{10000};
  std::atomic<bool> unplug_{false};
  std::mutex mutex_;  // the drive and its tracks, between the device and TakeDisk
  std::chrono::steady_clock::time_point lastCommand_ = std::chrono::steady_clock::now();
  uint32_t lastBaud_ = 0;

  // The device and its drive.
  GwBus bus_ = GwBus::None;
  int unit_ = -1;
  bool motor_ = false;
  bool homed_ = false;
  int cylinder_ = 0;
  int head_ = 0;
  uint8_t fluxStatus_ = kGwOkay;
  int overflowsLeft_ = 0;
  int underflowsLeft_ = 0;
  std::vector<bool> writeFaultUsed_;
  double clockTicks_ = 0;  // the disk's turn, as time since power-on
  std::vector<Track> tracks_;
  Track noise_;  // past the image's last track: unformatted
  Rng rng_;
};

}  // namespace kelvara::flux
