#include "watcher/AgentLifecycleWatcher.h"

#include "core/texts/LocTexts.h"

#include "RecoverTestSupport.h"
#include "core/installers/AgentUninstaller.h"
#include "core/stores/DoctorResultStore.h"
#include "core/stores/LockOnlineStore.h"
#include "core/stores/SettingsStore.h"
#include "platform/Defaults.h"
#include "platform/OwnCommands.h"
#include "platform/ProcessSignals.h"
#include "support/SpawnedChild.h"
#include "watcher/SetupCompletionWatcher.h"
#include "watcher/SignalledPids.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <future>

#include <csignal>

namespace tlr {
namespace {

using namespace std::chrono_literals;
using RestartResult = AgentRestarter::Result;

// The watcher over stores of its own, a terminal that only records, the real
// doctor and fast stop, restart and setup waits. The agent "fake" is a fresh
// copy of the stand-in agent program.
class UserActionsTest : public ::testing::Test, protected test::IsolatedStores {
 protected:
  UserActionsTest() {
    test::addFakeTerminal(bin, false);
    Defaults::shared().set("TLR.language", "en");
    fakeId = test::uniqueAgentName("tlr-action-agent");
    program = test::copyFakeAgent(home.path() + "/bin", fakeId);
  }
  ~UserActionsTest() override {
    watcher.reset();
    if (scanner)
      for (pid_t pid : scanner->pidsOf(fakeId)) ProcessSignals::send(pid, SIGKILL);
    QFile::remove(AgentRecover::gatewayLogPath(fakeId));
  }

