#pragma once

#include "core/stores/EventStore.h"
#include "core/texts/LocKey.h"
#include "platform/KqueueProcessWatcher.h"
#include "registry/AgentRegistry.h"
#include "watcher/AgentDoctor.h"
#include "watcher/AgentRecover.h"
#include "watcher/AgentRestarter.h"
#include "watcher/ExitSignalClassifier.h"
#include "watcher/ProcessScanner.h"
#include "watcher/RecoveryPolicy.h"
#include "watcher/SignalledPids.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>

namespace tlr {

class DoctorResultStore;
class LockOnlineStore;
class OomKillWitness;

// A user's setup or launch that did not happen, for the interface to tell
// in the window's language.
struct UserActionFailure {
  enum class Action { setup, launch };
  Action action = Action::launch;
  QString displayName;
  // Why, as the relaunch reported it: what could not be opened (a terminal,
  // with the command line it was to run, or the file manager) and the
  // opener's words, or another reason; a launch may also be unsupported.
  AgentRecover::Result result;

  // The alert's title and message.
  LocKey title() const;
  LocKey message() const;
};

struct LifecycleTiming {
  // The second look at an agent that a scan still found after its exit.
  std::chrono::milliseconds secondLook{std::chrono::seconds(3)};
  double crashWindowSec = 60.0;
  int crashThreshold = 2;
  // The waits of a user's restart.
  AgentRestarterTiming restart{};
  // How long after a relaunch a scan must still find the agent for the
  // recovery to count: in a terminal window, from when its command began,
  // and the agent's own process must have run that long.
  std::chrono::milliseconds relaunchSettle{std::chrono::seconds(3)};
  // How long a terminal window may take to begin its command before the
  // relaunch is judged without it.
  std::chrono::milliseconds windowOpensWithin{std::chrono::seconds(20)};
  // How long an agent we started (a relaunch, the user's launch or
  // restart) is on trial: ending by itself with an exit status within it
  // (a folder the user would not trust, nothing to continue, no login), it
  // ended at start and is not started again.
  std::chrono::milliseconds startTrial{std::chrono::seconds(30)};
};

// The supervision of running agents. After every scan `tick` registers the
// new agent processes for exit notes and records `started`; when a watched
// process exits, the exit is classified and recorded, and the agent is
// brought back when the recovery policy says so (RecoveryPolicy):
//  - always after a crash, an out-of-memory kill or an abnormal exit; after
//    a normal exit or a forced kill only when the agent is locked online;
//    never after an unknown end;
//  - not while another watched process of the agent lives; when a fresh scan
//    still finds the agent, one second look a few seconds later;
//  - at most `crashThreshold` recoveries of an instance (the agent in one
//    folder) within `crashWindowSec`; the next one throttles that instance
//    until it is seen running there again (RelaunchThrottle); another
//    instance is paced on its own;
//  - an agent we started that ends by itself with an exit status within its
//    trial (`startTrial`: a question at start the user answered with "No,
//    exit", nothing to continue) ended at start: recorded with its status,
//    its instance throttled, never started again by itself;
//  - a relaunch whose continuing command (`claude --continue`) ends at once
//    starts the agent's plain command there instead (AgentRecover::
//    plainCommand()).
// An exit that follows our own stop or restart of the agent (a signal we sent
// the process, or a stop of the agent under way) is never recovered, whatever
// its status or the lock; an exit code of 128 + n after our signal n reads as
// that signal, and our SIGKILL as a forced kill. While a user's stop or
// restart of the agent is under way its exits get no row of their own: the
// stop or restart writes the one row that says what happened.
//
// Lives on the main thread, where all of its state is read and written; only
// the relaunches (AgentRecover) and doctor runs go to pool threads, and their
// results come back here. Processes that launchd (the user manager) runs are
// never watched.
//
// Its work is spread over one file per line of work:
//   AgentLifecycleWatcher.cpp     watching: the scans' pids and their exits
//   AgentLifecycleRecovery.cpp    bringing an agent back, and the throttle
//   AgentLifecycleUserActions.cpp the user's launch, stop and restart
//   AgentLifecycleDoctor.cpp      the doctor, its fixes and first-time setup
class AgentLifecycleWatcher final : public QObject {
  Q_OBJECT

 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Clock = std::function<TimePoint()>;
  // Judges an exit; `ourSignals` are the signals we sent the process just
  // before (bit n for signal n).
  using Classifier = std::function<ExitIntent(const RawExitInfo&, uint64_t ourSignals)>;
  // One doctor run of an entry; nothing when it has no doctor command. Runs
  // on a pool thread.
  using DoctorRun = std::function<std::optional<AgentDoctor::Result>(const AgentEntry&)>;
  // One fix of a known issue. Runs on a pool thread.
  using DoctorFix = std::function<AgentDoctor::FixResult(const AgentDoctor::KnownIssue&)>;

