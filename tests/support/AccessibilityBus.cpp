#include "AccessibilityBus.h"

#include "AppProcess.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>

namespace tlr::test {
namespace {

// The system's Python, where python3-gi lives (not a user's own Python).
const QString kPython = QStringLiteral("/usr/bin/python3");
const QString kProbe = QStringLiteral(TLR_TEST_SOURCE_DIR "/support/atspi_probe.py");

}  // namespace

AccessibilityBus::AccessibilityBus() {
  const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
  if (daemon.isEmpty()) {
    failure_ = QStringLiteral("dbus-daemon is not installed");
    return;
  }
  if (!QFileInfo::exists(QStringLiteral("/usr/libexec/at-spi-bus-launcher"))) {
    failure_ = QStringLiteral("at-spi2-core is not installed (scripts/deps installs it)");
    return;
  }
  QProcess check;
  check.start(kPython, {QStringLiteral("-c"),
                        QStringLiteral("import gi; gi.require_version('Atspi', '2.0'); from gi.repository import Atspi")});
  if (!check.waitForFinished(20000) || check.exitStatus() != QProcess::NormalExit || check.exitCode() != 0) {
    failure_ = QStringLiteral("python3-gi with Atspi 2.0 is not installed (scripts/deps installs it)");
    return;
  }
  // The launcher the bus starts for the accessibility bus puts its socket in
  // XDG_RUNTIME_DIR; `env` runs the daemon in its own process.
  daemon_ = std::make_unique<SpawnedChild>(
      QStringLiteral("/usr/bin/env"),
      QStringList{QStringLiteral("XDG_RUNTIME_DIR=") + sockets_.path(), daemon, QStringLiteral("--session"),
                  QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                  QStringLiteral("--address=unix:dir=") + sockets_.path()});
  if (!daemon_->started()) {
    failure_ = QStringLiteral("dbus-daemon did not start");
    return;
  }
  address_ = QString::fromLocal8Bit(daemon_->readLine(std::chrono::seconds(15))).trimmed();
  if (address_.isEmpty()) failure_ = QStringLiteral("dbus-daemon named no address");
}

AccessibilityBus::~AccessibilityBus() = default;  // the daemon's group goes with it

void AccessibilityBus::attach(AppProcess& app) const {
  app.setEnv(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
  app.setEnv(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
  app.setEnv(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("0"));
}

QByteArray AccessibilityBus::probe(qint64 pid, const QStringList& arguments, QString* silence) const {
  if (address_.isEmpty()) return {};
  if (!probe_) {
    // One probe for all the queries of this bus: started on the first, and
    // again after one that went unanswered.
    probe_ = std::make_unique<SpawnedChild>(
        QStringLiteral("/usr/bin/env"), QStringList{QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + address_, kPython,
                                                    kProbe, QStringLiteral("--serve")});
    if (!probe_->started()) {
      probe_.reset();
      if (silence) *silence = QStringLiteral("the probe did not start");
      return {};
    }
  }
  QJsonArray query{QString::number(pid)};
  for (const QString& argument : arguments) query.append(argument);
  QByteArray answer;
  if (probe_->writeLine(QJsonDocument(query).toJson(QJsonDocument::Compact)))
    answer = probe_->readLine(std::chrono::seconds(60));
  if (answer.isEmpty()) {
    // A probe that said nothing in time may answer this query later, in
    // place of the next one's answer: it goes, and the next query starts
    // another.
    probe_.reset();
    if (silence)
      *silence = QStringLiteral("no answer from the probe within 60 s, or it ended (its errors are in the test's output)");
  }
  return answer;
}

QJsonArray AccessibilityBus::windows(qint64 pid) const {
  return QJsonDocument::fromJson(probe(pid, {QStringLiteral("windows")})).array();
}

QJsonArray AccessibilityBus::tree(qint64 pid, const QString& window) const {
  QStringList arguments{QStringLiteral("tree")};
  if (!window.isEmpty()) arguments << window;
  return QJsonDocument::fromJson(probe(pid, arguments)).array();
}

QJsonObject AccessibilityBus::focused(qint64 pid) const {
  return QJsonDocument::fromJson(probe(pid, {QStringLiteral("focused")})).object();
}

QJsonObject AccessibilityBus::act(qint64 pid, const QString& window, const QString& role, const QString& name,
                                  const QString& action) const {
  QString silence;
  const QJsonDocument answer =
      QJsonDocument::fromJson(probe(pid, {QStringLiteral("do"), window, role, name, action}, &silence));
  if (!answer.isObject())
    return QJsonObject{{QStringLiteral("error"), silence.isEmpty() ? QStringLiteral("no answer from the probe") : silence},
                       {QStringLiteral("acted"), true}};
  return answer.object();
}

QJsonObject AccessibilityBus::find(const QJsonArray& tree, const QString& role, const QString& name) {
  for (const QJsonValue& node : tree) {
    const QJsonObject object = node.toObject();
    if (object.value(QStringLiteral("role")).toString() == role && object.value(QStringLiteral("name")).toString() == name)
      return object;
  }
  return {};
}

}  // namespace tlr::test
