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
#include <QTemporaryDir>

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

// The failure box's lines, each step's label followed by its reason.
QStringList lines(const QList<UninstallSession::FailureLine>& failures) {
  QStringList out;
  for (const auto& failure : failures) out << failure.label << failure.reason;
  return out;
}
QStringList labelsOf(const QList<UninstallSession::FailureLine>& failures) {
  QStringList out;
  for (const auto& failure : failures) out << failure.label;
  return out;
}

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

  // The refused path is never handed over: its row, as the preview judged
  // it, comes after the uninstaller's.
  EXPECT_EQ(tlr::test::labels(session.allResults()),
            (QStringList{"$ tlr-stop", "rm -rf ~/.agent", "rm -rf ~/.agent-gone", "(skipped) ~/.local"}));
  EXPECT_EQ(tlr::test::labels(session.executingSteps()), tlr::test::labels(session.allResults()).mid(0, 3));
  // The window's language for the message, what the tool printed behind it.
  EXPECT_EQ(textOf(session.allResults()[0].error), "still in use");
  EXPECT_EQ(session.allResults()[0].details, "still in use");
  EXPECT_EQ(textOf(session.allResults()[2].error), "(not there, skipped)");
  EXPECT_EQ(textOf(session.allResults()[3].error),
            "unsafe path, not removed: the home folder, a folder above it or a folder shared by many programs");
  EXPECT_FALSE(exists(".agent"));
  EXPECT_TRUE(exists(".agent-data/memory"));
  EXPECT_TRUE(exists(".local/bin/tlr-stop"));

  EXPECT_EQ(session.failedSteps().size(), 2);
  EXPECT_EQ(session.summary(AppLanguage::en), "Uninstalled (2 items failed)");
  EXPECT_EQ(session.summary(AppLanguage::zh), "已卸载（2 项未成功）");
  EXPECT_EQ(session.failureBody(AppLanguage::en), "2 items didn't uninstall, each for the reason under it:");
  EXPECT_EQ(lines(session.failureLines(AppLanguage::en)),
            (QStringList{"• $ tlr-stop", "still in use", "• (skipped) ~/.local",
                         "unsafe path, not removed: the home folder, a folder above it or a folder shared by many "
                         "programs"}));
  EXPECT_EQ(session.byHandNote(AppLanguage::en), "") << "nothing here is the user's to remove by hand";
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
  EXPECT_EQ(labelsOf(seven.failureLines(AppLanguage::en)),
            (QStringList{"• $ false n1", "• $ false n2", "• $ false n3", "• $ false n4", "• $ false n5"}));
  EXPECT_EQ(seven.failureLines(AppLanguage::en)[0].reason, "exit 1");
  EXPECT_EQ(seven.moreFailures(AppLanguage::en), "…and 2 more");
  EXPECT_EQ(seven.moreFailures(AppLanguage::zh), "…还有 2 项");

  UninstallSession one(agent(R"({"preCommands":[["false"]]})"));
  one.begin();
  one.start();
  ASSERT_TRUE(tlr::test::waitUntil([&] { return one.phase() == Phase::done; }));
  EXPECT_EQ(one.summary(AppLanguage::en), "Uninstalled (1 item failed)");
  EXPECT_EQ(one.failureBody(AppLanguage::en), "1 item didn't uninstall, for the reason under it:");
  EXPECT_EQ(one.failureBody(AppLanguage::zh), "以下 1 项没有卸载，原因写在各项下面：");
  EXPECT_EQ(labelsOf(one.failureLines(AppLanguage::en)), QStringList{"• $ false"});
  EXPECT_EQ(one.moreFailures(AppLanguage::en), "");
}

