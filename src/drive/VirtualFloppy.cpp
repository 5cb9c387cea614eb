#include "drive/VirtualFloppy.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "model/Arithmetic.h"
#include "model/FileIO.h"

namespace kelvara {

namespace {

// A drive without a disk gives no index pulses: nothing on the track will
// work. A write-protected disk refuses every write of the run.
constexpr const char* kNoDiskText = "no index: no disk in the drive, or the drive is not turning";
constexpr const char* kWriteProtectedText = "the disk is write-protected";

constexpr DeviceHandle kControlHandle = 0x100;
constexpr DeviceHandle kDriveHandle = 0x200;
constexpr double kRevolutionUs = kRevolutionSeconds * 1e6;
constexpr uint8_t kDiskDensity = 0xFF;

// Byte lengths of an MFM track's parts: gap 4a, index mark and gap 1 before
// the first sector; the ID field (sync, mark, C H R N, CRC); gap 2; the data
// field's sync and mark before its bytes and the CRC after them; the least
// gap 3 a crowded track keeps between sectors.
constexpr int kTrackLead = 80 + 12 + 4 + 50;
constexpr int kIdField = 12 + 4 + 4 + 2;
constexpr int kGap2 = 22;
constexpr int kDataLead = 12 + 4;
constexpr int kCrc = 2;
constexpr int kMinGap3 = 24;

constexpr std::array<const char*, kDriveCallKinds> kCallNames = {
    "open-driver", "open-drive", "version", "rate",  "fdc-info", "reset",
    "seek",        "scan",       "read",    "write", "format",
};

int SizeBytes(uint8_t sizeCode) {
  return static_cast<int>(SizeCodeBytes(sizeCode));
}

int SectorsInCall(const FD_READ_WRITE_PARAMS& p) {
  return std::max<int>(p.sector, p.eot - 1) - p.sector + 1;
}

bool ParseNumber(const std::string& text, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, 10);
  return *end == '\0' && value >= 0;
}

}  // namespace

bool ParseDriveFault(const std::string& text, DriveFault& fault, std::string& error) {
  const size_t c1 = text.find(':');
  const size_t c2 = c1 == std::string::npos ? c1 : text.find(':', c1 + 1);
  if (c2 == std::string::npos) {
    error = "fault \"" + text + "\": expected CALL:N:CODE or CALL:N-M:CODE";
    return false;
  }
  const std::string name = text.substr(0, c1);
  const auto it =
      std::find_if(kCallNames.begin(), kCallNames.end(), [&](const char* n) { return name == n; });
  if (it == kCallNames.end()) {
    error = "fault \"" + text + "\": unknown call \"" + name + "\"";
    return false;
  }
  const std::string range = text.substr(c1 + 1, c2 - c1 - 1);
  const size_t dash = range.find('-');
  long first = 0, last = 0, code = 0;
  const bool ok = ParseNumber(range.substr(0, dash), first) &&
                  (dash == std::string::npos ? (last = first, true)
                                             : ParseNumber(range.substr(dash + 1), last)) &&
                  ParseNumber(text.substr(c2 + 1), code);
  if (!ok || first < 1 || last < first || code == 0 || code > 0xFFFFFFFFL) {
    error = "fault \"" + text + "\": calls are counted from 1 and the code is not 0";
    return false;
  }
  fault = {static_cast<DriveCall>(it - kCallNames.begin()), static_cast<int>(first),
           static_cast<int>(last), static_cast<uint32_t>(code)};
  return true;
}

VirtualFloppy::VirtualFloppy()
    : FloppyDriver({kErrorInvalidHandle, kErrorInvalidFunction, kErrorInvalidParameter}) {
  formattedRate_.fill(kDiskDensity);
}

VirtualFloppy::VirtualFloppy(std::string imagePath) : VirtualFloppy() {
  imagePath_ = std::move(imagePath);
}

VirtualFloppy::~VirtualFloppy() = default;

