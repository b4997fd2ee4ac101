#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <thread>

#include <sys/types.h>

namespace tlr {
class LocKey;
// How a failed comparison shows a text key: its name and its English text.
void PrintTo(const LocKey& key, std::ostream* out);
}  // namespace tlr

namespace tlr::test {

// A temporary folder for the life of the object, removed with it byte for
// byte: also names that are no valid UTF-8, which QTemporaryDir's own
// removal cannot name (a test of odd names left such folders behind).
class TempDir {
 public:
  TempDir() = default;
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  QString path() const { return dir_.path(); }
  QString filePath(const QString& name) const { return dir_.filePath(name); }
  bool isValid() const { return dir_.isValid(); }

 private:
  QTemporaryDir dir_;
};

// A temporary HOME for the life of the object: HOME and the XDG variables
// point into it, and the previous values come back on destruction. The folder
// is removed with the object (only that folder), once the work the test
// started has ended in it: the pool's tasks (and the threads they run
// alongside), the handoffs to the window thread they made, and the jobs of
// the serial workers (the defaults' writes). Work still running after
// kHomeWorkEndsWithin fails the test.
class TempHome {
 public:
  // Holds on a machine with twice as many busy processes as cores.
  static constexpr std::chrono::milliseconds kHomeWorkEndsWithin{60000};

  TempHome();
  ~TempHome();
  // Waits, at most `within`, until no task of the application's pool runs
  // or waits, serving the window thread meanwhile when called there, then
  // until the serial workers have done what they were given. True when the
  // pool is idle.
  static bool workEnded(std::chrono::milliseconds within);
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  QString path() const { return dir_.path(); }
  // Writes a file below the home folder (folders created), returns its path.
  QString writeFile(const QString& relative, const QByteArray& content);

 private:
  TempDir dir_;
  QList<QPair<QByteArray, QByteArray>> saved_;
};

// A QProcess whose child our reaper leaves alone: ChildReaper reaps every
// child of ours that nobody holds once a test of the same run started it,
// which took a QProcess's exit status from under it (an exit code 0 read
// for a program that said 3, when the whole executable ran). start() forks
// while the reaper holds off, and the child is held until the object ends.
class HeldProcess {
 public:
  HeldProcess() = default;
  ~HeldProcess();
  HeldProcess(const HeldProcess&) = delete;
  HeldProcess& operator=(const HeldProcess&) = delete;

  QProcess& operator*() { return process_; }
  QProcess* operator->() { return &process_; }
  // QProcess::start; false when it did not start.
  bool start(const QString& program, const QStringList& arguments);

 private:
  QProcess process_;
  qint64 pid_ = 0;
};

// A folder of fake programs put first on PATH for the life of the object.
class FakeBin {
 public:
  FakeBin();
  ~FakeBin();
  FakeBin(const FakeBin&) = delete;
  FakeBin& operator=(const FakeBin&) = delete;

  QString path() const { return dir_.path(); }
  // Writes an executable script `name` with the given body (a "#!/bin/sh"
  // line is added when the body has none). Returns its path.
  QString add(const QString& name, const QString& body);
  // A fake that appends its arguments, one per line and then a line "--",
  // to the returned log file, then exits with `exitCode`. The lines are
  // written one by one: a call is whole once its "--" line is there.
  QString addRecorder(const QString& name, int exitCode = 0);
  QString recordPath(const QString& name) const;
  // A fake `systemctl --user` that records its arguments (recordPath) and
  // answers `show` with a running job of `mainPid` for the unit "<label>.service"
  // and an inactive job for every other unit.
  QString addUserManager(const QString& runningLabel, int mainPid);
  // Makes a user manager look present: XDG_RUNTIME_DIR (restored with the
  // object) points into this folder, which holds its socket
  // "systemd/private". Without it no systemctl is ever run.
  void provideUserManagerSocket();

