#pragma once

#include "platform/ServiceManager.h"
#include "platform/TerminalLauncher.h"
#include "registry/AgentEntry.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

// What the agent detail sheet does itself to an agent's launchd job (a user
// unit of the service manager) and in terminal windows: disabling the job
// when the lock is turned off, the hard stop of a managed agent, and the
// agent's console. Nothing here waits on the calling thread: service-manager
// calls run on pool threads with a deadline, terminals are started and left
// to the user. Call from the main thread.
namespace tlr::LaunchdJobControl {

// Disables the entry's job ("launchctl disable"), waiting at most `timeout`
// on a pool thread; a call still running then is stopped. Logs the outcome
// ("[Detail] launchctl disable user/<uid>/<label> → exit=<status>", or
// "[Detail] launchctl disable failed: <reason>") and drops the label from the
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
// in a terminal window when the entry has some, else its job is stopped
// ("bootout") on a pool thread without anyone waiting. Failures to start are
// ignored. The label, when there is one, is dropped from the scanner's
// launchd cache.
void hardStop(const AgentEntry& entry);

// The terminal line of the uninstall command lines: the user's program
// folders ahead of PATH, the lines joined by "; "; the window closes a second
// after they end, and lines still running after 60 seconds are ended.
QString uninstallShellText(const QStringList& commandLines);

// Runs the agent's console command (its words joined by single blanks, exactly
// as written) in a new terminal window and logs "[TUI] <name>: ...". An empty
// command does nothing and counts as started.
TerminalLauncher::Result openConsole(const AgentEntry& entry, const QStringList& command);

}  // namespace tlr::LaunchdJobControl
