#include "drive/DriveFaultCell.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "drive/DriveRig.h"

namespace kelvara::test {

namespace {

bool Reading(int mode) {
  return mode < kModeFormat;
}

// A track as the checks compare it.
struct TrackLite {
  uint8_t Present = 0;
  std::array<TSectorRec, kSlotCount> Sectors{};
};
using Tracks = std::vector<TrackLite>;

// Copies a track into `to`, reusing its sectors' storage.
void CopyTrack(TrackLite& to, const TZX_Disk& d, int t) {
  const TTrack& track = d.GetTrack(static_cast<uint8_t>(t));
  to.Present = track.Present;
  to.Sectors = track.Sectors;
}

// Lays tracks 0..tracks-1 with sectors 1..sectors of 256 bytes: pattern data
// marked good, or zero data marked not read. The pattern of a sector is a
// run of 256 counting bytes whose start depends on the track and sector.
void Lay(TZX_Disk& disk, const DriveCell& c, bool data) {
  static const std::array<uint8_t, 512> kCounting = [] {
    std::array<uint8_t, 512> b;
    for (size_t k = 0; k < b.size(); ++k)
      b[k] = static_cast<uint8_t>(k);
    return b;
  }();
  static const std::array<uint8_t, 256> kZeros{};
  for (int t = 0; t < c.tracks; ++t) {
    TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    track.Present = 0xFF;
    for (int r = 0; r < c.sectors; ++r) {
      const size_t from = static_cast<size_t>(t * 31 + r * 7 + 1) % 256;
      TSectorRec& s = track.Sectors[r];
      s.SetId(static_cast<uint8_t>(t / 2), static_cast<uint8_t>(t % 2), static_cast<uint8_t>(r + 1),
              1);
      s.SetData(data ? std::span<const uint8_t>(kCounting).subspan(from, 256)
                     : std::span<const uint8_t>(kZeros));
      s.DataOk = data ? 0xFF : 0;
    }
  }
  disk.CountTracks();
}

void Blank(TZX_Disk& disk, int tracks) {
  for (int t = 0; t < tracks; ++t) {
    TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    track.ClearTrack();
    track.Present = 0;
  }
  disk.CountTracks();
}

// Puts the rig back to the start of a run of the cell's command: the image
// and the disk laid out afresh (`laid`: the tracks an earlier layout may have
// filled), a new host, no faults. The drive's call counts go on.
void Prepare(DriveRig* rig, const DriveCell& c, int& laid) {
  laid = std::max(laid, c.tracks);
  Blank(*rig->image, laid);
  Blank(rig->Disk(), laid);
  rig->host = FakeOperationHost{};
  rig->drive.ClearFaults();
  rig->settings.FirstTrack = 0;
  rig->settings.LastTrack = c.tracks - 1;
  rig->settings.RetryCount = c.retries;
  // Reading: the drive holds the data; scanning fills an empty image, reading
  // by labels an image with the IDs and no data. Writing: the image holds
  // the data; formatting starts on a blank disk, writing on one formatted
  // with the same IDs and no data.
  if (Reading(c.mode)) {
    Lay(rig->Disk(), c, true);
    if (c.mode == kModeRead) Lay(*rig->image, c, false);
  } else {
    Lay(*rig->image, c, true);
    if (c.mode == kModeWrite) Lay(rig->Disk(), c, false);
  }
}

// The first 256 data bytes of a slot made zero, as a format leaves them.
void ZeroHead(TSectorRec& s) {
  const std::span<uint8_t> d = s.MutableData();
  std::fill_n(d.begin(), std::min<size_t>(d.size(), 256), 0);
}

// What the run may change of a slot: its ID, its data and their state.
bool SlotEq(const TSectorRec& a, const TSectorRec& b) {
  return a.Present == b.Present && a.Cyl == b.Cyl && a.Head == b.Head && a.Sec == b.Sec &&
         a.SizeCode == b.SizeCode && a.DataLength() == b.DataLength() && a.DataOk == b.DataOk &&
         a.ErrorCount == b.ErrorCount && std::ranges::equal(a.Data(), b.Data());
}

bool TrackEq(const TrackLite& x, const TrackLite& y) {
  if (x.Present != y.Present) return false;
  for (int i = 0; i < kSlotCount; ++i) {
    if (!SlotEq(x.Sectors[i], y.Sectors[i])) return false;
  }
  return true;
}

DriveFault FaultOf(const DriveCell& c) {
  DriveFault f;
  f.call = c.call;
  f.code = c.code;
  const int t = c.track, per = c.sectors;
  switch (c.call) {
    case DriveCall::Reset:
      f.first = f.last = 1;
      break;
    case DriveCall::Seek:
      f.first = f.last = t + 2;
      break;  // after the restart's seek
    case DriveCall::Scan:
      f.first = f.last = t + 1;
      break;  // never retried
    case DriveCall::Format:
      f.first = t + 1;
      f.last = t + c.retries;
      break;
    default:  // Read, Write: every attempt at every sector of the track
      f.first = per * t + 1;
      f.last = per * t + per * c.retries;
      break;
  }
  return f;
}

std::string Text(uint32_t n) {
  return std::to_string(n);
}

std::string SectorSuffix(int t, int r) {
  return " (Track - " + std::to_string(t) + " / Sector - " + std::to_string(r) + ")";
}

// The image and the disk of a run, tracks 0..tracks-1.
struct State {
  Tracks image, disk;
  void Capture(DriveRig& rig, int tracks) {
    image.resize(static_cast<size_t>(tracks));
    disk.resize(static_cast<size_t>(tracks));
    for (int t = 0; t < tracks; ++t) {
      CopyTrack(image[static_cast<size_t>(t)], *rig.image, t);
      CopyTrack(disk[static_cast<size_t>(t)], rig.Disk(), t);
    }
  }
};

class Cell {
 public:
  // `now` receives the state after the run (kept by the caller, so that its
  // storage serves every cell).
  Cell(const DriveCell& c, DriveRig& rig, int& laid, const State& before, const State& clean,
       State& now)
      : c_(c), rig_(rig), laid_(laid), before_(before), clean_(clean), now_(now) {}

