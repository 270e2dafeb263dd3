#include "single_instance.h"

#include <unistd.h>
#include <QLocalSocket>
#include <QThread>

#include "platform/folders.h"

namespace {
constexpr int kConnectMs = 1000;
constexpr int kAnswerMs = 5000;
constexpr int kCloseWaitMs = 10000;
}  // namespace

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), socketPath_(std::move(socketPath)) {
  connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::OnNewConnection);
}

QString SingleInstance::DefaultSocketPath() {
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty()) return QString::fromLocal8Bit(runtime) + "/quillmar.sock";
  return QString::fromStdString(platform::TempFolder()) +
         QString("quillmar-%1.sock").arg(static_cast<qulonglong>(::getuid()));
}

SingleInstance::Outcome SingleInstance::Claim(bool hasCommandLine) {
  QLocalSocket other;
  other.connectToServer(socketPath_);
  if (!other.waitForConnected(kConnectMs)) {
    Listen();  // nobody there (a socket left by a crashed copy is replaced)
    return Outcome::FirstCopy;
  }
  other.write(hasCommandLine ? "close\n" : "raise\n");
  other.flush();
  other.waitForBytesWritten(kAnswerMs);
  // The first copy answers once it has let go of the socket (close) or raised its window.
  while (!other.canReadLine() && other.state() == QLocalSocket::ConnectedState) {
    if (!other.waitForReadyRead(kAnswerMs)) break;
  }
  if (!hasCommandLine) {
    other.disconnectFromServer();
    return Outcome::OtherRaised;
  }
  // The connection ends when the closing copy has ended (its exit banner written), so that
  // the two runs do not overlap in the event log; a copy that hangs is not waited for long.
  if (other.state() == QLocalSocket::ConnectedState) other.waitForDisconnected(kCloseWaitMs);
  other.abort();
  Listen();
  return Outcome::OtherClosing;
}

void SingleInstance::Listen() {
  // A copy that is closing may still hold the socket for a moment.
  for (int attempt = 0; attempt < 50; ++attempt) {
    QLocalServer::removeServer(socketPath_);
    if (server_.listen(socketPath_)) return;
    QThread::msleep(20);
  }
}

void SingleInstance::OnNewConnection() {
  while (QLocalSocket* peer = server_.nextPendingConnection()) {
    connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
    connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
      while (peer->canReadLine()) {
        const QByteArray request = peer->readLine().trimmed();
        if (request == "raise") {
          emit raiseRequested();
          peer->write("ok\n");
          peer->flush();
        } else if (request == "close") {
          // Let go of the socket first so that the new copy can take it over.
          server_.close();
          peer->write("closing\n");
          peer->flush();
          peer->waitForBytesWritten(kAnswerMs);
          // The connection stays open until this process ends.
          disconnect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
          emit closeRequested();
        }
      }
    });
  }
}
