#include "support/AppFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>

using namespace tlr::test;
using namespace std::chrono_literals;

namespace {

const QString kStarted = QStringLiteral("[App] Registry loaded: ");

// The shipped registry with `change` applied to its first agent.
QByteArray shippedWith(const std::function<void(QJsonObject&)>& change) {
  QJsonObject root = QJsonDocument::fromJson(AppSandbox::shippedRegistry()).object();
  QJsonArray agents = root.value(QStringLiteral("agents")).toArray();
  QJsonObject first = agents.at(0).toObject();
  change(first);
  agents.replace(0, first);
  root.insert(QStringLiteral("agents"), agents);
  return QJsonDocument(root).toJson();
}

// The shipped registry whose first agent is a command-line agent `id`,
// named `displayName`, that runs as `executable`.
QByteArray shippedWithCliAgent(const QString& id, const QString& displayName, const QString& executable) {
  return shippedWith([&](QJsonObject& agent) {
    agent = QJsonObject{{QStringLiteral("id"), id},
                        {QStringLiteral("displayName"), displayName},
                        {QStringLiteral("vendor"), QStringLiteral("test labs")},
                        {QStringLiteral("kind"), QStringLiteral("cli")},
                        {QStringLiteral("identify"), QJsonObject{{QStringLiteral("executableNames"), QJsonArray{executable}}}}};
  });
}

QByteArray registryWithHiddenAgent() {
  return shippedWith([](QJsonObject& agent) {
    agent.insert(QStringLiteral("id"), QStringLiteral("ghost"));
    agent.insert(QStringLiteral("hidden"), true);
  });
}

}  // namespace

// --- Which run a set of variables selects --------------------------------

class VerificationModeOrder : public AppFixture {};

TEST_F(VerificationModeOrder, EarlierVariableWinsOverLaterOne) {
  AppProcess& app = process(sandbox());
  app.setEnv(QStringLiteral("TLR_SELFTEST"), QStringLiteral("1"));
  app.setEnv(QStringLiteral("TLR_CONTRACT_TEST"), QStringLiteral("1"));
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(app.waitForExit(60s));
  // The self-test brings its own scratch image, so a fresh home passes it.
  EXPECT_EQ(app.exitCode(), 0) << app.stdErr().toStdString();
  EXPECT_TRUE(app.stdErr().contains(QStringLiteral("\nTLR_SELFTEST\n"))) << app.stdErr().toStdString();
  EXPECT_FALSE(app.stdErr().contains(QStringLiteral("Registry contract test")));
  EXPECT_TRUE(app.stdErr().endsWith(QStringLiteral("\nPASS\n")));
}

TEST_F(VerificationModeOrder, OnlyExactlyOneSelectsAMode) {
  AppProcess& app = process(sandbox());
  app.setEnv(QStringLiteral("TLR_SELFTEST"), QStringLiteral("true"));
  app.setEnv(QStringLiteral("TLR_CONTRACT_TEST"), QStringLiteral(" 1"));
  app.setEnv(QStringLiteral("TLR_E2E"), QStringLiteral("0"));
  app.setEnv(QStringLiteral("TLR_RESTART_DRYRUN"), QStringLiteral("no-such-agent"));
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(app.waitForExit());
  EXPECT_EQ(app.exitCode(), 1);
  EXPECT_EQ(app.stdErr(), QStringLiteral("找不到 agent id=no-such-agent\n"));
}

TEST_F(VerificationModeOrder, PassedOverVariablesStartTheApplication) {
  AppProcess& app = process(sandbox());
  app.setEnv(QStringLiteral("TLR_SELFTEST"), QStringLiteral("true"));
  app.setEnv(QStringLiteral("TLR_RESTART_DRYRUN"), QString());
  app.setEnv(QStringLiteral("TLR_BACKUP"), QStringLiteral("yes"));
  ASSERT_TRUE(app.start());
  // The application took its lock, which no verification mode takes.
  EXPECT_TRUE(waitUntil([&] { return holdsTheLock(app); })) << app.stdOut().toStdString();
  EXPECT_TRUE(app.isRunning());
}

