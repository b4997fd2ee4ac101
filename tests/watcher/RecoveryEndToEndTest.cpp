// The whole road of an agent exit with real processes: a stand-in agent
// under a unique name, started through a fake terminal that really runs its
// command, watched through the exit watcher, killed, and brought back (or
// not) by the lifecycle watcher, driven by a scan loop like the
// application's.
#include "watcher/AgentLifecycleWatcher.h"

#include "RecoverTestSupport.h"
#include "core/stores/DoctorResultStore.h"
#include "core/stores/LockOnlineStore.h"
#include "core/system/OomKillWitness.h"
#include "platform/Defaults.h"
#include "platform/ProcessSignals.h"
#include "support/SpawnedChild.h"
#include "watcher/SignalledPids.h"

#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <mutex>
#include <optional>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace tlr {
namespace {

using namespace std::chrono_literals;

// Standard output into a pipe that a thread of the test reads, so that a line
// can be waited for while this thread stays away from its event loop.
class LiveStdout {
 public:
  LiveStdout() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    read_ = fds[0];
    saved_ = ::dup(STDOUT_FILENO);
    ::dup2(fds[1], STDOUT_FILENO);
    ::close(fds[1]);
    reader_ = std::thread([this] {
      char chunk[4096];
      while (!stop_) {
        pollfd p{read_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const ssize_t n = ::read(read_, chunk, sizeof chunk);
        if (n <= 0) break;
        std::lock_guard lock(mutex_);
        text_.append(chunk, n);
        arrived_.notify_all();
      }
    });
  }
  ~LiveStdout() {
    if (saved_ >= 0) ::dup2(saved_, STDOUT_FILENO);
    if (saved_ >= 0) ::close(saved_);
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    if (read_ >= 0) ::close(read_);
  }
  bool waitFor(const QByteArray& part, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return text_.contains(part); });
  }
  QByteArray text() {
    std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  int read_ = -1;
  int saved_ = -1;
  std::atomic<bool> stop_{false};
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  QByteArray text_;
};

class RecoveryEndToEnd : public ::testing::Test, protected test::IsolatedStores {
 protected:
  void SetUp() override {
    if (!KqueueProcessWatcher::hasPidfdExitInfo())
      GTEST_SKIP() << "this kernel gives no exit status of a process that is not our child (pidfd exit info)";
    test::addFakeTerminal(bin, true);
  }

  void TearDown() override {
    scanLoop.stop();
    watcher.reset();
    test::finishOffMainWork();
    // A terminal may still be starting the last relaunch: sweep until none
    // of our agents has been seen for a while.
    int quietRounds = 0;
    test::waitUntil(
        [&] {
          if (!scanner) return true;
          const QList<RunningAgent> left = scanner->scanAll();
          for (const RunningAgent& r : left) ProcessSignals::send(r.pid, SIGKILL);
          quietRounds = left.isEmpty() ? quietRounds + 1 : 0;
          return quietRounds >= 10;
        },
        5s);
  }

