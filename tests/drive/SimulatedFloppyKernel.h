// The Linux kernel floppy driver and a drive with a spinning disk, behind
// the backend's system calls: what LinuxFloppy sees of real hardware.
//
// The drive: 300 rpm, a 250 kbit/s MFM disk (6250 bytes a turn), ID fields
// at byte positions after the index, a head that steps 3 ms a cylinder and
// stops at 0 and 83. The controller keeps its own cylinder register, which
// a reset clears while the head stays where it is. The kernel's rules for
// FDRAWCMD, as drivers/block/floppy.c has them:
// - after FDRESET every drive needs a recalibrate, done (twice when one is
//   not enough) only before a command flagged NEED_SEEK or NEED_DISK;
// - NEED_SEEK seeks to raw.track when the kernel thinks the head elsewhere;
// - NEED_DISK with the disk-change line active fails when the line cannot
//   be cleared (no disk, or a drive whose line does not work) and otherwise
//   steps to raw.track - 1 (or 1) to clear it;
// - a command that never ends (no disk: no index pulses) times out after
//   3 s, leaves the controller marked for reset and fails (HARDFAILURE,
//   EIO); until FDRESET every command then fails at once;
// - a data phase of no bytes is refused (EINVAL).
#pragma once

#include <linux/fd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "drive/LinuxFloppy.h"
#include "model/ZXDisk.h"

namespace kelvara::test {

struct SimId {
  uint8_t c = 0, h = 0, r = 0, n = 1;
  int start = 0;  // byte position of the ID field after the index
  bool idCrcOk = true;
  bool hasData = true;
  bool dataCrcOk = true;
  bool deleted = false;
  std::vector<uint8_t> data;
};

// What one FDRAWCMD asked for.
struct SimCall {
  unsigned flags;
  int track;
  uint8_t opcode;              // 0 for a command of no bytes
  int headCylinder;            // where the head was when the command ran
  std::vector<uint8_t> bytes;  // the command block
  int64_t atUs;                // when the command started
};

class SimulatedFloppyKernel final : public FloppySystem {
 public:
  static constexpr int kTrackBytes = 6250;
  static constexpr double kUsPerByte = 32;
  static constexpr int kNeed1Recal = -2, kNeed2Recal = -3, kNoTrack = -1;

  std::array<std::vector<SimId>, kTrackCount> tracks;
  bool diskIn = true;
  bool writeProtected = false;
  bool pseudoDma = false;              // transfers end with "end of cylinder"
  bool changeLineBroken = false;       // the disk-change line is always active
  bool changeLine = true;              // active from the disk's insertion to a step
  int openError = 0;                   // errno of Open, 0 = opens
  std::map<int, int64_t> lateReadIds;  // READ ID call (1-based) -> delay before it, us
  // READ ID calls (1-based) before which another program opens the drive
  // and the kernel recalibrates it for that program: the head goes to
  // cylinder 0 while this program's kernel track stays what it was.
  std::set<int> foreignOpens;
  // The drive's motor stops after this long without a command; the next
  // command waits for it to spin up. 0: the motor never stops.
  int64_t motorOffAfterUs = 0;
  int64_t settledUs = 0;      // the head rings after a step until then
  int64_t lastCommandUs = 0;  // the last command on the track
  int headCylinder = 0;
  int fdcCylinder = 0;
  int kernelTrack = kNeed2Recal;
  bool fdcNeedsReset = false;
  int64_t nowUs = 0;
  int readIds = 0;
  std::vector<SimCall> calls;

  // IDs C, H, R, N spread over the track as a formatter lays them.
  static std::vector<SimId> Spread(std::vector<SimId> ids);
  // The disk of an image: each present track's present slots in slot
  // order, laid out as the virtual drive lays them.
  void LoadImage(const TZX_Disk& disk);

  int Open(const std::string& path, int flags) override;
  void Close(int) override {}
  int Ioctl(int fd, unsigned long request, void* arg) override;
  std::chrono::microseconds Now() override { return std::chrono::microseconds{nowUs}; }
  void Sleep(std::chrono::microseconds time) override { nowUs += time.count(); }

 private:
  int Raw(floppy_raw_cmd& raw);
  bool ChangeLineActive() const { return changeLineBroken || !diskIn || changeLine; }
  void StepTo(int cylinder);  // a SEEK of the controller from its register
  bool Recalibrate();         // true when track 0 was reached
  int TimedOut(floppy_raw_cmd& raw);
  int Position() const;  // byte under the head
  void WaitFor(int position);
  void WaitForIndex();
  std::vector<SimId>& TrackUnder(uint8_t headAndUnit);
  int Transfer(floppy_raw_cmd& raw, bool write);
  int Format(floppy_raw_cmd& raw);
  void Reply(floppy_raw_cmd& raw, std::vector<uint8_t> bytes);
};

}  // namespace kelvara::test
