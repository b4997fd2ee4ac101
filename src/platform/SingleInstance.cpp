#include "platform/SingleInstance.h"

#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/OffMain.h"
#include "platform/UniqueFd.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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
  const auto openLock = [&](int access) { return ::open(native.constData(), access | kCommon, 0600); };
  bool writable = true;
  int fd = openLock(O_WRONLY | O_CREAT);
  if (fd < 0 && errno == ELOOP && FileOps::writeOwnFile(path, {}).ok()) fd = openLock(O_WRONLY | O_CREAT);
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
  // longer one behind it. A failed write still leaves the lock held. Like
  // every file of ours, it is the owner's only.
  if (writable) {
    if (st.st_uid == ::geteuid()) ::fchmod(fd, 0600);
    writeAllAt0(fd, QByteArray::number(static_cast<qlonglong>(::getpid())) + '\n');
  }
  result.pidWritten = writable;
  result.outcome = Outcome::acquired;
  result.fd = fd;
  if (!writable) {
    log("[App] ", QStringLiteral("单实例锁文件不可写入 (%1)，只加锁不写 pid: %2").arg(result.note, path));
  }
  return result;
}

namespace {

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

bool isOursAlone(const QString& folder) {
  const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ours = FileOps::notOursAlone(fd, folder).isEmpty();
  ::close(fd);
  return ours;
}

// The folder of a channel, open, and the socket address of its file in it:
// the path itself when it fits, else the path through the open folder.
struct ChannelPlace {
  UniqueFd folder;
  sockaddr_un address{};
  socklen_t length = 0;
  QByteArray name;
  QString problem;  // why there is no place; `ours` tells whether it is another user's
  bool ours = true;
};

ChannelPlace openPlace(const InstanceChannel::Address& where) {
  ChannelPlace place;
  const QByteArray folder = QFile::encodeName(where.folder);
  place.name = QFile::encodeName(where.name);
  if (folder.contains('\0') || place.name.contains('\0') || place.name.contains('/')) {
    place.problem = where.path() + QStringLiteral(": not usable as a socket name");
    return place;
  }
  place.folder = UniqueFd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!place.folder) {
    place.problem = where.folder + QStringLiteral(": ") + errnoText(errno);
    return place;
  }
  place.problem = FileOps::notOursAlone(place.folder.get(), where.folder);
  if (!place.problem.isEmpty()) {
    place.ours = false;
    return place;
  }
  QByteArray path = folder + '/' + place.name;
  if (path.size() > InstanceChannel::kMaxSocketPathBytes)
    path = "/proc/self/fd/" + QByteArray::number(place.folder.get()) + '/' + place.name;
  if (path.size() > InstanceChannel::kMaxSocketPathBytes) {
    place.problem = where.path() + QStringLiteral(": not usable as a socket name");
    return place;
  }
  place.address.sun_family = AF_UNIX;
  std::memcpy(place.address.sun_path, path.constData(), static_cast<size_t>(path.size()));
  place.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  return place;
}

// Held by the one writing an address record, on a thread of the pool.
std::mutex& recordWrites() {
  static std::mutex mutex;
  return mutex;
}

bool outOfDescriptors(int error) { return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM; }

// What one connection may cost: one short message, read within a short time,
// and only a few connections served at once.
constexpr qsizetype kMaxMessageBytes = 256;
constexpr std::chrono::milliseconds kConnectionDeadline{2000};
constexpr std::size_t kMaxConnections = 8;
// How long the listener waits after running out of descriptors.
constexpr std::chrono::milliseconds kAcceptRetry{200};

}  // namespace

struct InstanceChannel::Connection {
  QByteArray received;
  std::unique_ptr<QSocketNotifier> notifier;
  std::unique_ptr<QTimer> deadline;
};

InstanceChannel::InstanceChannel(QObject* parent, uid_t peerUid) : QObject(parent), peerUid_(peerUid) {}

InstanceChannel::~InstanceChannel() {
  for (auto& [fd, connection] : connections_) ::close(fd);
  connections_.clear();
  acceptNotifier_.reset();
  if (listenFd_ >= 0) ::close(listenFd_);
  if (folderFd_ >= 0) {
    ::unlinkat(folderFd_, QFile::encodeName(socketName_).constData(), 0);
    ::close(folderFd_);
  }
  // A record still being written is removed by its writer.
  if (record_ && record_->exchange(RecordState::ended) == RecordState::written) QFile::remove(recordPath_);
}

InstanceChannel::Address InstanceChannel::address(const QString& appFolder) {
  // The runtime folder when it is ours alone (as it should be), named after
  // the application folder: two data folders hold two locks, so they are two
  // instances with two channels.
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (runtime.startsWith('/') && isOursAlone(runtime)) {
    const QByteArray folderHash =
        QCryptographicHash::hash(appFolder.toUtf8(), QCryptographicHash::Sha256).toHex().left(12);
    return {runtime, QStringLiteral("tollamere-%1.socket").arg(QString::fromLatin1(folderHash))};
  }
  return {appFolder, QStringLiteral("instance.socket")};
}

