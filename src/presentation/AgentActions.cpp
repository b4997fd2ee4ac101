#include "presentation/AgentActions.h"

#include "watcher/AgentLifecycleWatcher.h"

namespace tlr {

QSet<QString> LifecycleWatcherActions::throttledAgents() const { return watcher_.throttledAgents(); }

void LifecycleWatcherActions::launchOnUserClick(const AgentEntry& entry, LaunchCompletion completion) {
  watcher_.launchOnUserClick(entry, std::move(completion));
}

void LifecycleWatcherActions::stopOnUserClick(const AgentEntry& entry, StopCompletion completion) {
  watcher_.stopOnUserClick(entry, std::move(completion));
}

void LifecycleWatcherActions::restartOnUserClick(const AgentEntry& entry, RestartCompletion completion) {
  watcher_.restartOnUserClick(entry, std::move(completion));
}

void LifecycleWatcherActions::doctorOnUserClick(const AgentEntry& entry, DoctorCompletion completion) {
  watcher_.doctorOnUserClick(entry, std::move(completion));
}

void LifecycleWatcherActions::applyDoctorFix(const AgentEntry& entry, const AgentDoctor::KnownIssue& issue,
                                             FixCompletion completion) {
  watcher_.applyDoctorFix(entry, issue, std::move(completion));
}

void LifecycleWatcherActions::runSetupOnUserClick(const AgentEntry& entry) { watcher_.runSetupOnUserClick(entry); }

void LifecycleWatcherActions::recoverOnDemand(const AgentEntry& entry) { watcher_.recoverOnDemand(entry); }

}  // namespace tlr