TEST_F(VerificationModeOrder, WithoutAnImageEveryRealBackupModeFailsNamingIt) {
  for (const char* name : {"TLR_RESTORE_VERIFY", "TLR_BACKUP_REGISTRY", "TLR_BACKUP"}) {
    AppProcess& app = process(sandbox());
    app.setEnv(QString::fromLatin1(name), QStringLiteral("1"));
    ASSERT_TRUE(app.start());
    ASSERT_TRUE(app.waitForExit(60s)) << name;
    EXPECT_EQ(app.exitCode(), 1) << name;
    const QString report = app.stdErr();
    EXPECT_TRUE(report.startsWith(QString::fromLatin1(name) + QStringLiteral("\n"))) << report.toStdString();
    EXPECT_TRUE(report.endsWith(QStringLiteral("\nFAIL\n"))) << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("加密备份卷未初始化")) || report.contains(QStringLiteral("备份卷还没初始化")))
        << report.toStdString();
    EXPECT_FALSE(QFile::exists(lockFile())) << "a verification mode takes no lock";
    EXPECT_FALSE(QFileInfo::exists(home_.path() + "/.tollamere-selftest-fixture")) << name;
    EXPECT_FALSE(QFileInfo::exists(home_.path() + "/.tollamere-backup-tmp")) << name;
  }
}

// --- Restart dry run ---------------------------------------------------------

class RestartDryRunMode : public AppFixture {};

TEST_F(RestartDryRunMode, BrokenRegistryFailsWithItsText) {
  AppProcess& app = process(sandbox(QByteArray("{ not json")));
  app.setEnv(QStringLiteral("TLR_RESTART_DRYRUN"), QStringLiteral("aider"));
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(app.waitForExit());
  EXPECT_EQ(app.exitCode(), 1);
  EXPECT_EQ(app.stdErr(), QStringLiteral("registry 加载失败\n"));
  EXPECT_EQ(app.stdOut(), QString());
}

TEST_F(RestartDryRunMode, HiddenEntryIsNotFound) {
  AppProcess& app = process(sandbox(registryWithHiddenAgent()));
  app.setEnv(QStringLiteral("TLR_RESTART_DRYRUN"), QStringLiteral("ghost"));
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(app.waitForExit());
  EXPECT_EQ(app.exitCode(), 1);
  EXPECT_EQ(app.stdErr(), QStringLiteral("找不到 agent id=ghost\n"));
}

// --- Contract test -------------------------------------------------------------

class ContractTestMode : public AppFixture {};

TEST_F(ContractTestMode, ShippedRegistryPasses) {
  AppProcess& app = process(sandbox());
  app.setEnv(QStringLiteral("TLR_CONTRACT_TEST"), QStringLiteral("1"));
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(app.waitForExit());
  EXPECT_EQ(app.exitCode(), 0) << app.stdErr().toStdString();
  EXPECT_TRUE(app.stdErr().endsWith(QStringLiteral("checks ===\n")));
  EXPECT_FALSE(app.stdErr().contains(QStringLiteral("✗")));
}

TEST_F(ContractTestMode, BrokenEntryFailsWithTheReason) {
  AppProcess& app = process(sandbox(shippedWith([](QJsonObject& agent) {
    agent.insert(QStringLiteral("recover"), QJsonObject{{QStringLiteral("strategy"), QStringLiteral("exec-cli")}});
  })));
  app.setEnv(QStringLiteral("TLR_CONTRACT_TEST"), QStringLiteral("1"));
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(app.waitForExit());
  EXPECT_EQ(app.exitCode(), 1);
  EXPECT_TRUE(app.stdErr().contains(QStringLiteral("✗ [claude-code-cli] recover: exec-cli needs recover.command\n")));
}

TEST_F(ContractTestMode, UndecodableRegistryFails) {
  AppProcess& app = process(sandbox(std::nullopt));
  app.setEnv(QStringLiteral("TLR_CONTRACT_TEST"), QStringLiteral("1"));
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(app.waitForExit());
  EXPECT_EQ(app.exitCode(), 1);
  EXPECT_TRUE(app.stdErr().contains(QStringLiteral("✗ registry.json decodes: ") + appLog::registryNotInBundle));
}

// --- The running application -------------------------------------------------------

class RunningApplication : public AppFixture {};

TEST_F(RunningApplication, StartUpLogsInOrder) {
  AppProcess& app = process(sandbox());
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(app.waitForStderr(QStringLiteral("===== END SELF-CHECK =====\n")));
  const QString out = app.stdOut();
  const qsizetype lock = out.indexOf(appLog::lockTaken);
  const qsizetype registry = out.indexOf(kStarted + QStringLiteral("8 agents"));
  const qsizetype hang = out.indexOf(QStringLiteral("[HangWatcher] "));
  const qsizetype policy = out.indexOf(QStringLiteral("[Settings] activationPolicy → "));
  EXPECT_GE(lock, 0);
  EXPECT_GT(registry, lock);
  EXPECT_GT(hang, registry);
  EXPECT_GT(policy, hang);
  EXPECT_TRUE(holdsTheLock(app));

  const QString err = app.stdErr();
  const qsizetype check = err.indexOf(QStringLiteral("===== DISCOVERY SELF-CHECK =====\n"));
  ASSERT_GE(check, 0);
  EXPECT_TRUE(err.contains(QStringLiteral("env HOME = ") + home_.path() + '\n'));
  EXPECT_TRUE(err.contains(QStringLiteral("  fileExists(") + home_.path() + QStringLiteral("/.claude) = false\n")));
  EXPECT_TRUE(err.contains(QStringLiteral("  aider: found=0\n")));
  EXPECT_TRUE(app.isRunning());
}