 private:
  QTemporaryDir dir_;
  QByteArray oldPath_;
  std::optional<QByteArray> oldRuntimeDir_;
};

// A document of the user's, outside the temporary home, and a symbolic link
// to it at `linkPath` (its folders made): where one of our own files is
// expected, to show that it is never written through.
class LinkedDocument {
 public:
  explicit LinkedDocument(const QString& linkPath, QByteArray content = kContent);
  LinkedDocument(const LinkedDocument&) = delete;
  LinkedDocument& operator=(const LinkedDocument&) = delete;

  QString documentPath() const { return document_; }
  // The document holds exactly what it held, and is still a plain file.
  bool untouched() const;
  // A plain file now stands at the link's place.
  bool replacedByAFile() const;

  static constexpr const char* kContent = "the user's own words\n";

 private:
  QTemporaryDir dir_;
  QString link_;
  QString document_;
  QByteArray content_;
};

// Polls `condition` until it holds or `timeout` passes, processing Qt events
// in between. Returns whether the condition held.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// How many times longer a deadline that stands for the machine's speed is in
// a build under AddressSanitizer (`scripts/test --sanitize`), and 1 in every
// other build. There the application's code runs two to three times slower,
// and a quitting process checks for leaks after its own work is done: a
// walk of all its memory and the symbolizing of what it finds, seconds of
// processor time on a busy machine, which the application's quit deadline
// does not count (platform/QuitDeadline). Only deadlines that hold such work
// are scaled, here and nowhere test by test; the normal build keeps them.
inline constexpr int kSanitizerSlowdown =
#if defined(__SANITIZE_ADDRESS__)
    3;
#else
    1;
#endif

// Waits (up to `timeout`) until the application's off-main pool is idle,
// then delivers the results it handed to the main thread: afterwards an
// outcome that is absent (a relaunch, a completion) is truly absent.
void finishOffMainWork(std::chrono::milliseconds timeout = std::chrono::seconds(5));

// A listening socket at `path` that takes connections into its queue and
// never reads or answers them: a service that hangs. Closed when it goes.
class SilentSocket {
 public:
  explicit SilentSocket(const QString& path);
  ~SilentSocket();
  SilentSocket(const SilentSocket&) = delete;
  SilentSocket& operator=(const SilentSocket&) = delete;
  bool listening() const { return listening_; }

 private:
  int fd_ = -1;
  bool listening_ = false;
};

// What the system says of process `pid`, for a failure's message: its state
// ("S (sleeping)", "T (stopped)", "Z (zombie)"), its tracer, and the signals
// pending for it and blocked by it; "gone" once it is reaped.
QString processState(pid_t pid);

QString readFile(const QString& path);
// Writes `data` to `path`, making its folders; a file that cannot be written
// fails the running test.
void writeBytes(const QString& path, const QByteArray& data);
// The file's bytes, or "<missing>" when it cannot be read.
QByteArray readBytes(const QString& path);
// The same for a path of raw bytes (names that are no valid UTF-8); the
// folder must exist.
void writeNativeBytes(const QByteArray& path, const QByteArray& data);
QByteArray readNativeBytes(const QByteArray& path);
// The same through each folder on the way, made where missing, opened
// relative to the one before: for paths longer than the system takes whole.
void writeThroughFolders(const QString& root, const QByteArray& relative, const QByteArray& data);
QByteArray readThroughFolders(const QString& root, const QByteArray& relative);
// What `write` puts on the descriptor `fd` (standard output or error).
QByteArray capture(int fd, const std::function<void()>& write);
// The permission bits (set-id and sticky bits too) of the item itself (a
// link is not followed), or 0 when there is none.
unsigned modeOf(const QString& path);
// The folder of the built test helper programs (tests/tools/*.cpp).
QString toolPath(const QString& name);

// A program run to its end: its exit code when it exited by itself, else -1
// and `failure` says what became of it.
struct ProgramRun {
  int exitCode = -1;
  QByteArray out;
  QByteArray err;
  QString failure;  // empty when it exited by itself
};
// Runs `program` (a path, or a name on PATH) to its end as the application
// runs one (runChild), `input` on its standard input. The child is held for
// its runner from its fork: where this process adopts orphans, as the
// application does and as a test of the reaper leaves a test process, the
// reaper would take a QProcess's child's exit status, which QProcess then
// reports as a crash. The deadline only ends a program that hangs.
ProgramRun runProgram(const QString& program, const QStringList& arguments,
                      const std::optional<QByteArray>& input = std::nullopt);
// From now on, whatever is mounted below a temporary HOME of this process
// (TempHome) is detached when the process ends, however it ends (killed,
// or a runner's timeout kills its whole tree): a guard (tlr_mount_guard)
// outlives the process for that. Started once; the fixtures that mount
// encrypted images call it.
void guardMountsOfThisProcess();

// While it lives, the calling thread lacks the capabilities that let root
// read, enter and write what permission bits refuse (capabilities are kept
// per thread): the thread meets permissions as any other user does. The
// code under test must run on this thread.
class AsOrdinaryUser {
 public:
  AsOrdinaryUser();
  ~AsOrdinaryUser();
  AsOrdinaryUser(const AsOrdinaryUser&) = delete;
  AsOrdinaryUser& operator=(const AsOrdinaryUser&) = delete;