std::optional<InstanceChannel::Address> InstanceChannel::recordedAddress(const QString& appFolder) {
  // Our own plain file in our own folder, never read through a link; what it
  // names is checked as any channel's place is (a folder ours alone).
  const QString record = appFolder + '/' + QLatin1String(kAddressFileName);
  const std::optional<FileOps::ItemInfo> info = FileOps::itemInfo(record);
  if (!info || !info->ownedByUs) return std::nullopt;
  const FileOps::ReadResult read = FileOps::readFileNoFollow(record, 4096);
  if (read.status != FileOps::ReadResult::Status::ok) return std::nullopt;
  const QString path = QFile::decodeName(read.data).trimmed();
  const qsizetype cut = path.lastIndexOf('/');
  if (!path.startsWith('/') || path.contains(QChar(0)) || path.contains('\n') || cut <= 0 || cut == path.size() - 1)
    return std::nullopt;
  return Address{path.left(cut), path.mid(cut + 1)};
}

Expected<void, QString> InstanceChannel::listen(const QString& appFolder) {
  if (listenFd_ >= 0) return {};
  const Address where = address(appFolder);
  ChannelPlace place = openPlace(where);
  if (!place.problem.isEmpty()) return Unexpected(place.problem);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return Unexpected(errnoText(errno));
  const int dir = place.folder.get();
  // We hold the lock: what is there is a leftover of an ended instance.
  ::unlinkat(dir, place.name.constData(), 0);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&place.address), place.length) != 0 ||
      ::fchmodat(dir, place.name.constData(), 0600, 0) != 0 || ::listen(fd, 16) != 0) {
    const QString error = where.path() + QStringLiteral(": ") + errnoText(errno);
    ::close(fd);
    ::unlinkat(dir, place.name.constData(), 0);
    return Unexpected(error);
  }
  listenFd_ = fd;
  folderFd_ = place.folder.release();
  socketName_ = where.name;
  // Where we listen is chosen from this process's environment; a later copy
  // started from another session (su, ssh: no XDG_RUNTIME_DIR) reads it here.
  // Written off the window thread (the file is flushed).
  recordPath_ = appFolder + '/' + QLatin1String(kAddressFileName);
  record_ = std::make_shared<std::atomic<RecordState>>(RecordState::pending);
  startOffMain(this, [state = record_, record = recordPath_, bytes = QFile::encodeName(where.path()) + '\n'] {
    // One record at a time: the write of a channel that ended, and its
    // removal, are over before the next channel's write begins.
    const std::lock_guard serial(recordWrites());
    RecordState expected = RecordState::pending;
    if (!state->compare_exchange_strong(expected, RecordState::writing)) return;  // ended before it began
    if (const Expected<void, QString> recorded = FileOps::writeOwnFile(record, bytes); !recorded)
      log("[App] ", QStringLiteral("前置通道的位置未能记下（%1）").arg(recorded.error()));
    expected = RecordState::writing;
    // Ended while it was written: the end left the removal to us.
    if (!state->compare_exchange_strong(expected, RecordState::written)) QFile::remove(record);
  });
  acceptNotifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  connect(acceptNotifier_.get(), &QSocketNotifier::activated, this, &InstanceChannel::acceptPending);
  return {};
}

void InstanceChannel::updateAccepting() {
  if (acceptNotifier_)
    acceptNotifier_->setEnabled(!outOfDescriptors_ && connections_.size() < kMaxConnections);
}

void InstanceChannel::acceptPending() {
  while (listenFd_ >= 0 && !outOfDescriptors_ && connections_.size() < kMaxConnections) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      const int error = errno;
      if (error == EINTR || error == ECONNABORTED) continue;
      if (outOfDescriptors(error)) {
        // The connection stays queued; the listener waits for descriptors
        // to come free instead of spinning on it, and is never given up.
        outOfDescriptors_ = true;
        if (!exhaustionLogged_)
          log("[App] ", QStringLiteral("前置通道暂时无法接受连接（%1），每 %2 ms 重试，通道保持监听")
                            .arg(errnoText(error))
                            .arg(kAcceptRetry.count()));
        exhaustionLogged_ = true;
        QTimer::singleShot(kAcceptRetry, this, [this] {
          outOfDescriptors_ = false;
          acceptPending();
        });
      }
      break;  // EAGAIN: none left
    }
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != peerUid_) {
      ::close(fd);  // another user's: nothing is read
      continue;
    }
    exhaustionLogged_ = false;
    auto connection = std::make_unique<Connection>();
    connection->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(connection->notifier.get(), &QSocketNotifier::activated, this, [this, fd] { readFrom(fd); });
    // Silent or slow: dropped at the deadline, whatever it sent so far.
    connection->deadline = std::make_unique<QTimer>();
    connection->deadline->setSingleShot(true);
    connect(connection->deadline.get(), &QTimer::timeout, this, [this, fd] { close(fd); });
    connection->deadline->start(kConnectionDeadline);
    connections_.emplace(fd, std::move(connection));
  }
  updateAccepting();
}

