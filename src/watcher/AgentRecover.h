#pragma once

#include "core/texts/LocKey.h"
#include "registry/AgentEntry.h"
#include "watcher/ProcessExitWait.h"
#include "watcher/SignalledPids.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>
#include <sys/types.h>

namespace tlr {

class InstanceTerminals;
class ProcessScanner;
class SetupCompletionWatcher;

struct AgentRecoverTiming {
  // How long stopped processes have between SIGTERM and SIGKILL, and how
  // often they are looked at meanwhile (the stop goes on as soon as all are
  // gone).
  std::chrono::milliseconds stopGrace{std::chrono::seconds(3)};
  std::chrono::milliseconds stopPoll{500};
  // How long a setup command's completion is watched for.
  int setupTimeoutSec = 1800;
  // How long processes have to end after SIGKILL before the stop counts as
  // failed.
  std::chrono::milliseconds stopKillGrace{std::chrono::seconds(1)};
};

// Starts agents again, stops them and starts their first-time setup. Three
// ways of starting: a desktop application by its bundle identifier, a
// command-line agent's command in a new terminal window, and a gateway
// service detached in the background with its output in "tlr-<id>.log" of
// this user's own log folder (Paths::serviceLogs()). Which operation suits an entry is the caller's choice
// (by its recover strategy).
//
// Holds no state beyond its fixed configuration, so one instance may serve
// any number of threads at once. Every operation blocks while it works (the
// stop waits for processes to end), so call them off the main thread; the
// parts that belong on the main thread (opening a configuration folder,
// starting the setup watch) are handed there and waited for. No operation
// throws: every problem is a `failed` result with its reason (fixed texts,
// mostly Chinese, for the log) and the words the window shows for it.
class AgentRecover final {
 public:
  struct [[nodiscard]] Result {
    enum class Kind { launched, failed, unsupported };
    Kind kind = Kind::unsupported;
    // launched: the new process where it is known (desktop applications),
    // else 0.
    pid_t pid = 0;
    QString reason;  // failed: why, as the log says it
    // failed: what could not be opened when it was a terminal or the file
    // manager, so the interface can say so; `command` is the command line
    // the terminal was to run, `error` the opener's own words.
    enum class Unopened { nothing, terminal, folder };
    Unopened unopened = Unopened::nothing;
    QString command;
    QString error;
    // failed: why, in words for the window; none where the interface words
    // it from `unopened` and `error`.
    std::optional<LocKey> why;
    // launched in a terminal window: the file where the window's shell
    // writes its command's exit status once that has ended
    // (InstanceTerminals::endedStatus()); empty for any other start.
    QString endedFile;

    static Result launched(pid_t pid) { return {Kind::launched, pid, {}, Unopened::nothing, {}, {}, {}, {}}; }
    static Result launchedInTerminal(QString endedFile) {
      return {Kind::launched, 0, {}, Unopened::nothing, {}, {}, {}, std::move(endedFile)};
    }
    static Result failed(QString reason, LocKey why) {
      return {Kind::failed, 0, std::move(reason), Unopened::nothing, {}, {}, std::move(why), {}};
    }
    static Result unsupported() { return {Kind::unsupported, 0, {}, Unopened::nothing, {}, {}, {}, {}}; }
    static Result couldNotOpen(Unopened what, QString reason, QString command, QString error,
                               std::optional<LocKey> why = std::nullopt) {
      return {Kind::failed, 0, std::move(reason), what, std::move(command), std::move(error), std::move(why), {}};
    }
    bool isLaunched() const { return kind == Kind::launched; }
    // A failure's reason in words for the window: `why`, else what could
    // not be opened and the opener's words, else the logged reason.
    LocKey reasonKey() const;
    bool operator==(const Result&) const = default;
  };

  using Timing = AgentRecoverTiming;

  // The setup watch is started on `setupWatcher`, or on the shared one when
  // none is given; signals go through `signalled`, so their exits are known
  // as ours; `isAlive` tells whether a stopped process still runs; the
  // terminal windows of instances are kept in `terminals` (the shared
  // record when none is given).
  explicit AgentRecover(Timing timing = {}, SignalledPids& signalled = SignalledPids::shared(),
                        SetupCompletionWatcher* setupWatcher = nullptr,
                        ProcessAliveProbe isAlive = systemAliveProbe(), InstanceTerminals* terminals = nullptr);

