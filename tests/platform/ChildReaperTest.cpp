#include "platform/ChildReaper.h"

#include "platform/ChildProcess.h"
#include "platform/ProcessTable.h"
#include "support/TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tlr {
namespace {

ChildSpec shell(const QString& script) {
  ChildSpec spec;
  spec.program = "/bin/sh";
  spec.arguments = {"-c", script};
  return spec;
}

int pidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

// A child of ours that waits, given the number `wanted` (the kernel's next
// number is set just below it first; another process may take it meanwhile,
// so it is tried a few times). 0 when it could not be had.
pid_t childNumbered(pid_t wanted) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    QFile next(QStringLiteral("/proc/sys/kernel/ns_last_pid"));
    if (!next.open(QIODevice::WriteOnly) || next.write(QByteArray::number(wanted - 1)) < 0) return 0;
    next.close();
    const pid_t child = ::fork();
    if (child == 0) {
      for (;;) ::pause();
    }
    if (child == wanted) return child;
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
  }
  return 0;
}

}  // namespace

// Once this process is the subreaper of what it starts, a process whose
// parent ends below it becomes its child: reaped as it ends, no zombie left,
// and its exact status kept for the exit watcher (it used to go to init).
TEST(ChildReaper, AnOrphanThatLandsOnUsIsReapedWithItsStatusKept) {
  ASSERT_TRUE(ChildReaper::adoptOrphans());
  test::TempHome home;
  const QString file = home.path() + "/orphan";
  const QString go = home.path() + "/go";
  // The program starts one that outlives it, and ends.
  const auto started = spawnDetached(
      shell("(while [ ! -e '" + go + "' ]; do sleep 0.05; done; exit 5) & echo $! > '" + file + "'"), QString());
  ASSERT_TRUE(started) << started.error().toStdString();
  pid_t orphan = 0;
  ASSERT_TRUE(test::waitUntil([&] { return (orphan = test::readFile(file).trimmed().toInt()) > 0; }));
  ASSERT_TRUE(test::waitUntil([&] {
    const std::optional<ProcStat> stat = readProcStat(orphan);
    return stat && stat->ppid == ::getpid();
  })) << "it landed on us";
  const int pidFd = pidfdOpen(orphan);
  test::writeBytes(go, "");
  EXPECT_TRUE(test::waitUntil([&] { return !readProcStat(orphan).has_value(); })) << "reaped, no zombie left";
  const std::optional<int32_t> status = ownChildExitStatus(orphan, pidFd);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 5);
  if (pidFd >= 0) ::close(pidFd);
}

// The status kept for a child of ours answers only for that child: once its
// number is another process's, asking with that process's pidfd finds none.
TEST(ChildReaper, AKeptStatusIsNeverAnotherProcesssOfTheSameNumber) {
  const auto started = spawnDetached(shell("exit 3"), QString());
  ASSERT_TRUE(started) << started.error().toStdString();
  const pid_t gone = started.value();
  ASSERT_TRUE(test::waitUntil([&] { return ownChildExitStatus(gone, -1).has_value(); }));
  EXPECT_EQ(WEXITSTATUS(*ownChildExitStatus(gone, -1)), 3);
  if (::geteuid() != 0) GTEST_SKIP() << "choosing the next process number takes root";
  const pid_t again = childNumbered(gone);
  if (again == 0) GTEST_SKIP() << "another process took the number each time";
  const int pidFd = pidfdOpen(again);
  EXPECT_FALSE(ownChildExitStatus(gone, pidFd).has_value()) << "the number's process now runs";
  ::close(pidFd);
  ::kill(again, SIGKILL);
  ::waitpid(again, nullptr, 0);
}

}  // namespace tlr
