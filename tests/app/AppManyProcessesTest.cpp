// An agent of more than a thousand processes, each of which the application
// watches with a descriptor of its own, under a session's usual limit of
// 1,024 open files.
#include "support/AppFixture.h"
#include "support/RegistryJson.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <csignal>
#include <string_view>
#include <sys/resource.h>
#include <unistd.h>

using namespace tlr;
using namespace tlr::test;
using namespace std::chrono_literals;

namespace {

rlim_t hardLimit() {
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  return limit.rlim_max;
}

// The soft limit of open files process `pid` runs under now; 0 when it
// cannot be read.
rlim_t openFileLimitOf(pid_t pid) {
  rlimit limit{};
  return ::prlimit(pid, RLIMIT_NOFILE, nullptr, &limit) == 0 ? limit.rlim_cur : 0;
}

// How many processes `pid` watches: the process descriptors it holds open.
int watchedProcesses(qint64 pid) {
  int count = 0;
  const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
  for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
    char target[64];
    const ssize_t n = ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), target, sizeof target);
    count += n > 0 && std::string_view(target, static_cast<size_t>(n)) == "anon_inode:[pidfd]";
  }
  return count;
}

}  // namespace

class ManyProcesses : public AppFixture {
 protected:
  ~ManyProcesses() override { killAll(); }

  // Starts `count` processes known by `name_` (a link to sleep, so each is
  // small), not children of the test, as a user's agent is not. False when
  // not all of them started.
  bool startProcesses(int count) {
    const QString program = home_.path() + QStringLiteral("/bin/") + name_;
    QDir().mkpath(home_.path() + QStringLiteral("/bin"));
    if (!QFile::link(QStringLiteral("/bin/sleep"), program)) return false;
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("i=0; while [ $i -lt %1 ]; do \"$0\" 600 </dev/null >/dev/null 2>&1 & echo $!; "
                                "i=$((i+1)); done")
                     .arg(count),
                 program});
    if (!shell.waitForFinished(60000)) return false;
    for (const QByteArray& line : shell.readAllStandardOutput().split('\n')) {
      if (!line.isEmpty()) pids_ << static_cast<pid_t>(line.toInt());
    }
    return pids_.size() == count;
  }

  // Once: after that their numbers are free for other processes.
  void killAll() {
    for (pid_t pid : pids_) ::kill(pid, SIGKILL);
    pids_.clear();
  }

  static qsizetype exitLines(const QString& out) { return out.count(QStringLiteral("[Exit] Fake Agent pid=")); }

  QString name_ = uniqueAgentName(QStringLiteral("tlr-many"));
  QList<pid_t> pids_;
};

// With 1,024 descriptors the watcher failed for about a hundred of them
// ("errno=24 — Agent 可能不存在") and their exits were lost.
TEST_F(ManyProcesses, EveryExitOfMoreThanAThousandProcessesIsReported) {
  constexpr int kCount = 1100;
  if (hardLimit() < 4096) GTEST_SKIP() << "the hard limit of open files is too low to raise";
  ASSERT_TRUE(startProcesses(kCount));
  AppSandbox& box = sandbox(oneAgentDocument(name_));
  AppProcess& app = process(box);
  app.setOpenFileLimit(1024, hardLimit());
  ASSERT_TRUE(app.start());
  // A process killed before its watch is gone before it, which is not what
  // is tested here: all of them are watched first.
  ASSERT_TRUE(waitUntil([&] { return watchedProcesses(app.pid()) >= kCount; }, 90s))
      << watchedProcesses(app.pid()) << " of " << kCount << " watched\n"
      << app.stdOut().toStdString();
  // It raised its own limit of open files to the hard one.
  EXPECT_EQ(openFileLimitOf(static_cast<pid_t>(app.pid())), hardLimit());

  killAll();
  EXPECT_TRUE(waitUntil([&] { return exitLines(app.stdOut()) == kCount; }, 120s))
      << exitLines(app.stdOut()) << " exits of " << kCount;
  EXPECT_FALSE(app.stdOut().contains(QStringLiteral("[Kqueue] watch pid="))) << app.stdOut().toStdString();
}

// When even the hard limit is low, the watcher leaves descriptors for the
// rest: the bring-forward channel and the stores keep working, and the log
// names the real cause.
TEST_F(ManyProcesses, ALowHardLimitLeavesTheChannelAndTheStoresWorking) {
  constexpr int kCount = 600;
  ASSERT_TRUE(startProcesses(kCount));
  AppSandbox& box = sandbox(oneAgentDocument(name_));
  AppProcess& app = process(box);
  app.setOpenFileLimit(512, 512);
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(app.waitForStdout(appLog::scanSummaryEnd(kCount, QStringLiteral("Fake Agent")), 30s)) << app.stdOut().toStdString();
  ASSERT_TRUE(app.waitForStdout(appLog::descriptorsShort(512)));
  EXPECT_EQ(app.stdOut().count(appLog::descriptorsShort(512)), 1) << "said once, not for every process";
  EXPECT_EQ(app.stdOut().count(QStringLiteral("[Kqueue] watch pid=")), 1) << "no other watch failed";

  AppProcess& second = process(box);
  ASSERT_TRUE(second.start());
  ASSERT_TRUE(second.waitForExit());
  EXPECT_TRUE(app.waitForStdout(appLog::broughtForward)) << app.stdOut().toStdString();

  // The exits of the watched ones are recorded in the event store.
  killAll();
  ASSERT_TRUE(waitUntil([&] { return exitLines(app.stdOut()) >= 200; }, 60s)) << exitLines(app.stdOut());
  // A kill the kernel did not count as out of memory is a forced kill.
  EXPECT_TRUE(waitUntil([&] {
    return storedEventTypes(QStringLiteral("fake")).contains(QStringLiteral("exitedNormal"));
  })) << app.stdOut().toStdString();
  EXPECT_TRUE(app.isRunning());
}
