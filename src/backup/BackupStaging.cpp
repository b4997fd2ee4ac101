#include "backup/BackupStaging.h"

#include "backup/BackupPlanner.h"
#include "backup/OperationStop.h"
#include "platform/FileOps.h"
#include "platform/FileTransfer.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>

namespace tlr {
namespace {

using FileTransfer::Kind;

// Copies `source` to `destination`, or links it to the copy made earlier in
// this agent. Returns whether the destination now holds the file.
// Stages `source` at `destination`: a second name of the file when both lie
// on one file system (no data is copied; tar stores each name with its full
// content), else a copy. A file this agent staged before gets a second name
// of that first staging.
bool stageFile(const QString& source, const QString& destination, bool followLink,
               QHash<QString, QString>& staged) {
  const QString key = QDir::cleanPath(source);
  const auto earlier = staged.constFind(key);
  if (earlier != staged.constEnd()) return FileTransfer::hardLink(*earlier, destination).isEmpty();
  const bool linked = !followLink && FileTransfer::hardLink(source, destination).isEmpty();
  if (!linked && !FileTransfer::copyNew(source, destination).isEmpty()) return false;
  staged.insert(key, destination);
  return true;
}

void countStats(const QString& source, qint64 size, StagedAgent& agent) {
  const QString lower = source.toLower();
  auto has = [&](const char* text) { return lower.contains(QLatin1String(text)); };
  if (has("/skill") || has("/tool"))
    ++agent.skills;
  else if (has("/memor") || has("/history") || has("/session"))
    agent.memoryBytes += size;
  else if (has("/task") || has("/project"))
    ++agent.tasks;
}

// Gives each folder staged for the folder root `root` at `target` the
// permission bits of its source (set-id and sticky bits left out); the owner
// keeps every right, so the staging can always be read and removed.
void copyFolderModes(const QString& root, const QString& target) {
  auto apply = [](const QString& source, const QString& staged) {
    const auto info = FileTransfer::entry(source);
    if (info && info->kind == FileTransfer::Kind::directory)
      ::chmod(QFile::encodeName(staged).constData(), (info->mode & 0777) | 0700);
  };
  QDirIterator it(target, QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString staged = it.next();
    apply(root + "/" + BackupPlanner::relativePath(staged, target), staged);
  }
  apply(root, target);
}

}  // namespace

QStringList BackupStaging::entryNames(const QStringList& roots) {
  QStringList names;
  QSet<QString> taken;
  for (const QString& root : roots) {
    const QString base = QFileInfo(root).fileName();
    QString name = base;
    for (int n = 2; !base.isEmpty() && taken.contains(name); ++n) name = base + QStringLiteral("~%1").arg(n);
    taken.insert(name);
    names << name;
  }
  return names;
}

void BackupStaging::removeLeftovers(const QString& folder) {
  const QStringList names = QDir(folder).entryList({QStringLiteral(".tollamere-backup-tmp*"),
                                                    QStringLiteral(".tollamere-restore-tmp*")},
                                                   QDir::AllEntries | QDir::Hidden | QDir::System);
  for (const QString& name : names) FileOps::removeItem(folder + "/" + name);
}

StagedAgent BackupStaging::stageAgent(const QString& agentDir, const QStringList& roots, const Exclude& exclude) {
  StagedAgent agent;
  QHash<QString, QString> copied;
  const QStringList names = entryNames(roots);
  for (qsizetype index = 0; index < roots.size() && !OperationStop::requested(); ++index) {
    const QString& root = roots[index];
    const QString rootName = names[index];
    if (rootName.isEmpty()) continue;
    const QString target = agentDir + "/" + rootName;
    auto noteRoot = [&] {
      if (agent.roots.isEmpty() || agent.roots.last().name != rootName) agent.roots.append({rootName, root});
    };

    if (!QFileInfo(root).isDir()) {
      // One file. A link to a file is staged as the file it names: a link in
      // the archive would make every restore refuse the snapshot.
      const auto info = FileTransfer::entry(root);
      if (!info) continue;
      qint64 size = info->size;
      if (info->kind == Kind::symlink) {
        const QFileInfo linked(root);
        if (!linked.exists() || !linked.isFile()) continue;
        size = linked.size();
      } else if (info->kind != Kind::regular) {
        continue;
      }
      if (!stageFile(root, target, info->kind == Kind::symlink, copied)) continue;
      ++agent.fileCount;
      agent.totalBytes += size;
      agent.files << rootName;
      noteRoot();
      continue;
    }

    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    QString lastParent;
    while (it.hasNext() && !OperationStop::requested()) {
      const QString item = it.next();
      const auto info = FileTransfer::entry(item);
      if (!info || info->kind != Kind::regular) continue;
      if (exclude && exclude(item, root)) continue;
      const QString relative = BackupPlanner::relativePath(item, root);
      if (relative.isEmpty()) continue;
      const QString destination = target + "/" + relative;
      const QString parent = QFileInfo(destination).path();
      if (parent != lastParent) {
        QDir().mkpath(parent);
        lastParent = parent;
      }
      if (!stageFile(item, destination, false, copied)) continue;
      ++agent.fileCount;
      agent.totalBytes += info->size;
      agent.files << rootName + "/" + relative;
      countStats(item, info->size, agent);
      noteRoot();
    }
    if (QFileInfo(target).isDir()) copyFolderModes(root, target);
  }
  return agent;
}

}  // namespace tlr