  // The stand-in agent; `members` adds to its entry.
  QByteArray fakeAgent(const QByteArray& members = {}) const {
    return R"({"id":")" + fakeId.toUtf8() + R"(","displayName":"Fake","vendor":"v","kind":"cli",)"
           R"("identify":{"executableNames":[")" + fakeId.toUtf8() + "\"]}" + members + "}";
  }
  // Started again as a detached gateway service.
  QByteArray fakeGateway() const {
    return fakeAgent(R"(,"serviceKind":"gateway","recover":{"strategy":"exec-cli","command":[")" +
                     program.toUtf8() + "\"]}");
  }
  static QByteArray cliAgent(const QByteArray& id, const QByteArray& members = {}) {
    return R"({"id":")" + id + R"(","displayName":")" + id.toUpper() +
           R"(","vendor":"v","kind":"cli","identify":{"executableNames":["tlr-none-)" + id + "\"]}" + members + "}";
  }

  void make(const QList<QByteArray>& agents, bool withScanner = true, LifecycleTiming timing = fastTiming()) {
    registry = test::registryOfAgents(agents);
    AgentLifecycleWatcher::Services s = services([] { return false; });
    // The process's record of our commands, which an uninstall scope marks.
    s.isUninstalling = [](const QString& id) { return OwnCommands::shared().isUninstalling(id); };
    s.uninstallsBegun = [](const QString& id) { return OwnCommands::shared().uninstallsBegun(id); };
    s.runDoctor = [this](const AgentEntry& entry) {
      std::optional<AgentDoctor::Result> result = AgentDoctor().run(entry);
      if (doctorEnded.valid()) doctorEnded.wait_for(10s);  // held where the test says
      return result;
    };
    const AgentRecoverTiming recoverTiming{200ms, 20ms, 1800, 200ms};
    auto recover = std::make_shared<const AgentRecover>(recoverTiming, signalled, &setupWatcher, aliveProbe);
    watcher = std::make_unique<AgentLifecycleWatcher>(registry, recover, s, timing);
    scanner = std::make_shared<const ProcessScanner>(registry);
    if (withScanner) watcher->setScanner(scanner);
  }
  static LifecycleTiming fastTiming() {
    LifecycleTiming timing{200ms, 60.0, 2};
    timing.restart = {300ms, 20ms, 50ms, 300ms, 0ms, 0ms};
    timing.relaunchSettle = 1s;  // a loaded machine may take a while to start the terminal
    return timing;
  }
  AgentEntry entry(const QString& id) const { return *registry->lookup(id); }
  // Whether the scanner comes to see exactly one process of the stand-in agent.
  bool seenRunning() const {
    return test::waitUntil([&] { return scanner->pidsOf(fakeId).size() == 1; });
  }
  // The stand-in gateway, locked online and watched, running as `gateway`
  // and seen by a first tick.
  void runLockedGateway(const QStringList& mode = {}) {
    make({fakeGateway()});
    lockOnline.setLocked(fakeId, true);
    watcher->start();
    ASSERT_TRUE(watcher->hasExitWatcher());
    gateway.emplace(program, mode);
    ASSERT_TRUE(seenRunning());
    watcher->tick(scanner->scan());
  }

  QStringList types(const QString& id) const { return eventTypes(id); }
  std::optional<QString> lastDetails(const QString& id) const { return events.lastEvent(id)->details; }
  std::optional<EventText> lastText(const QString& id) const { return events.lastEvent(id)->text; }
  // Lets queued work finish, so that an absent event is truly absent.
  void settle() { test::waitUntil([] { return false; }, 300ms); }
  template <class T>
  static bool waitFor(const std::optional<T>& value) {
    return test::waitUntil([&] { return value.has_value(); }, 10s);
  }

  SetupCompletionWatcher setupWatcher{SetupWatchTiming{50ms}};
  ProcessAliveProbe aliveProbe = systemAliveProbe();
  QString fakeId;
  QString program;
  // When set, a doctor's run returns only once it is ready (or after 10 s).
  std::shared_future<void> doctorEnded;
  std::shared_ptr<const AgentRegistry> registry;
  std::shared_ptr<const ProcessScanner> scanner;
  std::unique_ptr<AgentLifecycleWatcher> watcher;
  std::optional<test::SpawnedChild> gateway;
};

// ---- Launch ----

TEST_F(UserActionsTest, ALaunchClearsTheThrottleAndRecordsRecoveredOnlyWhenStarted) {
  LifecycleTiming throttlesAtOnce = fastTiming();
  throttlesAtOnce.crashThreshold = 0;
  make({cliAgent("cli", R"(,"recover":{"strategy":"exec-cli","command":["cli-agent","--go"]})"),
        cliAgent("urlonly", R"(,"recover":{"strategy":"open-url-scheme","urlScheme":"x://"})")},
       true, throttlesAtOnce);
  watcher->handleExit(1 << 30, "cli", RawExitInfo{1 << 30, SIGSEGV});
  // Once the confirming scan, off the window thread, has found nothing.
  ASSERT_TRUE(test::waitUntil([&] { return watcher->isThrottled("cli"); }));

  std::optional<bool> launched;
  watcher->launchOnUserClick(entry("cli"), [&](bool ok) { launched = ok; });
  EXPECT_FALSE(watcher->isThrottled("cli"));
  ASSERT_TRUE(waitFor(launched));
  EXPECT_TRUE(*launched);
  EXPECT_EQ(types("cli"), (QStringList{"exitedAbnormal", "throttled", "recovered"}));
  EXPECT_EQ(lastDetails("cli"), std::nullopt) << "a launch by the user is recorded without details";
  EXPECT_TRUE(test::terminalTexts(bin).first().contains("cli-agent --go; "));

  std::optional<bool> unsupported;
  watcher->launchOnUserClick(entry("urlonly"), [&](bool ok) { unsupported = ok; });
  ASSERT_TRUE(waitFor(unsupported));
  EXPECT_FALSE(*unsupported);
  EXPECT_TRUE(types("urlonly").isEmpty());
}

// ---- Stop ----

TEST_F(UserActionsTest, AStopRecordsItsOutcomeAlsoWhenNothingRan) {
  make({fakeAgent()});
  std::optional<bool> stopped;
  watcher->stopOnUserClick(entry(fakeId), [&](bool ok) { stopped = ok; });
  ASSERT_TRUE(waitFor(stopped));
  EXPECT_TRUE(*stopped);
  EXPECT_EQ(lastDetails(fakeId), "Manual stop");

  test::SpawnedChild agent(program, {});
  ASSERT_TRUE(seenRunning());
  stopped.reset();
  watcher->stopOnUserClick(entry(fakeId), [&](bool ok) { stopped = ok; });
  ASSERT_TRUE(waitFor(stopped));
  EXPECT_TRUE(*stopped);
  EXPECT_EQ(WTERMSIG(agent.wait()), SIGTERM);
  EXPECT_EQ(types(fakeId), (QStringList{"restarted", "restarted"}));
}

// One Stop wrote two rows, "Normal exit" and "Manual stop": the stop's own
// row says what happened, whenever the exit's note arrives.
TEST_F(UserActionsTest, AUserStopOfALockedAgentThatExitsWith143WritesOneRowAndStaysStopped) {
  // Like a real command-line agent, it catches SIGTERM and exits with 143.
  ASSERT_NO_FATAL_FAILURE(runLockedGateway({"catches-term"}));
  test::SpawnedChild& agent = *gateway;
  ASSERT_TRUE(test::waitUntilCatching(agent.pid(), SIGTERM));

  std::optional<bool> stopped;
  watcher->stopOnUserClick(entry(fakeId), [&](bool ok) { stopped = ok; });
  ASSERT_TRUE(waitFor(stopped));
  EXPECT_TRUE(*stopped);
  EXPECT_EQ(WEXITSTATUS(agent.wait()), 143);
  // Its exit has been heard.
  ASSERT_TRUE(test::waitUntil([&] { return !watcher->watchedPids().contains(agent.pid()); }, 10s));
  settle();
  // Never a fault, and the Stop is not undone although the agent is locked.
  EXPECT_EQ(types(fakeId), (QStringList{"lockOnlineEnabled", "started", "restarted"}));
  EXPECT_EQ(lastDetails(fakeId), "Manual stop");
  EXPECT_TRUE(scanner->pidsOf(fakeId).isEmpty());
}

TEST_F(UserActionsTest, AStopThatLeavesAProcessRunningFails) {
  test::SpawnedChild agent(program, {"ignore-term"});
  // Seen as running whatever happens to it: a process SIGKILL cannot end.
  aliveProbe = [pid = agent.pid()](pid_t asked) { return asked == pid; };
  make({fakeAgent()});
  ASSERT_TRUE(seenRunning());

  std::optional<bool> stopped;
  watcher->stopOnUserClick(entry(fakeId), [&](bool ok) { stopped = ok; });
  ASSERT_TRUE(waitFor(stopped));
  EXPECT_FALSE(*stopped);
  EXPECT_EQ(lastDetails(fakeId), "Stop failed");
  Defaults::shared().set("TLR.language", "zh");
  stopped.reset();
  std::optional<bool> withoutScanner;
  make({fakeAgent()}, /*withScanner=*/false);
  watcher->stopOnUserClick(entry(fakeId), [&](bool ok) { withoutScanner = ok; });
  EXPECT_EQ(withoutScanner, false);
}

// ---- Restart ----

TEST_F(UserActionsTest, ARestartOfALockedAgentStartsItOnce) {
  ASSERT_NO_FATAL_FAILURE(runLockedGateway());
  test::SpawnedChild& agent = *gateway;

  std::optional<RestartResult> result;
  watcher->restartOnUserClick(entry(fakeId), [&](const RestartResult& r) { result = r; });
  EXPECT_TRUE(watcher->isRestarting(fakeId));
  ASSERT_TRUE(waitFor(result));
  EXPECT_FALSE(watcher->isRestarting(fakeId));
  // The old instance is gone for the restart once it can run no more of its
  // program; a scan lists it until it has ended (a busy machine may take a
  // while to give it the processor it needs for that).
  EXPECT_TRUE(test::waitUntil([&] { return !scanner->pidsOf(fakeId).contains(agent.pid()); }));
  settle();

  // Ended by our SIGTERM, on a locked agent: the restart's row alone, and
  // the restart alone brings it back, with the pid the scan finds.
  const QList<pid_t> running = scanner->pidsOf(fakeId);
  ASSERT_EQ(running.size(), 1);
  EXPECT_NE(running.first(), agent.pid());
  EXPECT_EQ(*result, RestartResult::success(running.first()));
  EXPECT_EQ(types(fakeId), (QStringList{"lockOnlineEnabled", "started", "restarted"}));
  EXPECT_EQ(lastDetails(fakeId), "Manual restart → new pid " + QString::number(running.first()));
}

TEST_F(UserActionsTest, ARestartThatCannotRelaunchIsToldButNotThrottled) {
  make({fakeAgent()});
  test::SpawnedChild agent(program, {});
  ASSERT_TRUE(seenRunning());
  std::optional<RestartResult> result;
  watcher->restartOnUserClick(entry(fakeId), [&](const RestartResult& r) { result = r; });
  ASSERT_TRUE(waitFor(result));
  EXPECT_EQ(*result, RestartResult::relaunchFailed("agent has no recover strategy", LocKey::restartReasonNoRecover()));
  EXPECT_EQ(types(fakeId), QStringList{"throttled"});
  EXPECT_EQ(lastDetails(fakeId), "Restart failed: agent has no recover strategy");
  EXPECT_FALSE(watcher->isThrottled(fakeId));
}

TEST_F(UserActionsTest, RestartingAnAgentThatIsNotRunningLaunchesIt) {
  make({cliAgent("idle", R"(,"recover":{"strategy":"exec-cli","command":["idle-agent"]})")});
  std::optional<RestartResult> result;
  watcher->restartOnUserClick(entry("idle"), [&](const RestartResult& r) { result = r; });
  ASSERT_TRUE(waitFor(result));
  EXPECT_EQ(*result, RestartResult::notRunning());
  EXPECT_TRUE(test::waitUntil([&] { return types("idle") == QStringList{"recovered"}; }));

  make({cliAgent("idle")}, /*withScanner=*/false);
  result.reset();
  watcher->restartOnUserClick(entry("idle"), [&](const RestartResult& r) { result = r; });
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->kind, RestartResult::Kind::relaunchFailed);
}

// ---- Doctor and fixes ----

TEST_F(UserActionsTest, OurOwnDoctorIsNeverTheAgentAndAnUninstallEndsItFirst) {
  // "<agent> doctor", which waits for a terminal it never gets.
  make({fakeAgent(R"(,"doctor":{"command":[")" + program.toUtf8() + R"(","doctor"]},)"
                  R"("recover":{"strategy":"exec-cli","command":[")" + program.toUtf8() + "\"]}")});
  // The doctor's run is over only after the whole uninstall has been.
  std::promise<void> uninstalled;
  doctorEnded = uninstalled.get_future().share();
  watcher->start();
  std::optional<std::optional<AgentDoctor::Result>> done;
  watcher->doctorOnUserClick(entry(fakeId), [&](std::optional<AgentDoctor::Result> r) { done = std::move(r); });
  // The doctor and the helper it starts in a session of its own.
  QList<pid_t> doctor;
  ASSERT_TRUE(test::waitUntil([&] {
    doctor.clear();
    const ProcessTable table = ProcessTable::snapshot();  // the loop below reads into it
    for (const ProcessInfo& p : table.processes())
      if (p.name == fakeId && ProcessTable::arguments(p.pid).contains("doctor")) doctor << p.pid;
    return doctor.size() == 2 && ProcessTable::read(doctor[0])->pgid != ProcessTable::read(doctor[1])->pgid;
  }));
  // Running under the agent's name, yet never the agent, neither of them: no
  // row, no watch, no Started event.
  for (int scan = 0; scan < 3; ++scan) watcher->tick(scanner->scan());
  EXPECT_TRUE(scanner->pidsOf(fakeId).isEmpty());
  EXPECT_TRUE(watcher->watchedPids().isEmpty());
  EXPECT_TRUE(types(fakeId).isEmpty());

  // Uninstalling the agent ends it first; its end is no exit of the agent,
  // relaunches nothing, and is no failed check: no result, no row.
  AgentUninstaller uninstaller;
  uninstaller.setAgentId(fakeId);
  uninstaller.run("Fake", {}, {program}, {});
  uninstalled.set_value();
  for (const pid_t pid : doctor) EXPECT_TRUE(test::waitUntil([&] { return !ProcessSignals::isAlive(pid); }));
  ASSERT_TRUE(waitFor(done));
  EXPECT_FALSE(done->has_value());
  settle();
  EXPECT_TRUE(types(fakeId).isEmpty());

  // Uninstalled, it is never relaunched, whatever ends a process left of it.
  watcher->handleExit(1 << 30, fakeId, RawExitInfo{1 << 30, SIGSEGV});
  test::finishOffMainWork();
  settle();
  EXPECT_EQ(types(fakeId), QStringList{"exitedAbnormal"});
  EXPECT_TRUE(test::readFile(bin.recordPath("x-terminal-emulator")).isEmpty());
}

QByteArray doctorAgent(const QByteArray& fixMembers) {
  return R"({"id":"doc","displayName":"Doc","vendor":"v","kind":"cli","identify":{"executableNames":["tlr-none-doc"]},)"
         R"("doctor":{"command":["sh","-c","echo 'config: ok'; echo 'Error: API key expired (401)' >&2; exit 1"],)"
         R"("knownIssues":[{"id":"key","match":"api key.*expired","title":"Key expired","fix":{)" +
         fixMembers + R"(}},{"id":"never","match":"^config: broken","title":"Broken","fix":{"kind":"shell","title":"t"}}]}})";
}

TEST_F(UserActionsTest, TheDoctorFindsKnownIssuesAndRecordsItsSummary) {
  make({doctorAgent(R"("kind":"shell","title":"t")")});
  std::optional<std::optional<AgentDoctor::Result>> done;
  watcher->doctorOnUserClick(entry("doc"), [&](std::optional<AgentDoctor::Result> r) { done = std::move(r); });
  ASSERT_TRUE(waitFor(done));
  ASSERT_TRUE(done->has_value());
  const AgentDoctor::Result& result = **done;
  EXPECT_EQ(result.exitCode, 1);
  ASSERT_EQ(result.detectedIssues.size(), 1);
  EXPECT_EQ(result.detectedIssues[0].issue.id, "key");
  EXPECT_EQ(result.detectedIssues[0].matchedSnippet, "Error: API key expired (401)");
  EXPECT_EQ(lastText("doc"), EventText::of(LocKey::evDetailDoctorIssues(1, 1)));
  // A check that the agent's uninstall ended gives no result and no row.
  {
    const OwnCommands::Scope uninstalling("doc", OwnCommands::Purpose::uninstall);
    done.reset();
    watcher->doctorOnUserClick(entry("doc"), [&](std::optional<AgentDoctor::Result> r) { done = std::move(r); });
    ASSERT_TRUE(waitFor(done));
    EXPECT_FALSE(done->has_value());
  }
  EXPECT_EQ(types("doc").size(), 1);

  make({doctorAgent(R"("kind":"shell","title":"t")")}, /*withScanner=*/false);
  done.reset();
  watcher->doctorOnUserClick(entry("doc"), [&](std::optional<AgentDoctor::Result> r) { done = std::move(r); });
  ASSERT_TRUE(done.has_value());
  EXPECT_FALSE(done->has_value());
}

TEST_F(UserActionsTest, AJsonPatchFixRewritesTheFileAndKeepsItsFormerCopy) {
  const QByteArray original = R"({"gateway": {"port": 18789, "mode": "remote"}, "keep": [1, 2]})";
  const QString path = home.writeFile(".doc/config.json", original);
  make({doctorAgent(R"("kind":"patch-json","title":"t","file":"~/.doc/config.json",)"
                    R"("set":{"gateway.mode":"local","auth.token":"x"})")});
  const AgentEntry doc = entry("doc");

  std::optional<AgentDoctor::FixResult> fix;
  watcher->applyDoctorFix(doc, doc.doctor->knownIssues->first(), [&](const AgentDoctor::FixResult& r) { fix = r; });
  ASSERT_TRUE(waitFor(fix));
  EXPECT_TRUE(fix->succeeded()) << ::testing::PrintToString(fix->message);
  EXPECT_EQ(fix->message, LocKey::doctorOkUpdated("~/.doc/config.json", "auth.token = \"x\"、gateway.mode = \"local\""));
  EXPECT_EQ(lastText("doc"), EventText::of(LocKey::evDetailFixSucceeded("key")));
  // The details keep the fix's own words, in the interface's language.
  EXPECT_EQ(lastDetails("doc"),
            std::optional<QString>("修复成功 [key] Updated ~/.doc/config.json: auth.token = \"x\"、gateway.mode = \"local\""));

  const QJsonObject patched = QJsonDocument::fromJson(test::readFile(path).toUtf8()).object();
  EXPECT_EQ(patched, QJsonDocument::fromJson(R"({"gateway": {"port": 18789, "mode": "local"}, "keep": [1, 2],
                                                 "auth": {"token": "x"}})").object());
  EXPECT_EQ(test::readFile(path + ".tlrbak").toUtf8(), original);
}

TEST_F(UserActionsTest, AShellFixRunsItsCommandThenItsReload) {
  const QString fixed = home.path() + "/fixed";
  const QString reloaded = home.path() + "/reloaded";
  make({doctorAgent(R"("kind":"shell","title":"t","command":["touch",")" + fixed.toUtf8() +
                    R"("],"reload":["touch",")" + reloaded.toUtf8() + "\"]")});
  const AgentEntry doc = entry("doc");
  std::optional<AgentDoctor::FixResult> fix;
  watcher->applyDoctorFix(doc, doc.doctor->knownIssues->first(), [&](const AgentDoctor::FixResult& r) { fix = r; });
  ASSERT_TRUE(waitFor(fix));
  EXPECT_EQ(lastText("doc"), EventText::of(LocKey::evDetailFixSucceeded("key")));
  EXPECT_TRUE(QFile::exists(fixed));
  EXPECT_TRUE(QFile::exists(reloaded));

