#pragma once

#include "core/stores/EventStore.h"
#include "core/texts/SettingsValues.h"
#include "presentation/DashboardAgentItem.h"
#include "presentation/SetupActionCache.h"
#include "registry/AgentRegistry.h"
#include "watcher/ProcessScanner.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <memory>

namespace tlr {

class AgentActions;
class LockOnlineStore;
class SettingsStore;

// The dashboard's rows: turns the scanner's installed and running agents into
// one DashboardAgentItem per installed agent, in the dashboard's fixed order.
// The application feeds it on every scan tick; the model runs it again with
// the last lists when the language or the event log changes, and the
// dashboard's actions when the lock-online set does (refresh()). A row's
// setup action is worked out off the
// main thread when its agent becomes installed; the rows are published again
// when it arrives. Holds no widgets. Main thread only.
class DashboardModel final : public QObject {
  Q_OBJECT

 public:
  // The stores a row reads. All must outlive the model.
  struct Stores {
    EventStore* events = nullptr;
    LockOnlineStore* lockOnline = nullptr;
    SettingsStore* settings = nullptr;

    // The process's shared stores.
    static Stores shared();
  };

  DashboardModel(std::shared_ptr<const AgentRegistry> registry, Stores stores, QObject* parent = nullptr);

  // The rows, in display order; empty before the first update.
  const QList<DashboardAgentItem>& dashboardItems() const { return dashboardItems_; }
  // The running agents of the last update.
  const QList<RunningAgent>& lastRunning() const { return lastRunning_; }
  // The ids of the agents installed at the last update.
  QSet<QString> installedIds() const;

  // The lifecycle watcher's actions, set by the application once the watcher
  // exists; absent before (no row is throttled then). Not owned; it must
  // outlive the model or be reset first.
  AgentActions* watcher() const { return watcher_; }
  void setWatcher(AgentActions* watcher) { watcher_ = watcher; }

  const std::shared_ptr<const AgentRegistry>& registry() const { return registry_; }
  const Stores& stores() const { return stores_; }

  // Rebuilds every row from `installed` (in the scanner's order) and
  // `running` (one record per agent id expected; later duplicates are
  // ignored) and publishes them, also when nothing changed. Rows are sorted
  // by orderWeight() with a stable sort, so equal weights keep the installed
  // order. An installed id given twice gives one row (the first).
  void update(const QList<AgentEntry>& installed, const QList<RunningAgent>& running);
  // update() with the last lists again.
  void refresh() { update(lastInstalled_, lastRunning_); }
  // A process of the running list has ended (the lifecycle watcher knows at
  // once, the next scan only seconds later): it no longer counts. Publishes
  // nothing by itself: the exit's event, which follows, rebuilds the rows
  // once.
  void forgetProcess(pid_t pid);
  // Works out the setup action of an installed agent again (its folders may
  // have appeared); the rows follow when the answer differs.
  void refreshSetupAction(const AgentEntry& entry) { setupActions_.refresh(entry); }

  // The row's one-word status in `language`, with how many instances run
  // where that is more than one, or where a faulted agent still runs:
  // "Faulted · 1 running", "Running ×2", "Running", "Stopped".
  static QString statusText(const DashboardAgentItem& item, AppLanguage language);
  // The sort weight of a row: 1000 when throttled; otherwise
  // (locked ? 0 : 10) + (running ? 0 : 100) + the kind's rank (desktop app 0,
  // command-line agent 1, IDE plug-in 2). Lower sorts first.
  static int orderWeight(const DashboardAgentItem& item);
  // Whether an event of this type marks its agent faulted when it is the
  // agent's newest.
  static bool isFaultEvent(AgentEventType type);
  // The one-line text of an event in `language`: its type's phrase, or what
  // its details record where the type alone would misdescribe it (a user's
  // stop, setup, doctor run or fix recorded as restarted, a launch as
  // recovered, a failed restart as throttled) and a runaway's measure, said
  // again by key. Stored details keep the language of their day and are
  // never shown as they are.
  static QString eventText(const AgentEvent& event, AppLanguage language);
  // The same in the store's current language.
  static QString eventText(const AgentEvent& event, const SettingsStore& store);

 Q_SIGNALS:
  // After every update, with the new rows.
  void dashboardItemsChanged(const QList<tlr::DashboardAgentItem>& items);

 private:
  std::shared_ptr<const AgentRegistry> registry_;
  Stores stores_;
  AgentActions* watcher_ = nullptr;
  QList<DashboardAgentItem> dashboardItems_;
  QList<AgentEntry> lastInstalled_;
  QList<RunningAgent> lastRunning_;
  // Each installed agent's setup action, kept between updates.
  SetupActionCache setupActions_;
};

}  // namespace tlr
