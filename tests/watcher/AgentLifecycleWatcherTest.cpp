#include "watcher/AgentLifecycleWatcher.h"

#include "RecoverTestSupport.h"
#include "core/stores/DoctorResultStore.h"
#include "core/stores/LockOnlineStore.h"
#include "core/texts/LocTexts.h"
#include "platform/Defaults.h"
#include "support/SpawnedChild.h"
#include "watcher/SignalledPids.h"

#include <QDir>

#include <gtest/gtest.h>

#include <atomic>

#include <cerrno>
#include <csignal>

namespace tlr {
namespace {

using namespace std::chrono_literals;
using Type = AgentEventType;

constexpr int32_t kSegv = SIGSEGV;
constexpr int32_t kTerm = SIGTERM;
constexpr int32_t kKill = SIGKILL;
constexpr int32_t kPipe = SIGPIPE;
constexpr int32_t exitCode(int code) { return code << 8; }

QByteArray cliAgent(const QByteArray& id, const QByteArray& extra = {}) {
  return R"({"id":")" + id + R"(","displayName":")" + id.toUpper() +
         R"(","vendor":"v","kind":"cli","identify":{"executableNames":[")" + id + R"("]})" + extra + "}";
}
QByteArray withCommand(const QByteArray& id) {
  return cliAgent(id, R"(,"recover":{"strategy":"exec-cli","command":[")" + id + R"("]})");
}

// The watcher over stores of its own, a terminal that only records, and a
// classifier told by the test whether the kernel counted an out-of-memory kill.
class LifecycleTest : public ::testing::Test, protected test::IsolatedStores {
 protected:
  void SetUp() override { test::addFakeTerminal(bin, false); }

  void make(const QList<QByteArray>& agents, LifecycleTiming timing = {200ms, 60.0, 2}) {
    registry = test::registryOfAgents(agents);
    AgentLifecycleWatcher::Services s = services([this] { return oomCounted; });
    s.runDoctor = [this](const AgentEntry& entry) { return doctor(entry); };
    s.clock = [this] { return now; };
    s.isUninstalling = [this](const QString& id) { return uninstalling.contains(id); };
    s.uninstallsBegun = [this](const QString&) { return uninstallsBegun.load(); };
    watcher = std::make_unique<AgentLifecycleWatcher>(registry, std::make_shared<AgentRecover>(), s, timing);
  }

  QStringList types(const QString& id) const { return eventTypes(id); }
  bool waitForTypes(const QString& id, const QStringList& expected) {
    return test::waitUntil([&] { return types(id) == expected; }, 5s);
  }
  // Lets queued relaunches finish, so that an absent one is truly absent.
  void settle() { test::finishOffMainWork(); }
  std::optional<QString> lastDetails(const QString& id) const { return events.lastEvent(id)->details; }

  RunningAgent running(const QString& id, pid_t pid, bool launchd = false, pid_t instance = 0,
                       const QString& folder = {}) const {
    RunningAgent r;
    r.entry = *registry->lookup(id);
    r.pid = pid;
    r.launchdManaged = launchd;
    r.instancePid = instance ? instance : pid;
    if (!folder.isEmpty()) r.workingFolder = folder;
    return r;
  }
  QString folder(const QString& name) const {
    QDir().mkpath(home.path() + "/" + name);
    return home.path() + "/" + name;
  }

  bool oomCounted = false;
  std::chrono::steady_clock::time_point now = std::chrono::steady_clock::time_point{} + 1h;
  std::function<std::optional<AgentDoctor::Result>(const AgentEntry&)> doctor = [](const AgentEntry&) {
    return std::nullopt;
  };
  QSet<QString> uninstalling;
  std::atomic<quint64> uninstallsBegun{0};
  std::shared_ptr<const AgentRegistry> registry;
  std::unique_ptr<AgentLifecycleWatcher> watcher;
};

// Pids no process has: the watcher is not started, so nothing reports them.
constexpr pid_t kPid = 1 << 30;