  // What the watcher records into and asks.
  struct Services {
    EventStore* events = nullptr;
    LockOnlineStore* lockOnline = nullptr;
    DoctorResultStore* doctorResults = nullptr;
    SignalledPids* signalled = nullptr;
    // Notes the kernel's out-of-memory kill counts of each watched process
    // for `classify`; none in tests that judge exits otherwise.
    std::shared_ptr<OomKillWitness> oom;
    Classifier classify;
    // Whether an uninstall of the agent is under way (its exits are ours),
    // and how many have begun in this process (a doctor run during which one
    // began, even one over by now, keeps no result). Both are asked from any
    // thread.
    std::function<bool(const QString& agentId)> isUninstalling = [](const QString&) { return false; };
    std::function<quint64(const QString& agentId)> uninstallsBegun = [](const QString&) { return quint64{0}; };
    DoctorRun runDoctor;
    DoctorFix applyFix = [](const AgentDoctor::KnownIssue& issue) { return AgentDoctor().applyFix(issue); };
    Clock clock;

    // The shared stores, the system's classifier, the real doctor and the
    // steady clock.
    static Services shared();
    // Judges exits by their wait status, our signals and `oom`: a SIGKILL is
    // an out-of-memory kill only when the kernel counted one.
    static Classifier systemClassifier(std::shared_ptr<OomKillWitness> oom);
  };

  using Timing = LifecycleTiming;

  AgentLifecycleWatcher(std::shared_ptr<const AgentRegistry> registry, std::shared_ptr<const AgentRecover> recover,
                        Services services = Services::shared(), Timing timing = {}, QObject* parent = nullptr);
  ~AgentLifecycleWatcher() override;

  // Assigned once by the application, before start().
  void setScanner(std::shared_ptr<const ProcessScanner> scanner) { scanner_ = std::move(scanner); }
  const std::shared_ptr<const ProcessScanner>& scanner() const { return scanner_; }
  const std::shared_ptr<const AgentRecover>& recover() const { return recover_; }

  // Starts receiving exit notes.
  void start();
  // Brings the watched processes in line with a scan: the running agents
  // that are not embedded in a desktop agent, each pid at most once.
  void tick(const QList<RunningAgent>& currentRunning);
  // One exit of a watched process, as the exit watcher reports it.
  void handleExit(pid_t pid, const QString& agentId, const RawExitInfo& raw);

  // An exit as it is noticed: judged and written to the log ("[Exit] ") on
  // the exit watcher's own thread the moment it is known, so that the line
  // never waits for the main thread; the rest of it is handled there.
  struct Notice {
    pid_t pid = 0;
    QString agentId;
    RawExitInfo raw;
    std::optional<AgentEntry> entry;  // nothing when the registry does not know the agent
    SignalledPids::Sent ours;
    ExitIntent intent = ExitIntent::unknown;
    QDateTime at = QDateTime::currentDateTimeUtc();  // when the exit was known
  };
  // Judges the exit and writes its line; any thread.
  static Notice notice(const AgentRegistry& registry, SignalledPids& signalled, const Classifier& classify, pid_t pid,
                       const QString& agentId, const RawExitInfo& raw);
  // A first-time setup of the agent has finished: records it and runs the
  // agent's doctor, whose result goes to the doctor result store.
  void handleSetupCompleted(const AgentEntry& entry);

  // ---- The user's actions (main thread; each returns at once) ----
  // Completions run on the main thread. Launch and restart clear the agent's
  // throttle first; the other actions leave it alone.

