#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Where Tollamere keeps and finds things on this machine. Every function reads
// $HOME and the XDG variables afresh, so a process (or a test) that changes
// HOME sees the new places at once.
namespace tlr::Paths {

QString home();
QString configHome();   // $XDG_CONFIG_HOME, else ~/.config
QString dataHome();     // $XDG_DATA_HOME, else ~/.local/share
QString stateHome();    // $XDG_STATE_HOME, else ~/.local/state

// Tollamere's private folders: each is made when missing and must be a
// folder of this user's alone, never a link (FileOps::makeOwnFolder). A
// place that is not (another user's "/tmp/Tollamere" when XDG_RUNTIME_DIR
// is "/tmp", a link put there) is never used: the folder is made in a
// private place of this user's own instead, "~/.tollamere/<name>" (the
// runtime folder: the application folder), and a "[Files] " line says so,
// once. Every call looks again.

// The application folder ("single-instance.lock", "network-log.json", ...):
// $XDG_DATA_HOME/Tollamere.
QString appSupport();
// $XDG_CONFIG_HOME/Tollamere, which holds the typed defaults file.
QString configFolder();
// The typed defaults file of `Defaults`.
QString defaultsFile();
// $XDG_STATE_HOME/Tollamere.
QString stateFolder();
// The folder the hang watcher reads reports from: DiagnosticReports in the
// state folder.
QString diagnosticReports();
// Where a detached service's output goes ("tlr-<id>.log"): logs in the
// state folder.
QString serviceLogs();
// This user's own place for files of the running session (the setup
// sentinel, the volume's mount point): $XDG_RUNTIME_DIR/Tollamere when that
// variable is set, else the application folder.
QString runtimeFolder();
// Where encrypted volumes are mounted: Volumes in the runtime folder.
QString volumesRoot();
// Where a private folder goes when its own place is not private.
QString privateFallback(const QString& name);
// `wanted` when it is a private folder of ours (made when missing), else
// `fallback()`, with a "[Files] " line (once for each place and reason).
QString privateFolder(const QString& wanted, const std::function<QString()>& fallback);

// XDG autostart entry that makes Tollamere a login item.
QString autostartFile();
// The legacy per-user service unit of older versions.
QString legacyLaunchAgentFile();

// While it lives, $XDG_RUNTIME_DIR names a folder the toolkit takes for a
// runtime folder (this user's alone, exactly 0700, not a link): the
// variable's own when it does, else Tollamere's runtime folder. The toolkit
// looks in it while its application object is built, and warns (or makes a
// folder in /tmp) when the variable is unset or names a shared folder such
// as /tmp. The session's own value, which every program we start inherits
// and our own places follow, comes back when it goes.
class RuntimeFolderForToolkit {
 public:
  RuntimeFolderForToolkit();
  ~RuntimeFolderForToolkit();
  RuntimeFolderForToolkit(const RuntimeFolderForToolkit&) = delete;
  RuntimeFolderForToolkit& operator=(const RuntimeFolderForToolkit&) = delete;

 private:
  bool replaced_ = false;
  bool wasSet_ = false;
  QByteArray original_;
};

// "~" and "~/x" become the home folder and a path below it; anything else is
// returned unchanged.
QString expandTilde(const QString& path);

}  // namespace tlr::Paths
