#include "platform/KqueueProcessWatcher.h"

#include "platform/ChildProcess.h"
#include "platform/ProcessTable.h"
#include "platform/ThreadTurns.h"
#include "support/SpawnedChild.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <QCoreApplication>
#include <QThread>

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/syscall.h>
#include <sys/wait.h>

namespace tlr {
namespace {

using test::SpawnedChild;

struct Exit {
  pid_t pid;
  QString agentId;
  RawExitInfo info;
};

struct Ending {
  const char* name;
  QStringList action;  // what the process does after "go"
  int killWith;        // or: the signal the test sends instead
};

class KqueueWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    watcher = newWatcher();
    ASSERT_TRUE(watcher);
    watcher->start();
  }
  std::unique_ptr<KqueueProcessWatcher> newWatcher() {
    auto made = KqueueProcessWatcher::create();
    if (made)
      made->setOnExit([this](pid_t pid, const QString& agentId, const RawExitInfo& info) {
        exits.push_back({pid, agentId, info});
      });
    return made;
  }

  const Exit* exitOf(pid_t pid) const {
    for (const Exit& e : exits)
      if (e.pid == pid) return &e;
    return nullptr;
  }
  bool waitForExit(pid_t pid) {
    return test::waitUntil([&] { return exitOf(pid) != nullptr; }, std::chrono::seconds(5));
  }
  int countOf(pid_t pid) const {
    return static_cast<int>(std::count_if(exits.begin(), exits.end(), [&](const Exit& e) { return e.pid == pid; }));
  }

  static QString tool() { return test::toolPath("tlr_exit_tool"); }

  // `parent` runs the tool in its "spawn" or "hold" mode: it prints the pid of
  // a grandchild that does the ending's action on "go". Watches that grandchild
  // as `agentId`, ends it and returns its reported exit (null, with a failure,
  // when there was none).
  const Exit* endGrandchild(SpawnedChild& parent, const Ending& ending, const QString& agentId) {
    const pid_t grandchild = parent.readLine().toInt();
    if (grandchild <= 0) {
      ADD_FAILURE() << "no grandchild pid";
      return nullptr;
    }
    watcher->watch(grandchild, agentId);
    if (ending.killWith)
      ::kill(grandchild, ending.killWith);
    else
      parent.writeLine("go");
    if (!waitForExit(grandchild)) {
      ADD_FAILURE() << "no exit reported for " << grandchild;
      return nullptr;
    }
    return exitOf(grandchild);
  }

  std::unique_ptr<KqueueProcessWatcher> watcher;
  std::vector<Exit> exits;
};

const Ending kEndings[] = {
    {"exit3", {"exit", "3"}, 0},
    {"segv", {"segv"}, 0},
    {"kill", {"sleep"}, SIGKILL},
    {"term", {"sleep"}, SIGTERM},
};

bool sameEnding(int reported, int actual) {
  // The core-dump bit depends on the machine's core limit; the rest must match.
  return (reported & ~0x80) == (actual & ~0x80);
}

TEST_F(KqueueWatcherTest, OwnChildExitsCarryTheirWaitStatus) {
  for (const Ending& ending : kEndings) {
    SCOPED_TRACE(ending.name);
    SpawnedChild child(tool(), ending.action);
    ASSERT_TRUE(child.started());
    watcher->watch(child.pid(), "agent-" + QString::fromLatin1(ending.name));
    if (ending.killWith)
      child.signal(ending.killWith);
    else
      child.writeLine("go");
    ASSERT_TRUE(waitForExit(child.pid()));
    const int actual = child.wait();  // the watcher left the child for us to reap
    const Exit* e = exitOf(child.pid());
    EXPECT_EQ(e->agentId, "agent-" + QString::fromLatin1(ending.name));
    EXPECT_EQ(e->info.pid, child.pid());
    EXPECT_TRUE(sameEnding(e->info.exitStatus, actual)) << e->info.exitStatus << " vs " << actual;
    EXPECT_FALSE(watcher->isWatching(child.pid()));
  }
}

