#pragma once

#include "platform/ServiceManager.h"
#include "registry/AgentEntry.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>

// What the agent detail sheet does itself to an agent's launchd job (a user
// unit of the systemd user manager, through `systemctl --user`): disabling the job when the lock is turned
// off, and the hard stop of a managed agent. Nothing here waits on the
// calling thread: service-manager calls run on pool threads with a deadline.
// Call from the main thread.
namespace tlr::LaunchdJobControl {

// Disables the entry's job (`systemctl --user disable <label>.service`),
// waiting at most `timeout` on a pool thread; a call still running then is
// stopped. Logs the outcome ("[Detail] systemctl --user disable
// <label>.service → exit=<status>", or "[Detail] systemctl --user disable
// failed: <reason>") and drops the label from the
// scanner's launchd cache. `done`, when given, runs on the main thread
// afterwards unless `context` is gone by then; the work itself always runs
// to its end. An entry without a label does nothing and calls nothing.
void disableJob(const AgentEntry& entry, QObject* context = nullptr,
                std::function<void(const ServiceManager::CallOutcome&)> done = {},
                std::chrono::milliseconds timeout = ServiceManager::kCallTimeout);

// The "[Detail] " line of a disable's outcome (without the tag).
QString disableLogText(const QString& label, const ServiceManager::CallOutcome& outcome,
                       std::chrono::milliseconds timeout);

// Stops a launchd-managed agent: its own launchd uninstall command lines run
// in a terminal window when the entry has some (AgentTerminal), else its job
// is stopped ("bootout") on a pool thread without anyone waiting. Failures to
// start are ignored. The label, when there is one, is dropped from the
// scanner's launchd cache.
void hardStop(const AgentEntry& entry);

}  // namespace tlr::LaunchdJobControl
