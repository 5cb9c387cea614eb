// The observer through which the disk image asks the map that shows it to
// redraw. The image works the same with no view attached.
#pragma once

#include <cstdint>

namespace kelvara {

class DiskView {
 public:
  virtual ~DiskView() = default;
  // Scroll to the first row and column and repaint everything.
  virtual void ScrollToTopAndRepaint() = 0;
  // Redraw one sector cell (track row, slot column + 1) at once.
  virtual void RefreshSectorCell(uint8_t track, uint8_t slot) = 0;
  // Redraw the label cell of a track at once.
  virtual void RefreshTrackCell(uint8_t track) = 0;
};

}  // namespace kelvara
