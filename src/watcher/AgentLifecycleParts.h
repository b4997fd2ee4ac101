#pragma once

// What the files of AgentLifecycleWatcher share; no other file includes it.

#include "core/stores/SettingsStore.h"

#include "core/texts/LocTexts.h"
#include "core/texts/Lang.h"
#include "core/texts/LocKey.h"
#include "platform/Log.h"
#include "registry/AgentEntry.h"

#include <QHash>
#include <QString>

namespace tlr::lifecycle {

// "<tag><name><message>".
inline void log(const char* tag, const AgentEntry& entry, const QString& message) {
  tlr::log(tag, entry.displayName + message);
}

// An event's details in the interface language of the moment.
inline QString currentText(const LocKey& key) { return LocTexts::text(Lang::current(), key); }

// One of the agent's actions under way has ended.
inline void countDown(QHash<QString, int>& counts, const QString& agentId) {
  const auto found = counts.find(agentId);
  if (found == counts.end()) return;
  if (--found.value() <= 0) counts.erase(found);
}

}  // namespace tlr::lifecycle
