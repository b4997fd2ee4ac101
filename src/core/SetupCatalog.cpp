#include "core/SetupCatalog.h"

#include "backup/AgentDataDiscovery.h"

namespace tlr {

std::optional<SetupCatalog::Action> SetupCatalog::action(const AgentEntry& entry) {
  if (entry.setupCommand && !entry.setupCommand->isEmpty()) return Action::runCommand(*entry.setupCommand);
  if (entry.kind != AgentEntry::Kind::cli) return std::nullopt;

  QList<QUrl> dirs;
  for (const DiscoveredPath& found : AgentDataDiscovery::discover(entry)) {
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
