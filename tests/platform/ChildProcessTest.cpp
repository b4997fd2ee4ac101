#include "platform/ChildProcess.h"
#include "platform/DiskImage.h"
#include "platform/OpenFileLimit.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <thread>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using tlr::ChildSpec;
using tlr::runChild;

namespace {

ChildSpec shell(const QString& script) {
  ChildSpec spec;
  spec.program = "/bin/sh";
  spec.arguments = {"-c", script};
  return spec;
}

bool processAlive(pid_t pid) { return ::kill(pid, 0) == 0; }

void writeFile(const QString& path, const QByteArray& content) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(content);
}

}  // namespace

TEST(ChildProcessOutcome, ExitCodeAndBothStreamsAreCaptured) {
  const auto r = runChild(shell("printf out; printf err >&2; exit 3"));
  ASSERT_TRUE(r.started);
  EXPECT_TRUE(r.exited());
  EXPECT_EQ(r.exitCode(), 3);
  EXPECT_EQ(r.out, "out");
  EXPECT_EQ(r.err, "err");
  EXPECT_FALSE(r.timedOut);
}

TEST(ChildProcessOutcome, ASignalIsReportedAsTheSignal) {
  const auto r = runChild(shell("kill -SEGV $$"));
  ASSERT_TRUE(r.started);
  EXPECT_FALSE(r.exited());
  EXPECT_EQ(r.termSignal(), SIGSEGV);
  EXPECT_FALSE(r.timedOut);
}

TEST(ChildProcessOutcome, AMissingProgramIsAStartError) {
  ChildSpec spec;
  spec.program = "tlr-no-such-program-anywhere";
  const auto r = runChild(spec);
  EXPECT_FALSE(r.started);
  EXPECT_EQ(r.startError, "No such file or directory");
}

TEST(ChildProcessOutcome, LargeOutputOnBothStreamsDoesNotDeadlock) {
  const auto r = runChild(shell("head -c 3000000 /dev/zero; head -c 2000000 /dev/zero >&2"));
  EXPECT_EQ(r.out.size(), 3000000);
  EXPECT_EQ(r.err.size(), 2000000);
}

TEST(ChildProcessInput, StandardInputIsDevNullUnlessGiven) {
  EXPECT_EQ(runChild(shell("cat; echo end")).out, "end\n");
  auto spec = shell("cat");
  spec.input = QByteArray("secret\n");
  EXPECT_EQ(runChild(spec).out, "secret\n");
}

TEST(ChildProcessInput, EnvironmentAndWorkingDirectoryAreApplied) {
  QTemporaryDir dir;
  auto spec = shell("printf '%s|%s' \"$TLR_X\" \"$(pwd -P)\"");
  spec.environment = QStringList{"TLR_X=42", "PATH=/usr/bin:/bin"};
  spec.workingDirectory = dir.path();
  EXPECT_EQ(runChild(spec).out, "42|" + QDir(dir.path()).canonicalPath().toUtf8());
}

TEST(ChildProcessInput, ProgramsAreFoundOnTheGivenPath) {
  tlr::test::FakeBin bin;
  bin.add("tlr-fake-tool", "echo fake \"$1\"");
  ChildSpec spec;
  spec.program = "tlr-fake-tool";
  spec.arguments = {"a b"};
  spec.environment = QStringList{"PATH=" + bin.path()};
  EXPECT_EQ(runChild(spec).out, "fake a b\n");
}

TEST(ChildProcessDeadline, ATimedOutChildIsTerminated) {
  auto spec = shell("sleep 30");
  spec.timeout = 200ms;
  const auto r = runChild(spec);
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.termSignal(), SIGTERM);
  EXPECT_LT(r.elapsedSeconds, 5);
}

TEST(ChildProcessDeadline, AChildIgnoringSigtermIsKilledAfterTheGrace) {
  auto spec = shell("trap '' TERM; echo ready; while :; do sleep 0.05; done");
  spec.timeout = 200ms;
  spec.killGrace = 300ms;
  const auto r = runChild(spec);
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.termSignal(), SIGKILL);
  EXPECT_EQ(r.out, "ready\n");
}

