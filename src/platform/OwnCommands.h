#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <sys/types.h>
#include <unordered_map>

namespace tlr {

// The commands Tollamere runs itself and waits for (every runChild): an
// agent's doctor, its fixes and verify commands, install and uninstall
// steps, and the tools of the rest of the application. Each runs in a process
// group of its own, so every process it starts is known by its group.
//
// A process of such a group is ours, never an agent, for as long as it runs,
// also after the command's first process has ended, with one exception: the
// group of a restart or fallback command is ours only while that command
// runs; what it leaves running (a daemon it started) is the agent.
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
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    friend class OwnCommands;
    QString agentId_;
    Purpose purpose_;
    const Scope* outer_;
  };

  // The record the whole process shares.
  static OwnCommands& shared();

  OwnCommands() = default;
  OwnCommands(const OwnCommands&) = delete;
  OwnCommands& operator=(const OwnCommands&) = delete;

  // A command was started as the leader of process group `group`, under the
  // calling thread's scope (runChild calls it right after the fork, before
  // the command can start anything).
  void started(pid_t group);
  // Its leader was reaped. A relaunch's group is forgotten at once; any
  // other stays ours while a process of it runs.
  void ended(pid_t group);

  // Whether a process of process group `group` is ours.
  bool isOurs(pid_t group) const;
  // A count that grows with every ended command; read it before reading the
  // process table that goes to forgetEmptyGroups().
  uint64_t endings() const;
  // Forgets the ended groups for which `hasProcess` is false, when they
  // ended before `endingsBefore` was read: nothing of them runs any more,
  // and their number may be given to a new group.
  void forgetEmptyGroups(const std::function<bool(pid_t group)>& hasProcess, uint64_t endingsBefore);

  // Whether an uninstall of the agent is under way.
  bool isUninstalling(const QString& agentId) const;
  // Ends every command of the agent that still runs: SIGTERM to each of
  // their groups, then SIGKILL to those still there after `grace`. Blocks
  // for up to `grace`; never call it on the main thread. How many groups
  // were asked to end.
  int endCommandsOf(const QString& agentId, std::chrono::milliseconds grace = std::chrono::seconds(2));

 private:
  struct Group {
    QString agentId;
    Purpose purpose = Purpose::check;
    bool running = true;
    uint64_t endedAt = 0;
  };
  void enterUninstall(const QString& agentId);
  void leaveUninstall(const QString& agentId);

  mutable std::mutex mutex_;
  std::unordered_map<pid_t, Group> groups_;  // guarded by mutex_
  QHash<QString, int> uninstalling_;  // guarded by mutex_
  uint64_t endings_ = 0;  // guarded by mutex_
};

}  // namespace tlr
