#pragma once

#include "platform/TerminalLauncher.h"
#include "registry/AgentEntry.h"

#include <QString>
#include <QStringList>

#include <optional>

// What the agent detail sheet runs for an agent in a terminal window: the
// agent's console, and the agent's own launchd uninstall command lines (the
// hard stop of a managed agent that has some). Terminals are started and left
// to the user; nothing waits for them. Each line first sets PATH to this
// user's program folders (UserPrograms), which are looked up: never call
// these on the window thread.
namespace tlr::AgentTerminal {

// Runs the agent's console command (its words joined by single blanks, exactly
// as written) in a new terminal window, in `folder` where the agent runs
// (the home folder when unknown), and logs "[TUI] <name>: ...". An empty
// command does nothing and counts as started.
TerminalLauncher::Result openConsole(const AgentEntry& entry, const QStringList& command,
                                     const std::optional<QString>& folder = std::nullopt);

// Runs the uninstall command lines in a new terminal window (see
// uninstallShellText); a terminal that cannot be started is logged
// ("[Detail] launchd uninstall terminal failed: <reason>") and otherwise
// ignored.
void runUninstallLines(const QStringList& commandLines);

// The terminal line of the uninstall command lines: the user's program
// folders ahead of PATH, the lines joined by "; "; the window closes a second
// after they end, and lines still running after 60 seconds are ended.
QString uninstallShellText(const QStringList& commandLines);

}  // namespace tlr::AgentTerminal
