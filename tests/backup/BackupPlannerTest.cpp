#include "backup/BackupCatalog.h"
#include "backup/BackupPlanner.h"

#include "support/RegistryJson.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <utility>
#include <vector>

#include <gtest/gtest.h>

using tlr::AgentEntry;
using tlr::BackupCatalog;
using tlr::BackupPlanner;
using tlr::ExcludeMatcher;

namespace {

// What a walk that tests each folder before entering it leaves out: all
// that a folder hit by excludesFolder() holds, and below the folders it
// enters what excludesInWalk() hits.
bool walkLeavesOut(const ExcludeMatcher& m, const QString& relative, bool folder) {
  const QStringList parts = relative.split('/');
  for (qsizetype i = 1; i < parts.size(); ++i) {
    if (m.excludesFolder(parts.mid(0, i).join('/'))) return true;
  }
  return m.excludesInWalk(QString('/' + relative + (folder ? "/" : "")), folder);
}

}  // namespace

TEST(BackupCatalogTable, KnowsTheWellKnownAgentsOnly) {
  tlr::test::TempHome home;
  EXPECT_EQ(BackupCatalog::dataPaths("codex-desktop"),
            QStringList({".codex/skills", ".codex/memories", ".codex/rules", ".codex/ambient-suggestions",
                         ".codex/automations", ".codex/archived_sessions", ".codex/AGENTS.md"}));
  EXPECT_EQ(BackupCatalog::dataPaths("claude-code"),
            QStringList({".claude/tasks", ".claude/scheduled-tasks", ".claude/sessions"}));
  EXPECT_EQ(BackupCatalog::dataPaths("gemini-cli"), QStringList({".gemini"}));
  EXPECT_TRUE(BackupCatalog::dataPaths("Gemini-CLI").isEmpty());
  EXPECT_TRUE(BackupCatalog::dataPaths("cursor").isEmpty());
  EXPECT_EQ(BackupCatalog::dataDirectories("aider"), QStringList({home.path() + "/.aider"}));
}

TEST(BackupCatalogTable, ListsItsTenIdsEachWithData) {
  const QStringList ids = BackupCatalog::knownAgentIds();
  EXPECT_EQ(ids.size(), 10);
  EXPECT_EQ(ids.first(), "codex");
  EXPECT_EQ(ids.last(), "gemini-cli");
  for (const QString& id : ids) EXPECT_FALSE(BackupCatalog::dataPaths(id).isEmpty()) << id.toStdString();
}

TEST(BackupCatalogTable, ARegisteredIdShadowsTheTable) {
  tlr::test::TempHome home;
  BackupCatalog::registerAgent("__selftest_agent__", {home.path() + "/fixture"});
  EXPECT_EQ(BackupCatalog::dataDirectories("__selftest_agent__"), QStringList({home.path() + "/fixture"}));
  EXPECT_TRUE(BackupCatalog::dataPaths("__selftest_agent__").isEmpty());
  BackupCatalog::registerAgent("openclaw", {"/data/a", "/data/b"});
  EXPECT_TRUE(BackupCatalog::dataPaths("openclaw").isEmpty());
  EXPECT_EQ(BackupCatalog::dataDirectories("openclaw"), QStringList({"/data/a", "/data/b"}));
  BackupCatalog::registerAgent("openclaw", {"/data/c"});
  EXPECT_EQ(BackupCatalog::dataDirectories("openclaw"), QStringList({"/data/c"}));
}

TEST(BackupPlannerPlan, BeginsWithTheFixedExcludesAndTakesDiscoveredRoots) {
  tlr::test::TempHome home;
  AgentEntry bare;
  bare.id = "bare";
  const auto p0 = BackupPlanner::plan(bare);
  EXPECT_EQ(p0.agentId, "bare");
  EXPECT_TRUE(p0.roots.isEmpty());
  EXPECT_EQ(p0.excludes, QStringList({"TLR-Backups", "Tollamere-Backups"}));

  QDir().mkpath(home.path() + "/.agent/skills");
  home.writeFile("notes.md", "x");
  AgentEntry entry;
  entry.id = "agent";
  AgentEntry::BackupSpec backup;
  backup.includePaths = QStringList({"~/.agent", "~/missing", "~/notes.md"});
  backup.excludePatterns = QStringList({"*.log", "cache"});
  entry.backup = backup;
  const auto p = BackupPlanner::plan(entry);
  EXPECT_EQ(p.roots, QStringList({home.path() + "/.agent", home.path() + "/notes.md"}));
  EXPECT_EQ(p.excludes, QStringList({"TLR-Backups", "Tollamere-Backups", "*.log", "cache"}));
}

