#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>

namespace tlr {

// What staging one agent copied, counted as the snapshot's manifest lists it.
struct StagedAgent {
  qint64 fileCount = 0;
  qint64 totalBytes = 0;
  qint64 skills = 0;
  qint64 memoryBytes = 0;
  qint64 tasks = 0;
  QStringList files;  // "<root name>/<relative path>", or the root name of a file root
  // The roots that staged at least one file, the first of each name, as
  // given.
  QStringList roots;
};

// Copies an agent's data into its folder of the backup staging area: one
// entry per root, named by the root's last path component; a folder root
// holds its regular files at their relative paths (folders, links, sockets
// and devices are never copied), a file root is one file. A file reached
// twice within the agent (overlapping roots) is copied once and linked the
// second time. Each agent has its own map of what it copied, so an agent's
// folder never links into another agent's: a restore of one agent alone
// finds all of its files in the archive.
class BackupStaging {
 public:
  // Answers whether a file below a root is left out (the plan's exclude
  // patterns): the file's path and the root's path.
  using Exclude = std::function<bool(const QString& file, const QString& root)>;

  // `agentDir` exists. `roots` are absolute paths. Never fails: an item that
  // cannot be read, copied or linked, or whose destination is taken, is
  // skipped and not counted.
  static StagedAgent stageAgent(const QString& agentDir, const QStringList& roots, const Exclude& exclude);
};

}  // namespace tlr
