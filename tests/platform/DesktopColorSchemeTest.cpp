// The desktop's colour-scheme preference from a settings portal on a private
// session bus (a dbus-daemon of the test's own).
#include "platform/DesktopColorScheme.h"

#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using tlr::DesktopColorScheme;

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