TEST(BackupPlannerExclude, GlobsMatchWholeNamesCaseSensitively) {
  const QString root = "/home/u/.agent";
  auto hit = [&](const QString& pattern, const QString& relative) {
    const bool excluded = BackupPlanner::shouldExclude(root + "/" + relative, root, {pattern});
    // A walk finds the same.
    if (!relative.isEmpty() && !relative.startsWith(QLatin1String("../"))) {
      EXPECT_EQ(walkLeavesOut(ExcludeMatcher({pattern}), relative, false), excluded)
          << pattern.toStdString() << " " << relative.toStdString();
    }
    return excluded;
  };
  EXPECT_TRUE(hit("*.log", "debug.log"));
  EXPECT_TRUE(hit("*.log", "deep/er/debug.log"));
  EXPECT_FALSE(hit("*.log", "debug.log.1"));
  EXPECT_FALSE(hit("*.log", "A.LOG"));
  EXPECT_TRUE(hit("*", "anything"));
  EXPECT_TRUE(hit("a*b*c", "abc"));
  EXPECT_TRUE(hit("a*b*c", "a-b-b-c"));
  EXPECT_FALSE(hit("a*b*c", "acb"));
  EXPECT_FALSE(hit("a*a", "a"));
  // A middle piece that would reach into the last one.
  EXPECT_FALSE(hit("*ab*b", "xab"));
  EXPECT_TRUE(hit("*ab*b", "xabb"));
  EXPECT_TRUE(hit("*.*", "x.y"));
  EXPECT_FALSE(hit("*.*", "xy"));
  EXPECT_TRUE(hit("tmp*", "tmp"));
  EXPECT_TRUE(hit("(x)+*", "(x)+1"));  // regex characters stand for themselves
  EXPECT_FALSE(hit("(x)+*", "xx1"));
}

TEST(BackupPlannerExclude, PlainNamesHitTheFileOrAnyFolderBelowTheRoot) {
  const QString root = "/home/u/.agent";
  auto hit = [&](const QString& pattern, const QString& relative) {
    const bool excluded = BackupPlanner::shouldExclude(root + "/" + relative, root, {pattern});
    // A walk finds the same.
    if (!relative.isEmpty() && !relative.startsWith(QLatin1String("../"))) {
      EXPECT_EQ(walkLeavesOut(ExcludeMatcher({pattern}), relative, false), excluded)
          << pattern.toStdString() << " " << relative.toStdString();
    }
    return excluded;
  };
  EXPECT_TRUE(hit("cache", "cache/a.txt"));
  EXPECT_TRUE(hit("cache", "x/y/cache/z/a.txt"));
  EXPECT_TRUE(hit("cache", "cache"));
  EXPECT_FALSE(hit("cache", "caches/a.txt"));
  EXPECT_FALSE(hit("cache", "mycache"));
  EXPECT_TRUE(hit("a?[b]", "a?[b]"));
  EXPECT_FALSE(hit("a?[b]", "axb"));
  EXPECT_FALSE(hit("x/cache", "x/cache/a"));  // a path without "*" names one file
  EXPECT_TRUE(hit("x/cache", "x/cache"));
  // The root's own name, and folders above it, are never tested.
  EXPECT_FALSE(hit(".agent", "file"));
  EXPECT_FALSE(hit("home", "file"));
  EXPECT_TRUE(BackupPlanner::shouldExclude(root + "/TLR-Backups/x", root, BackupPlanner::universalExcludes()));
}

