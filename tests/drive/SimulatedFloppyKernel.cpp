#include "drive/SimulatedFloppyKernel.h"

#include <linux/fdreg.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "model/SectorSize.h"

namespace kelvara::test {

namespace {

constexpr int kLead = 80 + 12 + 4 + 50;  // gap 4a, index mark, gap 1
constexpr int kIdBytes = 22;             // sync, mark, C H R N, CRC
constexpr int kDataLead = 22 + 16;       // gap 2, the data mark's sync and mark
constexpr int kMinGap3 = 24;
constexpr int64_t kTurnUs = 200000;
constexpr int64_t kStepUs = 3000;
constexpr int64_t kSettleUs = 15000;
constexpr int64_t kSpinUpUs = 500000;
constexpr int64_t kKernelUs = 150;  // from the ioctl to the command on the controller
constexpr int64_t kTimeoutUs = 3000000;
constexpr int kRecalibrateSteps = 77;
constexpr int kLastCylinder = 83;

int FieldBytes(const SimId& id) {
  return kIdBytes + (id.hasData ? kDataLead + static_cast<int>(id.data.size()) + 2 : 0);
}

}  // namespace

std::vector<SimId> SimulatedFloppyKernel::Spread(std::vector<SimId> ids) {
  if (ids.empty()) return ids;
  int used = 0;
  for (const SimId& id : ids)
    used += FieldBytes(id);
  const int gap3 = std::max(kMinGap3, (kTrackBytes - kLead - used) / static_cast<int>(ids.size()));
  int pos = kLead;
  size_t fit = 0;
  for (SimId& id : ids) {
    if (pos + kIdBytes > kTrackBytes) break;
    id.start = pos;
    pos += FieldBytes(id) + gap3;
    ++fit;
  }
  ids.resize(fit);
  return ids;
}

void SimulatedFloppyKernel::LoadImage(const TZX_Disk& disk) {
  for (int t = 0; t < kTrackCount; ++t) {
    const TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    std::vector<SimId> ids;
    for (const TSectorRec& s : track.Sectors) {
      if (!track.Present || !s.Present) continue;
      SimId id;
      id.c = s.Cyl;
      id.h = s.Head;
      id.r = s.Sec;
      id.n = s.SizeCode;
      id.hasData = s.DataLength() > 0;
      id.data.assign(s.Data().begin(), s.Data().end());
      id.dataCrcOk = s.DataOk && s.DataLength() >= SizeCodeBytes(s.SizeCode);
      ids.push_back(id);
    }
    tracks[t] = Spread(std::move(ids));
  }
}

int SimulatedFloppyKernel::Open(const std::string&, int) {
  return openError ? -openError : 3;
}

int SimulatedFloppyKernel::Ioctl(int, unsigned long request, void* arg) {
  if (request == FDRESET) {
    const auto mode = reinterpret_cast<uintptr_t>(arg);
    if (mode == FD_RESET_ALWAYS || fdcNeedsReset) {
      fdcNeedsReset = false;
      fdcCylinder = 0;
      kernelTrack = kNeed2Recal;
    }
    return 0;
  }
  if (request == FDGETFDCSTAT) {
    static_cast<floppy_fdc_state*>(arg)->version = FDC_82077;
    return 0;
  }
  if (request == FDRAWCMD) return Raw(*static_cast<floppy_raw_cmd*>(arg));
  return -ENOTTY;
}

void SimulatedFloppyKernel::StepTo(int cylinder) {
  const int steps = cylinder - fdcCylinder;
  headCylinder = std::clamp(headCylinder + steps, 0, kLastCylinder);
  fdcCylinder = cylinder;
  if (steps != 0) {
    // The kernel waits no settle time for raw commands: the head rings
    // until settledUs, and a command before then reads nothing.
    nowUs += std::abs(steps) * kStepUs;
    settledUs = nowUs + kSettleUs;
    if (diskIn) changeLine = false;
  }
}

bool SimulatedFloppyKernel::Recalibrate() {
  const int steps = std::min(headCylinder, kRecalibrateSteps);
  headCylinder -= steps;
  fdcCylinder = 0;
  nowUs += steps * kStepUs + kSettleUs;
  if (steps && diskIn) changeLine = false;
  return headCylinder == 0;
}

int SimulatedFloppyKernel::TimedOut(floppy_raw_cmd& raw) {
  nowUs += kTimeoutUs;
  fdcNeedsReset = true;
  raw.flags |= FD_RAW_FAILURE | FD_RAW_HARDFAILURE;
  return -EIO;
}

int SimulatedFloppyKernel::Position() const {
  return static_cast<int>(static_cast<int64_t>(nowUs / kUsPerByte) % kTrackBytes);
}

void SimulatedFloppyKernel::WaitFor(int position) {
  nowUs += static_cast<int64_t>(((position - Position() + kTrackBytes) % kTrackBytes) * kUsPerByte);
}

void SimulatedFloppyKernel::WaitForIndex() {
  WaitFor(0);
}

std::vector<SimId>& SimulatedFloppyKernel::TrackUnder(uint8_t headAndUnit) {
  return tracks[headCylinder * 2 + ((headAndUnit >> 2) & 1)];
}

void SimulatedFloppyKernel::Reply(floppy_raw_cmd& raw, std::vector<uint8_t> bytes) {
  raw.reply_count = static_cast<unsigned char>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), raw.reply);
}

