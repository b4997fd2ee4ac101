#include "watcher/AgentRecover.h"

#include "core/texts/LocTexts.h"

#include "RecoverTestSupport.h"
#include "platform/UserPrograms.h"
#include "core/stores/SettingsStore.h"
#include "support/FrozenGroup.h"
#include "support/SpawnedChild.h"
#include "watcher/AgentLifecycleWatcher.h"
#include "watcher/InstanceTerminals.h"
#include "watcher/ProcessScanner.h"
#include "watcher/SetupCompletionWatcher.h"

#include "platform/ProcessSignals.h"
#include "platform/ProcessTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <future>
#include <optional>
#include <sys/wait.h>

namespace tlr {
namespace {

using Result = AgentRecover::Result;

// The words that give a line this user's program folders.
QString prefix() { return tlr::UserPrograms::exportPathLine(); }

// What an English window says of a failed launch and setup: no Chinese and
// no Mac tool, whatever the log says.
void expectShownInEnglish(const Result& result) {
  ASSERT_EQ(result.kind, Result::Kind::failed);
  for (const auto action : {UserActionFailure::Action::launch, UserActionFailure::Action::setup}) {
    const QString shown = LocTexts::text(AppLanguage::en, UserActionFailure{action, "X", result}.message());
    EXPECT_FALSE(shown.contains(QRegularExpression(R"(\p{Han})"))) << shown.toStdString();
    EXPECT_FALSE(shown.contains("osascript", Qt::CaseInsensitive)) << shown.toStdString();
  }
}

// Runs `work` on another thread, as the callers do, serving the main thread
// meanwhile.
template <class Work>
auto offMain(const Work& work) {
  auto done = std::async(std::launch::async, work);
  EXPECT_TRUE(test::waitUntil(
      [&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  return done.get();
}

class AgentRecoverTerminal : public ::testing::Test {
 protected:
  void SetUp() override { test::addFakeTerminal(bin, false); }

  test::TempHome home;
  test::FakeBin bin;
  AgentRecover recover;
};

TEST_F(AgentRecoverTerminal, ARelaunchTypesTheWordsUnquotedBehindThePathExport) {
  const AgentEntry entry = test::entryFromJson(
      R"("id":"repl","displayName":"Repl","vendor":"v","kind":"cli","identify":{},)"
      R"("recover":{"strategy":"exec-cli","command":["my-agent","--say","a\"b\\c","two words"]})");
  EXPECT_TRUE(recover.recoverExecCli(entry).isLaunched());
  const QStringList texts = test::terminalTexts(bin);
  ASSERT_EQ(texts.size(), 1);
  EXPECT_TRUE(texts.first().startsWith(prefix() + R"(my-agent --say a"b\c two words; )")) << texts.first().toStdString();
}

TEST_F(AgentRecoverTerminal, TheWindowKeepsTheLastWordsAndTheExitStatusUntilEnter) {
  bin.add("failing-agent", "echo \"cannot start: $1\"\nexit 3\n");
  Defaults::shared().set("TLR.language", "en");
  const AgentEntry entry = test::entryFromJson(
      R"("id":"f","displayName":"F","vendor":"v","kind":"cli","identify":{},)"
      R"("recover":{"strategy":"exec-cli","command":["failing-agent","--port"]})");
  const Result started = recover.recoverExecCli(entry);
  ASSERT_TRUE(started.isLaunched());
  EXPECT_FALSE(InstanceTerminals::endedStatus(started.endedFile)) << "not ended before it ran";
  test::SpawnedChild shell("/bin/sh", {"-c", test::terminalTexts(bin).first()});
  EXPECT_EQ(shell.readLine(), "cannot start: --port");
  EXPECT_EQ(shell.readLine(), "");
  EXPECT_EQ(shell.readLine(), "The command has ended (exit status 3). Press Enter to close this window.");
  // The window says how its command ended, for the relaunch to read.
  EXPECT_EQ(InstanceTerminals::endedStatus(started.endedFile), 3);
  shell.writeLine("");
  const int status = shell.wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(AgentRecoverTerminal, ARelaunchWithoutACommandFailsWithoutATerminal) {
  for (const QByteArray& recoverJson : {QByteArray(R"("recover":{"strategy":"exec-cli"})"),
                                       QByteArray(R"("recover":{"strategy":"exec-cli","command":[]})")}) {
    const AgentEntry entry =
        test::entryFromJson(R"("id":"x","displayName":"X","vendor":"v","kind":"cli","identify":{},)" + recoverJson);
    const Result result = recover.recoverExecCli(entry);
    EXPECT_EQ(result.kind, Result::Kind::failed);
    EXPECT_EQ(result.why, LocKey::alertReasonNoCommand());
    expectShownInEnglish(result);
  }
  EXPECT_FALSE(QFile::exists(bin.recordPath("x-terminal-emulator")));
}

TEST_F(AgentRecoverTerminal, TheUserLaunchPrefersUserInvokeCommandEvenWhenEmpty) {
  const QByteArray base = R"("id":"u","displayName":"U","vendor":"v","kind":"cli","identify":{},)"
                          R"("recover":{"strategy":"exec-cli","command":["from-recover"]})";
  const Result none = recover.userOpenCli(test::entryFromJson(base + R"(,"userInvokeCommand":[])"));
  EXPECT_EQ(none.kind, Result::Kind::failed);
  EXPECT_EQ(none.why, LocKey::alertReasonNoCommand());
  expectShownInEnglish(none);
  // Each terminal runs on its own: the next launch waits until the last one
  // has written its line, so the lines keep the order of the launches.
  EXPECT_TRUE(recover.userOpenCli(test::entryFromJson(base + R"(,"userInvokeCommand":["chat","--tui"])")).isLaunched());
  ASSERT_EQ(test::terminalTexts(bin, 1).size(), 1);
  EXPECT_TRUE(recover.userOpenCli(test::entryFromJson(base)).isLaunched());
  const QStringList texts = test::terminalTexts(bin, 2);
  ASSERT_EQ(texts.size(), 2);
  EXPECT_TRUE(texts[0].startsWith(prefix() + "chat --tui; ")) << texts[0].toStdString();
  EXPECT_TRUE(texts[1].startsWith(prefix() + "from-recover; ")) << texts[1].toStdString();
}

// Old windows piled up: every relaunch left the window it had opened before
// at "Press Enter to close". Starting an instance again closes the windows
// opened for it whose command has ended, and nothing else.
class InstanceWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    test::addHoldingTerminal(bin);
    // As `claude --continue` where there is nothing to continue.
    bin.add("ends-at-once", "echo 'No conversation found to continue'\nexit 1\n");
    agent = test::copyFakeAgent(home.path() + "/bin", test::uniqueAgentName("tlr-window-agent"));
  }
  void TearDown() override {
    // Hanging up a window's shell ends what runs in it.
    for (const QString& file : opened)
      if (const pid_t shell = shellOf(file)) ProcessSignals::send(shell, SIGHUP);
  }

  // Starts `command` as the instance's relaunch in `folder`; its window's
  // status file.
  QString start(const QStringList& command, const QString& folder) {
    AgentEntry entry;
    entry.id = "windows";
    entry.displayName = "Windows";
    entry.recover.emplace();
    entry.recover->strategy = AgentEntry::Recover::Strategy::execCli;
    entry.recover->command = command;
    const Result started = offMain([&] { return recover.recoverExecCli(entry, folder); });
    EXPECT_TRUE(started.isLaunched());
    opened << started.endedFile;
    return started.endedFile;
  }
  // The shell of the window whose status file is `file`, or 0.
  static pid_t shellOf(const QString& file) {
    const ProcessTable table = ProcessTable::snapshot();
    for (const ProcessInfo& p : table.processes()) {
      const QStringList argv = ProcessTable::arguments(p.pid);
      if (argv.size() >= 3 && argv[1] == "-c" && argv[2].contains(file)) return p.pid;
    }
    return 0;
  }
  QString folder(const QString& name) {
    QDir().mkpath(home.path() + "/" + name);
    return home.path() + "/" + name;
  }

  test::TempHome home;
  test::FakeBin bin;
  test::FakeAgentLedger agents{home.path() + "/agent-pids"};
  InstanceTerminals terminals;
  SignalledPids signalled;
  AgentRecover recover{AgentRecoverTiming{}, signalled, nullptr, systemAliveProbe(), &terminals};
  QString agent;
  QStringList opened;
};

TEST_F(InstanceWindows, AnInstanceStartedAgainClosesOnlyItsWindowsWhoseCommandHasEnded) {
  const QString projA = folder("projA"), projB = folder("projB"), projC = folder("projC");
  const QString first = start({"ends-at-once"}, projA);
  const QString otherInstance = start({"ends-at-once"}, projB);
  for (const QString& file : {first, otherInstance}) {
    ASSERT_TRUE(test::waitUntil([&] { return InstanceTerminals::endedStatus(file) == 1; }));
    ASSERT_GT(shellOf(file), 0) << "the window waits for Enter";
  }
  // A shell of the user's that looks the same is none of ours.
  test::SpawnedChild users("/bin/sh", {"-c", "echo ended; read -r key"});
  // The window of projC runs its agent still.
  const QString running = start({agent, "plain"}, projC);
  ASSERT_GT(agents.waitForNew({}), 0);

  const QString second = start({"ends-at-once"}, projA);
  EXPECT_TRUE(test::waitUntil([&] { return shellOf(first) == 0; })) << "the ended window of projA is closed";
  EXPECT_FALSE(QFile::exists(first));
  EXPECT_GT(shellOf(otherInstance), 0) << "projB's window is another instance's";
  EXPECT_TRUE(ProcessSignals::isAlive(users.pid()));
  EXPECT_TRUE(test::waitUntil([&] { return shellOf(second) > 0; }));

  start({agent, "plain"}, projC);
  EXPECT_TRUE(test::waitUntil([&] { return agents.pids().size() == 2; }));
  EXPECT_GT(shellOf(running), 0) << "its agent still runs there";
  users.signal(SIGKILL);
}

TEST_F(AgentRecoverTerminal, NoTerminalOnPathIsAFailedStart) {
  test::FakeBin empty;
  test::OnlyFakesOnPath only(empty);
  const AgentEntry entry = test::entryFromJson(
      R"("id":"t","displayName":"T","vendor":"v","kind":"cli","identify":{},)"
      R"("recover":{"strategy":"exec-cli","command":["agent"]})");
  const Result result = recover.recoverExecCli(entry);
  EXPECT_EQ(result.kind, Result::Kind::failed);
  EXPECT_EQ(result.unopened, Result::Unopened::terminal);
  EXPECT_EQ(result.error, "no terminal program found on PATH");
  expectShownInEnglish(result);
}

TEST_F(AgentRecoverTerminal, ASetupCommandEndsByTouchingItsSentinelWhichIsThenWatched) {
  SetupCompletionWatcher watcher{SetupWatchTiming{std::chrono::milliseconds(50)}};
  const AgentRecover withWatcher({}, SignalledPids::shared(), &watcher);
  const AgentEntry entry = test::entryFromJson(
      R"("id":"setup-me","displayName":"Setup Me","vendor":"v","kind":"desktop-app","identify":{},)"
      R"("setupCommand":["setup-me","init"])");
  const AgentRecover::SetupStart start = offMain([&] { return withWatcher.userSetup(entry); });
  EXPECT_EQ(start.result, Result::launched(0));
  EXPECT_FALSE(start.completed());

  const QStringList texts = test::terminalTexts(bin);
  ASSERT_EQ(texts.size(), 1);
  const QRegularExpression expected(
      "^" + QRegularExpression::escape(prefix() + "setup-me init; tlr_status=$?; touch '" + home.path() +
                                       "/.local/share/Tollamere/tlr-setup-done-setup-me-") +
      "\\d+'; ");
  EXPECT_TRUE(expected.match(texts.first()).hasMatch()) << texts.first().toStdString();
  ASSERT_TRUE(start.sentinel.has_value());
  EXPECT_TRUE(texts.first().contains("touch '" + *start.sentinel + "'"));
  // In this user's own folders, never in a /tmp another user can write to.
  EXPECT_EQ(AgentRecover::setupSentinelPath("odd%1id", 1700000000),
            home.path() + "/.local/share/Tollamere/tlr-setup-done-odd%1id-1700000000");
  {
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    const QString runtime = home.path() + "/run";
    ASSERT_TRUE(QDir().mkpath(runtime));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    EXPECT_EQ(AgentRecover::setupSentinelPath("a", 1), runtime + "/Tollamere/tlr-setup-done-a-1");
    EXPECT_EQ(QFileInfo(runtime + "/Tollamere").permissions() & 0x0077, 0);
    qputenv("XDG_RUNTIME_DIR", saved);
    if (saved.isNull()) qunsetenv("XDG_RUNTIME_DIR");
  }

  // Nothing is watched until asked; a quick setup that touched its sentinel
  // before the watch began still completes.
  EXPECT_TRUE(watcher.activeWatchers().isEmpty());
  QFile touched(*start.sentinel);
  ASSERT_TRUE(touched.open(QIODevice::WriteOnly));
  touched.close();
  bool completed = false;
  withWatcher.watchSetup(entry.id, *start.sentinel, [&] { completed = true; });
  EXPECT_TRUE(watcher.activeWatchers().contains("setup-me"));
  EXPECT_TRUE(test::waitUntil([&] { return completed; }));
  EXPECT_FALSE(QFile::exists(*start.sentinel));
}

TEST_F(AgentRecoverTerminal, AnAgentWithoutSetupSaysSo) {
  const AgentEntry entry =
      test::entryFromJson(R"("id":"plain","displayName":"Plain App","vendor":"v","kind":"desktop-app","identify":{})");
  const AgentRecover::SetupStart start = offMain([&] { return recover.userSetup(entry); });
  EXPECT_EQ(start.result.why, LocKey::alertReasonSetupUnsupported("Plain App"));
  expectShownInEnglish(start.result);
  EXPECT_EQ(LocTexts::text(AppLanguage::en, *start.result.why), "Plain App cannot be configured from here yet.");
  EXPECT_FALSE(start.completed());
  EXPECT_FALSE(start.sentinel.has_value());
}

TEST_F(AgentRecoverTerminal, AConfigFolderSetupOpensTheFolderThenCompletes) {
  bin.addRecorder("xdg-open");
  home.writeFile(".folder-agent/config.json", "{}");
  const AgentEntry entry = test::entryFromJson(
      R"("id":"folder-agent","displayName":"Folder","vendor":"v","kind":"cli","identify":{},)"
      R"("backup":{"discovery":{"primaryHomes":["~/.folder-agent"]}})");
  const AgentRecover::SetupStart start = offMain([&] { return recover.userSetup(entry); });
  EXPECT_EQ(start.result, Result::launched(0)) << start.result.reason.toStdString();
  EXPECT_TRUE(start.completed());
  EXPECT_FALSE(start.sentinel.has_value());
  EXPECT_TRUE(test::waitUntil(
      [&] { return test::readFile(bin.recordPath("xdg-open")) == home.path() + "/.folder-agent\n--\n"; }));
}

TEST_F(AgentRecoverTerminal, AConfigFolderThatCannotBeShownSaysWhyInTheWindowsLanguage) {
  // No file manager on this desktop: xdg-open ends with 3.
  bin.add("xdg-open", "exit 3\n");
  home.writeFile(".folder-agent/config.json", "{}");
  const AgentEntry entry = test::entryFromJson(
      R"("id":"folder-agent","displayName":"Folder","vendor":"v","kind":"cli","identify":{},)"
      R"("backup":{"discovery":{"primaryHomes":["~/.folder-agent"]}})");
  const AgentRecover::SetupStart start = offMain([&] { return recover.userSetup(entry); });
  EXPECT_EQ(start.result.kind, Result::Kind::failed);
  EXPECT_EQ(start.result.unopened, Result::Unopened::folder);
  EXPECT_EQ(start.result.why, LocKey::alertOpenerFailed(3));
  expectShownInEnglish(start.result);
  EXPECT_FALSE(start.completed()) << "a folder not shown is no finished setup";
}

class AgentRecoverGateway : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!logPath.isEmpty()) QFile::remove(logPath);
  }
  test::TempHome home;
  test::FakeBin bin;
  AgentRecover recover;
  QString logPath;
};

