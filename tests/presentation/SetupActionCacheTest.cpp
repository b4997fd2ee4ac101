#include "presentation/SetupActionCache.h"

#include "support/TestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

using tlr::AgentEntry;
using tlr::SetupCatalog;

namespace {

// A command-line agent whose setup folder is its home, ~/.agent.
AgentEntry cliWithHome() {
  AgentEntry entry;
  entry.id = "agent";
  entry.kind = AgentEntry::Kind::cli;
  AgentEntry::BackupSpec::DiscoverySpec d;
  d.primaryHomes = QStringList{"~/.agent"};
  AgentEntry::BackupSpec backup;
  backup.discovery = d;
  entry.backup = backup;
  return entry;
}

}  // namespace

TEST(SetupActionCache, AnswersFromTheDiskOffTheMainThreadOnceUntilAskedAgain) {
  tlr::test::TempHome home;
  QDir().mkpath(home.path() + "/.agent");
  AgentEntry withCommand = cliWithHome();
  withCommand.id = "commanded";
  withCommand.setupCommand = QStringList{"agent", "login"};
  const AgentEntry onDisk = cliWithHome();
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