  // Relaunch after an exit or a kill, strategy open-app: the application of
  // recover.appBundleId.
  Result recoverOpenApp(const AgentEntry& entry) const;
  // Relaunch, strategy exec-cli: recover.command in a terminal window, or
  // detached for a gateway service, in `folder` (startFolder()): where the
  // agent ran, so that a session it resumes is that folder's. With `plain`,
  // the entry's plain command (plainCommand()) instead. The windows this
  // instance had whose command has ended are closed first.
  Result recoverExecCli(const AgentEntry& entry, const std::optional<QString>& folder = std::nullopt,
                        bool plain = false) const;
  // The command a relaunch starts a new session with where recover.command
  // continues the last one: recover.plainCommand when it is given, not
  // empty and not the same; nothing otherwise.
  static std::optional<Command> plainCommand(const AgentEntry& entry);
  // Whether `started`, a start of recover.command in a terminal window, has
  // already ended where the entry names a plain command: the continuing
  // command had nothing to continue in its folder (`claude --continue`
  // prints "No conversation found to continue" and exits 1 at once), and a
  // new session there (recoverExecCli() with `plain`) brings the agent back.
  // Read once the start has had time to settle.
  static bool endedWithNothingToContinue(const AgentEntry& entry, const Result& started);
  // The user's Launch of an application.
  Result userOpenApp(const AgentEntry& entry) const;
  // The user's Launch of a command-line agent: userInvokeCommand when the
  // entry has one (even an empty one), else recover.command, in a terminal
  // in `folder` (startFolder()), as a relaunch closes the windows of the
  // instance there that have ended.
  Result userOpenCli(const AgentEntry& entry, const std::optional<QString>& folder = std::nullopt) const;
  // The user's Stop: SIGTERM to every running process of the agent, SIGKILL
  // to those still alive after the grace time. `unsupported` when none runs;
  // `failed` when a process still runs after SIGKILL.
  // Its signals are noted as a user's action (`cause`), whose row says what
  // became of the agent.
  Result stopAgent(const AgentEntry& entry, const ProcessScanner& scanner,
                   SignalledPids::Cause cause = SignalledPids::Cause::usersAction) const;
  // The user's Setup, off the main thread: the entry's setup command in a
  // terminal window, its line ending by touching `sentinel` (a file left
  // there before is removed first), or its configuration folder opened (the
  // setup is then completed at once, if the folder was shown).
  struct SetupStart {
    Result result;
    std::optional<QString> sentinel;  // to watch for: a terminal was asked to run the command
    // A setup that is over once started (a folder shown): complete only when
    // it succeeded, so a failure is never recorded as a finished setup.
    bool endsAtOnce = false;
    bool completed() const { return endsAtOnce && result.kind == Result::Kind::launched; }
  };
  SetupStart userSetup(const AgentEntry& entry) const;
  // On the main thread: calls `onCompleted` once the sentinel of a
  // userSetup appears, unless it takes longer than the setup time-out.
  void watchSetup(const QString& agentId, const QString& sentinel, std::function<void()> onCompleted) const;

  // Every running process of the agent's program, whatever its arguments:
  // its sessions and its helpers and one-shots, which a scan leaves out
  // (a background `codex app-server`, `claude mcp serve`), for an uninstall,
  // which must leave nothing running from the files it removes. Our own
  // commands are not among them.
  static QList<pid_t> processesWithHelpers(const AgentEntry& entry);
  // Stops them as the user's Stop does (SIGTERM, SIGKILL after the grace).
  Result stopWithHelpers(const AgentEntry& entry) const;

  // Whether the program a relaunch would start is there: the application of
  // recover.appBundleId, or recover.command's program on the relaunch's own
  // search path (UserPrograms::searchPath()).
  static bool canStart(const AgentEntry& entry);

  // Where an agent is started: `folder` when it is still a folder, else the
  // home folder (never the application's own working folder).
  static QString startFolder(const std::optional<QString>& folder);

  // The texts the operations build, exactly as the shell receives them.
  // The words of a command joined by single blanks, unquoted.
  static QString commandLine(const Command& command);
  // The terminal line of a command, writing its exit status to `endedFile`
  // (InstanceTerminals) and touching `sentinelPath` when it ends; then the
  // window says the command's exit status and stays open until the user
  // presses Enter.
  static QString terminalShellText(const Command& command, const std::optional<QString>& sentinelPath = {},
                                   const QString& endedFile = {});
  // The record of the instances' terminal windows this relauncher uses.
  InstanceTerminals& terminals() const { return *terminals_; }
  // The line a gateway service is started with.
  static QString gatewayShellText(const Command& command);
  static QString gatewayLogPath(const QString& agentId);
  // "tlr-setup-done-<id>-<seconds since 1970>" in this user's own runtime
  // folder (Paths::runtimeFolder()), where no other user can put a file first.
  static QString setupSentinelPath(const QString& agentId, qint64 secondsSinceEpoch);
  // Pids in array notation: "[812, 907]".
  static QString pidList(const QList<pid_t>& pids);

 private:
  Result runCliInTerminal(const Command& command, const std::optional<QString>& sentinelPath, const char* tag,
                          const QString& entryId, const QString& folder) const;
  // Starts `command` in a new terminal window of the agent's instance in
  // `folder` (InstanceTerminals::open()).
  Result runInstanceTerminal(const AgentEntry& entry, const Command& command, const QString& folder) const;
  Result startGateway(const AgentEntry& entry, const Command& command, const QString& folder) const;
  // Starts `shellText` in a new terminal window, in `folder`.
  // `command` is the command line the text runs, as the user knows it.
  static Result runInTerminal(const QString& shellText, const QString& command, const QString& folder);
  Timing timing_;
  SignalledPids& signalled_;
  SetupCompletionWatcher* setupWatcher_;
  ProcessAliveProbe isAlive_;
  InstanceTerminals* terminals_;
};

}  // namespace tlr