void InstanceChannel::readFrom(int fd) {
  const auto it = connections_.find(fd);
  if (it == connections_.end()) return;
  QByteArray& received = it->second->received;
  char buffer[512];
  for (;;) {
    const qsizetype room = kMaxMessageBytes + 1 - received.size();
    const ssize_t n = ::read(fd, buffer, static_cast<size_t>(std::min<qsizetype>(room, sizeof buffer)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // more may come
    if (n > 0) received.append(buffer, n);
    // A message ends with its line feed, or with the sender's end.
    const qsizetype lineEnd = received.indexOf('\n');
    std::optional<QByteArray> message;
    if (lineEnd >= 0 && lineEnd <= kMaxMessageBytes)
      message = received.left(lineEnd).trimmed();
    else if (n == 0 && received.size() <= kMaxMessageBytes)
      message = received.trimmed();
    else if (n > 0 && received.size() <= kMaxMessageBytes)
      continue;
    // One message a connection; one too long, a failed read or an end
    // without a message closes it all the same.
    close(fd);
    if (message && !message->isEmpty()) Q_EMIT messageReceived(*message);
    return;
  }
}

void InstanceChannel::close(int fd) {
  const auto it = connections_.find(fd);
  if (it == connections_.end()) return;
  Connection& c = *it->second;
  // Possibly called from the notifier's or the timer's own signal: they go
  // once control is back in the event loop.
  c.notifier->setEnabled(false);
  c.notifier.release()->deleteLater();
  c.deadline->stop();
  c.deadline.release()->deleteLater();
  connections_.erase(it);
  ::close(fd);
  updateAccepting();
  // A connection waiting in the queue while all were busy is taken now.
  if (!outOfDescriptors_ && listenFd_ >= 0)
    QMetaObject::invokeMethod(this, &InstanceChannel::acceptPending, Qt::QueuedConnection);
}

InstanceChannel::Sent InstanceChannel::notifyRunningInstance(const QString& appFolder, const QByteArray& message,
                                                            std::chrono::milliseconds timeout, uid_t listenerUid) {
  // Where the running copy recorded that it listens, else (no record, or one
  // left by a copy that ended) where this session's environment says.
  const Address own = address(appFolder);
  if (const std::optional<Address> recorded = recordedAddress(appFolder); recorded && recorded->path() != own.path()) {
    const Sent sent = sendTo(*recorded, message, timeout, listenerUid);
    if (sent.outcome != Delivery::nobodyListens) return sent;
  }
  return sendTo(own, message, timeout, listenerUid);
}

InstanceChannel::Sent InstanceChannel::sendTo(const Address& where, const QByteArray& message,
                                              std::chrono::milliseconds timeout, uid_t listenerUid) {
  const ChannelPlace place = openPlace(where);
  if (!place.problem.isEmpty())
    return {place.ours ? Delivery::nobodyListens : Delivery::notOurs, place.problem};
  const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket) return {Delivery::failed, errnoText(errno)};
  const int fd = socket.get();
  // A listener whose queue is full makes connect wait, for at most the
  // time-out; so does a write to it.
  timeval limit{};
  limit.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  limit.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&place.address), place.length);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return {Delivery::nobodyListens, where.path() + QStringLiteral(": ") + errnoText(errno)};
  // Who listens: nothing goes to another user's socket.
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
    return {Delivery::failed, where.path() + QStringLiteral(": ") + errnoText(errno)};
  if (peer.uid != listenerUid)
    return {Delivery::notOurs,
            QStringLiteral("%1: its listener runs as user %2, not %3").arg(where.path()).arg(peer.uid).arg(listenerUid)};
  const QByteArray line = message + '\n';
  qsizetype done = 0;
  while (done < line.size()) {
    const ssize_t n = ::send(fd, line.constData() + done, static_cast<size_t>(line.size() - done), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return {Delivery::failed, where.path() + QStringLiteral(": ") + errnoText(n < 0 ? errno : EPIPE)};
    done += n;
  }
  // Taken once the listener closes its side.
  ::shutdown(fd, SHUT_WR);
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(std::max<long long>(0, left.count())));
    if (ready < 0 && errno == EINTR) continue;
    char sink[64];
    if (ready <= 0 || ::read(fd, sink, sizeof sink) <= 0) break;
  }
  return {Delivery::delivered, {}};
}

}  // namespace tlr