TEST_F(KqueueWatcherTest, GrandchildExitsCarryTheirWaitStatus) {
  if (!KqueueProcessWatcher::hasPidfdExitInfo())
    GTEST_SKIP() << "this kernel gives no exit status of processes that are not our children";
  const std::pair<Ending, int> cases[] = {{kEndings[0], 3 << 8}, {kEndings[1], SIGSEGV}, {kEndings[2], SIGKILL},
                                          {kEndings[3], SIGTERM}};
  for (const auto& [ending, expected] : cases) {
    SCOPED_TRACE(ending.name);
    SpawnedChild parent(tool(), QStringList{"spawn"} + ending.action);
    const Exit* e = endGrandchild(parent, ending, "grand");
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(sameEnding(e->info.exitStatus, expected)) << e->info.exitStatus;
    EXPECT_EQ(e->agentId, "grand");
    parent.wait();
  }
}

TEST_F(KqueueWatcherTest, ExitsOfProcessesNotYetReapedCarryTheirStatusOnEveryKernel) {
  // The parent never reaps: the status can only come from the zombie itself.
  const std::pair<Ending, int> cases[] = {{kEndings[0], 3 << 8}, {kEndings[1], SIGSEGV}, {kEndings[3], SIGTERM}};
  for (const auto& [ending, expected] : cases) {
    SCOPED_TRACE(ending.name);
    SpawnedChild parent(tool(), QStringList{"hold"} + ending.action);
    const Exit* e = endGrandchild(parent, ending, "held");
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(sameEnding(e->info.exitStatus, expected)) << e->info.exitStatus;
  }
}

// An agent of another user (started through sudo, say): the watcher can
// neither read its exit code in /proc nor signal it, so only the pidfd's exit
// information tells how it ended, and only once its parent has reaped it;
// here the parent does so half a second late.
TEST_F(KqueueWatcherTest, AnotherUsersProcessReapedLateCarriesItsWaitStatus) {
  if (!KqueueProcessWatcher::hasPidfdExitInfo())
    GTEST_SKIP() << "this kernel gives no exit status of processes that are not our children";
  if (::geteuid() != 0) GTEST_SKIP() << "the watcher is made another user's by dropping root";
  watcher = newWatcher();
  ASSERT_TRUE(watcher);
  // The watcher's thread has the credentials of the thread that starts it,
  // here those of nobody (the raw call changes that one thread only).
  bool dropped = false;
  std::thread([&] {
    dropped = ::syscall(SYS_setresuid, 65534, 65534, 65534) == 0;
    if (dropped) watcher->start();
  }).join();
  ASSERT_TRUE(dropped);
  const std::pair<Ending, int> cases[] = {{kEndings[0], 3 << 8}, {kEndings[3], SIGTERM}};
  for (const auto& [ending, expected] : cases) {
    SCOPED_TRACE(ending.name);
    SpawnedChild parent(tool(), QStringList{"late", "500"} + ending.action);
    const Exit* e = endGrandchild(parent, ending, "other");
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(sameEnding(e->info.exitStatus, expected)) << e->info.exitStatus;
    parent.wait();
  }
}

