#include "watcher/AgentRestarter.h"

#include "RecoverTestSupport.h"
#include "core/texts/LocTexts.h"
#include "platform/Defaults.h"
#include "platform/ProcessSignals.h"
#include "support/FrozenGroup.h"
#include "support/SpawnedChild.h"
#include "watcher/AgentRecover.h"
#include "watcher/ProcessScanner.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <future>
#include <memory>
#include <vector>
#include <sys/wait.h>

namespace tlr {
namespace {

using namespace std::chrono_literals;
using Result = AgentRestarter::Result;
using Clock = std::chrono::steady_clock;

QString pidText(pid_t pid) { return QString::number(pid); }

class RestarterTest : public ::testing::Test {
 protected:
  RestarterTest() { setLanguage("en"); }
  ~RestarterTest() override {
    // A relaunched stand-in is not our child: ended here by its pid.
    if (scanner)
      for (pid_t pid : scanner->pidsOf(id)) ProcessSignals::send(pid, SIGKILL);
    if (!id.isEmpty()) QFile::remove(AgentRecover::gatewayLogPath(id));
  }

  static void setLanguage(const char* language) {
    Defaults::shared().set("TLR.language", QString(language));
  }

  enum class Relaunch { none, asGateway };

  // An agent named "Fake" that is a fresh copy of the stand-in agent program;
  // `members` adds to its entry. asGateway: started again as a detached
  // gateway service.
  AgentEntry fakeAgent(Relaunch relaunch = Relaunch::none, QByteArray members = {}) {
    id = test::uniqueAgentName("tlr-restart-agent");
    program = test::copyFakeAgent(home.path() + "/bin", id);
    if (relaunch == Relaunch::asGateway)
      members += R"(,"serviceKind":"gateway","recover":{"strategy":"exec-cli","command":[")" + program.toUtf8() + "\"]}";
    registry = test::registryFromJson(R"({"schemaVersion":1,"updatedAt":"x","agents":[{"id":")" + id.toUtf8() +
                                      R"(","displayName":"Fake","vendor":"v","kind":"cli",)"
                                      R"("identify":{"executableNames":[")" +
                                      id.toUtf8() + "\"]}" + members + "}]}");
    scanner = std::make_shared<const ProcessScanner>(registry);
    return *registry->lookup(id);
  }
  // An agent with a graceful restart of these members (JSON).
  AgentEntry gracefulAgent(const QByteArray& restartMembers) {
    return fakeAgent(Relaunch::none, R"(,"restart":{)" + restartMembers + "}");
  }

  AgentRestarter restarter(ProcessAliveProbe isAlive = systemAliveProbe()) const {
    return AgentRestarter(scanner, recover, timing, signalled, std::move(isAlive));
  }
  AgentRestarter::Outcome restart(const AgentEntry& entry, bool dryRun = false) const {
    return restarter().restart(entry, dryRun);
  }
  bool waitForRunning(int count) const {
    return test::waitUntil([&] { return scanner->pidsOf(id).size() == count; }, 5s);
  }

  test::TempHome home;
  mutable SignalledPids signalled;
  std::shared_ptr<const AgentRecover> recover = std::make_shared<const AgentRecover>(AgentRecoverTiming{}, signalled);
  AgentRestarterTiming timing{400ms, 50ms, 100ms, 300ms, 0ms, 0ms};
  QString id;
  QString program;
  std::shared_ptr<const AgentRegistry> registry;
  std::shared_ptr<const ProcessScanner> scanner;
};

// ---- Graceful restart ----

TEST_F(RestarterTest, AVerifyThatPassesEndsTheGracefulRestart) {
  const AgentEntry entry = gracefulAgent(
      R"("command":["sh","-c","printf restarting; printf warned >&2"],)"
      R"("verifyCommand":["sh","-c","printf 'gateway ' ; printf ok >&2"],)"
      R"("verifyOutputContains":"gateway ok","verifyOutputNotContains":"not running",)"
      R"("fallbackCommand":["sh","-c","exit 9"])");
  const auto [result, report] = restart(entry);
  EXPECT_EQ(result, Result::success(0));
  EXPECT_EQ(report,
            "=== Restart Fake ===\n"
            "· Graceful: will run sh -c printf restarting; printf warned >&2\n"
            "· Command exit code 0\n"
            "  stdout: restarting\n"
            "  stderr: warned\n"
            "· ✓ verify passed (exit=0 + string check passed)");
}