  std::string Run() {
    Prepare(&rig_, c_, laid_);
    if (c_.cancelAfter >= 0) {
      rig_.host.cancelAfterEvents = c_.cancelAfter;
    } else {
      // The drive counts calls over the rig's life.
      DriveFault f = FaultOf(c_);
      const int done = rig_.drive.CallCount(f.call);
      f.first += done;
      f.last += done;
      rig_.drive.AddFault(f);
    }
    result_ = rig_.Run(c_.mode);
    now_.Capture(rig_, c_.tracks);
    if (std::string e = CheckLog(); !e.empty()) return "LOG: " + e;
    return CheckTracks();
  }

 private:
  const Tracks& Changed() const { return Reading(c_.mode) ? now_.image : now_.disk; }
  const Tracks& Clean() const { return Reading(c_.mode) ? clean_.image : clean_.disk; }
  const Tracks& Before() const { return Reading(c_.mode) ? before_.image : before_.disk; }
  bool Faulting(DriveCall call) const { return c_.cancelAfter < 0 && c_.call == call; }

  std::vector<std::string> ExpectedErrors() const {
    std::vector<std::string> out;
    if (c_.cancelAfter >= 0) return out;
    const std::string code = Text(c_.code), track = " (Track - " + std::to_string(c_.track) + ")";
    if (Faulting(DriveCall::Scan)) out.push_back("Ошибка сканирования - " + code + track);
    if (Faulting(DriveCall::Format)) out.push_back("Ошибка форматирования - " + code + track);
    if (Faulting(DriveCall::Seek))
      out.push_back("Ошибка позиционирования - (" + code + ")!" + track);
    for (int r = 1; r <= c_.sectors; ++r) {
      if (Faulting(DriveCall::Read))
        out.push_back("Ошибка чтения сектора  - " + code + SectorSuffix(c_.track, r));
      if (Faulting(DriveCall::Write))
        out.push_back("Ошибка записи сектора  - " + code + SectorSuffix(c_.track, r));
    }
    return out;
  }

