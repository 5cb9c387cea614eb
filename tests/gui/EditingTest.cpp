// Inspecting and editing the image on the main window's disk map, as a user
// clicks, right-clicks, types into the hex panel and answers questions.
#include <QContextMenuEvent>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "ScriptedDialogs.h"
#include "app/TFMain.h"
#include "app/TSecAd.h"
#include "widgets/DiskMap.h"
#include "widgets/TSSHex.h"

using namespace kelvara;
using test::FakeDrive;
using test::ScriptedDialogs;

class EditingTest : public QObject, test::MainWindowFixture {
  Q_OBJECT

 private:
  TSectorRec& Slot(int track, int slot) {
    return w->Disk().GetTrack(static_cast<uint8_t>(track)).Sectors[static_cast<size_t>(slot)];
  }
  QPoint CellCentre(int column, int row) {
    return w->zxd->visualRect(w->zxd->model()->index(row, column)).center();
  }
  void Click(int column, int row) {
    QTest::mouseClick(w->zxd->viewport(), Qt::LeftButton, {}, CellCentre(column, row));
  }
  void RightClick(const QPoint& at) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, w->zxd->viewport()->mapToGlobal(at));
    QApplication::sendEvent(w->zxd->viewport(), &event);
    w->pm1->hide();
  }
  void RightClick(int column, int row) { RightClick(CellCentre(column, row)); }
  // The context menu entry, chosen as a user would: only when enabled.
  void Choose(int number) {
    QVERIFY2(w->ContextItem(number)->isEnabled(), qPrintable(QString::number(number)));
    w->ContextItem(number)->trigger();
  }
  QColor CellFill(int column, int row) {
    return w->zxd->viewport()->grab().toImage().pixelColor(
        w->zxd->visualRect(w->zxd->model()->index(row, column)).topLeft() + QPoint(2, 2));
  }

 private slots:
  void init() {
    MakeFixture();
    ShowWindow();
    CreateTrdosDisk(w->Disk(), "EDITING");
  }
  void cleanup() { w.reset(); }

  void removingASectorShiftsTheLaterOnesDown() {
    TTrack& t = w->Disk().GetTrack(3);
    for (int i = 6; i < 16; ++i)
      t.Sectors[static_cast<size_t>(i)] = TSectorRec{};
    w->Lzx1->addItem("older line");
    RightClick(4, 3);
    dialogs->prompt.answers = {Answer::Yes};
    Choose(10);
    QCOMPARE(int(t.CountSectors()), 5);
    QCOMPARE(int(Slot(3, 3).Sec), 5);
    QCOMPARE(int(Slot(3, 4).Sec), 6);
    QVERIFY(!Slot(3, 5).Present);
    QCOMPARE(w->pc1->currentIndex(), 0);
    QCOMPARE(w->Lzx1->count(), 0);
    QCOMPARE(w->l1->text(), QString("5"));  // the panels show the sector now in the cell

    RightClick(0, 3);
    QVERIFY(!w->ContextItem(10)->isEnabled());
    w->z10Click();
    QCOMPARE(dialogs->prompt.messages.back().text, std::string("Сектор не выбран!"));
    QCOMPARE(dialogs->prompt.messages.back().caption, std::string("Ошибка!"));
    QCOMPARE(int(t.CountSectors()), 5);
  }

  void addedSectorHasTheTracksIdAndNoData() {
    w->Disk().GetTrack(5).ClearTrack();
    w->Disk().GetTrack(5).Present = 0xFF;
    RightClick(3, 5);
    QVERIFY(!w->ContextItem(11)->isEnabled());
    RightClick(1, 5);
    Choose(11);
    QStringList shown;
    for (QLabel* label : w->an)
      shown << label->text();
    const QString crc = QString::fromStdString(CrcText(IdFieldCrc(2, 1, 0, 1)));
    QCOMPARE(shown, (QStringList{"2", "1", "0", "256b", crc, "good"}));
    QVERIFY(w->gb1->isVisible());
    QCOMPARE(CellFill(1, 5), QColor(0xFF, 0xFF, 0x00));
  }

  void addressDialogStoresTheCrcItComputedLast() {
    Slot(2, 0).HeaderCrc = 0x1234;
    bool acceptOffAtFirst = false;
    dialogs->onDialog = [&](QDialog& d) {
      auto& ad = static_cast<TSecAd&>(d);
      acceptOffAtFirst = !ad.bb1->isEnabled();
      ad.ne1->setText("9");
      ad.ne1->setText("1");
      ad.bb1->click();
    };
    RightClick(1, 2);
    Choose(23);
    QVERIFY(acceptOffAtFirst);
    QCOMPARE(int(Slot(2, 0).Cyl), 1);
    QCOMPARE(Slot(2, 0).HeaderCrc, IdFieldCrc(1, 0, 1, 1));
    QCOMPARE(w->an[4]->text(), QString::fromStdString(CrcText(IdFieldCrc(1, 0, 1, 1))));
  }

  void hexPanelSavesAndTakesTheSectorsBytes() {
    Click(1, 4);
    QCOMPARE(int(w->s1->Bytes().size()), 256);
    QVERIFY(!w->s1->IsReadOnly() && w->pnb[1]->isEnabled() && !w->pnb[0]->isEnabled());
    const std::string path = dir->filePath("s.sec").toStdString();
    dialogs->saveFiles = {path};
    w->pnb[1]->click();
    QCOMPARE(dialogs->shownSpecs.back().title, std::string("Сохранить сектор..."));
    QFile file(QString::fromStdString(path));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();
    QCOMPARE(saved, QByteArray(reinterpret_cast<const char*>(Slot(4, 0).Data().data()), 256));

    const TSectorRec before = Slot(4, 0);
    w->s1->setFocus();
    QTest::keyClicks(w->s1, "a5");
    QVERIFY(w->pnb[0]->isEnabled());
    dialogs->prompt.answers = {Answer::No};
    w->pnb[0]->click();
    QVERIFY(w->pnb[0]->isEnabled());
    QCOMPARE(Slot(4, 0).Data()[0], before.Data()[0]);
    dialogs->prompt.answers = {Answer::Yes};
    w->pnb[0]->click();
    QVERIFY(!w->pnb[0]->isEnabled());
    QCOMPARE(int(Slot(4, 0).Data()[0]), 0xA5);
    QCOMPARE(Slot(4, 0).DataOk, before.DataOk);
    QCOMPARE(Slot(4, 0).HeaderCrc, before.HeaderCrc);
  }

  void clearedTrackKeepsItsSectorsAndShowsASynthesisedTrack() {
    TTrack& t = w->Disk().GetTrack(6);
    QVERIFY(w->Disk().BuildRawTrack(6, t.MutableRaw(kRawTrackSize).data()));
    t.RawValid = 1;
    t.MutableRaw()[0] = 0x11;
    Click(0, 6);
    QVERIFY(!w->s1->IsReadOnly());
    QCOMPARE(int(w->s1->Bytes()[0]), 0x11);
    QCOMPARE(CellFill(0, 6), QColor(0x00, 0x00, 0xFF));

    RightClick(0, 6);
    dialogs->prompt.answers = {Answer::Yes};
    Choose(14);
    QCOMPARE(int(t.CountSectors()), 16);
    QCOMPARE(CellFill(0, 6), QColor(0xFF, 0xFF, 0x00));
    QCOMPARE(int(w->s1->Bytes().size()), kRawTrackSize);
    QCOMPARE(int(w->s1->Bytes()[0]), 0x4E);
    QVERIFY(w->s1->IsReadOnly());
    QVERIFY(!w->pnb[1]->isEnabled() && !w->pnb[2]->isEnabled());
  }

  void ownerPanelNamesTheFileOfTheSector() {
    uint8_t* entry = Slot(0, 0).MutableData().data();
    const char name[] = "NAME    B";
    std::copy(name, name + 9, entry);
    entry[13] = 3;  // sectors
    entry[15] = 1;  // first track
    Click(2, 1);
    QVERIFY(w->trp1->isVisible());
    QCOMPARE(w->mml1->text(), QString("NAME    _B"));
    Click(4, 1);
    QCOMPARE(w->mml1->text(), QString("Free sector!"));
    Click(2, 0);
    QVERIFY(!w->trp1->isVisible());
  }

  void baseTrackRenamesTheSwitchAndTheSwitchFollowsTheRule() {
    TTrack& t = w->Disk().GetTrack(7);
    t.MutableRaw(100);
    RightClick(0, 7);
    Choose(22);
    QAction* n21 = w->Item("N21");
    QCOMPARE(n21->text(), QString("Использовать базовый шаблон для всех дорожек (Трэк - 7)"));
    QVERIFY(w->Disk().UseBaseTemplate && n21->isChecked());
    n21->trigger();
    QVERIFY(!w->Disk().UseBaseTemplate && !n21->isChecked());
    t.ClearRaw();
    n21->trigger();
    QVERIFY(!w->Disk().UseBaseTemplate && !n21->isChecked());
  }

  void leavingTheMemoStoresTheComment() {
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    w->pc1->setCurrentIndex(1);
    w->lb1->setFocus();
    w->lb1->setPlainText("first\nsecond");
    w->s1->setFocus();
    QCOMPARE(w->Disk().Comment, (std::vector<std::string>{"first", "second"}));
    QVERIFY(!w->findChild<QAction*>("tlb2")->isEnabled());
  }
};

QTEST_MAIN(EditingTest)
#include "EditingTest.moc"
