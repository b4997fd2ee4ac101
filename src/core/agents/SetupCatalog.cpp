#include "core/agents/SetupCatalog.h"

#include "core/agents/AgentDataDiscovery.h"

namespace tlr {

bool SetupCatalog::looksAtDisk(const AgentEntry& entry) {
  return !(entry.setupCommand && !entry.setupCommand->isEmpty()) && entry.kind == AgentEntry::Kind::cli;
}

std::optional<SetupCatalog::Action> SetupCatalog::action(const AgentEntry& entry) {
  if (entry.setupCommand && !entry.setupCommand->isEmpty()) return Action::runCommand(*entry.setupCommand);
  if (entry.kind != AgentEntry::Kind::cli) return std::nullopt;

  QList<QUrl> dirs;
  // Projects are never setup folders: their walk is skipped.
  for (const DiscoveredPath& found : AgentDataDiscovery::discoverWithoutProjects(entry)) {
    switch (found.source) {
      case DiscoveredPath::Source::primaryHome:
      case DiscoveredPath::Source::envVar:
      case DiscoveredPath::Source::includePath:
        dirs.append(found.url);
        break;
      case DiscoveredPath::Source::workspace:
      case DiscoveredPath::Source::globalFile:
      case DiscoveredPath::Source::projectMarker:
        break;
    }
  }
  if (dirs.isEmpty()) return std::nullopt;
  return Action::openConfigDirs(std::move(dirs));
}

}  // namespace tlr