TEST_F(AgentRecoverGateway, AGatewayRunsDetachedAndEachRelaunchStartsItsLogAfresh) {
  test::addFakeTerminal(bin, false);
  // Each start numbers itself, so the log shows which start wrote it.
  const QString counter = bin.path() + "/starts";
  bin.add("tlr-gw-service", QStringLiteral("n=$(($(cat '%1' 2>/dev/null || echo 0) + 1)); echo $n > '%1'\n"
                                           "echo \"gateway up $n $*\"\n")
                                .arg(counter));
  const QString id = test::uniqueAgentName("tlr-test-gateway");
  logPath = AgentRecover::gatewayLogPath(id);
  EXPECT_EQ(logPath, home.path() + "/.local/state/Tollamere/logs/tlr-" + id + ".log");
  EXPECT_EQ(QFileInfo(QFileInfo(logPath).path()).permissions() & 0x0077, 0) << "the log folder is the user's own";
  const AgentEntry entry = test::entryFromJson(
      "\"id\":\"" + id.toUtf8() +
      R"(","displayName":"GW","vendor":"v","kind":"cli","identify":{},"serviceKind":"gateway",)"
      R"("recover":{"strategy":"exec-cli","command":["tlr-gw-service","--port","18789"]})");

  EXPECT_EQ(recover.recoverExecCli(entry), Result::launched(0));
  EXPECT_TRUE(test::waitUntil([&] { return test::readFile(logPath) == "gateway up 1 --port 18789\n"; }))
      << test::readFile(logPath).toStdString();
  // A link in the log's place (left by a copy of the folder, say) once made
  // every later relaunch fail: it is replaced, and what it led to is kept.
  ASSERT_TRUE(QFile::remove(logPath));
  const test::LinkedDocument document(logPath);
  EXPECT_EQ(recover.recoverExecCli(entry), Result::launched(0));
  EXPECT_TRUE(test::waitUntil([&] { return test::readFile(logPath) == "gateway up 2 --port 18789\n"; }))
      << test::readFile(logPath).toStdString();
  EXPECT_TRUE(document.untouched());
  EXPECT_TRUE(document.replacedByAFile());
  EXPECT_FALSE(QFile::exists(bin.recordPath("x-terminal-emulator"))) << "a gateway never opens a terminal";
}

