// The running application supervising a stand-in agent: a copy of the
// application with a registry of one command-line agent (the tlr_fake_agent
// tool under a unique name), observed only through its output, its stored
// events and the processes it starts.
#include "support/AppFixture.h"

#include "platform/KqueueProcessWatcher.h"
#include "platform/ProcessSignals.h"
#include "platform/ProcessTable.h"
#include "support/RegistryJson.h"
#include "support/SpawnedChild.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <csignal>
#include <optional>
#include <unistd.h>

using namespace tlr;
using namespace tlr::test;
using namespace std::chrono_literals;

namespace {

const QString kAgentId = QStringLiteral("fake");
const QString kDisplayName = QStringLiteral("Fake Agent");

// A command-line agent known by the executable name `name`, relaunched in a
// terminal by running `program` with `mode`.
QJsonObject agentEntry(const QString& name, const QString& program, const QString& mode) {
  return QJsonObject{
      {QStringLiteral("id"), kAgentId},
      {QStringLiteral("displayName"), kDisplayName},
      {QStringLiteral("vendor"), QStringLiteral("Test")},
      {QStringLiteral("kind"), QStringLiteral("cli")},
      // Its print mode ("-p", as `claude -p`) is a one-shot, not a session.
      {QStringLiteral("identify"), QJsonObject{{QStringLiteral("executableNames"), QJsonArray{name}},
                                               {QStringLiteral("oneShotArgs"), QJsonArray{QStringLiteral("-p")}}}},
      {QStringLiteral("recover"), QJsonObject{{QStringLiteral("strategy"), QStringLiteral("exec-cli")},
                                              {QStringLiteral("command"), QJsonArray{program, mode}}}},
  };
}

// A Claude-shaped agent: its relaunch continues the folder's last session
// (`<program> --continue`), and its plain command, when `plainMode` is
// given, starts a new one.
QJsonObject continuingEntry(const QString& name, const QString& program, const QString& plainMode) {
  QJsonObject entry = agentEntry(name, program, QStringLiteral("--continue"));
  if (!plainMode.isEmpty()) {
    QJsonObject recover = entry.value(QStringLiteral("recover")).toObject();
    recover.insert(QStringLiteral("plainCommand"), QJsonArray{program, plainMode});
    entry.insert(QStringLiteral("recover"), recover);
  }
  return entry;
}

QByteArray registryOf(const QJsonObject& agent) {
  return QJsonDocument(QJsonObject{{QStringLiteral("schemaVersion"), 1},
                                   {QStringLiteral("updatedAt"), QStringLiteral("2025-01-01")},
                                   {QStringLiteral("agents"), QJsonArray{agent}}})
      .toJson();
}

// A stand-in agent installed in the temporary HOME under a unique name.
struct InstalledAgent {
  explicit InstalledAgent(const TempHome& home)
      : name(uniqueAgentName(QStringLiteral("tlr-bb-agent"))),
        program(copyFakeAgent(home.path() + QStringLiteral("/bin"), name)) {}
  QString name;
  QString program;
};

// A stand-in agent installed as `npm install -g` lays a package out: the
// program <prefix>/bin/<name> links to the package's script, whose
// "#!/usr/bin/env node" runs it as `node <prefix>/bin/<name>`; the stand-in
// itself plays node.
struct NpmInstalledAgent {
  NpmInstalledAgent(TempHome& home, FakeBin& bin)
      : name(uniqueAgentName(QStringLiteral("tlr-npm-agent"))),
        program(home.path() + QStringLiteral("/.npm-global/bin/") + name) {
    copyFakeAgent(bin.path(), QStringLiteral("node"));
    const QString script =
        home.writeFile(QStringLiteral(".npm-global/lib/node_modules/@tlr/") + name + QStringLiteral("/dist/index.js"),
                       "#!/usr/bin/env node\n");
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QDir().mkpath(home.path() + QStringLiteral("/.npm-global/bin"));
    QFile::link(script, program);
  }
  QString name;
  QString program;
};

}  // namespace

