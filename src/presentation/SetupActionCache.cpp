#include "presentation/SetupActionCache.h"

#include "platform/OffMain.h"

#include <QSet>

namespace tlr {

SetupActionCache::SetupActionCache(QObject* parent) : QObject(parent) {}

void SetupActionCache::track(const QList<AgentEntry>& installed) {
  QSet<QString> ids;
  for (const AgentEntry& entry : installed) {
    ids.insert(entry.id);
    if (!known_.contains(entry.id)) ask(entry);
  }
  known_.removeIf([&](QHash<QString, Known>::iterator it) { return !ids.contains(it.key()); });
}

void SetupActionCache::refresh(const AgentEntry& entry) {
  if (known_.contains(entry.id)) ask(entry);
}

std::optional<SetupCatalog::Action> SetupActionCache::action(const QString& id) const {
  const auto it = known_.constFind(id);
  return it == known_.cend() ? std::nullopt : it->action;
}

void SetupActionCache::ask(const AgentEntry& entry) {
  Known& slot = known_[entry.id];
  slot.question = ++questions_;
  // Answered from the entry alone at once; the disk is looked at elsewhere.
  if (!SetupCatalog::looksAtDisk(entry)) {
    slot.action = SetupCatalog::action(entry);
    return;
  }
  startOffMain(
      this, [entry] { return SetupCatalog::action(entry); },
      [this, id = entry.id, question = slot.question](std::optional<SetupCatalog::Action> action) {
        const auto it = known_.find(id);
        // Forgotten, or asked about again since: a later answer counts.
        if (it == known_.end() || it->question != question || it->action == action) return;
        it->action = std::move(action);
        Q_EMIT changed();
      });
}

}  // namespace tlr
