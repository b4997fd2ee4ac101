#include "platform/SingleInstance.h"

#include <QFile>
#include <QLocalSocket>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tlr {
namespace {

bool writeAllAt0(int fd, const QByteArray& bytes) {
  if (::ftruncate(fd, 0) != 0) return false;
  qsizetype done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pwrite(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done),
                               static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += n;
  }
  return true;
}

int flockRetrying(int fd, int operation) {
  int rc;
  do {
    rc = ::flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

}  // namespace

SingleInstanceLock::Result SingleInstanceLock::acquire(const QString& path) {
  Result result;
  result.path = path;
  const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return result;

  if (flockRetrying(fd, LOCK_EX | LOCK_NB) != 0) {
    // EWOULDBLOCK is the ordinary "another instance" answer; any other error
    // leaves us unable to tell, and the caller goes on as the only instance.
    result.outcome = (errno == EWOULDBLOCK) ? Outcome::heldByAnother : Outcome::openFailed;
    ::close(fd);
    return result;
  }
  // Cut before writing: a shorter pid must not leave digits of an earlier,
  // longer one behind it. A failed write still leaves the lock held.
  writeAllAt0(fd, QByteArray::number(static_cast<qlonglong>(::getpid())) + '\n');
  result.outcome = Outcome::acquired;
  result.fd = fd;
  return result;
}

InstanceChannel::InstanceChannel(QObject* parent) : QObject(parent) {
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  connect(&server_, &QLocalServer::newConnection, this, &InstanceChannel::acceptPending);
}

QString InstanceChannel::socketPath(const QString& appFolder) {
  return appFolder + QStringLiteral("/tollamere-%1.socket").arg(::getuid());
}

bool InstanceChannel::listen(const QString& appFolder) {
  const QString path = socketPath(appFolder);
  QLocalServer::removeServer(path);
  return server_.listen(path);
}

void InstanceChannel::acceptPending() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    // A message ends with the sender closing its side; what it wrote is
    // still buffered when the disconnect is seen.
    connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
      const QByteArray message = socket->readAll().trimmed();
      socket->deleteLater();
      Q_EMIT messageReceived(message);
    });
  }
}

bool InstanceChannel::notifyRunningInstance(const QString& appFolder, const QByteArray& message,
                                            std::chrono::milliseconds timeout) {
  QLocalSocket socket;
  socket.connectToServer(socketPath(appFolder), QIODevice::WriteOnly);
  const int ms = static_cast<int>(timeout.count());
  if (!socket.waitForConnected(ms)) return false;
  socket.write(message + '\n');
  if (!socket.waitForBytesWritten(ms) && socket.bytesToWrite() > 0) return false;
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(ms);
  return true;
}

}  // namespace tlr