// --- An agent crashing and coming back ------------------------------------------

class AgentCrashInTheApplication : public AppFixture {
 protected:
  void SetUp() override {
    // The agent is no child of the application: its wait status comes from
    // the kernel's pidfd exit information or not at all.
    if (!KqueueProcessWatcher::hasPidfdExitInfo())
      GTEST_SKIP() << "this kernel gives no exit status of a process that is not our child (pidfd exit info)";
    // A terminal that really runs the relaunch command.
    addFakeTerminal(fakeBin_, true);
  }
  // Whether the application has recorded that its relaunch came back as
  // process `pid`: a recovery carries the pid a scan found.
  bool waitForRecoveryAs(pid_t pid) const {
    return waitUntil([&] {
      const QList<QJsonObject> events = storedEvents(kAgentId);
      return std::any_of(events.cbegin(), events.cend(), [&](const QJsonObject& event) {
        return event.value(QStringLiteral("type")).toString() == QStringLiteral("recovered") &&
               event.value(QStringLiteral("details")).toString() == QStringLiteral("pid=%1").arg(pid);
      });
    }, 15s);
  }
};

TEST_F(AgentCrashInTheApplication, AnNpmInstalledAgentIsSeenAndItsSegfaultRelaunchedThroughTheTerminal) {
  const NpmInstalledAgent agent(home_, fakeBin_);
  const pid_t first = agents_.start(agent.program, {QStringLiteral("plain")});
  ASSERT_GT(first, 0);
  ASSERT_EQ(ProcessTable::read(first)->name, QStringLiteral("node"));
  AppProcess& app = process(sandbox(registryOf(agentEntry(agent.name, agent.name, QStringLiteral("plain")))));
  ASSERT_TRUE(app.start());
  // Stored once the first scan has seen it and registered the process for
  // its exit.
  ASSERT_TRUE(waitUntil([&] { return storedEventTypes(kAgentId) == QStringList{QStringLiteral("started")}; }, 20s))
      << app.stdOut().toStdString();

  ASSERT_EQ(ProcessSignals::send(first, SIGSEGV), 0);
  ASSERT_TRUE(app.waitForStdout(
      QStringLiteral("[Exit] Fake Agent pid=%1 intent=crash signal=11 exit=0\n").arg(first)))
      << app.stdOut().toStdString();
  const pid_t second = agents_.waitForNew({first});
  ASSERT_GT(second, 0) << "the relaunched agent runs";
  // Recorded with the pid a scan found, once it has lasted a few seconds.
  ASSERT_TRUE(waitForRecoveryAs(second))
      << app.stdOut().toStdString();

  const QStringList expected{QStringLiteral("started"), QStringLiteral("exitedAbnormal"), QStringLiteral("recovered"),
                             QStringLiteral("started")};
  EXPECT_TRUE(waitUntil([&] { return storedEventTypes(kAgentId) == expected; }, 10s))
      << storedEventTypes(kAgentId).join(',').toStdString();
  const QStringList texts = terminalTexts(fakeBin_);
  ASSERT_EQ(texts.size(), 1) << "one relaunch";
  EXPECT_TRUE(texts[0].contains(agent.name + QStringLiteral(" plain; "))) << texts[0].toStdString();
  EXPECT_TRUE(ProcessSignals::isAlive(second));
  EXPECT_FALSE(ProcessSignals::isAlive(first));
}