  std::string CheckLog() const {
    const FakeOperationHost& host = rig_.host;
    const std::vector<std::string> messages = host.MessageTexts();
    if (Faulting(DriveCall::Reset)) {
      if (messages !=
          std::vector<std::string>{"Ошибка сброса контроллера - (" + Text(c_.code) + ")!"})
        return "no reset message";
      // The run stops at once, its reason in the LOG too.
      return host.LogTexts() == std::vector<std::string>{messages[0], "Операция остановлена!"}
                 ? ""
                 : "not the reset's line and the stop";
    }
    if (host.log.empty() || host.log[0].text != "Начало операции!" || !host.log[0].selected)
      return "no start line";
    const bool stopped = Faulting(DriveCall::Seek);
    if (messages !=
        (stopped ? std::vector<std::string>{"Ошибка позиционирования - (" + Text(c_.code) + ")!"}
                 : std::vector<std::string>{})) {
      return "unexpected messages";
    }
    const bool done = host.Logged("Операция выполнена!", true);
    const bool cancelled = host.Logged("Операция отменена пользователем!", true);
    if (stopped ? done || cancelled || result_.end != OperationEnd::Stopped
                : done == cancelled || (cancelled && c_.cancelAfter < 0) ||
                      result_.end != (done ? OperationEnd::Finished : OperationEnd::Cancelled)) {
      return "wrong end of the run";
    }
    if (cancelled && host.log.back().text != "Операция отменена пользователем!")
      return "lines after the cancel";
    if (stopped && host.log.back().text != "Операция остановлена!") return "no stop line";
    if (Faulting(DriveCall::Read) && done &&
        host.log.back().text != "Сбойных секторов - " + std::to_string(c_.sectors)) {
      return "no bad-sector count (last LOG line \"" + host.log.back().text + "\")";
    }
    std::vector<std::string> errors;
    for (const auto& line : host.log) {
      if (!line.text.starts_with("Ошибка")) continue;
      if (!line.selected) return "error line not selected: " + line.text;
      // A track whose format failed is not there to write on.
      if (Faulting(DriveCall::Format) && c_.mode == kModeFormat + kModeWrite &&
          line.text.starts_with("Ошибка записи сектора  - ") &&
          line.text.find(" (Track - " + std::to_string(c_.track) + " /") != std::string::npos) {
        continue;
      }
      errors.push_back(line.text);
    }
    const std::vector<std::string> want = ExpectedErrors();
    if (errors != want) return "error lines differ" + (errors.empty() ? "" : ": " + errors[0]);
    // Scan and read errors go to the track's log as well; format errors do not.
    const std::vector<std::string>& trackLog =
        rig_.image->GetTrack(static_cast<uint8_t>(c_.track)).Log;
    for (const std::string& e : want) {
      const bool inTrack = std::find(trackLog.begin(), trackLog.end(), e) != trackLog.end();
      if (inTrack != (Faulting(DriveCall::Scan) || Faulting(DriveCall::Read)))
        return "track log: " + e;
    }
    return {};
  }

  // The faulted track of a failed read or write: the IDs of the clean run,
  // the data it had (a formatted track's fill byte when it had none).
  bool FailedTransfer(int t) const {
    const TrackLite& got = Changed()[t];
    const TrackLite& clean = Clean()[t];
    const TrackLite& before = Before()[t];
    for (int i = 0; i < kSlotCount; ++i) {
      TSectorRec want = clean.Sectors[i];
      if (want.Present && Faulting(DriveCall::Read)) {
        want.SetData(before.Sectors[i].Data());
        want.DataOk = 0;
        want.ErrorCount = static_cast<uint8_t>(before.Sectors[i].ErrorCount + 1);
      } else if (before.Present) {
        want = before.Sectors[i];
      } else if (want.Present) {
        ZeroHead(want);
      }
      if (!SlotEq(got.Sectors[i], want)) return false;
    }
    return true;
  }

