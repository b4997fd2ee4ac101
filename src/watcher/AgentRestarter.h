#pragma once

#include "core/texts/LocKey.h"
#include "registry/AgentEntry.h"
#include "watcher/CommandRunner.h"
#include "watcher/ProcessExitWait.h"
#include "watcher/SignalledPids.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>
#include <sys/types.h>

namespace tlr {

class AgentRecover;
class ProcessScanner;

struct AgentRestarterTiming {
  // Between SIGTERM and SIGKILL, and how often the processes are looked at
  // meanwhile (the restart goes on as soon as all are gone).
  std::chrono::milliseconds termGrace{std::chrono::seconds(5)};
  std::chrono::milliseconds poll{500};
  // The pause after the old processes have gone; after SIGKILL also how
  // long they have to end, looked at every `poll`.
  std::chrono::milliseconds afterExit{std::chrono::seconds(1)};
  // How long a relaunched agent must last before the confirming scan: in a
  // terminal window, from when its command began.
  std::chrono::milliseconds relaunchSettle{std::chrono::seconds(2)};
  // How long a terminal window may take to begin its command before the
  // relaunch is judged without it.
  std::chrono::milliseconds windowOpensWithin{std::chrono::seconds(20)};
  // The pauses after the graceful restart command and after the fallback.
  std::chrono::milliseconds afterCommand{std::chrono::seconds(3)};
  std::chrono::milliseconds afterFallback{std::chrono::seconds(2)};
  // How long a verify command may run, and a restart or fallback command.
  std::chrono::milliseconds checkLimit = CommandRunner::kCheckLimit;
  std::chrono::milliseconds changeLimit = CommandRunner::kChangeLimit;
};

// Restarts one agent on request and writes a step-by-step report of what it
// did, in the interface language:
//  - graceful, when the registry gives a restart command: that command, its
//    verify command, and on a failed verify the fallback command and a second
//    verify; a command stopped at its time limit fails the restart;
//  - otherwise by signals: SIGTERM to every process of the agent, SIGKILL to
//    the ones still there after the grace time, a relaunch by the agent's
//    recover strategy of each instance in the folder it ran in//    recover strategy and a scan that confirms the new instance.
// A dry run reports up to the first action and then what would happen: it
// signals nothing and runs no command.
//
// Holds only its configuration; make one per request. restart() blocks for
// seconds, so call it off the main thread. Two restarts of one agent may
// overlap: nothing here orders them.
class AgentRestarter {
 public:
  // The outcome of a restart.
  struct [[nodiscard]] Result {
    enum class Kind {
      // Restarted (a dry run: described). newPid: the new instance where
      // known, else 0.
      success,
      // Processes outlived SIGKILL; the restart was abandoned.
      killTimeout,
      // The old instance is gone (or the graceful commands ran) but no
      // working new one was confirmed; reason in the interface language.
      relaunchFailed,
      // No process of the agent ran (restart by signals only).
      notRunning,
    };
    Kind kind = Kind::notRunning;
    pid_t newPid = 0;
    QList<pid_t> strugglingPids;
    QString reason;
    // relaunchFailed: the reason by key, where there is one.
    std::optional<LocKey> why;

    static Result success(pid_t newPid) { return {Kind::success, newPid, {}, {}, {}}; }
    static Result killTimeout(QList<pid_t> pids) { return {Kind::killTimeout, 0, std::move(pids), {}, {}}; }
    static Result relaunchFailed(QString reason, std::optional<LocKey> why = std::nullopt) {
      return {Kind::relaunchFailed, 0, {}, std::move(reason), std::move(why)};
    }
    static Result notRunning() { return {Kind::notRunning, 0, {}, {}, {}}; }
    bool operator==(const Result&) const = default;
  };

  // A restart's result and its report: the lines joined with "\n", no final
  // line feed.
  struct [[nodiscard]] Outcome {
    Result result;
    QString report;
  };

  using Timing = AgentRestarterTiming;

  // Most characters of a graceful command's output shown in the report.
  static constexpr qsizetype kReportOutputCharacters = 300;

  // Signals go through `signalled`, so the exits they cause are known as
  // ours; `isAlive` tells whether a signalled process still runs.
  AgentRestarter(std::shared_ptr<const ProcessScanner> scanner, std::shared_ptr<const AgentRecover> recover,
                 Timing timing = {}, SignalledPids& signalled = SignalledPids::shared(),
                 ProcessAliveProbe isAlive = systemAliveProbe());

  Outcome restart(const AgentEntry& entry, bool dryRun) const;

 private:
  class Report;
  struct Verdict {
    bool ok = false;
    QString why;
  };

  Outcome restartBySignals(const AgentEntry& entry, bool dryRun, Report& report) const;
  Outcome restartGracefully(const AgentEntry& entry, const AgentEntry::RestartSpec& spec, bool dryRun,
                            Report& report) const;
  // Starts the agent again once per folder it ran in (one per instance; the
  // home folder when none is known).
  Outcome relaunch(const AgentEntry& entry, Report& report, const QList<std::optional<QString>>& folders) const;
  // The first process of the agent in a fresh full scan that still runs its
  // program (see ProcessSignals::isAlive), else 0.
  // Waits until the sessions just started have lasted the settle time or
  // ended, each in a terminal window (by its status file, `windows`) from
  // when its command began.
  void settle(const QStringList& windows) const;
  pid_t firstPid(const QString& agentId) const;
  static Verdict checkVerify(const CommandRunner::Result& result, const AgentEntry::RestartSpec& spec, const Report& report);

  std::shared_ptr<const ProcessScanner> scanner_;
  std::shared_ptr<const AgentRecover> recover_;
  Timing timing_;
  SignalledPids& signalled_;
  ProcessAliveProbe isAlive_;
};

}  // namespace tlr