// Installed with nvm's npm and found there by the scan, the agent was never
// relaunched: the relaunch looked for it on a PATH without nvm's folder.
TEST_F(AgentCrashInTheApplication, AnAgentInstalledOnlyUnderNvmIsRelaunched) {
  const QString name = uniqueAgentName(QStringLiteral("tlr-nvm-agent"));
  const QString program = copyFakeAgent(home_.path() + QStringLiteral("/.nvm/versions/node/v20.11.1/bin"), name);
  AppProcess& app = process(sandbox(registryOf(agentEntry(name, name, QStringLiteral("plain")))));
  ASSERT_TRUE(app.start());
  const pid_t first = agents_.start(program, {QStringLiteral("plain")});
  ASSERT_GT(first, 0);
  ASSERT_TRUE(waitUntil([&] { return storedEventTypes(kAgentId) == QStringList{QStringLiteral("started")}; }, 20s))
      << app.stdOut().toStdString();

  ASSERT_EQ(ProcessSignals::send(first, SIGSEGV), 0);
  const pid_t second = agents_.waitForNew({first});
  ASSERT_GT(second, 0) << app.stdOut().toStdString();
  ASSERT_TRUE(waitForRecoveryAs(second))
      << app.stdOut().toStdString();
  EXPECT_EQ(ProcessTable::read(second)->exePath, program);
}

// A user's one-shot that fails opens nothing; another user's agent is never
// ours; the agent the user started in a project folder comes back there.
TEST_F(AgentCrashInTheApplication, OnlyThisUsersSessionsAreSupervisedAndComeBackInTheirFolder) {
  const InstalledAgent agent(home_);
  // Another user's copy of the agent runs all along.
  QTemporaryDir shared;
  const QString theirProgram = shared.path() + QLatin1Char('/') + agent.name;
  ASSERT_TRUE(QFile::copy(agent.program, theirProgram));
  const auto everyone = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;
  QFile::setPermissions(shared.path(), everyone);
  QFile::setPermissions(theirProgram, everyone);
  std::optional<SpawnedChild> theirs;
  if (::getuid() == 0)
    theirs.emplace(QStringLiteral("/usr/bin/setpriv"),
                   QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                               QStringLiteral("--clear-groups"), theirProgram, QStringLiteral("plain")});
  AppProcess& app = process(sandbox(registryOf(agentEntry(agent.name, agent.program, QStringLiteral("plain")))));
  ASSERT_TRUE(app.start());

  // `<agent> -p hello` fails after 4.5 s: a scan sees it run, yet it is no
  // session of the agent.
  const pid_t oneShot = agents_.start(agent.program, {QStringLiteral("-p"), QStringLiteral("hello")});
  ASSERT_GT(oneShot, 0);
  ASSERT_TRUE(waitUntil([&] { return !ProcessSignals::isAlive(oneShot); }, 10s));

  const QString project = home_.path() + QStringLiteral("/projB");
  QDir().mkpath(project);
  const pid_t first = agents_.start(agent.program, {QStringLiteral("plain")}, project);
  ASSERT_GT(first, 0);
  ASSERT_TRUE(app.waitForStdout(QStringLiteral("[Scanner] 1") + appLog::scanSummaryMark));
  EXPECT_TRUE(app.stdOut().contains(appLog::scanSummaryEnd(1, QStringLiteral("Fake Agent")))) << app.stdOut().toStdString();
  ASSERT_TRUE(waitUntil([&] { return storedEventTypes(kAgentId) == QStringList{QStringLiteral("started")}; }));

  ASSERT_EQ(ProcessSignals::send(first, SIGSEGV), 0);
  const pid_t second = agents_.waitForNew({oneShot, first});
  ASSERT_GT(second, 0);
  ASSERT_TRUE(waitForRecoveryAs(second))
      << app.stdOut().toStdString();
  EXPECT_EQ(ProcessTable::workingFolder(second), project);
  EXPECT_EQ(terminalFolders(fakeBin_), QStringList{project});
  EXPECT_EQ(terminalTexts(fakeBin_).size(), 1) << "nothing opened for the one-shot";
  const QStringList expected{QStringLiteral("started"), QStringLiteral("exitedAbnormal"), QStringLiteral("recovered"),
                             QStringLiteral("started")};
  EXPECT_TRUE(waitUntil([&] { return storedEventTypes(kAgentId) == expected; }, 10s))
      << storedEventTypes(kAgentId).join(',').toStdString();
  EXPECT_FALSE(app.stdOut().contains(QStringLiteral("pid=%1 ").arg(oneShot)));
  if (theirs) {
    EXPECT_TRUE(ProcessSignals::isAlive(theirs->pid())) << "never signalled";
    EXPECT_FALSE(app.stdOut().contains(QStringLiteral("pid=%1").arg(theirs->pid())));
  }
}

