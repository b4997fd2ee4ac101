#include "platform/OwnCommands.h"

#include "platform/ChildReaper.h"
#include "platform/ProcessTable.h"
#include "platform/UniqueFd.h"

#include <QList>

#include <dirent.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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
  const Scope* sameAgent = outer_;
  while (sameAgent && sameAgent->agentId_ != agentId_) sameAgent = sameAgent->outer_;
  uninstallsBefore_ = sameAgent ? sameAgent->uninstallsBefore_ : OwnCommands::shared().uninstallsBegun(agentId_);
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

bool OwnCommands::mayStart() {
  OwnCommands& own = shared();
  std::lock_guard lock(own.mutex_);
  return own.mayStartLocked();
}

bool OwnCommands::mayStartLocked() const {
  if (!currentScope || currentScope->agentId_.isEmpty()) return true;
  const QString& agentId = currentScope->agentId_;
  for (const Scope* s = currentScope; s; s = s->outer_)
    if (s->agentId_ == agentId && s->purpose_ == Purpose::uninstall) return true;
  return !uninstalling_.contains(agentId) && uninstallsBegun_.value(agentId) == currentScope->uninstallsBefore_;
}

bool OwnCommands::started(pid_t keeper, int keeperPidFd) {
  Command c;
  c.pidFd = keeperPidFd;
  c.keepsLeftovers = keepsWhatItLeaves();
  if (currentScope) {
    c.agentId = currentScope->agentId_;
    c.purpose = currentScope->purpose_;
  }
  if (const std::optional<ProcStat> stat = readProcStat(keeper)) c.keeperStart = stat->startTicks;
  std::lock_guard lock(mutex_);
  reapEndedLocked();
  const bool mayRun = mayStartLocked();
  if (keeper <= 0 || keeperPidFd < 0) {
    if (keeperPidFd >= 0) ::close(keeperPidFd);
    return mayRun;
  }
  // Reaped here only: its number stays its own while it is recorded.
  ChildReaper::hold(keeper);
  commands_[keeper] = std::move(c);
  return mayRun;
}

void OwnCommands::ended(pid_t keeper) {
  std::lock_guard lock(mutex_);
  const auto found = commands_.find(keeper);
  if (found != commands_.end()) {
    found->second.waitedFor = false;
    if (!found->second.keepsLeftovers && found->second.remnants.empty()) {
      // Reaped by runChild: it ends with the command.
      ::close(found->second.pidFd);
      commands_.erase(found);
      ChildReaper::release(keeper);
    }
  }
  reapEndedLocked();
}

int OwnCommands::keeperLost(pid_t keeper) {
  int pidFd = -1;
  {
    std::lock_guard lock(mutex_);
    const auto found = commands_.find(keeper);
    if (found == commands_.end() || !found->second.keepsLeftovers) return 0;
    pidFd = found->second.pidFd;  // kept while runChild waits for the command
  }
  // What it held lands on us once its exit is complete, which is after its
  // descriptors (the status pipe runChild saw end) were closed.
  pollfd p{pidFd, POLLIN, 0};
  while (::poll(&p, 1, 2000) < 0 && errno == EINTR) {
  }
  std::unique_lock lock(mutex_);
  auto found = commands_.find(keeper);
  if (found == commands_.end() || found->second.lost) return 0;
  found->second.lost = true;
  const int ended = claimRemnantsLocked(found->second, found->second.keeperStart);
  // Killed, they end at once: reaped here, with whatever lands on us as they
  // go, so no zombie waits for the next look.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (std::chrono::steady_clock::now() < deadline) {
    std::vector<pollfd> left;
    for (const Remnant& r : found->second.remnants) left.push_back({r.pidFd, POLLIN, 0});
    if (left.empty()) break;
    lock.unlock();
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    ::poll(left.data(), left.size(), static_cast<int>(std::max<long long>(0, wait.count())));
    lock.lock();
    reapEndedLocked();
    found = commands_.find(keeper);  // kept while runChild waits for it
    if (found == commands_.end()) break;
  }
  return ended;
}

int OwnCommands::claimRemnantsLocked(Command& c, unsigned long long since) {
  std::vector<Node> claimed;
  for (const ChildReaper::Child& child : ChildReaper::claimOrphans(since)) {
    const int pidFd = pidfdOpen(child.pid);
    if (pidFd < 0) {
      ChildReaper::release(child.pid);
      continue;
    }
    c.remnants.push_back({child.pid, child.startTicks, pidFd});
    claimed.push_back({child.pid, 0, child.startTicks});
  }
  if (claimed.empty()) return 0;
  // With all they started.
  const std::vector<Node> tree = readTree();
  std::vector<Node> ending = claimed;
  for (const Node& r : claimed)
    for (const Node& n : descendantsOf(r.pid, tree)) ending.push_back(n);
  int count = 0;
  for (const Node& n : ending)
    if (signalThroughPidfd(n, SIGKILL)) ++count;
  return count;
}

bool OwnCommands::isRemnantLocked(pid_t pid, unsigned long long startTicks) const {
  for (const auto& [keeper, c] : commands_)
    for (const Remnant& r : c.remnants)
      if (r.pid == pid && r.startTicks == startTicks) return true;
  return false;
}

void OwnCommands::reapEndedLocked() {
  for (auto it = commands_.begin(); it != commands_.end();) {
    Command& c = it->second;
    // Remnants that ended are reaped; what they started landed on us in
    // turn, and is the command's too.
    for (std::size_t i = 0; i < c.remnants.size();) {
      pollfd r{c.remnants[i].pidFd, POLLIN, 0};
      if (::poll(&r, 1, 0) <= 0) {
        ++i;
        continue;
      }
      const Remnant gone = c.remnants[i];
      c.remnants.erase(c.remnants.begin() + static_cast<std::ptrdiff_t>(i));
      siginfo_t info{};
      ::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(gone.pidFd), &info, WEXITED | WNOHANG);
      ::close(gone.pidFd);
      ChildReaper::release(gone.pid);
      claimRemnantsLocked(c, gone.startTicks);
      i = 0;
    }
    // runChild says first whether it lost its keeper; a keeper is reaped
    // only once nothing of its command is left.
    pollfd p{c.pidFd, POLLIN, 0};
    if (c.waitedFor || !c.remnants.empty() || ::poll(&p, 1, 0) <= 0) {
      ++it;
      continue;
    }
    // Killed while it held what its command left: that is the command's.
    siginfo_t info{};
    if (c.keepsLeftovers && !c.lost &&
        ::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(c.pidFd), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_code != CLD_EXITED) {
      c.lost = true;
      if (claimRemnantsLocked(c, c.keeperStart) > 0) {
        ++it;
        continue;
      }
    }
    // Forgotten first, reaped then: its number is free only once it is no
    // longer recorded.
    const pid_t keeper = it->first;
    info = {};
    ::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(c.pidFd), &info, WEXITED | WNOHANG);
    ::close(c.pidFd);
    it = commands_.erase(it);
    ChildReaper::release(keeper);
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
    if (commands_.contains(stat->ppid) || isRemnantLocked(current, stat->startTicks)) return true;
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
  const auto found = commands_.find(keeper);
  if (found == commands_.end()) return 0;
  const std::vector<Node> tree = readTree();
  std::vector<Node> nodes = descendantsOf(keeper, tree);
  for (const Remnant& r : found->second.remnants) {
    nodes.push_back({r.pid, 0, r.startTicks});
    for (const Node& n : descendantsOf(r.pid, tree)) nodes.push_back(n);
  }
  int count = 0;
  for (const Node& node : nodes)
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
