#pragma once

#include "core/agents/SetupCatalog.h"
#include "registry/AgentEntry.h"

#include <QString>

#include <optional>
#include <sys/types.h>

namespace tlr {

// One row of the dashboard: an installed agent with its live state, built
// afresh by every DashboardModel::update(). A plain value; the row, the
// detail sheet and the metric cards each read their own copy.
//
// Rows are identified by `id` (the dashboard keeps its row widgets and the
// open detail sheet by it). There is no operator==: where two records are
// compared, sameState() names the fields that count.
struct DashboardAgentItem {
  QString id;         // the agent id, equal to entry.id
  AgentEntry entry;   // a copy of the installed agent's registry entry
  bool isLockedOnline = false;   // the id is in the lock-online set
  bool isRunning = false;        // the running list holds a record of this agent
  bool isThrottled = false;      // the lifecycle watcher has throttled its recovery
  // Throttled, or the agent's newest event is a fault (exitedAbnormal,
  // throttled, killedByOOM, hangDetected, runawayDetected). Independent of
  // whether the agent runs: a running agent that hung is faulted.
  bool isFaulted = false;
  bool isLaunchdManaged = false;  // the user manager runs it (false when not running)
  // "Faulted" / "Running" / "Stopped" (or the Chinese words), in the
  // interface language of the update that built the row.
  QString bigStatusText;
  // A command-line agent running inside this agent (its running record's
  // parentAgentId is this id): its pid and localized display name. Both
  // absent when there is none.
  std::optional<pid_t> embeddedCliPID;
  std::optional<QString> embeddedCliName;
  // How many instances of the agent run (sessions started apart, each with
  // its helper processes); 0 when it does not run.
  int instances = 0;
  // Where its first running instance works; absent when unknown.
  std::optional<QString> workingFolder;
  // The agent's first-time setup, as far as known (worked out off the main
  // thread, so it may come with a later update); absent: none offered.
  std::optional<SetupCatalog::Action> setupAction;

  // Whether the fields an open detail sheet follows are equal:
  // isLaunchdManaged, isRunning, isLockedOnline, isThrottled, isFaulted,
  // bigStatusText, setupAction and instances. entry and the embedded
  // process are not compared.
  static bool sameState(const DashboardAgentItem& a, const DashboardAgentItem& b) {
    return a.isLaunchdManaged == b.isLaunchdManaged && a.isRunning == b.isRunning && a.instances == b.instances &&
           a.isLockedOnline == b.isLockedOnline && a.isThrottled == b.isThrottled &&
           a.isFaulted == b.isFaulted && a.bigStatusText == b.bigStatusText && a.setupAction == b.setupAction;
  }
};

}  // namespace tlr