TEST_F(AgentCrashInTheApplication, TwoInstancesEachComeBackInTheirOwnFolder) {
  const InstalledAgent agent(home_);
  const QString projA = home_.path() + QStringLiteral("/projA"), projB = home_.path() + QStringLiteral("/projB");
  QDir().mkpath(projA);
  QDir().mkpath(projB);
  const pid_t a = agents_.start(agent.program, {QStringLiteral("plain")}, projA);
  const pid_t b = agents_.start(agent.program, {QStringLiteral("plain")}, projB);
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  AppProcess& app = process(sandbox(registryOf(agentEntry(agent.name, agent.program, QStringLiteral("plain")))));
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(waitUntil([&] { return storedEventTypes(kAgentId) == QStringList{QStringLiteral("started")}; }, 20s))
      << app.stdOut().toStdString();

  // B crashes while A runs on: B comes back in projB.
  ASSERT_EQ(ProcessSignals::send(b, SIGSEGV), 0);
  const pid_t b2 = agents_.waitForNew({a, b});
  ASSERT_GT(b2, 0) << processState(b).toStdString() << '\n' << app.stdOut().toStdString();
  ASSERT_TRUE(waitForRecoveryAs(b2))
      << app.stdOut().toStdString();
  EXPECT_EQ(ProcessTable::workingFolder(b2), projB);
  // Then A: back in projA.
  ASSERT_EQ(ProcessSignals::send(a, SIGSEGV), 0);
  const pid_t a2 = agents_.waitForNew({a, b, b2});
  ASSERT_GT(a2, 0) << processState(a).toStdString() << '\n' << app.stdOut().toStdString();
  ASSERT_TRUE(waitForRecoveryAs(a2))
      << app.stdOut().toStdString();
  EXPECT_EQ(ProcessTable::workingFolder(a2), projA);
  EXPECT_EQ(terminalFolders(fakeBin_, 2), (QStringList{projB, projA}));
  EXPECT_TRUE(ProcessSignals::isAlive(a2) && ProcessSignals::isAlive(b2));
}

// `claude --continue` where nothing was saved prints "No conversation found
// to continue" and exits 1: one dead terminal, "Recovery failed", no agent.
// The relaunch starts a new session in that folder instead.
TEST_F(AgentCrashInTheApplication, ACrashWithNothingToContinueComesBackAsARunningAgent) {
  const InstalledAgent agent(home_);
  const QString project = home_.path() + QStringLiteral("/projA");
  QDir().mkpath(project);
  AppProcess& app =
      process(sandbox(registryOf(continuingEntry(agent.name, agent.program, QStringLiteral("plain")))));
  ASSERT_TRUE(app.start());
  const pid_t first = agents_.start(agent.program, {QStringLiteral("plain")}, project);
  ASSERT_GT(first, 0);
  ASSERT_TRUE(waitUntil([&] { return storedEventTypes(kAgentId) == QStringList{QStringLiteral("started")}; }, 20s))
      << app.stdOut().toStdString();

  ASSERT_EQ(ProcessSignals::send(first, SIGSEGV), 0);
  const QStringList expected{QStringLiteral("started"), QStringLiteral("exitedAbnormal"), QStringLiteral("recovered"),
                             QStringLiteral("started")};
  ASSERT_TRUE(waitUntil([&] { return storedEventTypes(kAgentId) == expected; }, 20s))
      << storedEventTypes(kAgentId).join(',').toStdString() << app.stdOut().toStdString();
  const QStringList texts = terminalTexts(fakeBin_, 2);
  ASSERT_EQ(texts.size(), 2);
  EXPECT_TRUE(texts[0].contains(agent.program + QStringLiteral(" --continue; "))) << texts[0].toStdString();
  EXPECT_TRUE(texts[1].contains(agent.program + QStringLiteral(" plain; "))) << texts[1].toStdString();
  // The agent runs in its folder again.
  pid_t back = 0;
  for (pid_t pid : agents_.pids())
    if (pid != first && ProcessSignals::isAlive(pid)) back = pid;
  ASSERT_GT(back, 0);
  EXPECT_EQ(ProcessTable::workingFolder(back), project);
  EXPECT_EQ(ProcessTable::arguments(back).value(1), QStringLiteral("plain"));
}