  // Starts the agent by its strategy; records `recovered` when it started.
  // A failure or an unsupported strategy is signalled by userActionFailed().
  void launchOnUserClick(const AgentEntry& entry, std::function<void(bool)> completion = {});
  // Stops every process of the agent; records the outcome (also when none
  // ran). false without a scanner or when a process outlived SIGKILL.
  void stopOnUserClick(const AgentEntry& entry, std::function<void(bool)> completion = {});
  // Restarts the agent (AgentRestarter), writes the report to standard
  // error and records the outcome; an agent that was not running is
  // launched instead. While it runs, exits of the agent are recorded but not
  // recovered, so a locked agent is started once, by the restart.
  void restartOnUserClick(const AgentEntry& entry,
                          std::function<void(const AgentRestarter::Result&)> completion = {});
  // Runs the doctor and records its summary; `completion` gets the result
  // (nothing without a scanner or a doctor command).
  void doctorOnUserClick(const AgentEntry& entry,
                         std::function<void(std::optional<AgentDoctor::Result>)> completion);
  // Applies the fix of a known issue and records its outcome.
  void applyDoctorFix(const AgentEntry& entry, const AgentDoctor::KnownIssue& issue,
                      std::function<void(const AgentDoctor::FixResult&)> completion);
  // Starts the agent's first-time setup; once it completes, as
  // handleSetupCompleted(). A failure (no terminal, no file manager) is
  // signalled by userActionFailed().
  void runSetupOnUserClick(const AgentEntry& entry);
  // The agent was just locked online and does not run: starts it, unless it
  // is throttled.
  void recoverOnDemand(const AgentEntry& entry);

  // Whether a user's restart of the agent is under way.
  bool isRestarting(const QString& agentId) const { return restartsInProgress_.contains(agentId); }

  const QHash<pid_t, QString>& watchedPids() const { return watchedPids_; }
  // The folder the agent last ran in, as its watched processes showed it;
  // nothing when none was seen.
  std::optional<QString> lastWorkingFolder(const QString& agentId) const;
  // The agents with a throttled instance.
  const QSet<QString>& throttledAgents() const { return throttle_.agents(); }
  bool isThrottled(const QString& agentId) const { return throttle_.isThrottled(agentId); }
  // Whether the agent's instance in `folder` is throttled.
  bool isThrottled(const QString& agentId, const QString& folder) const { return throttle_.isThrottled(agentId, folder); }
  bool hasExitWatcher() const { return kqueue_ != nullptr; }

 Q_SIGNALS:
  void throttledAgentsChanged();
  // A watched process of a known agent has exited; sent before its exit is
  // recorded, so what shows the running agents can drop it at once.
  void processExited(pid_t pid, const QString& agentId);
  // A user's setup or launch failed or is not supported; the interface
  // tells the user.
  void userActionFailed(const tlr::UserActionFailure& failure);

 private:
  using Result = AgentRecover::Result;

  // ---- Watching ----
  // The rest of an exit, on the main thread.
  void handleNotice(const Notice& notice);
  void record(const QString& agentId, AgentEventType type, std::optional<QString> details = std::nullopt,
              std::optional<EventText> text = std::nullopt);
  // With details that say `text` in the language of the moment.
  void record(const QString& agentId, AgentEventType type, const EventText& text);
  // Asks the exit watcher to watch `pid`; one refused for want of a
  // descriptor is asked again at the next scan. False when its exit has
  // been handled already: the sighting came from a scan older than its end.
  bool watchExit(pid_t pid, const QString& agentId);
  // Where a watched process belongs: its instance and where it ran.
  struct Instance {
    pid_t pid = 0;  // the instance's first process
    std::optional<QString> folder;
    // When we started it (a relaunch, the user's launch or restart): it is
    // on trial until LifecycleTiming::startTrial has passed.
    std::optional<TimePoint> startedByUs;
    // When its exit was known: a process of the agent started later (the
    // relaunch of another instance, under way) is none of this one's.
    std::optional<QDateTime> endedAt;
  };
  // The folder that names an instance for its throttle: where it works, or
  // the home folder, where one whose folder is unknown is started.
  static QString throttleFolder(const Instance& instance);
  // Whether the exit of `instance` with `raw` is the end of a start: our own
  // start still on trial that ended by itself with an exit status.
  bool endedAtStart(const Instance& instance, const RawExitInfo& raw, bool ours) const;
  // Notes where a process of a scan belongs (its instance stays the one
  // first seen).
  void remember(const RunningAgent& running);
  bool isLocked(const QString& agentId) const;
  bool hasOtherWatchedPid(const QString& agentId, pid_t instance) const;
  // Whether `all` (a fresh scan) still holds a process of the agent that no
  // other watched instance of it accounts for and that was there before
  // `instance` ended and before any relaunch of the agent under way began.
  bool stillRuns(const QList<RunningAgent>& all, const QString& agentId, const Instance& instance) const;
  // Scans off the main thread; `then` gets every record on the main thread.
  // A scan not yet begun serves every caller that asks before it begins: a
  // storm of exits costs a few scans, not one each, and each still sees a
  // scan that began after its exit.
  void scanThen(std::function<void(const QList<RunningAgent>&)> then);
  struct SharedScan;
  std::shared_ptr<SharedScan> nextScan_;
  static constexpr std::chrono::milliseconds kScanGathering{20};

