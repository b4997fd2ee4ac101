// Quitting the real application on a display of its own while a command it
// started still runs: the process ends within two seconds, the command with
// it, and a new start right after is the first instance again. A command
// that escapes by killing the process that ran it does not outlive it.
#include "platform/Defaults.h"
#include "support/AppFixture.h"
#include "support/RegistryJson.h"
#include "support/XvfbServer.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QPoint>

#include <csignal>
#include <functional>

using namespace tlr::test;
using namespace std::chrono_literals;

namespace {

const QString kDisplayName = QStringLiteral("Fake Agent");

class QuitOnDisplay : public AppFixture {
 protected:
  void SetUp() override {
    if (!x_.failure().isEmpty()) GTEST_SKIP() << x_.failure().toStdString();
    if (!XvfbServer::hasProgram(QStringLiteral("xdotool"))) GTEST_SKIP() << "xdotool is not installed";
    tlr::Defaults::shared().set(QStringLiteral("TLR.hasShownStatusItemOnboarding"), true);
    tlr::Defaults::shared().set(QStringLiteral("TLR.selfGuard.asked"), true);
    EXPECT_TRUE(tlr::Defaults::shared().flush());
    const QString name = uniqueAgentName(QStringLiteral("tlr-quit-agent"));
    copyFakeAgent(home_.path() + QStringLiteral("/.local/bin"), name);
    // The doctor records the session bus it was given and its pid, and
    // then runs for 100 s.
    doctor_ = fakeBin_.add(QStringLiteral("fake-doctor"),
                           QStringLiteral("echo \"${DBUS_SESSION_BUS_ADDRESS-(unset)}\" > \"$HOME/doctor.bus\"\n"
                                          "echo $$ > \"$HOME/doctor.pid.tmp\"\n"
                                          "mv \"$HOME/doctor.pid.tmp\" \"$HOME/doctor.pid\"\n"
                                          "exec sleep 100\n"));
    box_ = &sandbox(oneAgentDocument(name, {{QStringLiteral("doctor"),
                                             QJsonObject{{QStringLiteral("command"), QJsonArray{doctor_}}}}}));
  }

  AppProcess& startOnDisplay() {
    AppProcess& app = process(*box_);
    app.setEnv(QStringLiteral("DISPLAY"), x_.display());
    EXPECT_TRUE(app.start());
    return app;
  }
  QString mainWindow() const { return x_.windowNamed(QStringLiteral("Tollamere"), QSize(680, 560)); }
  // The doctor's pid once it runs (the agent's sheet runs it when it opens).
  pid_t openSheetUntilTheDoctorRuns(AppProcess& app) {
    QString main;
    EXPECT_TRUE(waitUntil([&] { return !(main = mainWindow()).isEmpty(); }, 60s))
        << app.stdOut().toStdString() << app.stdErr().toStdString();
    const QPoint origin = x_.windowOrigin(main);
    const QString pidFile = home_.path() + QStringLiteral("/doctor.pid");
    EXPECT_TRUE(waitUntil(
        [&] {
          // The one row, at the top of the live-status panel.
          x_.clickAt(origin + QPoint(300, 321));
          return waitUntil([&] { return QFile::exists(pidFile); }, 2s);
        },
        60s))
        << app.stdOut().toStdString();
    return static_cast<pid_t>(readFile(pidFile).trimmed().toInt());
  }
  // Quits through `quit` (after `prepare`, which the 2 s do not count) and
  // expects the process gone within 2 s (kQuitWithin), the doctor with it,
  // and a new start to take the lock and show its window.
  void expectQuickQuit(AppProcess& app, const std::function<void()>& prepare, const std::function<void()>& quit,
                       const char* how) {
    const pid_t doctor = openSheetUntilTheDoctorRuns(app);
    ASSERT_GT(doctor, 0);
    ASSERT_EQ(::kill(doctor, 0), 0) << "the doctor runs";
    // What the application gave its toolkit for the session bus is not what
    // the programs it starts see: they get the session's own.
    const QString session = qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS")
                                ? qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS")
                                : QStringLiteral("(unset)");
    EXPECT_EQ(readFile(home_.path() + QStringLiteral("/doctor.bus")).trimmed().toStdString(), session.toStdString());
    prepare();
    QElapsedTimer clock;
    clock.start();
    quit();
    EXPECT_TRUE(app.waitForExit(kQuitWithin)) << how << ": still running after " << clock.elapsed() << " ms\n"
                                     << app.stdOut().toStdString();
    if (app.isRunning()) return;
    EXPECT_EQ(app.exitCode(), 0) << how;
    // The doctor's work ended with its command; no fallback was needed.
    EXPECT_FALSE(app.stdOut().contains(appLog::workLeftAtQuit)) << app.stdOut().toStdString();
    EXPECT_FALSE(app.stdOut().contains(appLog::quitDeadline)) << app.stdOut().toStdString();
    EXPECT_FALSE(app.stdOut().contains(appLog::threadsLeftAtExit)) << app.stdOut().toStdString();
    EXPECT_TRUE(waitUntil([&] { return ::kill(doctor, 0) != 0; }, 2s)) << how << ": the doctor command was ended";

    AppProcess& next = startOnDisplay();
    EXPECT_TRUE(waitUntil([&] { return holdsTheLock(next); }, 30s)) << next.stdOut().toStdString();
    EXPECT_TRUE(waitUntil([&] { return !mainWindow().isEmpty(); }, 60s)) << how << ": the new start shows its window";
    EXPECT_TRUE(next.isRunning());
  }