  // The second issue's fix has no command.
  fix.reset();
  watcher->applyDoctorFix(doc, doc.doctor->knownIssues->last(), [&](const AgentDoctor::FixResult& r) { fix = r; });
  ASSERT_TRUE(waitFor(fix));
  EXPECT_EQ(lastText("doc"), EventText::of(LocKey::evDetailFixFailed("never")));
  EXPECT_FALSE(fix->succeeded());

  make({doctorAgent(R"("kind":"shell","title":"t")")}, /*withScanner=*/false);
  fix.reset();
  watcher->applyDoctorFix(doc, doc.doctor->knownIssues->first(), [&](const AgentDoctor::FixResult& r) { fix = r; });
  ASSERT_TRUE(fix.has_value());
  EXPECT_EQ(*fix, AgentDoctor::FixResult::failure(LocKey::doctorErrNotReady()));
}

// ---- Setup and locking online ----

TEST_F(UserActionsTest, ACompletedSetupRecordsItAndRunsTheDoctor) {
  test::addFakeTerminal(bin, /*runs=*/true);
  make({fakeAgent(R"(,"setupCommand":["true"],"doctor":{"command":["echo","healthy"]})")});
  watcher->runSetupOnUserClick(entry(fakeId));
  ASSERT_TRUE(test::waitUntil([&] { return doctorResults.result(fakeId).has_value(); }));
  EXPECT_EQ(doctorResults.result(fakeId)->stdOut, "healthy\n");
  EXPECT_EQ(types(fakeId), (QStringList{"restarted", "restarted"}));
  EXPECT_EQ(events.recentEvents(fakeId, 2).last().details, "Setup completed, auto check started");
  EXPECT_EQ(lastText(fakeId), EventText::of(LocKey::evDetailDoctorNoIssues(0)));
}