// A stop ends what runs now, on any thread. After it, work that missed it
// by a moment begins no tool (an image is neither made nor attached), while
// stopped work still winds down with tools of its own (a detach). The stop
// holds for the rest of this process, for children marked as work only.
TEST(ChildProcessDeadline, AStopEndsTheChildrenRunningNowButNotLaterOnes) {
  tlr::test::FakeBin fakes;
  fakes.addRecorder("gocryptfs");
  fakes.addRecorder("fusermount3");
  QTemporaryDir dir;
  const QString started = dir.path() + "/started";
  tlr::ChildResult running;
  std::thread worker([&] {
    ChildSpec spec = shell(": > '" + started + "'; exec sleep 60");
    spec.timeout = 120s;
    running = runChild(spec);
  });
  ASSERT_TRUE(tlr::test::waitUntil([&] { return QFileInfo::exists(started); }, 10s));
  tlr::stopRunningChildren();
  worker.join();
  EXPECT_TRUE(running.cancelled);
  EXPECT_EQ(running.termSignal(), SIGTERM);
  EXPECT_LT(running.elapsedSeconds, 30.0) << "ended at the stop, not at its own end";
  const tlr::ChildResult after = runChild(shell("exit 3"));
  EXPECT_FALSE(after.cancelled);
  ASSERT_TRUE(after.exited());
  EXPECT_EQ(after.exitCode(), 3);

  const QString begun = dir.path() + "/begun";
  ChildSpec work = shell(": > '" + begun + "'");
  work.refusedOnceStopped = true;
  const tlr::ChildResult refused = runChild(work);
  EXPECT_TRUE(refused.cancelled);
  EXPECT_FALSE(refused.started);
  EXPECT_FALSE(QFileInfo::exists(begun));
  QDir().mkpath(dir.path() + "/image");
  QDir().mkpath(dir.path() + "/mnt");
  for (const auto& toolResult : {tlr::DiskImage::create(dir.path() + "/image", "pw"),
                                 tlr::DiskImage::attach(dir.path() + "/image", dir.path() + "/mnt", "pw")}) {
    ASSERT_FALSE(toolResult.ok());
    EXPECT_TRUE(toolResult.error().stopped) << toolResult.error().reason.toStdString();
  }
  EXPECT_FALSE(QFileInfo::exists(fakes.recordPath("gocryptfs"))) << "gocryptfs was started after the stop";
  EXPECT_TRUE(tlr::DiskImage::detach(dir.path() + "/mnt"));
  EXPECT_TRUE(tlr::test::readFile(fakes.recordPath("fusermount3")).contains("-u\n")) << "the detach still runs";
}

TEST(ChildProcessDeadline, ABackgroundGrandchildHoldingThePipesDoesNotHang) {
  QTemporaryDir dir;
  const QString pidFile = dir.filePath("grandchild.pid");
  auto spec = shell(QStringLiteral("sleep 30 & echo $! > '%1'; echo done").arg(pidFile));
  spec.timeout = 20s;
  const auto r = runChild(spec);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode(), 0);
  EXPECT_EQ(r.out, "done\n");
  EXPECT_LT(r.elapsedSeconds, 5);
  const pid_t grandchild = tlr::test::readFile(pidFile).trimmed().toInt();
  ASSERT_GT(grandchild, 0);
  ::kill(grandchild, SIGKILL);
}

TEST(ChildProcessDetached, ADetachedProgramOutlivesItsStarterAndStartsItsLogAfresh) {
  QTemporaryDir dir;
  const QString log = dir.filePath("service.log");
  ASSERT_NO_FATAL_FAILURE(writeFile(log, "before\n"));

  auto spec = shell("echo started; read line; echo \"stdin:$line\"; exec sleep 30");
  const auto started = tlr::spawnDetached(spec, log);
  ASSERT_TRUE(started) << started.error().toStdString();
  EXPECT_TRUE(tlr::test::waitUntil([&] { return tlr::test::readFile(log).contains("stdin:"); }));
  EXPECT_EQ(tlr::test::readFile(log), "started\nstdin:\n") << "the previous run's output is gone";
  EXPECT_TRUE(processAlive(started.value()));
  EXPECT_NE(::getsid(started.value()), ::getsid(0)) << "runs in a session of its own";
  ::kill(started.value(), SIGKILL);
}

