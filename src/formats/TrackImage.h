// What the track-level readers (UDI, HFE) share.
#pragma once

#include <cstdint>
#include <string>

#include "model/ZXDisk.h"

namespace kelvara {

// Size of a sector's data as the controller reads it. A WD179x (the Beta
// disk interface's controller) looks only at the low two bits of N, so a
// protection's odd size code reads as 128..1024 bytes; the slot keeps the
// code as recorded.
constexpr int ControllerSectorBytes(uint8_t sizeCode) {
  return SectorBytes(sizeCode & 3);
}

// What a reader had to leave out because the image could not hold it, as
// one information line for the status bar.
class TrackNotes {
 public:
  // Image tracks of the file past the image's last track, not loaded.
  void TracksBeyondImage(int count) { beyond_ += count; }
  // A track longer than the raw buffer, cut to its capacity.
  void TrackCut(int track) { Note(cut_, track); }
  // A track of more sectors than a track has slots; the rest stay unread.
  void TrackCrowded(int track) { Note(crowded_, track); }
  // Empty when nothing was left out.
  std::string Text() const;

 private:
  struct Count {
    int first = -1;
    int count = 0;
  };
  static void Note(Count& c, int track) {
    if (c.count++ == 0) c.first = track;
  }

  int beyond_ = 0;
  Count cut_, crowded_;
};

}  // namespace kelvara