// Hostile or odd entries made the button read "Uninstall (54.38 GB)": "/",
// "/tmp" and "~" were measured (the whole disk, for 17 s) and shown ticked
// until the click refused them. They are refused before it now, unticked,
// with their reasons, and never measured or counted.
TEST_F(UninstallSessionTest, RefusedPathsAreUntickedWithTheirReasonsAndNeverMeasured) {
  file(".agent/blob", 200'000);
  file(".local/bin/tool", 10);
  // npm's folder linked to another disk: the package lies out of the home
  // folder, and the card once blamed permissions for leaving it.
  QTemporaryDir otherDisk;
  tlr::test::writeBytes(otherDisk.path() + "/lib/node_modules/@anthropic-ai/claude-code/cli.js", "x");
  ASSERT_TRUE(QFile::link(otherDisk.path(), home.path() + "/.npm-global"));
  const QString package = "~/.npm-global/lib/node_modules/@anthropic-ai/claude-code";
  UninstallSession session(agent(R"({"paths":["/","/tmp","~","~/.agent","/etc/passwd",")" + package.toUtf8() +
                                 R"("],"userDataPaths":["~/.local","~/x/../.agent"]})"));
  session.begin();
  ASSERT_TRUE(tlr::test::waitUntil([&] { return session.isMeasured(); }));
  EXPECT_TRUE(session.isJudged());
  for (const QString& refused : {QString("/"), QString("/tmp"), QString("~"), QString("/etc/passwd"), package,
                                 QString("~/.local"), QString("~/x/../.agent")}) {
    SCOPED_TRACE(refused.toStdString());
    EXPECT_EQ(session.state(refused), State::refused);
    EXPECT_EQ(session.size(refused), std::nullopt) << "never measured";
    EXPECT_FALSE(session.isChecked(Group::standard, refused));
    EXPECT_FALSE(session.canToggle(refused));
    session.setChecked(Group::userData, refused, true);
    EXPECT_FALSE(session.isChecked(Group::userData, refused));
  }
  EXPECT_EQ(session.refusalText(AppLanguage::en, "/etc/passwd"), "unsafe path, not removed: it is outside your home folder");
  EXPECT_EQ(session.refusalText(AppLanguage::zh, "~"), "路径不安全，拒绝删除：这是主目录、它的上级目录或多个程序共用的文件夹");
  EXPECT_EQ(session.refusalText(AppLanguage::en, package),
            "unsafe path, not removed: a folder on its way is a link that leads out of your home folder");
  EXPECT_EQ(session.refusalText(AppLanguage::en, "~/.agent"), "");
  EXPECT_EQ(session.state("~/.agent"), State::present);
  EXPECT_EQ(session.checkedTotal(), *session.size("~/.agent"));
  EXPECT_EQ(session.buttonLabel(AppLanguage::en), "Uninstall (" + tlr::decimalByteCount(*session.size("~/.agent")) + ")");
  EXPECT_EQ(session.pathsToRemove(), QStringList{"~/.agent"});

  tlr::test::PhaseLog log(session);
  session.start();
  ASSERT_TRUE(log.waitFor(Phase::done));
  // Each refused path once, after what was done, with its own reason; none
  // is offered to be removed by hand.
  EXPECT_EQ(tlr::test::labels(session.allResults()),
            (QStringList{"rm -rf ~/.agent", "(skipped) /", "(skipped) /tmp", "(skipped) ~", "(skipped) /etc/passwd",
                         "(skipped) " + package, "(skipped) ~/.local", "(skipped) ~/x/../.agent"}));
  EXPECT_FALSE(exists(".agent"));
  EXPECT_TRUE(QFileInfo::exists(otherDisk.path() + "/lib/node_modules/@anthropic-ai/claude-code/cli.js"));
  EXPECT_TRUE(exists(".local"));
  EXPECT_EQ(lines(session.failureLines(AppLanguage::en)).mid(0, 4),
            (QStringList{"• (skipped) /",
                         "unsafe path, not removed: the home folder, a folder above it or a folder shared by many programs",
                         "• (skipped) /tmp",
                         "unsafe path, not removed: the home folder, a folder above it or a folder shared by many programs"}));
  EXPECT_EQ(session.moreFailures(AppLanguage::en), "…and 2 more");
  EXPECT_EQ(session.byHandNote(AppLanguage::en), "");
  EXPECT_TRUE(session.byHandLines(AppLanguage::en).isEmpty());
}

// "Remove them manually" is said of what the system would not let go, and
// only of that, with its path.
TEST_F(UninstallSessionTest, OnlyWhatTheSystemWouldNotLetGoIsOfferedForRemovalByHand) {
  const QString locked = home.writeFile(".agent/inner/locked", "x");
  file(".agent-cache/x", 10);
  QList<tlr::StepResult> results;
  {
    tlr::test::Unremovable guard(locked);
    if (!guard.ok()) GTEST_SKIP() << "this file system cannot make a file unremovable (chattr +i failed)";
    UninstallSession session(agent(R"({"paths":["/etc/passwd","~/.agent","~/.agent-cache"]})"));
    session.begin();
    ASSERT_TRUE(tlr::test::waitUntil([&] { return session.isMeasured(); }));
    tlr::test::PhaseLog log(session);
    session.start();
    ASSERT_TRUE(log.waitFor(Phase::done));
    EXPECT_EQ(session.summary(AppLanguage::en), "Uninstalled (2 items failed)");
    const auto failures = session.failureLines(AppLanguage::en);
    ASSERT_EQ(failures.size(), 2);
    EXPECT_EQ(failures[0].label, "• rm -rf ~/.agent");
    EXPECT_TRUE(failures[0].reason.contains("Operation not permitted") || failures[0].reason.contains("Permission denied"))
        << failures[0].reason.toStdString();
    EXPECT_EQ(failures[1].label, "• (skipped) /etc/passwd");
    EXPECT_EQ(session.byHandNote(AppLanguage::en),
              "These could not be removed (permission denied or file in use). You can remove them yourself in your "
              "file manager:");
    EXPECT_EQ(session.byHandNote(AppLanguage::zh), "以下项目没能删除（权限不足或文件被占用），可以自己到文件管理器中删除：");
    EXPECT_EQ(session.byHandLines(AppLanguage::en), QStringList{"• ~/.agent"});
  }
  EXPECT_FALSE(exists(".agent-cache"));
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
