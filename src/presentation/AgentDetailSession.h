#pragma once

#include "core/agents/SetupCatalog.h"
#include "core/stores/EventStore.h"
#include "core/texts/LocKey.h"
#include "presentation/DashboardActions.h"
#include "presentation/DashboardAgentItem.h"
#include "presentation/DoctorOutputModel.h"
#include "watcher/AgentDoctor.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimeZone>

#include <optional>

namespace tlr {

class DoctorResultStore;
class LockOnlineStore;

// What the user does to one agent in its detail sheet, apart from any
// widget: the busy states of launch, stop and the doctor, the lock-online
// switch and its stop-and-lock policy, the console in a terminal, the doctor
// result on show, and the stores the sheet follows. The sheet draws what the
// session says and forwards every click to it; questions and failures that
// need a window reach the sheet as signals.
//
// The work behind the intents is the dashboard's (the callbacks), except the
// launchd job and terminal work done here through LaunchdJobControl and
// AgentTerminal. Nothing waits on the main thread. Completions that arrive
// after the session is gone change nothing of it; the work they report still
// runs to its end (a manual doctor run still stores its result, a delayed
// stop still reaches the dashboard). Main thread only.
class AgentDetailSession final : public QObject {
  Q_OBJECT

 public:
  static constexpr int kRecentEvents = 20;
  // How long a managed agent's hard stop gets before the dashboard's stop.
  static constexpr int kLaunchdStopDelayMs = 1500;

  // The stores the session reads and follows; all must outlive it.
  struct Stores {
    LockOnlineStore* lockOnline = nullptr;
    EventStore* events = nullptr;
    DoctorResultStore* doctorResults = nullptr;
    // Event times are shown in this zone.
    QTimeZone timeZone = QTimeZone::systemTimeZone();
    static Stores shared();
  };

  AgentDetailSession(const DashboardAgentItem& item, AgentDetailCallbacks callbacks, Stores stores,
                     QObject* parent = nullptr);

  // ---- State ----
  const DashboardAgentItem& item() const { return item_; }
  const AgentEntry& entry() const { return item_.entry; }
  const Stores& stores() const { return stores_; }
  bool isLaunching() const { return launching_; }
  bool isStopping() const { return stopping_; }
  bool isDoctorRunning() const { return doctorRunning_; }
  // The result the doctor output shows: the last manual run's, or the stored
  // one the user chose from the banner.
  const std::optional<AgentDoctor::Result>& doctorResult() const { return doctorResult_; }

  bool isLocked() const;
  // The lock switch can be used while the agent runs or is locked.
  bool canToggleLock() const { return item_.isRunning || isLocked(); }
  // Whether the sections are offered.
  std::optional<SetupCatalog::Action> setupAction() const;
  bool offersRestart() const;
  bool offersDoctor() const;
  bool offersUninstall() const;

  // The banner: an automatic doctor run under way, else the stored result.
  bool isDoctorChecking() const;
  std::optional<AgentDoctor::Result> storedDoctorResult() const;
  // The newest events first, at most kRecentEvents.
  QList<AgentEvent> recentEvents() const;

  // ---- Intents ----
  // A fresh record of the same agent; busy states and the shown doctor
  // result stay.
  void setItem(const DashboardAgentItem& item);
  // Open or Launch; ignored while a launch is in flight.
  void launch();
  // Stop; ignored while a stop is in flight. A managed agent is booted out of
  // the user manager and its lock dropped at once, without asking; the
  // dashboard's stop follows kLaunchdStopDelayMs later.
  void stop();
  // The agent's console command in a new terminal window; a failure is
  // reported through terminalOpenFailed().
  void openConsole();
  // The agent's web dashboard in the browser.
  void openDashboard();
  // The lock switch was turned to `on`. On locks at once; off only asks
  // (lockOffConfirmationRequested()) and changes nothing until answered. A
  // switch that cannot be used changes nothing. changed() follows either
  // way, so the switch shows the store again.
  void toggleLock(bool on);
  // The answer to the lock-off question: confirmed drops the lock and
  // disables a managed agent's job without waiting.
  void answerLockOff(bool confirmed);
  void setup();
  // After the user confirmed the restart.
  void restart();
  // A manual doctor run; ignored while one is in flight. Its result is
  // stored, shown, and announced through doctorFinished().
  void runDoctor();
  // The automatic run, once per presentation of the sheet.
  void autoRunDoctorIfNeeded();
  // The doctor output's fix, through the dashboard.
  DoctorOutputModel::ApplyFix doctorFix() const { return callbacks_.onApplyDoctorFix; }
  // The doctor output's rerun: through the dashboard, and its result becomes
  // the shown one.
  DoctorOutputModel::Rerun doctorRerun();
  // The banner was chosen: the stored result becomes the shown one. Returns
  // whether there was one.
  bool showStoredDoctorResult();
  // The agent was uninstalled: the user manager is asked afresh next time.
  void uninstalled();

 Q_SIGNALS:
  // Busy states, the lock, the record or the shown doctor result changed.
  void changed();
  // The agent's events changed.
  void eventsChanged();
  // The doctor store's running set or results changed (the banner).
  void bannerChanged();
  // Turning the lock off wants the user's answer (answerLockOff()).
  void lockOffConfirmationRequested();
  // No terminal could run `commandLine`.
  void terminalOpenFailed(const QString& commandLine, const QString& error);
  // The desktop did not open the agent's dashboard.
  void openFailed(const QString& address, const tlr::LocKey& reason);
  // A manual doctor run ended, with its result or without one.
  void doctorFinished(const std::optional<tlr::AgentDoctor::Result>& result);

 private:
  DashboardAgentItem item_;
  AgentDetailCallbacks callbacks_;
  Stores stores_;
  bool launching_ = false;
  bool stopping_ = false;
  bool doctorRunning_ = false;
  std::optional<AgentDoctor::Result> doctorResult_;
};

}  // namespace tlr
