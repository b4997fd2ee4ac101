#include "platform/OwnCommands.h"

#include "platform/ProcessTable.h"
#include "platform/UniqueFd.h"

#include <QList>

#include <dirent.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>
#include <vector>

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

namespace tlr {
namespace {

thread_local const OwnCommands::Scope* currentScope = nullptr;

struct Node {
  pid_t pid;
  pid_t ppid;
  unsigned long long startTicks;
};

bool ended(char state) { return state == 'Z' || state == 'X'; }

// Every running process of the machine with its parent and start time.
std::vector<Node> readTree() {
  std::vector<Node> nodes;
  DIR* proc = ::opendir("/proc");
  if (!proc) return nodes;
  while (const dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    const std::optional<ProcStat> stat = readProcStat(static_cast<pid_t>(pid));
    if (stat && !ended(stat->state)) nodes.push_back({static_cast<pid_t>(pid), stat->ppid, stat->startTicks});
  }
  ::closedir(proc);
  return nodes;
}

// The processes of `nodes` that descend from `root`, `root` excepted.
std::vector<Node> descendantsOf(pid_t root, const std::vector<Node>& nodes) {
  std::vector<Node> found;
  std::vector<pid_t> parents{root};
  while (!parents.empty()) {
    const pid_t parent = parents.back();
    parents.pop_back();
    for (const Node& n : nodes) {
      if (n.ppid != parent) continue;
      found.push_back(n);
      parents.push_back(n.pid);
    }
  }
  return found;
}

int pidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

// Signals the process `node` names through a pidfd, and only when the pidfd
// is known to be of that very process (the same start time under the
// number after it was opened). Whether it was there.
bool signalThroughPidfd(const Node& node, int signal) {
  const UniqueFd fd(pidfdOpen(node.pid));
  if (!fd) return false;
  const std::optional<ProcStat> now = readProcStat(node.pid);
  if (!now || now->startTicks != node.startTicks || ended(now->state)) return false;
  return signal == 0 || ::syscall(SYS_pidfd_send_signal, fd.get(), signal, nullptr, 0) == 0;
}

}  // namespace

OwnCommands::Scope::Scope(QString agentId, Purpose purpose)
    : agentId_(std::move(agentId)), purpose_(purpose), outer_(currentScope) {
  currentScope = this;
  if (purpose_ == Purpose::uninstall) OwnCommands::shared().enterUninstall(agentId_);
}

OwnCommands::Scope::~Scope() {
  if (purpose_ == Purpose::uninstall) OwnCommands::shared().leaveUninstall(agentId_);
  currentScope = outer_;
}

OwnCommands& OwnCommands::shared() {
  // Never destroyed: a command may still end while the process exits.
  static OwnCommands* instance = new OwnCommands;
  return *instance;
}

OwnCommands::Scope::Scope(Purpose purpose)
    : Scope(currentScope ? currentScope->agentId_ : QString(), purpose) {}

bool OwnCommands::keepsWhatItLeaves() { return currentScope && currentScope->purpose_ != Purpose::relaunch; }

void OwnCommands::started(pid_t keeper, int keeperPidFd) {
  Command c;
  c.pidFd = keeperPidFd;
  c.keepsLeftovers = keepsWhatItLeaves();
  if (currentScope) {
    c.agentId = currentScope->agentId_;
    c.purpose = currentScope->purpose_;
  }
  std::lock_guard lock(mutex_);
  reapEndedLocked();
  if (keeper <= 0 || keeperPidFd < 0) {
    if (keeperPidFd >= 0) ::close(keeperPidFd);
    return;
  }
  commands_[keeper] = std::move(c);
}

void OwnCommands::ended(pid_t keeper) {
  std::lock_guard lock(mutex_);
  const auto found = commands_.find(keeper);
  if (found != commands_.end() && !found->second.keepsLeftovers) {
    // Reaped by runChild: it ends with the command.
    ::close(found->second.pidFd);
    commands_.erase(found);
  }
  reapEndedLocked();
}

void OwnCommands::reapEndedLocked() {
  for (auto it = commands_.begin(); it != commands_.end();) {
    pollfd p{it->second.pidFd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) {
      ++it;
      continue;
    }
    // Forgotten first, reaped then: its number is free only once it is no
    // longer recorded.
    siginfo_t info{};
    ::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(it->second.pidFd), &info, WEXITED | WNOHANG);
    ::close(it->second.pidFd);
    it = commands_.erase(it);
  }
}

bool OwnCommands::isOurs(pid_t pid) {
  if (pid <= 1) return false;
  std::lock_guard lock(mutex_);
  reapEndedLocked();
  if (commands_.empty()) return false;
  std::optional<ProcStat> stat = readProcStat(pid);
  pid_t current = pid;
  for (int step = 0; stat && step < 256; ++step) {
    if (commands_.contains(stat->ppid)) return true;
    if (stat->ppid <= 1) return false;
    const std::optional<ProcStat> parent = readProcStat(stat->ppid);
    if (!parent || parent->startTicks > stat->startTicks) {
      // The parent ended (and its number may be another's now): the process
      // has a new parent by now; read it again.
      stat = readProcStat(current);
      continue;
    }
    current = stat->ppid;
    stat = parent;
  }
  return false;
}

int OwnCommands::signalCommand(pid_t keeper, int signal) {
  std::lock_guard lock(mutex_);
  reapEndedLocked();
  if (!commands_.contains(keeper)) return 0;
  int count = 0;
  for (const Node& node : descendantsOf(keeper, readTree()))
    if (signalThroughPidfd(node, signal)) ++count;
  return count;
}

bool OwnCommands::isUninstalling(const QString& agentId) const {
  std::lock_guard lock(mutex_);
  return uninstalling_.contains(agentId);
}

quint64 OwnCommands::uninstallsBegun(const QString& agentId) const {
  std::lock_guard lock(mutex_);
  return uninstallsBegun_.value(agentId);
}

void OwnCommands::enterUninstall(const QString& agentId) {
  std::lock_guard lock(mutex_);
  ++uninstalling_[agentId];
  ++uninstallsBegun_[agentId];
}

void OwnCommands::leaveUninstall(const QString& agentId) {
  std::lock_guard lock(mutex_);
  const auto found = uninstalling_.find(agentId);
  if (found != uninstalling_.end() && --found.value() <= 0) uninstalling_.erase(found);
}

int OwnCommands::endCommandsOf(const QString& agentId, std::chrono::milliseconds grace) {
  if (agentId.isEmpty()) return 0;
  QList<pid_t> keepers;
  {
    std::lock_guard lock(mutex_);
    reapEndedLocked();
    for (const auto& [keeper, c] : commands_)
      if (c.agentId == agentId) keepers << keeper;
  }
  for (pid_t keeper : keepers) signalCommand(keeper, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + grace;
  auto anyLeft = [&] {
    return std::any_of(keepers.cbegin(), keepers.cend(), [&](pid_t k) { return signalCommand(k, 0) > 0; });
  };
  while (anyLeft() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  for (pid_t keeper : keepers) signalCommand(keeper, SIGKILL);
  return static_cast<int>(keepers.size());
}

}  // namespace tlr
