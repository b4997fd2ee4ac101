#include "platform/SessionBus.h"

#include "platform/Log.h"
#include "platform/SocketProbe.h"

#include <QDBusConnection>
#include <QFile>

#include <atomic>

#include <sys/stat.h>
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

// "%2F" and the like, as the bus library escapes a value.
QByteArray unescaped(const QString& value) { return QByteArray::fromPercentEncoding(value.toUtf8()); }

// One "unix:" entry's socket address (with a problem when it has none
// usable); nothing for an entry of another kind.
std::optional<SocketProbe::LocalAddress> unixAddress(const QString& entry) {
  if (!entry.startsWith(QLatin1String("unix:"))) return std::nullopt;
  for (const QString& pair : entry.mid(5).split(',')) {
    const qsizetype equals = pair.indexOf('=');
    if (equals < 0) continue;
    const QString key = pair.left(equals);
    if (key == QLatin1String("path")) return SocketProbe::pathAddress(unescaped(pair.mid(equals + 1)));
    if (key == QLatin1String("abstract")) return SocketProbe::abstractAddress(unescaped(pair.mid(equals + 1)));
  }
  // "unix:dir=…", "unix:tmpdir=…" and "unix:runtime=yes" are for listening.
  SocketProbe::LocalAddress none;
  none.problem = QStringLiteral("地址无效");
  return none;
}

// The first bytes of the bus's handshake: a nul and an AUTH without
// mechanism, which a bus answers with the mechanisms it takes.
const QByteArray kHello("\0AUTH\r\n", 7);

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
    const std::optional<SocketProbe::LocalAddress> unix = unixAddress(entry);
    if (!unix) return {State::notProbed, address, QString()};
    if (!unix->problem.isEmpty()) {
      last = {State::unreachable, address, unix->problem};
      continue;
    }
    const SocketProbe::Answer answer = SocketProbe::ask(*unix, kHello, start + patience, start + deadline, patient, toldPatience);
    if (answer.asked == SocketProbe::Asked::answered) return {State::answered, address, QString()};
    last = answer.asked == SocketProbe::Asked::unanswered
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