TZX_Disk& VirtualFloppy::InsertDisk() {
  disk_ = std::make_unique<TZX_Disk>();
  formattedRate_.fill(kDiskDensity);
  return *disk_;
}

bool VirtualFloppy::LoadDisk(const std::string& path) {
  TZX_Disk& disk = InsertDisk();
  const LoadResult r = LoadImageFile(disk, path);
  if (!r.ok) {
    SetDetail(path + ": " + r.errorText);
    disk_.reset();
  }
  return r.ok;
}

bool VirtualFloppy::SaveDisk(const std::string& path, const SaveOptions& options,
                             std::string& error) {
  if (!disk_) {
    error = "no disk in the virtual drive";
    return false;
  }
  // A disk that no format reached holds no track: it stays as it was, and
  // no file of it is made.
  if (disk_->LastPresentTrack() < 0) return true;
  const SaveResult r = SaveImageFile(*disk_, path, options);
  error = r.errorText;
  return r.ok;
}

void VirtualFloppy::KeepPace() {
  const double waitUs = (nowUs_ - pacedUs_) * options_.pace;
  pacedUs_ = nowUs_;
  if (waitUs >= 1) std::this_thread::sleep_for(std::chrono::microseconds(RoundNonNegative(waitUs)));
}

bool VirtualFloppy::Faulted(DriveCall call) {
  KeepPace();
  const int n = ++callCounts_[static_cast<int>(call)];
  for (const DriveFault& f : faults_) {
    if (f.call == call && n >= f.first && n <= f.last) {
      // A failing data call still keeps the drive busy for a revolution.
      if (call >= DriveCall::Scan) nowUs_ += kRevolutionUs;
      Fail(f.code);
      return true;
    }
  }
  return false;
}

DeviceHandle VirtualFloppy::Open(FloppyDevice device) {
  if (device == FloppyDevice::Control) {
    if (Faulted(DriveCall::OpenDriver)) return kInvalidHandle;
    if (!imagePath_.empty() && !imageLoaded_) {
      if (!FileExists(imagePath_)) {
        InsertDisk();
      } else if (!LoadDisk(imagePath_)) {
        Fail(kErrorInvalidData);
        return kInvalidHandle;
      }
      imageLoaded_ = true;
    }
    controlOpen_ = true;
    Succeed();
    return kControlHandle;
  }
  SetDetail("");  // a failed drive open has no reason beyond its code
  if (Faulted(DriveCall::OpenDrive)) return kInvalidHandle;
  driveOpen_ = true;
  openedDrive_ = device;
  Succeed();
  return kDriveHandle + (device == FloppyDevice::Drive1 ? 1 : 0);
}

void VirtualFloppy::Close(DeviceHandle handle) {
  if (IsDriveHandle(handle)) driveOpen_ = false;
}

bool VirtualFloppy::IsControlHandle(DeviceHandle handle) const {
  return controlOpen_ && handle == kControlHandle;
}

bool VirtualFloppy::IsDriveHandle(DeviceHandle handle) const {
  const int unit = openedDrive_ == FloppyDevice::Drive1 ? 1 : 0;
  return driveOpen_ && handle == kDriveHandle + unit;
}

bool VirtualFloppy::GetVersion(uint32_t& version) {
  if (Faulted(DriveCall::Version)) return false;
  version = options_.version;
  return Succeed();
}

bool VirtualFloppy::SetDataRate(DeviceHandle, uint8_t code) {
  if (Faulted(DriveCall::SetDataRate)) return false;
  if (code > FD_RATE_1M) return Fail(kErrorInvalidParameter);
  rate_ = code;
  return Succeed();
}

bool VirtualFloppy::GetFdcInfo(DeviceHandle, FD_FDC_INFO& info) {
  if (Faulted(DriveCall::FdcInfo)) return false;
  info.ControllerType = options_.controllerType;
  return Succeed();
}

bool VirtualFloppy::ResetController(DeviceHandle) {
  if (Faulted(DriveCall::Reset)) return false;
  return Succeed();
}

