#include "watcher/AgentRestarter.h"

#include "core/texts/LocTexts.h"

#include "core/stores/SettingsStore.h"
#include "core/texts/Characters.h"
#include "core/texts/Lang.h"
#include "core/texts/LocKey.h"
#include "platform/Log.h"
#include "platform/OffMain.h"
#include "platform/OwnCommands.h"
#include "platform/ProcessSignals.h"
#include "watcher/AgentRecover.h"
#include "watcher/InstanceTerminals.h"
#include "watcher/ProcessScanner.h"

#include <csignal>

namespace tlr {

// The report's lines, every text in the language of the moment the restart
// began.
class AgentRestarter::Report {
 public:
  Report() : language_(Lang::current()) {}

  QString text(const LocKey& key) const { return LocTexts::text(language_, key); }
  // Each line stays one line, whatever a command or the registry put in it.
  void add(const LocKey& key) { lines_ << oneLine(text(key)); }
  void addLine(const QString& line) { lines_ << oneLine(line); }
  Outcome finish(Result result) const { return {std::move(result), lines_.join(QLatin1Char('\n'))}; }

 private:
  AppLanguage language_;
  QStringList lines_;
};

namespace {

QString pidWords(const QList<pid_t>& pids) {
  QStringList words;
  for (pid_t pid : pids) words << QString::number(pid);
  return words.join(QStringLiteral(", "));
}

// Ends early when the application quits.
void pause(std::chrono::milliseconds duration) { OffMainPool::pause(duration); }

// Why a command did not run at all: the runner's own reason, its last line.
QString notRunReason(const CommandRunner::Result& result) {
  const QStringList lines = result.stdErr.trimmed().split(QLatin1Char('\n'));
  return lines.last().trimmed();
}

}  // namespace

AgentRestarter::AgentRestarter(std::shared_ptr<const ProcessScanner> scanner,
                               std::shared_ptr<const AgentRecover> recover, Timing timing,
                               SignalledPids& signalled, ProcessAliveProbe isAlive)
    : scanner_(std::move(scanner)),
      recover_(std::move(recover)),
      timing_(timing),
      signalled_(signalled),
      isAlive_(std::move(isAlive)) {}

AgentRestarter::Outcome AgentRestarter::restart(const AgentEntry& entry, bool dryRun) const {
  Report report;
  report.add(LocKey::restartHeader(entry.displayName));
  if (dryRun) report.add(LocKey::restartDryRun());
  if (entry.restart) return restartGracefully(entry, *entry.restart, dryRun, report);
  return restartBySignals(entry, dryRun, report);
}

AgentRestarter::Outcome AgentRestarter::restartBySignals(const AgentEntry& entry, bool dryRun,
                                                         Report& report) const {
  report.add(LocKey::restartNoGraceful());
  const QList<RunningAgent> all = scanner_->scanAll();
  QList<pid_t> pids;
  for (const RunningAgent& running : all)
    if (running.entry.id == entry.id && !pids.contains(running.pid)) pids << running.pid;
  // Each instance comes back where it ran.
  QList<std::optional<QString>> folders;
  for (const RunningAgent& instance : ProcessScanner::instancesOf(all, entry.id)) folders << instance.workingFolder;
  if (pids.isEmpty()) {
    report.add(LocKey::restartNotRunning());
    return report.finish(Result::notRunning());
  }
  report.add(LocKey::restartFoundPids(pids.size(), pidWords(pids)));

  if (dryRun) {
    // Signal 0 delivers nothing; it only asks whether a signal could be sent.
    for (pid_t pid : pids) {
      const int error = ProcessSignals::send(pid, 0);
      report.addLine(QStringLiteral("  - pid %1: ").arg(pid) +
                     report.text(error == 0 ? LocKey::restartPermAccessible() : LocKey::restartPermDenied(error)));
    }
    report.add(LocKey::restartSimulate());
    return report.finish(Result::success(0));
  }

  report.add(LocKey::restartSendSigterm());
  for (pid_t pid : pids)
    if (const int error = signalled_.send(pid, SIGTERM, SignalledPids::Cause::usersAction); error != 0)
      report.add(LocKey::restartSigtermFail(pid, error));

  const QList<pid_t> survivors = waitForProcessExit(pids, timing_.termGrace, timing_.poll, isAlive_);
  if (survivors.isEmpty()) {
    report.add(LocKey::restartAllExitedGraceful());
    pause(timing_.afterExit);
    return relaunch(entry, report, folders);
  }

  report.add(LocKey::restartSurvivors(survivors.size(), AgentRecover::pidList(survivors)));
  for (pid_t pid : survivors) signalled_.send(pid, SIGKILL, SignalledPids::Cause::usersAction);
  // SIGKILL cannot be refused, yet a process takes a moment to take it in
  // and end: looked at until the pause is over, not once after it.
  const QList<pid_t> stuck = waitForProcessExit(survivors, timing_.afterExit, timing_.poll, isAlive_);
  if (!stuck.isEmpty()) {
    report.add(LocKey::restartSigkillStillRunning(stuck.size()));
    return report.finish(Result::killTimeout(stuck));
  }
  report.add(LocKey::restartAllKilled());
  pause(timing_.afterExit);
  return relaunch(entry, report, folders);
}

AgentRestarter::Outcome AgentRestarter::relaunch(const AgentEntry& entry, Report& report,
                                                 const QList<std::optional<QString>>& folders) const {
  using Strategy = AgentEntry::Recover::Strategy;
  report.add(LocKey::restartCallRecover());
  const auto unsupported = [&] {
    report.add(LocKey::restartUnsupportedRecover());
    return report.finish(Result::relaunchFailed(report.text(LocKey::restartReasonNoRecover()), LocKey::restartReasonNoRecover()));
  };
  if (!entry.recover || entry.recover->strategy == Strategy::openUrlScheme) return unsupported();

  // A desktop application is opened once, however many windows it had, and
  // a service runs once; each session in a terminal comes back.
  const bool openApp = entry.recover->strategy == Strategy::openApp;
  const bool once = openApp || entry.serviceKind == AgentEntry::ServiceKind::gateway;
  const qsizetype starts = once ? 1 : std::max<qsizetype>(folders.size(), 1);
  // Each session's start and the folder it was started in.
  QList<std::pair<std::optional<QString>, AgentRecover::Result>> started;
  const auto failed = [&](const AgentRecover::Result& relaunched) {
    // Said in the report's language, not as the relaunch logged it.
    report.add(LocKey::restartFailedRecover(report.text(relaunched.reasonKey())));
    return report.finish(Result::relaunchFailed(report.text(relaunched.reasonKey()), relaunched.reasonKey()));
  };
  for (qsizetype i = 0; i < starts; ++i) {
    const AgentRecover::Result relaunched =
        openApp ? recover_->recoverOpenApp(entry) : recover_->recoverExecCli(entry, folders.value(i));
    switch (relaunched.kind) {
      case AgentRecover::Result::Kind::unsupported:
        return unsupported();
      case AgentRecover::Result::Kind::failed:
        return failed(relaunched);
      case AgentRecover::Result::Kind::launched:
        started.append({folders.value(i), relaunched});
        break;
    }
  }
  const auto windowsOf = [](const QList<std::pair<std::optional<QString>, AgentRecover::Result>>& sessions) {
    QStringList windows;
    for (const auto& session : sessions)
      if (!session.second.endedFile.isEmpty()) windows << session.second.endedFile;
    return windows;
  };
  settle(windowsOf(started));
  // A session with nothing to continue in its folder has ended at once, as
  // a relaunch after a crash finds too: a new session there brings it back.
  QList<std::pair<std::optional<QString>, AgentRecover::Result>> anew;
  for (const auto& [folder, relaunched] : std::as_const(started)) {
    if (openApp || !AgentRecover::endedWithNothingToContinue(entry, relaunched)) continue;
    report.add(LocKey::restartNewSession(AgentRecover::commandLine(*AgentRecover::plainCommand(entry))));
    const AgentRecover::Result plain = recover_->recoverExecCli(entry, folder, /*plain=*/true);
    if (!plain.isLaunched()) return plain.kind == AgentRecover::Result::Kind::failed ? failed(plain) : unsupported();
    anew.append({folder, plain});
  }
  if (!anew.isEmpty()) settle(windowsOf(anew));
  // The instance the scan finds: a terminal reports no pid, and one that has
  // already gone again is no restart.
  const pid_t found = firstPid(entry.id);
  if (found == 0) {
    report.add(LocKey::restartNewPidVanished());
    return report.finish(Result::relaunchFailed(report.text(LocKey::restartReasonDidntSurvive()), LocKey::restartReasonDidntSurvive()));
  }
  report.add(LocKey::restartNewPidUp(found));
  return report.finish(Result::success(found));
}

AgentRestarter::Outcome AgentRestarter::restartGracefully(const AgentEntry& entry,
                                                          const AgentEntry::RestartSpec& spec, bool dryRun,
                                                          Report& report) const {
  report.add(LocKey::restartGracefulWillRun(AgentRecover::commandLine(spec.command)));
  if (dryRun) {
    if (spec.verifyCommand) report.add(LocKey::restartGracefulVerify(AgentRecover::commandLine(*spec.verifyCommand)));
    if (spec.fallbackCommand)
      report.add(LocKey::restartGracefulFallback(AgentRecover::commandLine(*spec.fallbackCommand)));
    return report.finish(Result::success(0));
  }

  // The restart and fallback commands start the agent: what they leave
  // running is the agent. The verify command only looks: nothing of it is.
  const OwnCommands::Scope restarting(entry.id, OwnCommands::Purpose::relaunch);

  const CommandRunner::Result ran = CommandRunner::run(spec.command, timing_.changeLimit);
  report.add(ran.timedOut ? LocKey::restartCmdTimedOut(ran.limitSeconds()) : LocKey::restartCmdExitCode(ran.exitCode));
  // An output's own final line feed ends the report line; any other stays
  // inside it, escaped.
  const auto outputLine = [](const char* label, const QString& output) {
    QString shown = Characters::prefix(output, kReportOutputCharacters);
    while (shown.endsWith(QLatin1Char('\n'))) shown.chop(1);
    return QLatin1String(label) + shown;
  };
  if (!ran.stdOut.isEmpty()) report.addLine(outputLine("  stdout: ", ran.stdOut));
  if (!ran.stdErr.isEmpty()) report.addLine(outputLine("  stderr: ", ran.stdErr));
  // Stopped half-way, it may have left the agent half-changed: whatever a
  // verify says now proves nothing.
  if (ran.timedOut) return report.finish(Result::relaunchFailed(report.text(LocKey::restartReasonTimedOut(ran.limitSeconds())), LocKey::restartReasonTimedOut(ran.limitSeconds())));
  pause(timing_.afterCommand);

  const auto succeeded = [&] { return report.finish(Result::success(firstPid(entry.id))); };
  const auto failedVerify = [&] {
    return report.finish(Result::relaunchFailed(report.text(LocKey::restartReasonGracefulFailedVerify()), LocKey::restartReasonGracefulFailedVerify()));
  };

  if (!spec.verifyCommand) {
    if (ran.exitCode != 0)
      return report.finish(
          Result::relaunchFailed(report.text(LocKey::restartReasonGracefulExitNonZero(ran.exitCode)), LocKey::restartReasonGracefulExitNonZero(ran.exitCode)));
    report.add(LocKey::restartNoVerifyExit0());
    return succeeded();
  }

  const auto verify = [&] {
    const OwnCommands::Scope checking(entry.id, OwnCommands::Purpose::check);
    return checkVerify(CommandRunner::run(*spec.verifyCommand, timing_.checkLimit), spec, report);
  };
  const Verdict first = verify();
  if (first.ok) {
    report.add(LocKey::restartVerifyPassed(first.why));
    return succeeded();
  }
  report.add(LocKey::restartVerifyFailed(first.why));
  if (!spec.fallbackCommand) return failedVerify();

  report.add(LocKey::restartFallbackRun(AgentRecover::commandLine(*spec.fallbackCommand)));
  const CommandRunner::Result fallback = CommandRunner::run(*spec.fallbackCommand, timing_.changeLimit);
  if (fallback.timedOut) {
    report.add(LocKey::restartFallbackTimedOut(fallback.limitSeconds()));
    return report.finish(Result::relaunchFailed(report.text(LocKey::restartReasonTimedOut(fallback.limitSeconds())), LocKey::restartReasonTimedOut(fallback.limitSeconds())));
  }
  report.add(LocKey::restartFallbackExit(fallback.exitCode));
  pause(timing_.afterFallback);
  const Verdict second = verify();
  if (second.ok) {
    report.add(LocKey::restartFallbackVerifyPassed(second.why));
    return succeeded();
  }
  report.add(LocKey::restartFallbackVerifyFailed(second.why));
  return failedVerify();
}

void AgentRestarter::settle(const QStringList& windows) const {
  if (windows.isEmpty())
    pause(timing_.relaunchSettle);
  else
    InstanceTerminals::waitUntilSettled(windows, timing_.relaunchSettle, timing_.windowOpensWithin);
}

pid_t AgentRestarter::firstPid(const QString& agentId) const {
  // An old instance still on its way out is in the scan too, but it is not
  // the new one.
  for (const pid_t pid : scanner_->pidsOf(agentId))
    if (isAlive_(pid)) return pid;
  return 0;
}

AgentRestarter::Verdict AgentRestarter::checkVerify(const CommandRunner::Result& result, const AgentEntry::RestartSpec& spec,
                                                    const Report& report) {
  // A verify that never ran, or was stopped at its time limit, has verified
  // nothing, even when its code happens to be the expected one.
  if (result.timedOut) return {false, report.text(LocKey::restartVerifyTimedOut(result.limitSeconds()))};
  const qint32 expected = spec.expectVerifyExitCode.value_or(0);
  const QString mismatch = report.text(LocKey::restartVerifyExitMismatch(result.exitCode, expected));
  if (result.exitCode != expected) return {false, mismatch};
  if (!result.wasRun()) {
    const QString reason = notRunReason(result);
    return {false, reason.isEmpty() ? mismatch : reason};
  }

  const QString output = result.stdOut + result.stdErr;
  if (spec.verifyOutputContains && !spec.verifyOutputContains->isEmpty() &&
      !output.contains(*spec.verifyOutputContains, Qt::CaseSensitive))
    return {false, report.text(LocKey::restartVerifyMissingString(*spec.verifyOutputContains))};
  if (spec.verifyOutputNotContains && !spec.verifyOutputNotContains->isEmpty() &&
      output.contains(*spec.verifyOutputNotContains, Qt::CaseSensitive))
    return {false, report.text(LocKey::restartVerifyFalseSuccess(*spec.verifyOutputNotContains))};
  return {true, report.text(LocKey::restartVerifyPass(result.exitCode))};
}

}  // namespace tlr
