#include "core/agents/AgentDataDiscovery.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <unistd.h>

using tlr::AgentDataDiscovery;
using tlr::AgentEntry;
using tlr::DiscoveredPath;
using Source = tlr::DiscoveredPath::Source;

namespace {

using Discovery = AgentEntry::BackupSpec::DiscoverySpec;

AgentEntry entryWith(std::optional<Discovery> discovery, std::optional<QStringList> includePaths = {}) {
  AgentEntry entry;
  entry.id = "agent";
  AgentEntry::BackupSpec backup;
  backup.discovery = std::move(discovery);
  backup.includePaths = std::move(includePaths);
  entry.backup = backup;
  return entry;
}

QStringList paths(const QList<DiscoveredPath>& found) {
  QStringList out;
  for (const auto& d : found) out << d.path();
  return out;
}

QList<Source> sources(const QList<DiscoveredPath>& found) {
  QList<Source> out;
  for (const auto& d : found) out << d.source;
  return out;
}

class DiscoveryTest : public ::testing::Test {
 protected:
  QString mkdir(const QString& relative) {
    const QString full = home.path() + "/" + relative;
    QDir().mkpath(full);
    return full;
  }
  QString touch(const QString& relative) { return home.writeFile(relative, "x"); }

  tlr::test::TempHome home;
};

}  // namespace

TEST_F(DiscoveryTest, AnEntryWithoutBackupFindsNothing) {
  AgentEntry entry;
  entry.id = "agent";
  EXPECT_TRUE(AgentDataDiscovery::discover(entry).isEmpty());
}

TEST_F(DiscoveryTest, RulesRunInOrderAndKeepOnlyWhatExists) {
  const QString primary = mkdir(".agent");
  const QString fromEnv = mkdir("envdata");
  const QString workspace = mkdir("ws");
  const QString global = touch(".agentrc");
  const QString project = mkdir("Projects/app");
  touch("Projects/app/AGENT.md");
  const QString included = mkdir("extra");
  qputenv("TLR_TEST_DATA_DIR", "~/envdata");

  Discovery d;
  d.primaryHomes = QStringList{"~/.agent", "~/missing"};
  d.envVars = QStringList{"TLR_TEST_DATA_DIR", "TLR_TEST_UNSET_VAR"};
  d.workspaceConventions = QStringList{"~/ws"};
  d.globalFiles = QStringList{"~/.agentrc"};
  d.projectMarkers = QStringList{"AGENT.md"};
  const auto found = AgentDataDiscovery::discover(entryWith(d, QStringList{"~/extra"}));
  qunsetenv("TLR_TEST_DATA_DIR");

  EXPECT_EQ(paths(found), (QStringList{primary, fromEnv, workspace, global, project, included}));
  EXPECT_EQ(sources(found), (QList<Source>{Source::primaryHome, Source::envVar, Source::workspace,
                                           Source::globalFile, Source::projectMarker, Source::includePath}));
  EXPECT_TRUE(found.first().url.isLocalFile());
}

TEST_F(DiscoveryTest, OnlyIncludePathsAreTaggedIncludePath) {
  const QString a = mkdir("a");
  const auto found = AgentDataDiscovery::discover(entryWith(std::nullopt, QStringList{"~/a", "~/b"}));
  EXPECT_EQ(paths(found), QStringList{a});
  EXPECT_EQ(sources(found), QList<Source>{Source::includePath});
}

TEST_F(DiscoveryTest, OnePathIsReportedOnceUnderTheFirstRule) {
  const QString x = mkdir("x");
  Discovery d;
  d.primaryHomes = QStringList{"~/x", "~/x/", "~/./x", "~//x"};
  const auto found = AgentDataDiscovery::discover(entryWith(d, QStringList{"~/x", x}));
  EXPECT_EQ(paths(found), QStringList{x});
  EXPECT_EQ(sources(found), QList<Source>{Source::primaryHome});
}

TEST_F(DiscoveryTest, PathForms) {
  EXPECT_EQ(AgentDataDiscovery::resolvePath("~"), home.path());
  EXPECT_EQ(AgentDataDiscovery::resolvePath("~/a/b"), home.path() + "/a/b");
  EXPECT_EQ(AgentDataDiscovery::resolvePath("/opt/x/../y"), "/opt/y");
  EXPECT_EQ(AgentDataDiscovery::resolvePath("$HOME/x"), QDir::current().absoluteFilePath("$HOME/x"));
  EXPECT_EQ(AgentDataDiscovery::resolvePath(""), "");  // never the current folder

  Discovery d;
  d.primaryHomes = QStringList{"~", "$HOME", ""};
  const auto found = AgentDataDiscovery::discover(entryWith(d));
  EXPECT_EQ(paths(found), QStringList{home.path()});
}

