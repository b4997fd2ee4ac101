#include "presentation/DashboardTestSupport.h"

#include "presentation/DashboardActions.h"

#include <gtest/gtest.h>

namespace tlr {
namespace {

using test::agentEntry;
using test::runningRecord;

class DashboardActionsTest : public ::testing::Test, protected test::DashboardFixture {
 protected:
  DashboardActions dash{model};
};

TEST_F(DashboardActionsTest, ARowLaunchIsIgnoredUntilTheLaunchedAgentIsSeenRunning) {
  model.setWatcher(&actions);
  const AgentEntry a = agentEntry("a"), b = agentEntry("b");
  model.update({a, b}, {});
  EXPECT_TRUE(dash.launchFromRow(a));
  EXPECT_FALSE(dash.launchFromRow(a));  // a double click
  EXPECT_TRUE(dash.isLaunching("a"));
  EXPECT_TRUE(dash.launchFromRow(b));   // other agents are not held up
  EXPECT_EQ(actions.calls, (QStringList{"launch a", "launch b"}));

  ASSERT_EQ(actions.launchCompletions.size(), 2);
  actions.launchCompletions[0](true);

  // Started, but the row still shows Launch until the next scan: a click
  // now starts nothing either.
  EXPECT_TRUE(dash.isLaunching("a"));
  EXPECT_FALSE(dash.launchFromRow(a));
  model.update({a, b}, {});  // a scan that does not see it yet
  EXPECT_FALSE(dash.launchFromRow(a));
  model.update({a, b}, {runningRecord(a, 7)});
  EXPECT_FALSE(dash.isLaunching("a"));
  // It stopped again: the next click launches.
  model.update({a, b}, {});
  EXPECT_TRUE(dash.launchFromRow(a));
  EXPECT_EQ(actions.calls.last(), "launch a");

  // A failed launch can be retried at once.
  actions.launchCompletions[1](false);
  EXPECT_FALSE(dash.isLaunching("b"));
  EXPECT_TRUE(dash.launchFromRow(b));
  EXPECT_EQ(actions.calls.count("launch b"), 2);
}

TEST_F(DashboardActionsTest, TheSheetsOpenAlwaysReachesTheWatcherAndHoldsTheRowsLaunch) {
  model.setWatcher(&actions);
  const AgentEntry app = agentEntry("app", AgentEntry::Kind::desktopApp);
  model.update({app}, {runningRecord(app, 7)});
  // A running application opened twice from its sheet: the second Open
  // brings it forward again, it is not held back by the first.
  QList<bool> heard;
  dash.launch(app, [&](bool ok) { heard << ok; });
  ASSERT_EQ(actions.launchCompletions.size(), 1);
  actions.launchCompletions[0](true);
  dash.launch(app, [&](bool ok) { heard << ok; });
  ASSERT_EQ(actions.launchCompletions.size(), 2);
  actions.launchCompletions[1](true);
  EXPECT_EQ(actions.calls, (QStringList{"launch app", "launch app"}));
  EXPECT_EQ(heard, (QList<bool>{true, true}));

  // Also while a row's launch is in flight; and a row's Launch right after
  // a sheet's successful one waits for it like after its own.
  const AgentEntry cli = agentEntry("cli");
  model.update({app, cli}, {});
  ASSERT_TRUE(dash.launchFromRow(cli));
  dash.launch(cli, {});
  EXPECT_EQ(actions.calls.count("launch cli"), 2);
  actions.launchCompletions[2](false);
  EXPECT_FALSE(dash.isLaunching("cli"));
  actions.launchCompletions[3](true);
  EXPECT_TRUE(dash.isLaunching("cli"));
  EXPECT_FALSE(dash.launchFromRow(cli));
  EXPECT_EQ(actions.calls.count("launch cli"), 2);
}

TEST_F(DashboardActionsTest, ALaunchedAgentThatNeverShowsUpCanBeLaunchedAgainLater) {
  model.setWatcher(&actions);
  dash.setLaunchSettleMs(100);
  const AgentEntry a = agentEntry("a");
  ASSERT_TRUE(dash.launchFromRow(a));
  actions.launchCompletions[0](true);
  EXPECT_FALSE(dash.launchFromRow(a));
  EXPECT_TRUE(test::waitUntil([&] { return !dash.isLaunching("a"); }, std::chrono::seconds(5)));
  EXPECT_TRUE(dash.launchFromRow(a));
}

TEST_F(DashboardActionsTest, WithoutAWatcherEveryCompletionHearsNothingHappenedAtOnce) {
  const AgentEntry a = agentEntry("a");
  std::optional<bool> launched, stopped;
  std::optional<AgentRestarter::Result> restarted;
  bool doctorCalled = false;
  std::optional<AgentDoctor::Result> doctorResult = AgentDoctor::Result{};
  std::optional<AgentDoctor::FixResult> fixed;
  const AgentDetailCallbacks c = dash.detailCallbacks(a, [] {});
  c.onLaunch([&](bool ok) { launched = ok; });
  c.onStop([&](bool ok) { stopped = ok; });
  dash.restart(a, [&](const AgentRestarter::Result& r) { restarted = r; });
  c.onDoctor([&](std::optional<AgentDoctor::Result> r) {
    doctorCalled = true;
    doctorResult = std::move(r);
  });
  AgentDoctor::KnownIssue issue;
  issue.id = "i1";
  c.onApplyDoctorFix(issue, [&](const AgentDoctor::FixResult& r) { fixed = r; });
  c.onSetup();
  c.onRestart();
  EXPECT_EQ(launched, std::optional<bool>(false));
  EXPECT_EQ(stopped, std::optional<bool>(false));
  ASSERT_TRUE(restarted.has_value());
  EXPECT_EQ(restarted->kind, AgentRestarter::Result::Kind::relaunchFailed);
  EXPECT_TRUE(doctorCalled);
  EXPECT_FALSE(doctorResult.has_value());
  ASSERT_TRUE(fixed.has_value());
  EXPECT_EQ(*fixed, AgentDoctor::FixResult::failure(LocKey::doctorErrNotReady())) << "said in the window's language";
  EXPECT_FALSE(dash.launchFromRow(a));
  EXPECT_FALSE(dash.isLaunching("a"));
}

TEST_F(DashboardActionsTest, DetailCallbacksReachTheWatcherForTheirEntry) {
  model.setWatcher(&actions);
  const AgentEntry a = agentEntry("a");
  bool closed = false;
  const AgentDetailCallbacks c = dash.detailCallbacks(a, [&] { closed = true; });
  std::optional<bool> stopped;
  std::optional<AgentDoctor::FixResult> fixed;
  c.onSetup();
  c.onRestart();
  c.onStop([&](bool ok) { stopped = ok; });
  c.onDoctor({});  // a sheet that does not care still gets a safe call
  AgentDoctor::KnownIssue issue;
  issue.id = "stale-token";
  c.onApplyDoctorFix(issue, [&](const AgentDoctor::FixResult& r) { fixed = r; });
  c.onClose();
  EXPECT_TRUE(closed);
  EXPECT_EQ(actions.calls, (QStringList{"setup a", "restart a", "stop a", "doctor a", "fix a stale-token"}));
  actions.stopCompletions[0](true);
  actions.doctorCompletions[0](std::nullopt);
  actions.fixCompletions[0](AgentDoctor::FixResult::success(LocKey::doctorOkCmdSucceeded()));
  EXPECT_EQ(stopped, std::optional<bool>(true));
  ASSERT_TRUE(fixed.has_value());
  EXPECT_TRUE(fixed->succeeded());
}

TEST_F(DashboardActionsTest, LockingInTheStoreStartsOnlyNewlyLockedStoppedAgents) {
  model.setWatcher(&actions);
  const AgentEntry stopped1 = agentEntry("stopped1"), stopped2 = agentEntry("stopped2");
  const AgentEntry running = agentEntry("running"), managed = agentEntry("managed");
  lockOnline.setLocked("stopped1", true);
  {
    // A lock set before the actions existed is the set they start from.
    DashboardActions fresh(model);
    EXPECT_EQ(fresh.lastSeenLockedIDs(), std::optional<QSet<QString>>(QSet<QString>{"stopped1"}));
  }
  model.update({stopped1, stopped2, running, managed},
               {runningRecord(running, 10), runningRecord(managed, 11, /*launchdManaged=*/true)});

  // A stopped agent starts once; a running one, one run by the user manager
  // and one without a row start nothing. No window needs to be open.
  for (const char* id : {"stopped2", "running", "managed", "uninstalled"}) lockOnline.setLocked(id, true);
  EXPECT_EQ(actions.calls, QStringList{"recoverOnDemand stopped2"});
  // The rows were rebuilt first: the lock mark shows.
  EXPECT_TRUE(row("stopped2").isLockedOnline);

  // Turning locks off starts nothing; turning one on again does.
  for (const char* id : {"stopped1", "stopped2"}) lockOnline.setLocked(id, false);
  EXPECT_EQ(actions.calls.size(), 1);
  EXPECT_FALSE(row("stopped2").isLockedOnline);
  lockOnline.setLocked("stopped1", true);
  EXPECT_EQ(actions.calls, (QStringList{"recoverOnDemand stopped2", "recoverOnDemand stopped1"}));
}

TEST_F(DashboardActionsTest, TheOpenSheetFollowsOnlyTheSixStateFields) {
  settings.setLanguage(AppLanguage::en);
  const AgentEntry ide = agentEntry("ide", AgentEntry::Kind::desktopApp), cli = agentEntry("cli");
  model.update({ide, cli}, {runningRecord(ide, 10)});
  const DashboardAgentItem open = row("ide");

  // Only the embedded process changed: the sheet keeps its record.
  model.update({ide, cli}, {runningRecord(ide, 10), runningRecord(cli, 11, false, QString("ide"))});
  EXPECT_FALSE(DashboardActions::followSelection(open, model.dashboardItems()).has_value());

  // The agent crashed: its row turned faulted, and the sheet gets it.
  addEvent("ide", AgentEventType::exitedAbnormal);
  model.update({ide, cli}, {});
  const auto followed = DashboardActions::followSelection(open, model.dashboardItems());
  ASSERT_TRUE(followed.has_value());
  EXPECT_TRUE(followed->isFaulted);
  EXPECT_FALSE(followed->isRunning);
  EXPECT_EQ(followed->bigStatusText, "Faulted");

  // The agent was uninstalled: the sheet keeps its last record.
  model.update({cli}, {});
  EXPECT_FALSE(DashboardActions::followSelection(open, model.dashboardItems()).has_value());

  // The language alone changes the status word, which counts.
  model.update({ide, cli}, {runningRecord(ide, 10)});
  const DashboardAgentItem english = row("ide");
  settings.setLanguage(AppLanguage::zh);
  model.refresh();
  EXPECT_TRUE(DashboardActions::followSelection(english, model.dashboardItems()).has_value());
}

}  // namespace
}  // namespace tlr