TEST_F(AgentRecoverGateway, AnIdThatCannotNameAFileIsAFailedRelaunch) {
  const AgentEntry entry = test::entryFromJson(
      R"("id":"../evil","displayName":"Evil","vendor":"v","kind":"cli","identify":{},"serviceKind":"gateway",)"
      R"("recover":{"strategy":"exec-cli","command":["true"]})");
  const Result result = recover.recoverExecCli(entry);
  EXPECT_EQ(result.kind, Result::Kind::failed);
  EXPECT_TRUE(result.reason.contains("../evil"));
  expectShownInEnglish(result);
  EXPECT_FALSE(QFile::exists(home.path() + "/.local/state/Tollamere/logs/tlr-../evil.log"));
}

class AgentRecoverOpenApp : public ::testing::Test {
 protected:
  test::TempHome home;
  test::FakeBin bin;
  AgentRecover recover;
};

TEST_F(AgentRecoverOpenApp, TheApplicationOfTheBundleIdIsStartedAndItsPidReported) {
  const QString record = bin.recordPath("fake-app");
  bin.add("fake-app", QStringLiteral("echo started >> '%1'\nexec sleep 30\n").arg(record));
  home.writeFile(".local/share/applications/com.example.Fake.desktop",
                 "[Desktop Entry]\nType=Application\nName=Fake\nExec=" + bin.path().toUtf8() + "/fake-app %U\n");
  const AgentEntry entry = test::entryFromJson(
      R"("id":"fake","displayName":"Fake","vendor":"v","kind":"desktop-app","identify":{},)"
      R"("recover":{"strategy":"open-app","appBundleId":"com.example.Fake"})");

  const Result result = recover.recoverOpenApp(entry);
  ASSERT_EQ(result.kind, Result::Kind::launched) << result.reason.toStdString();
  EXPECT_GT(result.pid, 0);
  EXPECT_TRUE(test::waitUntil([&] { return test::readFile(record) == "started\n"; }));
  ProcessSignals::send(result.pid, SIGKILL);
}