TEST_F(LifecycleTest, EachExitIsRecordedAndRecoveredByThePolicy) {
  struct Row {
    const char* id;
    int32_t status;
    bool oomCounted;
    bool locked;
    QStringList expected;
  };
  const QList<Row> rows{
      {"crashuninstalling", kSegv, false, false, {"exitedAbnormal"}},
      {"crash", kSegv, false, false, {"exitedAbnormal", "recovered"}},
      {"abnormal", exitCode(3), false, false, {"exitedAbnormal", "recovered"}},
      {"clean", exitCode(0), false, false, {"exitedNormal"}},
      {"cleanlocked", exitCode(0), false, true, {"exitedNormal", "recovered"}},
      {"term", kTerm, false, false, {"exitedNormal"}},
      {"termlocked", kTerm, false, true, {"exitedNormal", "recovered"}},
      {"forced", kKill, false, false, {"exitedNormal"}},
      {"forcedlocked", kKill, false, true, {"exitedAbnormal", "recovered"}},
      {"oom", kKill, true, false, {"killedByOOM", "oomRecovered"}},
      {"pipelocked", kPipe, false, true, {"exitedNormal"}},
  };
  QList<QByteArray> agents;
  for (const Row& row : rows) agents << withCommand(row.id);
  make(agents);
  for (const Row& row : rows)
    if (row.locked) lockOnline.setLocked(row.id, true);

  // Each exit is told before it is recorded.
  // Stopped by an uninstall under way: recorded, never brought back.
  uninstalling << "crashuninstalling";
  watcher->handleExit(kPid, "crashuninstalling", RawExitInfo{kPid, kSegv});
  QStringList toldBeforeRecorded;
  QObject::connect(watcher.get(), &AgentLifecycleWatcher::processExited, [&](pid_t, const QString& id) {
    if (!types(id).contains("exitedNormal") && !types(id).contains("exitedAbnormal") && !types(id).contains("killedByOOM"))
      toldBeforeRecorded << id;
  });
  pid_t pid = kPid;
  for (const Row& row : rows) {
    if (row.id == QLatin1String("crashuninstalling")) continue;
    oomCounted = row.oomCounted;
    watcher->handleExit(++pid, row.id, RawExitInfo{pid, row.status});
  }
  EXPECT_EQ(toldBeforeRecorded.size(), rows.size() - 1);
  for (const Row& row : rows) {
    QStringList expected = row.expected;
    if (row.locked) expected.prepend("lockOnlineEnabled");
    EXPECT_TRUE(waitForTypes(row.id, expected)) << row.id << ": " << types(row.id).join(",").toStdString();
  }
  settle();
  for (const Row& row : rows) EXPECT_EQ(types(row.id).size(), row.expected.size() + (row.locked ? 1 : 0)) << row.id;
  EXPECT_EQ(test::terminalTexts(bin, 6).size(), 6);
  // Where they ran is not known: each comes back in the home folder, never
  // in ours.
  EXPECT_EQ(test::terminalFolders(bin, 6), QStringList(6, home.path()));
}

TEST_F(LifecycleTest, TheExitLineNamesTheIntentSignalAndExitCode) {
  make({R"({"id":"odd","displayName":"Odd %1 %2","vendor":"v","kind":"cli","identify":{}})"});
  ::testing::internal::CaptureStdout();
  watcher->handleExit(kPid + 1, "odd", RawExitInfo{kPid + 1, kSegv | 0x80});
  watcher->handleExit(kPid + 2, "odd", RawExitInfo{kPid + 2, exitCode(3)});
  const QString out = QString::fromStdString(::testing::internal::GetCapturedStdout());
  const QString name = "[Exit] Odd %1 %2 pid=";
  EXPECT_TRUE(out.contains(name + QString::number(kPid + 1) + " intent=crash signal=11 exit=0\n")) << out.toStdString();
  EXPECT_TRUE(out.contains(name + QString::number(kPid + 2) + " intent=abnormalExit signal=nil exit=3\n"))
      << out.toStdString();
}