TEST_F(RestarterTest, TheNewPidIsTheAgentsFirstRunningProcess) {
  const AgentEntry entry = gracefulAgent(R"("command":["true"])");
  test::SpawnedChild agent(program, {});
  ASSERT_TRUE(waitForRunning(1));
  const auto [result, report] = restart(entry);
  EXPECT_EQ(result, Result::success(agent.pid()));
  EXPECT_TRUE(report.endsWith("\n· Command exit code 0\n· (No verify configured, exit=0 means success)"));
  EXPECT_FALSE(signalled.contains(agent.pid())) << "a graceful restart sends no signal";
}

TEST_F(RestarterTest, AFailedVerifyRunsTheFallbackAndVerifiesAgain) {
  const QString marker = home.path() + "/restarted";
  const AgentEntry entry = gracefulAgent(R"("command":["true"],"verifyCommand":["test","-f",")" + marker.toUtf8() +
                                         R"("],"fallbackCommand":["touch",")" + marker.toUtf8() + "\"]");
  const auto [result, report] = restart(entry);
  EXPECT_EQ(result, Result::success(0));
  EXPECT_EQ(report,
            "=== Restart Fake ===\n"
            "· Graceful: will run true\n"
            "· Command exit code 0\n"
            "· verify failed: exit=1, expected 0\n"
            "· Fallback: touch " + marker + "\n"
            "· Fallback exit code 0\n"
            "· ✓ verify passed after fallback (exit=0 + string check passed)");
}

TEST_F(RestarterTest, AVerifyFailingAfterTheFallbackTooFailsTheRestart) {
  const AgentEntry entry = gracefulAgent(
      R"("command":["true"],"verifyCommand":["sh","-c","echo gateway not running"],)"
      R"("verifyOutputNotContains":"not running","fallbackCommand":["sh","-c","exit 4"])");
  const auto [result, report] = restart(entry);
  EXPECT_EQ(result, Result::relaunchFailed("Graceful command ran but verify failed", LocKey::restartReasonGracefulFailedVerify()));
  EXPECT_TRUE(report.endsWith(
      "· verify failed: exit OK but output contains \"not running\" (false positive)\n"
      "· Fallback: sh -c exit 4\n"
      "· Fallback exit code 4\n"
      "· Fallback verify still failing: exit OK but output contains \"not running\" (false positive)"))
      << report.toStdString();
}

TEST_F(RestarterTest, WithoutAFallbackAFailedVerifyFailsInTheCurrentLanguage) {
  setLanguage("zh");
  const AgentEntry entry = gracefulAgent(
      R"("command":["true"],"verifyCommand":["sh","-c","echo starting; exit 2"],"expectVerifyExitCode":2,)"
      R"("verifyOutputContains":"listening")");
  const auto [result, report] = restart(entry);
  const LocKey why = LocKey::restartReasonGracefulFailedVerify();
  EXPECT_EQ(result, Result::relaunchFailed(LocTexts::text(AppLanguage::zh, why), why));
  EXPECT_EQ(report,
            "=== 重启 Fake ===\n"
            "· 优雅档：将运行 true\n"
            "· 命令退出码 0\n"
            "· verify 失败：exit 通过但输出不含 \"listening\"");
}

TEST_F(RestarterTest, AVerifyThatNeverRanIsNeverAPass) {
  // The code of a command that did not run is -1; expecting -1 must not turn
  // "not run" into "verified".
  AgentEntry entry = gracefulAgent(R"("command":["true"])");
  entry.restart->verifyCommand = Command{};
  entry.restart->expectVerifyExitCode = -1;
  const auto [result, report] = restart(entry);
  EXPECT_EQ(result, Result::relaunchFailed("Graceful command ran but verify failed", LocKey::restartReasonGracefulFailedVerify()));
  EXPECT_TRUE(report.endsWith("\n· verify failed: argv empty")) << report.toStdString();
}