// projB's relaunch failed, then projA crashed and was "throttled": pacing
// is per instance.
TEST_F(AgentCrashInTheApplication, OneInstancesFailedRelaunchDoesNotStopTheOthers) {
  const InstalledAgent agent(home_);
  const QString projA = home_.path() + QStringLiteral("/projA"), projB = home_.path() + QStringLiteral("/projB");
  QDir().mkpath(projB);
  home_.writeFile(QStringLiteral("projA/.tlr-conversation"), "saved");
  // Both run before the application starts, so its first scan sees both.
  const pid_t a = agents_.start(agent.program, {QStringLiteral("plain")}, projA);
  const pid_t b = agents_.start(agent.program, {QStringLiteral("plain")}, projB);
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  AppProcess& app = process(sandbox(registryOf(continuingEntry(agent.name, agent.program, QString()))));
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(waitUntil([&] { return storedEventTypes(kAgentId) == QStringList{QStringLiteral("started")}; }, 20s))
      << app.stdOut().toStdString();

  // B comes back as `--continue` with nothing to continue: ended at start,
  // with its status.
  ASSERT_EQ(ProcessSignals::send(b, SIGSEGV), 0);
  ASSERT_TRUE(waitUntil([&] { return storedEventTypes(kAgentId).size() == 3; }, 20s))
      << storedEventTypes(kAgentId).join(',').toStdString();
  const QJsonObject ended = storedEvents(kAgentId).last();
  EXPECT_EQ(ended.value(QStringLiteral("type")).toString(), QStringLiteral("exitedAbnormal"));
  EXPECT_EQ(ended.value(QStringLiteral("key")).toString(), QStringLiteral("evDetailEndedAtStart"));
  EXPECT_EQ(ended.value(QStringLiteral("values")).toArray(), QJsonArray{1});

  // A crashes and comes back, continuing its conversation in projA.
  ASSERT_EQ(ProcessSignals::send(a, SIGSEGV), 0);
  const pid_t a2 = agents_.waitForNew(agents_.pids());
  ASSERT_GT(a2, 0) << app.stdOut().toStdString();
  EXPECT_TRUE(waitUntil([&] { return storedEventTypes(kAgentId).contains(QStringLiteral("recovered")); }, 20s))
      << storedEventTypes(kAgentId).join(',').toStdString();
  EXPECT_EQ(ProcessTable::workingFolder(a2), projA);
  EXPECT_FALSE(storedEventTypes(kAgentId).contains(QStringLiteral("throttled")));
  EXPECT_TRUE(ProcessSignals::isAlive(a2));
}

