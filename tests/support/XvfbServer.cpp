#include "XvfbServer.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSize>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace tlr::test {

bool XvfbServer::hasProgram(const QString& name) { return !QStandardPaths::findExecutable(name).isEmpty(); }

namespace {

// The server and the window manager run in sessions of their own: a signal
// meant for the test's process group or its terminal (a SIGHUP, which resets
// Xvfb and ends openbox with status 1) never reaches them. They are still
// ended by their pids.
void ownSession() { ::setsid(); }

}  // namespace

XvfbServer::XvfbServer(QSize screen, int panel) {
  if (!hasProgram(QStringLiteral("Xvfb"))) {
    failure_ = QStringLiteral("Xvfb is not installed (scripts/deps installs it)");
    return;
  }
  server_.setProgram(QStringLiteral("Xvfb"));
  // -displayfd 1: the server picks a free display and prints its number.
  // -noreset: a server resets (dropping every client, the window manager
  // too) each time its last client leaves; a short-lived xprop or xdotool
  // must never cause that.
  server_.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                        QStringLiteral("0"),
                        QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()), QStringLiteral("-nolisten"),
                        QStringLiteral("tcp"), QStringLiteral("-noreset")});
  server_.setProcessChannelMode(QProcess::SeparateChannels);
  server_.setChildProcessModifier(ownSession);
  server_.start();
  if (!server_.waitForStarted(10000)) {
    failure_ = QStringLiteral("Xvfb did not start: ") + server_.errorString();
    return;
  }
  QByteArray out;
  const bool told = waitUntil(
      [&] {
        out += server_.readAllStandardOutput();
        return out.contains('\n') || server_.state() == QProcess::NotRunning;
      },
      kClientTime);
  const QString number = QString::fromLatin1(out).trimmed();
  if (!told || number.isEmpty()) {
    failure_ = QStringLiteral("Xvfb named no display (%1): ")
                   .arg(server_.state() == QProcess::NotRunning
                            ? QStringLiteral("it ended with %1").arg(server_.exitCode())
                            : QStringLiteral("still running after %1 s").arg(kClientTime.count() / 1000)) +
               QString::fromLocal8Bit(server_.readAllStandardError());
    return;
  }
  display_ = QLatin1Char(':') + number;
  startWindowManager(panel);
}

void XvfbServer::startWindowManager(int panel) {
  if (!hasProgram(QStringLiteral("openbox"))) return;
  QStringList arguments{QStringLiteral("--sm-disable")};
  if (panel > 0) {
    // openbox keeps its margins out of the work area it announces, as it
    // does a panel's strut.
    const QString rc = config_.filePath(QStringLiteral("rc.xml"));
    QFile file(rc);
    if (file.open(QIODevice::WriteOnly)) {
      file.write(QStringLiteral("<?xml version=\"1.0\"?>\n<openbox_config xmlns=\"http://openbox.org/3.4/rc\">"
                                "<margins><top>0</top><bottom>%1</bottom><left>0</left><right>0</right></margins>"
                                "</openbox_config>\n")
                     .arg(panel)
                     .toUtf8());
      file.close();
      arguments << QStringLiteral("--config-file") << rc;
    }
  }
  // openbox names itself on the root window early in its start, before it
  // handles requests: a window asked to map in between was never mapped.
  // The command it runs once started marks the moment it manages windows.
  const QString ready = config_.filePath(QStringLiteral("wm.ready"));
  arguments << QStringLiteral("--startup") << QStringLiteral("touch '%1'").arg(ready);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DISPLAY"), display_);
  windowManager_.setProcessEnvironment(env);
  windowManager_.setProgram(QStringLiteral("openbox"));
  windowManager_.setChildProcessModifier(ownSession);
  windowManager_.setArguments(arguments);
  windowManager_.setStandardOutputFile(QProcess::nullDevice());
  windowManager_.setStandardErrorFile(config_.filePath(QStringLiteral("wm.err")));
  windowManager_.start();
  // Deadlines, not delays: on a loaded machine (the whole suite at once)
  // starting openbox has taken longer than 5 s.
  if (!windowManager_.waitForStarted(30000)) return;
  // Up once it names itself on the root window and has run its start-up
  // command.
  windowManagerUp_ = waitUntil(
      [&] {
        if (windowManager_.state() == QProcess::NotRunning) return true;
        return QFile::exists(ready) &&
               run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
                   .contains(QStringLiteral("window id"));
      },
      std::chrono::seconds(30)) &&
                     windowManager_.state() == QProcess::Running;
}

QString XvfbServer::windowManagerEnd() const {
  if (windowManager_.state() == QProcess::Running)
    return windowManagerUp_ ? QStringLiteral("running") : QStringLiteral("running, not named on the root window in time");
  if (windowManager_.state() == QProcess::Starting) return QStringLiteral("still starting");
  QFile said(config_.filePath(QStringLiteral("wm.err")));
  return QStringLiteral("ended: %1 %2 (%3) %4")
      .arg(windowManager_.exitStatus() == QProcess::CrashExit ? QStringLiteral("by signal") : QStringLiteral("with"))
      .arg(windowManager_.exitCode())
      .arg(windowManager_.errorString(),
           said.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(said.readAll()) : QString());
}

XvfbServer::~XvfbServer() { stop(); }

