#include "watcher/LaunchdJobControl.h"

#include "watcher/ProcessScanner.h"

#include "RecoverTestSupport.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <optional>

using tlr::AgentEntry;
using tlr::ServiceManager::CallOutcome;
namespace Control = tlr::LaunchdJobControl;

namespace {

AgentEntry managedEntry(const QString& label) {
  AgentEntry entry;
  entry.id = "gw";
  entry.displayName = "Gateway";
  entry.launchdLabel = label;
  return entry;
}

class LaunchdJobControlTest : public ::testing::Test {
 protected:
  tlr::test::TempHome home;
  tlr::test::FakeBin bin;
  tlr::test::OnlyFakesOnPath only{bin};

  QString systemctlStartedMarker() const { return bin.path() + "/systemctl.started"; }
  // A systemctl whose user bus never answers.
  void addHangingSystemctl() {
    bin.add("systemctl", "echo \"$@\" >> '" + bin.recordPath("systemctl") + "'\n: > '" + systemctlStartedMarker() +
                             "'\nexec /bin/sleep 30\n");
  }
  int systemctlCalls() const { return tlr::test::readFile(bin.recordPath("systemctl")).count('\n'); }
};

}  // namespace

TEST_F(LaunchdJobControlTest, AHungDisableIsStoppedAtItsDeadlineWhileTheMainThreadGoesOn) {
  addHangingSystemctl();
  QObject context;
  std::optional<CallOutcome> outcome;
  ::testing::internal::CaptureStdout();
  Control::disableJob(managedEntry("com.example.gw"), &context, [&](const CallOutcome& o) { outcome = o; },
                      std::chrono::milliseconds(400));
  // The call returned while systemctl hangs: the event loop keeps turning.
  ASSERT_TRUE(tlr::test::waitUntil([&] { return QFile::exists(systemctlStartedMarker()); }));
  EXPECT_FALSE(outcome);
  ASSERT_TRUE(tlr::test::waitUntil([&] { return outcome.has_value(); }, std::chrono::seconds(8)));
  const QString out = QString::fromStdString(::testing::internal::GetCapturedStdout());
  EXPECT_TRUE(outcome->timedOut);
  EXPECT_FALSE(outcome->succeeded());
  EXPECT_TRUE(out.contains("[Detail] systemctl --user disable failed: com.example.gw.service"
                           " did not answer within 0.4 s and was stopped\n"))
      << out.toStdString();
  EXPECT_EQ(tlr::test::readFile(bin.recordPath("systemctl")), "--user disable com.example.gw.service\n");
}

TEST_F(LaunchdJobControlTest, ADisableLogsItsExitStatusAndDropsTheCachedAnswer) {
  // A user manager that runs the job and answers a disable with status 1.
  bin.provideUserManagerSocket();
  bin.add("systemctl", "echo \"$@\" >> '" + bin.recordPath("systemctl") +
                           "'\ncase \"$1 $2\" in '--user show') printf 'MainPID=77\\nActiveState=active\\n';;"
                           " *) exit 1;; esac\n");
  const QString label = "com.example.cached";
  ASSERT_TRUE(tlr::ProcessScanner::isManagedByLaunchd(label));
  ASSERT_TRUE(tlr::ProcessScanner::isManagedByLaunchd(label));
  ASSERT_EQ(systemctlCalls(), 1) << "the second answer came from the cache";

  QObject context;
  std::optional<CallOutcome> outcome;
  ::testing::internal::CaptureStdout();
  Control::disableJob(managedEntry(label), &context, [&](const CallOutcome& o) { outcome = o; });
  ASSERT_TRUE(tlr::test::waitUntil([&] { return outcome.has_value(); }));
  const QString out = QString::fromStdString(::testing::internal::GetCapturedStdout());
  EXPECT_TRUE(out.contains("[Detail] systemctl --user disable " + label + ".service → exit=1\n"))
      << out.toStdString();
  EXPECT_TRUE(tlr::ServiceManager::userTarget(label).startsWith("user/"));
  EXPECT_TRUE(tlr::ProcessScanner::isManagedByLaunchd(label));
  EXPECT_EQ(systemctlCalls(), 3) << "the cache was emptied, so launchd was asked again";
}

TEST_F(LaunchdJobControlTest, NoServiceManagerIsLoggedAsAFailureAndTheContextMayGoFirst) {
  std::optional<CallOutcome> outcome;
  ::testing::internal::CaptureStdout();
  {
    QObject context;
    Control::disableJob(managedEntry("com.example.none"), &context, [&](const CallOutcome& o) { outcome = o; });
  }
  tlr::test::finishOffMainWork();
  const QString out = QString::fromStdString(::testing::internal::GetCapturedStdout());
  EXPECT_TRUE(out.contains("[Detail] systemctl --user disable failed: systemctl not found on PATH\n")) << out.toStdString();
  EXPECT_FALSE(outcome) << "the completion of a closed window is not called";

  AgentEntry unlabelled = managedEntry("x");
  unlabelled.launchdLabel.reset();
  bool called = false;
  Control::disableJob(unlabelled, nullptr, [&](const CallOutcome&) { called = true; });
  tlr::test::finishOffMainWork();
  EXPECT_FALSE(called);
}

TEST_F(LaunchdJobControlTest, AHardStopBootsTheJobOutWithoutItsOwnCommands) {
  bin.addRecorder("systemctl");
  bin.addRecorder("xterm");
  Control::hardStop(managedEntry("com.example.stop"));
  ASSERT_TRUE(tlr::test::waitUntil([&] { return tlr::test::readFile(bin.recordPath("systemctl")).endsWith("--\n"); }));
  EXPECT_EQ(tlr::test::readFile(bin.recordPath("systemctl")), "--user\nstop\ncom.example.stop.service\n--\n");
  tlr::test::finishOffMainWork();
  EXPECT_FALSE(QFile::exists(bin.recordPath("xterm")));
}

TEST_F(LaunchdJobControlTest, AHardStopRunsTheEntrysOwnLinesInATerminalThatClosesAfterThem) {
  // A terminal that runs its shell text at once, as a real one would.
  const QString done = home.path() + "/terminal.done";
  bin.add("xterm", "shift; \"$@\"; : > '" + done + "'\n");
  bin.add("timeout", "exec /usr/bin/timeout \"$@\"\n");
  bin.addRecorder("systemctl");
  const QString ran = home.path() + "/ran";
  AgentEntry entry = managedEntry("com.example.own");
  entry.launchdUninstallCommand = QStringList{"printf '%s\\n' \"a \\\"b\\\" c\" >> '" + ran + "'", "echo $PATH >> '" + ran + "'"};
  Control::hardStop(entry);
  ASSERT_TRUE(tlr::test::waitUntil([&] { return QFile::exists(done); }));
  const QStringList lines = tlr::test::readFile(ran).split('\n');
  ASSERT_GE(lines.size(), 2);
  EXPECT_EQ(lines[0], "a \"b\" c") << "quotes reach the shell unchanged";
  EXPECT_TRUE(lines[1].startsWith(home.path() + "/.npm-global/bin:" + home.path() + "/.local/bin:"))
      << lines[1].toStdString();
  EXPECT_FALSE(QFile::exists(bin.recordPath("systemctl"))) << "the entry's own lines replace the bootout";
}