TEST_F(RestarterTest, ANonZeroExitWithoutVerifyFailsAndShowsThreeHundredCharacters) {
  const AgentEntry entry = gracefulAgent(R"("command":["sh","-c","printf '%01000d' 0; exit 3"])");
  const auto [result, report] = restart(entry);
  EXPECT_EQ(result, Result::relaunchFailed("Graceful command exited 3", LocKey::restartReasonGracefulExitNonZero(3)));
  EXPECT_TRUE(report.endsWith("· Command exit code 3\n  stdout: " + QString(300, '0'))) << report.toStdString();
}

TEST_F(RestarterTest, ACommandStoppedAtItsLimitFailsTheRestart) {
  timing.checkLimit = 300ms;
  timing.changeLimit = 600ms;
  // Stopped half-way, a restart proves nothing, whatever the verify says.
  const auto [stopped, stoppedReport] = restart(gracefulAgent(
      R"("command":["sh","-c","echo reinstalling; exec sleep 30"],"verifyCommand":["true"])"));
  EXPECT_EQ(stopped, Result::relaunchFailed("Restart command did not finish within 1 s", LocKey::restartReasonTimedOut(1)));
  EXPECT_TRUE(stoppedReport.endsWith("· Command did not finish within 1 s, stopped\n  stdout: reinstalling"))
      << stoppedReport.toStdString();

  // A verify stopped at its limit has verified nothing, even with the code it
  // expects; a fallback stopped at its limit ends the restart.
  setLanguage("zh");
  const auto [failed, failedReport] = restart(gracefulAgent(
      R"("command":["true"],"verifyCommand":["sh","-c","exec sleep 30"],"expectVerifyExitCode":143,)"
      R"("fallbackCommand":["sleep","30"])"));
  EXPECT_EQ(failed, Result::relaunchFailed(LocTexts::text(AppLanguage::zh, LocKey::restartReasonTimedOut(1)),
                                           LocKey::restartReasonTimedOut(1)));
  EXPECT_TRUE(failedReport.endsWith("· verify 失败：1 秒内未完成\n· 兜底：sleep 30\n· 兜底 1 秒内未完成，已中止"))
      << failedReport.toStdString();
}

// ---- Restart by signals ----

TEST_F(RestarterTest, SigkillFollowsTheGraceTimeThenTheAgentIsRelaunched) {
  const AgentEntry entry = fakeAgent(Relaunch::asGateway);
  test::SpawnedChild polite(program, {});
  test::SpawnedChild stubborn(program, {"ignore-term"});
  ASSERT_TRUE(waitForRunning(2));
  ASSERT_TRUE(test::waitUntilIgnoring(stubborn.pid(), SIGTERM));
  const QList<pid_t> old = scanner->pidsOf(id);
  timing.afterExit = 400ms;

  const Clock::time_point start = Clock::now();
  auto restarted = std::async(std::launch::async, [&] { return restart(entry); });
  // The polite one ends on the SIGTERM: its end tells when that was sent,
  // which the scan before it, slow on a busy machine, does not delay.
  EXPECT_EQ(WTERMSIG(polite.wait()), SIGTERM);
  const auto politeGone = Clock::now() - start;
  EXPECT_EQ(WTERMSIG(stubborn.wait()), SIGKILL);
  const auto stubbornGone = Clock::now() - start;
  const auto [result, report] = restarted.get();
  // A full pause once all are gone, then the relaunch settles.
  EXPECT_GE(Clock::now() - start - stubbornGone, timing.afterExit + timing.relaunchSettle - 50ms);

  // The SIGKILL follows the grace after the SIGTERM, not before it, nor
  // long after.
  EXPECT_GE(stubbornGone, timing.termGrace);
  EXPECT_LT(stubbornGone - politeGone, timing.termGrace + 1s);
  // The new instance is the one the scan finds, not the relaunch's pid 0.
  const QList<pid_t> now = scanner->pidsOf(id);
  ASSERT_EQ(now.size(), 1);
  EXPECT_EQ(result, Result::success(now[0]));
  EXPECT_EQ(report, "=== Restart Fake ===\n"
                    "· This agent has no graceful restart command, using SIGTERM brute force\n"
                    "· Found 2 pid(s): " + pidText(old[0]) + ", " + pidText(old[1]) + "\n"
                    "· Sending SIGTERM…\n"
                    "· Still 1 survivor(s) [" + pidText(stubborn.pid()) + "] → SIGKILL\n"
                    "· All exited (force-killed)\n"
                    "· Calling recover.recover to spawn new instance…\n"
                    "· ✓ New instance pid=" + pidText(now[0]) + " is up and running")
      << report.toStdString();
  // Only the stubborn one got our SIGKILL.
  EXPECT_FALSE(signalled.take(polite.pid()).has(SIGKILL));
  EXPECT_TRUE(signalled.take(stubborn.pid()).has(SIGKILL));
  EXPECT_FALSE(old.contains(now[0]));
}