TEST_F(DiscoveryTest, AnEmptyVariableContributesNothing) {
  qputenv("TLR_TEST_EMPTY_VAR", "");
  Discovery d;
  d.envVars = QStringList{"TLR_TEST_EMPTY_VAR"};
  EXPECT_TRUE(AgentDataDiscovery::discover(entryWith(d)).isEmpty());
  qunsetenv("TLR_TEST_EMPTY_VAR");
}

TEST_F(DiscoveryTest, DefaultScanRootsAreUsedOnlyWhenScanRootsIsAbsent) {
  for (const char* root : {"Documents", "Projects", "Workspace", "Code", "Developer", "Desktop"}) {
    touch(QString(root) + "/p/marker");
  }
  Discovery d;
  d.projectMarkers = QStringList{"marker"};
  EXPECT_EQ(AgentDataDiscovery::discover(entryWith(d)).size(), 6);

  d.scanRoots = QStringList{};
  EXPECT_TRUE(AgentDataDiscovery::discover(entryWith(d)).isEmpty());

  d.scanRoots = QStringList{"~/Code", "~/nowhere"};
  EXPECT_EQ(paths(AgentDataDiscovery::discover(entryWith(d))), QStringList{home.path() + "/Code/p"});

  d.projectMarkers = QStringList{};
  EXPECT_TRUE(AgentDataDiscovery::discover(entryWith(d)).isEmpty());
}

TEST_F(DiscoveryTest, MarkerScanRules) {
  touch("root/marker");                          // in the root itself: not reported
  touch("root/top/.marker-hidden");              // hidden marker name inside a visible folder
  touch("root/top/inner/marker");                // inside a reported project: not reported
  touch("root/a/b/c/d/marker");                  // level 4: found
  touch("root/e/f/g/h/i/marker");                // level 5: not examined
  touch("root/node_modules/m/marker");           // skipped folders
  touch("root/build/marker");
  touch("root/Library/marker");
  touch("root/LibraryData/marker");
  touch("root/library/marker");                  // lower case is examined
  touch("root/.hidden/marker");                  // hidden folder never examined
  touch("root/case/Marker");                     // exact names only
  QFile::link(home.path() + "/root/a", home.path() + "/root/link");  // links are not followed

  Discovery d;
  d.projectMarkers = QStringList{"marker", ".marker-hidden"};
  d.scanRoots = QStringList{"~/root"};
  const QString root = home.path() + "/root/";
  EXPECT_EQ(paths(AgentDataDiscovery::discover(entryWith(d))),
            (QStringList{root + "a/b/c/d", root + "library", root + "top"}));
}

TEST_F(DiscoveryTest, AtMostFiftyProjectsPerRoot) {
  for (int i = 0; i < 60; ++i) touch(QStringLiteral("root/p%1/marker").arg(i, 2, 10, QLatin1Char('0')));
  touch("other/q/marker");
  Discovery d;
  d.projectMarkers = QStringList{"marker"};
  d.scanRoots = QStringList{"~/root", "~/other"};
  const auto found = AgentDataDiscovery::discover(entryWith(d));
  ASSERT_EQ(found.size(), 51);
  EXPECT_EQ(found[0].path(), home.path() + "/root/p00");
  EXPECT_EQ(found[49].path(), home.path() + "/root/p49");
  EXPECT_EQ(found[50].path(), home.path() + "/other/q");
}

TEST_F(DiscoveryTest, DanglingLinksAreMissingAndLinksToFoldersCount) {
  const QString target = mkdir("target");
  QFile::link(target, home.path() + "/good");
  QFile::link(home.path() + "/gone", home.path() + "/dangling");
  const auto found = AgentDataDiscovery::discover(entryWith(std::nullopt, QStringList{"~/good", "~/dangling"}));
  EXPECT_EQ(paths(found), QStringList{home.path() + "/good"});
}

TEST(DiscoverySource, RawValuesAreTheCaseNames) {
  EXPECT_EQ(tlr::rawValue(Source::projectMarker), "projectMarker");
  EXPECT_EQ(tlr::fromRawValue<Source>("envVar"), Source::envVar);
  EXPECT_EQ(tlr::fromRawValue<Source>("EnvVar"), std::nullopt);
}

TEST_F(DiscoveryTest, TheSelfCheckEntryWritesItsLineEvenWithoutBackup) {
  const QString capture = home.path() + "/stderr.txt";
  const int saved = ::dup(STDERR_FILENO);
  {
    QFile out(capture);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    ::dup2(out.handle(), STDERR_FILENO);
    AgentEntry entry;
    entry.id = "claude-code-cli";
    EXPECT_TRUE(AgentDataDiscovery::discover(entry).isEmpty());
    ::dup2(saved, STDERR_FILENO);
  }
  ::close(saved);
  EXPECT_EQ(tlr::test::readFile(capture), "[Discovery] home=" + home.path() + " testPath=" + home.path() +
                                              "/.claude exists=false\n");
}
