#pragma once

#include "platform/LaunchdStatus.h"
#include "platform/ProcessTable.h"
#include "platform/Workspace.h"
#include "registry/AgentRegistry.h"

#include <QDateTime>
#include <QObject>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>

namespace tlr {

// One recognised running agent process.
struct RunningAgent {
  AgentEntry entry;
  pid_t pid = 0;
  // The desktop application's bundle identifier; absent for a command-line
  // process.
  std::optional<QString> bundleId;
  // The application's launch date, or the process's start time.
  std::optional<QDateTime> launchDate;
  // The running desktop application; absent for a command-line process.
  std::optional<Workspace::RunningApplication> app;
  // The entry has a launchd label and its job runs.
  bool launchdManaged = false;
  // For a command-line process inside a recognised desktop agent: that
  // agent's id.
  std::optional<QString> parentAgentId;
  // The folder the process works in (where the user started the agent);
  // absent when unknown.
  std::optional<QString> workingFolder;
  // The instance the process belongs to: the pid of its furthest ancestor
  // that is a process of the same agent (its own pid when none is). Two
  // sessions the user started apart are two instances; a helper process an
  // agent starts belongs to the agent's instance.
  pid_t instancePid = 0;
};

// Finds the registry's agents on this machine: which are installed and which
// processes run now. Every call reads the system afresh and never fails; a
// failed read yields fewer records. The scanner holds nothing mutable, so any
// thread may scan.
class ProcessScanner final {
 public:
  // Which runs of an agent's program a scan reports.
  enum class Runs {
    // Its sessions: never a run excluded by its argument rules, nor a
    // one-shot (print mode, a sub-command, a helper such as
    // `codex app-server`).
    sessions,
    // Every run of its program, whatever its arguments: what an uninstall
    // stops before it removes the program's files.
    all,
  };
  explicit ProcessScanner(std::shared_ptr<const AgentRegistry> registry, Runs runs = Runs::sessions);

  const AgentRegistry& registry() const { return *registry_; }

  // Visible entries that count as installed, in registry order.
  QList<AgentEntry> scanInstalledAgents() const;
  // Whether one entry counts as installed: by the first of its rules that
  // applies (bundle ids, then a running launchd job, then executable names).
  static bool isInstalled(const AgentEntry& entry);
  // Every recognised process of this user (our own real uid; other users'
  // processes are never reported): desktop applications first, then
  // command-line processes in process-table order. One agent may appear
  // several times.
  QList<RunningAgent> scanAll() const;
  // scanAll(), keeping the first record of each agent id.
  QList<RunningAgent> scan() const;
  // Every running process of one agent in a fresh scanAll(), in its order,
  // each pid once.
  QList<pid_t> pidsOf(const QString& agentId) const;
  // The instances of one agent in `all`: the first record of each
  // instance, in order.
  static QList<RunningAgent> instancesOf(const QList<RunningAgent>& all, const QString& agentId);
  // The first record of each agent id in `all`, in order: scan() of one
  // scanAll(), for callers that need both from the same moment.
  static QList<RunningAgent> firstOfEachAgent(QList<RunningAgent> all);

  // The launchd check of LaunchdStatus, under the names the scanner's
  // callers use: whether the user manager runs the job `label` now (kept for
  // 30 seconds; the main thread never waits once setMainThreadMayWait(false)).
  static bool isManagedByLaunchd(const QString& label) { return LaunchdStatus::isManaged(label); }
  static void invalidateLaunchdCache(const QString& label) { LaunchdStatus::invalidate(label); }
  static void setMainThreadMayWait(bool mayWait) { LaunchdStatus::setMainThreadMayWait(mayWait); }
  // The bundle identifier of the nearest ancestor (8 steps at most) that is a
  // running desktop application.
  static std::optional<QString> parentBundleId(pid_t pid);

  // The agent a process is, from the name it was started under (the kernel's
  // command name) and its argument vector: by an executable name, with the
  // entry's exclusions, all-of rule and one-shot tables; for an interpreter,
  // by the name of the script it runs (`node ~/.npm-global/bin/gemini` is
  // gemini), else by the registry's argument patterns. With Runs::all every
  // run of the agent's program is the agent.
  std::optional<AgentEntry> identify(const QString& name, const QStringList& argv) const;
  // The base name of the script an interpreter's argument vector runs: its
  // first word after argv[0] (no option, no option's value), or the module
  // of "python -m"; empty when there is none, or when the code comes inline
  // (-c, -e, -p, --eval, --print).
  static QString scriptOf(const QStringList& argv);
  // The arguments a program gets itself: after argv[0], or after the script
  // when argv[0] is an interpreter (none when the code comes inline).
  static QStringList ownArguments(const QStringList& argv);

  // Whether running `command` starts a session of the agent itself (another
  // instance of it), as a scan would see the process: its program is one of
  // the entry's executable names and isSessionOfProgram() holds.
  static bool startsSession(const AgentEntry& entry, const QStringList& command);
  // Whether a process of the entry's program with this argument vector is a
  // session of the agent: no argument excludes it, every all-of fragment is
  // there, and its own arguments make no one-shot.
  static bool isSessionOfProgram(const AgentEntry& entry, const QStringList& argv);
  // Whether an argument equals one of the entry's argvExclude strings.
  static bool shouldExclude(const AgentEntry& entry, const QStringList& argv);
  // Whether `name` is a file in one of cliSearchPaths().
  static bool isCliInstalled(const QString& name);
  // Where command-line agents are looked for: this user's program folders
  // (UserPrograms::folders(): fixed ones below the current home and
  // Linuxbrew's, the Node version managers', the login shell's PATH, npm's
  // global prefix and pipx's program folder), then the system's. They are
  // asked once per process, off the main thread: until all have answered
  // only the fixed and the system's folders are given, and nobody waits for
  // them.
  static QStringList cliSearchPaths();
  // Calls `done` on the main thread once npm and pipx have answered (soon,
  // when they have already), unless `context` is gone by then.
  static void whenToolFoldersKnown(QObject* context, std::function<void()> done);
  // Names of programs that run scripts ("node", "python3", ...), whose
  // arguments tell which agent they run.
  static bool isInterpreterName(const QString& name);

 private:
  QList<RunningAgent> scanGUI(const ProcessTable& table) const;
  QList<RunningAgent> scanCLI(const ProcessTable& table, const QSet<pid_t>& skipping) const;
  // The script an interpreter's argument vector runs: where it stands and
  // how it is given (a path, or a module's name).
  struct Script {
    qsizetype index = 0;
    QString path;
  };
  static std::optional<Script> scriptIn(const QStringList& argv);
  std::optional<AgentEntry> matchCommandLine(const ProcessTable& table, const ProcessInfo& process) const;
  ProcessTable readProcessTable() const;
  // Sets each record's instance and working folder.
  static void markInstances(QList<RunningAgent>& records, const ProcessTable& table);
  static std::optional<QString> parentBundleId(pid_t pid, const ProcessTable& table);

  std::shared_ptr<const AgentRegistry> registry_;
  Runs runs_ = Runs::sessions;
  // Every visible entry's executable names.
  QSet<QString> executableNames_;
};

}  // namespace tlr
