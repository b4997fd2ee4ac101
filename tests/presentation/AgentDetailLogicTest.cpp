#include "presentation/AgentDetailLogic.h"

#include "core/stores/DoctorResultStore.h"
#include "core/stores/SettingsStore.h"
#include "core/texts/LocTexts.h"
#include "support/RegistryJson.h"
#include "support/TestSupport.h"

#include <QUrl>

#include <gtest/gtest.h>

using namespace tlr;
using namespace tlr::AgentDetailLogic;
using tlr::test::entryFromJson;

namespace {

AgentEntry entry(const QByteArray& extra, const QByteArray& kind = "cli") {
  return entryFromJson(R"("id":"a","displayName":"Agent A","vendor":"v","kind":")" + kind + R"(","identify":{})" +
                       (extra.isEmpty() ? QByteArray() : "," + extra));
}

AgentDoctor::Result resultWithIssues(int count) {
  AgentDoctor::Result result;
  result.exitCode = count > 0 ? 1 : 0;
  for (int i = 0; i < count; ++i) result.detectedIssues.append({AgentDoctor::KnownIssue{}, QString()});
  return result;
}

}  // namespace

TEST(DetailActionRow, TheFirstMatchingCaseChoosesTheButtons) {
  EXPECT_EQ(actionRow(entry(R"("tuiCommand":["x"])", "ide-plugin")), ActionRow::none);
  EXPECT_EQ(actionRow(entry(R"("tuiCommand":["tui"],"dashboardUrl":"http://localhost:1")", "desktop-app")),
            ActionRow::console);
  EXPECT_EQ(actionRow(entry(R"("dashboardUrl":"http://localhost:1")", "desktop-app")), ActionRow::open);
  EXPECT_EQ(actionRow(entry(R"("tuiCommand":[],"dashboardUrl":"http://localhost:18789/")")), ActionRow::dashboard);
  EXPECT_EQ(actionRow(entry(R"("tuiCommand":[])")), ActionRow::launchOrStop);
  // An address that does not parse counts as none.
  EXPECT_EQ(actionRow(entry(R"("dashboardUrl":"http://exa mple.com/")")), ActionRow::launchOrStop);
  EXPECT_EQ(actionRow(entry(R"("dashboardUrl":"")")), ActionRow::launchOrStop);
  EXPECT_EQ(dashboardUrl(entry(R"("dashboardUrl":"http://localhost:18789/")")), "http://localhost:18789/");

  // Open Console while the agent runs: a console that is the agent itself
  // starts another instance, and its hint says so; a console of its own
  // (`openclaw tui` beside its gateway) does not.
  const auto hintOf = [](const QByteArray& identify, const QByteArray& tui, bool running) {
    DashboardAgentItem item;
    item.entry = test::entryFromJson(R"("id":"a","displayName":"Agent A","vendor":"v","kind":"cli","identify":)" +
                                     identify + R"(,"tuiCommand":)" + tui);
    item.isRunning = running;
    item.instances = running ? 2 : 0;
    const std::optional<LocKey> hint = consoleHint(item);
    return hint ? LocTexts::text(AppLanguage::en, *hint) : QString();
  };
  EXPECT_EQ(hintOf(R"({"executableNames":["agent"]})", R"(["agent"])", true),
            "Starts another Agent A session in a new terminal (2 already running)");
  EXPECT_EQ(hintOf(R"({"executableNames":["agent"]})", R"(["agent"])", false), "");
  EXPECT_EQ(hintOf(R"({"executableNames":["agent"],"argvAllOf":["gateway"]})", R"(["agent","tui"])", true), "");
  EXPECT_EQ(hintOf(R"({"executableNames":["agent"],"oneShotCommands":["tui"]})", R"(["agent","tui"])", true), "");
}

TEST(DetailHeader, VendorAndBadgeFollowTheEntry) {
  EXPECT_EQ(capitalizedWords("OPEN ai  labs"), "OPEN Ai  Labs");
  EXPECT_EQ(capitalizedWords("OpenAI"), "OpenAI") << "a maker's own capitals stay";
  EXPECT_EQ(capitalizedWords("anthropic"), "Anthropic");
  EXPECT_EQ(kindBadge(AgentEntry::Kind::idePlugin, AppLanguage::en), "Plugin");
  EXPECT_EQ(kindBadge(AgentEntry::Kind::idePlugin, AppLanguage::zh), "插件");
  EXPECT_EQ(kindBadge(AgentEntry::Kind::cli, AppLanguage::zh), "CLI");
  EXPECT_EQ(kindBadge(AgentEntry::Kind::desktopApp, AppLanguage::zh), "App");
}

TEST(DetailSetup, HintsForBothActionKindsInBothLanguages) {
  const auto run = SetupCatalog::Action::runCommand({"claude", "setup-token"});
  EXPECT_EQ(setupButtonText(run, AppLanguage::en), "Configure agent");
  EXPECT_EQ(setupHint(run, AppLanguage::en),
            "Will run `claude setup-token` in a terminal — follow the prompts to complete one-time setup");
  EXPECT_EQ(setupHint(run, AppLanguage::zh), "将在终端运行 `claude setup-token`，按提示完成一次性配置");

  const auto folders = SetupCatalog::Action::openConfigDirs(
      {QUrl::fromLocalFile("/home/u/.config/aider/"), QUrl::fromLocalFile("/home/u/.aider")});
  EXPECT_EQ(setupButtonText(folders, AppLanguage::en), "Open config folder");
  EXPECT_EQ(setupButtonText(folders, AppLanguage::zh), "打开配置目录");
  EXPECT_EQ(setupHint(folders, AppLanguage::en), "Open ~/aider in your file manager");
  EXPECT_EQ(setupHint(folders, AppLanguage::zh), "在文件管理器中打开 ~/aider");

  const SetupCatalog::Action none{SetupCatalog::Action::Kind::openConfigDirs, {}, {}};
  EXPECT_EQ(setupHint(none, AppLanguage::en), "Open ~/config directory in your file manager");
  EXPECT_EQ(setupHint(none, AppLanguage::zh), "在文件管理器中打开 ~/配置目录");
}

TEST(DetailUninstall, AnyNonEmptyListOffersTheSection) {
  EXPECT_FALSE(offersUninstall(entry("")));
  EXPECT_FALSE(offersUninstall(entry(R"("uninstall":{"paths":[],"postNote":"n"})")));
  EXPECT_TRUE(offersUninstall(entry(R"("uninstall":{"preCommands":[["npm","rm","x"]]})")));
  EXPECT_TRUE(offersUninstall(entry(R"("uninstall":{"userDataPaths":["~/.x"]})")));
}

TEST(DetailRestartAndDoctor, TextsFollowTheSpecificationsAndTheirColons) {
  const AgentEntry gateway = entry(R"("restart":{"command":["gw","restart"]},"doctor":{"command":["gw","doctor"]})");
  const AgentEntry plain = entry("");
  EXPECT_EQ(restartButtonText(gateway, false, AppLanguage::en), "Restart Gateway");
  EXPECT_EQ(restartButtonText(plain, false, AppLanguage::zh), "重启 Agent");
  EXPECT_EQ(restartButtonText(gateway, true, AppLanguage::en), "Restart (issue detected)");
  EXPECT_EQ(restartHint(gateway, AppLanguage::en), "Will run: `gw restart`");
  EXPECT_EQ(restartHint(gateway, AppLanguage::zh), "将运行：`gw restart`");  // full-width colon
  EXPECT_EQ(restartHint(plain, AppLanguage::en), "Will stop and restart the process");
  EXPECT_EQ(doctorHint(gateway, AppLanguage::en), "Will run: `gw doctor` (read-only, no changes)");
  EXPECT_EQ(doctorHint(gateway, AppLanguage::zh), "将运行：`gw doctor`（只读，不修改任何东西）");
  EXPECT_EQ(restartConfirmMessage(gateway, AppLanguage::zh), "将运行 `gw restart`，channel 会短暂断开自动重连。");
  EXPECT_EQ(restartConfirmMessage(plain, AppLanguage::en), "Active sessions may be lost.");
}

TEST(DetailDoctorBanner, ThePluralIsEnglishOnly) {
  EXPECT_EQ(doctorBannerTitle(resultWithIssues(0), AppLanguage::en), "Setup complete. No issues detected");
  EXPECT_EQ(doctorBannerSubtitle(resultWithIssues(0), AppLanguage::zh), "agent 现在可以正常使用");
  EXPECT_EQ(doctorBannerTitle(resultWithIssues(1), AppLanguage::en), "Setup complete. Found 1 known issue");
  EXPECT_EQ(doctorBannerTitle(resultWithIssues(2), AppLanguage::en), "Setup complete. Found 2 known issues");
  EXPECT_EQ(doctorBannerTitle(resultWithIssues(1), AppLanguage::zh), "setup 完成，发现 1 个已知问题");
  EXPECT_EQ(doctorBannerTitle(resultWithIssues(2), AppLanguage::zh), "setup 完成，发现 2 个已知问题");
  EXPECT_EQ(doctorBannerSubtitle(resultWithIssues(2), AppLanguage::en), "Click to view details and fix");

  // A check that did not succeed says so, and why.
  AgentDoctor::Result failed = resultWithIssues(0);
  failed.exitCode = 3;
  EXPECT_EQ(doctorBannerTitle(failed, AppLanguage::en), "The check did not succeed");
  EXPECT_EQ(doctorBannerSubtitle(failed, AppLanguage::en), "Exit code 3 · click to view the output");
  EXPECT_EQ(doctorBannerTitle(failed, AppLanguage::zh), "检查未成功");
  EXPECT_EQ(doctorBannerSubtitle(failed, AppLanguage::zh), "退出码 3 · 点击查看输出");
  failed.exitCode = -1;
  EXPECT_EQ(doctorFailureReason(failed, AppLanguage::en), "Could not be run");
  failed.exitCode = 143;
  failed.timedOut = true;
  failed.timeLimitSeconds = 120;
  EXPECT_EQ(doctorFailureReason(failed, AppLanguage::en), "Did not finish within 120 s");
  EXPECT_EQ(doctorFailureReason(failed, AppLanguage::zh), "120 秒内未完成");
}

TEST(DetailEvents, TimesAreTwoDigitTwentyFourHourClockWithTheDateBeforeToday) {
  const QTimeZone zone("Asia/Shanghai");
  AgentEvent evening;
  evening.timestamp = QDateTime(QDate(2026, 3, 1), QTime(21, 5), zone).toSecsSinceEpoch() - 978307200;
  AgentEvent morning;
  morning.timestamp = QDateTime(QDate(2026, 3, 1), QTime(9, 5, 59), zone).toSecsSinceEpoch() - 978307200;
  const QDateTime sameDay(QDate(2026, 3, 1), QTime(23, 59), zone);
  EXPECT_EQ(eventTime(evening, zone, sameDay), "21:05");
  EXPECT_EQ(eventTime(morning, zone, sameDay), "09:05");
  EXPECT_EQ(eventTime(morning, QTimeZone::utc(), sameDay), "01:05") << "15:59 there: the same day";
  const QDateTime nextDay(QDate(2026, 3, 2), QTime(0, 1), zone);
  EXPECT_EQ(eventTime(evening, zone, nextDay), "03-01 21:05");
  EXPECT_EQ(eventTime(morning, zone, nextDay.addYears(1)), "2026-03-01 09:05");
}

namespace {

class AutoDoctorTest : public ::testing::Test {
 protected:
  QDateTime now = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
  DoctorResultStore store{[this] { return now; }};
  AgentEntry withDoctor = entry(R"("doctor":{"command":["a","doctor"]})");
  QList<DoctorCompletion> pending;
  DoctorAction onDoctor = [this](DoctorCompletion done) { pending.append(std::move(done)); };
};

}  // namespace

TEST_F(AutoDoctorTest, NoDoctorNoCallbackNoRun) {
  EXPECT_FALSE(autoRunDoctorIfNeeded(entry(""), store, onDoctor));
  EXPECT_FALSE(autoRunDoctorIfNeeded(withDoctor, store, {}));
  EXPECT_TRUE(pending.isEmpty());
  EXPECT_TRUE(store.runningIds().isEmpty());
}

TEST_F(AutoDoctorTest, ReopeningWhileARunIsUnderWayStartsNoSecondRun) {
  ASSERT_TRUE(autoRunDoctorIfNeeded(withDoctor, store, onDoctor));
  EXPECT_FALSE(autoRunDoctorIfNeeded(withDoctor, store, onDoctor));
  ASSERT_EQ(pending.size(), 1);
  EXPECT_TRUE(store.runningIds().contains("a"));

  pending.takeFirst()(resultWithIssues(2));
  EXPECT_TRUE(store.runningIds().isEmpty());
  ASSERT_TRUE(store.result("a"));
  EXPECT_EQ(store.result("a")->detectedIssues.size(), 2);
}

// The line a finished run writes is fixed: the name and the count of issues.
TEST_F(AutoDoctorTest, AFinishedRunWritesItsFixedLogLine) {
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(autoRunDoctorIfNeeded(withDoctor, store, onDoctor));
  pending.takeFirst()(resultWithIssues(2));
  const QString out = QString::fromStdString(::testing::internal::GetCapturedStdout());
  EXPECT_TRUE(out.contains("[AutoDoctor] Agent A 自动 doctor 完成 · 2 个已知问题\n")) << out.toStdString();
}

TEST_F(AutoDoctorTest, TheCooldownHoldsWhileAResultIsStoredAndEndsAtThreeHundredSeconds) {
  ASSERT_TRUE(autoRunDoctorIfNeeded(withDoctor, store, onDoctor));
  pending.takeFirst()(resultWithIssues(0));
  now = now.addSecs(299);
  EXPECT_FALSE(autoRunDoctorIfNeeded(withDoctor, store, onDoctor));
  now = now.addSecs(1);
  EXPECT_TRUE(autoRunDoctorIfNeeded(withDoctor, store, onDoctor));
  // A run without a result clears the stored one, so the next opening runs
  // again at once.
  pending.takeFirst()(std::nullopt);
  EXPECT_FALSE(store.result("a"));
  EXPECT_TRUE(autoRunDoctorIfNeeded(withDoctor, store, onDoctor));
}

TEST(AutoDoctorLifetime, ACompletionAfterTheStoreWentChangesNothing) {
  DoctorCompletion late;
  {
    DoctorResultStore store;
    ASSERT_TRUE(autoRunDoctorIfNeeded(entry(R"("doctor":{"command":["d"]})"), store,
                                      [&](DoctorCompletion done) { late = std::move(done); }));
  }
  ASSERT_TRUE(late);
  late(resultWithIssues(1));  // must not touch the destroyed store
}
