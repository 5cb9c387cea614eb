// The disk map: one row per track, one cell per sector slot, each cell
// coloured by the state of its data. It draws the image it is given and
// implements the image's DiskView, so loads, clears and drive operations
// redraw it through the image.
#pragma once

#include <QPixmap>
#include <QTableView>
#include <array>

#include "model/DiskView.h"
#include "model/ZXDisk.h"
#include "session/MapCells.h"

namespace kelvara {

class DiskMapModel;

class DiskMap : public QTableView, public DiskView {
  Q_OBJECT
 public:
  DiskMap(TZX_Disk& disk, QWidget* parent = nullptr);
  ~DiskMap() override;

  TZX_Disk& Disk() { return disk_; }

  // 26 columns as created; the main window cuts them to 21 when it first shows.
  void SetColumnCount(int columns);
  int ColumnCount() const;

  // Empty slots and absent tracks drawn as grey cells.
  bool ShowDisabledSectors() const { return showDisabled_; }
  void SetShowDisabledSectors(bool show);

  // Current cell and scroll position to the first column and row, then a
  // full redraw: what a load or a new disk ends with.
  void ResetToTopLeft();

  // DiskView
  void ScrollToTopAndRepaint() override;
  void RefreshSectorCell(uint8_t track, uint8_t slot) override;
  void RefreshTrackCell(uint8_t track) override;

  // Paints one cell as the image says; the delegate calls this for every
  // visible cell.
  void PaintCell(QPainter& painter, const QRect& rect, int column, int row) const;

  // The frame that marks the current cell, drawn over its painting.
  void PaintFocusFrame(QPainter& painter, const QRect& rect, int column, int row) const;

  // The last row whose whole height is visible.
  int LastFullyVisibleRow() const;

 private:
  void RefreshCell(int row, int column);
  const QPixmap* ImageOf(CellImage image) const;

  TZX_Disk& disk_;
  DiskMapModel* model_;
  bool showDisabled_ = false;
  // Indexed by CellImage; the first (None) stays null.
  std::array<QPixmap, 8> images_;
  QFont cellFont_;
};

}  // namespace kelvara