TEST_F(RestarterTest, EachInstanceComesBackInTheFolderItRanIn) {
  test::FakeBin bin;
  test::addFakeTerminal(bin, /*runs=*/false);
  const AgentEntry entry = fakeAgent(Relaunch::none, R"(,"recover":{"strategy":"exec-cli","command":["x"]})");
  const QString projA = home.path() + "/projA", projB = home.path() + "/projB";
  QDir().mkpath(projA);
  QDir().mkpath(projB);
  test::SpawnedChild a("/bin/sh", {"-c", "cd " + projA + " && exec " + program});
  ASSERT_TRUE(waitForRunning(1));
  test::SpawnedChild b("/bin/sh", {"-c", "cd " + projB + " && exec " + program});
  ASSERT_TRUE(waitForRunning(2));
  const auto [result, report] = restart(entry);
  QStringList folders = test::terminalFolders(bin, 2);
  folders.sort();  // in the order of their pids
  EXPECT_EQ(folders, (QStringList{projA, projB})) << report.toStdString();
  EXPECT_EQ(test::terminalTexts(bin, 2).size(), 2);
}

TEST_F(RestarterTest, WithoutARelaunchStrategyTheAgentStaysStopped) {
  const AgentEntry entry = fakeAgent();
  test::SpawnedChild agent(program, {});
  ASSERT_TRUE(waitForRunning(1));
  const auto [result, report] = restart(entry);
  EXPECT_EQ(result, Result::relaunchFailed("agent has no recover strategy", LocKey::restartReasonNoRecover()));
  EXPECT_TRUE(report.endsWith("· Sending SIGTERM…\n"
                              "· All exited (graceful)\n"
                              "· Calling recover.recover to spawn new instance…\n"
                              "· ✗ recover does not support this agent"))
      << report.toStdString();
  EXPECT_EQ(WTERMSIG(agent.wait()), SIGTERM);

  // A relaunch that fails says why in the report's language, not in the
  // words it logged.
  const AgentEntry failing = fakeAgent(Relaunch::none, R"(,"recover":{"strategy":"exec-cli"})");
  test::SpawnedChild second(program, {});
  ASSERT_TRUE(waitForRunning(1));
  const auto [failed, failedReport] = restart(failing);
  const QString why = "The registry gives no command to launch this agent.";
  EXPECT_EQ(failed, Result::relaunchFailed(why, LocKey::alertReasonNoCommand()));
  EXPECT_TRUE(failedReport.endsWith("· ✗ recover failed: " + why)) << failedReport.toStdString();
  EXPECT_EQ(WTERMSIG(second.wait()), SIGTERM);
}

TEST_F(RestarterTest, AnAgentThatIsNotRunningIsNotRestarted) {
  const auto [result, report] = restart(fakeAgent(Relaunch::asGateway));
  EXPECT_EQ(result, Result::notRunning());
  EXPECT_EQ(report, "=== Restart Fake ===\n"
                    "· This agent has no graceful restart command, using SIGTERM brute force\n"
                    "· Agent not running");
  EXPECT_TRUE(scanner->pidsOf(id).isEmpty());
}

