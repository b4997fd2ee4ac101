#include "platform/Workspace.h"

#include "platform/DesktopEntry.h"
#include "platform/FileOps.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <mutex>
#include <sys/stat.h>

namespace tlr {
namespace {

QString resolveProgram(const QString& word) {
  const QString found = findExecutable(word, currentPath());
  return found.isEmpty() ? QString() : QFileInfo(found).canonicalFilePath();
}

// Far more than any real entry holds.
constexpr qint64 kEntryReadLimit = 1024 * 1024;

std::optional<Workspace::Application> parseEntry(const QString& bundleId, const QString& path) {
  const std::optional<QByteArray> content = FileOps::readRegularFile(path, kEntryReadLimit);
  if (!content) return std::nullopt;
  const DesktopEntry entry = DesktopEntry::parse(*content);
  if (entry.hidden) return std::nullopt;
  Workspace::Application app;
  app.bundleId = bundleId;
  app.entryPath = path;
  app.exec = entry.exec;
  app.icon = entry.icon;
  const QString execProgram = resolveProgram(DesktopEntry::programWord(app.exec));
  if (entry.tryExec.isEmpty())
    app.program = execProgram;
  else if (const QString resolved = resolveProgram(entry.tryExec); !resolved.isEmpty())
    app.program = execProgram.isEmpty() ? resolved : execProgram;
  return app;
}

// Every entry of the application folders, read again when a folder, or the
// search path that resolves programs, changes.
class Index {
 public:
  static Index& instance() {
    static Index index;
    return index;
  }

  template <class Fn>
  auto with(Fn&& fn) {
    std::lock_guard lock(mutex_);
    refreshLocked();
    return fn(apps_, byProgram_);
  }

 private:
  // One stat per folder, which every scan asks for several times: the
  // modification time comes straight from the kernel, never through a local
  // date (each of which looks at the time zone file again).
  QString stampOf(const QStringList& dirs) const {
    QString stamp = currentPath();
    for (const QString& d : dirs) {
      struct stat info {};
      const bool exists = ::stat(QFile::encodeName(d).constData(), &info) == 0;
      stamp += '\n' + d + ':' +
               (exists ? QString::number(info.st_mtim.tv_sec) + '.' + QString::number(info.st_mtim.tv_nsec)
                       : QStringLiteral("-"));
    }
    return stamp;
  }

  void refreshLocked() {
    const QStringList dirs = Workspace::applicationDirs();
    const QString stamp = stampOf(dirs);
    if (stamp == stamp_) return;
    stamp_ = stamp;
    apps_.clear();
    byProgram_.clear();
    for (const QString& dir : dirs) {
      const QStringList files = QDir(dir).entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name);
      for (const QString& fileName : files) {
        const QString id = fileName.chopped(8);
        if (apps_.contains(id)) continue;
        auto app = parseEntry(id, dir + '/' + fileName);
        if (!app) {
          apps_.insert(id, std::nullopt);  // a Hidden entry hides later ones
          continue;
        }
        if (!app->program.isEmpty() && !byProgram_.contains(app->program)) byProgram_.insert(app->program, id);
        apps_.insert(id, std::move(*app));
      }
    }
  }

  std::mutex mutex_;
  QString stamp_;
  QHash<QString, std::optional<Workspace::Application>> apps_;
  QHash<QString, QString> byProgram_;
};

}  // namespace

QStringList Workspace::applicationDirs() {
  QStringList dirs;
  dirs << Paths::dataHome() + QStringLiteral("/applications");
  QString dataDirs = QString::fromLocal8Bit(qgetenv("XDG_DATA_DIRS"));
  if (dataDirs.isEmpty()) dataDirs = QStringLiteral("/usr/local/share:/usr/share");
  for (const QString& d : dataDirs.split(':', Qt::SkipEmptyParts)) dirs << d + QStringLiteral("/applications");
  return dirs;
}

std::optional<Workspace::Application> Workspace::application(const QString& bundleId) {
  if (bundleId.isEmpty() || bundleId.contains('/')) return std::nullopt;
  return Index::instance().with([&](const auto& apps, const auto&) { return apps.value(bundleId); });
}

std::optional<QString> Workspace::applicationPath(const QString& bundleId) {
  const auto app = application(bundleId);
  if (!app || app->program.isEmpty() || !QFileInfo::exists(app->program)) return std::nullopt;
  return app->program;
}

QString Workspace::iconName(const QString& bundleId) {
  const auto app = application(bundleId);
  return app ? app->icon : QString();
}

QSet<QString> Workspace::applicationPrograms() {
  return Index::instance().with([](const auto&, const auto& byProgram) {
    QSet<QString> programs;
    for (auto it = byProgram.cbegin(); it != byProgram.cend(); ++it) programs.insert(it.key());
    return programs;
  });
}

std::optional<QString> Workspace::bundleIdOfProgram(const QString& exePath) {
  if (exePath.isEmpty()) return std::nullopt;
  return Index::instance().with([&](const auto&, const auto& byProgram) -> std::optional<QString> {
    const auto it = byProgram.find(exePath);
    if (it == byProgram.end()) return std::nullopt;
    return *it;
  });
}

QList<Workspace::RunningApplication> Workspace::runningApplications(const ProcessTable& table) {
  return Index::instance().with([&](const auto&, const auto& byProgram) {
    QList<RunningApplication> running;
    if (byProgram.isEmpty()) return running;
    for (const ProcessInfo& p : table.processes()) {
      if (p.exePath.isEmpty()) continue;
      const auto it = byProgram.find(p.exePath);
      if (it == byProgram.end()) continue;
      const ProcessInfo* parent = table.find(p.ppid);
      if (parent && parent->exePath == p.exePath) continue;
      running.append({p.pid, *it, p.startTime, p.exePath});
    }
    return running;
  });
}

Expected<pid_t, QString> Workspace::open(const QString& bundleId) {
  const auto app = application(bundleId);
  if (!app) return Unexpected(QStringLiteral("no application with bundle identifier ") + bundleId);
  const QString word = DesktopEntry::programWord(app->exec);
  if (word.isEmpty() || app->program.isEmpty())
    return Unexpected(QStringLiteral("the application's program is not installed: ") + bundleId);
  ChildSpec spec;
  spec.program = app->exec.first();
  spec.arguments = app->exec.mid(1);
  return spawnDetached(spec, QString());
}

}  // namespace tlr