// Each exit's line is written the moment the exit is known, and the exit
// then goes to the window thread; in a crash storm on a busy machine other
// threads are handing over their own results, one of them preempted half
// way. The next exit's line must not wait for that thread.
TEST_F(LifecycleTest, AnExitsLineNeverWaitsForAnotherThreadsHandoff) {
  make({cliAgent("first"), cliAgent("second")});
  test::SpawnedChild first(test::toolPath("tlr_exit_tool"), {"sleep"});
  test::SpawnedChild second(test::toolPath("tlr_exit_tool"), {"sleep"});
  ASSERT_TRUE(first.started() && second.started());
  watcher->start();
  watcher->tick({running("first", first.pid()), running("second", second.pid())});
  const auto lineOf = [](const char* name, pid_t pid) { return QStringLiteral("[Exit] %1 pid=%2 ").arg(name).arg(pid); };
  const auto written = [](const QString& line) {
    return test::waitUntil([&] { return test::readFile("/proc/self/fd/1").contains(line); }, 10s);
  };
  bool firstWritten = false, secondWritten = false;
  const QByteArray out = test::capture(STDOUT_FILENO, [&] {
    test::HeldHandoff held;
    ASSERT_TRUE(held.holding());
    first.signal(SIGSEGV);
    firstWritten = written(lineOf("FIRST", first.pid()));
    second.signal(SIGSEGV);
    secondWritten = written(lineOf("SECOND", second.pid()));
  });
  EXPECT_TRUE(firstWritten) << out.toStdString();
  EXPECT_TRUE(secondWritten) << "the second exit waited for the held handoff:\n" << out.toStdString();
  // Both reach the window thread once it is free.
  EXPECT_TRUE(test::waitUntil([&] { return types("first").contains("exitedAbnormal") && types("second").contains("exitedAbnormal"); }, 10s))
      << types("first").join(",").toStdString() << " / " << types("second").join(",").toStdString();
  first.wait();
  second.wait();
}

TEST_F(LifecycleTest, AnExitAfterOurOwnSignalIsRecordedButNeverRecovered) {
  make({withCommand("mine"), withCommand("minelocked"), withCommand("asked")});
  lockOnline.setLocked("minelocked", true);
  lockOnline.setLocked("asked", true);
  oomCounted = true;  // a SIGKILL would read as out of memory

  signalled.note(kPid + 1);
  watcher->handleExit(kPid + 1, "mine", RawExitInfo{kPid + 1, kKill});
  // Locked online or not: the user's Stop is not undone.
  signalled.note(kPid + 3, SIGTERM);
  signalled.note(kPid + 3, SIGKILL);
  watcher->handleExit(kPid + 3, "minelocked", RawExitInfo{kPid + 3, kKill});
  // 143 after our SIGTERM: the agent caught it and ended as asked.
  signalled.note(kPid + 5, SIGTERM);
  watcher->handleExit(kPid + 5, "minelocked", RawExitInfo{kPid + 5, exitCode(143)});
  // A crash stays a crash, even when our kill came too late to matter.
  signalled.note(kPid + 2);
  watcher->handleExit(kPid + 2, "mine", RawExitInfo{kPid + 2, kSegv});
  settle();
  EXPECT_EQ(types("mine"), (QStringList{"exitedNormal", "exitedAbnormal"}));
  EXPECT_EQ(types("minelocked"), (QStringList{"lockOnlineEnabled", "exitedNormal", "exitedNormal"}));

  // A SIGTERM that reached nothing leaves no note: the locked agent's exit
  // is its own, and it comes back.
  ASSERT_EQ(signalled.send(kPid + 4, SIGTERM), ESRCH);
  watcher->handleExit(kPid + 4, "asked", RawExitInfo{kPid + 4, exitCode(143)});
  EXPECT_TRUE(waitForTypes("asked", {"lockOnlineEnabled", "exitedAbnormal", "recovered"}));

  // The note was used up: the same number dying again is judged afresh.
  watcher->handleExit(kPid + 1, "mine", RawExitInfo{kPid + 1, kKill});
  EXPECT_TRUE(waitForTypes("mine", {"exitedNormal", "exitedAbnormal", "killedByOOM", "oomRecovered"}));
  EXPECT_EQ(test::terminalTexts(bin, 2).size(), 2);
}

