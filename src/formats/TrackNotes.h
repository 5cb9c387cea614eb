// What a track-level reader (UDI, HFE) had to leave out because the image
// could not hold it, as one information line for the status bar.
#pragma once

#include <string>

namespace kelvara {

class TrackNotes {
 public:
  // File tracks past the image's last track, which are not loaded.
  void TrackBeyondImage() { ++beyond_; }
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
