// The "Диск" and "Контроллер" commands of the main window on the virtual
// drive: the progress window, the map and LOG that follow a run, cancel,
// fault plans, writing and reading back, and the refusals.
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <iterator>
#include <memory>

#include "ScriptedDialogs.h"
#include "app/TFMain.h"
#include "app/T_Prog.h"
#include "app/T_ZXCAT.h"
#include "drive/VirtualFloppy.h"
#include "drive/flux/FluxFloppy.h"
#include "filesystems/Trdos.h"
#include "formats/Trd.h"
#include "session/MapCells.h"
#include "widgets/DiskMap.h"

using namespace kelvara;
using test::ScriptedDialogs;
using test::WriteTrd;

class DriveOperationsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir;
  std::unique_ptr<ScriptedDialogs> dialogs;
  VirtualFloppy* floppy = nullptr;
  std::unique_ptr<DriveSession> session;
  std::unique_ptr<TFMain> w;
  QString caption;  // of the last progress window

  // The main window with `diskFile` in the virtual drive; `before` prepares
  // the drive ahead of its opening.
  void Open(const std::string& diskFile,
            const std::function<void(VirtualFloppy&)>& before = nullptr) {
    w.reset();
    auto driver = std::make_unique<VirtualFloppy>(diskFile);
    floppy = driver.get();
    if (before) before(*floppy);
    session = std::make_unique<DriveSession>(std::move(driver));
    const std::string folder = dir->path().toStdString();
    w = std::make_unique<TFMain>(*dialogs, SettingsStore(folder + "/Kelvara.ini", folder),
                                 *session);
    w->show();
    w->FormShow("", nullptr);
  }
  // The main window on a simulated Greaseweazle whose disk is `diskFile`,
  // its timers on `clock` when given.
  void OpenFlux(const std::string& diskFile, std::shared_ptr<flux::DeviceClock> clock = nullptr) {
    w.reset();
    flux::FluxDriveOptions options;
    options.simulatedImage = diskFile;
    options.clock = std::move(clock);
    session = std::make_unique<DriveSession>(flux::CreateFluxFloppy(options));
    floppy = nullptr;
    const std::string folder = dir->path().toStdString();
    w = std::make_unique<TFMain>(*dialogs, SettingsStore(folder + "/Kelvara.ini", folder),
                                 *session);
    w->show();
    w->FormShow("", nullptr);
  }
  // Chooses a menu item; a progress window it opens runs to its end.
  void Choose(const char* item, int lastTrack) {
    w->Settings().LastTrack = static_cast<uint8_t>(lastTrack);
    caption.clear();
    w->Item(item)->trigger();
  }
  QStringList Log() const {
    QStringList lines;
    for (int i = 0; i < w->Lzx1->count(); ++i)
      lines << w->Lzx1->item(i)->text();
    return lines;
  }
  static std::vector<char> FileBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
  }
  // Every present slot of the window's image holds what the image file does.
  void CompareWithFile(const std::string& path, int tracks) {
    auto expected = std::make_unique<TZX_Disk>();
    QVERIFY(LoadImageFile(*expected, path).ok);
    QCOMPARE(int(w->Disk().CountTracks()), tracks);
    for (int t = 0; t < tracks; ++t) {
      for (int i = 0; i < 16; ++i) {
        const TSectorRec& got = w->Disk().GetTrack(uint8_t(t)).Sectors[size_t(i)];
        const TSectorRec& want = expected->GetTrack(uint8_t(t)).Sectors[size_t(i)];
        QCOMPARE(got.Sec, want.Sec);
        QVERIFY(got.DataOk);
        QVERIFY2(std::ranges::equal(got.Data(), want.Data()),
                 qPrintable(QString("track %1 slot %2").arg(t).arg(i)));
      }
    }
  }

 private slots:
  void init() {
    dir = std::make_unique<QTemporaryDir>();
    dialogs = std::make_unique<ScriptedDialogs>();
    dialogs->onDialog = [this](QDialog& d) {
      caption = d.windowTitle();
      // The designed 245 x 116, wider where the caption needs it.
      QCOMPARE(d.height(), 116);
      QVERIFY(d.width() >= 245);
      QVERIFY(d.width() > QFontMetrics(QApplication::font()).horizontalAdvance(caption));
      QVERIFY(d.isModal());
      // The window starts its run by itself and closes after it.
      QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), 20000);
    };
  }
  void cleanup() { w.reset(); }

  void scanAndReadFillsTheMapAndTheLogFollowingTheRun() {
    const std::string disk = WriteTrd(*dir, "disk.trd", 160);
    Open(disk);
    Choose("N17", 159);
    QCOMPARE(caption, QString("Сканирование с посекторным чтением"));
    CompareWithFile(disk, 160);
    const QStringList log = Log();
    QCOMPARE(log.size(), 2 + 2 * 160);
    QCOMPARE(log.first(), QString("Начало операции!"));
    QCOMPARE(log.last(), QString("Операция выполнена!"));
    QCOMPARE(w->Lzx1->currentRow(), log.size() - 1);
    QCOMPARE(w->pc1->currentIndex(), 0);
    QCOMPARE(w->Disk().GetTrack(0).Log.back(),
             std::string("Дорожка просканирована. Найдено 16 секторов."));
    // The map scrolled one row at a time as the run went down the disk.
    QVERIFY(w->zxd->verticalScrollBar()->value() > 0);
    QVERIFY(w->zxd->LastFullyVisibleRow() >= 159);
    QCOMPARE(w->prog->VrPb->value(), 159);
    QCOMPARE(w->prog->lbTrack->text(), QString("159"));
  }

  void theLogFollowsTheNewestLineDuringTheRun() {
    Open(WriteTrd(*dir, "disk.trd", 40));
    bool followed = false;
    connect(w->Lzx1->model(), &QAbstractItemModel::rowsInserted, w.get(), [&] {
      // Lines are added one at a time; the one before this came in view.
      if (w->Lzx1->count() != 60) return;
      const QRect shown = w->Lzx1->visualItemRect(w->Lzx1->item(58));
      followed = w->Lzx1->viewport()->rect().intersects(shown);
    });
    Choose("N17", 39);
    QVERIFY(followed);
  }

  void cancelInTheMiddleKeepsWhatWasReadAndCloses() {
    Open(WriteTrd(*dir, "disk.trd", 20));
    connect(w->Lzx1->model(), &QAbstractItemModel::rowsInserted, w.get(), [this] {
      if (w->Lzx1->item(w->Lzx1->count() - 1)->text() == "Начало сканирования дорожки - 5")
        QTest::mouseClick(w->prog->bb1, Qt::LeftButton);
    });
    Choose("N17", 19);
    QVERIFY(!w->prog->isVisible());
    QCOMPARE(Log().last(), QString("Операция отменена пользователем!"));
    QVERIFY(!Log().contains("Операция выполнена!"));
    // Tracks 0 to 4 read; track 5 scanned when the cancel came, not read.
    QCOMPARE(int(w->Disk().CountTracks()), 6);
    QVERIFY(w->Disk().GetTrack(4).Sectors[15].DataOk);
    QCOMPARE(int(w->Disk().GetTrack(5).Sectors[0].DataLength()), 0);
    QVERIFY(dialogs->prompt.messages.empty());
  }

  void failingSectorsAreRedAndLogged() {
    Open(WriteTrd(*dir, "disk.trd", 2));
    Choose("N17", 1);
    // Read again by labels, sector 5 of track 0 failing all ten attempts:
    // it keeps its old data, now marked bad.
    const int reads = floppy->CallCount(DriveCall::Read);
    floppy->AddFault({DriveCall::Read, reads + 5, reads + 14, 23});
    Choose("N9", 1);
    QCOMPARE(caption, QString("Посекторное чтение диска"));
    const std::string line = "Ошибка чтения сектора  - 23 (Track - 0 / Sector - 5)";
    QVERIFY(Log().contains(QString::fromStdString(line)));
    QCOMPARE(Log().mid(Log().size() - 2),
             QStringList({"Операция выполнена!", "Сбойных секторов - 1"}));
    QVERIFY(w->Disk().GetTrack(0).Log.back() == line);
    QCOMPARE(LookOfCell(w->Disk(), 5, 0, false).image, CellImage::RedSector);
    QCOMPARE(LookOfCell(w->Disk(), 6, 0, false).image, CellImage::LimeSector);
  }

  void formatAndWriteThenReadBackGivesTheSameSectors() {
    const std::string image = WriteTrd(*dir, "image.trd", 4);
    const std::string disk = dir->filePath("blank.trd").toStdString();
    Open(disk);
    QVERIFY(w->LoadAndFinish(image));
    // Asked first; No leaves the drive alone.
    dialogs->prompt.answers = {Answer::No};
    Choose("N33", 3);
    QCOMPARE(dialogs->prompt.questions.size(), size_t(1));
    QVERIFY(caption.isEmpty());
    QCOMPARE(floppy->CallCount(DriveCall::Reset), 0);

    Choose("N33", 3);
    QCOMPARE(caption, QString("Формат и запись диска"));
    QCOMPARE(Log().last(), QString("Операция выполнена!"));
    QCOMPARE(FileBytes(disk), FileBytes(image));  // the virtual disk keeps what was written
    w->Disk().ClearImage();
    Choose("N17", 3);
    CompareWithFile(image, 4);
  }

  void writingThroughTheSimulatedFluxDeviceVerifiesAndReadsBack() {
    const std::string image = WriteTrd(*dir, "image.trd", 4);
    const std::string disk = dir->filePath("flux.trd").toStdString();
    OpenFlux(disk);
    QVERIFY(w->LoadAndFinish(image));
    Choose("N33", 3);
    QCOMPARE(caption, QString("Формат и запись диска"));
    const QStringList log = Log();
    QCOMPARE(log.filter("проверка - совпали 16 из 16 секторов").size(), 4);
    QCOMPARE(log.last(), QString("Операция выполнена!"));
    QCOMPARE(FileBytes(disk), FileBytes(image));  // the simulated disk saved back
    w->Disk().ClearImage();
    Choose("N17", 3);
    CompareWithFile(image, 4);
  }

  // The first refusal stops the run: one line naming the protection, the
  // stop, and the same in an error box.
  void writeProtectedDiskStopsTheRunAndIsUnchanged() {
    const std::string disk = WriteTrd(*dir, "disk.trd", 4);
    Open(disk, [](VirtualFloppy& f) { f.SetWriteProtected(true); });
    QVERIFY(w->LoadAndFinish(WriteTrd(*dir, "image.trd", 2)));
    Choose("N33", 1);
    const QString line("Ошибка форматирования - 19 (Track - 0): the disk is write-protected");
    QCOMPARE(Log(), QStringList({"Начало операции!", line, "Операция остановлена!"}));
    QCOMPARE(dialogs->prompt.MessageTexts(), std::vector<std::string>{line.toStdString()});
    QCOMPARE(FileBytes(disk), FileBytes(WriteTrd(*dir, "same.trd", 4)));
  }

  // A new user's session on the simulated device: write a disk, read it,
  // read it again, minutes apart (longer than the device's 10 s watchdog);
  // each run works, and only the reads change the image.
  void aDiskWrittenAndReadThroughTheSimulatedDeviceMinutesApart() {
    const std::string image = WriteTrd(*dir, "image.trd", 4);
    const std::string disk = dir->filePath("flux.trd").toStdString();
    auto clock = std::make_shared<flux::ManualDeviceClock>();
    OpenFlux(disk, clock);
    clock->Advance(std::chrono::minutes(2));
    QVERIFY(w->LoadAndFinish(image));
    Choose("N33", 3);
    QCOMPARE(Log().last(), QString("Операция выполнена!"));
    QVERIFY(!w->isWindowModified());
    for (int read = 0; read < 2; ++read) {
      clock->Advance(std::chrono::minutes(3));
      w->Disk().ClearImage();
      Choose("N17", 3);
      QCOMPARE(Log().last(), QString("Операция выполнена!"));
      CompareWithFile(image, 4);
    }
    QVERIFY(dialogs->prompt.messages.empty());
  }

  void withoutADriverTheDiskMenuIsOffAndResetFails() {
    Open(WriteTrd(*dir, "disk.trd", 2), [](VirtualFloppy& f) {
      f.AddFault({DriveCall::OpenDriver, 1, 1, 2});
    });
    QCOMPARE(dialogs->prompt.MessageTexts(), std::vector<std::string>{"Ошибка загрузки драйвера!"});
    QVERIFY(!w->Item("N2")->isEnabled());
    w->Item("N22")->trigger();
    QCOMPARE(dialogs->prompt.messages.back().caption, std::string("Ошибка!"));
    QVERIFY(QString::fromStdString(dialogs->prompt.messages.back().text)
                .startsWith("Ошибка сброса контроллера - ("));
  }

  void controllerResetOnAWorkingDriveSaysNothing() {
    Open(WriteTrd(*dir, "disk.trd", 2));
    w->Item("N22")->trigger();
    QVERIFY(dialogs->prompt.messages.empty());
    QCOMPARE(floppy->Cylinder(), 0);
  }

  void catalogFromTheDriveLeavesTheImageAlone() {
    auto trdos = std::make_unique<TZX_Disk>();
    CreateTrdosDisk(*trdos, "FROMDRV");
    const std::string disk = dir->filePath("trdos.trd").toStdString();
    QVERIFY(SaveTRD(*trdos, disk).ok);
    Open(disk);
    const std::string image = WriteTrd(*dir, "image.trd", 3);
    QVERIFY(w->LoadAndFinish(image));
    w->Lzx1->addItem("old line");
    // The catalog window opens read-only on the drive's catalog.
    QString shownName;
    bool editable = true;
    dialogs->onDialog = [&](QDialog& d) {
      if (auto* cat = qobject_cast<T_ZXCAT*>(&d)) {
        for (QLabel* value : cat->dv)
          shownName += value->text();
        editable = cat->lv->contextMenuPolicy() == Qt::CustomContextMenu;
      }
    };
    w->Item("N10")->trigger();
    dialogs->onDialog = nullptr;
    QCOMPARE(w->Lzx1->count(), 0);
    QCOMPARE(w->l2->text(), QString("0"));
    QVERIFY(dialogs->prompt.messages.empty());
    QVERIFY(!editable);
    QVERIFY(shownName.contains("FROMDRV"));
    CompareWithFile(image, 3);

    Open(WriteTrd(*dir, "junk.trd", 2));
    w->Item("N10")->trigger();
    QCOMPARE(dialogs->prompt.MessageTexts().back(),
             std::string("Диск не соответствует формату TR-DOS!."));
    QCOMPARE(dialogs->prompt.messages.size(), size_t(1));
  }
};

QTEST_MAIN(DriveOperationsTest)
#include "DriveOperationsTest.moc"
