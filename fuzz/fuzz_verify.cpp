// verify and diff on a disk whose catalog track is hostile: the first 2304
// input bytes become sectors 1..9 of track 0, each later pair of bytes damages
// a slot (its track, then its slot number and what happens to it). The
// checks and the comparison with the blank disk read only what is there.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "filesystems/Trdos.h"
#include "session/ImageCheck.h"
#include "session/ImageDiff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvara;
  constexpr size_t kTrack0 = 9 * 256;
  static const auto blank = [] {
    auto d = std::make_unique<TZX_Disk>();
    CreateTrdosDisk(*d, "FUZZ");
    return d;
  }();
  static auto disk = std::make_unique<TZX_Disk>();
  disk->CopyFrom(*blank);
  const size_t head = std::min(size, kTrack0);
  TTrack& track0 = disk->GetTrack(0);
  for (size_t at = 0; at < head; at += 256)
    std::memcpy(track0.Sectors[at / 256].MutableData().data(), data + at,
                std::min<size_t>(256, head - at));
  for (size_t at = kTrack0; at + 1 < size; at += 2) {
    TTrack& track = disk->GetTrack(static_cast<uint8_t>(data[at] % kTrackCount));
    TSectorRec& s = track.Sectors[(data[at + 1] & 0x1F) % kSlotCount];
    switch (data[at + 1] >> 5) {
      case 0:
        s.DataOk = 0;
        break;
      case 1:
        s.ClearData();
        break;
      case 2:
        s.Present = 0;
        break;
      case 3:
        track.Present = 0;
        break;
      case 4:
        s.Sec = data[at];
        break;
      case 5:
        s.SizeCode = data[at] & 7;
        break;
      default:
        s.MutableData(data[at] * 5);
        break;
    }
  }
  ImageCheck check;
  CheckImage(*disk, check);
  DiffImages(*blank, *disk);
  return 0;
}
