#pragma once

#include "platform/Expected.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <sys/types.h>

// Child processes, started the one way every part of Tollamere starts them:
// standard input from /dev/null unless the caller writes to it, standard output
// and error drained while the child runs, every wait bounded by a deadline,
// and a stop that means SIGTERM to every process of the command (wherever it
// went: see OwnCommands), then SIGKILL.
namespace tlr {

struct ChildSpec {
  // A path, or a name looked up on the PATH of `environment` (else of this
  // process).
  QString program;
  QStringList arguments;  // without argv[0]
  // The complete environment as "NAME=value" entries; nullopt inherits ours.
  std::optional<QStringList> environment;
  QString workingDirectory;  // empty: ours
  // A folder open as this descriptor is the child's working folder instead
  // (runChild only): what stands at the folder's path cannot change where
  // the child works.
  int workingDirectoryFd = -1;
  // Written to the child's standard input, which is then closed. Without it
  // the child reads /dev/null.
  std::optional<QByteArray> input;
  // Zero waits without a deadline.
  std::chrono::milliseconds timeout{0};
  // How long a child has between SIGTERM and SIGKILL once stopped.
  std::chrono::milliseconds killGrace{5000};
  // After the child exits, how long to keep reading output still arriving
  // from its pipes. A background grandchild that keeps them open is left
  // running; we simply stop listening.
  std::chrono::milliseconds drainGrace{200};
  // Called on the waiting thread when the deadline fires, just before the
  // child's process group gets SIGTERM.
  std::function<void()> onTimeout;
  // Most bytes kept of each of standard output and error; what comes after is
  // read and dropped, so a flood cannot exhaust memory. Zero keeps all.
  qsizetype outputLimit = 0;
  // Standard input and output are a pseudo-terminal of the child's own, its
  // controlling terminal (120 columns), whose output is read into
  // ChildResult::out as it comes; nothing is typed into it (`input`,
  // `inputFd`, `outputFd` and `outputToMemory` do not apply). For programs
  // that say nothing without a terminal. Standard error stays a pipe.
  bool terminal = false;
  // Part of the work that stopRunningChildren() stops (making or attaching
  // an image): once a stop has come, it is not started at all (`cancelled`),
  // however late it comes after the stop. Tools that undo what stopped work
  // did (a detach) leave it false and still run.
  bool refusedOnceStopped = false;
  // The file-creation mask the child starts with; nullopt keeps ours.
  std::optional<mode_t> umask;
  // Standard output and error go to anonymous in-memory files instead of
  // pipes, read once the child has ended. For programs that leave a daemon
  // holding them: a pipe we stopped reading would kill it with SIGPIPE at
  // its next write.
  bool outputToMemory = false;
  // A descriptor the child gets as its standard input (instead of /dev/null
  // or `input`), and one it gets as its standard output (instead of a pipe
  // read into ChildResult::out): for data streamed through pipes of the
  // caller's own. runChild takes both: it closes them in every case, once
  // the child holds them, so the other ends see the end of the stream when
  // the child ends.
  int inputFd = -1;
  int outputFd = -1;
};

struct [[nodiscard]] ChildResult {
  bool started = false;
  QString startError;  // strerror text of a failed start ("No such file or directory")
  bool timedOut = false;  // the deadline fired and the child was stopped
  // The work it ran for was cancelled (the application quits), or
  // stopRunningChildren() came while it ran: the child was stopped, or not
  // started at all.
  bool cancelled = false;
  int waitStatus = 0;     // as from waitpid
  // The command's keeper was killed before it could say how the command
  // ended (the command killed the process that ran it, say; never our own
  // stop): the command failed, whatever it did, and what it left running was
  // ended (OwnCommands::keeperLost).
  bool keeperLost = false;
  QByteArray out;
  QByteArray err;
  bool outTruncated = false;  // bytes beyond outputLimit were dropped
  bool errTruncated = false;
  double elapsedSeconds = 0;

  bool exited() const;      // ended by exit(), not by a signal
  int exitCode() const;     // valid when exited()
  int termSignal() const;   // valid when !exited() && started
};

// Runs the child to its end (or its deadline) and returns what it did. Blocks
// the calling thread; never call it on the main thread. The child runs below
// a keeper process of ours (OwnCommands), which knows every process it
// starts. In a task of an OffMainPool (platform/OffMain.h) it observes the
// pool: once the pool is cancelled every process of the child gets SIGTERM,
// then SIGKILL after a short grace, and no new child starts. The child is
// killed when we die (SIGKILL, a crash), and under a scope of OwnCommands all
// it started with it: a command we were waiting for never runs on unseen.
ChildResult runChild(const ChildSpec& spec);

// Ends the children that runChild is running at this moment, on every
// thread, as a cancelled pool ends them: SIGTERM to every process of each,
// SIGKILL after a short grace, and `cancelled` in their results. From then
// on a child marked `refusedOnceStopped` is never started (work that missed
// the stop by a moment does not begin a tool that runs for seconds); any
// other runs as usual, so work that was stopped can still wind down with
// tools of its own (detaching what it attached). Any thread.
void stopRunningChildren();

// Starts a program that outlives us (refused, like runChild, in a task of a
// cancelled pool): its own session, standard input from
// /dev/null, standard output and error written to `logFile` (or /dev/null
// when empty), a new file of ours at each start that takes the place of
// whatever stood there (FileOps::openOwnFile: a link is replaced, never
// written through). The program stays our child (one fork, no double fork) and is
// reaped by us when it ends, so its wait status is exact on every kernel.
// Returns the pid of the started program or the start error.
Expected<pid_t, QString> spawnDetached(const ChildSpec& spec, const QString& logFile);

// The wait status of our own child `pid` (`pidFd` its pidfd, or -1) that has
// ended: read without reaping it while nobody has reaped it yet, else kept
// from its reaping for a minute when it was started by spawnDetached().
// Nothing for a process that runs or is not our child.
std::optional<int32_t> ownChildExitStatus(pid_t pid, int pidFd);

// The absolute path of `name` on `pathList` (":"-separated), or empty. A name
// with a "/" is returned as it is when it is executable.
QString findExecutable(const QString& name, const QString& pathList);
// The abbreviation of a signal with its "SIG" prefix ("SIGSEGV"), or empty
// for a number that names none.
QString signalName(int signal);

// This process's PATH.
QString currentPath();

}  // namespace tlr