TEST_F(AgentCrashInTheApplication, AnOutsideSigkillIsAForcedKillNeitherOutOfMemoryNorRelaunched) {
  const InstalledAgent agent(home_);
  const pid_t pid = agents_.start(agent.program, {QStringLiteral("plain")});
  ASSERT_GT(pid, 0);
  AppProcess& app = process(sandbox(registryOf(agentEntry(agent.name, agent.program, QStringLiteral("plain")))));
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(waitUntil([&] { return storedEventTypes(kAgentId) == QStringList{QStringLiteral("started")}; }));

  // The kernel counted no out-of-memory kill, whatever the memory pressure.
  ASSERT_EQ(ProcessSignals::send(pid, SIGKILL), 0);
  ASSERT_TRUE(app.waitForStdout(
      QStringLiteral("[Exit] Fake Agent pid=%1 intent=forceKilled signal=9 exit=0\n").arg(pid)))
      << app.stdOut().toStdString();
  EXPECT_TRUE(waitUntil([&] {
    return storedEventTypes(kAgentId) == QStringList{QStringLiteral("started"), QStringLiteral("exitedNormal")};
  })) << storedEventTypes(kAgentId).join(',').toStdString();
  EXPECT_TRUE(readFile(fakeBin_.recordPath(QStringLiteral("x-terminal-emulator"))).isEmpty()) << "not relaunched";
}

// Codex's one-shots that run a while in a script and fail, written with
// options before their sub-command (`codex -m o3 exec …`) or as today's
// `codex review`: the shipped Codex entry's tables under the stand-in's name.
// Nothing is counted, recorded or opened; a session afterwards is.
TEST_F(AgentCrashInTheApplication, CodexOneShotsThatFailOpenNothing) {
  const InstalledAgent agent(home_);
  QJsonObject codex = shippedEntryObject(QStringLiteral("codex-cli"), agent.name);
  codex.insert(QStringLiteral("recover"),
               QJsonObject{{QStringLiteral("strategy"), QStringLiteral("exec-cli")},
                           {QStringLiteral("command"), QJsonArray{agent.program, QStringLiteral("resume"),
                                                                  QStringLiteral("--last")}}});
  AppProcess& app = process(sandbox(registryOf(codex)));
  ASSERT_TRUE(app.start());

  // Each lasts longer than a scan's period, then exits with 1.
  qputenv("FAKE_AGENT_FAILS_AFTER_MS", "4500");
  const QList<QStringList> oneShots{
      {QStringLiteral("-m"), QStringLiteral("o3"), QStringLiteral("exec"), QStringLiteral("write the tests")},
      {QStringLiteral("--model"), QStringLiteral("o3"), QStringLiteral("exec"), QStringLiteral("x")},
      {QStringLiteral("-c"), QStringLiteral("model=o3"), QStringLiteral("exec"), QStringLiteral("x")},
      {QStringLiteral("review")},
  };
  QList<pid_t> started;
  for (const QStringList& arguments : oneShots) started << agents_.start(agent.program, arguments);
  qunsetenv("FAKE_AGENT_FAILS_AFTER_MS");
  for (const pid_t pid : started) {
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(waitUntil([&] { return !ProcessSignals::isAlive(pid); }, 15s));
  }
  // A session started now is seen: the scans ran all along.
  const pid_t session = agents_.start(agent.program, {QStringLiteral("-m"), QStringLiteral("o3"), QStringLiteral("fix it")});
  ASSERT_GT(session, 0);
  ASSERT_TRUE(waitUntil([&] { return !storedEventTypes(QStringLiteral("codex-cli")).isEmpty(); }, 15s));
  EXPECT_EQ(storedEventTypes(QStringLiteral("codex-cli")), QStringList{QStringLiteral("started")});
  EXPECT_TRUE(readFile(fakeBin_.recordPath(QStringLiteral("x-terminal-emulator"))).isEmpty()) << "nothing opened";
  for (const pid_t pid : started) EXPECT_FALSE(app.stdOut().contains(QStringLiteral("pid=%1 ").arg(pid)));
}

// --- A hang report -----------------------------------------------------------------

class HangReportInTheApplication : public AppFixture {
 protected:
  // Below HOME, where XDG_STATE_HOME is unset.
  static QString reportsFolder() { return QStringLiteral(".local/state/Tollamere/DiagnosticReports"); }
  QString dropReport(const QString& fileName, const QString& processName) {
    return home_.writeFile(reportsFolder() + '/' + fileName,
                           QStringLiteral("\n{\"app_name\":\"x\",\"procName\":\"%1\",\"pid\":4242}\n{\"threads\":[]}\n")
                               .arg(processName)
                               .toUtf8());
  }
};

