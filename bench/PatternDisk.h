// The disk the flux benchmarks decode: 160 tracks of sixteen 256-byte
// sectors (TR-DOS numbering, head byte 0 on both sides), each sector's bytes
// a pattern of its track and number.
#pragma once

#include <cstdint>
#include <vector>

#include "model/ZXDisk.h"

namespace kelvara::bench {

inline void FillPatternDisk(TZX_Disk& disk) {
  std::vector<uint8_t> data(256);
  for (int t = 0; t < 160; ++t) {
    TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    track.Present = 0xFF;
    for (int r = 1; r <= 16; ++r) {
      for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(t * 31 + r * 7 + i * 13);
      TSectorRec& s = track.Sectors[r - 1];
      s.SetId(static_cast<uint8_t>(t / 2), 0, static_cast<uint8_t>(r), 1);
      s.DataOk = 0xFF;
      s.SetData(data);
    }
    track.CountSectors();
  }
}

}  // namespace kelvara::bench
