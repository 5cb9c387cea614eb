// What the track-level readers (UDI, HFE) share.
#pragma once

#include <cstdint>
#include <string>

#include "model/ZXDisk.h"

namespace kelvara {

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
