#pragma once

#include "core/stores/EventStore.h"
#include "core/stores/LockOnlineStore.h"
#include "core/stores/SettingsStore.h"
#include "platform/Defaults.h"
#include "presentation/AgentActions.h"
#include "presentation/DashboardModel.h"
#include "watcher/ProcessScanner.h"

#include "support/TestSupport.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace tlr::test {

// A lifecycle watcher stand-in: records every call and keeps each
// completion until the test finishes it.
class FakeAgentActions final : public AgentActions {
 public:
  QSet<QString> throttled;
  QStringList calls;  // "<action> <agent id>", in order
  QList<LaunchCompletion> launchCompletions;
  QList<StopCompletion> stopCompletions;
  QList<RestartCompletion> restartCompletions;
  QList<DoctorCompletion> doctorCompletions;
  QList<FixCompletion> fixCompletions;

  QSet<QString> throttledAgents() const override { return throttled; }
  void launchOnUserClick(const AgentEntry& e, LaunchCompletion c) override {
    calls << "launch " + e.id;
    launchCompletions << std::move(c);
  }
  void stopOnUserClick(const AgentEntry& e, StopCompletion c) override {
    calls << "stop " + e.id;
    stopCompletions << std::move(c);
  }
  void restartOnUserClick(const AgentEntry& e, RestartCompletion c) override {
    calls << "restart " + e.id;
    restartCompletions << std::move(c);
  }
  void doctorOnUserClick(const AgentEntry& e, DoctorCompletion c) override {
    calls << "doctor " + e.id;
    doctorCompletions << std::move(c);
  }
  void applyDoctorFix(const AgentEntry& e, const AgentDoctor::KnownIssue& issue, FixCompletion c) override {
    calls << "fix " + e.id + " " + issue.id;
    fixCompletions << std::move(c);
  }
  void runSetupOnUserClick(const AgentEntry& e) override { calls << "setup " + e.id; }
  void recoverOnDemand(const AgentEntry& e) override { calls << "recoverOnDemand " + e.id; }
};

inline AgentEntry agentEntry(const QString& id, AgentEntry::Kind kind = AgentEntry::Kind::cli) {
  AgentEntry e;
  e.id = id;
  e.displayName = id;
  e.vendor = QStringLiteral("Test");
  e.kind = kind;
  return e;
}

inline RunningAgent runningRecord(const AgentEntry& entry, pid_t pid, bool launchdManaged = false,
                                  std::optional<QString> parentAgentId = std::nullopt) {
  RunningAgent r;
  r.entry = entry;
  r.pid = pid;
  r.launchdManaged = launchdManaged;
  r.parentAgentId = std::move(parentAgentId);
  return r;
}

// A temporary HOME with its own stores and a model over them.
struct DashboardFixture {
  TempHome home;
  Defaults defaults{home.path() + QStringLiteral("/dashboard-defaults.json")};
  EventStore events{defaults};
  LockOnlineStore lockOnline{defaults, events, [](const QString&) { return false; }};
  SettingsStore settings;
  FakeAgentActions actions;
  DashboardModel model{nullptr, DashboardModel::Stores{&events, &lockOnline, &settings}};
  double clock = 1000;

  // Appends an event a second after the previous one, so the order is sure.
  void addEvent(const QString& agentId, AgentEventType type, std::optional<QString> details = std::nullopt) {
    clock += 1;
    events.append(AgentEvent{QUuid::createUuid(), agentId, type, clock, std::move(details)});
  }
  QStringList ids() const {
    QStringList out;
    for (const auto& item : model.dashboardItems()) out << item.id;
    return out;
  }
  const DashboardAgentItem& row(const QString& id) const {
    for (const auto& item : model.dashboardItems())
      if (item.id == id) return item;
    throw std::runtime_error("no row " + id.toStdString());
  }
};

}  // namespace tlr::test