// Whatever stands where the log goes is replaced by a file of our own, never
// written through: a link left there once made every later start fail.
TEST(ChildProcessDetached, APlantedLogIsReplacedNeverWrittenThrough) {
  QTemporaryDir dir;
  const QString victim = dir.filePath("victim");
  ASSERT_NO_FATAL_FAILURE(writeFile(victim, "keep\n"));
  const auto spec = shell("echo written");
  const QString link = dir.filePath("link.log");
  ASSERT_TRUE(QFile::link(victim, link));
  // A FIFO with no reader would hold the start forever.
  const QString fifo = dir.filePath("fifo.log");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  // Another user's file: its owner could read what the service prints.
  const QString foreign = dir.filePath("foreign.log");
  QFile::copy(victim, foreign);
  const bool chowned = ::chown(QFile::encodeName(foreign).constData(), 65534, 65534) == 0;
  for (const QString& log : {link, fifo, foreign}) {
    SCOPED_TRACE(log.toStdString());
    const auto started = tlr::spawnDetached(spec, log);
    ASSERT_TRUE(started) << started.error().toStdString();
    EXPECT_TRUE(tlr::test::waitUntil([&] { return tlr::test::readFile(log) == "written\n"; }));
    const QFileInfo info(log);
    EXPECT_TRUE(info.isFile() && !info.isSymLink());
    EXPECT_EQ(tlr::test::modeOf(log), 0600u);
    if (log != foreign || chowned) {
      EXPECT_EQ(info.ownerId(), ::geteuid());
    }
  }
  EXPECT_EQ(tlr::test::readFile(victim), "keep\n");
}

TEST(ChildProcessDetached, AMissingProgramIsReported) {
  ChildSpec spec;
  spec.program = "tlr-no-such-program-anywhere";
  const auto r = tlr::spawnDetached(spec, QString());
  EXPECT_FALSE(r);
  EXPECT_FALSE(r.error().isEmpty());
}

TEST(ChildProcessNul, ATextHoldingANulNeverStartsAProgram) {
  // execve would see each text cut at the NUL and run something else.
  const QChar nul(0);
  for (ChildSpec spec : {ChildSpec{.program = "echo", .arguments = {QStringLiteral("a") + nul + "b"}},
                         ChildSpec{.program = QStringLiteral("echo") + nul + "x"},
                         ChildSpec{.program = "echo", .environment = QStringList{QStringLiteral("A=") + nul}},
                         ChildSpec{.program = "echo", .workingDirectory = QStringLiteral("/") + nul + "x"}}) {
    const auto r = runChild(spec);
    EXPECT_FALSE(r.started);
    EXPECT_TRUE(r.startError.contains("NUL")) << r.startError.toStdString();
    EXPECT_FALSE(tlr::spawnDetached(spec, QString()).error().isEmpty());
  }
  // Nor is a log file whose name would be cut at a NUL opened.
  QTemporaryDir dir;
  const auto detached = tlr::spawnDetached(ChildSpec{.program = "true"}, dir.path() + "/log" + nul + "x");
  EXPECT_FALSE(detached);
  EXPECT_FALSE(detached.error().isEmpty());
  EXPECT_FALSE(QFileInfo::exists(dir.path() + "/log"));
}