TEST_F(LifecycleTest, TheThirdRecoveryWithinTheWindowThrottlesUntilTheAgentRunsAgain) {
  make({withCommand("flaky")});
  QStringList expected;
  for (int i = 1; i <= 3; ++i) {
    now += 10s;
    watcher->handleExit(kPid + i, "flaky", RawExitInfo{kPid + i, kSegv});
    expected << "exitedAbnormal" << (i < 3 ? "recovered" : "throttled");
    EXPECT_TRUE(waitForTypes("flaky", expected)) << types("flaky").join(",").toStdString();
  }
  EXPECT_TRUE(watcher->isThrottled("flaky"));
  EXPECT_FALSE(lastDetails("flaky"));

  // The window has moved on past the first two: recovered again, throttled
  // or not.
  now += 51s;
  watcher->handleExit(kPid + 4, "flaky", RawExitInfo{kPid + 4, kSegv});
  EXPECT_TRUE(test::waitUntil([&] { return types("flaky").last() == "recovered"; }, 5s));

  // Seen running again: started, restarted, and free.
  watcher->tick({running("flaky", kPid + 5)});
  EXPECT_EQ(types("flaky").mid(8), (QStringList{"started", "restarted"}));
  EXPECT_EQ(events.lastEvent("flaky")->text, EventText::of(LocKey::evDetailRecoveryResumed()));
  EXPECT_FALSE(watcher->isThrottled("flaky"));
  EXPECT_EQ(watcher->watchedPids().value(kPid + 5), "flaky");
}