  XvfbServer x_;
  QString doctor_;
  AppSandbox* box_ = nullptr;
};

}  // namespace

TEST_F(QuitOnDisplay, SigtermWithADoctorCommandInFlightEndsWithinTwoSeconds) {
  AppProcess& app = startOnDisplay();
  expectQuickQuit(app, [] {}, [&] { ::kill(static_cast<pid_t>(app.pid()), SIGTERM); }, "SIGTERM");
}

// A doctor that left a process in a session of its own and killed the
// process that ran it: that process ran on under init, past quit, and the
// check was stored as done ("诊断完成 exit=137"). It is a failed check now,
// and what it left is ended with it.
TEST_F(QuitOnDisplay, ADoctorThatKillsItsKeeperFailsAndLeavesNothingRunning) {
  fakeBin_.add(QStringLiteral("fake-doctor"),
               QStringLiteral("setsid sleep 1000 >/dev/null 2>&1 &\n"
                              "echo $! > \"$HOME/doctor.pid.tmp\"\n"
                              "mv \"$HOME/doctor.pid.tmp\" \"$HOME/doctor.pid\"\n"
                              "kill -9 $PPID\n"
                              "exec sleep 100\n"));
  AppProcess& app = startOnDisplay();
  const pid_t left = openSheetUntilTheDoctorRuns(app);
  ASSERT_GT(left, 0);
  const auto failedCheck = [&] {
    for (const QJsonObject& event : storedEvents(QStringLiteral("fake")))
      if (event.value(QStringLiteral("key")).toString() == QStringLiteral("evDetailDoctorKeeperLost")) return true;
    return false;
  };
  EXPECT_TRUE(waitUntil(failedCheck, 30s)) << storedEventTypes(QStringLiteral("fake")).join(',').toStdString();
  const bool ended = waitUntil([&] { return ::kill(left, 0) != 0; }, 10s);
  EXPECT_TRUE(ended) << "what the doctor left outlived it";
  if (!ended) ::kill(left, SIGKILL);
  ::kill(static_cast<pid_t>(app.pid()), SIGTERM);
  EXPECT_TRUE(app.waitForExit(kQuitWithin));
}

TEST_F(QuitOnDisplay, CtrlQOnTheAgentSheetWithADoctorCommandInFlightEndsWithinTwoSeconds) {
  AppProcess& app = startOnDisplay();
  expectQuickQuit(
      app,
      [&] {
        // The window holding the sheet has the keyboard.
        for (const QString& id : x_.visibleWindows(QStringLiteral("Tollamere")))
          x_.run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), id});
      },
      [&] { x_.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+q")}); },
      "Ctrl+Q");
  EXPECT_TRUE(app.stdOut().contains(appLog::userQuit)) << app.stdOut().toStdString();
}