void XvfbServer::stop() {
  if (windowManager_.state() != QProcess::NotRunning) {
    const auto pid = static_cast<pid_t>(windowManager_.processId());
    if (pid > 0) ::kill(pid, SIGTERM);
    if (!windowManager_.waitForFinished(5000) && pid > 0) {
      ::kill(pid, SIGKILL);
      windowManager_.waitForFinished(5000);
    }
  }
  if (server_.state() == QProcess::NotRunning) return;
  const auto pid = static_cast<pid_t>(server_.processId());
  if (pid > 0) ::kill(pid, SIGTERM);
  if (!server_.waitForFinished(5000) && pid > 0) {
    ::kill(pid, SIGKILL);
    server_.waitForFinished(5000);
  }
}

XvfbServer::Answer XvfbServer::call(const QString& program, const QStringList& arguments,
                                    std::chrono::milliseconds timeout) const {
  Answer answer;
  if (display_.isEmpty()) return answer;
  QProcess client;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DISPLAY"), display_);
  client.setProcessEnvironment(env);
  client.start(program, arguments);
  const QString command = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));
  // A client that did not start, or did not end in time, has said nothing
  // about the display: its silence must not read as "no such window".
  if (!client.waitForStarted(static_cast<int>(timeout.count()))) {
    ADD_FAILURE() << command.toStdString() << " did not start: " << client.errorString().toStdString();
    return answer;
  }
  if (!client.waitForFinished(static_cast<int>(timeout.count()))) {
    client.kill();
    client.waitForFinished(5000);
    ADD_FAILURE() << command.toStdString() << " got no answer from the X server within " << timeout.count() << " ms";
    return answer;
  }
  answer.ended = true;
  answer.out = QString::fromUtf8(client.readAllStandardOutput());
  answer.err = QString::fromUtf8(client.readAllStandardError());
  return answer;
}

QString XvfbServer::run(const QString& program, const QStringList& arguments,
                        std::chrono::milliseconds timeout) const {
  return call(program, arguments, timeout).out;
}

QStringList XvfbServer::visibleWindows(const QString& name) const {
  const QStringList search{QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                           QLatin1Char('^') + QRegularExpression::escape(name) + QLatin1Char('$')};
  // xdotool walks the whole tree and, in versions before 2021, ends on the
  // X error of a window that went in between ("BadWindow"), whatever its
  // name: that walk found nothing, and the next one answers.
  Answer answer;
  for (int walk = 0; walk < 10; ++walk) {
    answer = call(QStringLiteral("xdotool"), search);
    if (!answer.ended || !answer.err.contains(QStringLiteral("X Error"))) break;
  }
  if (answer.err.contains(QStringLiteral("X Error")))
    ADD_FAILURE() << "xdotool could not walk the windows: " << answer.err.toStdString();
  return answer.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString XvfbServer::waitForWindow(const QString& name, std::optional<QSize> size,
                                  std::chrono::milliseconds timeout) const {
  QString id;
  waitUntil([&] { return !(id = windowNamed(name, size)).isEmpty(); }, timeout);
  return id;
}

QString XvfbServer::whyNotShown(const QString& name) const {
  const QStringList ids =
      run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--name"),
                                      QLatin1Char('^') + QRegularExpression::escape(name) + QLatin1Char('$')})
          .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  if (ids.isEmpty()) return QStringLiteral("no window named \"%1\" on the display").arg(name);
  QStringList states;
  for (const QString& id : ids) {
    const auto state = QRegularExpression(QStringLiteral("Map State:\\s+(\\S+)"))
                           .match(run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id}));
    states << id + QLatin1Char(' ') + (state.hasMatch() ? state.captured(1) : QStringLiteral("gone"));
  }
  return QStringLiteral("windows named \"%1\", none viewable: %2").arg(name, states.join(QStringLiteral(", ")));
}

std::optional<QSize> XvfbServer::windowSize(const QString& id) const {
  const QString out =
      run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id});
  const QRegularExpression width(QStringLiteral("WIDTH=(\\d+)")), height(QStringLiteral("HEIGHT=(\\d+)"));
  const auto w = width.match(out), h = height.match(out);
  if (!w.hasMatch() || !h.hasMatch()) return std::nullopt;
  return QSize(w.captured(1).toInt(), h.captured(1).toInt());
}

QString XvfbServer::windowNamed(const QString& name, std::optional<QSize> size) const {
  for (const QString& id : visibleWindows(name))
    if (!size || windowSize(id) == *size) return id;
  return {};
}

QPoint XvfbServer::windowOrigin(const QString& id) const {
  // xwininfo's absolute corner is the client's own, inside a window
  // manager's frame as well (xdotool's is off by the frame there).
  const QString out = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id});
  const auto x = QRegularExpression(QStringLiteral("Absolute upper-left X:\\s+(-?\\d+)")).match(out);
  const auto y = QRegularExpression(QStringLiteral("Absolute upper-left Y:\\s+(-?\\d+)")).match(out);
  return {x.captured(1).toInt(), y.captured(1).toInt()};
}

QString XvfbServer::focusedWindow() const {
  return run(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")}).trimmed();
}

void XvfbServer::clickAt(QPoint at) const {
  run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                                  QStringLiteral("click"), QStringLiteral("1")});
}

QString XvfbServer::screenshotPath(const QString& name) {
  QDir().mkpath(QStringLiteral(TLR_TEST_BIN_DIR "/screenshots"));
  return QStringLiteral(TLR_TEST_BIN_DIR "/screenshots/") + name;
}

bool XvfbServer::screenshot(const QString& path) const {
  if (display_.isEmpty() || !hasProgram(QStringLiteral("import"))) return false;
  run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), path});
  return QFile::exists(path);
}

QString XvfbServer::screen() const {
  const QString path = config_.filePath(QStringLiteral("screen.png"));
  QFile::remove(path);
  return screenshot(path) ? path : QString();
}

}  // namespace tlr::test