TEST_F(RunningApplication, SelfCheckListsTwoLocationsOfAnAgentAsItsIdReads) {
  for (const char* name : {"a", "b", "c"}) home_.writeFile(QStringLiteral(".odd/") + name, "x");
  AppProcess& app = process(sandbox(shippedWith([](QJsonObject& agent) {
    agent.insert(QStringLiteral("id"), QStringLiteral("odd%2"));
    agent.insert(QStringLiteral("backup"),
                 QJsonObject{{QStringLiteral("includePaths"),
                              QJsonArray{QStringLiteral("~/.odd/a"), QStringLiteral("~/.odd/b"),
                                         QStringLiteral("~/.odd/c")}}});
  })));
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(app.waitForStderr(QStringLiteral("===== END SELF-CHECK =====\n")));
  const QString odd = home_.path() + QStringLiteral("/.odd/");
  EXPECT_TRUE(app.stdErr().contains(QStringLiteral("\n  odd%2: found=3\n    + ") + odd + QStringLiteral("a\n    + ") +
                                    odd + QStringLiteral("b\n  ")))
      << app.stdErr().toStdString();
}

TEST_F(RunningApplication, RegistryFailureKeepsRunningWithoutSelfCheck) {
  AppProcess& app = process(sandbox(QByteArray("[]")));
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(app.waitForStdout(QStringLiteral("[App] Registry load FAILED: ") + appLog::registryUndecodable));
  ASSERT_TRUE(app.waitForStdout(QStringLiteral("[Settings] activationPolicy")));
  EXPECT_FALSE(app.waitForExit(1s)) << "the application runs on without a registry";
  EXPECT_FALSE(app.stdErr().contains(QStringLiteral("DISCOVERY SELF-CHECK")));
}