TEST(BackupPlannerExclude, PathPatternsHitEverythingBelowTheFoldersTheyName) {
  const ExcludeMatcher m({"*/tmp/*", "logs/*", "*/cache/*.bin", "*/old/"});
  // A file below the root, and whether it is left out.
  const std::pair<const char*, bool> files[] = {
      {"tmp/a.json", true},      {"deep/er/tmp/a.json", true}, {"tmpx/a.json", false},   {"a/tmp.json", false},
      {"logs/today.txt", true},  {"x/logs/today.txt", false},  {"a/cache/b.bin", true}, {"a/cache/b.txt", false},
  };
  for (const auto& [relative, excluded] : files) {
    EXPECT_EQ(m.excludesRelative(relative), excluded) << relative;
    EXPECT_EQ(walkLeavesOut(m, relative, false), excluded) << relative;
  }
  // A folder below the root, and whether a walk may pass it by.
  const std::pair<const char*, bool> folders[] = {
      {"tmp", true}, {"deep/tmp", true}, {"tmp/sub", true}, {"logs", true},
      {"x/logs", false}, {"a/cache", false}, {"tmpx", false}, {"x/old", false},  // a path ending in "/" names no file
  };
  for (const auto& [relative, skipped] : folders) {
    EXPECT_EQ(m.excludesFolder(relative), skipped) << relative;
    EXPECT_EQ(walkLeavesOut(m, relative, true), skipped) << relative;
  }
  EXPECT_TRUE(m.excludes("/r/x/tmp/y", "/r"));
  EXPECT_FALSE(m.matchesName("tmp")) << "a path pattern names no single component";
  EXPECT_TRUE(ExcludeMatcher({"node_modules"}).excludesFolder("a/node_modules"));

  // Every pattern of the shipped registry leaves out what it names.
  const auto registry = tlr::test::registryFromJson([] {
    QFile file(QStringLiteral(TLR_SOURCE_RESOURCES "/registry.json"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }());
  ASSERT_TRUE(registry);
  int tested = 0;
  for (const AgentEntry& entry : registry->visibleAgents()) {
    if (!entry.backup || !entry.backup->excludePatterns) continue;
    const ExcludeMatcher agentMatcher(*entry.backup->excludePatterns);
    for (const QString& pattern : *entry.backup->excludePatterns) {
      // A file the pattern names: its stars become "x".
      QString example = QString(pattern).replace('*', 'x');
      EXPECT_TRUE(agentMatcher.excludesRelative(example)) << entry.id.toStdString() << " " << pattern.toStdString();
      EXPECT_TRUE(walkLeavesOut(agentMatcher, example, false)) << entry.id.toStdString() << " " << pattern.toStdString();
      ++tested;
    }
  }
  EXPECT_GE(tested, 10);

  // What each tool writes in its home folder (the layouts the tools are
  // known to use): its caches and its own copies of itself are left out;
  // conversations, checkpoints, memory and settings are kept.
  const struct {
    const char* agent;
    const char* home;
    std::vector<std::pair<const char*, bool>> files;  // below the home, and whether left out
  } layouts[] = {
      {"gemini-cli", ".gemini",
       {{"settings.json", false},
        {"GEMINI.md", false},
        {"tmp/5f1e2d/chats/session-2026-01-02.json", false},
        {"tmp/5f1e2d/checkpoints/checkpoint-a.json", false},
        {"tmp/5f1e2d/memory/notes.md", false},
        {"tmp/5f1e2d/logs.json", false}}},
      {"codex-cli", ".codex",
       {{"config.toml", false},
        {"AGENTS.md", false},
        {"history.jsonl", false},
        {"sessions/2026/01/02/rollout-2026-01-02T10-00-00.jsonl", false},
        {"packages/standalone/releases/0.58.0/codex", true},
        {"auth.json.tmp", true}}},
      {"claude-code-cli", ".claude",
       {{"settings.json", false},
        {"CLAUDE.md", false},
        {"projects/-home-u-app/3b1c.jsonl", false},
        {"todos/3b1c-agent.json", false},
        {"statsig/statsig.cached.evaluations.json", true},
        {"shell-snapshots/snapshot-bash-1.sh", true},
        {"local/node_modules/.bin/claude", true}}},
  };
  for (const auto& layout : layouts) {
    const std::optional<AgentEntry> entry = registry->lookup(QString::fromLatin1(layout.agent));
    ASSERT_TRUE(entry.has_value()) << layout.agent;
    const ExcludeMatcher matcher(BackupPlanner::plan(*entry).excludes);
    const QString root = "/home/u/" + QString::fromLatin1(layout.home);
    for (const auto& [relative, leftOut] : layout.files) {
      EXPECT_EQ(matcher.excludes(root + "/" + relative, root), leftOut) << layout.agent << " " << relative;
      EXPECT_EQ(walkLeavesOut(matcher, relative, false), leftOut) << layout.agent << " " << relative;
    }
  }
}

TEST(BackupPlannerExclude, OnlyTheLeadingRootIsStripped) {
  // The root's text appears again further down: it must stay part of the
  // relative path.
  const QString root = "/data/proj";
  EXPECT_EQ(BackupPlanner::relativePath("/data/proj/a/data/proj/b.txt", root), "a/data/proj/b.txt");
  EXPECT_EQ(BackupPlanner::relativePath("/data/proj/", root + "/"), "");
  EXPECT_EQ(BackupPlanner::relativePath("/data/projX/b.txt", root), "");
  EXPECT_EQ(BackupPlanner::relativePath("/other/data/proj/b.txt", root), "");
  EXPECT_EQ(BackupPlanner::relativePath("/a/b", "/"), "a/b");
  // "proj" is a folder between the root and the file here, so it is tested.
  EXPECT_TRUE(BackupPlanner::shouldExclude("/data/proj/a/data/proj/b.txt", root, {"proj"}));
  EXPECT_FALSE(BackupPlanner::shouldExclude("/data/proj/a/b.txt", root, {"proj"}));
  // A file outside the root is tested by its own name only.
  EXPECT_FALSE(BackupPlanner::shouldExclude("/other/cache/b.txt", root, {"cache"}));
  EXPECT_TRUE(BackupPlanner::shouldExclude("/other/cache/b.txt", root, {"b.txt"}));
}

TEST(BackupPlannerExclude, AMatcherIsReusedAcrossFiles) {
  const ExcludeMatcher m({"node_modules", "*.tmp"});
  EXPECT_TRUE(m.excludes("/r/a/node_modules/x.js", "/r"));
  EXPECT_TRUE(m.excludes("/r/a.tmp", "/r"));
  EXPECT_FALSE(m.excludes("/r/a.txt", "/r"));
  EXPECT_FALSE(ExcludeMatcher({}).excludes("/r/a.txt", "/r"));
}
