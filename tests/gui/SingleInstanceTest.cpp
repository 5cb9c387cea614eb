// One copy per user: later copies of the real program hand their file to a
// running copy (this test process) and exit without a window.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <sys/stat.h>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>

#include "ScriptedDialogs.h"
#include "app/SingleInstance.h"
#include "app/TFMain.h"
#include "session/StartupRules.h"

using namespace kelvara;
using test::ScriptedDialogs;
using test::WriteTrd;

class SingleInstanceTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir;
  std::unique_ptr<ScriptedDialogs> dialogs;
  test::FakeDrive drive;
  std::unique_ptr<TFMain> w;
  std::unique_ptr<SingleInstance> instance;

  QString SocketPath() const { return dir->filePath("Kelvara"); }
  // Starts the program as a later copy; true when it ended by itself with
  // status 0, as a copy that handed its message over does.
  bool SecondCopy(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", dir->path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir->path());
    p.start(KELVARA_GUI_PATH, args);
    if (!p.waitForStarted()) return false;
    // Answering the hand-off needs this process's event loop.
    if (!QTest::qWaitFor([&p] { return p.state() == QProcess::NotRunning; }, 20000)) {
      p.kill();
      p.waitForFinished();
      return false;
    }
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  }

 private slots:
  void init() {
    dir = std::make_unique<QTemporaryDir>();
    dialogs = std::make_unique<ScriptedDialogs>();
    w = std::make_unique<TFMain>(
        *dialogs,
        SettingsStore(dir->filePath("Kelvara.ini").toStdString(), dir->path().toStdString()),
        drive);
    instance = std::make_unique<SingleInstance>(SocketPath());
  }
  void cleanup() {
    w.reset();
    instance.reset();
  }

  void secondCopyHandsItsFileOverAndExits() {
    QVERIFY(instance->Listen());
    w->FormShow("", instance.get());
    WriteTrd(*dir, "other.trd", 3);
    QVERIFY(SecondCopy({"other.trd"}));  // relative to the second copy's folder
    QTRY_COMPARE(int(w->Disk().CountTracks()), 3);
    QCOMPARE(w->ImageFileName(), std::string("other.trd"));
    QCOMPARE(w->pc1->currentIndex(), 1);
    // Without a file the running copy only comes to the front.
    QVERIFY(SecondCopy({}));
    QTest::qWait(100);
    QCOMPARE(w->ImageFileName(), std::string("other.trd"));
    QVERIFY(dialogs->prompt.messages.empty());
  }

  void messagesWaitingBeforeTheWindowAreLoadedInTurn() {
    QVERIFY(instance->Listen());
    WriteTrd(*dir, "a.trd", 2);
    WriteTrd(*dir, "b.trd", 5);
    QVERIFY(SecondCopy({"a.trd"}));
    QVERIFY(SecondCopy({"b.trd"}));
    w->FormShow("", instance.get());
    QCOMPARE(int(w->Disk().CountTracks()), 5);
    QCOMPARE(w->ImageFileName(), std::string("b.trd"));
  }

  void staleSocketDoesNotLoseTheFile() {
    // A socket file left by a copy that crashed: nobody listens on it.
    const QByteArray path = SocketPath().toUtf8();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
    QVERIFY(QFile::exists(SocketPath()));

    QVERIFY(!instance->HandOff("v/x.trd", 1000));
    QVERIFY(instance->Listen());
    w->FormShow("", instance.get());
    WriteTrd(*dir, "c.trd", 4);
    QVERIFY(SecondCopy({"c.trd"}));
    QTRY_COMPARE(int(w->Disk().CountTracks()), 4);
  }

  void listenerThatNeverAnswersFailsTheHandOff() {
    // A copy that is closing: it still holds the socket but reads nothing.
    QLocalServer closing;
    QVERIFY(closing.listen(SocketPath()));
    QVERIFY(!instance->HandOff("v/x.trd", 300));
  }

  void oversizedMessageIsAnsweredAndDropped() {
    QVERIFY(instance->Listen());
    QLocalSocket client;
    client.connectToServer(SocketPath());
    QVERIFY(client.waitForConnected(1000));
    QByteArray frame(4, '\0');
    qToLittleEndian<quint32>(kMaxHandoffMessage + 1, frame.data());
    client.write(frame + QByteArray(int(kMaxHandoffMessage + 1), 'v'));
    QTRY_VERIFY(client.bytesAvailable() > 0 || client.state() != QLocalSocket::ConnectedState);
    QCOMPARE(client.read(1), QByteArray("k"));
    QVERIFY(instance->TakeMessages().empty());
  }

  void clientThatStallsIsDroppedAndOthersStillGetThrough() {
    instance->SetClientTimeout(200);
    QVERIFY(instance->Listen());
    QLocalSocket silent, half, good;
    silent.connectToServer(SocketPath());
    half.connectToServer(SocketPath());
    QVERIFY(silent.waitForConnected(1000) && half.waitForConnected(1000));
    half.write(QByteArray("\x0a\x00\x00\x00v/a", 7));  // 10 bytes announced, 3 sent
    QTRY_VERIFY(silent.state() == QLocalSocket::UnconnectedState &&
                half.state() == QLocalSocket::UnconnectedState);
    good.connectToServer(SocketPath());
    QVERIFY(good.waitForConnected(1000));
    good.write(QByteArray("\x02\x00\x00\x00v/", 6));
    QTRY_VERIFY(good.bytesAvailable() > 0);
    QCOMPARE(good.read(1), QByteArray("k"));
    QCOMPARE(instance->TakeMessages(), std::vector<std::string>{"v/"});
  }

  void burstOfHandOffsLosesNone() {
    QVERIFY(instance->Listen());
    std::vector<std::unique_ptr<QLocalSocket>> clients;
    std::set<std::string> sent;
    for (int i = 0; i < 100; ++i) {
      auto c = std::make_unique<QLocalSocket>();
      c->connectToServer(SocketPath());
      QVERIFY(c->waitForConnected(1000));
      QCoreApplication::processEvents();  // copies start one after another
      const std::string m = "v/disk" + std::to_string(i) + ".trd";
      QByteArray frame(4, '\0');
      qToLittleEndian<quint32>(quint32(m.size()), frame.data());
      c->write(frame + QByteArray::fromStdString(m));
      sent.insert(m);
      clients.push_back(std::move(c));
    }
    QTRY_VERIFY(std::all_of(clients.begin(), clients.end(),
                            [](auto& c) { return c->bytesAvailable() > 0; }));
    for (auto& c : clients)
      QCOMPARE(c->read(1), QByteArray("k"));
    const std::vector<std::string> got = instance->TakeMessages();
    QCOMPARE(std::set<std::string>(got.begin(), got.end()), sent);
    QCOMPARE(got.size(), sent.size());
  }

  void anotherUserIsRefusedWhateverTheSocketsMode() {
    // This process stands for another user: the listener expects a uid that
    // is not ours, and the socket is open to everyone, so only the check of
    // the peer's credentials can refuse it.
    instance->SetAllowedUser(::getuid() + 1);
    QVERIFY(instance->Listen());
    QVERIFY(::chmod(SocketPath().toUtf8().constData(), 0777) == 0);
    QLocalSocket client;
    client.connectToServer(SocketPath());
    QVERIFY(client.waitForConnected(1000));
    client.write(QByteArray("\x02\x00\x00\x00v/", 6));
    QTRY_VERIFY(client.state() == QLocalSocket::UnconnectedState);
    QCOMPARE(client.bytesAvailable(), qint64(0));
    QVERIFY(instance->TakeMessages().empty());
  }
};

QTEST_MAIN(SingleInstanceTest)
#include "SingleInstanceTest.moc"
