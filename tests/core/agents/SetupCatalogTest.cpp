#include "core/agents/SetupCatalog.h"

#include "core/agents/SetupActionRunner.h"

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

  const auto opened = [](const QList<QUrl>& folders) {
    const tlr::SetupActionRunner::Opened result = tlr::SetupActionRunner::openConfigDir(folders);
    return std::make_pair(result.shown, result.message);
  };
  EXPECT_EQ(opened({}), std::make_pair(false, tlr::LocKey::alertReasonNoConfigFolder()));

  QDir().mkpath(second);
  EXPECT_EQ(opened(dirs), std::make_pair(true, tlr::LocKey::setupFolderShown(".agent-extra")));
  ASSERT_TRUE(tlr::test::waitUntil([&] { return tlr::test::readFile(record).count("--\n") == 1; }));
  EXPECT_FALSE(QFileInfo::exists(first));

  QDir(second).removeRecursively();
  EXPECT_EQ(opened(dirs), std::make_pair(true, tlr::LocKey::setupFolderCreated(".agent")));
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
