#include "platform/SessionBus.h"

#include "platform/Log.h"

#include <QDBusConnection>
#include <QFile>

#include <atomic>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tlr {
namespace {

constexpr char kVariable[] = "DBUS_SESSION_BUS_ADDRESS";
// A kind of address the bus library knows no transport for: the toolkit's
// connection fails at once, with no fork and no wait.
constexpr char kNoBus[] = "disabled:";

// -1 until a start decided, then 0 or 1.
std::atomic<int> decided{-1};

using Clock = std::chrono::steady_clock;

// What a bus user loses without the bus, said in every line about it.
QString withoutBus() { return QStringLiteral("读屏器看不到窗口，不读桌面的深浅色设置"); }

int millisecondsLeft(Clock::time_point until) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
  return static_cast<int>(std::max<long long>(0, left));
}

// "%2F" and the like, as the bus library escapes a value.
QByteArray unescaped(const QString& value) { return QByteArray::fromPercentEncoding(value.toUtf8()); }

// One "unix:" entry's socket address; a reason when it has none usable.
struct UnixAddress {
  sockaddr_un address{};
  socklen_t length = 0;
  QString problem;
};
std::optional<UnixAddress> unixAddress(const QString& entry) {
  if (!entry.startsWith(QLatin1String("unix:"))) return std::nullopt;
  UnixAddress result;
  result.address.sun_family = AF_UNIX;
  for (const QString& pair : entry.mid(5).split(',')) {
    const qsizetype equals = pair.indexOf('=');
    if (equals < 0) continue;
    const QString key = pair.left(equals);
    if (key != QLatin1String("path") && key != QLatin1String("abstract")) continue;
    const QByteArray name = unescaped(pair.mid(equals + 1));
    const bool abstract = key == QLatin1String("abstract");
    // An abstract name follows a nul; a path needs one after it.
    const std::size_t offset = abstract ? 1 : 0;
    const std::size_t room = sizeof result.address.sun_path - 1;
    if (name.isEmpty() || static_cast<std::size_t>(name.size()) > room) {
      result.problem = QStringLiteral("地址无效");
      return result;
    }
    std::memcpy(result.address.sun_path + offset, name.constData(), static_cast<std::size_t>(name.size()));
    result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                           static_cast<std::size_t>(name.size()) + (abstract ? 0 : 1));
    return result;
  }
  // "unix:dir=…", "unix:tmpdir=…" and "unix:runtime=yes" are for listening.
  result.problem = QStringLiteral("地址无效");
  return result;
}

enum class Asked { answered, unreachable, unanswered };
struct Answer {
  Asked asked;
  QString reason;
};

// Connects to `address` and sends the first bytes of the bus's handshake
// (a nul and an AUTH without mechanism, which a bus answers with the
// mechanisms it takes); any answer before `until` will do.
Answer ask(const UnixAddress& address, Clock::time_point patienceEnds, Clock::time_point until,
           const std::function<void()>& patient, bool& toldPatience) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return {Asked::unreachable, QString::fromLocal8Bit(std::strerror(errno))};
  const auto closeFd = [fd] { ::close(fd); };
  // Waits for `events` on the socket, saying once that the bus is slow.
  const auto waitFor = [&](short events) {
    for (;;) {
      if (!toldPatience && Clock::now() >= patienceEnds) {
        toldPatience = true;
        if (patient) patient();
      }
      const Clock::time_point next = toldPatience ? until : std::min(until, patienceEnds);
      pollfd entry{fd, events, 0};
      const int ready = ::poll(&entry, 1, millisecondsLeft(next));
      if (ready > 0) return true;
      if (ready < 0 && errno != EINTR) return false;
      if (Clock::now() >= until) return false;
    }
  };
  while (::connect(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length) != 0) {
    const int error = errno;
    if (error == EINTR) continue;
    if (error == EINPROGRESS) {
      if (!waitFor(POLLOUT)) {
        closeFd();
        return {Asked::unanswered, QString()};
      }
      int pending = 0;
      socklen_t size = sizeof pending;
      ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &size);
      if (pending == 0) break;
      closeFd();
      return {Asked::unreachable, QString::fromLocal8Bit(std::strerror(pending))};
    }
    if (error == EAGAIN) {
      // The bus's queue of new connections is full: it is not taking any.
      if (Clock::now() >= until) {
        closeFd();
        return {Asked::unanswered, QString()};
      }
      ::poll(nullptr, 0, std::min(50, millisecondsLeft(until)));
      continue;
    }
    closeFd();
    return {Asked::unreachable, QString::fromLocal8Bit(std::strerror(error))};
  }
  static const char hello[] = "\0AUTH\r\n";
  if (::send(fd, hello, sizeof hello - 1, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof hello - 1)) {
    const int error = errno;
    closeFd();
    return {Asked::unreachable, QString::fromLocal8Bit(std::strerror(error))};
  }
  if (!waitFor(POLLIN)) {
    closeFd();
    return {Asked::unanswered, QString()};
  }
  char answer[64];
  const ssize_t got = ::recv(fd, answer, sizeof answer, 0);
  closeFd();
  if (got > 0) return {Asked::answered, QString()};
  return {Asked::unreachable, got == 0 ? QStringLiteral("连接被关闭") : QString::fromLocal8Bit(std::strerror(errno))};
}

}  // namespace