TEST_F(UserActionsTest, ASetupOrLaunchThatCannotOpenATerminalOrFolderIsSignalledForTheUser) {
  const test::FakeBin empty;
  const test::OnlyFakesOnPath onlyEmpty(empty);
  QDir().mkpath(home.path() + "/.fake-config");
  make({fakeAgent(R"(,"setupCommand":["fake","setup"],"recover":{"strategy":"exec-cli","command":["fake","--go"]})"),
        cliAgent("folders", R"(,"backup":{"discovery":{"primaryHomes":["~/.fake-config"]}},)"
                            R"("doctor":{"command":["echo","healthy"]})"),
        cliAgent("urlonly", R"(,"recover":{"strategy":"open-url-scheme","urlScheme":"x://"})")});
  QList<UserActionFailure> failures;
  QObject::connect(watcher.get(), &AgentLifecycleWatcher::userActionFailed,
                   [&](const UserActionFailure& failure) { failures << failure; });
  const auto en = [](const LocKey& key) { return LocTexts::text(AppLanguage::en, key); };
  const auto zh = [](const LocKey& key) { return LocTexts::text(AppLanguage::zh, key); };

  watcher->runSetupOnUserClick(entry(fakeId));
  ASSERT_TRUE(test::waitUntil([&] { return failures.size() == 1; }));
  EXPECT_EQ(en(failures[0].title()), "Cannot open a terminal to configure Fake");
  EXPECT_EQ(zh(failures[0].title()), "无法打开终端配置 Fake");
  EXPECT_TRUE(en(failures[0].message()).startsWith("Possible causes:\n• No terminal program is installed"));

  // No terminal for a launch either: the command it was to run is named.
  std::optional<bool> launched;
  watcher->launchOnUserClick(entry(fakeId), [&](bool ok) { launched = ok; });
  ASSERT_TRUE(test::waitUntil([&] { return failures.size() == 2; }));
  EXPECT_EQ(launched, std::optional<bool>(false));
  EXPECT_EQ(en(failures[1].title()), "Cannot launch Fake");
  EXPECT_EQ(zh(failures[1].title()), "无法启动 Fake");
  const QString body = en(failures[1].message());
  EXPECT_TRUE(body.startsWith("Tried to open a terminal to run `fake --go` but failed.")) << body.toStdString();
  EXPECT_FALSE(body.contains("Terminal")) << "no application name";
  EXPECT_TRUE(zh(failures[1].message()).startsWith("试图打开终端运行 `fake --go` 但失败了。"));

  // No file manager for the configuration folder.
  watcher->runSetupOnUserClick(entry("folders"));
  ASSERT_TRUE(test::waitUntil([&] { return failures.size() == 3; }));
  EXPECT_EQ(en(failures[2].title()), "Cannot open the configuration folder of FOLDERS");
  EXPECT_EQ(zh(failures[2].title()), "无法打开 FOLDERS 的配置目录");
  // The opener's own reason, in the window's language.
  EXPECT_TRUE(en(failures[2].message()).startsWith("The desktop's opener, xdg-open, could not be started ("))
      << en(failures[2].message()).toStdString();
  EXPECT_TRUE(zh(failures[2].message()).startsWith("无法启动桌面打开程序 xdg-open（"))
      << zh(failures[2].message()).toStdString();
  // A folder that was not shown is no finished setup: nothing is recorded
  // and no check follows.
  test::finishOffMainWork();
  EXPECT_TRUE(types("folders").isEmpty()) << types("folders").join(",").toStdString();
  EXPECT_FALSE(doctorResults.result("folders").has_value());

  // A launch the registry gives no way to.
  watcher->launchOnUserClick(entry("urlonly"));
  ASSERT_TRUE(test::waitUntil([&] { return failures.size() == 4; }));
  EXPECT_EQ(en(failures[3].message()), "The registry gives no way to launch this agent.");
}

TEST_F(UserActionsTest, LockingOnlineStartsTheAgentUnlessItIsThrottled) {
  test::addFakeTerminal(bin, /*runs=*/true);
  LifecycleTiming throttlesAtOnce = fastTiming();
  throttlesAtOnce.crashThreshold = 0;
  make({fakeAgent(R"(,"recover":{"strategy":"exec-cli","command":[")" + program.toUtf8() + "\"]}"),
        cliAgent("flaky", R"(,"recover":{"strategy":"exec-cli","command":["flaky-agent"]})")},
       true, throttlesAtOnce);
  watcher->handleExit(1 << 30, "flaky", RawExitInfo{1 << 30, SIGSEGV});
  ASSERT_TRUE(test::waitUntil([&] { return watcher->isThrottled("flaky"); }));
  // It could be started: only its throttle holds it back.
  bin.add("flaky-agent", "exit 0");

  watcher->recoverOnDemand(entry("flaky"));
  watcher->recoverOnDemand(entry(fakeId));
  // Recorded once a scan finds it running, with that process watched.
  ASSERT_TRUE(test::waitUntil([&] { return types(fakeId) == QStringList{"recovered", "started"}; }))
      << types(fakeId).join(",").toStdString();
  const QList<pid_t> running = scanner->pidsOf(fakeId);
  ASSERT_EQ(running.size(), 1);
  EXPECT_EQ(watcher->watchedPids().value(running.first()), fakeId);
  test::finishOffMainWork();
  EXPECT_EQ(types("flaky"), (QStringList{"exitedAbnormal", "throttled"}));
  EXPECT_EQ(test::terminalTexts(bin).size(), 1);
}

}  // namespace
}  // namespace tlr
