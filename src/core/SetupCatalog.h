#pragma once

#include "registry/AgentEntry.h"

#include <QHash>
#include <QList>
#include <QObject>
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
