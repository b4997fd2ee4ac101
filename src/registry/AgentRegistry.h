#pragma once

#include "platform/ArgumentReader.h"
#include "registry/AgentEntry.h"

#include <optional>

namespace tlr {

// The loaded registry: the document as decoded and its visible entries.
// Immutable after construction, so any thread may call the lookups at once.
// Shared as std::shared_ptr<const AgentRegistry>.
class AgentRegistry final {
 public:
  // Keeps `file` as it is and drops every entry whose `hidden` is true from
  // visibleAgents; logs one line with their count when any was dropped.
  explicit AgentRegistry(RegistryFile file);

  // The document exactly as decoded, hidden entries included.
  const RegistryFile& file() const { return file_; }
  // Entries whose `hidden` is absent or false, in document order.
  const QList<AgentEntry>& visibleAgents() const { return visibleAgents_; }

  // First visible entry with this id.
  std::optional<AgentEntry> lookup(const QString& id) const;
  // First visible entry that lists `name` among identify.executableNames
  // (whole name, case-sensitive).
  std::optional<AgentEntry> lookupExecutableName(const QString& name) const;
  // First visible entry whose argument rules accept `argv`: not excluded by a
  // whole argument of argvExclude, and every argvAllOf pattern, or else some
  // argvMatches pattern, found inside an argument. Empty patterns never match.
  std::optional<AgentEntry> lookupArgv(const QStringList& argv) const;

  // Whether `argv` holds an argument equal to one of `identify.argvExclude`.
  static bool isExcluded(const AgentEntry::Identify& identify, const QStringList& argv);
  // Whether every one of `identify.argvAllOf` lies inside some argument
  // (true when argvAllOf is absent or empty).
  static bool holdsAllOf(const AgentEntry::Identify& identify, const QStringList& argv);
  // Whether the program's own arguments (`ownArgs`: what follows the
  // program, or the script an interpreter runs), read by the entry's option
  // tables (ArgumentReader), make a one-shot run rather than a session: an
  // option of identify.oneShotArgs anywhere, or a first word (no option, no
  // option's value) of identify.oneShotCommands.
  static bool isOneShot(const AgentEntry::Identify& identify, const QStringList& ownArgs);
  // The entry's option tables, as the argument reader's grammar.
  static ArgumentGrammar grammarOf(const AgentEntry::Identify& identify);

 private:
  RegistryFile file_;
  QList<AgentEntry> visibleAgents_;
};

}  // namespace tlr
