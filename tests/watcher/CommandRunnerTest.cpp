#include "watcher/CommandRunner.h"

#include "platform/ChildProcess.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;
using tlr::CommandRunner;

namespace {

class CommandRunnerTest : public ::testing::Test {
 protected:
  static CommandRunner::Result run(const QStringList& argv) { return CommandRunner::run(argv, 30s); }

  tlr::test::TempHome home;  // the login shell reads the profile of this home
};

}  // namespace

TEST_F(CommandRunnerTest, ExitCodeAndBothStreams) {
  const auto r = run({"sh", "-c", "printf 'out\\n'; printf 'err\\n' >&2; exit 3"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.stdOut, "out\n");
  EXPECT_EQ(r.stdErr, "err\n");
  EXPECT_TRUE(r.wasRun());
  EXPECT_FALSE(r.timedOut);
}

TEST_F(CommandRunnerTest, EveryArgumentReachesTheProgramWhole) {
  const auto r = run({"printf", "%s|", "it's", "a b", "$HOME", "`x`", ""});
  EXPECT_EQ(r.stdOut, "it's|a b|$HOME|`x`||");
}

TEST_F(CommandRunnerTest, ProgramFoldersComeBeforeTheInheritedPath) {
  const QString tool = home.writeFile(".local/bin/tlr-only-here", "#!/bin/sh\necho found-in-local-bin\n");
  QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  EXPECT_EQ(run({"tlr-only-here"}).stdOut, "found-in-local-bin\n");

  const QString expectedPrefix = home.path() + "/.npm-global/bin:" + home.path() + "/.local/bin:" + home.path() +
                                 "/.cargo/bin:/usr/local/bin:/home/linuxbrew/.linuxbrew/bin:";
  const auto r = run({"sh", "-c", "printf %s \"$PATH\""});
  EXPECT_TRUE(r.stdOut.startsWith(expectedPrefix)) << r.stdOut.toStdString();
}

TEST_F(CommandRunnerTest, AnEmptyCommandIsNotRun) {
  const auto r = run({});
  EXPECT_EQ(r.exitCode, -1);
  EXPECT_FALSE(r.wasRun());
  EXPECT_EQ(r.stdOut, "");
  EXPECT_EQ(r.stdErr, "argv empty");
}

TEST_F(CommandRunnerTest, ACommandPastItsDeadlineIsStopped) {
  QElapsedTimer timer;
  timer.start();
  const auto r = CommandRunner::run({"sh", "-c", "echo begun; exec sleep 30"}, 300ms);
  EXPECT_LT(timer.elapsed(), 10000);
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.exitCode, 128 + SIGTERM);
  EXPECT_EQ(r.stdOut, "begun\n");
  EXPECT_EQ(r.stdErr, "");
  EXPECT_EQ(r.limitSeconds(), 1) << "said in whole seconds, rounded up";
}

TEST_F(CommandRunnerTest, ABackgroundChildHoldingThePipesDoesNotHoldUpTheRunner) {
  QElapsedTimer timer;
  timer.start();
  const auto r = run({"sh", "-c", "sleep 30 & echo $!"});
  EXPECT_LT(timer.elapsed(), 10000);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_FALSE(r.timedOut);
  const pid_t grandchild = r.stdOut.trimmed().toInt();
  ASSERT_GT(grandchild, 0);
  ::kill(grandchild, SIGKILL);
}

TEST_F(CommandRunnerTest, AnyBytesDecodeWithoutLoss) {
  const auto r = run({"printf", "a\\377b\\000c"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.stdOut, QString("a") + QChar(0xFFFD) + "b" + QChar(0) + "c");
}
