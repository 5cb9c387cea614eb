// Cells of the drive fault matrix the fuzzer picks: layout, retry count,
// command, failing call, track and error code (any value, not only the
// named ones), or the event call before which "Отмена" is pressed. The
// checks are those of tests/drive/DriveFaultCell.h; a broken one aborts.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "drive/DriveFaultCell.h"
#include "drive/DriveOperations.h"

namespace {

using kelvara::DriveCall;

uint8_t Take(const uint8_t*& p, const uint8_t* end) {
  return p < end ? *p++ : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* p = data;
  const uint8_t* end = data + size;
  kelvara::test::DriveCell cell;
  cell.tracks = 1 + Take(p, end) % 8;
  // A scan that finds a single ID field leaves the track as it was, so a
  // track of one sector is never read: two at least.
  cell.sectors = 2 + Take(p, end) % 11;
  cell.retries = 1 + Take(p, end) % 3;
  // One matrix for the whole run: a drive per command, and the clean run of
  // each command and layout made the first time it comes up (at most 8 x 11
  // x 3 x 6 of them).
  static kelvara::test::DriveMatrix matrix;
  // Several cells per input share the matrix, as the unit test's do; at
  // most eight, so that an input stays one short run of the matrix (longer
  // ones cost more than the mutations they allow are worth).
  for (int cells = 0; p < end && cells < 8; ++cells) {
    static const int kModes[] = {2, 4, 6, 8, 16, 24};
    cell.mode = kModes[Take(p, end) % 6];
    std::vector<DriveCall> calls = {DriveCall::Reset, DriveCall::Seek};
    if (cell.mode & kelvara::kModeScan) calls.push_back(DriveCall::Scan);
    if (cell.mode & kelvara::kModeRead) calls.push_back(DriveCall::Read);
    if (cell.mode & kelvara::kModeFormat) calls.push_back(DriveCall::Format);
    if (cell.mode & kelvara::kModeWrite) calls.push_back(DriveCall::Write);
    cell.call = calls[Take(p, end) % calls.size()];
    cell.track = Take(p, end) % cell.tracks;
    cell.code = Take(p, end) | Take(p, end) << 8;
    if (cell.code == 0) cell.code = kelvara::kErrorCrc;  // 0 reads as "no attempt made"
    const uint8_t cancel = Take(p, end);
    cell.cancelAfter = cancel < 64 ? cancel % (matrix.CleanRunEvents(cell) + 1) : -1;
    const std::string failure = matrix.Run(cell);
    if (!failure.empty()) {
      std::fprintf(stderr, "drive cell failed: mode %d call %d track %d code %u cancel %d: %s\n",
                   cell.mode, static_cast<int>(cell.call), cell.track, cell.code, cell.cancelAfter,
                   failure.c_str());
      std::abort();
    }
  }
  return 0;
}