bool VirtualFloppy::Seek(DeviceHandle, const FD_SEEK_PARAMS& p) {
  if (Faulted(DriveCall::Seek)) return false;
  if (p.cyl >= kVirtualCylinders) return Fail(kErrorSeek);
  nowUs_ += std::abs(p.cyl - cylinder_) * kSeekSecondsPerCylinder * 1e6;
  cylinder_ = p.cyl;
  return Succeed();
}

uint8_t VirtualFloppy::TrackRate(int track) const {
  const uint8_t r = formattedRate_[track];
  return r == kDiskDensity ? options_.diskRate : r;
}

std::vector<VirtualFloppy::Placed> VirtualFloppy::Visible(int track) const {
  std::vector<Placed> placed;
  if (!disk_ || TrackRate(track) != rate_) return placed;
  const TTrack& t = disk_->GetTrack(static_cast<uint8_t>(track));
  if (!t.Present) return placed;
  const int trackBytes = DataRateBits(rate_) / 8 * 2 / 10;
  int used = 0, count = 0;
  for (const TSectorRec& s : t.Sectors) {
    if (!s.Present) continue;
    used += kIdField + (s.DataLength() ? kGap2 + kDataLead + s.DataLength() + kCrc : 0);
    ++count;
  }
  if (count == 0) return placed;
  const int gap3 = std::max(kMinGap3, (trackBytes - kTrackLead - used) / count);
  int pos = kTrackLead;
  for (int i = 0; i < kSlotCount; ++i) {
    const TSectorRec& s = t.Sectors[i];
    if (!s.Present) continue;
    if (pos + kIdField > trackBytes) break;
    placed.push_back({i, pos});
    pos += kIdField + (s.DataLength() ? kGap2 + kDataLead + s.DataLength() + kCrc : 0) + gap3;
  }
  return placed;
}

const VirtualFloppy::Placed* VirtualFloppy::Find(const std::vector<Placed>& placed, int track,
                                                 const FD_READ_WRITE_PARAMS& p,
                                                 uint8_t sector) const {
  const TTrack& t = disk_->GetTrack(static_cast<uint8_t>(track));
  const double angle = AngleUs();
  const Placed* best = nullptr;
  double bestWait = 0;
  for (const Placed& pl : placed) {
    const TSectorRec& s = t.Sectors[pl.slot];
    if (s.Cyl != p.cyl || s.Head != p.head || s.Sec != sector || s.SizeCode != p.size) continue;
    double wait = pl.idStart * UsPerByte() - angle;
    if (wait < 0) wait += kRevolutionUs;
    if (!best || wait < bestWait) {
      best = &pl;
      bestWait = wait;
    }
  }
  return best;
}

double VirtualFloppy::UsPerByte() const {
  return 8e6 / DataRateBits(rate_);
}

double VirtualFloppy::AngleUs() const {
  return RemainderNonNegative(nowUs_, kRevolutionUs);
}

void VirtualFloppy::WaitForByte(int position) {
  double wait = position * UsPerByte() - AngleUs();
  if (wait < 0) wait += kRevolutionUs;
  nowUs_ += wait;
}

void VirtualFloppy::WaitForIndex() {
  nowUs_ += RemainderNonNegative(kRevolutionUs - AngleUs(), kRevolutionUs);
}

void VirtualFloppy::GiveUp() {
  WaitForIndex();
  nowUs_ += kRevolutionUs;
}

bool VirtualFloppy::IdsUnderHead(uint8_t head, int& track, std::vector<Placed>& placed) {
  if (!disk_) {
    GiveUp();
    return FailWith(kErrorNotReady, kNoDiskText, FailureReach::Track);
  }
  track = TrackUnder(head);
  placed = Visible(track);
  if (placed.empty()) {
    GiveUp();
    return Fail(kErrorIdMarkNotFound);
  }
  return true;
}

