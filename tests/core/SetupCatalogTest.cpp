#include "core/SetupCatalog.h"

#include "support/TestSupport.h"

#include <QDir>

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