// Started with umask 000, folders and files of ours came out 0777 and 0666:
// another user could swap them, or drop fake hang reports.
TEST_F(RunningApplication, LockFileHoldsExactlyThePidAndOurFilesAreTheOwnersOnlyWhateverTheUmask) {
  home_.writeFile(QStringLiteral(".local/share/Tollamere/single-instance.lock"),
                  QByteArray("123456789012345\nstale bytes of a longer holder\n"));
  const unsigned baseMode = modeOf(home_.path() + QStringLiteral("/.local/share"));
  QTemporaryDir runtime;
  AppProcess& app = process(sandbox());
  app.setEnv(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
  app.setUmask(0);
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(waitUntil([&] { return holdsTheLock(app); })) << app.stdOut().toStdString();

  const QString home = home_.path();
  const QString appFolder = home + QStringLiteral("/.local/share/Tollamere");
  const QString runtimeFolder = runtime.path() + QStringLiteral("/Tollamere");
  const QStringList files{appFolder + QStringLiteral("/network-log.json"),
                          appFolder + QStringLiteral("/single-instance.lock"),
                          home + QStringLiteral("/.config/Tollamere/defaults.json")};
  // Each is made on a thread of its own, a moment later under load: the
  // update check's log (the check fails: no such host), the settings by
  // their writer, the runtime folder by the start's tidying of backup
  // leftovers. Read once all are there.
  ASSERT_TRUE(waitUntil([&] {
    return QFileInfo(runtimeFolder).isDir() &&
           std::all_of(files.cbegin(), files.cend(), [](const QString& file) { return QFile::exists(file); });
  })) << app.stdOut().toStdString();
  // The lock file above was written with the test's umask: its folder is
  // closed again; the base folders above it are left as they are.
  for (const char* folder : {"/.config", "/.config/Tollamere", "/.local/share/Tollamere", "/.local/state",
                             "/.local/state/Tollamere", "/.local/state/Tollamere/DiagnosticReports"})
    EXPECT_EQ(modeOf(home + folder), 0700u) << folder;
  EXPECT_EQ(modeOf(home + QStringLiteral("/.local/share")), baseMode);
  EXPECT_EQ(modeOf(runtimeFolder), 0700u);
  for (const QString& file : files) EXPECT_EQ(modeOf(file), 0600u) << file.toStdString();
}

TEST_F(RunningApplication, SecondInstanceBringsTheFirstForwardAndEnds) {
  AppSandbox& box = sandbox();
  AppProcess& first = process(box);
  ASSERT_TRUE(first.start());
  ASSERT_TRUE(first.waitForStdout(kStarted));

  AppProcess& second = process(box);
  ASSERT_TRUE(second.start());
  ASSERT_TRUE(second.waitForExit());
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(second.stdOut(), appLog::lockHeld + appLog::askedToComeForward);
  EXPECT_TRUE(first.waitForStdout(appLog::broughtForward));
  EXPECT_TRUE(first.isRunning());
  EXPECT_TRUE(holdsTheLock(first));
}

TEST_F(RunningApplication, ChildrenDoNotInheritTheLock) {
  // The scanner asks the user manager about the shipped gateway's unit: the
  // fake records which descriptors it was handed.
  const QString record = home_.path() + QStringLiteral("/fds.txt");
  fakeBin_.provideUserManagerSocket();
  fakeBin_.add(QStringLiteral("systemctl"),
               QStringLiteral("ls -l /proc/$$/fd > '%1.part'; mv '%1.part' '%1'\n"
                              "echo MainPID=0\necho ActiveState=inactive\n")
                   .arg(record));
  AppProcess& app = process(sandbox());
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(waitUntil([&] { return holdsTheLock(app); })) << app.stdOut().toStdString();
  ASSERT_TRUE(waitUntil([&] { return QFile::exists(record); }));
  const QString fds = readFile(record);
  EXPECT_FALSE(fds.isEmpty());
  EXPECT_FALSE(fds.contains(QStringLiteral("single-instance.lock"))) << fds.toStdString();
}

// npm of nvm and the agents it installed (in ~/.nvm/versions/node/<version>/bin)
// were never found: the agent counted as not installed.
TEST_F(RunningApplication, AnAgentInstalledWithNvmsNpmCountsAsInstalled) {
  const QString prefix = home_.path() + QStringLiteral("/.nvm/versions/node/v20.11.1");
  const QString name = uniqueAgentName(QStringLiteral("tlr-nvm-agent"));
  const QString program = copyFakeAgent(prefix + QStringLiteral("/bin"), name);
  const QString npm = home_.writeFile(QStringLiteral(".nvm/versions/node/v20.11.1/bin/npm"),
                                      QStringLiteral("#!/bin/sh\necho '%1'\n").arg(prefix).toUtf8());
  QFile::setPermissions(npm, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  AppProcess& app =
      process(sandbox(shippedWithCliAgent(QStringLiteral("nvm-agent"), QStringLiteral("Nvm Agent"), name)));
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(app.waitForStdout(QStringLiteral("[Scanner] cliSearchPaths: "), 20s)) << app.stdOut().toStdString();
  EXPECT_TRUE(app.stdOut().contains(QStringLiteral("\"") + prefix + QStringLiteral("/bin\"")))
      << app.stdOut().toStdString();
  ASSERT_GT(agents_.start(program), 0);
  EXPECT_TRUE(app.waitForStdout(appLog::scanSummary(1, 1, 1, QStringLiteral("Nvm Agent")), 20s))
      << app.stdOut().toStdString();
}

// The line of what the scan sees was said only when what ran changed: an
// agent seen running by a round that looked for programs before npm's folder
// was known, or installed while it ran, stayed "0 installed" in the log.
TEST_F(RunningApplication, AProgramInstalledWhileItsAgentRunsIsSaidToBeInstalled) {
  const QString name = uniqueAgentName(QStringLiteral("tlr-late-agent"));
  const QString program = copyFakeAgent(home_.path() + QStringLiteral("/unpacked"), name);
  AppProcess& app =
      process(sandbox(shippedWithCliAgent(QStringLiteral("late-agent"), QStringLiteral("Late Agent"), name)));
  ASSERT_TRUE(app.start());
  ASSERT_GT(agents_.start(program), 0);
  ASSERT_TRUE(app.waitForStdout(appLog::scanSummary(1, 0, 1, QStringLiteral("Late Agent")), 20s))
      << app.stdOut().toStdString();
  QDir().mkpath(home_.path() + QStringLiteral("/.local/bin"));
  ASSERT_TRUE(QFile::link(program, home_.path() + QStringLiteral("/.local/bin/") + name));
  EXPECT_TRUE(app.waitForStdout(appLog::scanSummary(1, 1, 1, QStringLiteral("Late Agent")), 20s))
      << app.stdOut().toStdString();
}

// The suite gave other results whenever the user running it had a real
// `gemini` or `codex` running ("3 Agent 在跑"): the sandboxes' registry
// recognises the shipped agents only under names of the run's own, so the
// machine's agents are never seen, counted or signalled.
TEST_F(RunningApplication, TheMachinesOwnAgentsAreNeverSeen) {
  QTemporaryDir machine;
  for (const QString& name : {QStringLiteral("gemini"), QStringLiteral("codex")})
    ASSERT_GT(agents_.start(copyFakeAgent(machine.path() + QStringLiteral("/bin"), name)), 0) << name.toStdString();
  ASSERT_GT(agents_.start(copyFakeAgent(machine.path() + QStringLiteral("/bin"), QStringLiteral("node")),
                          {machine.path() + QStringLiteral("/lib/node_modules/@anthropic-ai/claude-code/cli.js")}),
            0);
  const QString name = uniqueAgentName(QStringLiteral("tlr-own-agent"));
  const QString program = copyFakeAgent(home_.path() + QStringLiteral("/.local/bin"), name);
  AppProcess& app =
      process(sandbox(shippedWithCliAgent(QStringLiteral("own-agent"), QStringLiteral("Own Agent"), name)));
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(app.waitForStdout(kStarted));
  // The scan says what runs whenever that changes: the test's own agent is
  // the only change it sees.
  ASSERT_GT(agents_.start(program), 0);
  const auto scans = [&] {
    QStringList lines;
    for (const QString& line : app.stdOut().split('\n'))
      if (line.startsWith(QStringLiteral("[Scanner] ")) && line.contains(appLog::scanSummaryMark)) lines << line;
    return lines;
  };
  ASSERT_TRUE(waitUntil([&] { return scans().join('\n').contains(QStringLiteral("Own Agent")); }, 20s))
      << app.stdOut().toStdString();
  for (const QString& scan : scans())
    EXPECT_EQ(scan.toStdString(), appLog::scanSummary(1, 1, 1, QStringLiteral("Own Agent")).toStdString());
}

TEST_F(RunningApplication, StartUpDoesNotWaitForNpmWhoseFolderCountsOnceItAnswers) {
  // npm answers only once the test lets it; its prefix's program folder
  // holds the one agent of the registry.
  const QString prefix = home_.path() + QStringLiteral("/npm-prefix");
  const QString name = uniqueAgentName(QStringLiteral("tlr-npm-agent"));
  const QString program = copyFakeAgent(prefix + QStringLiteral("/bin"), name);
  const QString asked = home_.path() + QStringLiteral("/npm-asked");
  const QString release = home_.path() + QStringLiteral("/npm-release");
  // Where the application looks for npm first.
  const QString npm = home_.writeFile(QStringLiteral(".npm-global/bin/npm"),
                                      QStringLiteral("#!/bin/sh\ntouch '%1'\n"
                                                     "while [ ! -e '%2' ]; do sleep 0.05; done\n"
                                                     "echo '%3'\n")
                                          .arg(asked, release, prefix)
                                          .toUtf8());
  QFile::setPermissions(npm, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  AppProcess& app =
      process(sandbox(shippedWithCliAgent(QStringLiteral("npm-agent"), QStringLiteral("Npm Agent"), name)));
  ASSERT_TRUE(app.start());
  // Start-up runs past its first scan while npm is still being asked.
  ASSERT_TRUE(app.waitForStdout(QStringLiteral("[Settings] activationPolicy"), 20s)) << app.stdOut().toStdString();
  // npm is asked off the window's thread: under load it may start a little after.
  EXPECT_TRUE(waitUntil([&] { return QFile::exists(asked); }));
  EXPECT_FALSE(app.stdOut().contains(QStringLiteral("cliSearchPaths"))) << "npm has not answered yet";

  writeBytes(release, "go");
  ASSERT_TRUE(app.waitForStdout(QStringLiteral("[Scanner] cliSearchPaths: ")));
  EXPECT_TRUE(app.stdOut().contains(QStringLiteral("\"") + prefix + QStringLiteral("/bin\"")))
      << app.stdOut().toStdString();
  // The agent in npm's folder now counts as installed.
  ASSERT_GT(agents_.start(program), 0);
  EXPECT_TRUE(app.waitForStdout(appLog::scanSummary(1, 1, 1, QStringLiteral("Npm Agent")), 20s))
      << app.stdOut().toStdString();
}
