#pragma once

#include "core/texts/LocKey.h"
#include "core/texts/SettingsValues.h"
#include "registry/AgentEntry.h"

#include <QString>

#include <optional>

// What the install sheet knows about commands an install recipe requires:
// the ones it can install by itself (`bootstrapFor`) and a one-line
// description, sometimes with a script for a terminal window (`guideFor`).
// Lookups are exact and case-sensitive.
namespace tlr::DependencyGuides {

struct CommandGuide {
  LocKey description;
  // A script to run in a terminal window; absent when the guide only describes.
  std::optional<CommandList> terminalCommands;
};

// The commands that install `command` inside the application: "pipx" only.
std::optional<CommandList> bootstrapFor(const QString& command);
// The guide of "npm", "pipx", "curl" or "bash".
std::optional<CommandGuide> guideFor(const QString& command);

// The pipx install script: conda, else a pip user install, else the same
// with "--break-system-packages", else pip upgraded first. The first
// alternative that succeeds ends the list.
QString pipxBootstrapScript();
// The Node.js script for a terminal window: nodejs and npm through apt (with
// sudo unless run as root), else the Node.js download page and a failure.
// It holds the two echo placeholders below.
QString nodeGuideScript();

inline constexpr QLatin1String kBrewMissingPlaceholder{"{{TLR_ECHO_BREW_MISSING}}"};
inline constexpr QLatin1String kNodePlaceholder{"{{TLR_ECHO_NODE}}"};

// Every argument of `commands` with both placeholders replaced by their
// texts in `language`.
CommandList fillEchoPlaceholders(const CommandList& commands, AppLanguage language);

}  // namespace tlr::DependencyGuides
