#include "core/agents/AgentDataDiscovery.h"

#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/UserHome.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace tlr {
namespace {

using Source = DiscoveredPath::Source;

// Folders that hold dependencies, build output or system data, never a
// project of its own.
bool isSkippedName(const QString& name) {
  static const QSet<QString> kSkipped = {"node_modules", ".git", "vendor", "venv",        ".venv",
                                         "dist",         "build", "Pods",  "DerivedData"};
  return kSkipped.contains(name) || name.startsWith(QLatin1String("Library"));
}

// Collects candidates in order, each path once.
class Collector {
 public:
  void record(const QString& rawPath, Source source) {
    const QString path = AgentDataDiscovery::resolvePath(rawPath);
    if (path.isEmpty() || seen_.contains(path)) return;
    seen_.insert(path);
    found_.append({QUrl::fromLocalFile(path), source});
  }
  void recordAll(const std::optional<QStringList>& paths, Source source) {
    if (!paths) return;
    for (const QString& p : *paths) record(p, source);
  }
  // The candidates that exist (a link counts when its target does).
  QList<DiscoveredPath> existing() const {
    QList<DiscoveredPath> kept;
    for (const DiscoveredPath& d : found_) {
      if (QFileInfo::exists(d.path())) kept.append(d);
    }
    return kept;
  }

 private:
  QSet<QString> seen_;
  QList<DiscoveredPath> found_;
};

void writeSelfCheckLine() {
  const QString home = Paths::home();
  const QString testPath = home + QStringLiteral("/.claude");
  errLine(QStringLiteral("[Discovery] home=") + home + QStringLiteral(" testPath=") + testPath +
          QStringLiteral(" exists=") + (QFileInfo::exists(testPath) ? "true" : "false"));
}

struct MarkerScan {
  const QSet<QString>& markers;
  QStringList found;

  bool full() const { return found.size() >= AgentDataDiscovery::kMaxProjectsPerRoot; }

  // Examines the visible entries of `dir`, which lie at `level`, depth first.
  void walk(const QString& dir, int level) {
    if (level > AgentDataDiscovery::kMaxScanLevel) return;
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
      if (full()) return;
      if (isSkippedName(entry.fileName())) continue;
      // Links are not followed: they could lead out of the root or in circles.
      if (entry.isSymLink() || !entry.isDir()) continue;
      const QString path = entry.absoluteFilePath();
      if (holdsMarker(path)) {
        found.append(path);  // a project folder is not searched further
        continue;
      }
      walk(path, level + 1);
    }
  }

  bool holdsMarker(const QString& dir) const {
    const QStringList names =
        QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
      if (markers.contains(name)) return true;
    }
    return false;
  }
};

}  // namespace

QString rawValue(DiscoveredPath::Source source) {
  switch (source) {
    case Source::primaryHome: return QStringLiteral("primaryHome");
    case Source::envVar: return QStringLiteral("envVar");
    case Source::workspace: return QStringLiteral("workspace");
    case Source::globalFile: return QStringLiteral("globalFile");
    case Source::projectMarker: return QStringLiteral("projectMarker");
    case Source::includePath: return QStringLiteral("includePath");
  }
  return {};
}

template <>
std::optional<DiscoveredPath::Source> fromRawValue<DiscoveredPath::Source>(const QString& raw) {
  for (Source s : {Source::primaryHome, Source::envVar, Source::workspace, Source::globalFile,
                   Source::projectMarker, Source::includePath}) {
    if (rawValue(s) == raw) return s;
  }
  return std::nullopt;
}

QStringList AgentDataDiscovery::defaultScanRoots() {
  return {"~/Documents", "~/Projects", "~/Workspace", "~/Code", "~/Developer", "~/Desktop"};
}

QString AgentDataDiscovery::resolvePath(const QString& path) {
  // An empty entry would otherwise name the current folder.
  if (path.isEmpty()) return {};
  return QDir::cleanPath(QDir::current().absoluteFilePath(expandUserTilde(path)));
}

QStringList AgentDataDiscovery::scanForProjectMarkers(const QString& root, const QStringList& markers) {
  if (!QFileInfo::exists(root)) return {};
  const QSet<QString> markerSet(markers.cbegin(), markers.cend());
  if (markerSet.isEmpty()) return {};
  MarkerScan scan{markerSet, {}};
  scan.walk(root, 1);
  return scan.found;
}

QList<DiscoveredPath> AgentDataDiscovery::discover(const AgentEntry& entry) {
  if (entry.id == QLatin1String("claude-code-cli")) writeSelfCheckLine();
  return discover(entry, true);
}

QList<DiscoveredPath> AgentDataDiscovery::discoverWithoutProjects(const AgentEntry& entry) {
  return discover(entry, false);
}

QList<DiscoveredPath> AgentDataDiscovery::discover(const AgentEntry& entry, bool walkProjects) {
  Collector collector;
  if (!entry.backup) return {};
  const AgentEntry::BackupSpec& backup = *entry.backup;

  if (backup.discovery) {
    const AgentEntry::BackupSpec::DiscoverySpec& rules = *backup.discovery;
    collector.recordAll(rules.primaryHomes, Source::primaryHome);
    for (const QString& name : rules.envVars.value_or(QStringList())) {
      const QString value = qEnvironmentVariable(name.toLocal8Bit().constData());
      if (!value.isEmpty()) collector.record(value, Source::envVar);
    }
    collector.recordAll(rules.workspaceConventions, Source::workspace);
    collector.recordAll(rules.globalFiles, Source::globalFile);

    const QStringList markers = rules.projectMarkers.value_or(QStringList());
    if (walkProjects && !markers.isEmpty()) {
      for (const QString& root : rules.scanRoots.value_or(defaultScanRoots())) {
        const QString resolved = resolvePath(root);
        if (resolved.isEmpty()) continue;
        for (const QString& project : scanForProjectMarkers(resolved, markers)) {
          collector.record(project, Source::projectMarker);
        }
      }
    }
  }
  collector.recordAll(backup.includePaths, Source::includePath);
  return collector.existing();
}

}  // namespace tlr