TEST_F(KqueueWatcherTest, DetachedProgramsStayOurChildrenAndAreReapedWithExactStatuses) {
  ChildSpec spec;
  spec.program = tool();
  spec.arguments = {"sleep"};
  const auto sleeper = spawnDetached(spec, QString());
  ASSERT_TRUE(sleeper) << sleeper.error().toStdString();
  EXPECT_EQ(ProcessTable::read(sleeper.value())->ppid, ::getpid()) << "one fork: our own child";
  EXPECT_EQ(::getsid(sleeper.value()), sleeper.value()) << "in a session of its own";
  watcher->watch(sleeper.value(), "detached");
  ::kill(sleeper.value(), SIGTERM);
  ASSERT_TRUE(waitForExit(sleeper.value()));
  EXPECT_EQ(exitOf(sleeper.value())->info.exitStatus, SIGTERM);
  // Reaped by us: no zombie is left behind.
  EXPECT_TRUE(test::waitUntil([&] { return !QFileInfo::exists(QStringLiteral("/proc/%1").arg(sleeper.value())); }));

  // Ended and reaped before anyone watched it: its status was kept.
  spec.arguments = {"exit", "3"};  // standard input is /dev/null: it exits at once
  const auto quick = spawnDetached(spec, QString());
  ASSERT_TRUE(quick);
  ASSERT_TRUE(test::waitUntil([&] { return !QFileInfo::exists(QStringLiteral("/proc/%1").arg(quick.value())); }));
  watcher->watch(quick.value(), "quick");
  ASSERT_TRUE(waitForExit(quick.value()));
  EXPECT_EQ(exitOf(quick.value())->info.exitStatus, 3 << 8);
}

TEST_F(KqueueWatcherTest, AKeptStatusAnswersOnlyForTheChildItWasKeptFor) {
  ChildSpec spec;
  spec.program = tool();
  spec.arguments = {"sleep"};
  const auto ours = spawnDetached(spec, QString());
  ASSERT_TRUE(ours) << ours.error().toStdString();
  const int ourFd = static_cast<int>(::syscall(SYS_pidfd_open, ours.value(), 0));
  ASSERT_GE(ourFd, 0);
  // Another process, ended and reaped by its own parent (the test): what a
  // pidfd opened under a reused number would name.
  SpawnedChild other(tool(), {"exit", "0"});
  const int otherFd = static_cast<int>(::syscall(SYS_pidfd_open, other.pid(), 0));
  ASSERT_GE(otherFd, 0);
  other.writeLine("go");
  other.wait();

  ::kill(ours.value(), SIGTERM);
  ASSERT_TRUE(test::waitUntil([&] { return !QFileInfo::exists(QStringLiteral("/proc/%1").arg(ours.value())); }));
  EXPECT_EQ(ownChildExitStatus(ours.value(), -1), SIGTERM);
  EXPECT_EQ(ownChildExitStatus(ours.value(), ourFd), SIGTERM);
  struct stat a {}, b {};
  ASSERT_EQ(::fstat(ourFd, &a), 0);
  ASSERT_EQ(::fstat(otherFd, &b), 0);
  if (a.st_ino == b.st_ino) {
    ::close(ourFd);
    ::close(otherFd);
    GTEST_SKIP() << "pidfds of this kernel do not tell processes apart";
  }
  EXPECT_EQ(ownChildExitStatus(ours.value(), otherFd), std::nullopt) << "another process's exit read as ours";
  ::close(ourFd);
  ::close(otherFd);
}

TEST_F(KqueueWatcherTest, WatchingAGoneProcessReportsItsExit) {
  SpawnedChild child(tool(), {"exit", "0"});
  child.writeLine("go");
  child.wait();
  watcher->watch(child.pid(), "gone");
  ASSERT_TRUE(waitForExit(child.pid()));
  EXPECT_EQ(exitOf(child.pid())->agentId, "gone");
  EXPECT_EQ(exitOf(child.pid())->info.exitStatus, 0);
}

TEST_F(KqueueWatcherTest, EachExitIsReportedOnceWithTheLatestAgentId) {
  SpawnedChild twice(tool(), {"sleep"});
  watcher->watch(twice.pid(), "first");
  watcher->watch(twice.pid(), "second");
  twice.signal(SIGKILL);
  ASSERT_TRUE(waitForExit(twice.pid()));
  EXPECT_EQ(exitOf(twice.pid())->agentId, "second");

  // A late watch of the same dead process (still a zombie here) is no second exit.
  watcher->watch(twice.pid(), "late");
  SpawnedChild marker(tool(), {"sleep"});
  watcher->watch(marker.pid(), "marker");
  marker.signal(SIGKILL);
  ASSERT_TRUE(waitForExit(marker.pid()));
  EXPECT_EQ(countOf(twice.pid()), 1);
}