  // ---- Bringing an agent back ----
  // Recovers the instance, or throttles it when this recovery is one too
  // many.
  void recoverOrThrottle(const AgentEntry& entry, ExitIntent intent, const Instance& instance);
  void scheduleDelayedRecoveryCheck(const AgentEntry& entry, ExitIntent intent, const Instance& instance);
  // What became of one automatic relaunch.
  struct Relaunch {
    bool installed = true;
    Result result;
    pid_t pid = 0;  // the new process a scan found after the settle time
    std::optional<QString> folder;  // where that process runs
    // None found: the status its terminal window's command ended with,
    // where the window said.
    std::optional<int> endedStatus;
    bool plain = false;  // the plain command was started after the continuing one ended
  };
  // Relaunches by the entry's strategy on a pool thread, in the instance's
  // folder (not an agent that is no longer installed) and, with a scanner,
  // confirms with a scan a few seconds later: `recovered` (`oomRecovered`)
  // with the new pid found, which is then on trial; when none is found and
  // the continuing command's window says it ended, the plain command is
  // started there and confirmed the same way. A start that is not found
  // ended at start: recorded (with its status where its window said) and
  // its instance throttled, never retried at once, so one failure opens one
  // terminal. `throttled` with the reason when it could not start at all.
  void attemptRecover(const AgentEntry& entry, ExitIntent intent, const Instance& instance);
  void handleRelaunch(const AgentEntry& entry, ExitIntent intent, const Instance& instance, const Relaunch& outcome);
  void handleRecoverResult(const AgentEntry& entry, AgentEventType eventType, const Instance& instance,
                           const Result& result);
  // Starts the agent by its strategy on a pool thread (the user's launch
  // when `byUser`, else a recovery); `done` gets the outcome on the main
  // thread, `unsupported` at once when there is no strategy to use.
  void relaunch(const AgentEntry& entry, bool byUser, const std::optional<QString>& folder,
                std::function<void(const Result&)> done);
  void throttle(const QString& agentId, const Instance& instance);
  // Throttles after one recovery too many within the window, and says so.
  void throttleRepeats(const AgentEntry& entry, const Instance& instance);
  // Frees every instance of the agent.
  void clearThrottle(const QString& agentId);
  // The user started the agent (launch, restart): the next new process a
  // scan finds of it within the trial is on trial.
  void expectStart(const QString& agentId);

  // ---- The user's restart ----
  // The restart's outcome as an event.
  void recordRestartOutcome(const AgentEntry& entry, const AgentRestarter::Result& result);
  void beginRestart(const QString& agentId);
  void endRestart(const QString& agentId);

  // ---- The doctor and setup ----
  // The doctor on a pool thread; its summary recorded; `completion` gets
  // the result (nothing without a scanner or a doctor command).
  void runDoctor(const AgentEntry& entry, std::function<void(std::optional<AgentDoctor::Result>)> completion);
  void handleSetupResult(const AgentEntry& entry, const Result& result);

  std::shared_ptr<const AgentRegistry> registry_;
  std::shared_ptr<const AgentRecover> recover_;
  std::unique_ptr<KqueueProcessWatcher> kqueue_;
  Services services_;
  Timing timing_;
  std::shared_ptr<const ProcessScanner> scanner_;

  QHash<pid_t, QString> watchedPids_;
  // The instance and folder of each pid of watchedPids_.
  QHash<pid_t, Instance> instanceOf_;
  // The folder each agent last ran in.
  QHash<QString, QString> lastFolder_;
  // Pids of watchedPids_ whose exit watch waits for a free descriptor; asked
  // again at each scan while they run.
  QSet<pid_t> waitingForDescriptor_;
  RelaunchThrottle throttle_;
  // Agents with user restarts and stops under way, and how many.
  QHash<QString, int> restartsInProgress_;
  QHash<QString, int> stopsInProgress_;
  // Agents whose automatic relaunch is being confirmed, and when each of
  // those relaunches began.
  QHash<QString, int> relaunching_;
  QHash<QString, QList<QDateTime>> relaunchesSince_;
  // Agents the user just started, and when.
  QHash<QString, TimePoint> expectedStarts_;
  bool started_ = false;
};

}  // namespace tlr
