#include "widgets/DiskMap.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <cmath>

namespace kelvara {

// Rows and columns only: every cell is painted from the image by the map.
class DiskMapModel : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : kTrackCount;
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : columns_;
  }
  QVariant data(const QModelIndex&, int) const override { return {}; }

  void SetColumns(int columns) {
    if (columns == columns_) return;
    beginResetModel();
    columns_ = columns;
    endResetModel();
  }

 private:
  int columns_ = kMapColumnsAtCreation;
};

namespace {

class CellDelegate : public QStyledItemDelegate {
 public:
  explicit CellDelegate(DiskMap* map) : QStyledItemDelegate(map), map_(map) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    map_->PaintCell(*painter, option.rect, index.column(), index.row());
    if (index == map_->currentIndex())
      map_->PaintFocusFrame(*painter, option.rect, index.column(), index.row());
  }

 private:
  DiskMap* map_;
};

// A cell image: one colour framed white on the top and left edges and black
// on the bottom and right, so that each cell stands out like a key.
QPixmap CellPixmap(int width, const QColor& fill) {
  QPixmap pixmap(width, kMapRowHeight);
  pixmap.fill(fill);
  QPainter p(&pixmap);
  p.setPen(Qt::white);
  p.drawLine(0, 0, width - 1, 0);
  p.drawLine(0, 0, 0, kMapRowHeight - 1);
  p.setPen(Qt::black);
  p.drawLine(0, kMapRowHeight - 1, width - 1, kMapRowHeight - 1);
  p.drawLine(width - 1, 0, width - 1, kMapRowHeight - 1);
  return pixmap;
}

int Half(int space) {
  return static_cast<int>(std::lround(space / 2.0));
}

}  // namespace

DiskMap::DiskMap(TZX_Disk& disk, QWidget* parent)
    : QTableView(parent), disk_(disk), model_(new DiskMapModel(this)) {
  setModel(model_);
  setItemDelegate(new CellDelegate(this));
  setShowGrid(false);
  horizontalHeader()->hide();
  verticalHeader()->hide();
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(kMapRowHeight);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setMinimumSectionSize(1);
  horizontalHeader()->setDefaultSectionSize(kMapSectorWidth);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  setColumnWidth(0, kMapLabelWidth);
  setEditTriggers(NoEditTriggers);
  setSelectionMode(SingleSelection);
  setVerticalScrollMode(ScrollPerItem);
  setHorizontalScrollMode(ScrollPerItem);
  setWordWrap(false);

  const QColor face = QApplication::palette().color(QPalette::Button);
  QPalette pal = palette();
  pal.setColor(QPalette::Base, face);
  pal.setColor(QPalette::Window, face);
  setPalette(pal);

  const QColor yellow(0xFF, 0xFF, 0x00);
  images_[static_cast<size_t>(CellImage::RedSector)] = CellPixmap(kMapSectorWidth, Qt::red);
  images_[static_cast<size_t>(CellImage::LimeSector)] =
      CellPixmap(kMapSectorWidth, QColor(0x00, 0xFF, 0x00));
  images_[static_cast<size_t>(CellImage::YellowSector)] = CellPixmap(kMapSectorWidth, yellow);
  images_[static_cast<size_t>(CellImage::GreySector)] = CellPixmap(kMapSectorWidth, face);
  images_[static_cast<size_t>(CellImage::BlueTrack)] =
      CellPixmap(kMapLabelWidth, QColor(0x00, 0x00, 0xFF));
  images_[static_cast<size_t>(CellImage::YellowTrack)] = CellPixmap(kMapLabelWidth, yellow);
  images_[static_cast<size_t>(CellImage::GreyTrack)] = CellPixmap(kMapLabelWidth, face);

  // Courier New 7 pt in the original look; Liberation Mono has its metrics.
  cellFont_ = QFont("Liberation Mono");
  cellFont_.setPointSize(7);
  cellFont_.setStyleHint(QFont::Monospace);

  disk_.SetView(this);
}

DiskMap::~DiskMap() {
  if (disk_.View() == this) disk_.SetView(nullptr);
}

void DiskMap::SetColumnCount(int columns) {
  model_->SetColumns(columns);
  setColumnWidth(0, kMapLabelWidth);
}

int DiskMap::ColumnCount() const {
  return model_->columnCount();
}

void DiskMap::SetShowDisabledSectors(bool show) {
  showDisabled_ = show;
  viewport()->update();
}

const QPixmap* DiskMap::ImageOf(CellImage image) const {
  if (image == CellImage::None) return nullptr;
  return &images_[static_cast<size_t>(image)];
}

void DiskMap::PaintCell(QPainter& painter, const QRect& rect, int column, int row) const {
  const CellLook look = LookOfCell(disk_, column, row, showDisabled_);
  const QPixmap* image = ImageOf(look.image);
  if (!image) return;
  painter.save();
  painter.drawPixmap(rect.topLeft(), *image);
  if (!look.text.empty()) {
    painter.setFont(cellFont_);
    painter.setPen(look.whiteText ? Qt::white : Qt::black);
    const QString text = QString::fromStdString(look.text);
    const QFontMetrics fm(cellFont_);
    const int left = rect.left() + Half(rect.width() - fm.horizontalAdvance(text));
    const int top = rect.top() + Half(rect.height() - fm.height());
    painter.drawText(QRect(left, top, fm.horizontalAdvance(text), fm.height()),
                     Qt::AlignLeft | Qt::AlignTop, text);
  }
  painter.restore();
}

void DiskMap::PaintFocusFrame(QPainter& painter, const QRect& rect, int column, int row) const {
  // Inside the cell's bevel, in the colour of the cell's text, dotted so
  // that the cell's own colour shows through.
  const CellLook look = LookOfCell(disk_, column, row, showDisabled_);
  painter.save();
  QPen pen(look.whiteText ? Qt::white : Qt::black);
  pen.setStyle(Qt::DotLine);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(rect.adjusted(1, 1, -3, -3));
  painter.restore();
}

void DiskMap::ResetToTopLeft() {
  setCurrentIndex(model_->index(0, 0));
  ScrollToTopAndRepaint();
}

void DiskMap::ScrollToTopAndRepaint() {
  verticalScrollBar()->setValue(0);
  horizontalScrollBar()->setValue(0);
  viewport()->update();
}

int DiskMap::LastFullyVisibleRow() const {
  const int top = verticalScrollBar()->value();
  return top + viewport()->height() / kMapRowHeight - 1;
}

void DiskMap::RefreshCell(int row, int column) {
  // A drive operation fills the image on this thread and keeps the window
  // alive only between its calls, so the cell is drawn at once rather than
  // at the next paint event; a row just below the view scrolls it by one so
  // that the map follows the operation.
  if (row > LastFullyVisibleRow()) {
    verticalScrollBar()->setValue(verticalScrollBar()->value() + 1);
    viewport()->repaint();
    return;
  }
  viewport()->repaint(visualRect(model_->index(row, column)));
}

void DiskMap::RefreshSectorCell(uint8_t track, uint8_t slot) {
  RefreshCell(track, slot + 1);
}

void DiskMap::RefreshTrackCell(uint8_t track) {
  RefreshCell(track, 0);
}

}  // namespace kelvara
