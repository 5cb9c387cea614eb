// The disk map paints what the image says: rendered to an image, each cell
// is checked by its colours.
#include <QScrollBar>
#include <QtTest>
#include <memory>

#include "widgets/DiskMap.h"

using namespace kelvara;

class DiskMapTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TZX_Disk> disk;
  std::unique_ptr<DiskMap> map;

  void AddSlot(uint8_t track, uint8_t slot, uint8_t sec, int dataLength, bool good) {
    TTrack& t = disk->GetTrack(track);
    t.Present = 0xFF;
    TSectorRec& s = t.SectorHeader(slot);
    s.Present = 0xFF;
    s.Sec = sec;
    s.SizeCode = 1;
    s.DataLength = static_cast<uint16_t>(dataLength);
    s.DataOk = good ? 0xFF : 0;
  }
  QRect Cell(int column, int row) const {
    return map->visualRect(map->model()->index(row, column));
  }
  QImage Render() const { return map->viewport()->grab().toImage(); }
  // The fill colour of a cell, taken clear of its frame and its text.
  QColor Fill(const QImage& image, int column, int row) const {
    return image.pixelColor(Cell(column, row).topLeft() + QPoint(2, 2));
  }
  // Whether some pixel inside the cell's frame is near the colour (text is
  // drawn smoothed, so its pixels blend into the fill).
  bool HasPixel(const QImage& image, int column, int row, const QColor& colour) const {
    const QRect r = Cell(column, row).adjusted(1, 1, -1, -1);
    for (int y = r.top(); y <= r.bottom(); ++y) {
      for (int x = r.left(); x <= r.right(); ++x) {
        const QColor c = image.pixelColor(x, y);
        if (std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
                std::abs(c.blue() - colour.blue()) <
            200) {
          return true;
        }
      }
    }
    return false;
  }

 private slots:
  void init() {
    map.reset();
    disk = std::make_unique<TZX_Disk>();
    map = std::make_unique<DiskMap>(*disk);
    map->SetColumnCount(kMapColumns);
    map->resize(700, 14 * 20 + 2 * map->frameWidth());
    map->show();
    QVERIFY(QTest::qWaitForWindowExposed(map.get()));
  }

  void sectorCellsAreColouredByTheirData() {
    AddSlot(0, 0, 1, 256, true);
    AddSlot(0, 1, 2, 256, false);
    AddSlot(0, 2, 3, 0, true);
    const QImage image = Render();
    QCOMPARE(Fill(image, 1, 0), QColor(0x00, 0xFF, 0x00));
    QCOMPARE(Fill(image, 2, 0), QColor(0xFF, 0x00, 0x00));
    QCOMPARE(Fill(image, 3, 0), QColor(0xFF, 0xFF, 0x00));
    // Each cell is framed white on the top and left, black on the bottom and right.
    const QRect cell = Cell(1, 0);
    QCOMPARE(image.pixelColor(cell.topLeft()), QColor(Qt::white));
    QCOMPARE(image.pixelColor(cell.bottomRight()), QColor(Qt::black));
    QVERIFY(HasPixel(image, 1, 0, Qt::black));  // the text "s01"
  }

  void trackLabelsAreYellowOrBlueWithRawBytes() {
    AddSlot(0, 0, 1, 256, true);
    AddSlot(1, 0, 1, 256, true);
    disk->GetTrack(1).RawLength = 6250;
    const QImage image = Render();
    QCOMPARE(Fill(image, 0, 0), QColor(0xFF, 0xFF, 0x00));
    QCOMPARE(Fill(image, 0, 1), QColor(0x00, 0x00, 0xFF));
    QVERIFY(HasPixel(image, 0, 0, Qt::black));
    QVERIFY(!HasPixel(image, 0, 0, Qt::white));
    QVERIFY(HasPixel(image, 0, 1, Qt::white));
  }

  void emptySlotsAreGreyOnlyWhenDisabledSectorsAreShown() {
    AddSlot(0, 0, 1, 256, true);
    const QColor background = map->viewport()->palette().color(QPalette::Base);
    QImage image = Render();
    QCOMPARE(image.pixelColor(Cell(2, 0).topLeft()), background);
    QCOMPARE(image.pixelColor(Cell(0, 5).topLeft()), background);
    map->SetShowDisabledSectors(true);
    image = Render();
    QCOMPARE(image.pixelColor(Cell(2, 0).topLeft()), QColor(Qt::white));
    QCOMPARE(Fill(image, 2, 0), background);
    QCOMPARE(image.pixelColor(Cell(0, 5).topLeft()), QColor(Qt::white));
  }

  void currentCellCarriesAFrameOverItsOwnColours() {
    AddSlot(0, 0, 1, 256, true);
    AddSlot(0, 1, 2, 256, true);
    map->setCurrentIndex(map->model()->index(0, 1));
    QImage image = Render();
    const QColor lime(0x00, 0xFF, 0x00);
    const QPoint inside(1, Cell(1, 0).height() / 2 - 1);  // on the frame's left edge
    QCOMPARE(image.pixelColor(Cell(1, 0).topLeft() + inside), QColor(Qt::black));
    QCOMPARE(image.pixelColor(Cell(2, 0).topLeft() + inside), lime);
    QCOMPARE(Fill(image, 1, 0), lime);
    // The keyboard moves the frame along.
    QTest::keyClick(map.get(), Qt::Key_Right);
    image = Render();
    QCOMPARE(image.pixelColor(Cell(1, 0).topLeft() + inside), lime);
    QCOMPARE(image.pixelColor(Cell(2, 0).topLeft() + inside), QColor(Qt::black));
  }

  void refreshBelowTheViewScrollsByExactlyOneRow() {
    const int last = map->LastFullyVisibleRow();
    QCOMPARE(last, 19);
    AddSlot(5, 0, 1, 256, true);
    map->RefreshSectorCell(5, 0);
    QCOMPARE(map->verticalScrollBar()->value(), 0);
    AddSlot(uint8_t(last + 1), 0, 1, 256, true);
    map->RefreshSectorCell(uint8_t(last + 1), 0);
    QCOMPARE(map->verticalScrollBar()->value(), 1);
    map->RefreshTrackCell(uint8_t(last + 2));
    QCOMPARE(map->verticalScrollBar()->value(), 2);
    QCOMPARE(Fill(Render(), 1, last + 1), QColor(0x00, 0xFF, 0x00));
  }
};

QTEST_MAIN(DiskMapTest)
#include "DiskMapTest.moc"
