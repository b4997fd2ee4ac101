#pragma once

#include "presentation/AgentActions.h"
#include "presentation/DashboardAgentItem.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace tlr {

class DashboardModel;

// The callbacks an agent detail sheet gets from the dashboard, all seven
// always set, each acting on the entry of the row the sheet was built for.
// Every completion is called exactly once, on the main thread.
struct AgentDetailCallbacks {
  std::function<void()> onClose;  // the dashboard closes the sheet
  std::function<void()> onSetup;
  std::function<void()> onRestart;
  std::function<void(AgentActions::DoctorCompletion)> onDoctor;
  std::function<void(const AgentDoctor::KnownIssue&, AgentActions::FixCompletion)> onApplyDoctorFix;
  std::function<void(AgentActions::LaunchCompletion)> onLaunch;
  std::function<void(AgentActions::StopCompletion)> onStop;
};

// The dashboard's user actions and its reactions, apart from any widget:
// rows and sheets call these, and these call the model's watcher.
//
//  - Without a watcher an action starts nothing, and a completion is called
//    at once with its "nothing happened" value (false, no doctor result, a
//    failed fix or restart), so a sheet's busy indicator never stays on.
//  - A row's Launch of an agent whose launch is still in flight starts
//    nothing more. After a successful launch the agent counts as launching
//    until a published row shows it running (the next scan) or
//    kLaunchSettleMs pass, so a double click, or a click on a row that still
//    shows Launch, never starts a second instance. A failed launch can be
//    retried at once. The guard is the row's only: a detail sheet's Open or
//    Launch always reaches the watcher (the sheet has its own busy state),
//    and a successful one holds the row's Launch like the row's own.
//  - The lock-online reaction starts agents the user has just locked online
//    (lockedIDsChanged()).
class DashboardActions final : public QObject {
  Q_OBJECT

 public:
  explicit DashboardActions(DashboardModel& model, QObject* parent = nullptr);

  DashboardModel& model() const { return model_; }

  // ---- Row actions ----
  // The row's Launch button. Returns whether a launch was started: false
  // without a watcher or while a launch of the agent is in flight.
  bool launchFromRow(const AgentEntry& entry);
  // Whether a launch of the agent is waiting for its outcome, or succeeded
  // and the agent has not been seen running yet.
  bool isLaunching(const QString& agentId) const {
    return launches_.contains(agentId) || settling_.contains(agentId);
  }
  // How long a launched agent may take to show up running: two scans.
  static constexpr int kLaunchSettleMs = 8000;
  void setLaunchSettleMs(int ms) { launchSettleMs_ = ms; }

  // ---- Detail sheet actions (see AgentDetailCallbacks) ----
  void launch(const AgentEntry& entry, AgentActions::LaunchCompletion completion);
  void stop(const AgentEntry& entry, AgentActions::StopCompletion completion);
  void restart(const AgentEntry& entry, AgentActions::RestartCompletion completion = {});
  void doctor(const AgentEntry& entry, AgentActions::DoctorCompletion completion);
  void applyDoctorFix(const AgentEntry& entry, const AgentDoctor::KnownIssue& issue,
                      AgentActions::FixCompletion completion);
  void setup(const AgentEntry& entry);
  // The seven callbacks for a detail sheet of `entry`; `onClose` is the
  // presenter's own.
  AgentDetailCallbacks detailCallbacks(const AgentEntry& entry, std::function<void()> onClose);

  // ---- Reactions ----
  // The lock-online set changed to `lockedIDs` (the store's signal is
  // followed from construction on): the rows are rebuilt; then
  // each newly locked agent (against the set last seen, which starts as the
  // store's set when this object is made) whose row is neither running nor
  // run by the user manager is started through the watcher's recoverOnDemand
  // (once). Without a lock-online store the first change only records the
  // set.
  void lockedIDsChanged(const QSet<QString>& lockedIDs);
  const std::optional<QSet<QString>>& lastSeenLockedIDs() const { return lastSeenLockedIDs_; }

  // The record an open detail sheet of `open` should show after the model
  // published `rows`: the new row with the same id when one of the six
  // followed fields changed; nothing when the sheet keeps its record (no
  // change, or the agent has no row any more).
  static std::optional<DashboardAgentItem> followSelection(const DashboardAgentItem& open,
                                                            const QList<DashboardAgentItem>& rows);

 Q_SIGNALS:
  // A launch of the agent began (true) or ended (false): it failed, the
  // agent was seen running, or kLaunchSettleMs passed.
  void launchingChanged(const QString& agentId, bool launching);

 private:
  using Waiters = QList<AgentActions::LaunchCompletion>;
  // Starts a launch or joins the one in flight; false when joined or when
  // there is no watcher.
  bool startLaunch(const AgentEntry& entry, AgentActions::LaunchCompletion completion);
  void settle(const QString& agentId);
  void endSettling(const QString& agentId);
  void rowsPublished(const QList<DashboardAgentItem>& rows);

  DashboardModel& model_;
  // The completions waiting for each agent's launch in flight.
  QHash<QString, std::shared_ptr<Waiters>> launches_;
  // Agents launched successfully and not yet seen running, each with the
  // token of its hold.
  QHash<QString, quint64> settling_;
  quint64 settleCounter_ = 0;
  int launchSettleMs_ = kLaunchSettleMs;
  std::optional<QSet<QString>> lastSeenLockedIDs_;
};

}  // namespace tlr
