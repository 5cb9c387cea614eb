#include "app/SingleInstance.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QLocalSocket>
#include <QTimer>
#include <QtEndian>

#include "session/StartupRules.h"

namespace kelvara {

namespace {

constexpr int kLengthBytes = 4;
constexpr char kTaken = 'k';

// The connecting process runs as this user: the socket's mode alone does
// not say so (root, or a folder whose mode was changed).
bool PeerIsUser(const QLocalSocket& socket, uid_t user) {
  ucred peer{};
  socklen_t length = sizeof peer;
  return ::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                      &length) == 0 &&
         peer.uid == user;
}

}  // namespace

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), path_(std::move(socketPath)), allowedUser_(::getuid()) {
  connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::Accept);
}

QString SingleInstance::DefaultSocketPath() {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QDir(runtime).exists()) return runtime + "/Kelvara";
  const QString folder = QDir::tempPath() + QString("/kelvara-%1").arg(::getuid());
  QDir().mkpath(folder);
  QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  return folder + "/Kelvara";
}

bool SingleInstance::HandOff(const std::string& message, int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(path_);
  if (!socket.waitForConnected(timeoutMs)) return false;
  QByteArray frame(kLengthBytes, '\0');
  qToLittleEndian<quint32>(static_cast<quint32>(message.size()), frame.data());
  frame.append(message.data(), static_cast<qsizetype>(message.size()));
  socket.write(frame);
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  while (socket.bytesAvailable() < 1) {
    if (!socket.waitForReadyRead(timeoutMs)) return false;
  }
  char answer = 0;
  return socket.getChar(&answer) && answer == kTaken;
}

bool SingleInstance::Listen() {
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  // Room for a burst of copies started at once (a file manager opening many
  // files) before the window gets to accept them.
  server_.setMaxPendingConnections(256);
  if (server_.listen(path_)) return true;
  // Nobody took a hand-off on it (or the caller would not be here): a socket
  // left by a copy that crashed, or one of a copy that is closing.
  QLocalServer::removeServer(path_);
  return server_.listen(path_);
}

std::vector<std::string> SingleInstance::TakeMessages() {
  std::vector<std::string> out(queue_.begin(), queue_.end());
  queue_.clear();
  return out;
}

void SingleInstance::Accept() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    if (!PeerIsUser(*socket, allowedUser_)) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    // A client that connects and never finishes its message is dropped.
    QTimer::singleShot(clientTimeoutMs_, socket, [socket] {
      if (!socket->property("done").toBool()) socket->abort();
    });
    const auto take = [this, socket] {
      if (socket->property("done").toBool() || socket->bytesAvailable() < kLengthBytes) return;
      QByteArray head = socket->peek(kLengthBytes);
      const quint32 length = qFromLittleEndian<quint32>(head.constData());
      if (length > kMaxHandoffMessage) {
        // No path is this long: answered, so the sender does not start a
        // second copy, and dropped unread.
        socket->setProperty("done", true);
        socket->putChar(kTaken);
        socket->disconnectFromServer();
        return;
      }
      if (socket->bytesAvailable() < kLengthBytes + static_cast<qint64>(length)) return;
      socket->read(kLengthBytes);
      const QByteArray body = socket->read(length);
      socket->setProperty("done", true);
      queue_.emplace_back(body.constData(), static_cast<size_t>(body.size()));
      socket->putChar(kTaken);
      socket->flush();
      emit messagesWaiting();
    };
    connect(socket, &QLocalSocket::readyRead, this, take);
    // Bytes that came with the connection may be buffered already, with
    // their readyRead gone before the handler was connected.
    take();
  }
}

}  // namespace kelvara
