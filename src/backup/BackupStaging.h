#pragma once

#include "backup/BackupManifest.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace tlr {

class TarWriter;

// What one agent's part of a snapshot holds, counted as the snapshot's
// manifest lists it.
struct StagedAgent {
  // One root that was stored (it yielded files, or it is a folder holding
  // none, empty folders at most): the name of its entry in the
  // agent's folder, the root as given, where in the archive it lies (below
  // the top folder: "<agent id>/<entry>", or inside another agent's entry
  // or another root's folder when it is stored there), and the bytes its
  // files take on a disk (holes left out).
  struct Root {
    QString name;
    QString path;
    QString stored;
    qint64 diskBytes = 0;
    friend bool operator==(const Root&, const Root&) = default;
  };
  qint64 fileCount = 0;
  qint64 totalBytes = 0;
  qint64 skills = 0;
  qint64 memoryBytes = 0;
  qint64 tasks = 0;
  FileNames files;  // "<root name>/<relative path>", or the root name of a file root
  QList<Root> roots;  // in the order given
};

// Items a backup names to the user: how many, and the first few paths.
struct NamedItems {
  static constexpr qsizetype kExamples = 5;
  qint64 count = 0;
  QStringList examples;
  void note(const QString& path) {
    ++count;
    if (examples.size() < kExamples) examples << path;
  }
  bool isEmpty() const { return count == 0; }
  friend bool operator==(const NamedItems&, const NamedItems&) = default;
};

// The first paths of `count` items, ", " between them and ", …" after them
// when there are more; each on one line, as the log writes it (a line break
// in a name is shown as "\n").
QString listedPaths(qint64 count, const QStringList& examples);

// What a snapshot lacks of the agents' data, by kind. Each makes the
// snapshot incomplete: the sheet says so and a verification mode fails.
// (Links and the like are never stored, so they make no gap.)
enum class SnapshotGap {
  unreadable,  // files and folders this user may not read
  tooDeep,     // folders more than kMaxDepth levels below a root
  changed,     // files that changed while they were read, twice
};
// The one verdict: the gaps of a snapshot that could not read `unreadable`,
// left out `tooDeep` and stored `changed` as read, in the order they are
// named, each with its items; empty for a complete snapshot.
QList<std::pair<SnapshotGap, NamedItems>> snapshotGaps(const NamedItems& unreadable, const NamedItems& tooDeep,
                                                       const NamedItems& changed);

// What a snapshot's archive holds of all the agents.
struct StagedSnapshot {
  QList<StagedAgent> agents;  // one per agent given, in that order
  // Source files that changed while they were read (an agent writing its
  // session) and again while they were read a second time: stored as they
  // were read, which is no one state of the file.
  NamedItems changed;
  // Items inside the roots, not hit by an exclude pattern, that are never
  // stored: no regular file or folder (symbolic links, FIFOs, sockets,
  // devices); files and folders this user may not read (mode 000, another
  // user's leftovers); folders more than kMaxDepth levels below a root.
  NamedItems notRegular;
  NamedItems unreadable;
  NamedItems tooDeep;
  static constexpr int kMaxDepth = 256;
  // Whether something the agents hold is missing from the snapshot.
  bool incomplete() const { return !snapshotGaps(unreadable, tooDeep, changed).isEmpty(); }
};

// Stages the agents' data straight into the snapshot archive being written.
// Each agent has a folder below the top folder, and in it one entry per
// root, named by the root's last path component, or, for a second root of
// the same last component, by that name with "~2", "~3"... appended, so two
// roots never merge into one entry.
//
// Every root is stored once per snapshot: a root that several agents name
// (the agents of one maker share their folders) lies in the entry of the
// first agent that names it, and a root that lies inside another root's
// folder (a settings file in an agent's home, say) is stored as part of that
// folder; each agent's record says where each of its roots lies. A file in
// a folder shared so is stored when one of the roots that reach it leaves it
// in (exclude patterns are each agent's own), and counted for every agent
// that keeps it.
//
// A folder root holds its folders and regular files at their relative
// paths, names carried byte for byte (folders, empty ones too, are stored
// before what they hold, with their source's permission bits and times to
// the nanosecond; a file with several names inside one stored root is stored
// once, its other names as hard links; links, FIFOs, sockets and devices are
// never stored and are counted as left out, as is what cannot be read). A
// file that changes while it is read is read again once. A file root is one
// file (a link to a file: the file it names). Nothing is written to the
// disk.
class BackupStaging {
 public:
  struct Agent {
    QString id;
    QStringList roots;     // absolute paths
    QStringList excludes;  // the plan's exclude patterns
  };

  // Writes the agents' members into `archive`, below the folder named `top`
  // (which the caller stores). Stops early when the archive's reader is gone (the
  // archive's error says why) or a stop is requested.
  static StagedSnapshot stage(TarWriter& archive, const QString& top, const QList<Agent>& agents);

  // The entry names of `roots` in an agent's folder, in order: each root's
  // last path component, made unique by "~2", "~3"...
  static QStringList entryNames(const QStringList& roots);

  // Removes the plain staging a run of this program may have left in
  // `folder` (what an earlier version's killed backup left: a
  // ".tollamere-backup-tmp" and its archive; a killed restore's
  // ".tollamere-restore-tmp…"): every entry whose name begins with one of
  // those names.
  static void removeLeftovers(const QString& folder);
};

}  // namespace tlr
