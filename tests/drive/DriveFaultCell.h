// One cell of the drive fault matrix: a "Диск" menu command run through
// DriveSession on the virtual drive with one kind of driver call failing
// with one error code on one track (or "Отмена" pressed after a number of
// event calls), checked against a clean run of the same command: the LOG
// and track-log lines, the image, and the disk in the drive. The unit test
// walks the whole matrix; fuzz/fuzz_drive_faults.cpp picks cells, layouts
// and retry counts from fuzzer bytes.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "drive/VirtualFloppy.h"

namespace kelvara::test {

struct DriveCell {
  int mode = 4;  // 2, 4, 6, 8, 16 or 24
  DriveCall call = DriveCall::Read;
  int track = 0;  // the track whose calls fail
  uint32_t code = kErrorCrc;
  int cancelAfter = -1;         // events before "Отмена"; -1: no cancel, the fault applies
  int tracks = 6, sectors = 4;  // the layout: tracks 0..tracks-1, sectors 1..sectors
  int retries = 1;
};

// Runs cells on one virtual drive per command, whatever their layout and
// retry count (thousands of cells share a drive and an image); the clean run
// of each command, layout and retry count is made once and kept.
class DriveMatrix {
 public:
  DriveMatrix();
  ~DriveMatrix();
  // Empty when every check held; otherwise what failed.
  std::string Run(const DriveCell& cell);
  // The event calls of the clean run of the cell's command: "Отмена" can
  // come after 0..that many.
  int CleanRunEvents(const DriveCell& cell);

 private:
  struct Command;
  struct Clean;
  Clean& CleanOf(const DriveCell& cell);
  std::map<int, std::unique_ptr<Command>> commands_;  // by mode
  std::map<std::array<int, 4>, std::unique_ptr<Clean>> cleans_;
};

}  // namespace kelvara::test