// After SIGKILL the processes are looked at until the pause is over: only
// one that still runs its program then is stuck. One that gets no processor
// when the signals reach it (a busy machine) has ended all the same.
TEST_F(RestarterTest, OnlyAProcessThatOutlivesSigkillAbandonsTheRestart) {
  struct Case {
    const char* what;
    QStringList mode;
    bool frozen;
    // The probe, given the agent's pid; none: the system's.
    std::function<ProcessAliveProbe(pid_t)> probe;
    bool stuck;
  };
  const std::vector<Case> cases{
      {"seen running whatever happens to it", {}, false,
       [](pid_t agent) { return [agent](pid_t asked) { return asked == agent; }; }, true},
      {"seen running for two looks more after it ended, as a process slow to tear down", {"ignore-term"}, false,
       [](pid_t) {
         return [looks = std::make_shared<int>(0)](pid_t asked) {
           return ProcessSignals::isAlive(asked) || (*looks)++ < 2;
         };
       },
       false},
      {"frozen while SIGTERM and SIGKILL reach it", {}, true, {}, false},
  };
  timing.afterExit = 1s;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const AgentEntry entry = fakeAgent(Relaunch::asGateway);
    test::FrozenGroup frozen;
    if (c.frozen && !frozen.available()) continue;  // needs root and the kernel's freezer
    test::SpawnedChild agent(program, c.mode);
    ASSERT_TRUE(waitForRunning(1));
    if (c.mode.contains("ignore-term")) {
      ASSERT_TRUE(test::waitUntilIgnoring(agent.pid(), SIGTERM));
    }
    if (c.frozen) {
      ASSERT_TRUE(frozen.freeze(agent.pid()));
    }
    const auto [result, report] = (c.probe ? restarter(c.probe(agent.pid())) : restarter()).restart(entry, false);
    frozen.thaw();
    EXPECT_TRUE(WIFSIGNALED(agent.wait()));
    if (c.stuck) {
      EXPECT_EQ(result, Result::killTimeout({agent.pid()}));
      EXPECT_TRUE(report.endsWith("· After SIGKILL still 1 running — abnormal, aborting")) << report.toStdString();
      EXPECT_TRUE(scanner->pidsOf(id).isEmpty()) << "nothing was relaunched";
      continue;
    }
    const QList<pid_t> now = scanner->pidsOf(id);
    for (const pid_t pid : now) ProcessSignals::send(pid, SIGKILL);
    EXPECT_EQ(now.size(), 1) << report.toStdString();
    EXPECT_EQ(result, Result::success(now.value(0))) << report.toStdString();
  }
}

// ---- Dry run ----

TEST_F(RestarterTest, ADryRunDescribesTheSignalsInBothLanguagesAndSendsNone) {
  const AgentEntry entry = fakeAgent(Relaunch::asGateway);
  test::SpawnedChild agent(program, {});
  ASSERT_TRUE(waitForRunning(1));
  const QString pid = pidText(agent.pid());

  const auto [result, english] = restart(entry, /*dryRun=*/true);
  EXPECT_EQ(result, Result::success(0));
  EXPECT_EQ(english, "=== Restart Fake ===\n"
                     "[DRY RUN — not executed]\n"
                     "· This agent has no graceful restart command, using SIGTERM brute force\n"
                     "· Found 1 pid(s): " + pid + "\n"
                     "  - pid " + pid + ": accessible\n"
                     "· Simulating: would send SIGTERM → wait 5s → SIGKILL if alive → call recover.recover");
  setLanguage("zh");
  EXPECT_EQ(restart(entry, true).report, "=== 重启 Fake ===\n"
                                         "[DRY RUN —— 不真执行]\n"
                                         "· 该 agent 未配置优雅重启命令，走 SIGTERM 暴力档\n"
                                         "· 找到 1 个 pid：" + pid + "\n"
                                         "  - pid " + pid + ": 可访问\n"
                                         "· 模拟：会发 SIGTERM → 等 5s → 没退就 SIGKILL → 调 recover.recover");
  EXPECT_FALSE(signalled.contains(agent.pid()));
  EXPECT_EQ(scanner->pidsOf(id), QList<pid_t>{agent.pid()});
}

TEST_F(RestarterTest, ADryRunOfAGracefulRestartRunsNoCommand) {
  const QString marker = home.path() + "/ran";
  const QByteArray touch = R"(["touch",")" + marker.toUtf8() + "\"]";
  const AgentEntry entry =
      gracefulAgent(R"("command":)" + touch + R"(,"verifyCommand":["true"],"fallbackCommand":)" + touch);
  const auto [result, report] = restart(entry, true);
  EXPECT_EQ(result, Result::success(0));
  EXPECT_EQ(report, "=== Restart Fake ===\n"
                    "[DRY RUN — not executed]\n"
                    "· Graceful: will run touch " + marker + "\n"
                    "· Then verify with: true\n"
                    "· On verify fail → fallback: touch " + marker);
  EXPECT_FALSE(QFile::exists(marker));
}

}  // namespace
}  // namespace tlr