  // One agent "e2e" whose relaunch command runs the stand-in with `mode`.
  void make(const QString& mode) {
    const QString name = test::uniqueAgentName("tlr-e2e-agent");
    program = test::copyFakeAgent(home.path() + "/bin", name);
    registry = test::registryFromJson(
        R"({"schemaVersion":1,"updatedAt":"x","agents":[{"id":"e2e","displayName":"E2E","vendor":"v",)"
        R"("kind":"cli","identify":{"executableNames":[")" +
        name.toUtf8() + R"("]},"recover":{"strategy":"exec-cli","command":[")" + program.toUtf8() + R"(",")" +
        mode.toUtf8() + R"("]}}]})");
    entry = *registry->lookup("e2e");
    scanner = std::make_shared<ProcessScanner>(registry);
    recover = std::make_shared<AgentRecover>(AgentRecoverTiming{300ms, 50ms, 1800}, signalled);

    // The system's classifier over a kernel count of out-of-memory kills
    // that the test raises.
    countOomKills(0);
    AgentLifecycleWatcher::Services s = services({});
    s.oom = std::make_shared<OomKillWitness>(OomKillCount::Paths{home.path() + "/vmstat", "/proc", home.path() + "/none"});
    s.classify = AgentLifecycleWatcher::Services::systemClassifier(s.oom);
    LifecycleTiming timing{300ms, 60.0, 2};
    timing.relaunchSettle = 1500ms;
    watcher = std::make_unique<AgentLifecycleWatcher>(registry, recover, s, timing);
    watcher->setScanner(scanner);
    watcher->start();
    ASSERT_TRUE(watcher->hasExitWatcher());

    QObject::connect(&scanLoop, &QTimer::timeout, [this] {
      QList<RunningAgent> topLevel;
      for (const RunningAgent& r : scanner->scan())
        if (!r.parentAgentId) topLevel << r;
      watcher->tick(topLevel);
    });
    scanLoop.start(100);
  }

  void countOomKills(int n) { home.writeFile("vmstat", "oom_kill " + QByteArray::number(n) + "\n"); }

  // Starts the agent by hand, as the user did before it crashed.
  pid_t startByHand() {
    byHand.emplace(program, QStringList{});
    return waitForNewWatchedPid();
  }

  // Starts the agent the way a relaunch does, through the terminal.
  void launch() {
    std::future<AgentRecover::Result> done = std::async(std::launch::async, [&] { return recover->recoverExecCli(entry); });
    ASSERT_TRUE(test::waitUntil([&] { return done.wait_for(0s) == std::future_status::ready; }));
    ASSERT_TRUE(done.get().isLaunched());
  }

  // The pid of a watched process of the agent other than `previous`.
  pid_t waitForNewWatchedPid(pid_t previous = 0) {
    pid_t found = 0;
    test::waitUntil(
        [&] {
          for (auto it = watcher->watchedPids().cbegin(); it != watcher->watchedPids().cend(); ++it)
            if (it.value() == "e2e" && it.key() != previous) found = it.key();
          return found != 0;
        },
        5s);
    return found;
  }

  QStringList types() const { return eventTypes("e2e"); }
  bool waitForCount(const QString& type, int count) {
    return test::waitUntil([&] { return types().count(type) == count; }, 5s);
  }
  int relaunches() const {
    return test::readFile(bin.recordPath("x-terminal-emulator")).count('\n') - 1;  // less our own launch
  }
  // Long enough for a relaunch that should not happen to have shown itself.
  void settle() { test::waitUntil([] { return false; }, 1s); }

  std::shared_ptr<const AgentRegistry> registry;
  QString program;
  std::optional<test::SpawnedChild> byHand;
  AgentEntry entry;
  std::shared_ptr<ProcessScanner> scanner;
  std::shared_ptr<AgentRecover> recover;
  std::unique_ptr<AgentLifecycleWatcher> watcher;
  QTimer scanLoop;
};

TEST_F(RecoveryEndToEnd, CrashesAreRecoveredUntilTheThirdWithinAMinute) {
  make("plain");
  launch();
  pid_t pid = waitForNewWatchedPid();
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(waitForCount("started", 1));

  for (int crash = 1; crash <= 2; ++crash) {
    ASSERT_EQ(ProcessSignals::send(pid, SIGSEGV), 0);
    ASSERT_TRUE(waitForCount("recovered", crash)) << types().join(",").toStdString();
    const pid_t next = waitForNewWatchedPid(pid);
    ASSERT_GT(next, 0) << "the relaunched agent runs and is watched";
    const QList<AgentEvent> recent = events.recentEvents("e2e", 50);
    const auto recovered = std::find_if(recent.begin(), recent.end(),
                                        [](const AgentEvent& e) { return e.type == AgentEventType::recovered; });
    ASSERT_NE(recovered, recent.end());
    EXPECT_EQ(recovered->details, QStringLiteral("pid=%1").arg(next)) << "the relaunch names the pid the scan found";
    pid = next;
  }
  EXPECT_EQ(types().count("exitedAbnormal"), 2);

  ASSERT_EQ(ProcessSignals::send(pid, SIGSEGV), 0);
  ASSERT_TRUE(waitForCount("throttled", 1)) << types().join(",").toStdString();
  EXPECT_TRUE(watcher->isThrottled("e2e"));
  settle();
  EXPECT_EQ(relaunches(), 2);
  EXPECT_TRUE(scanner->scan().isEmpty());
  EXPECT_EQ(types().count("exitedAbnormal"), 3);
  EXPECT_EQ(types().last(), "throttled");

  // Started again by other means: free again.
  launch();
  EXPECT_GT(waitForNewWatchedPid(pid), 0);
  EXPECT_TRUE(waitForCount("restarted", 1));
  EXPECT_FALSE(watcher->isThrottled("e2e"));
}