int SimulatedFloppyKernel::Raw(floppy_raw_cmd& raw) {
  nowUs += kKernelUs;
  const unsigned flags = raw.flags;
  if ((flags & (FD_RAW_READ | FD_RAW_WRITE)) && raw.length <= 0) return -EINVAL;
  if (fdcNeedsReset) {
    raw.flags |= FD_RAW_FAILURE | FD_RAW_HARDFAILURE;
    return -EIO;
  }
  for (int pass = 0; pass < 4 && (flags & (FD_RAW_NEED_SEEK | FD_RAW_NEED_DISK)); ++pass) {
    const bool needDisk = flags & FD_RAW_NEED_DISK;
    if (needDisk && ChangeLineActive() && (changeLineBroken || !diskIn)) {
      raw.flags |= FD_RAW_FAILURE | FD_RAW_HARDFAILURE;
      return -EIO;
    }
    if (kernelTrack <= kNeed1Recal) {
      if (Recalibrate()) {
        kernelTrack = 0;
      } else if (kernelTrack == kNeed1Recal) {
        raw.flags |= FD_RAW_FAILURE | FD_RAW_HARDFAILURE;
        return -EIO;
      } else {
        kernelTrack = kNeed1Recal;
      }
      continue;
    }
    if (needDisk && changeLine && (kernelTrack <= kNoTrack || kernelTrack == raw.track)) {
      // Steps to clear the disk-change line, and stays there.
      const int t = raw.track ? raw.track - 1 : 1;
      StepTo(t);
      kernelTrack = t;
      continue;
    }
    if ((flags & FD_RAW_NEED_SEEK) && raw.track != kernelTrack) {
      StepTo(raw.track);
      kernelTrack = raw.track;
    }
    break;
  }
  const uint8_t opcode = raw.cmd_count ? raw.cmd[0] & 0x1F : 0;
  calls.push_back(
      {flags, raw.track, opcode, headCylinder, {raw.cmd, raw.cmd + raw.cmd_count}, nowUs});
  const uint8_t hu = raw.cmd_count > 1 ? raw.cmd[1] & 7 : 0;
  const bool onTrack =
      opcode == 0x0A || opcode == 0x06 || opcode == 0x0C || opcode == 0x05 || opcode == 0x0D;
  // The head steps with the motor off; a command on the track waits for
  // the disk to spin up again.
  if (onTrack) {
    if (motorOffAfterUs > 0 && nowUs - lastCommandUs > motorOffAfterUs) nowUs += kSpinUpUs;
    lastCommandUs = nowUs;
  }
  if (opcode == 0x0A && foreignOpens.count(readIds + 1)) headCylinder = 0;
  if (onTrack && nowUs < settledUs) {
    if (opcode == 0x0A) ++readIds;
    nowUs += kTurnUs;
    Reply(raw, {static_cast<uint8_t>(0x40 | hu), ST1_MAM, 0, 0, 0, 0, 0});
    return 0;
  }
  switch (opcode) {
    case 0:
      raw.reply_count = 0;
      return 0;
    case FD_SEEK:
      StepTo(raw.cmd[2]);
      Reply(raw, {static_cast<uint8_t>(0x20 | (hu & 3)), static_cast<uint8_t>(fdcCylinder)});
      return 0;
    case FD_RECALIBRATE & 0x1F: {
      const bool reached = Recalibrate();
      Reply(raw, {static_cast<uint8_t>(0x20 | (hu & 3) | (reached ? 0 : 0x50)), 0});
      return 0;
    }
    case 0x0A: {
      ++readIds;
      if (const auto late = lateReadIds.find(readIds); late != lateReadIds.end())
        nowUs += late->second;
      if (!diskIn) return TimedOut(raw);
      const std::vector<SimId>& ids = TrackUnder(hu);
      if (ids.empty() || raw.rate != FD_RATE_250K) {
        WaitForIndex();
        nowUs += kTurnUs;
        Reply(raw, {static_cast<uint8_t>(0x40 | hu), ST1_MAM, 0, 0, 0, 0, 0});
        return 0;
      }
      const int pos = Position();
      const SimId* next = &ids.front();
      for (const SimId& id : ids) {
        const auto ahead = [&](const SimId& i) {
          return (i.start - pos + kTrackBytes) % kTrackBytes;
        };
        if (ahead(id) < ahead(*next)) next = &id;
      }
      WaitFor(next->start);
      nowUs += static_cast<int64_t>(kIdBytes * kUsPerByte);
      const bool ok = next->idCrcOk;
      Reply(raw, {static_cast<uint8_t>(hu | (ok ? 0 : 0x40)), ok ? uint8_t{0} : uint8_t{ST1_CRC}, 0,
                  next->c, next->h, next->r, next->n});
      return 0;
    }
    case 0x06:
    case 0x0C:
    case 0x05:
      return Transfer(raw, opcode == 0x05);
    case 0x0D:
      return Format(raw);
    default:
      Reply(raw, {0x80});
      return 0;
  }
}