 private:
  unsigned effective_[2] = {0, 0};
  bool changed_ = false;
};

// While it lives, a thread of its own is held inside a handoff to the main
// thread (runOnMain), as a thread preempted there on a busy machine would
// be; other threads' handoffs are not held. `holding()` says whether the
// thread got there.
class HeldHandoff {
 public:
  HeldHandoff();
  ~HeldHandoff();
  HeldHandoff(const HeldHandoff&) = delete;
  HeldHandoff& operator=(const HeldHandoff&) = delete;
  bool holding() const { return holding_; }

 private:
  std::unique_ptr<std::thread> thread_;
  bool holding_ = false;
};

// Sets or clears the immutable attribute of `path` (a file or a folder), as
// `chattr +i` / `-i` do, without a child process whose exit status our
// reaper could take (a `chattr` read as failed left its folder immutable in
// /tmp for good). Root only; true when done.
bool setImmutable(const QString& path, bool immutable);

// Makes `file` impossible to remove, for every thread of this process, while
// it lives: its folder without write permission for an ordinary user, the
// immutable attribute for root (whom permissions do not stop). `ok()` says
// whether that could be done.
class Unremovable {
 public:
  explicit Unremovable(const QString& file);
  ~Unremovable();
  Unremovable(const Unremovable&) = delete;
  Unremovable& operator=(const Unremovable&) = delete;
  bool ok() const { return ok_; }

 private:
  QString file_, folder_;
  bool ok_ = false;
};

// While it lives, the calling thread has a mount namespace of its own
// (namespaces, like capabilities, are kept per thread), private from the
// start: what `bind` and `mountTmpfs` mount there no other thread or process
// sees, and it all goes with the namespace when the object ends. Needs root;
// `failure()` says why not when it could not be made. The code under test
// must run on this thread, and the object must end before the folders
// mounted on are removed.
class PrivateMounts {
 public:
  PrivateMounts();
  ~PrivateMounts();
  PrivateMounts(const PrivateMounts&) = delete;
  PrivateMounts& operator=(const PrivateMounts&) = delete;

  QString failure() const { return failure_; }
  // Mounts the folder `source` at the folder `target` too (same device).
  bool bind(const QString& source, const QString& target);
  // Mounts a small empty file system of its own (another device) at `target`.
  bool mountTmpfs(const QString& target);

 private:
  bool entered_ = false;  // the thread is in a namespace of its own
  int original_ = -1;     // the namespace the thread came from
  int workingDir_ = -1;   // the thread's working folder, given back with it
  QString failure_;
};

}  // namespace tlr::test