TEST_F(AgentRecoverOpenApp, MissingOrUnknownBundleIdsFailWithTheirReasons) {
  const QByteArray base = R"("id":"a","displayName":"A","vendor":"v","kind":"desktop-app","identify":{})";
  const AgentEntry unknown =
      test::entryFromJson(base + R"(,"recover":{"strategy":"open-app","appBundleId":"com.example.None"})");
  const Result unnamed = recover.recoverOpenApp(test::entryFromJson(base));
  const Result relaunch = recover.recoverOpenApp(unknown);
  const Result launch = recover.userOpenApp(unknown);
  EXPECT_EQ(unnamed.why, LocKey::alertReasonNoApp());
  EXPECT_EQ(relaunch.why, LocKey::alertReasonAppNotFound("com.example.None"));
  EXPECT_EQ(launch.why, LocKey::alertReasonAppNotFound("com.example.None"));
  for (const Result& result : {unnamed, relaunch, launch}) expectShownInEnglish(result);
  EXPECT_EQ(LocTexts::text(AppLanguage::en, *launch.why),
            "No installed application has the identifier com.example.None.");
}

class AgentRecoverStop : public ::testing::Test {
 protected:
  test::TempHome home;
  SignalledPids signalled;
  AgentRecover recover{AgentRecoverTiming{std::chrono::milliseconds(400), std::chrono::milliseconds(50), 1800},
                       signalled};
};

