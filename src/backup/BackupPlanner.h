#pragma once

#include "registry/AgentEntry.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace tlr {

// What to back up for one agent and which names to leave out.
struct BackupPlan {
  QString agentId;
  // The agent's data locations as discovery found them, in its order:
  // absolute, standardized paths of folders or single files.
  QStringList roots;
  // BackupPlanner::universalExcludes() followed by the entry's
  // backup.excludePatterns.
  QStringList excludes;
};

// Exclude patterns compiled once, for testing every file of a backup. A
// pattern with "*" is a glob in which "*" stands for any run of characters
// (also none) and every other character for itself; any other pattern is a
// plain text compared exactly. Matching is case-sensitive and uses no
// regular expressions.
//
// A pattern without "/" names one path component: it hits a file when it
// matches the file's own name or the name of any folder between the root
// and the file. A pattern with "/" is a path pattern: it hits when it
// matches the file's path below the root, taken as it is or with a "/" in
// front, "*" then standing for any run of characters, "/" included: so
// "*/tmp/*" hits every file below any folder named "tmp", and "logs/*"
// every file below the root's own "logs". The part of the path above the
// root is never tested.
class ExcludeMatcher {
 public:
  explicit ExcludeMatcher(const QStringList& patterns);

  bool isEmpty() const { return patterns_.empty(); }
  // Whether `name` (one path component) is hit by a pattern without "/".
  bool matchesName(QStringView name) const;
  bool matchesName(const QString& name) const { return matchesName(QStringView(name)); }
  // Whether `file`, found while walking `root`, is excluded. A file that is
  // not below `root` is tested by its own name only.
  bool excludes(const QString& file, const QString& root) const;
  // Whether the file at `relative` ("a/b/c.txt", below the root) is
  // excluded.
  bool excludesRelative(const QString& relative) const;
  // Whether every file below the folder at `relative` is excluded whatever
  // its name, so a walk need not enter it: a pattern names the folder or one
  // above it, or a path pattern ending in "*" matches the folder's path with
  // a "/" after it.
  bool excludesFolder(const QString& relative) const;
  // For a walk that tests every folder below the root with excludesFolder()
  // and passes by those it hits: whether the item at `rooted` (its path
  // below the root with a "/" in front, "/a/b/c.txt"; a folder's with a "/"
  // after it too, "/a/b/") is excluded, every folder above it having been
  // left in. No pattern names one of those folders then, so only the item's
  // own name and the path patterns are tested: the same answer as
  // excludesRelative() (excludesFolder() for a folder) at a fraction of the
  // cost.
  bool excludesInWalk(QStringView rooted, bool folder) const;

 private:
  struct Pattern {
    QString plain;          // a pattern without "*"
    QStringList pieces;     // a glob: the texts between its stars
    bool isGlob = false;
    bool isPath = false;    // holds "/"
  };
  static bool globMatch(const QStringList& pieces, QStringView text);
  static bool hits(const Pattern& p, QStringView text);
  bool anyComponentMatches(QStringView relative) const;
  // Whether a path pattern hits the item at `rooted` ("/" + its path below
  // the root; a folder's with "/" after it).
  bool pathHit(QStringView rooted, bool folder) const;
  std::vector<Pattern> patterns_;
  bool anyPath_ = false;
};

// Turns a registry entry into a BackupPlan. Stateless; safe on any thread.
class BackupPlanner {
 public:
  // The patterns every plan begins with: "TLR-Backups", "Tollamere-Backups".
  static QStringList universalExcludes();

  // The plan of `entry`: discovery runs once (with its diagnostic line for
  // the entry that has one); nothing else happens.
  static BackupPlan plan(const AgentEntry& entry);

  // Whether a pattern hits `file` below `root` (see ExcludeMatcher). Builds
  // the matcher each time: when testing many files, build one
  // ExcludeMatcher per plan instead.
  static bool shouldExclude(const QString& file, const QString& root, const QStringList& patterns);

  // The path of `file` relative to `root`: the leading root prefix removed
  // (only at the start, and only at a component boundary), then the "/" at
  // both ends. Empty when `file` is `root` or lies outside it.
  static QString relativePath(const QString& file, const QString& root);
};

}  // namespace tlr
