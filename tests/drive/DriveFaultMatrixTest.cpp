// Every call kind of each "Диск" command x every error code a driver gives
// x the first, a middle and the last track, and "Отмена" at every event
// call of each command: the checks are in DriveFaultCell.h.
#include <gtest/gtest.h>

#include "drive/DriveFaultCell.h"
#include "drive/DriveOperations.h"

namespace kelvara {
namespace {

struct Command {
  int mode;
  std::vector<DriveCall> calls;
};

const Command kCommands[] = {
    {kModeScan, {DriveCall::Reset, DriveCall::Seek, DriveCall::Scan}},
    {kModeRead, {DriveCall::Reset, DriveCall::Seek, DriveCall::Read}},
    {kModeScan + kModeRead, {DriveCall::Reset, DriveCall::Seek, DriveCall::Scan, DriveCall::Read}},
    {kModeFormat, {DriveCall::Reset, DriveCall::Seek, DriveCall::Format}},
    {kModeWrite, {DriveCall::Reset, DriveCall::Seek, DriveCall::Write}},
    {kModeFormat + kModeWrite,
     {DriveCall::Reset, DriveCall::Seek, DriveCall::Format, DriveCall::Write}},
};

TEST(DriveFaultMatrix, EveryFaultAndEveryCancelLeavesWhatItShould) {
  const uint32_t codes[] = {kErrorCrc, kErrorSectorNotFound, kErrorIdMarkNotFound,
                            kErrorWriteProtect, kErrorNotReady};
  int cells = 0;
  // One attempt per call, and three, where a fault must outlast every retry.
  for (int retries : {1, 3}) {
    test::DriveMatrix matrix;
    for (const Command& command : kCommands) {
      test::DriveCell cell;
      cell.mode = command.mode;
      cell.retries = retries;
      for (DriveCall call : command.calls) {
        // The controller is reset once, before the first track.
        const std::vector<int> tracks =
            call == DriveCall::Reset ? std::vector<int>{0} : std::vector<int>{0, 3, 5};
        for (int track : tracks) {
          for (uint32_t code : codes) {
            cell.call = call;
            cell.track = track;
            cell.code = code;
            ++cells;
            ASSERT_EQ(matrix.Run(cell), "")
                << "retries " << retries << " mode " << cell.mode << " call "
                << static_cast<int>(call) << " track " << track << " code " << code;
          }
        }
      }
      const int events = matrix.CleanRunEvents(cell);
      for (cell.cancelAfter = 0; cell.cancelAfter <= events; ++cell.cancelAfter, ++cells) {
        ASSERT_EQ(matrix.Run(cell), "")
            << "retries " << retries << " mode " << cell.mode << " cancel " << cell.cancelAfter;
      }
    }
  }
  EXPECT_GT(cells, 2 * 240);
}

}  // namespace
}  // namespace kelvara
