// The image stays the one a modal window was opened on: files handed over
// by a second copy or dropped on the map while such a window is open wait
// for it, a close request waits for a drive run, and a progress window
// closed before its start runs nothing.
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <functional>
#include <memory>

#include "ScriptedDialogs.h"
#include "app/SingleInstance.h"
#include "app/TFLed.h"
#include "app/TFMain.h"
#include "app/TSecAd.h"
#include "app/T_Prog.h"
#include "app/T_ZXCAT.h"
#include "formats/Trd.h"
#include "session/StartupRules.h"
#include "support/TrdosBuilder.h"
#include "widgets/DiskMap.h"

using namespace kelvara;
using test::FakeDrive;
using test::ScriptedDialogs;
using test::WriteTrd;

class ModalWindowsTest : public QObject, test::MainWindowFixture {
  Q_OBJECT

 private:
  std::unique_ptr<SingleInstance> instance;

  // A second copy's message, sent as it sends it; true once answered.
  bool HandOver(const std::string& path) {
    QLocalSocket client;
    client.connectToServer(instance->SocketPath());
    if (!client.waitForConnected(2000)) return false;
    const std::string message = HandoffMessage(path, "");
    const quint32 length = qToLittleEndian(quint32(message.size()));
    client.write(reinterpret_cast<const char*>(&length), 4);
    client.write(message.data(), qint64(message.size()));
    client.flush();
    // The answer needs this process's event loop.
    return QTest::qWaitFor([&] { return client.bytesAvailable() > 0; }, 5000);
  }
  void Drop(const std::string& path) {
    w->WMDropFiles(w->zxd->mapTo(w.get(), w->zxd->rect().center()), {QString::fromStdString(path)});
  }

 private slots:
  void init() {
    MakeFixture();
    instance = std::make_unique<SingleInstance>(dir->filePath("Kelvara"));
    QVERIFY(instance->Listen());
    ShowWindow(instance.get());
  }
  void cleanup() {
    w.reset();
    instance.reset();
  }

  void filesArrivingUnderAModalWindowWaitForIt() {
    auto disk = std::make_unique<TZX_Disk>();
    test::BuildTrdosDisk(*disk, {test::PatternFile("ONE", 'C', 2)});
    const std::string held = dir->filePath("held.trd").toStdString();
    QVERIFY(SaveTRD(*disk, held).ok);
    const std::string handed = WriteTrd(*dir, "handed.trd", 5);
    const std::string dropped = WriteTrd(*dir, "dropped.trd", 3);
    struct Way {
      const char* name;
      std::function<void()> open;
      bool throughCatalog;  // the entry editor opens over the catalog window
    };
    const Way ways[] = {
        {"catalog window", [&] { w->N26Click(); }, false},
        {"entry editor", [&] { w->N26Click(); }, true},
        {"sector address dialog",
         [&] {
           w->SelCol = 1;
           w->SelTrack = 0;
           w->z23Click();
         },
         false},
        {"drive run", [&] { w->Item("N8")->trigger(); }, false},
    };
    for (const Way& way : ways) {
      QVERIFY(w->LoadAndFinish(held));
      dialogs->prompt.answers = {Answer::No};  // a scan's image is not saved
      bool keptWhileOpen = false;
      dialogs->onDialog = [&](QDialog& d) {
        if (way.throughCatalog && qobject_cast<T_ZXCAT*>(&d)) {
          w->zxcat->lv->topLevelItem(0)->setSelected(true);
          w->zxcat->Item("N9")->trigger();
          return;
        }
        QVERIFY(HandOver(handed));
        Drop(dropped);
        keptWhileOpen = w->ImageFileName() == "held.trd" && w->Disk().CountTracks() == 160;
        if (qobject_cast<T_Prog*>(&d)) QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), 5000);
      };
      way.open();
      dialogs->onDialog = nullptr;
      QVERIFY2(keptWhileOpen, way.name);
      // Both load once the window has closed, in the order they came.
      QTRY_COMPARE(w->ImageFileName(), std::string("dropped.trd"));
      QCOMPARE(int(w->Disk().CountTracks()), 3);
      dialogs->prompt.answers.clear();
    }
  }

  void closingDuringADriveRunStopsItAndClosesAfterIt() {
    QVERIFY(w->LoadAndFinish(WriteTrd(*dir, "a.trd", 2)));
    bool stayedOpen = false;
    dialogs->onDialog = [&](QDialog& d) {
      stayedOpen = !w->close() && w->isVisible();
      QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), 5000);
    };
    w->Item("N17")->trigger();
    QVERIFY(stayedOpen);
    QTRY_VERIFY(!w->isVisible());
    QCOMPARE(drive->runs, 0);  // stopped before its start
  }

  void progressWindowClosedBeforeItsStartRunsNothing() {
    QVERIFY(w->LoadAndFinish(WriteTrd(*dir, "a.trd", 2)));
    const std::function<void(QDialog&)> closings[] = {
        [](QDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); },
        [](QDialog& d) { d.close(); },
    };
    for (const auto& closing : closings) {
      dialogs->onDialog = closing;
      for (const char* item : {"N17", "N15"}) {
        dialogs->prompt.answers = {Answer::Yes};  // the question before a write
        w->Item(item)->trigger();
      }
    }
    QCOMPARE(drive->runs, 0);
    QVERIFY(!w->Modified());
    QCOMPARE(drive->kept, 0);
  }
};

QTEST_MAIN(ModalWindowsTest)
#include "ModalWindowsTest.moc"
