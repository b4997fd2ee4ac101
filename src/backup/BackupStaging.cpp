#include "backup/BackupStaging.h"

#include "backup/BackupPlanner.h"
#include "backup/OperationStop.h"
#include "platform/FileOps.h"
#include "platform/FileTransfer.h"
#include "platform/TarWriter.h"
#include "platform/UniqueFd.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <fcntl.h>
#include <optional>
#include <sys/stat.h>

namespace tlr {
namespace {

using FileTransfer::Kind;

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

// One agent's members as they go into the archive.
class AgentPacker {
 public:
  AgentPacker(TarWriter& archive, const QString& agentFolder) : archive_(archive), agentFolder_(agentFolder) {}

  // Stores the regular file at `source` as `name` (below the agent's
  // folder), after the folders it lies in. The file is opened without
  // waiting (a FIFO put there in the meantime is no regular file) and, unless
  // `followLink`, without following a link. Its size as stored, or nothing
  // when it was not stored.
  std::optional<qint64> file(const QString& source, const QString& name, bool followLink, StagedAgent& agent) {
    const QByteArray path = QFile::encodeName(source);
    UniqueFd fd(path.contains('\0') ? -1
                                    : ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                                                                   (followLink ? 0 : O_NOFOLLOW)));
    struct stat st{};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const qsizetype slash = name.lastIndexOf('/');
    if (slash > 0 && !folder(name.left(slash), source)) return std::nullopt;
    if (slash <= 0 && !agentFolder()) return std::nullopt;
    bool changed = false;
    if (!archive_.addFile(QFile::encodeName(agentFolder_ + "/" + name), fd.get(), st, &changed)) return std::nullopt;
    if (changed) agent.changed << source;
    return st.st_size;
  }

  bool failed() const { return !archive_.error().isEmpty(); }

 private:
  bool agentFolder() {
    if (agentStored_) return true;
    agentStored_ = archive_.addFolder(QFile::encodeName(agentFolder_), 0700,
                                      QDateTime::currentSecsSinceEpoch());
    return agentStored_;
  }

  // Stores the folder `name` (below the agent's folder) and those above it
  // that are not stored yet; `sourceFile` is a file inside it, whose parent
  // folders give their attributes.
  bool folder(const QString& name, const QString& sourceFile) {
    if (name == lastFolder_) return true;
    QStringList missing;
    QString source = QFileInfo(sourceFile).path();
    for (QString at = name; !at.isEmpty() && !stored_.contains(at);) {
      missing.prepend(at);
      const qsizetype slash = at.lastIndexOf('/');
      at = slash > 0 ? at.left(slash) : QString();
    }
    if (!agentFolder()) return false;
    // The sources of the missing folders, from the deepest up.
    QStringList sources;
    for (qsizetype i = 0; i < missing.size(); ++i) {
      sources.prepend(source);
      source = QFileInfo(source).path();
    }
    for (qsizetype i = 0; i < missing.size(); ++i) {
      struct stat st{};
      unsigned mode = 0700;
      qint64 mtime = QDateTime::currentSecsSinceEpoch();
      if (::lstat(QFile::encodeName(sources[i]).constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
        mode = (st.st_mode & 0777) | 0700;
        mtime = st.st_mtim.tv_sec;
      }
      if (!archive_.addFolder(QFile::encodeName(agentFolder_ + "/" + missing[i]), mode, mtime)) return false;
      stored_.insert(missing[i]);
    }
    lastFolder_ = name;
    return true;
  }

  TarWriter& archive_;
  QString agentFolder_;
  bool agentStored_ = false;
  QSet<QString> stored_;
  QString lastFolder_;
};

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

StagedAgent BackupStaging::stageAgent(TarWriter& archive, const QString& agentFolder, const QStringList& roots,
                                      const Exclude& exclude) {
  StagedAgent agent;
  AgentPacker packer(archive, agentFolder);
  const QStringList names = entryNames(roots);
  auto stopped = [&] { return OperationStop::requested() || packer.failed(); };
  for (qsizetype index = 0; index < roots.size() && !stopped(); ++index) {
    const QString& root = roots[index];
    const QString rootName = names[index];
    if (rootName.isEmpty()) continue;
    auto noteRoot = [&] {
      if (agent.roots.isEmpty() || agent.roots.last().name != rootName) agent.roots.append({rootName, root});
    };

    if (!QFileInfo(root).isDir()) {
      // One file. A link to a file is stored as the file it names: a link in
      // the archive would make every restore refuse the snapshot.
      const auto info = FileTransfer::entry(root);
      if (!info || (info->kind != Kind::regular && info->kind != Kind::symlink)) continue;
      const auto size = packer.file(root, rootName, info->kind == Kind::symlink, agent);
      if (!size) continue;
      ++agent.fileCount;
      agent.totalBytes += *size;
      agent.files << rootName;
      noteRoot();
      continue;
    }

    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext() && !stopped()) {
      const QString item = it.next();
      const auto info = FileTransfer::entry(item);
      if (!info || info->kind != Kind::regular) continue;
      if (exclude && exclude(item, root)) continue;
      const QString relative = BackupPlanner::relativePath(item, root);
      if (relative.isEmpty()) continue;
      const QString name = rootName + "/" + relative;
      const auto size = packer.file(item, name, false, agent);
      if (!size) continue;
      ++agent.fileCount;
      agent.totalBytes += *size;
      agent.files << name;
      countStats(item, *size, agent);
      noteRoot();
    }
  }
  return agent;
}

}  // namespace tlr
