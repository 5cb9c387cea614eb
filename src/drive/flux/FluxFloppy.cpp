#include "drive/flux/FluxFloppy.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "codec/Mfm.h"
#include "codec/MfmEncoder.h"
#include "drive/flux/Writeout.h"
#include "formats/ImageFiles.h"
#include "model/FileIO.h"

namespace kelvara::flux {

namespace {

constexpr DeviceHandle kControlHandle = 0x300;
constexpr DeviceHandle kDriveHandle = 0x301;
// Codes shown for failures of the link itself, in the system's numbering.
constexpr uint32_t kErrorTimeout = 121;        // the semaphore timeout period has expired
constexpr uint32_t kErrorNotConnected = 1167;  // the device is not connected

struct LinkFailure {
  uint32_t code;
  FailureReach reach;
};

// A failure of the link as the drive layer counts it. No index pulses end
// the track (the drive has no disk, or is not turning); a write-protected
// disk, or a device that went away, the whole run.
LinkFailure Classify(const GreaseweazleLink& link) {
  switch (link.Fault()) {
    case LinkFault::Status:
      switch (link.Status()) {
        case kGwNoIndex:
          return {kErrorNotReady, FailureReach::Track};
        case kGwNoUnit:
        case kGwNoBus:
        case kGwBadUnit:
          return {kErrorNotReady, FailureReach::Call};
        case kGwNoTrk0:
        case kGwBadCylinder:
          return {kErrorSeek, FailureReach::Call};
        case kGwWrprot:
          return {kErrorWriteProtect, FailureReach::Run};
        default:
          return {kErrorIoDevice, FailureReach::Call};
      }
    case LinkFault::Timeout:
      return {kErrorTimeout, FailureReach::Track};
    case LinkFault::BadStream:
      return {kErrorInvalidData, FailureReach::Call};
    case LinkFault::Io:
    case LinkFault::Firmware:
      return {kErrorNotConnected, FailureReach::Run};
    default:
      return {kErrorIoDevice, FailureReach::Call};
  }
}

// The cells of the MFM gap byte after another: the filler that stretches a
// written track's tail.
std::vector<uint8_t> GapFillerCells() {
  std::vector<uint8_t> cells(16);
  const uint16_t word = MfmWord(0x4E);
  for (int k = 0; k < 16; ++k)
    cells[static_cast<size_t>(k)] = static_cast<uint8_t>((word >> (15 - k)) & 1);
  return cells;
}

std::string IdText(int c, int h, int r, int n) {
  return std::to_string(c) + ":" + std::to_string(h) + ":" + std::to_string(r) + ":" +
         std::to_string(n);
}

size_t DataBytes(uint8_t sizeCode) {
  return size_t{128} << (sizeCode & 3);
}

// Sectors of `track` read bad take a good copy `other` has of them.
void MendFrom(DecodedTrack& track, const DecodedTrack& other) {
  for (DecodedSector& old : track.sectors) {
    if (old.dataOk) continue;
    for (const DecodedSector& s : other.sectors) {
      if (s.dataOk && s.cyl == old.cyl && s.head == old.head && s.sec == old.sec &&
          s.sizeCode == old.sizeCode) {
        old.data = s.data;
        old.dataOk = old.hasData = true;
        break;
      }
    }
  }
}

}  // namespace

bool ParseGwBus(const std::string& text, GwBus& bus) {
  if (text == "ibm") {
    bus = GwBus::Ibm;
  } else if (text == "shugart") {
    bus = GwBus::Shugart;
  } else {
    return false;
  }
  return true;
}

bool FluxOptionsFromEnvironment(FluxDriveOptions& options, std::string& error) {
  if (const char* bus = std::getenv("KELVARA_FLUX_BUS")) {
    if (!ParseGwBus(bus, options.bus)) {
      error = std::string("KELVARA_FLUX_BUS=") + bus + ": expected ibm or shugart";
      return false;
    }
  }
  if (const char* media = std::getenv("KELVARA_FLUX_SIM_MEDIA"))
    return ParseSimulatedMedia(media, options.media, error);
  return true;
}

bool FluxOptionsFromSettings(const TSettings& settings, FluxDriveOptions& options,
                             std::string& error) {
  if (!FluxOptionsFromEnvironment(options, error)) return false;
  options.device = settings.FluxDevice;
  options.simulatedImage = settings.FluxSimImage;
  if (!settings.FluxBus.empty()) ParseGwBus(settings.FluxBus, options.bus);
  options.verify = settings.FluxVerify;
  options.doubleStep = settings.DoubleStep;
  options.recalibrateEvery = std::max(1, static_cast<int>(settings.RetryCount));
  options.precomp = {settings.PrecompCylinder, static_cast<double>(settings.PrecompNs)};
  options.density = settings.DensitySelect == "low"    ? DensitySelect::Low
                    : settings.DensitySelect == "high" ? DensitySelect::High
                                                       : DensitySelect::None;
  return true;
}

FluxFloppy::FluxFloppy(FluxDriveOptions options)
    : FloppyDriver({kErrorInvalidHandle, kErrorInvalidFunction, kErrorInvalidParameter}),
      options_(std::move(options)) {
  options_.revolutions = std::clamp(options_.revolutions, 1, 8);
  if (!options_.clock) options_.clock = SteadyClockShared();
}

void FluxFloppy::TakeOptions(const FluxDriveOptions& options) {
  options_.verify = options.verify;
  options_.doubleStep = options.doubleStep;
  options_.recalibrateEvery = options.recalibrateEvery;
  options_.precomp = options.precomp;
  if (options.density != options_.density && driveOpen_) {
    options_.density = options.density;
    TakeDrive();
  }
  options_.density = options.density;
}

FluxFloppy::~FluxFloppy() {
  Close(kDriveHandle);
  Close(kControlHandle);
}

bool FluxFloppy::IsControlHandle(DeviceHandle handle) const {
  return controlOpen_ && handle == kControlHandle;
}

bool FluxFloppy::IsDriveHandle(DeviceHandle handle) const {
  return driveOpen_ && handle == kDriveHandle;
}

bool FluxFloppy::FailLink() {
  const LinkFailure f = Classify(link_);
  return FailWith(f.code, link_.Error(), f.reach);
}

bool FluxFloppy::TakeDrive() {
  if (!link_.SetBusType(options_.bus) || !link_.Select(unit_) || !link_.Motor(unit_, true))
    return FailLink();
  if (options_.density != DensitySelect::None &&
      !link_.SetPin(kGwPinDensity, options_.density == DensitySelect::High ? 1 : 0))
    return FailLink();
  lastCommand_ = Now();
  return true;
}

DeviceHandle FluxFloppy::Open(FloppyDevice device) {
  if (device == FloppyDevice::Control) {
    if (controlOpen_) return kControlHandle;
    std::string path = options_.device;
    if (!options_.simulatedImage.empty()) {
      if (!simulated_) {
        // A disk image that does not exist yet is an unformatted disk, to
        // be written and then saved there.
        auto disk = std::make_unique<TZX_Disk>();
        const bool blank = !FileExists(options_.simulatedImage);
        const LoadResult loaded =
            blank ? LoadResult{} : LoadImageFile(*disk, options_.simulatedImage);
        if (!blank && !loaded.ok) {
          SetDetail(options_.simulatedImage + ": " + loaded.errorText);
          Fail(kErrorFileNotFound);
          return kInvalidHandle;
        }
        simulated_ = std::make_unique<SimulatedGreaseweazle>(std::move(disk), options_.media,
                                                             options_.clock, blank);
        std::string error;
        if (!simulated_->Start(error)) {
          simulated_.reset();
          SetDetail(error);
          Fail(kErrorNotConnected);
          return kInvalidHandle;
        }
      }
      path = simulated_->DevicePath();
    }
    if (!link_.Open(path)) {
      SetDetail(link_.Error());
      FailLink();
      return kInvalidHandle;
    }
    decoder_.sampleFrequency = link_.Info().sampleFrequency;
    lastCommand_ = Now();
    controlOpen_ = true;
    Succeed();
    return kControlHandle;
  }
  if (!controlOpen_) {
    SetDetail("the Greaseweazle is not open");
    Fail(kErrorNotReady);
    return kInvalidHandle;
  }
  if (driveOpen_) Close(kDriveHandle);
  unit_ = device == FloppyDevice::Drive0 ? 0 : 1;
  if (!TakeDrive()) {
    SetDetail(link_.Error());
    return kInvalidHandle;
  }
  driveOpen_ = true;
  kept_ = false;
  cylinder_ = -1;
  revolutionTicks_ = 0;
  Succeed();
  return kDriveHandle;
}

void FluxFloppy::Close(DeviceHandle handle) {
  if (handle == kDriveHandle && driveOpen_) {
    link_.Motor(unit_, false);
    link_.Deselect();
    driveOpen_ = false;
    kept_ = false;
  } else if (handle == kControlHandle && controlOpen_) {
    link_.Close();
    controlOpen_ = false;
  }
}

std::string FluxFloppy::StatusText() const {
  if (!controlOpen_) return {};
  const std::string where = simulated_ ? "simulated, " + options_.simulatedImage : options_.device;
  return "Greaseweazle " + DescribeGwInfo(link_.Info()) + " (" + where + "), " +
         (options_.bus == GwBus::Ibm ? "IBM" : "Shugart") + " bus" +
         (options_.doubleStep ? ", double stepping" : "");
}

bool FluxFloppy::CanWrite(std::string& why) const {
  why.clear();
  return true;
}

void FluxFloppy::PrepareForWriting(const TZX_Disk& image) {
  if (simulated_) simulated_->FormatBlank(image);
}

bool FluxFloppy::SaveSimulatedDisk(const SaveOptions& options, std::string& error) {
  // A disk nothing was written to (a write-protected one) has nothing new to keep.
  if (!simulated_ || !simulated_->Written()) return true;
  TZX_Disk disk;
  simulated_->TakeDisk(disk);
  const SaveResult saved = SaveImageFile(disk, options_.simulatedImage, options);
  if (saved.ok) return true;
  error = "simulated disk " + options_.simulatedImage + ": " + saved.errorText;
  return false;
}

bool FluxFloppy::GetVersion(uint32_t& version) {
  const GwInfo& info = link_.Info();
  // Reported in the form the driver check accepts: 1.0 in the upper half,
  // the firmware's major and minor below.
  version = 0x01000000u | uint32_t{info.major} << 8 | info.minor;
  return Succeed();
}

bool FluxFloppy::SetDataRate(DeviceHandle, uint8_t code) {
  // The rate gives the cell; the revolution is 300 rpm except for 300K,
  // the rate of a double-density disk in a 360 rpm drive: either way a DD
  // track holds 100000 cells.
  switch (code) {
    case FD_RATE_250K:
      decoder_.cellsPerSecond = 500e3;
      decoder_.cellsPerRevolution = 100000;
      break;
    case FD_RATE_300K:
      decoder_.cellsPerSecond = 600e3;
      decoder_.cellsPerRevolution = 100000;
      break;
    case FD_RATE_500K:
      decoder_.cellsPerSecond = 1e6;
      decoder_.cellsPerRevolution = 200000;
      break;
    case FD_RATE_1M:
      decoder_.cellsPerSecond = 2e6;
      decoder_.cellsPerRevolution = 400000;
      break;
    default:
      return Fail(kErrorInvalidParameter);
  }
  kept_ = false;
  return Succeed();
}

bool FluxFloppy::GetFdcInfo(DeviceHandle, FD_FDC_INFO& info) {
  info = FD_FDC_INFO{};
  return Succeed();
}

bool FluxFloppy::ResetController(DeviceHandle) {
  kept_ = false;
  cylinder_ = -1;
  // The baud-rate reset aborts whatever the device was doing; its own reset
  // lets the drive go and forgets the head's place, so the drive is chosen
  // and spun up afresh (whatever the watchdog did meanwhile) and the next
  // seek finds track 0 by the sensor.
  if (!link_.ResetComms() || !link_.Reset()) return FailLink();
  return TakeDrive() ? Succeed() : false;
}

bool FluxFloppy::Spinning() {
  const auto now = Now();
  const bool quiet = now - lastCommand_ > std::chrono::milliseconds(options_.watchdogMarginMs);
  lastCommand_ = now;
  return !quiet || TakeDrive();
}

bool FluxFloppy::Seek(DeviceHandle, const FD_SEEK_PARAMS& p) {
  // Double stepping: the disk's cylinder n lies under the drive's 2n. A
  // cylinder past the drive's last is refused, never clamped.
  const int physical = PhysicalCylinder(p.cyl, options_.doubleStep);
  if (physical > kLastDriveCylinder)
    return FailWith(kErrorSeek, "cylinder " + std::to_string(physical) +
                                    " is past the drive's last cylinder " +
                                    std::to_string(kLastDriveCylinder) +
                                    (options_.doubleStep ? " (double stepping)" : ""));
  if (!Spinning()) return false;
  if (!link_.Seek(physical)) return FailLink();
  if (p.cyl != cylinder_) kept_ = false;
  cylinder_ = p.cyl;
  // The track-0 sensor must agree with the cylinder, asserted at 0 and only
  // there; boards that cannot read the pin are taken at their word.
  uint8_t level = p.cyl == 0 ? 0 : 1;
  if (!link_.GetPin(kGwPinTrk0, level)) level = p.cyl == 0 ? 0 : 1;
  if (p.cyl == 0 && level != 0)
    return FailWith(kErrorSeek,
                    "Greaseweazle: the track 0 sensor is not asserted at cylinder 0 (steps "
                    "too fast for the drive, or a drive that steps only with its motor on)");
  if (p.cyl != 0 && level == 0) {
    cylinder_ = -1;
    return FailWith(kErrorSeek, "Greaseweazle: the track 0 sensor is asserted at cylinder " +
                                    std::to_string(p.cyl) +
                                    " (the head did not move, or a faulty sensor or cable)");
  }
  return Succeed();
}

const DecodedTrack* FluxFloppy::Track(uint8_t head, bool fresh) {
  if (kept_ && keptHead_ == head && !fresh) return &track_;
  if (cylinder_ < 0) {
    FailWith(kErrorSeek, "the head has not been placed on a cylinder");
    return nullptr;
  }
  if (!Spinning()) return nullptr;
  // A retry of a sector read bad captures at least three revolutions, and
  // every recalibrateEvery-th attempt (the first is no retry) first takes
  // the head to cylinder 0 and back (a head a little off the track's centre
  // reads it from another place).
  const bool retry = fresh && kept_ && keptHead_ == head;
  retries_ = retry ? retries_ + 1 : 0;
  if (retry && (retries_ + 1) % std::max(1, options_.recalibrateEvery) == 0 &&
      (!link_.Seek(0) || !link_.Seek(PhysicalCylinder(cylinder_, options_.doubleStep)))) {
    FailLink();
    return nullptr;
  }
  const int revolutions = retry ? std::max(options_.revolutions, 3) : options_.revolutions;
  if (!link_.Head(head) || !link_.ReadFlux(0, static_cast<uint16_t>(revolutions + 1), stream_)) {
    kept_ = false;
    FailLink();
    return nullptr;
  }
  ++captures_;
  std::string error;
  if (!DecodeFluxStream(stream_, capture_, error)) {
    kept_ = false;
    FailWith(kErrorInvalidData, "Greaseweazle: " + error);
    return nullptr;
  }
  DecodedTrack decoded;
  DecodeMfmTrack(capture_, decoder_, decoded, scratch_);
  // Sectors still bad: the same flux once more through the PLL tuned for
  // noise, each sector keeping its best copy.
  if (decoded.GoodSectors() < static_cast<int>(decoded.sectors.size()) || decoded.sectors.empty()) {
    DecodedTrack noisy;
    DecodeMfmTrack(capture_, DecoderSettings::ForNoise(decoder_), noisy, scratch_);
    if (decoded.sectors.empty()) {
      decoded = std::move(noisy);
    } else {
      MendFrom(decoded, noisy);
    }
  }
  if (fresh && kept_ && keptHead_ == head) {
    // A retry: the new revolutions mend the sectors the earlier ones read
    // bad; the kept layout and raw track stay.
    MendFrom(track_, decoded);
  } else {
    track_ = std::move(decoded);
  }
  kept_ = true;
  keptHead_ = head;
  return &track_;
}

bool FluxFloppy::ScanTrack(DeviceHandle, const FD_SCAN_PARAMS& p, std::span<uint8_t> out,
                           uint32_t& bytesReturned) {
  lastScan_ = TrackCapture{};
  failedSector_ = -1;
  const DecodedTrack* t = Track(p.head & 1, false);
  if (!t) return false;
  if (t->sectors.empty()) return FailWith(kErrorIdMarkNotFound, t->LogLine());
  const size_t fit = std::min(t->sectors.size(), (out.size() - 1) / 4);
  out[0] = static_cast<uint8_t>(std::min<size_t>(fit, 255));
  for (size_t k = 0; k < fit; ++k) {
    const DecodedSector& s = t->sectors[k];
    uint8_t* h = out.data() + 1 + 4 * k;
    h[0] = s.cyl;
    h[1] = s.head;
    h[2] = s.sec;
    h[3] = s.sizeCode;
    lastScan_.dataOffsets.push_back(static_cast<uint16_t>(s.rawDataOffset));
  }
  lastScan_.raw = t->raw;
  lastScan_.logLine = t->LogLine();
  bytesReturned = static_cast<uint32_t>(1 + 4 * fit);
  return Succeed();
}

const DecodedSector* FluxFloppy::Find(const FD_READ_WRITE_PARAMS& p, uint8_t sector) const {
  // The head byte of an ID is whatever the formatter wrote (TR-DOS writes 0
  // on both sides): an exact match is preferred, any head accepted.
  const DecodedSector* loose = nullptr;
  for (const DecodedSector& s : track_.sectors) {
    if (s.cyl != p.cyl || s.sec != sector || s.sizeCode != p.size) continue;
    if (s.head == p.head) return &s;
    if (!loose) loose = &s;
  }
  return loose;
}

bool FluxFloppy::ReadData(DeviceHandle, const FD_READ_WRITE_PARAMS& p, std::span<uint8_t> out,
                          uint32_t& bytesReturned) {
  const int key = p.cyl << 16 | p.phead << 15 | p.sector << 8 | p.size;
  const bool retry = key == failedSector_;
  failedSector_ = -1;
  if (!Track(p.phead & 1, retry)) return false;
  const int last = std::max<int>(p.sector, p.eot - 1);
  size_t at = 0;
  bool bad = false;
  for (int r = p.sector; r <= last; ++r) {
    const DecodedSector* s = Find(p, static_cast<uint8_t>(r));
    if (!s || !s->hasData) {
      failedSector_ = key;
      return FailWith(kErrorSectorNotFound, "");
    }
    const size_t n = std::min(DataBytes(p.size), out.size() - at);
    std::copy_n(s->data.begin(), std::min(n, s->data.size()), out.begin() + static_cast<long>(at));
    at += n;
    bad |= !s->dataOk;
    if (!s->dataOk) break;  // a controller stops at the first bad sector
  }
  bytesReturned = static_cast<uint32_t>(at);
  if (bad) {
    failedSector_ = key;
    return Fail(kErrorCrc);
  }
  return Succeed();
}

// A flux device writes tracks, not sectors: the writing run hands it whole
// tracks, and a single sector or format call is not one it can make.
bool FluxFloppy::WriteData(DeviceHandle, const FD_READ_WRITE_PARAMS&, std::span<const uint8_t>) {
  return Fail(Codes().invalidFunction);
}

bool FluxFloppy::FormatTrack(DeviceHandle, const FD_FORMAT_PARAMS&) {
  return Fail(Codes().invalidFunction);
}

bool FluxFloppy::MeasureRevolution() {
  if (revolutionTicks_ > 0) return true;
  if (!link_.ReadFlux(0, 3, stream_)) return FailLink();
  std::string error;
  if (!DecodeFluxStream(stream_, capture_, error))
    return FailWith(kErrorInvalidData, "Greaseweazle: " + error);
  const std::vector<uint64_t>& index = capture_.index;
  if (index.size() < 2)
    return FailWith(kErrorNotReady,
                    "Greaseweazle: no index: no disk in the drive, or the drive is not turning "
                    "(no two index pulses to time its revolution by)",
                    FailureReach::Track);
  revolutionTicks_ =
      static_cast<double>(index.back() - index.front()) / static_cast<double>(index.size() - 1);
  return true;
}

bool FluxFloppy::Verify(const TTrack& source, uint8_t head, std::vector<uint8_t>& failed,
                        std::string& strays) {
  failed.clear();
  strays.clear();
  kept_ = false;
  const DecodedTrack* t = Track(head, true);
  if (!t) return false;
  auto sameId = [](const DecodedSector& got, const TSectorRec& want) {
    return got.cyl == want.Cyl && got.head == want.Head && got.sec == want.Sec &&
           got.sizeCode == want.SizeCode;
  };
  for (uint8_t slot = 0; slot < kSlotCount; ++slot) {
    const TSectorRec& want = source.Sectors[slot];
    if (!want.Present) continue;
    // A sector the image holds as bad or without data is written as it is:
    // only its ID can be expected back.
    const bool dataToo = want.DataOk && want.DataLength() > 0;
    bool found = false;
    for (const DecodedSector& got : t->sectors) {
      if (!sameId(got, want)) continue;
      const std::span<const uint8_t> data = want.Data();
      const size_t n = std::min(data.size(), got.data.size());
      if (!dataToo || (got.dataOk && n == data.size() &&
                       std::equal(data.begin(), data.end(), got.data.begin())))
        found = true;
    }
    if (!found) failed.push_back(slot);
  }
  for (const DecodedSector& got : t->sectors) {
    const bool known =
        std::any_of(source.Sectors.begin(), source.Sectors.end(),
                    [&](const TSectorRec& s) { return s.Present && sameId(got, s); });
    if (!known)
      strays += (strays.empty() ? "" : ", ") + IdText(got.cyl, got.head, got.sec, got.sizeCode);
  }
  return true;
}

const TZX_Disk& FluxFloppy::TrackSource(const TZX_Disk& disk, int track, bool formatOnly,
                                        uint8_t fill) {
  if (!formatOnly) return disk;
  // The sector table alone, every data field filled.
  if (!formatted_) formatted_ = std::make_unique<TZX_Disk>();
  TTrack& t = formatted_->GetTrack(static_cast<uint8_t>(track));
  t.ClearTrack();
  const TTrack& src = disk.GetTrack(static_cast<uint8_t>(track));
  t.Present = src.Present;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const TSectorRec& s = src.Sectors[static_cast<size_t>(slot)];
    if (!s.Present) continue;
    TSectorRec& d = t.Sectors[static_cast<size_t>(slot)];
    d.SetId(s.Cyl, s.Head, s.Sec, s.SizeCode);
    d.Present = s.Present;
    d.DataOk = 0xFF;
    std::span<uint8_t> data = d.MutableData(FieldBytes(s.SizeCode));
    std::fill(data.begin(), data.end(), fill);
  }
  t.CountSectors();
  return *formatted_;
}