bool VirtualFloppy::ScanTrack(DeviceHandle, const FD_SCAN_PARAMS& p, std::span<uint8_t> out,
                              uint32_t& bytesReturned) {
  if (Faulted(DriveCall::Scan)) return false;
  int track = 0;
  std::vector<Placed> placed;
  if (!IdsUnderHead(p.head, track, placed)) return false;
  // The scan starts at the index and watches one whole revolution.
  WaitForIndex();
  nowUs_ += kRevolutionUs;
  const TTrack& t = disk_->GetTrack(static_cast<uint8_t>(track));
  const size_t fit = std::min<size_t>({placed.size(), (out.size() - 1) / 4, 255});
  out[0] = static_cast<uint8_t>(fit);
  for (size_t k = 0; k < fit; ++k) {
    const TSectorRec& s = t.Sectors[placed[k].slot];
    const uint8_t header[4] = {s.Cyl, s.Head, s.Sec, s.SizeCode};
    std::memcpy(out.data() + 1 + 4 * k, header, 4);
  }
  bytesReturned = static_cast<uint32_t>(1 + 4 * fit);
  return Succeed();
}

bool VirtualFloppy::TimedScanTrack(DeviceHandle, const FD_SCAN_PARAMS& p, std::span<uint8_t> out,
                                   uint32_t& bytesReturned) {
  // A scan as the plain one is, and failing as it fails.
  if (Faulted(DriveCall::Scan)) return false;
  int track = 0;
  std::vector<Placed> placed;
  if (!IdsUnderHead(p.head, track, placed)) return false;
  // READ ID after READ ID from wherever the head is, for one revolution (the
  // index passing on the way fixes the angles) or until the ID field under
  // way at its end has passed; the ID seen first has not come round again.
  const double angle = AngleUs();
  size_t first = 0;
  double firstWait = kRevolutionUs, lastWait = 0;
  for (size_t k = 0; k < placed.size(); ++k) {
    double wait = placed[k].idStart * UsPerByte() - angle;
    if (wait < 0) wait += kRevolutionUs;
    if (wait < firstWait) {
      firstWait = wait;
      first = k;
    }
    lastWait = std::max(lastWait, wait);
  }
  nowUs_ += std::max(kRevolutionUs, lastWait + kIdField * UsPerByte());
  const TTrack& t = disk_->GetTrack(static_cast<uint8_t>(track));
  const size_t fit = std::min<size_t>({placed.size(), (out.size() - kTimedScanHead) / 8, 255});
  FD_TIMED_SCAN_RESULT result{};
  result.count = static_cast<uint8_t>(fit);
  result.next = static_cast<uint8_t>(first < fit ? first : 0);
  result.tracktime = static_cast<uint32_t>(kRevolutionUs);
  for (size_t k = 0; k < fit; ++k) {
    const TSectorRec& s = t.Sectors[placed[k].slot];
    result.Header[k] = {static_cast<uint32_t>(RoundNonNegative(placed[k].idStart * UsPerByte())),
                        s.Cyl, s.Head, s.Sec, s.SizeCode};
  }
  bytesReturned = static_cast<uint32_t>(kTimedScanHead + 8 * fit);
  std::memcpy(out.data(), &result, bytesReturned);
  return Succeed();
}

template <typename Each>
bool VirtualFloppy::WalkSectors(const FD_READ_WRITE_PARAMS& p, bool needData, Each&& each) {
  const int track = TrackUnder(p.phead);
  const std::vector<Placed> placed = Visible(track);
  TTrack& t = disk_->GetTrack(static_cast<uint8_t>(track));
  for (int k = 0; k < SectorsInCall(p); ++k) {
    const Placed* pl = Find(placed, track, p, static_cast<uint8_t>(p.sector + k));
    if (!pl || (needData && t.Sectors[pl->slot].DataLength() == 0)) {
      GiveUp();
      return Fail(kErrorSectorNotFound);
    }
    WaitForByte(pl->idStart);
    PassBytes(kIdField + kGap2 + kDataLead + SizeBytes(p.size) + kCrc);
    if (!each(t.Sectors[pl->slot], k)) return false;
  }
  return Succeed();
}

