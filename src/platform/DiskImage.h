#pragma once

#include "platform/Expected.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>

// The encrypted backup image: a gocryptfs cipher folder, attached over FUSE.
// Every call that runs a tool blocks until it ends or its deadline passes, so
// run them off the main thread where the user is waiting.
namespace tlr::DiskImage {

// Why a tool call failed.
struct ToolFailure {
  // For the user: the tool's error output (its standard output when the
  // error output is empty), "unknown" when that is not UTF-8, or our own
  // reason when the tool could not run (missing from PATH, no deadline met).
  QString reason;
  // The tool refused the password (gocryptfs exit code 12).
  bool wrongPassword = false;
  // It was stopped before it ended (the work it ran for was stopped or
  // cancelled), or it did not end by its deadline.
  bool stopped = false;
  // This user may not use FUSE: /dev/fuse refused it (as fusermount3 says:
  // "failed to open /dev/fuse: Permission denied").
  bool fuseDenied = false;
};
// How a tool call ended: nothing on success, else why not.
using ToolResult = Expected<void, ToolFailure>;

// The longest password gocryptfs accepts, in UTF-8 bytes: 2,048 (about 680
// Chinese characters).
inline constexpr qsizetype kMaxPasswordBytes = 2048;
// gocryptfs's exit code for a wrong password.
inline constexpr int kWrongPasswordExit = 12;
// Deadlines of the tool calls (key derivation takes a moment on slow disks).
inline constexpr std::chrono::seconds kCreateTimeout{120};
inline constexpr std::chrono::seconds kAttachTimeout{120};
inline constexpr std::chrono::seconds kDetachTimeout{30};
// How long isDisconnected() waits for the mount point to answer.
inline constexpr std::chrono::seconds kProbeTimeout{5};

// Makes `cipherDir`, an existing empty folder, an encrypted image with the
// password. The password reaches the tool only on its standard input (its
// UTF-8 bytes and one line feed), never in arguments, the environment or a
// file.
ToolResult create(const QString& cipherDir, const QString& password);
// Attaches the image at `mountPoint`, an existing folder. Same password rule.
// One that is stopped (stopRunningChildren, a cancelled pool) or misses its
// deadline is ended at once with what it started (endAttach).
ToolResult attach(const QString& cipherDir, const QString& mountPoint, const QString& password);
// Ends an attach of `cipherDir` at `mountPoint` that did not finish (it was
// stopped, or missed its deadline), at once: this user's gocryptfs processes
// of that image and point still at work (the daemon the stopped one forked,
// which would otherwise finish the mount on its own) get SIGTERM (SIGKILL
// after a short grace), and what got mounted there is detached (lazily:
// nothing may use it any more). True when nothing of it is left.
bool endAttach(const QString& cipherDir, const QString& mountPoint);
// Whether the file system mounted at `mountPoint` lost the process behind
// it (killed, crashed): every access then fails with "Transport endpoint is
// not connected" until it is detached. A mount point that does not answer
// within kProbeTimeout (a hung daemon) counts as connected.
bool isDisconnected(const QString& mountPoint);
// What a detach does when the file system is still in use (a file open in
// it, a process working in it).
enum class WhenBusy {
  // Fails; the file system stays where it is.
  fail,
  // Takes it out of the file tree at once (fusermount -u -z): nothing more
  // can be opened through it, and its daemon ends once the last open file
  // closes. For a process on its way out, whose own work may still hold
  // files there.
  detachLazily,
};
// The first program that attaching and detaching need and PATH lacks:
// "gocryptfs", then "fusermount3" (fusermount will do as well); empty when
// both are there.
QString missingTool();
// The Debian package that installs `tool` ("fuse3" for fusermount3).
QString packageOf(const QString& tool);
// Detaches whatever FUSE file system is mounted at `mountPoint`
// (fusermount3 -u, else fusermount -u). True when the tool succeeded.
[[nodiscard]] bool detach(const QString& mountPoint, WhenBusy whenBusy = WhenBusy::fail);

// One line of a mountinfo table, with its escapes (\040 and the like) undone.
struct MountEntry {
  QString mountPoint;
  QString fsType;
  QString source;
};
// The mounts of this process's namespace, in table order; empty when the
// file cannot be read.
QList<MountEntry> readMountInfo(const QString& path = QStringLiteral("/proc/self/mountinfo"));
// True when the topmost mount at `mountPoint` is a gocryptfs mount of
// `cipherDir`. A plain folder at that point, or another file system mounted
// there, is not.
bool isMounted(const QString& cipherDir, const QString& mountPoint,
               const QString& mountInfoPath = QStringLiteral("/proc/self/mountinfo"));

// The device number of the file system mounted at `mountPoint`, or nothing
// when nothing is mounted there (the folder is on the file system of the
// folder around it) or it cannot be asked.
std::optional<quint64> mountedDevice(const QString& mountPoint);

// Free bytes for an unprivileged user on the file system holding `folder`
// (statvfs), or nothing when it cannot be asked.
std::optional<qint64> freeBytes(const QString& folder);
// The bytes the regular files below `path` (or `path` itself, a file) hold:
// each file's size, or for a file with holes the room its data takes (what a
// copy of it writes). Links are never followed nor counted, and folders
// where another file system is mounted below `path` are not entered (as
// FileOps' walks). 0 for a missing path.
qint64 directorySize(const QString& path);

// Renames `from` to `to` only when nothing exists at `to`.
Expected<void, QString> renameNoReplace(const QString& from, const QString& to);

}  // namespace tlr::DiskImage