int SimulatedFloppyKernel::Transfer(floppy_raw_cmd& raw, bool write) {
  const uint8_t hu = raw.cmd[1] & 7;
  const uint8_t c = raw.cmd[2], h = raw.cmd[3], n = raw.cmd[5], eot = raw.cmd[6], dtl = raw.cmd[8];
  const auto end = [&](uint8_t st0, uint8_t st1, uint8_t st2, uint8_t r) {
    Reply(raw, {static_cast<uint8_t>(st0 | hu), st1, st2, c, h, r, n});
  };
  if (!diskIn) return TimedOut(raw);
  if (write && writeProtected) {
    end(0x40, ST1_WP, 0, raw.cmd[4]);
    return 0;
  }
  std::vector<SimId>& ids = TrackUnder(hu);
  const size_t size = 128u << std::min<uint8_t>(n, 7);
  auto* data = static_cast<uint8_t*>(raw.data);
  long moved = 0;
  for (int r = raw.cmd[4]; r <= eot && moved < raw.length; ++r) {
    const int pos = Position();
    SimId* found = nullptr;
    int foundAhead = 0;
    bool wrongCylinder = false;
    for (SimId& id : ids) {
      if (raw.rate != FD_RATE_250K) break;
      if (id.c != c) wrongCylinder = true;
      const int ahead = (id.start - pos + kTrackBytes) % kTrackBytes;
      if (id.c == c && id.h == h && id.r == r && id.n == n && (!found || ahead < foundAhead)) {
        found = &id;
        foundAhead = ahead;
      }
    }
    if (!found) {
      // Two index pulses without the sector.
      WaitForIndex();
      nowUs += kTurnUs;
      raw.length -= moved;
      end(0x40, static_cast<uint8_t>(ST1_ND | (ids.empty() ? ST1_MAM : 0)),
          wrongCylinder ? uint8_t{ST2_WC} : uint8_t{0}, static_cast<uint8_t>(r));
      return 0;
    }
    WaitFor(found->start);
    nowUs += static_cast<int64_t>(kIdBytes * kUsPerByte);
    if (!found->idCrcOk || !found->hasData) {
      raw.length -= moved;
      if (!found->idCrcOk)
        end(0x40, ST1_CRC, 0, static_cast<uint8_t>(r));
      else
        end(0x40, ST1_MAM, ST2_MAM, static_cast<uint8_t>(r));
      return 0;
    }
    nowUs += static_cast<int64_t>((kDataLead + size + 2) * kUsPerByte);
    if (write) {
      found->data.assign(data + moved, data + moved + size);
      found->dataCrcOk = true;
      found->deleted = false;
    } else {
      std::fill(data + moved, data + moved + size, 0);
      std::copy_n(found->data.begin(), std::min(size, found->data.size()), data + moved);
    }
    moved += static_cast<long>(size);
    // With N = 0 the controller checks the CRC after DTL bytes.
    if (!write && (!found->dataCrcOk || (n == 0 && dtl != 0x80))) {
      raw.length -= moved;
      end(0x40, ST1_CRC, ST2_CRC, static_cast<uint8_t>(r));
      return 0;
    }
    if (!write && found->deleted) {
      raw.length -= moved;
      end(0x40, 0, ST2_CM, static_cast<uint8_t>(r));
      return 0;
    }
  }
  raw.length -= moved;
  // Without terminal count (pseudo-DMA) the controller runs past EOT.
  if (pseudoDma)
    end(0x40, ST1_EOC, 0, static_cast<uint8_t>(eot + 1));
  else
    end(0, 0, 0, static_cast<uint8_t>(eot + 1));
  return 0;
}

int SimulatedFloppyKernel::Format(floppy_raw_cmd& raw) {
  const uint8_t hu = raw.cmd[1] & 7;
  if (!diskIn) return TimedOut(raw);
  if (writeProtected) {
    Reply(raw, {static_cast<uint8_t>(0x40 | hu), ST1_WP, 0, 0, 0, 0, 0});
    return 0;
  }
  const uint8_t n = raw.cmd[2], sectors = raw.cmd[3], fill = raw.cmd[5];
  const auto* headers = static_cast<const uint8_t*>(raw.data);
  std::vector<SimId> ids;
  for (int i = 0; i < sectors; ++i) {
    SimId id;
    id.c = headers[4 * i];
    id.h = headers[4 * i + 1];
    id.r = headers[4 * i + 2];
    id.n = headers[4 * i + 3];
    id.data.assign(128u << std::min<uint8_t>(n, 7), fill);
    ids.push_back(id);
  }
  WaitForIndex();
  nowUs += kTurnUs;
  TrackUnder(hu) = Spread(std::move(ids));
  raw.length = 0;
  Reply(raw, {hu, 0, 0, 0, 0, 0, n});
  return 0;
}

}  // namespace kelvara::test