TEST_F(AgentRecoverStop, EveryProcessGetsSigtermAndTheStubbornOnesSigkill) {
  const QString name = test::uniqueAgentName("tlr-stop-agent");
  const QString program = test::copyFakeAgent(home.path() + "/bin", name);
  auto registry = test::registryFromJson(R"({"schemaVersion":1,"updatedAt":"x","agents":[{"id":"stoppable",)"
                                         R"("displayName":"Stoppable","vendor":"v","kind":"cli",)"
                                         R"("identify":{"executableNames":[")" +
                                         name.toUtf8() + R"("]}}]})");
  const ProcessScanner scanner(registry);
  const AgentEntry entry = *registry->lookup("stoppable");
  EXPECT_EQ(recover.stopAgent(entry, scanner), Result::unsupported());

  test::SpawnedChild polite(program, {});
  test::SpawnedChild stubborn(program, {"ignore-term"});
  // One that gets no processor while the signals reach it (a busy machine)
  // has stopped all the same: it runs no more of its program.
  test::FrozenGroup frozen;
  std::optional<test::SpawnedChild> starved;
  if (frozen.available()) starved.emplace(program, QStringList{});
  const int count = starved ? 3 : 2;
  ASSERT_TRUE(test::waitUntil([&] { return scanner.scanAll().size() == count; }));
  ASSERT_TRUE(test::waitUntilIgnoring(stubborn.pid(), SIGTERM));
  if (starved) {
    ASSERT_TRUE(frozen.freeze(starved->pid()));
  }

  EXPECT_EQ(recover.stopAgent(entry, scanner), Result::launched(0));
  EXPECT_EQ(WTERMSIG(polite.wait()), SIGTERM);
  EXPECT_EQ(WTERMSIG(stubborn.wait()), SIGKILL);
  EXPECT_FALSE(signalled.take(polite.pid()).has(SIGKILL));
  EXPECT_TRUE(signalled.take(stubborn.pid()).has(SIGKILL));
  frozen.thaw();
  if (starved) {
    EXPECT_TRUE(WIFSIGNALED(starved->wait()));
  }
}

}  // namespace
}  // namespace tlr
