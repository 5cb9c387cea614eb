#include "formats/TrackImage.h"

namespace kelvara {

namespace {

void Append(std::string& text, const std::string& line) {
  if (!text.empty()) text += " ";
  text += line;
}

std::string Tracks(int count, int first) {
  return count == 1 ? "Track " + CylSideText(first)
                    : std::to_string(count) + " tracks (first " + CylSideText(first) + ")";
}

}  // namespace

std::string TrackNotes::Text() const {
  std::string text;
  if (beyond_) {
    Append(text, std::to_string(beyond_) + " track(s) beyond track " +
                     CylSideText(kTrackCount - 1) + " not loaded.");
  }
  if (cut_.count) {
    Append(text, Tracks(cut_.count, cut_.first) + " cut to " + std::to_string(kRawTrackCapacity) +
                     " bytes.");
  }
  if (crowded_.count) {
    Append(text, Tracks(crowded_.count, crowded_.first) + ": sectors after the " +
                     std::to_string(kSlotCount) + "th not loaded.");
  }
  return text;
}

}  // namespace kelvara