QString SessionBus::sessionAddress() {
  const QByteArray named = qgetenv(kVariable);
  if (!named.isEmpty()) return QString::fromLocal8Bit(named);
  // As the bus library looks for the session's bus: a socket of this user's
  // (not a link) in the runtime folder.
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (runtime.isEmpty()) return QString();
  const QByteArray socket = runtime + "/bus";
  struct stat st;
  if (::lstat(socket.constData(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != ::getuid()) return QString();
  return QStringLiteral("unix:path=") + QString::fromLatin1(socket.toPercentEncoding("/-_.~"));
}

SessionBus::Finding SessionBus::probe(const QString& address, std::chrono::milliseconds patience,
                                      std::chrono::milliseconds deadline, const std::function<void()>& patient) {
  if (address.isEmpty()) return {State::none, address, QString()};
  const Clock::time_point start = Clock::now();
  bool toldPatience = false;
  Finding last{State::notProbed, address, QString()};
  // The bus library tries the entries in order and takes the first it
  // connects to.
  for (const QString& entry : address.split(';', Qt::SkipEmptyParts)) {
    const std::optional<UnixAddress> unix = unixAddress(entry);
    if (!unix) return {State::notProbed, address, QString()};
    if (!unix->problem.isEmpty()) {
      last = {State::unreachable, address, unix->problem};
      continue;
    }
    const Answer answer = ask(*unix, start + patience, start + deadline, patient, toldPatience);
    if (answer.asked == Asked::answered) return {State::answered, address, QString()};
    last = answer.asked == Asked::unanswered
               ? Finding{State::unanswered, address,
                         QStringLiteral("%1 秒未应答").arg(std::chrono::duration<double>(deadline).count())}
               : Finding{State::unreachable, address, answer.reason};
    if (Clock::now() >= start + deadline) break;
  }
  return last;
}

SessionBus::SessionBus()
    : wasSet_(qEnvironmentVariableIsSet(kVariable)), original_(qgetenv(kVariable)) {
  const QString address = sessionAddress();
  finding_ = probe(address, kPatience, kDeadline, [&address] {
    log("[App] ", QStringLiteral("会话总线 %1 %2 秒未应答，最多再等 %3 秒")
                      .arg(address)
                      .arg(std::chrono::duration<double>(kPatience).count())
                      .arg(std::chrono::duration<double>(kDeadline - kPatience).count()));
  });
  if (finding_.state == State::unanswered)
    log("[App] ", QStringLiteral("会话总线 %1 %2 → 不用它：%3").arg(address, finding_.reason, withoutBus()));
  decided = finding_.state == State::answered || finding_.state == State::notProbed ? 1 : 0;
  if (finding_.state == State::notProbed) return;
  // The toolkit connects to this, and only this, while the variable is ours.
  qputenv(kVariable, finding_.state == State::answered ? finding_.address.toLocal8Bit() : QByteArray(kNoBus));
  replaced_ = true;
}

SessionBus::~SessionBus() { restore(); }

void SessionBus::connectToolkit() {
  if (!replaced_) return;
  // The bus library reads the address at its first connection and keeps
  // it; the toolkit keeps the connection (or its failure).
  (void)QDBusConnection::sessionBus();
  restore();
}

void SessionBus::restore() {
  if (!replaced_) return;
  replaced_ = false;
  if (wasSet_)
    qputenv(kVariable, original_);
  else
    qunsetenv(kVariable);
}

bool SessionBus::usable() {
  const int known = decided.load();
  if (known >= 0) return known == 1;
  return !sessionAddress().isEmpty();
}

std::optional<QString> SessionBus::unusedLine() const {
  switch (finding_.state) {
    case State::answered:
    case State::notProbed:
    case State::unanswered:  // said while it was waited for
      return std::nullopt;
    case State::none:
      return QStringLiteral("没有会话总线（DBUS_SESSION_BUS_ADDRESS 未设置，$XDG_RUNTIME_DIR/bus 不存在）→ "
                            "不替会话启动总线：") +
             withoutBus();
    case State::unreachable:
      return QStringLiteral("会话总线 %1 连不上（%2）→ %3").arg(finding_.address, finding_.reason, withoutBus());
  }
  return std::nullopt;
}

}  // namespace tlr
