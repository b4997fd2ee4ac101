#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace tlr {

// What staging one agent copied, counted as the snapshot's manifest lists it.
struct StagedAgent {
  // One root that staged at least one file: the name of its entry in the
  // agent's folder, and the root as given.
  struct Root {
    QString name;
    QString path;
    friend bool operator==(const Root&, const Root&) = default;
  };
  qint64 fileCount = 0;
  qint64 totalBytes = 0;
  qint64 skills = 0;
  qint64 memoryBytes = 0;
  qint64 tasks = 0;
  QStringList files;  // "<root name>/<relative path>", or the root name of a file root
  QList<Root> roots;  // in the order given
};

// Copies an agent's data into its folder of the backup staging area: one
// entry per root, named by the root's last path component, or, for a second
// root of the same last component, by that name with "~2", "~3"... appended,
// so two roots never merge into one entry. A folder root holds its regular
// files at their relative paths (folders, links, sockets and devices are
// never copied; each staged folder keeps its source's permission bits, with
// the owner's always set), a file root is one file. A file reached twice
// within the agent (overlapping roots) is copied once and linked the second
// time. Each agent has its own map of what it copied, so an agent's folder
// never links into another agent's: a restore of one agent alone finds all
// of its files in the archive.
class BackupStaging {
 public:
  // Answers whether a file below a root is left out (the plan's exclude
  // patterns): the file's path and the root's path.
  using Exclude = std::function<bool(const QString& file, const QString& root)>;

  // `agentDir` exists. `roots` are absolute paths. Never fails: an item that
  // cannot be read, copied or linked, or whose destination is taken, is
  // skipped and not counted.
  static StagedAgent stageAgent(const QString& agentDir, const QStringList& roots, const Exclude& exclude);

  // The entry names of `roots` in an agent's folder, in order: each root's
  // last path component, made unique by "~2", "~3"...
  static QStringList entryNames(const QStringList& roots);

  // Removes the plain staging a run of this program may have left in
  // `folder` (a killed backup's ".tollamere-backup-tmp" and its archive, a
  // killed restore's ".tollamere-restore-tmp"): every entry whose name
  // begins with one of those names.
  static void removeLeftovers(const QString& folder);
};

}  // namespace tlr
