#pragma once

#include "registry/AgentEntry.h"
#include "registry/AgentRegistry.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

// What the add-agent sheet lists and what its Install button does. Only the
// registry's visible entries count, in document order; which agents are
// installed is the caller's knowledge.
namespace tlr::AddAgentCatalog {

// Not installed and with an install recipe.
QList<AgentEntry> notInstalled(const AgentRegistry& registry, const QSet<QString>& installedIds);
// Installed, with or without a recipe.
QList<AgentEntry> installed(const AgentRegistry& registry, const QSet<QString>& installedIds);

// The Install button: an official address that parses opens the website;
// otherwise a recipe with commands opens the install sheet; otherwise
// nothing happens.
struct InstallAction {
  enum class Kind { openWebsite, openInstallSheet, nothing };
  Kind kind = Kind::nothing;
  QString address;  // for openWebsite
};
InstallAction installActionFor(const AgentEntry& entry);

}  // namespace tlr::AddAgentCatalog
