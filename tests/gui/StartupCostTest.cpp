// What the desktop program costs to come up: the main window built, shown and
// painted with a full 160-track image, timed, and the process's peak memory.
// The figures are printed for the README's table, not checked: a loaded
// build machine would make a timed check flaky.
#include <sys/resource.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "ScriptedDialogs.h"
#include "app/TFMain.h"
#include "widgets/DiskMap.h"

using namespace kelvara;

class StartupCostTest : public QObject {
  Q_OBJECT

 private slots:
  void windowComesUpWithAFullImagePainted() {
    QTemporaryDir dir;
    const std::string image = test::WriteTrd(dir, "full.trd", 160);
    test::ScriptedDialogs dialogs;
    test::FakeDrive drive;

    QElapsedTimer timer;
    timer.start();
    TFMain w(dialogs,
             SettingsStore(dir.filePath("Kelvara.ini").toStdString(), dir.path().toStdString()),
             drive);
    w.show();
    w.FormShow(image, nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.zxd->viewport()->repaint();
    const qint64 ms = timer.elapsed();

    QCOMPARE(int(w.Disk().CountTracks()), 160);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    qInfo("window up with a 160-track image painted: %lld ms; peak memory %ld MB", ms,
          usage.ru_maxrss / 1024);
  }
};

QTEST_MAIN(StartupCostTest)
#include "StartupCostTest.moc"
