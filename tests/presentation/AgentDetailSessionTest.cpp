#include "presentation/DetailSessionSupport.h"

#include <QFile>

#include <memory>

using namespace tlr;
using namespace tlr::test;

namespace {

const QByteArray kCli = R"("id":"cli1","displayName":"Cli One","vendor":"open labs","kind":"cli","identify":{})";
const QByteArray kManaged = kCli + R"(,"launchdLabel":"com.example.cli1")";

AgentDoctor::Result doctorRun(double elapsed) {
  AgentDoctor::Result result;
  result.entryDisplayName = "Cli One";
  result.command = {"cli1", "doctor"};
  result.elapsedSeconds = elapsed;
  return result;
}

class AgentDetailSessionTest : public DetailStoresFixture {
 protected:
  std::unique_ptr<AgentDetailSession> open(const DashboardAgentItem& row) {
    auto session = std::make_unique<AgentDetailSession>(row, callbacks.make(), stores());
    QObject::connect(session.get(), &AgentDetailSession::changed, [this] { ++changes; });
    QObject::connect(session.get(), &AgentDetailSession::lockOffConfirmationRequested, [this] { ++questions; });
    return session;
  }
  static DashboardAgentItem managed(bool running = true) {
    DashboardAgentItem row = item(kManaged, running);
    row.isLaunchdManaged = true;
    return row;
  }

