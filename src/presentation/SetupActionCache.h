#pragma once

#include "core/agents/SetupCatalog.h"
#include "registry/AgentEntry.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace tlr {

// The setup action of each installed agent, worked out off the main thread
// and kept, so that drawing rows never touches the disk: an agent is asked
// about when it becomes installed (again) and on refresh(); a new registry
// comes with a new cache. Main thread only.
class SetupActionCache final : public QObject {
  Q_OBJECT

 public:
  explicit SetupActionCache(QObject* parent = nullptr);

  // The agents installed now: the ones not known yet are asked about, the
  // ones no longer installed are forgotten.
  void track(const QList<AgentEntry>& installed);
  // Asks about `entry` again (a configuration folder may have appeared).
  void refresh(const AgentEntry& entry);
  // The action of agent `id` as far as known: nothing while it is being
  // asked about, or when it offers none.
  std::optional<SetupCatalog::Action> action(const QString& id) const;

 Q_SIGNALS:
  // An answer from off the main thread changed what action() gives.
  void changed();

 private:
  struct Known {
    std::optional<SetupCatalog::Action> action;
    quint64 question = 0;  // the latest question about it
  };
  void ask(const AgentEntry& entry);

  QHash<QString, Known> known_;
  quint64 questions_ = 0;
};

}  // namespace tlr
