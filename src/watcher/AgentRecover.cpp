#include "watcher/AgentRecover.h"

#include "core/agents/SetupActionRunner.h"
#include "core/agents/SetupCatalog.h"
#include "core/texts/Lang.h"
#include "core/texts/LocTexts.h"
#include "platform/ChildProcess.h"
#include "platform/Log.h"
#include "platform/LoginShell.h"
#include "platform/Paths.h"
#include "platform/ProcessSignals.h"
#include "platform/TerminalLauncher.h"
#include "platform/UserPrograms.h"
#include "platform/Workspace.h"
#include "registry/AgentRegistry.h"
#include "watcher/InstanceTerminals.h"
#include "watcher/ProcessScanner.h"
#include "watcher/SetupCompletionWatcher.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <csignal>

namespace tlr {

LocKey AgentRecover::Result::reasonKey() const {
  if (why) return *why;
  switch (unopened) {
    case Unopened::terminal: return LocKey::alertTerminalOpenFailBody(command, error);
    case Unopened::folder: return LocKey::alertFailureReason(error);
    case Unopened::nothing: break;
  }
  return LocKey::alertFailureReason(reason);
}

namespace {

void recoverLog(const QString& id, const QString& message) { log("[Recover] ", id + message); }

AgentRecover::Result unsafeId(const QString& id) {
  return AgentRecover::Result::failed(QStringLiteral("agent id 不能用作文件名: ") + id, LocKey::alertReasonUnsafeId(id));
}

}  // namespace

AgentRecover::AgentRecover(Timing timing, SignalledPids& signalled, SetupCompletionWatcher* setupWatcher,
                           ProcessAliveProbe isAlive, InstanceTerminals* terminals)
    : timing_(timing),
      signalled_(signalled),
      setupWatcher_(setupWatcher),
      isAlive_(std::move(isAlive)),
      terminals_(terminals ? terminals : &InstanceTerminals::shared()) {}

QString AgentRecover::commandLine(const Command& command) { return command.join(QLatin1Char(' ')); }

QString AgentRecover::terminalShellText(const Command& command, const std::optional<QString>& sentinelPath,
                                        const QString& endedFile) {
  QString text = UserPrograms::exportPathLine() + commandLine(command) + QStringLiteral("; tlr_status=$?");
  if (!endedFile.isEmpty()) text += QStringLiteral("; ") + InstanceTerminals::statusWords(endedFile);
  // Touched whether the command succeeds or not: the watch only needs to
  // know that it has ended.
  if (sentinelPath) text += QStringLiteral("; touch ") + shellQuote(*sentinelPath);
  // The window stays open with the command's last words and how it ended
  // (an agent that fails at start, a setup that prints its result), until
  // the user presses Enter.
  const QString marker = QStringLiteral("\x01");
  const QStringList ended =
      LocTexts::text(Lang::current(), LocKey::alertTerminalCommandEnded(marker)).split(marker);
  QStringList quoted;
  for (const QString& part : ended) quoted << shellQuote(part);
  return text + QStringLiteral("; echo; echo ") + quoted.join(QStringLiteral("\"$tlr_status\"")) +
         QStringLiteral("; read -r tlr_key");
}

QString AgentRecover::gatewayShellText(const Command& command) {
  // exec: the service itself becomes the detached process, with no shell
  // waiting above it.
  return UserPrograms::exportPathLine() + QStringLiteral("exec ") + commandLine(command);
}

QString AgentRecover::gatewayLogPath(const QString& agentId) {
  return Paths::serviceLogs() + QStringLiteral("/tlr-") + agentId + QStringLiteral(".log");
}

QString AgentRecover::setupSentinelPath(const QString& agentId, qint64 secondsSinceEpoch) {
  return Paths::runtimeFolder() + QStringLiteral("/tlr-setup-done-") + agentId + QLatin1Char('-') + QString::number(secondsSinceEpoch);
}

QString AgentRecover::pidList(const QList<pid_t>& pids) {
  QStringList words;
  for (pid_t pid : pids) words << QString::number(pid);
  return QLatin1Char('[') + words.join(QStringLiteral(", ")) + QLatin1Char(']');
}

QString AgentRecover::startFolder(const std::optional<QString>& folder) {
  if (folder && !folder->isEmpty() && QFileInfo(*folder).isDir()) return *folder;
  return Paths::home();
}

AgentRecover::Result AgentRecover::runInTerminal(const QString& shellText, const QString& command,
                                                 const QString& folder) {
  const TerminalLauncher::Result started = TerminalLauncher::run(shellText, folder);
  if (!started)
    return Result::couldNotOpen(Result::Unopened::terminal, QStringLiteral("终端启动失败: ") + started.error(),
                                command, started.error());
  return Result::launched(0);
}

bool AgentRecover::canStart(const AgentEntry& entry) {
  if (!entry.recover) return false;
  if (entry.recover->strategy == AgentEntry::Recover::Strategy::openApp)
    return entry.recover->appBundleId && Workspace::applicationPath(*entry.recover->appBundleId).has_value();
  if (!entry.recover->command || entry.recover->command->isEmpty()) return false;
  return !findExecutable(entry.recover->command->first(), UserPrograms::searchPath()).isEmpty();
}

AgentRecover::Result AgentRecover::recoverOpenApp(const AgentEntry& entry) const {
  const QString& id = entry.id;
  if (!entry.recover || !entry.recover->appBundleId) {
    recoverLog(id, QStringLiteral(" FAIL: recover.appBundleId 没填"));
    return Result::failed(QStringLiteral("recover.appBundleId 没填"), LocKey::alertReasonNoApp());
  }
  const QString bundleId = *entry.recover->appBundleId;
  const std::optional<QString> location = Workspace::applicationPath(bundleId);
  if (!location) {
    recoverLog(id, QStringLiteral(" FAIL: NSWorkspace 找不到 ") + bundleId + QStringLiteral(" 对应的 App"));
    return Result::failed(QStringLiteral("找不到 bundleId ") + bundleId + QStringLiteral(" 对应的 App"),
                          LocKey::alertReasonAppNotFound(bundleId));
  }
  recoverLog(id, QStringLiteral(": NSWorkspace.openApplication at ") + *location);
  const Expected<pid_t, QString> opened = Workspace::open(bundleId);
  if (!opened) {
    recoverLog(id, QStringLiteral(" FAIL: openApplication error: ") + opened.error());
    return Result::failed(QStringLiteral("openApplication 失败: ") + opened.error(),
                          LocKey::alertReasonAppNotStarted(opened.error()));
  }
  recoverLog(id, QStringLiteral(" OK: new pid ") + QString::number(opened.value()));
  return Result::launched(opened.value());
}

std::optional<Command> AgentRecover::plainCommand(const AgentEntry& entry) {
  if (!entry.recover || !entry.recover->plainCommand || entry.recover->plainCommand->isEmpty()) return std::nullopt;
  if (entry.recover->plainCommand == entry.recover->command) return std::nullopt;
  return entry.recover->plainCommand;
}

bool AgentRecover::endedWithNothingToContinue(const AgentEntry& entry, const Result& started) {
  return started.isLaunched() && !started.endedFile.isEmpty() && plainCommand(entry) &&
         InstanceTerminals::endedStatus(started.endedFile).has_value();
}

AgentRecover::Result AgentRecover::recoverExecCli(const AgentEntry& entry, const std::optional<QString>& folder,
                                                  bool plain) const {
  const QString& id = entry.id;
  if (!entry.recover || !entry.recover->command || entry.recover->command->isEmpty()) {
    recoverLog(id, QStringLiteral(" FAIL: recover.command 没填"));
    return Result::failed(QStringLiteral("recover.command 没填"), LocKey::alertReasonNoCommand());
  }
  const Command command = plain ? plainCommand(entry).value_or(*entry.recover->command) : *entry.recover->command;
  const QString where = startFolder(folder);
  if (entry.serviceKind == AgentEntry::ServiceKind::gateway) return startGateway(entry, command, where);

  recoverLog(id, QStringLiteral(" REPL 模式 → Terminal 前置") +
                     (plain ? QStringLiteral(" (") + commandLine(command) + QLatin1Char(')') : QString()));
  const Result result = runInstanceTerminal(entry, command, where);
  if (result.isLaunched()) recoverLog(id, QStringLiteral(" OK"));
  return result;
}

AgentRecover::Result AgentRecover::runInstanceTerminal(const AgentEntry& entry, const Command& command,
                                                       const QString& folder) const {
  const Expected<QString, QString> opened = terminals_->open(
      entry.id, folder, [&](const QString& endedFile) { return terminalShellText(command, std::nullopt, endedFile); });
  if (!opened)
    return Result::couldNotOpen(Result::Unopened::terminal, QStringLiteral("终端启动失败: ") + opened.error(),
                                commandLine(command), opened.error());
  return Result::launchedInTerminal(opened.value());
}

AgentRecover::Result AgentRecover::startGateway(const AgentEntry& entry, const Command& command,
                                                const QString& folder) const {
  const QString& id = entry.id;
  if (!AgentEntry::isSafeFileComponent(id)) {
    const Result failure = unsafeId(id);
    recoverLog(id, QStringLiteral(" FAIL: ") + failure.reason);
    return failure;
  }
  const QString logPath = gatewayLogPath(id);
  recoverLog(id, QStringLiteral(" gateway 模式 → 后台 detach (log: ") + logPath + QLatin1Char(')'));
  ChildSpec spec;
  spec.program = QStringLiteral("/bin/sh");
  spec.arguments = {QStringLiteral("-c"), gatewayShellText(command)};
  spec.workingDirectory = folder;
  const Expected<pid_t, QString> started = spawnDetached(spec, logPath);
  if (!started)
    return Result::failed(QStringLiteral("/bin/sh 后台启动失败: ") + started.error(),
                          LocKey::alertReasonServiceNotStarted(started.error()));
  recoverLog(id, QStringLiteral(" OK"));
  // Like a terminal start, the relaunch reports no pid: whether the service
  // stays up is for the next scan to see.
  return Result::launched(0);
}

AgentRecover::Result AgentRecover::runCliInTerminal(const Command& command, const std::optional<QString>& sentinelPath,
                                                    const char* tag, const QString& entryId,
                                                    const QString& folder) const {
  logLine(QLatin1Char('[') + QString::fromUtf8(tag) + QStringLiteral("] ") + entryId +
          QStringLiteral(" → Terminal: ") + commandLine(command));
  return runInTerminal(terminalShellText(command, sentinelPath), commandLine(command), folder);
}

AgentRecover::Result AgentRecover::userOpenApp(const AgentEntry& entry) const {
  const std::optional<QString> bundleId = entry.recover ? entry.recover->appBundleId : std::nullopt;
  if (!bundleId) return Result::failed(QStringLiteral("找不到 bundleId 对应的 App"), LocKey::alertReasonNoApp());
  if (!Workspace::applicationPath(*bundleId))
    return Result::failed(QStringLiteral("找不到 bundleId 对应的 App"), LocKey::alertReasonAppNotFound(*bundleId));
  log("[UserOpen] ", entry.id + QStringLiteral(" → activate ") + *bundleId);
  const Expected<pid_t, QString> opened = Workspace::open(*bundleId);
  if (!opened) return Result::failed(opened.error(), LocKey::alertReasonAppNotStarted(opened.error()));
  return Result::launched(opened.value());
}

AgentRecover::Result AgentRecover::userOpenCli(const AgentEntry& entry, const std::optional<QString>& folder) const {
  Command command;
  if (entry.userInvokeCommand)
    command = *entry.userInvokeCommand;
  else if (entry.recover && entry.recover->command)
    command = *entry.recover->command;
  if (command.isEmpty())
    return Result::failed(QStringLiteral("无可用命令（userInvokeCommand / recover.command 都为空）"),
                          LocKey::alertReasonNoCommand());
  logLine(QStringLiteral("[UserOpen] ") + entry.id + QStringLiteral(" → Terminal: ") + commandLine(command));
  return runInstanceTerminal(entry, command, startFolder(folder));
}

AgentRecover::Result AgentRecover::stopAgent(const AgentEntry& entry, const ProcessScanner& scanner,
                                             SignalledPids::Cause cause) const {
  // Every process of the agent, not only the first: a stop that leaves a
  // second instance running has not stopped the agent.
  const QList<pid_t> pids = scanner.pidsOf(entry.id);
  if (pids.isEmpty()) return Result::unsupported();

  log("[Stop] ", entry.displayName + QStringLiteral(" 杀 %1 个进程: ").arg(pids.size()) + pidList(pids));
  // A desktop application is asked to quit the same way: SIGTERM.
  for (pid_t pid : pids) signalled_.send(pid, SIGTERM, cause);

  const QList<pid_t> stubborn = waitForProcessExit(pids, timing_.stopGrace, timing_.stopPoll, isAlive_);
  if (stubborn.isEmpty()) return Result::launched(0);
  for (pid_t pid : stubborn) signalled_.send(pid, SIGKILL, cause);
  log("[Stop] ", entry.displayName + QStringLiteral(" SIGKILL 兜底了 %1 个进程: ").arg(stubborn.size()) +
                     pidList(stubborn));

  // A process that outlives SIGKILL is still running: the agent has not
  // stopped, and saying so is the only honest answer.
  const QList<pid_t> survivors = waitForProcessExit(stubborn, timing_.stopKillGrace, timing_.stopPoll, isAlive_);
  if (survivors.isEmpty()) return Result::launched(0);
  const QString reason = QStringLiteral("SIGKILL 后仍有 %1 个进程在: ").arg(survivors.size()) + pidList(survivors);
  log("[Stop] ", entry.displayName + QStringLiteral(" FAIL: ") + reason);
  return Result::failed(reason, LocKey::alertReasonStillRunning(survivors.size(), pidList(survivors)));
}

AgentRecover::SetupStart AgentRecover::userSetup(const AgentEntry& entry) const {
  const std::optional<SetupCatalog::Action> action = SetupCatalog::action(entry);
  if (!action)
    return {Result::failed(entry.displayName + QStringLiteral(" 暂不支持配置"),
                           LocKey::alertReasonSetupUnsupported(entry.displayName)),
            std::nullopt};
  if (action->kind == SetupCatalog::Action::Kind::openConfigDirs) {
    // Opened here, off the main thread: the opener is waited for.
    const SetupActionRunner::Opened opened = SetupActionRunner::openConfigDir(action->configDirs);
    if (opened.shown) return {Result::launched(0), std::nullopt, true};
    return {Result::couldNotOpen(Result::Unopened::folder, QStringLiteral("打开配置目录失败"), QString(), QString(),
                                 opened.message),
            std::nullopt, true};
  }

  const QString& id = entry.id;
  if (!AgentEntry::isSafeFileComponent(id)) return {unsafeId(id), std::nullopt};
  const QString sentinel = setupSentinelPath(id, QDateTime::currentSecsSinceEpoch());
  // Gone before the terminal starts, so that only this run's touch counts;
  // the watch, begun afterwards, finds a quick setup's sentinel at its first
  // look. Watched whether or not the terminal starts: a window that did
  // open despite a reported failure still ends with the sentinel.
  QFile::remove(sentinel);
  return {runCliInTerminal(action->command, sentinel, "UserSetup", id, Paths::home()), sentinel};
}

void AgentRecover::watchSetup(const QString& agentId, const QString& sentinel, std::function<void()> onCompleted) const {
  SetupCompletionWatcher& watcher = setupWatcher_ ? *setupWatcher_ : SetupCompletionWatcher::shared();
  watcher.watch(agentId, sentinel, timing_.setupTimeoutSec, std::move(onCompleted), SetupCompletionWatcher::Old::kept);
}

namespace {

// The agent as the uninstall sees it: every run of its program, its
// helpers (`codex app-server`, `claude mcp serve`) and one-shots too,
// whatever its argument rules and one-shot tables say.
ProcessScanner withHelpers(AgentEntry entry) {
  // Alone, so that no other entry takes an interpreter's process first.
  entry.identify.argvExclude.reset();
  RegistryFile file;
  file.agents = {std::move(entry)};
  return ProcessScanner(std::make_shared<const AgentRegistry>(std::move(file)), ProcessScanner::Runs::all);
}

}  // namespace

QList<pid_t> AgentRecover::processesWithHelpers(const AgentEntry& entry) {
  return withHelpers(entry).pidsOf(entry.id);
}

AgentRecover::Result AgentRecover::stopWithHelpers(const AgentEntry& entry) const {
  // An uninstall writes no row of its own: the agent's end gets one.
  return stopAgent(entry, withHelpers(entry), SignalledPids::Cause::other);
}

}  // namespace tlr
