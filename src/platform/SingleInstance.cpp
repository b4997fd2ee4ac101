#include "platform/SingleInstance.h"

#include "platform/FileOps.h"
#include "platform/Log.h"

#include <QCryptographicHash>
#include <QFile>
#include <QLocalSocket>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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
  if (path.contains(QChar(0))) return result;
  const QByteArray native = QFile::encodeName(path);
  // Never waits: a FIFO in its place must not stop the start. flock works on
  // any descriptor, so what cannot be opened for writing (a read-only file,
  // one of another user, a folder) is locked through a read-only one.
  // Never through a link: the pid written below would cut whatever file it
  // points at. A link found there is replaced by a file of our own.
  constexpr int kCommon = O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW;
  const auto openLock = [&](int access) { return ::open(native.constData(), access | kCommon, 0644); };
  bool writable = true;
  int fd = openLock(O_WRONLY | O_CREAT);
  if (fd < 0 && errno == ELOOP && FileOps::writeOwnFile(path, {}).isEmpty()) fd = openLock(O_WRONLY | O_CREAT);
  if (fd < 0) {
    const int writeError = errno;
    writable = false;
    fd = openLock(O_RDONLY);
    if (fd < 0) return result;
    result.note = QString::fromLocal8Bit(std::strerror(writeError));
  }

  if (flockRetrying(fd, LOCK_EX | LOCK_NB) != 0) {
    // EWOULDBLOCK is the ordinary "another instance" answer; any other error
    // leaves us unable to tell, and the caller goes on as the only instance.
    result.outcome = (errno == EWOULDBLOCK) ? Outcome::heldByAnother : Outcome::openFailed;
    ::close(fd);
    return result;
  }
  struct stat st;
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!regular) {
    writable = false;
    result.note = QStringLiteral("not a plain file");
  }
  // Cut before writing: a shorter pid must not leave digits of an earlier,
  // longer one behind it. A failed write still leaves the lock held.
  if (writable) writeAllAt0(fd, QByteArray::number(static_cast<qlonglong>(::getpid())) + '\n');
  result.pidWritten = writable;
  result.outcome = Outcome::acquired;
  result.fd = fd;
  if (!writable) {
    log("[App] ", QStringLiteral("单实例锁文件不可写入 (%1)，只加锁不写 pid: %2").arg(result.note, path));
  }
  return result;
}

InstanceChannel::InstanceChannel(QObject* parent) : QObject(parent) {
  connect(&server_, &QLocalServer::newConnection, this, &InstanceChannel::acceptPending);
}

InstanceChannel::Address InstanceChannel::address(const QString& appFolder) {
  // After the user id and the application folder: two data folders hold two
  // locks, so they are two instances with two channels.
  const QByteArray folderHash = QCryptographicHash::hash(appFolder.toUtf8(), QCryptographicHash::Sha256).toHex().left(12);
  const QString key = QStringLiteral("tollamere-%1-%2").arg(::getuid()).arg(QString::fromLatin1(folderHash));
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (runtime.startsWith('/')) {
    const QString path = runtime + '/' + key + QStringLiteral(".socket");
    if (QFile::encodeName(path).size() <= kMaxSocketPathBytes) return {path, false};
  }
  // No runtime folder (or one too deep for a socket path): the abstract
  // namespace, which needs no folder and leaves nothing behind.
  return {'/' + key, true};
}

QString InstanceChannel::socketPath(const QString& appFolder) { return address(appFolder).name; }

bool InstanceChannel::listen(const QString& appFolder) {
  const Address where = address(appFolder);
  if (where.abstract) {
    server_.setSocketOptions(QLocalServer::AbstractNamespaceOption);
  } else {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(where.name);
  }
  return server_.listen(where.name);
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
  const Address where = address(appFolder);
  QLocalSocket socket;
  if (where.abstract) socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
  socket.connectToServer(where.name, QIODevice::WriteOnly);
  const int ms = static_cast<int>(timeout.count());
  if (!socket.waitForConnected(ms)) return false;
  socket.write(message + '\n');
  if (!socket.waitForBytesWritten(ms) && socket.bytesToWrite() > 0) return false;
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(ms);
  return true;
}

}  // namespace tlr