TEST_F(KqueueWatcherTest, UnwatchedExitsAreDropped) {
  SpawnedChild dropped(tool(), {"sleep"});
  watcher->watch(dropped.pid(), "dropped");
  watcher->unwatch(dropped.pid());
  EXPECT_FALSE(watcher->isWatching(dropped.pid()));
  dropped.signal(SIGKILL);
  dropped.wait();

  SpawnedChild marker(tool(), {"sleep"});
  watcher->watch(marker.pid(), "marker");
  marker.signal(SIGKILL);
  ASSERT_TRUE(waitForExit(marker.pid()));
  EXPECT_EQ(exitOf(dropped.pid()), nullptr);
}

// A scan that no longer finds an agent lets go of its pid. A process on its
// way out is missing from scans before its exit shows: one that has died but
// whose exit the loop has not taken yet, and one whose first thread has ended
// (the scan sees a zombie) while the rest of it still runs, as every process
// is for a moment while its threads end. Its exit must still come.
TEST(KqueueUnwatch, AProcessOnItsWayOutStaysWatchedUntilItsExitIsReported) {
  struct Case {
    const char* name;
    const char* tool;
    const char* action;
    bool diesBeforeUnwatch;
  };
  for (const Case& c : {Case{"died, exit not taken yet", "tlr_exit_tool", "sleep", true},
                        Case{"first thread ended, the rest runs", "tlr_fake_agent", "thread-sleeps", false}}) {
    SCOPED_TRACE(c.name);
    auto watcher = KqueueProcessWatcher::create();
    ASSERT_TRUE(watcher);
    std::vector<Exit> exits;
    watcher->setOnExit([&](pid_t pid, const QString& agentId, const RawExitInfo& info) {
      exits.push_back({pid, agentId, info});
    });
    SpawnedChild child(test::toolPath(c.tool), {c.action});
    ASSERT_TRUE(child.started());
    watcher->watch(child.pid(), "crashed");
    if (c.diesBeforeUnwatch) {
      ASSERT_TRUE(child.signal(SIGSEGV));
      siginfo_t info{};
      ASSERT_EQ(::waitid(P_PID, child.pid(), &info, WEXITED | WNOWAIT), 0);  // dead, not reaped
    } else {
      ASSERT_TRUE(child.writeLine("end the first thread"));
      ASSERT_TRUE(test::waitUntil([&] {
        const std::optional<ProcStat> stat = readProcStat(child.pid());
        return stat && stat->state == 'Z';
      }));
    }
    EXPECT_FALSE(watcher->unwatch(child.pid()));  // the loop has not run yet: nothing has taken the exit
    EXPECT_TRUE(watcher->isWatching(child.pid()));
    watcher->start();
    if (!c.diesBeforeUnwatch) {
      ASSERT_TRUE(child.signal(SIGSEGV));
    }
    ASSERT_TRUE(test::waitUntil([&] { return !exits.empty(); }, std::chrono::seconds(5)));
    EXPECT_EQ(exits.front().pid, child.pid());
    EXPECT_EQ(exits.front().agentId, "crashed");
    EXPECT_TRUE(WIFSIGNALED(exits.front().info.exitStatus));
    EXPECT_EQ(WTERMSIG(exits.front().info.exitStatus), SIGSEGV);
  }
}

