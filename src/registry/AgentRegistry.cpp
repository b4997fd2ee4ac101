#include "registry/AgentRegistry.h"

#include "platform/ArgumentReader.h"
#include "platform/Log.h"

#include <algorithm>

namespace tlr {

namespace {

// Case-sensitive substring test; an empty pattern is never contained.
bool contains(const QString& element, const QString& pattern) {
  return !pattern.isEmpty() && element.contains(pattern, Qt::CaseSensitive);
}

bool anyElementContains(const QStringList& argv, const QString& pattern) {
  return std::any_of(argv.cbegin(), argv.cend(),
                     [&](const QString& element) { return contains(element, pattern); });
}

bool isPresentAndNonEmpty(const std::optional<QStringList>& list) { return list && !list->isEmpty(); }

}  // namespace

AgentRegistry::AgentRegistry(RegistryFile file) : file_(std::move(file)) {
  qsizetype hiddenCount = 0;
  for (const AgentEntry& entry : file_.agents) {
    if (entry.hidden.value_or(false)) {
      ++hiddenCount;
    } else {
      visibleAgents_.push_back(entry);
    }
  }
  if (hiddenCount > 0) {
    log("[Registry] ", QStringLiteral("隐藏 %1 个 agent（hidden=true）").arg(hiddenCount));
  }
}

std::optional<AgentEntry> AgentRegistry::lookup(const QString& id) const {
  for (const AgentEntry& entry : visibleAgents_) {
    if (entry.id == id) return entry;
  }
  return std::nullopt;
}

std::optional<AgentEntry> AgentRegistry::lookupExecutableName(const QString& name) const {
  for (const AgentEntry& entry : visibleAgents_) {
    const auto& names = entry.identify.executableNames;
    if (names && names->contains(name, Qt::CaseSensitive)) return entry;
  }
  return std::nullopt;
}

bool AgentRegistry::isExcluded(const AgentEntry::Identify& identify, const QStringList& argv) {
  if (!identify.argvExclude) return false;
  return std::any_of(identify.argvExclude->cbegin(), identify.argvExclude->cend(),
                     [&](const QString& word) { return argv.contains(word, Qt::CaseSensitive); });
}

bool AgentRegistry::holdsAllOf(const AgentEntry::Identify& identify, const QStringList& argv) {
  if (!isPresentAndNonEmpty(identify.argvAllOf)) return true;
  return std::all_of(identify.argvAllOf->cbegin(), identify.argvAllOf->cend(),
                     [&](const QString& pattern) { return anyElementContains(argv, pattern); });
}

ArgumentGrammar AgentRegistry::grammarOf(const AgentEntry::Identify& identify) {
  return {identify.optionsWithValue.value_or(QStringList()), identify.optionsWithOptionalValue.value_or(QStringList()),
          identify.optionsWithValues.value_or(QStringList())};
}

bool AgentRegistry::isOneShot(const AgentEntry::Identify& identify, const QStringList& ownArgs) {
  const ArgumentReader read(ownArgs, grammarOf(identify));
  if (identify.oneShotArgs && read.hasOption(*identify.oneShotArgs)) return true;
  return identify.oneShotCommands && identify.oneShotCommands->contains(read.command(), Qt::CaseSensitive);
}

std::optional<AgentEntry> AgentRegistry::lookupArgv(const QStringList& argv) const {
  for (const AgentEntry& entry : visibleAgents_) {
    const AgentEntry::Identify& identify = entry.identify;
    if (isExcluded(identify, argv)) continue;
    if (isPresentAndNonEmpty(identify.argvAllOf) && holdsAllOf(identify, argv)) return entry;
    if (!isPresentAndNonEmpty(identify.argvMatches)) continue;
    const bool anyOf = std::any_of(identify.argvMatches->cbegin(), identify.argvMatches->cend(),
                                   [&](const QString& pattern) { return anyElementContains(argv, pattern); });
    if (anyOf) return entry;
  }
  return std::nullopt;
}

}  // namespace tlr