  std::string CheckTracks() const {
    // Reading leaves the disk alone, writing the image.
    const Tracks& untouched = Reading(c_.mode) ? now_.disk : now_.image;
    const Tracks& untouchedBefore = Reading(c_.mode) ? before_.disk : before_.image;
    for (int t = 0; t < c_.tracks; ++t) {
      if (!TrackEq(untouched[t], untouchedBefore[t]))
        return "track " + std::to_string(t) + " changed";
    }
    if (c_.cancelAfter >= 0) return CheckCancelled();
    for (int t = 0; t < c_.tracks; ++t) {
      bool ok;
      if (Faulting(DriveCall::Reset)) {
        ok = TrackEq(Changed()[t], Before()[t]);
      } else if (Faulting(DriveCall::Seek)) {
        ok = TrackEq(Changed()[t], t < c_.track ? Clean()[t] : Before()[t]);
      } else if (t != c_.track) {
        ok = TrackEq(Changed()[t], Clean()[t]);
      } else if (Faulting(DriveCall::Read) || Faulting(DriveCall::Write)) {
        ok = FailedTransfer(t);
      } else {  // a failed scan or format leaves the track as it was
        ok = TrackEq(Changed()[t], Before()[t]);
      }
      if (!ok) return "track " + std::to_string(t) + " is not as the fault leaves it";
    }
    return {};
  }

  // Tracks done, at most one partly done (each slot done, scanned or
  // formatted only, or untouched), the rest untouched.
  std::string CheckCancelled() const {
    int t = 0;
    while (t < c_.tracks && TrackEq(Changed()[t], Clean()[t]))
      ++t;
    if (t < c_.tracks && !TrackEq(Changed()[t], Before()[t])) {
      for (int i = 0; i < kSlotCount; ++i) {
        const TSectorRec& clean = Clean()[t].Sectors[i];
        const TSectorRec& before = Before()[t].Sectors[i];
        TSectorRec scanned = before;
        scanned.SetId(clean.Cyl, clean.Head, clean.Sec, clean.SizeCode);
        // Formatted but not yet written: the new ID, the fill byte.
        TSectorRec formatted = clean;
        ZeroHead(formatted);
        const TSectorRec& got = Changed()[t].Sectors[i];
        if (!SlotEq(got, clean) && !SlotEq(got, before) && !SlotEq(got, scanned) &&
            !SlotEq(got, formatted))
          return "track " + std::to_string(t) + " slot " + std::to_string(i) + " half done";
      }
      ++t;
    }
    for (; t < c_.tracks; ++t) {
      if (!TrackEq(Changed()[t], Before()[t]))
        return "track " + std::to_string(t) + " after the cancel";
    }
    return {};
  }

  const DriveCell& c_;
  DriveRig& rig_;
  int& laid_;
  const State& before_;
  const State& clean_;
  State& now_;
  OperationResult result_;
};

}  // namespace

struct DriveMatrix::Command {
  DriveRig rig;
  int laid = 0;
  State now;
};

struct DriveMatrix::Clean {
  Command* command = nullptr;
  State before, clean;
  int events = 0;
};

DriveMatrix::DriveMatrix() = default;
DriveMatrix::~DriveMatrix() = default;

DriveMatrix::Clean& DriveMatrix::CleanOf(const DriveCell& cell) {
  std::unique_ptr<Clean>& c = cleans_[{cell.mode, cell.tracks, cell.sectors, cell.retries}];
  if (!c) {
    std::unique_ptr<Command>& command = commands_[cell.mode];
    if (!command) command = std::make_unique<Command>();
    c = std::make_unique<Clean>();
    c->command = command.get();
    DriveRig& rig = command->rig;
    Prepare(&rig, cell, command->laid);
    c->before.Capture(rig, cell.tracks);
    rig.Run(cell.mode);
    c->clean.Capture(rig, cell.tracks);
    c->events = rig.host.events;
  }
  return *c;
}

std::string DriveMatrix::Run(const DriveCell& cell) {
  Clean& c = CleanOf(cell);
  Command& command = *c.command;
  return Cell(cell, command.rig, command.laid, c.before, c.clean, command.now).Run();
}

int DriveMatrix::CleanRunEvents(const DriveCell& cell) {
  return CleanOf(cell).events;
}

}  // namespace kelvara::test
