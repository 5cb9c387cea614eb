// Small in-memory disks for tests, and the comparison of two images.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "model/ZXDisk.h"

namespace kelvara::test {

// Fills tracks 0..tracks-1 with 16 sectors of 256 bytes (ids as a TR-DOS
// disk: C = t / 2, H = 0, R = 1..16, N = 1), good data from a pattern.
void FillStandardDisk(TZX_Disk& disk, int tracks, uint32_t seed = 1);
// Puts one sector into the next free slot of a track and marks the track present.
TSectorRec& AddSector(TZX_Disk& disk, uint8_t track, uint8_t cyl, uint8_t head, uint8_t sec,
                      uint8_t sizeCode, const std::vector<uint8_t>& data, bool good = true);
// Every present track and slot of `expected` is in `actual` with the same ID,
// data state and data; no other track is present in `actual`.
void ExpectSameSectors(const TZX_Disk& expected, const TZX_Disk& actual);

}  // namespace kelvara::test
