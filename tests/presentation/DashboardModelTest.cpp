#include "presentation/DashboardTestSupport.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace tlr {
namespace {

using test::agentEntry;
using test::runningRecord;
using Kind = AgentEntry::Kind;

class DashboardModelTest : public ::testing::Test, protected test::DashboardFixture {};

TEST_F(DashboardModelTest, NoInstalledAgentsStillPublishesAnEmptyList) {
  int published = 0;
  QObject::connect(&model, &DashboardModel::dashboardItemsChanged, [&] { ++published; });
  model.update({agentEntry("a")}, {});
  model.update({}, {});
  EXPECT_TRUE(model.dashboardItems().isEmpty());
  EXPECT_EQ(published, 2);
  // The same lists again publish again.
  model.refresh();
  EXPECT_EQ(published, 3);
}

TEST_F(DashboardModelTest, RowsFollowTheWeightsAndKeepInstalledOrderAmongEquals) {
  model.setWatcher(&actions);
  const AgentEntry app1 = agentEntry("app1", Kind::desktopApp), app2 = agentEntry("app2", Kind::desktopApp);
  const AgentEntry cliRun = agentEntry("cliRun"), cliLocked = agentEntry("cliLocked");
  const AgentEntry plugin = agentEntry("plugin", Kind::idePlugin), pluginRun = agentEntry("pluginRun", Kind::idePlugin);
  const AgentEntry appLockedRun = agentEntry("appLockedRun", Kind::desktopApp);
  const AgentEntry thr1 = agentEntry("thr1", Kind::desktopApp), thr2 = agentEntry("thr2");
  lockOnline.setLocked("cliLocked", true);
  lockOnline.setLocked("appLockedRun", true);
  lockOnline.setLocked("pluginRun", true);
  lockOnline.setLocked("thr1", true);
  actions.throttled = {"thr1", "thr2"};

  model.update({thr1, app1, plugin, cliRun, thr2, app2, cliLocked, pluginRun, appLockedRun},
               {runningRecord(cliRun, 11), runningRecord(pluginRun, 12), runningRecord(appLockedRun, 13),
                runningRecord(thr1, 14)});
  // 0 appLockedRun, 2 pluginRun, 11 cliRun, 101 cliLocked, 110 app1, 110 app2,
  // 112 plugin, then both throttled rows in installed order.
  EXPECT_EQ(ids(), (QStringList{"appLockedRun", "pluginRun", "cliRun", "cliLocked", "app1", "app2", "plugin",
                                "thr1", "thr2"}));
  EXPECT_EQ(DashboardModel::orderWeight(row("appLockedRun")), 0);
  EXPECT_EQ(DashboardModel::orderWeight(row("pluginRun")), 2);
  EXPECT_EQ(DashboardModel::orderWeight(row("cliRun")), 11);
  EXPECT_EQ(DashboardModel::orderWeight(row("cliLocked")), 101);
  EXPECT_EQ(DashboardModel::orderWeight(row("app2")), 110);
  EXPECT_EQ(DashboardModel::orderWeight(row("plugin")), 112);
  EXPECT_EQ(DashboardModel::orderWeight(row("thr1")), 1000);

  // A throttled, running agent sorts last yet is shown running and faulted.
  const DashboardAgentItem& t = row("thr1");
  EXPECT_TRUE(t.isRunning);
  EXPECT_TRUE(t.isThrottled);
  EXPECT_TRUE(t.isFaulted);
  EXPECT_EQ(t.bigStatusText, QString::fromUtf8("有故障 · 1 个运行中"));
  EXPECT_EQ(row("thr2").bigStatusText, QString::fromUtf8("有故障"));

  // Reversing the installed order reverses the order among equal weights only.
  model.update({app2, app1, cliRun}, {runningRecord(cliRun, 11)});
  EXPECT_EQ(ids(), (QStringList{"cliRun", "app2", "app1"}));
}

TEST_F(DashboardModelTest, WithoutAWatcherNothingIsThrottled) {
  actions.throttled = {"a"};
  model.update({agentEntry("a"), agentEntry("b")}, {});
  EXPECT_FALSE(row("a").isThrottled);
  EXPECT_FALSE(row("a").isFaulted);
  EXPECT_EQ(ids(), (QStringList{"a", "b"}));
  model.setWatcher(&actions);
  model.refresh();
  EXPECT_TRUE(row("a").isThrottled);
  EXPECT_EQ(ids(), (QStringList{"b", "a"}));
}

TEST_F(DashboardModelTest, OnlyTheNewestEventDecidesTheFaultMark) {
  settings.setLanguage(AppLanguage::en);
  const QList<AgentEntry> installed{agentEntry("crashThenStart"), agentEntry("crashThenLock"),
                                    agentEntry("hungRunning"),    agentEntry("runaway"),
                                    agentEntry("quiet"),          agentEntry("startThenCrash"),
                                    agentEntry("oom")};
  addEvent("crashThenStart", AgentEventType::exitedAbnormal);
  addEvent("crashThenStart", AgentEventType::started);
  addEvent("crashThenLock", AgentEventType::exitedAbnormal);
  addEvent("crashThenLock", AgentEventType::lockOnlineEnabled);
  addEvent("hungRunning", AgentEventType::hangDetected);
  addEvent("runaway", AgentEventType::runawayDetected, "cpu 180%");
  addEvent("startThenCrash", AgentEventType::started);
  addEvent("startThenCrash", AgentEventType::exitedAbnormal);
  addEvent("oom", AgentEventType::killedByOOM);
  // Events of other agents in between do not hide an agent's own.
  addEvent("someoneElse", AgentEventType::started);

  model.update(installed, {runningRecord(installed[2], 20), runningRecord(installed[3], 21),
                           runningRecord(installed[0], 22)});
  EXPECT_FALSE(row("crashThenStart").isFaulted);
  EXPECT_EQ(row("crashThenStart").bigStatusText, "Running");
  EXPECT_FALSE(row("crashThenLock").isFaulted);
  EXPECT_EQ(row("crashThenLock").bigStatusText, "Stopped");
  EXPECT_TRUE(row("hungRunning").isFaulted);
  EXPECT_TRUE(row("hungRunning").isRunning);
  EXPECT_EQ(row("hungRunning").bigStatusText, "Faulted · 1 running");
  EXPECT_TRUE(row("runaway").isFaulted);
  EXPECT_FALSE(row("quiet").isFaulted);
  EXPECT_TRUE(row("startThenCrash").isFaulted);
  EXPECT_TRUE(row("oom").isFaulted);
  // The fault mark plays no part in the order: running rows come first.
  EXPECT_EQ(ids().mid(0, 3), (QStringList{"crashThenStart", "hungRunning", "runaway"}));

  // A new event shows at once: the model follows the event log.
  addEvent("hungRunning", AgentEventType::restarted);
  EXPECT_FALSE(row("hungRunning").isFaulted);
  EXPECT_EQ(row("hungRunning").bigStatusText, "Running");

  // An exit, known before any scan: its process is dropped and its event
  // rebuilds the rows, once. Another process of the agent keeps it running.
  model.update(installed, {runningRecord(installed[2], 20), runningRecord(installed[0], 22),
                           runningRecord(installed[0], 23)});
  int published = 0;
  QObject::connect(&model, &DashboardModel::dashboardItemsChanged, [&] { ++published; });
  model.forgetProcess(20);
  addEvent("hungRunning", AgentEventType::exitedAbnormal);
  EXPECT_EQ(published, 1);
  EXPECT_FALSE(row("hungRunning").isRunning);
  EXPECT_EQ(row("hungRunning").bigStatusText, "Faulted");
  model.forgetProcess(22);
  addEvent("crashThenStart", AgentEventType::exitedNormal);
  EXPECT_TRUE(row("crashThenStart").isRunning);
  EXPECT_EQ(published, 2);
}

TEST_F(DashboardModelTest, StatusWordsFollowTheLanguageAtOnce) {
  model.setWatcher(&actions);
  actions.throttled = {"f", "fr"};
  const AgentEntry r = agentEntry("r"), s = agentEntry("s"), f = agentEntry("f"), two = agentEntry("two"),
                   fr = agentEntry("fr");
  settings.setLanguage(AppLanguage::zh);
  // Two instances of "two", the first with a helper process of its own.
  auto instance = [&](pid_t pid, pid_t of) {
    RunningAgent record = runningRecord(two, pid);
    record.instancePid = of;
    return record;
  };
  // "fr" has a throttled instance and another that runs.
  model.update({r, s, f, two, fr},
               {runningRecord(r, 5), instance(6, 6), instance(7, 7), instance(8, 6), runningRecord(fr, 9)});
  EXPECT_EQ(row("two").instances, 2);
  EXPECT_EQ(row("r").instances, 1);
  EXPECT_EQ(row("s").instances, 0);
  EXPECT_EQ(row("two").bigStatusText, QString::fromUtf8("运行中 ×2"));
  EXPECT_EQ(row("r").bigStatusText, QString::fromUtf8("运行中"));
  EXPECT_EQ(row("s").bigStatusText, QString::fromUtf8("未运行"));
  EXPECT_EQ(row("f").bigStatusText, QString::fromUtf8("有故障"));
  EXPECT_EQ(row("fr").bigStatusText, QString::fromUtf8("有故障 · 1 个运行中"));
  settings.setLanguage(AppLanguage::en);
  EXPECT_EQ(row("r").bigStatusText, "Running");
  EXPECT_EQ(row("two").bigStatusText, QString::fromUtf8("Running ×2"));
  EXPECT_EQ(row("s").bigStatusText, "Stopped");
  EXPECT_EQ(row("f").bigStatusText, "Faulted");
  EXPECT_EQ(row("fr").bigStatusText, "Faulted · 1 running");
}

TEST_F(DashboardModelTest, FlagsComeFromTheStoresAndTheRunningRecord) {
  const AgentEntry managed = agentEntry("managed"), plain = agentEntry("plain");
  lockOnline.setLocked("plain", true);
  model.update({managed, plain}, {runningRecord(managed, 7, /*launchdManaged=*/true)});
  EXPECT_TRUE(row("managed").isLaunchdManaged);
  EXPECT_TRUE(row("managed").isRunning);
  EXPECT_FALSE(row("managed").isLockedOnline);
  EXPECT_TRUE(row("plain").isLockedOnline);
  EXPECT_FALSE(row("plain").isLaunchdManaged);
  EXPECT_FALSE(row("plain").isRunning);
  EXPECT_EQ(row("plain").entry.id, "plain");
  EXPECT_EQ(model.installedIds(), (QSet<QString>{"managed", "plain"}));
  EXPECT_EQ(model.lastRunning().size(), 1);
}

TEST_F(DashboardModelTest, EmbeddedCommandLineAgentNamesItsParentRow) {
  settings.setLanguage(AppLanguage::en);
  const AgentEntry ide = agentEntry("ide", Kind::desktopApp), other = agentEntry("other", Kind::desktopApp);
  AgentEntry cli = agentEntry("cli");
  cli.displayNameEN = "Coder CLI";
  cli.displayNameZH = QString::fromUtf8("编码助手");
  model.update({ide, other, cli}, {runningRecord(ide, 100), runningRecord(cli, 101, false, QString("ide"))});
  EXPECT_EQ(row("ide").embeddedCliPID, std::optional<pid_t>(101));
  EXPECT_EQ(row("ide").embeddedCliName, std::optional<QString>("Coder CLI"));
  EXPECT_FALSE(row("other").embeddedCliPID.has_value());
  EXPECT_FALSE(row("other").embeddedCliName.has_value());
  // The same record makes the command-line agent's own row a running one.
  EXPECT_TRUE(row("cli").isRunning);
  EXPECT_FALSE(row("cli").embeddedCliPID.has_value());

  // An embedded record whose parent has no row, and a running agent that is
  // not installed, show nothing.
  const AgentEntry stray = agentEntry("stray");
  model.update({other}, {runningRecord(stray, 300, false, QString("gone")), runningRecord(cli, 301, false, QString("other"))});
  EXPECT_EQ(ids(), QStringList{"other"});
  EXPECT_EQ(row("other").embeddedCliPID, std::optional<pid_t>(301));
}

TEST_F(DashboardModelTest, DuplicatesAreToleratedAndTheFirstRecordWins) {
  const AgentEntry ide = agentEntry("ide", Kind::desktopApp), cliA = agentEntry("cliA"), cliB = agentEntry("cliB");
  model.update({ide, cliA, ide, cliB},
               {runningRecord(cliA, 10, false, QString("ide")), runningRecord(cliB, 11, false, QString("ide")),
                runningRecord(ide, 12, /*launchdManaged=*/false), runningRecord(ide, 13, /*launchdManaged=*/true)});
  // One row per id, the embedded process and the running record each the
  // first given.
  EXPECT_EQ(ids(), (QStringList{"ide", "cliA", "cliB"}));
  EXPECT_EQ(row("ide").embeddedCliPID, std::optional<pid_t>(10));
  EXPECT_FALSE(row("ide").isLaunchdManaged);
}

TEST_F(DashboardModelTest, EachRowSaysWhatHappenedInTheWindowsLanguageNeverInTheStoredOne) {
  const auto text = [](AgentEventType type, const QString& details, const std::optional<EventText>& kept,
                        AppLanguage language) {
    return DashboardModel::eventText(AgentEvent{QUuid::createUuid(), "a", type, 1, details, kept}, language);
  };
  using T = AgentEventType;
  struct Case {
    AgentEventType type;
    QString stored;  // as it was recorded, in either language
    QString en;
    QString zh;
    // What a newer event keeps of its meaning.
    std::optional<EventText> kept = std::nullopt;
  };
  const QString throttledEn = "Repeated failures — recovery paused, please check";
  const QString throttledZh = "反复异常，已暂停接管，请检查处理";
  const Case cases[] = {
      // A user's actions recorded as another type say what was done.
      {T::restarted, "用户主动退出", "Manual stop", "用户主动退出"},
      {T::restarted, "Stop failed", "Stop failed", "退出失败"},
      {T::restarted, "Setup completed, auto check started", "Setup completed, auto check started",
       "setup 完成，自动开始体检"},
      {T::recovered, "用户手动启动", "Manual launch", "用户手动启动"},
      {T::recovered, "pid=4242", "Auto-recovered", "已自动恢复"},
      {T::restarted, "Manual restart → new pid 4242", "Manual restart → new pid 4242", "用户主动重启 → 新 pid 4242"},
      {T::throttled, "Restart stuck: SIGKILL failed on [812, 907]", "Restart stuck: SIGKILL failed on [812, 907]",
       "重启卡住：SIGKILL 也杀不掉 [812, 907]"},
      {T::throttled, "重启失败：优雅命令 exit 3", "Restart failed: Graceful command exited 3", "重启失败：优雅命令 exit 3"},
      {T::throttled, "Restart failed: Restart command did not finish within 600 s",
       "Restart failed: Restart command did not finish within 600 s", "重启失败：重启命令 600 秒内未完成"},
      {T::throttled, "重启失败：osascript 执行失败: 无终端", "Restart failed", "重启失败"},
      {T::throttled, "无可用恢复策略", "No recovery strategy available", "无可用恢复策略"},
      {T::exitedAbnormal, "恢复失败：已重新启动，但 3 秒后已不在运行", "Recovery failed: relaunched, but not running 3 s later",
       "恢复失败：已重新启动，但 3 秒后已不在运行"},
      // Doctor runs and fixes, recorded in Chinese.
      {T::restarted, "诊断完成 exit=0 · 无已知问题", "Diagnosis done, exit 0 · no known issues",
       "诊断完成 exit=0 · 无已知问题"},
      {T::restarted, "诊断完成 exit=1 · 识别 2 个问题", "Diagnosis done, exit 1 · 2 known issues found",
       "诊断完成 exit=1 · 识别 2 个问题"},
      {T::restarted, "诊断完成 exit=1 · 识别 1 个问题", "Diagnosis done, exit 1 · 1 known issue found",
       "诊断完成 exit=1 · 识别 1 个问题"},
      {T::restarted, "诊断完成 exit=2 · 无已知问题", "Diagnosis did not succeed, exit 2", "诊断未成功 exit=2"},
      {T::restarted, "诊断未完成 · 120 秒内未结束", "Diagnosis did not finish within 120 s", "诊断未完成 · 120 秒内未结束"},
      {T::restarted, "修复成功 [stale-token] 已更新 ~/.x.json：a = \"b\"", "Fix succeeded [stale-token]",
       "修复成功 [stale-token]"},
      {T::restarted, "修复失败 [port] Command exited 3: busy", "Fix failed [port]", "修复失败 [port]"},
      // Anything else reads as its type.
      {T::throttled, "osascript 执行失败: 无终端", throttledEn, throttledZh},
      {T::restarted, "relaunch: no such program", "Restarted, recovery resumed", "已重新启动，恢复接管"},
      {T::hangDetected, "进程长时间无响应（来自系统 hang 报告）", "Unresponsive too long", "长时间无响应"},
      {T::exitedAbnormal, "崩溃", "Abnormal exit", "异常退出"},
      // An older event is recognised only where a text gives exactly its
      // details again.
      {T::restarted, "Manual restart → new pid 12 ", "Restarted, recovery resumed", "已重新启动，恢复接管"},
      {T::restarted, "诊断完成 exit=01 · 无已知问题", "Restarted, recovery resumed", "已重新启动，恢复接管"},
      {T::exitedAbnormal, "恢复失败：已重新启动，但 3.0 秒后已不在运行", "Abnormal exit", "异常退出"},
      // A newer event says its key and values, whatever its details say.
      {T::restarted, "", "Running again, recovery resumed", "已再次运行，恢复接管",
       EventText::of(LocKey::evDetailRecoveryResumed())},
      {T::restarted, "用户主动重启 → 新 pid 1", "Manual restart → new pid 7", "用户主动重启 → 新 pid 7",
       EventText::of(LocKey::evDetailUserRestart(7))},
      {T::throttled, "osascript 执行失败: 无终端", "Recovery failed: No installed application has the identifier a.b.",
       "恢复失败：找不到标识为 a.b 的已安装应用。",
       EventText::of(LocKey::evDetailRelaunchFailed({}), 0, EventText::of(LocKey::alertReasonAppNotFound("a.b")))},
      {T::throttled, "重启失败：新实例没活过 2 秒", "Restart failed: New instance didn't survive 2 seconds",
       "重启失败：新实例没活过 2 秒",
       EventText::of(LocKey::evDetailRestartFailed({}), 0, EventText::of(LocKey::restartReasonDidntSurvive()))},
      {T::runawayDetected, "内存 长时间偏高：2048 MB", "Memory high for too long: 2048 MB", "内存 长时间偏高：2048 MB",
       EventText::of(LocKey::resourceRunawayDetails({}, 2048), 0, EventText::of(LocKey::detailFieldMemory()))},
      {T::hangDetected, "进程长时间无响应（来自系统 hang 报告）", "Unresponsive too long (from a hang report)",
       "进程长时间无响应（来自系统 hang 报告）", EventText::of(LocKey::evDetailHangReported())},
      // A key this version does not know, or values that do not fit it: as
      // an older event.
      {T::restarted, "用户主动退出", "Manual stop", "用户主动退出", EventText{"noSuchKey", {}}},
      {T::restarted, "用户主动退出", "Manual stop", "用户主动退出", EventText{"evDetailUserStop", {1}}},
      {T::restarted, "用户主动退出", "Manual stop", "用户主动退出", EventText{"evDetailUserRestart", {}}},
      {T::restarted, "用户主动退出", "Manual stop", "用户主动退出", EventText{"evDetailUserRestart", {true}}},
      // A runaway says its measure in the window's language.
      {T::runawayDetected, "CPU 长时间偏高：95%", "CPU high for too long: 95%", "CPU 长时间偏高：95%"},
      {T::runawayDetected, "内存 high for too long: 2048 MB", "Memory high for too long: 2048 MB", "内存 长时间偏高：2048 MB"},
      {T::runawayDetected, "CPU 持续 95% 超过 30s", "High resource usage", "资源占用偏高"},
  };
  static const QRegularExpression chinese(QStringLiteral("\\p{Han}"));
  for (const Case& c : cases) {
    const QString en = text(c.type, c.stored, c.kept, AppLanguage::en);
    EXPECT_EQ(en, c.en) << c.stored.toStdString();
    EXPECT_FALSE(en.contains(chinese)) << en.toStdString();
    EXPECT_EQ(text(c.type, c.stored, c.kept, AppLanguage::zh), c.zh) << c.stored.toStdString();
  }
}

TEST_F(DashboardModelTest, EventTextsInBothLanguages) {
  struct Case {
    AgentEventType type;
    const char* en;
    const char* zh;
  };
  const Case cases[] = {
      {AgentEventType::started, "Started", "开始运行"},
      {AgentEventType::exitedNormal, "Normal exit", "正常退出"},
      {AgentEventType::exitedAbnormal, "Abnormal exit", "异常退出"},
      // Without details, a recovered is the user's own launch.
      {AgentEventType::recovered, "Manual launch", "用户手动启动"},
      {AgentEventType::throttled, "Repeated failures — recovery paused, please check", "反复异常，已暂停接管，请检查处理"},
      {AgentEventType::restarted, "Restarted, recovery resumed", "已重新启动，恢复接管"},
      {AgentEventType::killedByOOM, "Killed by system (low memory)", "内存吃紧被系统关闭"},
      {AgentEventType::oomRecovered, "Recovered, but memory is tight", "已恢复，但内存紧张"},
      {AgentEventType::lockOnlineEnabled, "Lock turned on", "开启了锁定在线"},
      {AgentEventType::lockOnlineDisabled, "Lock turned off", "关闭了锁定在线"},
      {AgentEventType::hangDetected, "Unresponsive too long", "长时间无响应"},
      {AgentEventType::runawayDetected, "High resource usage", "资源占用偏高"},
      {AgentEventType::zombieRecovered, "Auto-recovered", "已自动恢复"},
  };
  for (const Case& c : cases) {
    const AgentEvent event{QUuid::createUuid(), "a", c.type, 1, std::nullopt};
    EXPECT_EQ(DashboardModel::eventText(event, AppLanguage::en), QString::fromUtf8(c.en)) << toString(c.type).toStdString();
    EXPECT_EQ(DashboardModel::eventText(event, AppLanguage::zh), QString::fromUtf8(c.zh)) << toString(c.type).toStdString();
  }

  // The store's language decides.
  settings.setLanguage(AppLanguage::en);
  EXPECT_EQ(DashboardModel::eventText(AgentEvent{QUuid(), "a", AgentEventType::started, 1, {}}, settings), "Started");
  settings.setLanguage(AppLanguage::zh);
  EXPECT_EQ(DashboardModel::eventText(AgentEvent{QUuid(), "a", AgentEventType::started, 1, {}}, settings),
            QString::fromUtf8("开始运行"));
}

}  // namespace
}  // namespace tlr
