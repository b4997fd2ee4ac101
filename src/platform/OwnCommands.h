#pragma once

#include <QHash>
#include <QString>

#include <chrono>
#include <csignal>
#include <mutex>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

namespace tlr {

// The commands Tollamere runs itself and waits for (every runChild): an
// agent's doctor, its fixes and verify commands, install and uninstall
// steps, and the tools of the rest of the application.
//
// Each command runs below a keeper of its own: a small process of ours that
// starts the command, is a child subreaper (PR_SET_CHILD_SUBREAPER) for all
// it starts, and stays until the last of them has ended. A process that
// leaves its parent, its process group or its session (setsid, a double
// fork) still descends from the keeper, so every process of a command is
// known by its ancestry, which cannot be left. The keeper stays our
// unreaped child while it is recorded here, so its number cannot pass to
// another process; signals go only through pidfds of processes verified to
// descend from it.
//
// A process of a command is ours, never an agent, for as long as it runs,
// also after the command's first process has ended, with one exception: a
// restart or fallback command's keeper is no subreaper and ends with the
// command; what the command leaves running (a daemon it started) is the
// agent.
//
// A command that kills its keeper has failed (runChild says so), and what
// the keeper held lands on the application, the subreaper of all it starts
// (ChildReaper::adoptOrphans()): taken as the command's remnants, ours, and
// killed at once with all they start (keeperLost()).
//
// Which agent a command serves, and why, is said by a Scope on the thread
// that starts it. Safe from any thread.
class OwnCommands final {
 public:
  enum class Purpose {
    check,      // looks at or repairs an agent (doctor, fix, verify); also any command without a scope
    install,    // an install step
    uninstall,  // an uninstall step
    relaunch,   // a restart or fallback command: what it leaves running is the agent
  };

  // Commands started on this thread while the scope lives serve `agentId` for
  // `purpose`. Scopes nest; the innermost counts. An uninstall scope also
  // tells that the agent's uninstall is under way (isUninstalling()).
  class Scope {
   public:
    Scope(QString agentId, Purpose purpose);
    // For the same agent as the scope around it.
    explicit Scope(Purpose purpose);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    friend class OwnCommands;
    QString agentId_;
    Purpose purpose_;
    const Scope* outer_;
    // How many uninstalls of the agent had begun when the outermost scope
    // for it on this thread was made.
    quint64 uninstallsBefore_ = 0;
  };

  // The record the whole process shares.
  static OwnCommands& shared();

  OwnCommands() = default;
  OwnCommands(const OwnCommands&) = delete;
  OwnCommands& operator=(const OwnCommands&) = delete;

  // Whether what a command started on this thread now leaves running stays
  // ours: under a scope other than a relaunch's. (A tool run without a scope
  // is ours while it runs; a mount's file system it leaves is not.)
  static bool keepsWhatItLeaves();

  // Whether a command started on this thread now may run. A command for an
  // agent whose uninstall is under way, or has begun since the work it
  // serves began (a doctor the uninstall ended, which would go on to ask the
  // agent's program for its help), is not started: the uninstall ends the
  // agent's commands once, and one started after that would outlive it. An
  // uninstall's own commands, and those of scopes within it, always run.
  static bool mayStart();

  // runChild's part. A command's keeper `keeper`, our child, was started
  // under the calling thread's scope; the record takes `keeperPidFd`, a
  // pidfd of it, and reaps the keeper once it has ended. The keeper must not
  // be reaped by anyone else. False when the command may not run after all
  // (mayStart(), judged again under the record's lock, so an uninstall
  // either finds the command recorded and ends it or is seen here): the
  // caller ends it at once.
  bool started(pid_t keeper, int keeperPidFd);
  // runChild is done with the command, whose first process has ended. A
  // keeper that is no subreaper ends with it and is forgotten now (runChild
  // reaps it); any other stays while a process of it runs.
  void ended(pid_t keeper);
  // runChild's part when the keeper ended without saying how the command
  // ended: it was killed (by the command itself, say). What the command
  // started then lost its holder and landed on this process, the subreaper
  // of all it starts (ChildReaper::adoptOrphans()): those processes, our
  // children started since the keeper, are the command's and are ended with
  // it at once (SIGKILL, with all they started). The same happens when a
  // keeper that holds what its command left is killed later. A keeper that is
  // no subreaper leaves nothing of its own: what its command left is the
  // agent's. How many processes were ended.
  int keeperLost(pid_t keeper);
  // Sends `signal` (0: only counts) to every running process of the command
  // of `keeper`, the keeper itself excepted; how many there were.
  int signalCommand(pid_t keeper, int signal);

  // Whether process `pid` belongs to one of our commands: it descends from a
  // keeper recorded here. A process that merely joined a command's process
  // group is not ours.
  bool isOurs(pid_t pid);

  // Whether an uninstall of the agent is under way.
  bool isUninstalling(const QString& agentId) const;
  // How many uninstalls of the agent have begun in this process. A command
  // that reads it before it starts and again once it has ended knows
  // whether an uninstall (which ends the agent's commands) came in between,
  // however soon that uninstall was over.
  quint64 uninstallsBegun(const QString& agentId) const;
  // Ends every command of the agent that still runs, with all it started:
  // SIGTERM to each of their processes, then SIGKILL to those still there
  // after `grace`. Blocks for up to `grace`; never call it on the main
  // thread. How many commands were asked to end.
  int endCommandsOf(const QString& agentId, std::chrono::milliseconds grace = std::chrono::seconds(2));

 private:
  // A process of a command that lost its keeper: our own child, held
  // (ChildReaper::hold) until it is reaped here.
  struct Remnant {
    pid_t pid = 0;
    unsigned long long startTicks = 0;
    int pidFd = -1;
  };
  struct Command {
    QString agentId;
    Purpose purpose = Purpose::check;
    bool keepsLeftovers = false;
    bool waitedFor = true;  // runChild has not called ended() yet
    bool lost = false;      // the keeper was killed: its orphans were taken
    int pidFd = -1;
    unsigned long long keeperStart = 0;
    std::vector<Remnant> remnants;
  };
  // Reaps and forgets the keepers that have ended (and the remnants of
  // commands). Under mutex_.
  void reapEndedLocked();
  // Takes the orphans started since `since` as remnants of `c` and ends
  // them. Under mutex_.
  int claimRemnantsLocked(Command& c, unsigned long long since);
  // Whether `pid` (started at `startTicks`) is a remnant of a command.
  // Under mutex_.
  bool isRemnantLocked(pid_t pid, unsigned long long startTicks) const;
  // mayStart() for the calling thread's scope. Under mutex_.
  bool mayStartLocked() const;
  void enterUninstall(const QString& agentId);
  void leaveUninstall(const QString& agentId);

  mutable std::mutex mutex_;
  std::unordered_map<pid_t, Command> commands_;  // by keeper; guarded by mutex_
  QHash<QString, int> uninstalling_;         // guarded by mutex_
  QHash<QString, quint64> uninstallsBegun_;  // guarded by mutex_
};

}  // namespace tlr
