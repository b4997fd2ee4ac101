#include "presentation/UninstallSession.h"

#include "core/texts/ByteSizeText.h"

#include "platform/ProcessSignals.h"
#include "presentation/SheetSessionSupport.h"
#include "support/FakeAgents.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <memory>

using tlr::UninstallSession;
using Group = tlr::UninstallSession::Group;
using tlr::test::textOf;
using Phase = tlr::UninstallSession::Phase;
using State = tlr::UninstallSession::PathState;
using tlr::AppLanguage;
using tlr::test::TempHome;

namespace {

tlr::AgentEntry agent(const QByteArray& uninstall) {
  QByteArray members = R"("id":"tlr-agent","displayName":"Agent","vendor":"v","kind":"cli","identify":{})";
  if (!uninstall.isEmpty()) members += R"(,"uninstall":)" + uninstall;
  return tlr::test::entryFromJson(members);
}

class UninstallSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { tlr::test::setLanguage(AppLanguage::en); }
  // A file of `bytes` bytes below the home folder.
  void file(const QString& relative, int bytes) { home.writeFile(relative, QByteArray(bytes, 'x')); }
  bool exists(const QString& relative) const { return QFileInfo::exists(home.path() + "/" + relative); }
  TempHome home;
};

}  // namespace

TEST_F(UninstallSessionTest, ThePreviewMeasuresEveryPathAndOnlyPresentBoxesChange) {
  file(".agent/a", 1'500'000);
  file(".agent-data/notes", 2'000);
  QDir(home.path()).mkpath(".agent-empty");
  UninstallSession session(agent(
      R"({"paths":["~/.agent","~/.agent-gone","~/.agent-empty"],"userDataPaths":["~/.agent-data","~/.agent-data-gone"]})"));
  session.begin();
  // Before the sizes arrive: every standard box checked, nothing changeable.
  EXPECT_TRUE(session.isChecked(Group::standard, "~/.agent-gone"));
  EXPECT_FALSE(session.isChecked(Group::userData, "~/.agent-data"));
  EXPECT_TRUE(session.canUninstall());
  if (!session.isMeasured()) {
    EXPECT_EQ(session.state("~/.agent"), State::unmeasured);
    EXPECT_FALSE(session.canToggle("~/.agent"));
    EXPECT_EQ(session.buttonLabel(AppLanguage::en), "Uninstall");
  }
  ASSERT_TRUE(tlr::test::waitUntil([&] { return session.isMeasured(); }));

  EXPECT_EQ(session.state("~/.agent"), State::present);
  EXPECT_EQ(session.state("~/.agent-gone"), State::missing);
  EXPECT_EQ(session.state("~/.agent-empty"), State::present) << "empty is not absent";
  EXPECT_EQ(session.size("~/.agent-empty"), 0u);
  EXPECT_EQ(session.size("~/.agent-gone"), std::nullopt);
  EXPECT_EQ(session.state("~/.agent-data"), State::present);
  EXPECT_EQ(session.state("~/.agent-data-gone"), State::missing);
  EXPECT_GE(*session.size("~/.agent"), 1'500'000u);

  // A missing standard path stays checked and cannot be unchecked.
  session.setChecked(Group::standard, "~/.agent-gone", false);
  EXPECT_TRUE(session.isChecked(Group::standard, "~/.agent-gone"));
  session.setChecked(Group::userData, "~/.agent-data-gone", true);
  EXPECT_FALSE(session.isChecked(Group::userData, "~/.agent-data-gone"));

  session.setChecked(Group::userData, "~/.agent-data", true);
  // Asking again for the state it is in changes nothing.
  session.setChecked(Group::userData, "~/.agent-data", true);
  EXPECT_TRUE(session.isChecked(Group::userData, "~/.agent-data"));
  EXPECT_EQ(session.checkedTotal(), *session.size("~/.agent") + *session.size("~/.agent-data"));
  session.setChecked(Group::standard, "~/.agent", false);
  EXPECT_FALSE(session.isChecked(Group::standard, "~/.agent"));
  EXPECT_EQ(session.checkedTotal(), *session.size("~/.agent-data"));
  EXPECT_EQ(session.pathsToRemove(), (QStringList{"~/.agent-gone", "~/.agent-empty", "~/.agent-data"}));
}

TEST_F(UninstallSessionTest, APathInBothGroupsIsCountedAndRemovedOnce) {
  file(".shared/a", 3'000'000);
  UninstallSession session(agent(R"({"paths":["~/.shared"],"userDataPaths":["~/.shared"]})"));
  session.begin();
  ASSERT_TRUE(tlr::test::waitUntil([&] { return session.isMeasured(); }));
  const quint64 size = *session.size("~/.shared");
  EXPECT_EQ(session.checkedTotal(), size);
  session.setChecked(Group::userData, "~/.shared", true);
  EXPECT_TRUE(session.isChecked(Group::userData, "~/.shared"));
  EXPECT_EQ(session.checkedTotal(), size);
  EXPECT_EQ(session.pathsToRemove(), QStringList{"~/.shared"});
  EXPECT_EQ(session.buttonLabel(AppLanguage::en), "Uninstall (" + tlr::decimalByteCount(size) + ")");
  EXPECT_EQ(session.buttonLabel(AppLanguage::zh), "彻底卸载（" + tlr::decimalByteCount(size) + "）");
}

TEST_F(UninstallSessionTest, TheButtonNeedsACheckedPathOrACommand) {
  UninstallSession nothing(agent(QByteArray()));
  nothing.begin();
  EXPECT_TRUE(nothing.isEmpty());
  EXPECT_FALSE(nothing.canUninstall());

  UninstallSession emptyLists(agent(R"({"paths":[],"userDataPaths":[],"preCommands":[]})"));
  EXPECT_TRUE(emptyLists.isEmpty());
  EXPECT_FALSE(emptyLists.canUninstall());

  UninstallSession userDataOnly(agent(R"({"userDataPaths":["~/.none"]})"));
  userDataOnly.begin();
  EXPECT_FALSE(userDataOnly.canUninstall());

  // An empty command still counts; the run then has no step at all.
  UninstallSession emptyCommand(agent(R"({"preCommands":[[]]})"));
  emptyCommand.begin();
  EXPECT_TRUE(emptyCommand.canUninstall());
  EXPECT_EQ(emptyCommand.buttonLabel(AppLanguage::en), "Uninstall");
  emptyCommand.start();
  ASSERT_TRUE(tlr::test::waitUntil([&] { return emptyCommand.phase() == Phase::done; }));
  EXPECT_TRUE(emptyCommand.allResults().isEmpty());
  EXPECT_EQ(emptyCommand.summary(AppLanguage::en), "Uninstalled");
  EXPECT_EQ(emptyCommand.summary(AppLanguage::zh), "已卸载");
}

TEST_F(UninstallSessionTest, ExecutionReportsEveryStepAndKeepsUncheckedUserData) {
  file(".agent/bin/tool", 10);
  file(".agent-data/memory", 10);
  tlr::test::addUserProgram(home, "tlr-stop", "echo 'still in use' >&2; exit 4\n");
  UninstallSession session(agent(
      R"({"preCommands":[["tlr-stop"]],"paths":["~/.agent","~/.local","~/.agent-gone"],"userDataPaths":["~/.agent-data"]})"));
  tlr::test::PhaseLog log(session);
  session.begin();
  ASSERT_TRUE(tlr::test::waitUntil([&] { return session.isMeasured(); }));
  session.start();
  EXPECT_EQ(session.phase(), Phase::executing);
  session.start();  // a second press starts nothing
  ASSERT_TRUE(log.waitFor(Phase::done));
  EXPECT_EQ(log.phases, (QList<Phase>{Phase::preview, Phase::executing, Phase::done}));

  EXPECT_EQ(tlr::test::labels(session.allResults()),
            (QStringList{"$ tlr-stop", "rm -rf ~/.agent", "(skipped) ~/.local", "rm -rf ~/.agent-gone"}));
  EXPECT_EQ(tlr::test::labels(session.executingSteps()), tlr::test::labels(session.allResults()));
  // The window's language for the message, what the tool printed behind it.
  EXPECT_EQ(textOf(session.allResults()[0].error), "still in use");
  EXPECT_EQ(session.allResults()[0].details, "still in use");
  EXPECT_EQ(textOf(session.allResults()[2].error),
            "unsafe path, not removed: the home folder, a folder above it or a folder shared by many programs");
  EXPECT_EQ(textOf(session.allResults()[3].error), "(not there, skipped)");
  EXPECT_FALSE(exists(".agent"));
  EXPECT_TRUE(exists(".agent-data/memory"));
  EXPECT_TRUE(exists(".local/bin/tlr-stop"));

  EXPECT_EQ(session.failedSteps().size(), 2);
  EXPECT_EQ(session.summary(AppLanguage::en), "Uninstalled (2 items failed)");
  EXPECT_EQ(session.summary(AppLanguage::zh), "已卸载（2 项未成功）");
  EXPECT_EQ(session.failureBody(AppLanguage::en),
            "2 items didn't uninstall (permission denied or file in use). Remove them manually in your file manager:");
  EXPECT_EQ(session.failureLines(AppLanguage::en), (QStringList{"• $ tlr-stop", "• (skipped) ~/.local"}));
}

TEST_F(UninstallSessionTest, TheFailureBoxListsFiveThenHowManyMore) {
  QByteArray commands = "[";
  for (int i = 1; i <= 7; ++i) commands += (i > 1 ? "," : "") + QByteArray(R"(["false","n)") + QByteArray::number(i) + "\"]";
  commands += "]";
  UninstallSession seven(agent(R"({"preCommands":)" + commands + "}"));
  seven.begin();
  seven.start();
  ASSERT_TRUE(tlr::test::waitUntil([&] { return seven.phase() == Phase::done; }));
  EXPECT_EQ(seven.summary(AppLanguage::en), "Uninstalled (7 items failed)");
  EXPECT_EQ(seven.failureLines(AppLanguage::en),
            (QStringList{"• $ false n1", "• $ false n2", "• $ false n3", "• $ false n4", "• $ false n5", "…and 2 more"}));
  EXPECT_EQ(seven.failureLines(AppLanguage::zh).last(), "…还有 2 项");

  UninstallSession one(agent(R"({"preCommands":[["false"]]})"));
  one.begin();
  one.start();
  ASSERT_TRUE(tlr::test::waitUntil([&] { return one.phase() == Phase::done; }));
  EXPECT_EQ(one.summary(AppLanguage::en), "Uninstalled (1 item failed)");
  EXPECT_EQ(one.failureBody(AppLanguage::en),
            "1 item didn't uninstall (permission denied or file in use). Remove them manually in your file manager:");
  EXPECT_EQ(one.failureBody(AppLanguage::zh), "以下 1 项没成功，可能因权限不足或文件被占用。建议手动到文件管理器删除：");
  EXPECT_EQ(one.failureLines(AppLanguage::en), QStringList{"• $ false"});
}

TEST_F(UninstallSessionTest, WorkOutlivesItsSessionAndItsResultsAreDropped) {
  file(".agent/x", 10);
  tlr::test::addUserProgram(home, "tlr-wait", "while [ ! -e \"$HOME/go\" ]; do sleep 0.05; done\n");
  auto session = std::make_unique<UninstallSession>(agent(R"({"preCommands":[["tlr-wait"]],"paths":["~/.agent"]})"));
  session->begin();
  session->start();
  session.reset();
  QFile(home.path() + "/go").open(QIODevice::WriteOnly);
  ASSERT_TRUE(tlr::test::waitUntil([&] { return !exists(".agent"); }));

  // A measurement that ends after its session is gone is dropped too.
  auto measuring = std::make_unique<UninstallSession>(agent(R"({"paths":["~/.agent-data"]})"));
  measuring->begin();
  measuring.reset();
  tlr::test::finishOffMainWork(std::chrono::seconds(30));
}

// The shipped entries' tables, under a stand-in's name: Codex's background
// `app-server` daemons (sub-commands its one-shot table lists, each in a
// session of its own) and Claude's `mcp serve` are stopped with the agent.
TEST_F(UninstallSessionTest, ARunningAgentAndItsHelpersAreSaidAndStoppedBeforeAnythingIsRemoved) {
  file(".agent/bin/tool", 10);
  const QString name = tlr::test::uniqueAgentName("tlr-uninstall-running");
  const QString program = tlr::test::copyFakeAgent(home.path() + "/bin", name);
  tlr::test::FakeAgentLedger ledger(home.path() + "/ledger");
  const pid_t agentPid = ledger.start(program);
  const pid_t daemonPid = ledger.start("/usr/bin/setsid", {program, "app-server", "--listen", "unix://",
                                                            "--analytics-default-enabled", "--managed-daemon"});
  const pid_t loopPid = ledger.start("/usr/bin/setsid", {program, "app-server", "daemon", "pid-update-loop"});
  ASSERT_GT(agentPid, 0);
  ASSERT_GT(daemonPid, 0);
  ASSERT_GT(loopPid, 0);
  QJsonObject codex = tlr::test::shippedEntryObject("codex-cli", name);
  codex.insert("uninstall", QJsonObject{{"paths", QJsonArray{"~/.agent"}}});
  UninstallSession session(tlr::test::entryFromJson(QJsonDocument(codex).toJson(QJsonDocument::Compact).mid(1).chopped(1)));
  tlr::test::PhaseLog log(session);
  session.begin();
  ASSERT_TRUE(tlr::test::waitUntil([&] { return session.runningProcesses().size() == 3; }))
      << session.runningProcesses().size();
  EXPECT_EQ(session.runningNotice(AppLanguage::en),
            "Codex CLI is running (3 processes). They are stopped before anything is removed.");
  EXPECT_EQ(session.buttonLabel(AppLanguage::en), "Stop and Uninstall");
  EXPECT_TRUE(exists(".agent/bin/tool"));

  session.start();
  ASSERT_TRUE(log.waitFor(Phase::done));
  EXPECT_EQ(tlr::test::labels(session.allResults()), (QStringList{"Stop Codex CLI and its helpers", "rm -rf ~/.agent"}));
  EXPECT_TRUE(session.allResults()[0].success);
  for (const pid_t pid : {agentPid, daemonPid, loopPid}) EXPECT_FALSE(tlr::ProcessSignals::isAlive(pid)) << pid;
  EXPECT_FALSE(exists(".agent"));

  // Claude Code's MCP server alone is still Claude Code running.
  const pid_t mcpPid = ledger.start(program, {"mcp", "serve"});
  ASSERT_GT(mcpPid, 0);
  QJsonObject claude = tlr::test::shippedEntryObject("claude-code-cli", name);
  claude.remove("uninstall");
  UninstallSession claudeSession(
      tlr::test::entryFromJson(QJsonDocument(claude).toJson(QJsonDocument::Compact).mid(1).chopped(1)));
  claudeSession.begin();
  ASSERT_TRUE(tlr::test::waitUntil([&] { return claudeSession.runningProcesses() == QList<pid_t>{mcpPid}; }));
}
