#include "platform/OwnCommands.h"

#include <csignal>
#include <thread>

namespace tlr {
namespace {

thread_local const OwnCommands::Scope* currentScope = nullptr;

// Whether any process of `group` still runs (zombies excepted).
bool groupAlive(pid_t group) { return ::kill(-group, 0) == 0; }

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

void OwnCommands::started(pid_t group) {
  if (group <= 0) return;
  Group g;
  if (currentScope) {
    g.agentId = currentScope->agentId_;
    g.purpose = currentScope->purpose_;
  }
  std::lock_guard lock(mutex_);
  groups_[group] = std::move(g);
}

void OwnCommands::ended(pid_t group) {
  std::lock_guard lock(mutex_);
  const auto found = groups_.find(group);
  if (found == groups_.end()) return;
  if (found->second.purpose == Purpose::relaunch) {
    groups_.erase(found);
    return;
  }
  found->second.running = false;
  found->second.endedAt = ++endings_;
}

bool OwnCommands::isOurs(pid_t group) const {
  if (group <= 0) return false;
  std::lock_guard lock(mutex_);
  return groups_.contains(group);
}

uint64_t OwnCommands::endings() const {
  std::lock_guard lock(mutex_);
  return endings_;
}

void OwnCommands::forgetEmptyGroups(const std::function<bool(pid_t group)>& hasProcess, uint64_t endingsBefore) {
  std::lock_guard lock(mutex_);
  for (auto it = groups_.begin(); it != groups_.end();) {
    const Group& g = it->second;
    const bool empty = !g.running && g.endedAt <= endingsBefore && !hasProcess(it->first);
    it = empty ? groups_.erase(it) : std::next(it);
  }
}

bool OwnCommands::isUninstalling(const QString& agentId) const {
  std::lock_guard lock(mutex_);
  return uninstalling_.contains(agentId);
}

void OwnCommands::enterUninstall(const QString& agentId) {
  std::lock_guard lock(mutex_);
  ++uninstalling_[agentId];
}

void OwnCommands::leaveUninstall(const QString& agentId) {
  std::lock_guard lock(mutex_);
  const auto found = uninstalling_.find(agentId);
  if (found != uninstalling_.end() && --found.value() <= 0) uninstalling_.erase(found);
}

int OwnCommands::endCommandsOf(const QString& agentId, std::chrono::milliseconds grace) {
  QList<pid_t> asked;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [group, g] : groups_)
      if (!agentId.isEmpty() && g.agentId == agentId) asked << group;
  }
  for (pid_t group : asked) ::kill(-group, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + grace;
  QList<pid_t> left = asked;
  while (true) {
    left.removeIf([](pid_t group) { return !groupAlive(group); });
    if (left.isEmpty() || std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  for (pid_t group : left) ::kill(-group, SIGKILL);
  return static_cast<int>(asked.size());
}

}  // namespace tlr
