// One copy of the program per user. The first copy listens on a local socket
// named "Kelvara" in the user's runtime folder; a later copy hands its
// message ("v" + image path, or "s") to it and exits.
//
// On the wire each message is a 4-byte little-endian length and the message
// bytes unchanged; the listener answers one byte once it has queued (or
// dropped) the message. Only the same user may hand over (the peer's
// credentials are checked, not only the socket's mode), and a client that
// does not finish its message in time is dropped; neither blocks the window.
// A copy that gets no answer (the first copy is
// closing, the socket is stale) starts as the first copy instead, so that
// its file is not lost.
#pragma once

#include <sys/types.h>

#include <QLocalServer>
#include <QObject>
#include <deque>
#include <string>
#include <vector>

namespace kelvara {

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  explicit SingleInstance(QString socketPath = DefaultSocketPath(), QObject* parent = nullptr);

  // "Kelvara" in $XDG_RUNTIME_DIR, else in a per-user folder under /tmp.
  static QString DefaultSocketPath();
  const QString& SocketPath() const { return path_; }

  // Second copy: true when a running copy took the message.
  bool HandOff(const std::string& message, int timeoutMs = 5000);
  // First copy: starts listening, replacing a socket nobody answers on.
  bool Listen();
  // The messages received so far, oldest first; the queue is emptied.
  std::vector<std::string> TakeMessages();
  // How long a connected client may take to send its whole message.
  void SetClientTimeout(int ms) { clientTimeoutMs_ = ms; }
  // The user whose copies may hand over; this process's user by default.
  void SetAllowedUser(uid_t uid) { allowedUser_ = uid; }

 signals:
  // One or more messages are waiting in the queue.
  void messagesWaiting();

 private:
  void Accept();

  QString path_;
  QLocalServer server_;
  std::deque<std::string> queue_;
  int clientTimeoutMs_ = 5000;
  uid_t allowedUser_;
};

}  // namespace kelvara
