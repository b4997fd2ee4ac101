#pragma once

#include "registry/AgentEntry.h"

#include <QList>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace tlr {

// Which first-time setup an agent offers, decided from its registry entry and
// what is on disk at the moment of the call. Stateless; any thread.
class SetupCatalog {
 public:
  struct Action {
    enum class Kind { runCommand, openConfigDirs };
    Kind kind = Kind::runCommand;
    QStringList command;     // runCommand: the entry's setup command
    QList<QUrl> configDirs;  // openConfigDirs: candidate folders, most preferred first, never empty

    static Action runCommand(QStringList argv) { return {Kind::runCommand, std::move(argv), {}}; }
    static Action openConfigDirs(QList<QUrl> dirs) { return {Kind::openConfigDirs, {}, std::move(dirs)}; }
    bool operator==(const Action&) const = default;
  };

  // The entry's setup command when it has one; for a command-line agent
  // without one, its existing home, environment and named data folders (a
  // few existence checks, no walk of project folders); otherwise nothing
  // (the agent offers no setup).
  static std::optional<Action> action(const AgentEntry& entry);
  // Whether action() has to look at the disk for this entry (a command-line
  // agent without a setup command); otherwise it answers from the entry.
  static bool looksAtDisk(const AgentEntry& entry);
};

}  // namespace tlr
