#pragma once

#include "registry/AgentEntry.h"
#include "watcher/AgentDoctor.h"
#include "watcher/AgentRestarter.h"

#include <QSet>
#include <QString>

#include <functional>
#include <optional>

namespace tlr {

class AgentLifecycleWatcher;

// What the dashboard asks of the lifecycle watcher: the throttled set and the
// user's actions on one agent. Every action returns at once; completions run
// later on the main thread. The application hands the dashboard the real
// watcher (LifecycleWatcherActions); tests hand it a recording fake.
class AgentActions {
 public:
  using LaunchCompletion = std::function<void(bool started)>;
  using StopCompletion = std::function<void(bool stopped)>;
  using RestartCompletion = std::function<void(const AgentRestarter::Result&)>;
  using DoctorCompletion = std::function<void(std::optional<AgentDoctor::Result>)>;
  using FixCompletion = std::function<void(const AgentDoctor::FixResult&)>;

  virtual ~AgentActions() = default;

  // The agents whose recovery is paused.
  virtual QSet<QString> throttledAgents() const = 0;

  virtual void launchOnUserClick(const AgentEntry& entry, LaunchCompletion completion) = 0;
  virtual void stopOnUserClick(const AgentEntry& entry, StopCompletion completion) = 0;
  virtual void restartOnUserClick(const AgentEntry& entry, RestartCompletion completion) = 0;
  virtual void doctorOnUserClick(const AgentEntry& entry, DoctorCompletion completion) = 0;
  virtual void applyDoctorFix(const AgentEntry& entry, const AgentDoctor::KnownIssue& issue,
                              FixCompletion completion) = 0;
  virtual void runSetupOnUserClick(const AgentEntry& entry) = 0;
  // The agent was just locked online and is not running: start it (the
  // watcher skips a throttled agent).
  virtual void recoverOnDemand(const AgentEntry& entry) = 0;
};

// The actions of the real lifecycle watcher, which must outlive this object.
class LifecycleWatcherActions final : public AgentActions {
 public:
  explicit LifecycleWatcherActions(AgentLifecycleWatcher& watcher) : watcher_(watcher) {}

  QSet<QString> throttledAgents() const override;
  void launchOnUserClick(const AgentEntry& entry, LaunchCompletion completion) override;
  void stopOnUserClick(const AgentEntry& entry, StopCompletion completion) override;
  void restartOnUserClick(const AgentEntry& entry, RestartCompletion completion) override;
  void doctorOnUserClick(const AgentEntry& entry, DoctorCompletion completion) override;
  void applyDoctorFix(const AgentEntry& entry, const AgentDoctor::KnownIssue& issue,
                      FixCompletion completion) override;
  void runSetupOnUserClick(const AgentEntry& entry) override;
  void recoverOnDemand(const AgentEntry& entry) override;

 private:
  AgentLifecycleWatcher& watcher_;
};

}  // namespace tlr