  int changes = 0;
  int questions = 0;
};

TEST_F(AgentDetailSessionTest, LaunchAndStopAreBusyUntilTheirCompletionsWhichLandOnNothingOnceGone) {
  auto session = open(item(kCli, false));
  session->launch();
  session->launch();
  EXPECT_TRUE(session->isLaunching());
  EXPECT_EQ(callbacks.count("launch"), 1) << "a second launch while busy does nothing";
  callbacks.launches.takeFirst()(false);
  EXPECT_FALSE(session->isLaunching()) << "the Bool does not matter";

  session->setItem(item(kCli, true));
  session->stop();
  session->stop();
  EXPECT_EQ(callbacks.count("stop"), 1);
  EXPECT_TRUE(session->isStopping());
  EXPECT_TRUE(lockOnline.lockedIDs().isEmpty());
  callbacks.stops.takeFirst()(true);
  EXPECT_FALSE(session->isStopping());

  session->launch();
  session->stop();
  session.reset();
  callbacks.launches.takeFirst()(true);
  callbacks.stops.takeFirst()(true);
}

TEST_F(AgentDetailSessionTest, StoppingAManagedAgentBootsItOutDropsTheLockAndStopsLaterEvenOnceGone) {
  lockOnline.setLocked("cli1", true);
  auto session = open(managed());
  session->stop();
  EXPECT_FALSE(lockOnline.isLocked("cli1")) << "no question for a stop";
  EXPECT_EQ(questions, 0);
  EXPECT_EQ(callbacks.count("stop"), 0) << "the dashboard's stop waits for the user manager";
  EXPECT_TRUE(waitUntil([&] { return readFile(bin.recordPath("systemctl")).contains("stop\ncom.example.cli1.service"); }));
  ASSERT_TRUE(waitUntil([&] { return callbacks.count("stop") == 1; }, std::chrono::seconds(5)));
  EXPECT_TRUE(session->isStopping());
  callbacks.stops.takeFirst()(true);
  EXPECT_FALSE(session->isStopping());

  session->stop();
  session.reset();
  ASSERT_TRUE(waitUntil([&] { return callbacks.count("stop") == 2; }, std::chrono::seconds(5)));
  callbacks.stops.takeFirst()(true);
}

TEST_F(AgentDetailSessionTest, TheLockTurnsOnAtOnceAndOffOnlyWhenTheUserConfirms) {
  // A stopped agent that is not locked cannot be locked here.
  auto stopped = open(item(kCli, false));
  EXPECT_FALSE(stopped->canToggleLock());
  stopped->toggleLock(true);
  EXPECT_FALSE(lockOnline.isLocked("cli1"));
  EXPECT_GT(changes, 0) << "the switch is told to show the store again";

  auto session = open(item(kCli, true));
  session->toggleLock(true);
  EXPECT_TRUE(session->isLocked());
  EXPECT_TRUE(stopped->canToggleLock()) << "every open session follows the store";

  session->toggleLock(false);
  EXPECT_EQ(questions, 1);
  EXPECT_TRUE(lockOnline.isLocked("cli1")) << "asking changes nothing";
  session->answerLockOff(false);
  EXPECT_TRUE(lockOnline.isLocked("cli1"));
  session->toggleLock(false);
  session->answerLockOff(true);
  EXPECT_FALSE(lockOnline.isLocked("cli1"));
  EXPECT_FALSE(QFile::exists(bin.recordPath("systemctl"))) << "an agent the user manager does not run is left alone";
}

TEST_F(AgentDetailSessionTest, TurningOffTheLockOfAManagedAgentDisablesItsJobWithoutWaiting) {
  // A user manager that never answers.
  bin.add("systemctl", "echo \"$@\" >> '" + bin.recordPath("systemctl") + "'\nexec /bin/sleep 30\n");
  lockOnline.setLocked("cli1", true);
  auto session = open(managed());
  session->toggleLock(false);
  session->answerLockOff(true);
  EXPECT_FALSE(lockOnline.isLocked("cli1")) << "the lock is off at once";
  EXPECT_TRUE(waitUntil([&] {
    return readFile(bin.recordPath("systemctl")).contains("--user disable com.example.cli1.service");
  }));
}

TEST_F(AgentDetailSessionTest, TheConsoleRunsInATerminalAndAFailureNamesTheCommand) {
  auto session = open(item(kCli + R"(,"tuiCommand":["cli1","tui","--x=\"a b\""])", true));
  QStringList failures;
  QObject::connect(session.get(), &AgentDetailSession::terminalOpenFailed,
                   [&](const QString& line, const QString& error) { failures << line << error; });
  session->openConsole();
  EXPECT_TRUE(waitUntil([&] { return readFile(bin.recordPath("x-terminal-emulator")).contains("cli1 tui --x=\"a b\""); }));
  EXPECT_TRUE(failures.isEmpty());

  const QByteArray savedPath = qgetenv("PATH");
  qputenv("PATH", QFile::encodeName(home.path() + "/empty-bin"));
  session->openConsole();
  EXPECT_TRUE(waitUntil([&] { return !failures.isEmpty(); }));
  qputenv("PATH", savedPath);
  ASSERT_EQ(failures.size(), 2);
  EXPECT_EQ(failures[0], "cli1 tui '--x=\"a b\"'") << "shown as a shell would read it";
  EXPECT_FALSE(failures[1].isEmpty()) << "the reason goes with it";
}

TEST_F(AgentDetailSessionTest, TheDoctorsResultIsStoredShownAndKeptEvenOnceTheSessionIsGone) {
  auto session = open(item(kCli + R"(,"doctor":{"command":["cli1","doctor"]})", true));
  ASSERT_TRUE(session->offersDoctor());
  QList<std::optional<AgentDoctor::Result>> finished;
  QObject::connect(session.get(), &AgentDetailSession::doctorFinished,
                   [&](const std::optional<AgentDoctor::Result>& r) { finished << r; });
  int banners = 0;
  QObject::connect(session.get(), &AgentDetailSession::bannerChanged, [&] { ++banners; });

  session->runDoctor();
  session->runDoctor();
  EXPECT_EQ(callbacks.count("doctor"), 1);
  EXPECT_TRUE(session->isDoctorRunning());
  callbacks.doctors.takeFirst()(doctorRun(3.0));
  EXPECT_FALSE(session->isDoctorRunning());
  ASSERT_EQ(finished.size(), 1);
  EXPECT_EQ(session->doctorResult()->elapsedSeconds, 3.0);
  EXPECT_EQ(session->storedDoctorResult()->elapsedSeconds, 3.0);
  EXPECT_GT(banners, 0) << "the banner follows the store";

  // The output's rerun goes through the dashboard; its result is shown.
  std::optional<AgentDoctor::Result> rerun;
  session->doctorRerun()([&](std::optional<AgentDoctor::Result> r) { rerun = r; });
  callbacks.doctors.takeFirst()(doctorRun(5.0));
  EXPECT_EQ(rerun->elapsedSeconds, 5.0);
  EXPECT_EQ(session->doctorResult()->elapsedSeconds, 5.0);

  // The banner brings the stored result back on show.
  EXPECT_TRUE(session->showStoredDoctorResult());
  EXPECT_EQ(session->doctorResult()->elapsedSeconds, 3.0);

  // A new check shows as checking, not as the result it will replace.
  session->runDoctor();
  EXPECT_TRUE(session->isDoctorChecking());
  session.reset();
  callbacks.doctors.takeFirst()(doctorRun(4.0));
  EXPECT_EQ(doctorResults.result("cli1")->elapsedSeconds, 4.0);
}

}  // namespace