bool VirtualFloppy::ReadData(DeviceHandle, const FD_READ_WRITE_PARAMS& p, std::span<uint8_t> out,
                             uint32_t& bytesReturned) {
  if (Faulted(DriveCall::Read)) return false;
  if (!disk_) {
    GiveUp();
    return FailWith(kErrorNotReady, kNoDiskText, FailureReach::Track);
  }
  const int size = SizeBytes(p.size);
  if (out.size() < static_cast<size_t>(SectorsInCall(p) * size))
    return Fail(kErrorInvalidParameter);
  return WalkSectors(p, true, [&](const TSectorRec& s, int) {
    // A data field shorter than its ID says runs on into the gap: the
    // bytes after it are not data and the CRC cannot match.
    uint8_t* dest = out.data() + bytesReturned;
    const int have = std::min<int>(s.DataLength(), size);
    std::memcpy(dest, s.Data().data(), have);
    std::memset(dest + have, 0, size - have);
    bytesReturned += size;
    return s.DataOk && have == size ? true : Fail(kErrorCrc);
  });
}

bool VirtualFloppy::WriteData(DeviceHandle, const FD_READ_WRITE_PARAMS& p,
                              std::span<const uint8_t> data) {
  if (Faulted(DriveCall::Write)) return false;
  if (!disk_) return FailWith(kErrorNotReady, kNoDiskText, FailureReach::Track);
  if (writeProtected_) return FailWith(kErrorWriteProtect, kWriteProtectedText, FailureReach::Run);
  const size_t size = SizeBytes(p.size);
  TTrack& t = disk_->GetTrack(static_cast<uint8_t>(TrackUnder(p.phead)));
  return WalkSectors(p, false, [&](TSectorRec& s, int k) {
    // Data short of the sector size are followed by zeros, as a controller
    // fed from a zeroed buffer writes them.
    std::vector<uint8_t> field(size, 0);
    const size_t offset = k * size;
    if (offset < data.size())
      std::copy_n(data.begin() + offset, std::min(data.size() - offset, size), field.begin());
    s.SetData(field);
    s.DataOk = 0xFF;
    s.ErrorCount = 0;
    s.DataOffset = 0;
    // The track's raw bytes no longer show what is on it.
    t.ClearRaw();
    t.RawValid = 0;
    return true;
  });
}

bool VirtualFloppy::FormatTrack(DeviceHandle, const FD_FORMAT_PARAMS& p) {
  if (Faulted(DriveCall::Format)) return false;
  if (!disk_) return FailWith(kErrorNotReady, kNoDiskText, FailureReach::Track);
  if (writeProtected_) return FailWith(kErrorWriteProtect, kWriteProtectedText, FailureReach::Run);
  // The emulated disk keeps a track's sectors in the image's 20 slots; a
  // track of no sectors is refused as the Linux backend refuses it.
  if (p.sectors == 0 || p.sectors > kSlotCount) return Fail(kErrorInvalidParameter);
  const int track = TrackUnder(p.phead);
  WaitForIndex();
  nowUs_ += kRevolutionUs;
  TTrack& t = disk_->GetTrack(static_cast<uint8_t>(track));
  t.ClearTrack();
  t.Present = 0xFF;
  const std::vector<uint8_t> fill(SizeBytes(p.size), p.fillbyte);
  for (int i = 0; i < p.sectors; ++i) {
    const FD_ID_HEADER& h = p.Header[i];
    TSectorRec& s = t.Sectors[i];
    s.SetId(h.cyl, h.head, h.sector, h.size);
    s.DataOk = 0xFF;
    s.SetData(fill);
  }
  t.CountSectors();
  disk_->CountTracks();
  formattedRate_[track] = rate_;
  return Succeed();
}

}  // namespace kelvara