TEST_F(HangReportInTheApplication, NewReportOfAnAgentRecordsOneHangDetected) {
  const InstalledAgent agent(home_);
  // Already there at start: an old report, never inspected.
  dropReport(agent.name + QStringLiteral("_2025-01-01-100000-hang.ips"), agent.name);
  AppProcess& app = process(sandbox(registryOf(agentEntry(agent.name, agent.program, QStringLiteral("plain")))));
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(
      app.waitForStdout(appLog::hangWatchStarted + home_.path() + '/' + reportsFolder() + '\n'));

  dropReport(QStringLiteral("someone-else_2025-01-02-100000-hang.ips"), QStringLiteral("someone-else"));
  // The report spells the process name its own way; names compare in lower case.
  const QString spelled = agent.name.toUpper();
  dropReport(agent.name + QStringLiteral("_2025-01-02-100001-hang.ips"), spelled);
  ASSERT_TRUE(waitUntil([&] { return !storedEvents(kAgentId).isEmpty(); })) << app.stdOut().toStdString();
  const QList<QJsonObject> events = storedEvents(kAgentId);
  ASSERT_EQ(events.size(), 1) << storedEventTypes(kAgentId).join(',').toStdString();
  EXPECT_EQ(events[0].value(QStringLiteral("type")).toString(), QStringLiteral("hangDetected"));
  EXPECT_EQ(events[0].value(QStringLiteral("key")).toString(), QStringLiteral("evDetailHangReported"));
}

// --- A runaway agent ---------------------------------------------------------------------

class RunawayAgentInTheApplication : public AppFixture {};

// Samples come every 10 seconds and a command-line agent's CPU must stay over
// its limit for 30 of them: this test takes about half a minute.
TEST_F(RunawayAgentInTheApplication, SpinningAgentOverItsRegistryCpuLimitIsReportedAndLeftRunning) {
  const InstalledAgent agent(home_);
  QJsonObject entry = agentEntry(agent.name, agent.program, QStringLiteral("spin"));
  // Far below one busy core, so a loaded machine still shows the overload.
  entry.insert(QStringLiteral("protectionSpec"),
               QJsonObject{{QStringLiteral("resource"), QJsonObject{{QStringLiteral("cpuLimit"), 10}}}});
  const pid_t spinner = agents_.start(agent.program, {QStringLiteral("spin")});
  ASSERT_GT(spinner, 0);
  AppProcess& app = process(sandbox(registryOf(entry)));
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(waitUntil([&] { return !storedEvents(kAgentId).isEmpty(); }, 20s)) << app.stdOut().toStdString();

  ASSERT_TRUE(waitUntil([&] { return storedEventTypes(kAgentId).contains(QStringLiteral("runawayDetected")); }, 38s))
      << app.stdOut().toStdString();
  const QList<QJsonObject> events = storedEvents(kAgentId);
  EXPECT_EQ(storedEventTypes(kAgentId), (QStringList{QStringLiteral("started"), QStringLiteral("runawayDetected")}));
  // Its processor time, by key: never its memory.
  EXPECT_EQ(events.last().value(QStringLiteral("key")).toString(), QStringLiteral("resourceRunawayDetails"));
  const QJsonArray values = events.last().value(QStringLiteral("values")).toArray();
  ASSERT_EQ(values.size(), 2) << QJsonDocument(events.last()).toJson().toStdString();
  EXPECT_EQ(values[0].toString(), QStringLiteral("CPU"));
  EXPECT_GT(values[1].toInteger(), 10) << "over its limit";
  EXPECT_TRUE(ProcessSignals::isAlive(spinner)) << "the monitor only observes";
}