// The exit's line waited for the window thread, and in a storm of crashes
// that thread was busy recording the ones before: 13 lines came together,
// up to 454 ms late. It is written the moment the exit is known, however
// long the window thread is held.
TEST_F(RecoveryEndToEnd, TheExitLineIsWrittenWhileTheWindowThreadIsHeld) {
  make("plain");
  launch();
  const pid_t pid = waitForNewWatchedPid();
  ASSERT_GT(pid, 0);
  {
    LiveStdout out;
    ASSERT_EQ(ProcessSignals::send(pid, SIGSEGV), 0);
    // This thread does not return to its event loop meanwhile.
    EXPECT_TRUE(out.waitFor("[Exit] E2E pid=" + QByteArray::number(pid) + " intent=crash signal=11 exit=0\n", 10s))
        << out.text().toStdString();
    EXPECT_FALSE(types().contains("exitedAbnormal")) << "recorded on the window thread, later";
  }
  // The rest follows there.
  EXPECT_TRUE(waitForCount("exitedAbnormal", 1)) << types().join(",").toStdString();
  EXPECT_TRUE(waitForCount("recovered", 1)) << types().join(",").toStdString();
}

TEST_F(RecoveryEndToEnd, ARelaunchThatEndsAtOnceOpensOneTerminalAndOnlyAnExitsCounts) {
  Defaults::shared().set("TLR.language", "en");
  make("exits-soon");  // every relaunch ends 0.7 s after it starts
  const auto terminals = [&] { return test::readFile(bin.recordPath("x-terminal-emulator")).count('\n'); };

  // Locked online by the user: started once, gone at once, said so; not
  // tried again and not counted.
  watcher->recoverOnDemand(entry);
  ASSERT_TRUE(waitForCount("exitedAbnormal", 1)) << types().join(",").toStdString();
  EXPECT_EQ(events.lastEvent("e2e")->details, "Recovery failed: relaunched, but not running 2 s later");

  // A crash: one relaunch, which fails and counts; nothing more opens.
  pid_t pid = startByHand();
  ASSERT_GT(pid, 0);
  ASSERT_EQ(ProcessSignals::send(pid, SIGSEGV), 0);
  ASSERT_TRUE(waitForCount("exitedAbnormal", 3)) << types().join(",").toStdString();
  settle();
  EXPECT_EQ(terminals(), 2);
  EXPECT_FALSE(watcher->isThrottled("e2e"));

  // The next crash is the third decision within the window: throttled at
  // once, without a terminal.
  byHand.reset();
  pid = startByHand();
  ASSERT_GT(pid, 0);
  ASSERT_EQ(ProcessSignals::send(pid, SIGSEGV), 0);
  ASSERT_TRUE(waitForCount("throttled", 1)) << types().join(",").toStdString();
  // A throttled agent locked online is not started.
  watcher->recoverOnDemand(entry);
  settle();
  EXPECT_EQ(types(), (QStringList{"exitedAbnormal", "started", "exitedAbnormal", "exitedAbnormal", "started",
                                  "exitedAbnormal", "throttled"}));
  EXPECT_FALSE(types().contains("recovered"));
  EXPECT_EQ(terminals(), 2);
}

TEST_F(RecoveryEndToEnd, ANormalExitComesBackOnlyWhenLockedOnline) {
  make("usr1-exits");
  launch();
  const pid_t first = waitForNewWatchedPid();
  ASSERT_GT(first, 0);
  ASSERT_TRUE(test::waitUntilCatching(first, SIGUSR1));
  ASSERT_EQ(ProcessSignals::send(first, SIGUSR1), 0);  // exits with status 0
  ASSERT_TRUE(waitForCount("exitedNormal", 1)) << types().join(",").toStdString();
  settle();
  EXPECT_EQ(relaunches(), 0);
  EXPECT_TRUE(scanner->scan().isEmpty());

  lockOnline.setLocked("e2e", true);
  launch();
  const pid_t second = waitForNewWatchedPid(first);
  ASSERT_GT(second, 0);
  ASSERT_TRUE(test::waitUntilCatching(second, SIGUSR1));
  ASSERT_EQ(ProcessSignals::send(second, SIGUSR1), 0);
  ASSERT_TRUE(waitForCount("recovered", 1)) << types().join(",").toStdString();
  EXPECT_EQ(types().count("exitedNormal"), 2);
  EXPECT_GT(waitForNewWatchedPid(second), 0);
  EXPECT_EQ(relaunches(), 2);  // our second launch and the recovery
}

