#pragma once

#include <QString>

// Where Tollamere keeps and finds things on this machine. Every function reads
// $HOME and the XDG variables afresh, so a process (or a test) that changes
// HOME sees the new places at once.
namespace tlr::Paths {

QString home();
QString configHome();   // $XDG_CONFIG_HOME, else ~/.config
QString dataHome();     // $XDG_DATA_HOME, else ~/.local/share
QString stateHome();    // $XDG_STATE_HOME, else ~/.local/state

// The application folder ("single-instance.lock", "network-log.json", ...).
// Made on every call when missing, and kept the owner's only (0700).
QString appSupport();
// The typed defaults file of `Defaults`.
QString defaultsFile();
// The folder the hang watcher reads reports from.
QString diagnosticReports();
// Where a detached service's output goes ("tlr-<id>.log"):
// $XDG_STATE_HOME/Tollamere/logs, made and kept 0700.
QString serviceLogs();
// This user's own place for files of the running session (the setup
// sentinel): $XDG_RUNTIME_DIR/Tollamere when that variable is set, else the
// application folder; made and kept 0700.
QString runtimeFolder();
// Where encrypted volumes are mounted; it and its Tollamere folder are made
// and kept 0700.
QString volumesRoot();
// XDG autostart entry that makes Tollamere a login item.
QString autostartFile();
// The legacy per-user service unit of older versions.
QString legacyLaunchAgentFile();

// "~" and "~/x" become the home folder and a path below it; anything else is
// returned unchanged.
QString expandTilde(const QString& path);

}  // namespace tlr::Paths
