#include "presentation/AddAgentCatalog.h"

#include "core/system/WebAddress.h"

namespace tlr::AddAgentCatalog {

QList<AgentEntry> notInstalled(const AgentRegistry& registry, const QSet<QString>& installedIds) {
  QList<AgentEntry> entries;
  for (const AgentEntry& entry : registry.visibleAgents()) {
    if (!installedIds.contains(entry.id) && entry.install) entries.append(entry);
  }
  return entries;
}

QList<AgentEntry> installed(const AgentRegistry& registry, const QSet<QString>& installedIds) {
  QList<AgentEntry> entries;
  for (const AgentEntry& entry : registry.visibleAgents()) {
    if (installedIds.contains(entry.id)) entries.append(entry);
  }
  return entries;
}

InstallAction installActionFor(const AgentEntry& entry) {
  if (!entry.install) return {};
  const auto& recipe = *entry.install;
  if (recipe.officialUrl && WebAddress::parse(*recipe.officialUrl))
    return {InstallAction::Kind::openWebsite, *recipe.officialUrl};
  if (recipe.commands && !recipe.commands->isEmpty()) return {InstallAction::Kind::openInstallSheet, {}};
  return {};
}

}  // namespace tlr::AddAgentCatalog
