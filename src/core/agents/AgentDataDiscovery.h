#pragma once

#include "registry/AgentEntry.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace tlr {

// One data location of an agent and the rule that found it.
struct DiscoveredPath {
  // The rules, in the order they run.
  enum class Source { primaryHome, envVar, workspace, globalFile, projectMarker, includePath };

  QUrl url;  // file URL of the absolute, standardized path; a folder or a file
  Source source = Source::primaryHome;

  QString path() const { return url.toLocalFile(); }
};

// The case name ("primaryHome", ...).
QString rawValue(DiscoveredPath::Source source);
template <>
std::optional<DiscoveredPath::Source> fromRawValue<DiscoveredPath::Source>(const QString& raw);

// Finds where an agent keeps its data on this machine (skills, memories,
// sessions, configuration, project folders) from the backup rules of its
// registry entry. Stateless; safe on any thread, several calls at once.
class AgentDataDiscovery {
 public:
  // The agent's existing data locations, each once, tagged with the first
  // rule that produced it, in rule order (within a rule, list order; within
  // a scan root, enumeration order with names sorted). Reads the environment
  // and the file system only; never fails.
  static QList<DiscoveredPath> discover(const AgentEntry& entry);
  // discover() without the walk for project folders (nothing is tagged
  // projectMarker) and without its diagnostic line: cheap, only a few
  // existence checks. For the setup action, which never offers projects.
  static QList<DiscoveredPath> discoverWithoutProjects(const AgentEntry& entry);

  // The folders searched for project markers when an entry names none.
  static QStringList defaultScanRoots();
  // How every path of the rules is read: "~/x" and "~" under the home folder,
  // "~name/x" under that account's home, a relative path from the current
  // folder; then standardized ("." and ".." and extra separators removed).
  // An empty string gives an empty result.
  static QString resolvePath(const QString& path);

  // Most project folders reported for one scan root, and the deepest level
  // below the root that is examined (a direct child is level 1).
  static constexpr int kMaxProjectsPerRoot = 50;
  static constexpr int kMaxScanLevel = 4;

 private:
  static QList<DiscoveredPath> discover(const AgentEntry& entry, bool walkProjects);
  static QStringList scanForProjectMarkers(const QString& root, const QStringList& markers);
};

}  // namespace tlr