TEST_F(RecoveryEndToEnd, AStopByTollamereOrAForeignSigkillIsNotUndoneButAKernelOomKillIs) {
  make("ignore-term");  // only the stop's SIGKILL ends it
  launch();
  const pid_t first = waitForNewWatchedPid();
  ASSERT_GT(first, 0);
  ASSERT_TRUE(test::waitUntilIgnoring(first, SIGTERM));

  std::future<AgentRecover::Result> stopped =
      std::async(std::launch::async, [&] { return recover->stopAgent(entry, *scanner); });
  ASSERT_TRUE(test::waitUntil([&] { return stopped.wait_for(0s) == std::future_status::ready; }));
  EXPECT_EQ(stopped.get(), AgentRecover::Result::launched(0));
  ASSERT_TRUE(waitForCount("exitedNormal", 1)) << types().join(",").toStdString();
  settle();
  EXPECT_EQ(relaunches(), 0);
  EXPECT_FALSE(types().contains("killedByOOM"));

  // The same signal from someone else: a forced kill of an agent that is
  // not locked online, left alone.
  launch();
  const pid_t second = waitForNewWatchedPid(first);
  ASSERT_GT(second, 0);
  ASSERT_EQ(ProcessSignals::send(second, SIGKILL), 0);
  ASSERT_TRUE(waitForCount("exitedNormal", 2)) << types().join(",").toStdString();
  settle();
  EXPECT_EQ(relaunches(), 1);  // our own launch
  EXPECT_FALSE(types().contains("killedByOOM"));

  // A kill the kernel counted as out of memory while it was watched.
  launch();
  const pid_t third = waitForNewWatchedPid(second);
  ASSERT_GT(third, 0);
  countOomKills(1);
  ASSERT_EQ(ProcessSignals::send(third, SIGKILL), 0);
  ASSERT_TRUE(waitForCount("oomRecovered", 1)) << types().join(",").toStdString();
  EXPECT_EQ(types().count("killedByOOM"), 1);
}

// A scan runs apart from the exit watch, so its result can be older than
// an exit on either side of it. One that no longer lists an agent killed a
// moment ago, handled before the exit notice, takes nothing the exit needs
// (here the kernel's out-of-memory count noted at the watch). One taken
// before an exit and handled after it does not bring the ended agent back
// to life in the history.
TEST_F(RecoveryEndToEnd, AScanOlderThanAnExitNeitherLosesNorRevivesIt) {
  make("plain");
  const auto topLevelScan = [&] {
    QList<RunningAgent> topLevel;
    for (const RunningAgent& r : scanner->scan())
      if (!r.parentAgentId) topLevel << r;
    return topLevel;
  };
  launch();
  const pid_t first = waitForNewWatchedPid();
  ASSERT_GT(first, 0);
  scanLoop.stop();
  const QList<RunningAgent> sawItRunning = topLevelScan();
  ASSERT_EQ(sawItRunning.size(), 1);
  ASSERT_EQ(ProcessSignals::send(first, SIGKILL), 0);
  ASSERT_TRUE(waitForCount("exitedNormal", 1)) << types().join(",").toStdString();
  watcher->tick(sawItRunning);
  EXPECT_EQ(types().join(",").toStdString(), "started,exitedNormal");
  EXPECT_FALSE(watcher->watchedPids().contains(first));

  scanLoop.start(100);
  launch();
  const pid_t second = waitForNewWatchedPid(first);
  ASSERT_GT(second, 0);
  scanLoop.stop();
  countOomKills(1);
  ASSERT_EQ(ProcessSignals::send(second, SIGKILL), 0);
  // Ended, and the scan that misses it handled first: no Qt event (the exit
  // notice among them) is delivered until the scan has been.
  const auto ended = [second] {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(second));
    if (!stat.open(QIODevice::ReadOnly)) return true;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 || line.mid(close + 2, 1) == "Z";
  };
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!ended() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
  ASSERT_TRUE(ended());
  watcher->tick({});
  scanLoop.start(100);
  ASSERT_TRUE(waitForCount("oomRecovered", 1)) << types().join(",").toStdString();
  EXPECT_EQ(types().count("killedByOOM"), 1);
}

}  // namespace
}  // namespace tlr
