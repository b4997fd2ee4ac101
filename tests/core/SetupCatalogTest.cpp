#include "core/SetupCatalog.h"

#include "core/SetupActionRunner.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

using tlr::AgentEntry;
using tlr::SetupCatalog;

namespace {

AgentEntry cliWithData() {
  AgentEntry entry;
  entry.id = "agent";
  entry.kind = AgentEntry::Kind::cli;
  AgentEntry::BackupSpec::DiscoverySpec d;
  d.primaryHomes = QStringList{"~/.agent"};
  d.globalFiles = QStringList{"~/.agentrc"};
  d.projectMarkers = QStringList{"AGENT.md"};
  d.scanRoots = QStringList{"~/code"};
  AgentEntry::BackupSpec backup;
  backup.discovery = d;
  backup.includePaths = QStringList{"~/.agent-extra"};
  entry.backup = backup;
  return entry;
}

}  // namespace

TEST(SetupCatalogAction, ASetupCommandWinsForEveryKind) {
  for (auto kind : {AgentEntry::Kind::cli, AgentEntry::Kind::desktopApp, AgentEntry::Kind::idePlugin}) {
    AgentEntry entry = cliWithData();
    entry.kind = kind;
    entry.setupCommand = QStringList{"agent", "login"};
    const auto action = SetupCatalog::action(entry);
    ASSERT_TRUE(action);
    EXPECT_EQ(action->kind, SetupCatalog::Action::Kind::runCommand);
    EXPECT_EQ(action->command, (QStringList{"agent", "login"}));
  }
}

TEST(SetupCatalogAction, ACommandLineAgentOffersItsExistingHomeAndNamedFolders) {
  tlr::test::TempHome home;
  AgentEntry entry = cliWithData();
  entry.setupCommand = QStringList{};  // empty counts as none
  EXPECT_FALSE(SetupCatalog::action(entry));  // nothing on disk yet

  home.writeFile(".agentrc", "{}");
  home.writeFile("code/p/AGENT.md", "");
  EXPECT_FALSE(SetupCatalog::action(entry));  // global files and projects are not setup folders

  QDir().mkpath(home.path() + "/.agent-extra");
  QDir().mkpath(home.path() + "/.agent");
  const auto action = SetupCatalog::action(entry);
  ASSERT_TRUE(action);
  EXPECT_EQ(action->kind, SetupCatalog::Action::Kind::openConfigDirs);
  EXPECT_EQ(action->configDirs, (QList<QUrl>{QUrl::fromLocalFile(home.path() + "/.agent"),
                                             QUrl::fromLocalFile(home.path() + "/.agent-extra")}));
}

TEST(SetupCatalogAction, DesktopAppsAndPluginsWithoutACommandOfferNothing) {
  tlr::test::TempHome home;
  QDir().mkpath(home.path() + "/.agent");
  AgentEntry entry = cliWithData();
  entry.kind = AgentEntry::Kind::desktopApp;
  EXPECT_FALSE(SetupCatalog::action(entry));
  entry.kind = AgentEntry::Kind::idePlugin;
  EXPECT_FALSE(SetupCatalog::action(entry));
}

TEST(SetupActionRunnerOpen, ShowsTheFirstExistingFolderElseCreatesTheFirst) {
  tlr::test::TempHome home;
  tlr::test::FakeBin bin;
  const QString record = bin.addRecorder("xdg-open");
  const QString first = home.path() + "/.agent";
  const QString second = home.path() + "/cfg/.agent-extra";
  const QList<QUrl> dirs = {QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)};

  EXPECT_EQ(tlr::SetupActionRunner::openConfigDir({}), std::make_pair(false, QString("未找到配置目录")));

  QDir().mkpath(second);
  EXPECT_EQ(tlr::SetupActionRunner::openConfigDir(dirs),
            std::make_pair(true, QString("已在 Finder 中打开 .agent-extra")));
  ASSERT_TRUE(tlr::test::waitUntil([&] { return tlr::test::readFile(record).count("--\n") == 1; }));
  EXPECT_FALSE(QFileInfo::exists(first));

  QDir(second).removeRecursively();
  EXPECT_EQ(tlr::SetupActionRunner::openConfigDir(dirs), std::make_pair(true, QString("已创建并打开 .agent")));
  ASSERT_TRUE(tlr::test::waitUntil([&] { return tlr::test::readFile(record).count("--\n") == 2; }));
  EXPECT_TRUE(QFileInfo(first).isDir());
  EXPECT_EQ(tlr::test::readFile(record), second + "\n--\n" + first + "\n--\n");
}

TEST(SetupCatalogAction, LooksOnlyAtNamedFoldersWithoutWalkingProjectsOrWritingTheDiagnosticLine) {
  tlr::test::TempHome home;
  AgentEntry entry = cliWithData();
  entry.id = "claude-code-cli";  // the id whose full discovery writes a diagnostic line
  QDir().mkpath(home.path() + "/.agent");
  home.writeFile("code/p/AGENT.md", "");
  ::testing::internal::CaptureStderr();
  const auto action = SetupCatalog::action(entry);
  const std::string err = ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(action);
  EXPECT_EQ(action->configDirs, QList<QUrl>{QUrl::fromLocalFile(home.path() + "/.agent")});
  EXPECT_EQ(err.find("[Discovery]"), std::string::npos) << err;
  EXPECT_TRUE(SetupCatalog::looksAtDisk(entry));
  entry.setupCommand = QStringList{"agent", "login"};
  EXPECT_FALSE(SetupCatalog::looksAtDisk(entry));
}

TEST(SetupActionCache, AnswersFromTheDiskOffTheMainThreadOnceUntilAskedAgain) {
  tlr::test::TempHome home;
  QDir().mkpath(home.path() + "/.agent");
  AgentEntry withCommand = cliWithData();
  withCommand.id = "commanded";
  withCommand.setupCommand = QStringList{"agent", "login"};
  const AgentEntry onDisk = cliWithData();
  const auto folder = SetupCatalog::Action::openConfigDirs({QUrl::fromLocalFile(home.path() + "/.agent")});

  tlr::SetupActionCache cache;
  int changes = 0;
  QObject::connect(&cache, &tlr::SetupActionCache::changed, [&] { ++changes; });
  cache.track({withCommand, onDisk});
  // The command is known from the entry at once; the disk is looked at
  // elsewhere, and the answer comes later.
  EXPECT_EQ(cache.action("commanded"), SetupCatalog::Action::runCommand({"agent", "login"}));
  EXPECT_FALSE(cache.action("agent"));
  ASSERT_TRUE(tlr::test::waitUntil([&] { return changes == 1; }));
  EXPECT_EQ(cache.action("agent"), folder);

  // Kept while the agent stays installed: the disk is not looked at again.
  QDir(home.path() + "/.agent").removeRecursively();
  cache.track({withCommand, onDisk});
  tlr::test::finishOffMainWork();
  EXPECT_EQ(cache.action("agent"), folder);
  EXPECT_EQ(changes, 1);
  // Asked again, it follows the disk.
  cache.refresh(onDisk);
  ASSERT_TRUE(tlr::test::waitUntil([&] { return changes == 2; }));
  EXPECT_FALSE(cache.action("agent"));

  // Uninstalled, it is forgotten; installed again, it is asked about afresh.
  QDir().mkpath(home.path() + "/.agent");
  cache.track({withCommand});
  EXPECT_FALSE(cache.action("agent"));
  cache.track({withCommand, onDisk});
  ASSERT_TRUE(tlr::test::waitUntil([&] { return changes == 3; }));
  EXPECT_EQ(cache.action("agent"), folder);
}