bool FluxFloppy::PrepareWriteout(const TZX_Disk& from, int track) {
  if (!TrackRawBytes(from, track, bytes_, sync_))
    return FailWith(kErrorInvalidParameter,
                    "track " + std::to_string(track) + " of the image cannot be laid out");
  // The track ends in a gap byte, so that the gap filler follows it as MFM
  // wants.
  bytes_.push_back(0x4E);
  sync_.push_back(0);
  MfmCells(bytes_, sync_, cells_);
  static const std::vector<uint8_t> filler = GapFillerCells();
  WriteoutTiming timing;
  timing.sampleFrequency = decoder_.sampleFrequency;
  timing.revolutionTicks = revolutionTicks_;
  timing.cellsPerRevolution = decoder_.cellsPerRevolution;
  timing.precomp = options_.precomp;
  timing.cylinder = PhysicalCylinder(cylinder_, options_.doubleStep);
  BuildWriteout(cells_, filler, timing, writeout_);
  return true;
}

bool FluxFloppy::WritePasses(const TTrack& source, uint8_t head, int passes,
                             TrackWriteOutcome& outcome) {
  const double revolutionMs = revolutionTicks_ * 1000 / decoder_.sampleFrequency;
  auto passLine = [&](int pass, const std::string& what) {
    char line[96];
    std::snprintf(line, sizeof line, "Флюкс: запись %d (оборот %.2f ms), ", pass, revolutionMs);
    outcome.log.push_back(line + what);
  };
  // After a pass that did not come back whole, nothing of the track can be
  // trusted: the write gate was on over all of it.
  auto allUnverified = [&](uint32_t code) {
    outcome.unverifiedSlots.clear();
    for (uint8_t slot = 0; slot < kSlotCount; ++slot)
      if (source.Sectors[slot].Present) outcome.unverifiedSlots.push_back(slot);
    outcome.error = code;
  };
  for (int pass = 1; pass <= std::max(passes, 1); ++pass) {
    kept_ = false;
    if (!Spinning() || !link_.Head(head) ||
        !link_.WriteFlux(writeout_.stream, writeout_.cueAtIndex, writeout_.terminateAtIndex)) {
      const LinkFailure f = Classify(link_);
      passLine(pass, "запись не удалась: " + link_.Error());
      allUnverified(f.code);
      if (f.reach != FailureReach::Call || pass >= passes) return FailLink();
      continue;
    }
    outcome.written = true;
    ++outcome.writes;
    if (!options_.verify) {
      passLine(pass, "без проверки");
      outcome.unverifiedSlots.clear();
      outcome.error = 0;
      return Succeed();
    }
    std::vector<uint8_t> failed;
    std::string strays;
    if (!Verify(source, head, failed, strays)) {
      passLine(pass, "проверка не удалась: " + FailureText());
      allUnverified(LastError());
      if (LastFailureReach() != FailureReach::Call) return false;
      continue;
    }
    const int present = source.PresentSlots();
    passLine(pass, "проверка - совпали " +
                       std::to_string(present - static_cast<int>(failed.size())) + " из " +
                       std::to_string(present) + " секторов");
    if (!strays.empty())
      outcome.log.push_back("Флюкс: на дорожке метки, которых нет в образе - " + strays);
    outcome.unverifiedSlots = std::move(failed);
    outcome.error = outcome.unverifiedSlots.empty() ? 0 : kErrorCrc;
    if (outcome.unverifiedSlots.empty()) return Succeed();
  }
  return Succeed();
}

bool FluxFloppy::WriteWholeTrack(DeviceHandle, const TZX_Disk& disk, int track, bool formatOnly,
                                 uint8_t fill, int attempts, TrackWriteOutcome& outcome) {
  if (cylinder_ < 0) return FailWith(kErrorSeek, "the head has not been placed on a cylinder");
  const auto head = static_cast<uint8_t>(track % 2);
  if (!Spinning() || !link_.Head(head)) return FailLink();
  // A write-protected disk is refused here, before anything is written; a
  // board that cannot read the pin leaves it to the device's own check.
  uint8_t level = 1;
  if (link_.GetPin(kGwPinWrprot, level) && level == 0)
    return FailWith(kErrorWriteProtect, "Greaseweazle: the disk is write-protected",
                    FailureReach::Run);
  const TZX_Disk& from = TrackSource(disk, track, formatOnly, fill);
  if (!MeasureRevolution() || !PrepareWriteout(from, track)) return false;
  return WritePasses(from.GetTrack(static_cast<uint8_t>(track)), head, attempts, outcome);
}

std::unique_ptr<FloppyDriver> CreateFluxFloppy(FluxDriveOptions options) {
  return std::make_unique<FluxFloppy>(std::move(options));
}

}  // namespace kelvara::flux