TEST_F(LifecycleTest, AFailedOrImpossibleRelaunchThrottlesWithItsReason) {
  make({cliAgent("nostrategy"), cliAgent("nocommand", R"(,"recover":{"strategy":"exec-cli"})"),
                 cliAgent("urlonly", R"(,"recover":{"strategy":"open-url-scheme","urlScheme":"x://"})")});
  Defaults::shared().set("TLR.language", "en");
  watcher->handleExit(kPid + 1, "nostrategy", RawExitInfo{kPid + 1, kSegv});
  watcher->handleExit(kPid + 2, "nocommand", RawExitInfo{kPid + 2, kSegv});
  EXPECT_TRUE(waitForTypes("nostrategy", {"exitedAbnormal", "throttled"}));
  EXPECT_EQ(lastDetails("nostrategy"), "No recovery strategy available");
  EXPECT_TRUE(waitForTypes("nocommand", {"exitedAbnormal", "throttled"}));
  // One failed relaunch, said in the window's language by key.
  EXPECT_EQ(events.lastEvent("nocommand")->text->say(AppLanguage::en),
            "Recovery failed: " + LocTexts::text(AppLanguage::en, LocKey::alertReasonNoCommand()));

  Defaults::shared().set("TLR.language", "zh");
  watcher->handleExit(kPid + 3, "urlonly", RawExitInfo{kPid + 3, kSegv});
  EXPECT_TRUE(waitForTypes("urlonly", {"exitedAbnormal", "throttled"}));
  // Kept by key, and worded in the language of the moment.
  EXPECT_EQ(events.lastEvent("urlonly")->text, EventText::of(LocKey::evDetailNoRecoveryStrategy()));
  EXPECT_EQ(lastDetails("urlonly"), LocTexts::text(AppLanguage::zh, LocKey::evDetailNoRecoveryStrategy()));
  EXPECT_EQ(watcher->throttledAgents(), (QSet<QString>{"nostrategy", "nocommand", "urlonly"}));
}

// One row per end of an instance, not per process: a worker the agent
// restarts itself (exit 199 after trusting a folder) while its session goes
// on is no exit of the agent; each instance comes back where it ran.
TEST_F(LifecycleTest, ASiblingOfTheSameInstanceDefersRecoveryAndEachInstanceComesBackWhereItRan) {
  make({withCommand("multi")});
  const QString projA = folder("projA"), projB = folder("projB");
  // Instance A (a process and its helper) in projA, instance B in projB.
  watcher->tick({running("multi", kPid + 1, false, kPid + 1, projA), running("multi", kPid + 2, false, kPid + 1, projA),
                 running("multi", kPid + 3, false, kPid + 3, projB)});
  EXPECT_EQ(watcher->watchedPids().size(), 3);
  EXPECT_EQ(types("multi"), QStringList{"started"}) << "started once per agent";

  watcher->handleExit(kPid + 2, "multi", RawExitInfo{kPid + 2, exitCode(199)});
  settle();
  EXPECT_EQ(types("multi"), QStringList{"started"});
  // B crashes while A runs on: B comes back, in its own folder.
  watcher->handleExit(kPid + 3, "multi", RawExitInfo{kPid + 3, kSegv});
  EXPECT_TRUE(waitForTypes("multi", {"started", "exitedAbnormal", "recovered"}));
  EXPECT_EQ(test::terminalFolders(bin, 1), QStringList{projB});
  watcher->handleExit(kPid + 1, "multi", RawExitInfo{kPid + 1, kSegv});
  EXPECT_TRUE(waitForTypes("multi", {"started", "exitedAbnormal", "recovered", "exitedAbnormal", "recovered"}));
  EXPECT_EQ(test::terminalFolders(bin, 2), (QStringList{projB, projA}));
  EXPECT_TRUE(watcher->watchedPids().isEmpty());
  // The user's Launch starts it where it last ran.
  watcher->launchOnUserClick(*registry->lookup("multi"));
  EXPECT_EQ(test::terminalFolders(bin, 3).value(2), projB);
}

TEST_F(LifecycleTest, AnAgentAScanStillFindsGetsOneSecondLook) {
  test::addFakeTerminal(bin, /*runs=*/true);
  // Two agents: the one whose process is still there at the second look,
  // and the one whose process is gone by then.
  const QString stays = test::uniqueAgentName("tlr-lookagain");
  const QString goes = test::uniqueAgentName("tlr-lookagain");
  const QString stayingProgram = test::copyFakeAgent(bin.path(), stays);
  const QString program = test::copyFakeAgent(bin.path(), goes);
  LifecycleTiming timing{300ms, 60.0, 2};
  timing.relaunchSettle = 1s;  // a loaded machine may take a while to start the terminal
  make({withCommand(stays.toUtf8()), withCommand(goes.toUtf8())}, timing);
  watcher->setScanner(std::make_shared<ProcessScanner>(registry));

  // Still there at the second look: it went to the background; left alone.
  // It runs to the end of the test, so however late a busy machine lets
  // the second look come, the look finds it.
  test::SpawnedChild daemon(stayingProgram, {});
  ASSERT_TRUE(test::waitUntil([&] { return !watcher->scanner()->pidsOf(stays).isEmpty(); }));
  watcher->handleExit(kPid + 1, stays, RawExitInfo{kPid + 1, kSegv});

  // Gone by then: recovered, and the relaunched process watched at once.
  test::SpawnedChild leftover(program, {});
  ASSERT_TRUE(test::waitUntil([&] { return !watcher->scanner()->pidsOf(goes).isEmpty(); }));
  watcher->handleExit(kPid + 2, goes, RawExitInfo{kPid + 2, kSegv});
  leftover.signal(SIGKILL);
  leftover.wait();
  EXPECT_TRUE(waitForTypes(goes, {"exitedAbnormal", "recovered", "started"})) << types(goes).join(",").toStdString();
  for (pid_t pid : watcher->scanner()->pidsOf(goes)) {
    EXPECT_EQ(watcher->watchedPids().value(pid), goes);
    ::kill(pid, SIGKILL);
  }
  // The staying agent was looked at and left alone: no terminal brings it
  // back (its look was due long before now; a look a busy machine delays
  // further finds it running all the same).
  const QString commands = bin.recordPath(QStringLiteral("x-terminal-emulator"));
  EXPECT_FALSE(test::waitUntil([&] { return test::readFile(commands).contains(stays); }, 1s))
      << test::readFile(commands).toStdString();
  EXPECT_EQ(types(stays), QStringList{"exitedAbnormal"});
}

TEST_F(LifecycleTest, ALaunchdManagedAgentIsNeverWatchedButKeepsItsStartedEventCurrent) {
  make({withCommand("daemon")});
  watcher->tick({running("daemon", kPid + 1, true)});
  watcher->tick({running("daemon", kPid + 1, true)});
  EXPECT_EQ(types("daemon"), QStringList{"started"});
  events.append(AgentEvent::make("daemon", Type::hangDetected));
  watcher->tick({running("daemon", kPid + 1, true)});
  EXPECT_EQ(types("daemon"), (QStringList{"started", "hangDetected", "started"}));
  EXPECT_TRUE(watcher->watchedPids().isEmpty());
}

TEST_F(LifecycleTest, ATickForgetsPidsThatNoScanShowsAndKeepsTheFirstAgentOfAPid) {
  make({withCommand("one"), withCommand("two")});
  watcher->tick({running("one", kPid + 1), running("two", kPid + 2)});
  watcher->tick({running("two", kPid + 1)});
  EXPECT_EQ(watcher->watchedPids(), (QHash<pid_t, QString>{{kPid + 1, "one"}}));
  EXPECT_EQ(types("two"), QStringList{"started"});
}

TEST_F(LifecycleTest, AFinishedSetupRecordsItAndStoresTheDoctorResult) {
  make({withCommand("fresh")});
  AgentDoctor::Result result;
  result.exitCode = 0;
  doctor = [&](const AgentEntry& entry) -> std::optional<AgentDoctor::Result> {
    if (entry.id != "fresh") return std::nullopt;
    return result;
  };

  // Without a scanner no doctor runs, and an old result is dropped.
  doctorResults.setResult("fresh", result);
  watcher->handleSetupCompleted(*registry->lookup("fresh"));
  EXPECT_FALSE(doctorResults.result("fresh"));
  EXPECT_EQ(events.lastEvent("fresh")->text, EventText::of(LocKey::evDetailSetupCompleted()));

  watcher->setScanner(std::make_shared<ProcessScanner>(registry));
  watcher->handleSetupCompleted(*registry->lookup("fresh"));
  ASSERT_TRUE(test::waitUntil([&] { return doctorResults.result("fresh").has_value(); }, 5s));
  EXPECT_EQ(types("fresh"), (QStringList{"restarted", "restarted", "restarted"}));
  EXPECT_EQ(events.lastEvent("fresh")->text, EventText::of(LocKey::evDetailDoctorNoIssues(0)));
}

TEST_F(LifecycleTest, ADoctorRunThatAnUninstallCameThroughKeepsNoResult) {
  make({withCommand("gone")});
  watcher->setScanner(std::make_shared<ProcessScanner>(registry));
  AgentDoctor::Result result;
  result.exitCode = 0;
  // The agent's uninstall begins and is over while the doctor runs.
  doctor = [&](const AgentEntry&) -> std::optional<AgentDoctor::Result> {
    ++uninstallsBegun;
    return result;
  };
  std::optional<std::optional<AgentDoctor::Result>> heard;
  watcher->doctorOnUserClick(*registry->lookup("gone"), [&](std::optional<AgentDoctor::Result> r) { heard = r; });
  ASSERT_TRUE(test::waitUntil([&] { return heard.has_value(); }, 5s));
  EXPECT_FALSE(heard->has_value());
  EXPECT_TRUE(types("gone").isEmpty());

  // Without an uninstall the same run is kept and recorded.
  doctor = [&](const AgentEntry&) -> std::optional<AgentDoctor::Result> { return result; };
  heard.reset();
  watcher->doctorOnUserClick(*registry->lookup("gone"), [&](std::optional<AgentDoctor::Result> r) { heard = r; });
  ASSERT_TRUE(test::waitUntil([&] { return heard.has_value(); }, 5s));
  EXPECT_TRUE(heard->has_value());
  EXPECT_EQ(types("gone"), QStringList{"restarted"});
}

}  // namespace
}  // namespace tlr