TEST(ChildProcessSignals, ChildrenGetTheDefaultBrokenPipeWhileWeIgnoreIt) {
  // The application ignores SIGPIPE; an ignored signal would stay ignored
  // across exec, and the programs we start must die of it as usual.
  struct sigaction previous {};
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &previous), 0);
  const QString ignored = "grep '^SigIgn' /proc/self/status";
  const auto r = runChild(shell(ignored));
  QTemporaryDir dir;
  const auto detached = tlr::spawnDetached(shell(ignored), dir.filePath("log"));
  ::sigaction(SIGPIPE, &previous, nullptr);

  const auto pipeIgnored = [](const QByteArray& line) {
    const qsizetype tab = line.indexOf('\t');
    return (line.mid(tab + 1).trimmed().toULongLong(nullptr, 16) >> (SIGPIPE - 1)) & 1;
  };
  ASSERT_TRUE(r.exited()) << r.err.toStdString();
  ASSERT_TRUE(r.out.startsWith("SigIgn:"));
  EXPECT_FALSE(pipeIgnored(r.out));
  ASSERT_TRUE(detached);
  ASSERT_TRUE(tlr::test::waitUntil([&] { return tlr::test::readFile(dir.filePath("log")).contains('\n'); }));
  const QByteArray line = tlr::test::readFile(dir.filePath("log")).toUtf8();
  ASSERT_TRUE(line.startsWith("SigIgn:"));
  EXPECT_FALSE(pipeIgnored(line));
}

// The application raises its own limit of open files (each watched process
// costs one); what it starts gets the limit it was started with.
TEST(ChildProcessLimits, ChildrenGetTheOpenFileLimitTheApplicationStartedWith) {
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_max < 600) GTEST_SKIP() << "the hard limit is too low to show a change";
  const rlimit low{300, limit.rlim_max};
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  const tlr::OpenFileLimit::Change change = tlr::OpenFileLimit::raiseToHardLimit();
  EXPECT_EQ(change.before, 300u);
  EXPECT_EQ(change.after, limit.rlim_max);
  EXPECT_EQ(tlr::OpenFileLimit::current(), limit.rlim_max);

  const auto r = runChild(shell("ulimit -Sn; ulimit -Hn"));
  EXPECT_EQ(r.out, QByteArray("300\n") + QByteArray::number(qulonglong(limit.rlim_max)) + '\n');

  QTemporaryDir dir;
  const auto detached = tlr::spawnDetached(shell("ulimit -Sn"), dir.path() + "/log");
  ASSERT_TRUE(detached) << detached.error().toStdString();
  EXPECT_TRUE(tlr::test::waitUntil([&] { return tlr::test::readFile(dir.path() + "/log") == "300\n"; }));
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

namespace {

// Running and not yet a zombie.
bool stillRunning(pid_t pid) {
  const QByteArray stat = tlr::test::readFile(QStringLiteral("/proc/%1/stat").arg(pid)).toLatin1();
  const qsizetype close = stat.lastIndexOf(')');
  return close > 0 && close + 2 < stat.size() && stat.at(close + 2) != 'Z';
}

}  // namespace

// Killed while it waits for a command (a packer writing into the backup
// volume, say), the application takes the command with it.
TEST(ChildProcessOwner, ACommandWeWaitForEndsWhenWeAreKilled) {
  QTemporaryDir dir;
  const QString pidFile = dir.filePath("pid");
  const pid_t runner = ::fork();
  ASSERT_GE(runner, 0);
  if (runner == 0) {
    // What the test looks at is the grandchild, through its pid file.
    static_cast<void>(
        runChild(shell("echo $$ > '" + pidFile + ".new' && mv '" + pidFile + ".new' '" + pidFile + "' && exec sleep 60")));
    ::_exit(0);
  }
  pid_t command = 0;
  const bool started = tlr::test::waitUntil([&] {
    command = tlr::test::readFile(pidFile).trimmed().toInt();
    return command > 0;
  });
  ::kill(runner, SIGKILL);
  ::waitpid(runner, nullptr, 0);
  ASSERT_TRUE(started);
  const bool ended = tlr::test::waitUntil([&] { return !stillRunning(command); });
  if (!ended) ::kill(command, SIGKILL);
  EXPECT_TRUE(ended) << "the command outlived the process that waited for it";
}
