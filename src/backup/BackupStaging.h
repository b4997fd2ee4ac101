#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace tlr {

class TarWriter;

// What staging one agent stored, counted as the snapshot's manifest lists it.
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
  // Source files that changed while they were read (an agent writing its
  // session): stored as far as the size they had when they were opened.
  QStringList changed;
};

// Stages an agent's data straight into the snapshot archive being written,
// below the agent's folder in it: one entry per root, named by the root's
// last path component, or, for a second root of the same last component, by
// that name with "~2", "~3"... appended, so two roots never merge into one
// entry. A folder root holds its regular files at their relative paths
// (folders, links, sockets and devices are never stored; each folder that
// holds a stored file is stored before it, with its source's permission bits,
// the owner's always set, and its time), a file root is one file (a link to
// a file: the file it names). A file reached twice within the agent
// (overlapping roots) is stored whole under each name, so an agent's part of
// the archive always unpacks on its own. Nothing is written to the disk.
class BackupStaging {
 public:
  // Answers whether a file below a root is left out (the plan's exclude
  // patterns): the file's path and the root's path.
  using Exclude = std::function<bool(const QString& file, const QString& root)>;

  // Writes the agent's members into `archive`, named below `agentFolder` (a
  // member name such as ".tollamere-backup-tmp/<id>", stored as a private
  // folder before the agent's first file). `roots` are absolute paths. An
  // item that cannot be read is skipped and not counted. Stops early when
  // the archive's reader is gone (the archive's error says why) or a stop is
  // requested.
  static StagedAgent stageAgent(TarWriter& archive, const QString& agentFolder, const QStringList& roots,
                                const Exclude& exclude);

  // The entry names of `roots` in an agent's folder, in order: each root's
  // last path component, made unique by "~2", "~3"...
  static QStringList entryNames(const QStringList& roots);

  // Removes the plain staging a run of this program may have left in
  // `folder` (what an earlier version's killed backup left: a
  // ".tollamere-backup-tmp" and its archive; a killed restore's
  // ".tollamere-restore-tmp"): every entry whose name begins with one of
  // those names.
  static void removeLeftovers(const QString& folder);
};

}  // namespace tlr
