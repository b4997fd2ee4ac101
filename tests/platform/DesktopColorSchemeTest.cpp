// The desktop's colour-scheme preference from a settings portal on a private
// session bus (a dbus-daemon of the test's own), and how a start finds and
// asks the session's bus.
#include "platform/DesktopColorScheme.h"
#include "platform/SessionBus.h"

#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <csignal>

using tlr::DesktopColorScheme;
using tlr::SessionBus;
using namespace std::chrono_literals;

namespace {

// Answers Read("org.freedesktop.appearance", "color-scheme") like the
// freedesktop portal: a variant wrapping a variant of an unsigned number.
class FakePortal final : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

 public:
  uint value = 1;
  int reads = 0;

 public Q_SLOTS:
  QDBusVariant Read(const QString& nameSpace, const QString& key) {
    ++reads;
    if (nameSpace != QLatin1String("org.freedesktop.appearance") || key != QLatin1String("color-scheme"))
      return QDBusVariant(QVariant::fromValue(QDBusVariant(QVariant(0u))));
    return QDBusVariant(QVariant::fromValue(QDBusVariant(QVariant(value))));
  }
};

// A session bus for the life of the object; stopped by pid.
struct PrivateBus {
  QTemporaryDir dir;
  QProcess daemon;
  QString address;

  PrivateBus() {
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) return;
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                  QStringLiteral("--address=unix:path=") + dir.path() + QStringLiteral("/bus")});
    if (!daemon.waitForStarted(5000)) return;
    QByteArray out;
    tlr::test::waitUntil([&] {
      out += daemon.readAllStandardOutput();
      return out.contains('\n');
    });
    address = QString::fromUtf8(out).trimmed();
  }
  ~PrivateBus() {
    if (daemon.state() == QProcess::NotRunning) return;
    ::kill(static_cast<pid_t>(daemon.processId()), SIGTERM);
    daemon.waitForFinished(5000);
  }
};

}  // namespace

// Each kind of address a session may name: a bus that answers, one that
// takes the connection and says nothing (given up at the deadline, the wait
// said once past the patience), a socket nobody listens on, an address
// list whose first entry leads nowhere, a kind not asked here, and none.
TEST(SessionBus, AsksTheSessionsBusWithinTheDeadline) {
  PrivateBus bus;
  if (bus.address.isEmpty()) GTEST_SKIP() << "no dbus-daemon to run a private session bus";
  QTemporaryDir dir;
  tlr::test::SilentSocket silent(dir.filePath(QStringLiteral("silent")));
  ASSERT_TRUE(silent.listening());
  const QString silentAddress = QStringLiteral("unix:path=") + dir.filePath(QStringLiteral("silent"));
  const QString nobody = QStringLiteral("unix:path=") + dir.filePath(QStringLiteral("nobody"));
  struct Case {
    QString address;
    SessionBus::State state;
    int patienceSaid;
  };
  const Case cases[] = {
      {bus.address, SessionBus::State::answered, 0},
      {silentAddress, SessionBus::State::unanswered, 1},
      {nobody, SessionBus::State::unreachable, 0},
      {nobody + ';' + bus.address, SessionBus::State::answered, 0},
      {QStringLiteral("tcp:host=127.0.0.1,port=9"), SessionBus::State::notProbed, 0},
      {QString(), SessionBus::State::none, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address.toStdString());
    int said = 0;
    QElapsedTimer clock;
    clock.start();
    const SessionBus::Finding found = SessionBus::probe(c.address, 100ms, 600ms, [&said] { ++said; });
    EXPECT_EQ(found.state, c.state);
    EXPECT_EQ(said, c.patienceSaid);
    EXPECT_EQ(found.reason.isEmpty(), c.state != SessionBus::State::unreachable && c.state != SessionBus::State::unanswered)
        << found.reason.toStdString();
    if (c.state == SessionBus::State::unanswered) EXPECT_GE(clock.elapsed(), 600);
  }
}

// Without DBUS_SESSION_BUS_ADDRESS the session's bus is the runtime folder's
// socket, as the bus library takes it: a socket, not a link to one.
TEST(SessionBus, FindsTheRuntimeFoldersSocketButNoLinkToOne) {
  const QByteArray savedAddress = qgetenv("DBUS_SESSION_BUS_ADDRESS");
  const bool hadAddress = qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
  const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
  const bool hadRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
  QTemporaryDir runtime;
  QTemporaryDir elsewhere;
  tlr::test::SilentSocket socket(elsewhere.filePath(QStringLiteral("bus")));
  ASSERT_TRUE(socket.listening());
  qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
  EXPECT_EQ(SessionBus::sessionAddress(), QString()) << "no socket";
  ASSERT_TRUE(QFile::link(elsewhere.filePath(QStringLiteral("bus")), runtime.filePath(QStringLiteral("bus"))));
  EXPECT_EQ(SessionBus::sessionAddress(), QString()) << "a link";
  ASSERT_TRUE(QFile::remove(runtime.filePath(QStringLiteral("bus"))));
  ASSERT_TRUE(QFile::rename(elsewhere.filePath(QStringLiteral("bus")), runtime.filePath(QStringLiteral("bus"))));
  EXPECT_EQ(SessionBus::sessionAddress(), QStringLiteral("unix:path=") + runtime.filePath(QStringLiteral("bus")));
  qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:abstract=/tmp/dbus-x");
  EXPECT_EQ(SessionBus::sessionAddress(), QStringLiteral("unix:abstract=/tmp/dbus-x")) << "the variable comes first";
  if (hadAddress)
    qputenv("DBUS_SESSION_BUS_ADDRESS", savedAddress);
  else
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  if (hadRuntime)
    qputenv("XDG_RUNTIME_DIR", savedRuntime);
  else
    qunsetenv("XDG_RUNTIME_DIR");
}

TEST(DesktopColorScheme, ReadsThePortalAndFollowsItsChangeSignal) {
  PrivateBus bus;
  if (bus.address.isEmpty()) GTEST_SKIP() << "no dbus-daemon to run a private session bus";
  qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address.toUtf8());

  QDBusConnection server = QDBusConnection::connectToBus(bus.address, QStringLiteral("fake-portal"));
  ASSERT_TRUE(server.isConnected());
  FakePortal portal;
  ASSERT_TRUE(server.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                                    QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(server.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));

  DesktopColorScheme scheme;
  int changes = 0;
  QObject::connect(&scheme, &DesktopColorScheme::preferenceChanged, [&changes] { ++changes; });
  EXPECT_FALSE(scheme.preference().has_value());
  scheme.start();
  ASSERT_TRUE(tlr::test::waitUntil([&] { return scheme.preference().has_value(); }));
  EXPECT_EQ(*scheme.preference(), DesktopColorScheme::Preference::dark);
  EXPECT_EQ(portal.reads, 1);

  // The desktop switches to light: the portal announces it.
  QDBusMessage changed = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/portal/desktop"),
                                                    QStringLiteral("org.freedesktop.portal.Settings"),
                                                    QStringLiteral("SettingChanged"));
  changed << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme")
          << QVariant::fromValue(QDBusVariant(QVariant(2u)));
  ASSERT_TRUE(server.send(changed));
  ASSERT_TRUE(tlr::test::waitUntil([&] { return scheme.preference() == DesktopColorScheme::Preference::light; }));
  EXPECT_EQ(changes, 2);

  QDBusConnection::disconnectFromBus(QStringLiteral("fake-portal"));
  qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

#include "DesktopColorSchemeTest.moc"