// The exit's log line must not wait for the main thread: the owner may take
// each exit, with its status, on the watcher's own thread while the main
// thread is held. A process already gone when it is watched is still
// reported on the main thread, on a later turn.
TEST(KqueueOnItsThread, ExitsAreHandedOverOnTheWatchersThreadWhileTheMainThreadIsHeld) {
  auto watcher = KqueueProcessWatcher::create();
  ASSERT_TRUE(watcher);
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<std::pair<Exit, bool>> exits;  // and whether on the main thread
  watcher->setOnExitOnItsThread([&](pid_t pid, const QString& agentId, const RawExitInfo& info) {
    std::lock_guard lock(mutex);
    exits.push_back({{pid, agentId, info}, QThread::currentThread() == QCoreApplication::instance()->thread()});
    arrived.notify_all();
  });
  watcher->start();
  SpawnedChild child(test::toolPath("tlr_exit_tool"), {"sleep"});
  ASSERT_TRUE(child.started());
  watcher->watch(child.pid(), "here");
  child.signal(SIGSEGV);
  {
    // This thread stays away from its event loop.
    std::unique_lock lock(mutex);
    ASSERT_TRUE(arrived.wait_for(lock, std::chrono::seconds(10), [&] { return !exits.empty(); }));
    EXPECT_EQ(exits[0].first.pid, child.pid());
    EXPECT_EQ(exits[0].first.agentId, "here");
    EXPECT_EQ(WTERMSIG(exits[0].first.info.exitStatus), SIGSEGV);
    EXPECT_FALSE(exits[0].second);
  }
  child.wait();

  SpawnedChild gone(test::toolPath("tlr_exit_tool"), {"exit", "0"});
  gone.writeLine("go");
  gone.wait();
  watcher->watch(gone.pid(), "gone");
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(exits.size(), 1u) << "not from within watch()";
  }
  ASSERT_TRUE(test::waitUntil([&] {
    std::lock_guard lock(mutex);
    return exits.size() == 2;
  }));
  std::lock_guard lock(mutex);
  EXPECT_EQ(exits[1].first.agentId, "gone");
  EXPECT_TRUE(exits[1].second);
}

// Turns of their own for normal threads came with Linux 6.12.
bool kernelKeepsTurns() {
  utsname u{};
  int major = 0, minor = 0;
  if (::uname(&u) != 0 || std::sscanf(u.release, "%d.%d", &major, &minor) != 2) return false;
  return major > 6 || (major == 6 && minor >= 12);
}

// Each exit is a moment's work on the watcher's thread; on a machine whose
// processors are all busy it must not wait out other threads' whole turns.
// Asking for short turns needs no privilege and leaves the niceness alone.
TEST(KqueueTurns, TheWatchersThreadRunsInShortTurnsAsAnyUserMay) {
  if (!kernelKeepsTurns()) GTEST_SKIP() << "this kernel gives normal threads no turns of their own";
  bool asked = false;
  std::chrono::microseconds turn{0};
  int nice = 0;
  std::thread([&] {
    test::AsOrdinaryUser ordinary;
    const pid_t self = static_cast<pid_t>(::syscall(SYS_gettid));
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(self), 3);
    asked = askForShortTurns(std::chrono::microseconds(200));
    turn = turnOf();
    nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(self));
  }).join();
  EXPECT_TRUE(asked);
  EXPECT_EQ(turn, std::chrono::microseconds(200));
  EXPECT_EQ(nice, 3);

  auto watcher = KqueueProcessWatcher::create();
  ASSERT_TRUE(watcher);
  watcher->start();
  int tid = 0;
  ASSERT_TRUE(test::waitUntil([&] {
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
      if (test::readFile("/proc/self/task/" + task + "/comm").trimmed() == "TLR.kqueue") tid = task.toInt();
    return tid != 0;
  }));
  // Turns the thread asked for hold; the kernel's default is about 3 ms.
  EXPECT_TRUE(test::waitUntil([&] { return turnOf(tid) <= std::chrono::milliseconds(1); }))
      << "the watcher's thread runs in turns of " << turnOf(tid).count() << " µs";
}

}  // namespace
}  // namespace tlr
