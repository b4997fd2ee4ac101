#include "TestSupport.h"

#include "MountCleanup.h"
#include "core/texts/LocKey.h"
#include "core/texts/LocTexts.h"
#include "platform/ChildProcess.h"
#include "platform/ChildReaper.h"
#include "platform/DiskImage.h"
#include "platform/FileOps.h"
#include "platform/MainThread.h"
#include "platform/OffMain.h"
#include "platform/SerialWorker.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <ostream>
#include <linux/capability.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tlr {

void PrintTo(const LocKey& key, std::ostream* out) {
  *out << LocKey::name(key.id()) << " \"" << LocTexts::text(AppLanguage::en, key).toStdString() << '"';
}

}  // namespace tlr

namespace tlr::test {
namespace {
const char* kHomeVars[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME",
                           "XDG_RUNTIME_DIR", "XDG_CACHE_HOME", "NVM_DIR", "VOLTA_HOME", "FNM_DIR"};
}

QByteArray capture(int fd, const std::function<void()>& write) {
  QTemporaryFile file;
  if (!file.open()) return "<no file>";
  const int saved = ::dup(fd);
  ::dup2(file.handle(), fd);
  write();
  ::dup2(saved, fd);
  ::close(saved);
  file.seek(0);
  return file.readAll();
}

namespace {

// The guard of this process's mounts: the homes it watches, and the end of
// the connection it reads them from (held until the process ends).
struct MountGuard {
  std::mutex mutex;
  int connection = -1;
  QStringList homes;

  void tell(const QString& home) const {
    const QByteArray line = QFile::encodeName(home) + '\n';
    for (qsizetype done = 0; connection >= 0 && done < line.size();) {
      // A guard gone (it never should be) raises no SIGPIPE here.
      const ssize_t n = ::send(connection, line.constData() + done, static_cast<size_t>(line.size() - done), MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += n;
    }
  }
};

MountGuard& mountGuard() {
  static auto* guard = new MountGuard;  // lives to the end of the process
  return *guard;
}

void watchHome(const QString& home) {
  MountGuard& guard = mountGuard();
  std::lock_guard lock(guard.mutex);
  guard.homes << home;
  guard.tell(home);
}

std::atomic<bool> handoffHeld{false};
std::atomic<bool> holderInside{false};
thread_local bool isHandoffHolder = false;

void holdTheHolder() {
  if (!isHandoffHolder) return;
  holderInside = true;
  while (handoffHeld) std::this_thread::yield();
}

}  // namespace

void guardMountsOfThisProcess() {
  MountGuard& guard = mountGuard();
  std::lock_guard lock(guard.mutex);
  if (guard.connection >= 0) return;
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    ADD_FAILURE() << "no connection for the mount guard: " << std::strerror(errno);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const QByteArray program = QFile::encodeName(toolPath(QStringLiteral("tlr_mount_guard")));
  char* const argv[] = {const_cast<char*>(program.constData()), nullptr};
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(ends[1]);
  if (spawned != 0) {
    ::close(ends[0]);
    ADD_FAILURE() << "the mount guard did not start: " << std::strerror(spawned);
    return;
  }
  // It leaves at once, its guard going on alone.
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  guard.connection = ends[0];
  for (const QString& home : guard.homes) guard.tell(home);
}

HeldHandoff::HeldHandoff() {
  handoffHeld = true;
  holderInside = false;
  setHandoffHookForTesting(&holdTheHolder);
  thread_ = std::make_unique<std::thread>([] {
    isHandoffHolder = true;
    runOnMain([] {});
  });
  holding_ = waitUntil([] { return holderInside.load(); });
}

HeldHandoff::~HeldHandoff() {
  handoffHeld = false;
  thread_->join();
  setHandoffHookForTesting(nullptr);
}

TempDir::~TempDir() {
  static_cast<void>(FileOps::removeItem(dir_.path()));
}

TempHome::TempHome() {
  watchHome(dir_.path());
  for (const char* name : kHomeVars) saved_.append({name, qgetenv(name)});
  qputenv("HOME", QFile::encodeName(dir_.path()));
  for (const char* name : kHomeVars) {
    if (QByteArray(name) != "HOME") qunsetenv(name);
  }
}

TempHome::~TempHome() {
  detachMountsBelow(dir_.path());
  // What the test started and did not wait for ends in this home, with its
  // variables still set, before the folder goes: else it writes on into a
  // removed home (making its folders again) or, once HOME names another
  // place, into the next test's.
  if (!workEnded(kHomeWorkEndsWithin * kSanitizerSlowdown))
    ADD_FAILURE() << "work of the pool still runs as the temporary home " << dir_.path().toStdString()
                  << " goes: " << OffMainPool::shared().busyCount() << " tasks";
  for (const auto& [name, value] : saved_) {
    if (value.isNull())
      qunsetenv(name.constData());
    else
      qputenv(name.constData(), value);
  }
}

bool TempHome::workEnded(std::chrono::milliseconds within) {
  const auto deadline = OffMainPool::Clock::now() + within;
  const bool onMain = QCoreApplication::instance() != nullptr && isMainThread();
  OffMainPool& pool = OffMainPool::shared();
  bool idle = false;
  while (!idle && OffMainPool::Clock::now() < deadline) {
    // A task may wait for the window thread (a handoff it waits for), and
    // what a task handed over may start more: the window thread serves
    // while it waits, and once more when the pool is idle, for the results
    // the last tasks handed over.
    if (onMain) QCoreApplication::processEvents(QEventLoop::AllEvents);
    idle = pool.waitForIdle(onMain ? std::min(deadline, OffMainPool::Clock::now() + std::chrono::milliseconds(20))
                                   : deadline);
    if (idle && onMain) {
      QCoreApplication::processEvents(QEventLoop::AllEvents);
      idle = pool.busyCount() == 0;
    }
  }
  // Then what the work gave the serial workers (the defaults' writes among
  // them).
  SerialWorker::flushAll();
  return idle;
}

QString TempHome::writeFile(const QString& relative, const QByteArray& content) {
  const QString full = dir_.path() + "/" + relative;
  QDir().mkpath(QFileInfo(full).absolutePath());
  QFile file(full);
  if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(content);
  return full;
}

bool HeldProcess::start(const QString& program, const QStringList& arguments) {
  {
    const ChildReaper::Starting forking;
    process_.start(program, arguments);
    pid_ = process_.processId();
    if (pid_ > 0) ChildReaper::hold(static_cast<pid_t>(pid_));
  }
  return process_.waitForStarted();
}

HeldProcess::~HeldProcess() {
  if (process_.state() != QProcess::NotRunning) {
    process_.kill();
    process_.waitForFinished();
  }
  if (pid_ > 0) ChildReaper::release(static_cast<pid_t>(pid_));
}

FakeBin::FakeBin() {
  oldPath_ = qgetenv("PATH");
  qputenv("PATH", QFile::encodeName(dir_.path()) + ":" + oldPath_);
}

FakeBin::~FakeBin() {
  qputenv("PATH", oldPath_);
  if (oldRuntimeDir_) {
    if (oldRuntimeDir_->isNull())
      qunsetenv("XDG_RUNTIME_DIR");
    else
      qputenv("XDG_RUNTIME_DIR", *oldRuntimeDir_);
  }
}

void FakeBin::provideUserManagerSocket() {
  const QString runtime = dir_.path() + "/run";
  QDir().mkpath(runtime + "/systemd");
  const QByteArray socketPath = QFile::encodeName(runtime + "/systemd/private");
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (fd >= 0 && socketPath.size() < static_cast<qsizetype>(sizeof address.sun_path)) {
    std::memcpy(address.sun_path, socketPath.constData(), static_cast<size_t>(socketPath.size()));
    (void)::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }
  if (fd >= 0) ::close(fd);  // the socket file stays
  if (!oldRuntimeDir_) oldRuntimeDir_ = qgetenv("XDG_RUNTIME_DIR");
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
}

QString FakeBin::add(const QString& name, const QString& body) {
  const QString full = dir_.path() + "/" + name;
  QFile file(full);
  if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    QByteArray text = body.toUtf8();
    if (!text.startsWith("#!")) text.prepend("#!/bin/sh\n");
    file.write(text);
  }
  file.close();
  file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                      QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
  return full;
}

QString FakeBin::recordPath(const QString& name) const { return dir_.path() + "/" + name + ".record"; }

QString FakeBin::addRecorder(const QString& name, int exitCode) {
  add(name, QStringLiteral("for a in \"$@\"; do printf '%s\\n' \"$a\" >> '%1'; done\n"
                           "printf -- '--\\n' >> '%1'\nexit %2\n")
                .arg(recordPath(name))
                .arg(exitCode));
  return recordPath(name);
}

QString FakeBin::addUserManager(const QString& runningLabel, int mainPid) {
  provideUserManagerSocket();
  add("systemctl", QStringLiteral("echo \"$@\" >> '%1'\n"
                                  "case \"$*\" in *%2.service*) printf 'MainPID=%3\\nActiveState=active\\n';;\n"
                                  "*) printf 'MainPID=0\\nActiveState=inactive\\n';; esac\n")
                       .arg(recordPath("systemctl"), runningLabel, QString::number(mainPid)));
  return recordPath("systemctl");
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  QDeadlineTimer deadline(timeout);
  while (true) {
    if (condition()) return true;
    if (deadline.hasExpired()) return condition();
    if (QCoreApplication::instance())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
}

void finishOffMainWork(std::chrono::milliseconds timeout) {
  waitUntil([] { return OffMainPool::shared().busyCount() == 0; }, timeout);
  // A result posted just before the pool fell idle.
  QCoreApplication::processEvents();
}

void writeBytes(const QString& path, const QByteArray& data) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size())
    ADD_FAILURE() << "cannot write " << path.toStdString();
}

QByteArray readBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeNativeBytes(const QByteArray& path, const QByteArray& data) {
  const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::write(fd, data.constData(), static_cast<size_t>(data.size())) != data.size())
    ADD_FAILURE() << "cannot write " << path.toStdString();
  if (fd >= 0) ::close(fd);
}

QByteArray readNativeBytes(const QByteArray& path) {
  QFile file;
  const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "<missing>";
  if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    return "<missing>";
  }
  return file.readAll();
}

namespace {

bool capabilities(bool set, __user_cap_data_struct (&data)[2]) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};  // this thread
  return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

}  // namespace

AsOrdinaryUser::AsOrdinaryUser() {
  __user_cap_data_struct data[2]{};
  if (!capabilities(false, data)) return;
  effective_[0] = data[0].effective;
  effective_[1] = data[1].effective;
  data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
  changed_ = capabilities(true, data);
  EXPECT_TRUE(changed_) << "could not drop the file capabilities";
}

AsOrdinaryUser::~AsOrdinaryUser() {
  __user_cap_data_struct data[2]{};
  if (!changed_ || !capabilities(false, data)) return;
  data[0].effective = effective_[0];
  data[1].effective = effective_[1];
  capabilities(true, data);
}

bool setImmutable(const QString& path, bool immutable) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (done) {
    flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return done;
}

Unremovable::Unremovable(const QString& file) : file_(file), folder_(QFileInfo(file).path()) {
  if (::geteuid() != 0) {
    ok_ = QFile::setPermissions(folder_, QFile::ReadOwner | QFile::ExeOwner);
  } else {
    ok_ = setImmutable(file_, true);
  }
}

Unremovable::~Unremovable() {
  if (::geteuid() != 0)
    QFile::setPermissions(folder_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  else if (ok_)
    setImmutable(file_, false);
}

PrivateMounts::PrivateMounts() {
  original_ = ::open("/proc/thread-self/ns/mnt", O_RDONLY | O_CLOEXEC);
  workingDir_ = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (original_ < 0 || workingDir_ < 0) {
    failure_ = QStringLiteral("cannot open this thread's mount namespace: ") + QString::fromLocal8Bit(std::strerror(errno));
    return;
  }
  // The thread's own copy of the mounts, none of them shared back.
  if (::unshare(CLONE_NEWNS) != 0) {
    failure_ = QStringLiteral("no mount namespace of its own (root needed): ") + QString::fromLocal8Bit(std::strerror(errno));
    return;
  }
  entered_ = true;
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    failure_ = QStringLiteral("cannot make the mounts private: ") + QString::fromLocal8Bit(std::strerror(errno));
}

PrivateMounts::~PrivateMounts() {
  // Back to the namespace it came from; the private one, with everything
  // mounted in it, ends with its last member.
  if (entered_) {
    if (::setns(original_, CLONE_NEWNS) != 0)
      ADD_FAILURE() << "cannot return to the mount namespace: " << std::strerror(errno);
    if (::fchdir(workingDir_) != 0) ADD_FAILURE() << "cannot return to the working folder";
  }
  if (original_ >= 0) ::close(original_);
  if (workingDir_ >= 0) ::close(workingDir_);
}

bool PrivateMounts::bind(const QString& source, const QString& target) {
  if (!failure_.isEmpty()) return false;
  const bool ok = ::mount(QFile::encodeName(source).constData(), QFile::encodeName(target).constData(), nullptr,
                          MS_BIND, nullptr) == 0;
  EXPECT_TRUE(ok) << "bind " << target.toStdString() << ": " << std::strerror(errno);
  return ok;
}

bool PrivateMounts::mountTmpfs(const QString& target) {
  if (!failure_.isEmpty()) return false;
  const bool ok = ::mount("tlr-test", QFile::encodeName(target).constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=4m") == 0;
  EXPECT_TRUE(ok) << "tmpfs at " << target.toStdString() << ": " << std::strerror(errno);
  return ok;
}

namespace {

// The folder holding `relative` below `root`, open (made where missing when
// `make`), and the last part's name; -1 when it cannot be reached.
int folderOf(const QString& root, const QByteArray& relative, bool make, QByteArray* last) {
  int fd = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const QList<QByteArray> parts = relative.split('/');
  for (qsizetype i = 0; i + 1 < parts.size() && fd >= 0; ++i) {
    if (make) ::mkdirat(fd, parts[i].constData(), 0755);
    const int next = ::openat(fd, parts[i].constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(fd);
    fd = next;
  }
  *last = parts.last();
  return fd;
}

}  // namespace

void writeThroughFolders(const QString& root, const QByteArray& relative, const QByteArray& data) {
  QByteArray last;
  const int folder = folderOf(root, relative, true, &last);
  ASSERT_GE(folder, 0) << relative.left(200).toStdString();
  const int fd = ::openat(folder, last.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ::close(folder);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::write(fd, data.constData(), data.size()), data.size());
  ::close(fd);
}

QByteArray readThroughFolders(const QString& root, const QByteArray& relative) {
  QByteArray last;
  const int folder = folderOf(root, relative, false, &last);
  const int fd = folder >= 0 ? ::openat(folder, last.constData(), O_RDONLY | O_CLOEXEC) : -1;
  if (folder >= 0) ::close(folder);
  if (fd < 0) return "<missing>";
  QByteArray content;
  char buffer[65536];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) content.append(buffer, n);
  ::close(fd);
  return content;
}

unsigned modeOf(const QString& path) {
  struct stat st;
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0u;
}

SilentSocket::SilentSocket(const QString& path) : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_un where{};
  where.sun_family = AF_UNIX;
  const QByteArray name = QFile::encodeName(path);
  if (fd_ < 0 || static_cast<std::size_t>(name.size()) >= sizeof where.sun_path) return;
  std::memcpy(where.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
  listening_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0 && ::listen(fd_, 16) == 0;
}

SilentSocket::~SilentSocket() {
  if (fd_ >= 0) ::close(fd_);
}

QString processState(pid_t pid) {
  const QString status = readFile(QStringLiteral("/proc/%1/status").arg(pid));
  if (status.isEmpty()) return QStringLiteral("pid %1 gone").arg(pid);
  QStringList said{QStringLiteral("pid %1").arg(pid)};
  for (const QString& line : status.split('\n'))
    for (const char* field : {"State:", "TracerPid:", "SigPnd:", "ShdPnd:", "SigBlk:", "SigIgn:"})
      if (line.startsWith(QLatin1String(field))) said << line.simplified();
  return said.join(QStringLiteral(", "));
}

QString readFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

QString toolPath(const QString& name) { return QStringLiteral(TLR_TEST_BIN_DIR "/tools/") + name; }

ProgramRun runProgram(const QString& program, const QStringList& arguments, const std::optional<QByteArray>& input) {
  constexpr auto kDeadline = std::chrono::minutes(2);
  ChildSpec spec;
  spec.program = program;
  spec.arguments = arguments;
  spec.input = input;
  spec.timeout = kDeadline * kSanitizerSlowdown;
  const ChildResult result = runChild(spec);
  ProgramRun run;
  run.out = result.out;
  run.err = result.err;
  if (!result.started)
    run.failure = program + QStringLiteral(" did not start: ") + result.startError;
  else if (result.timedOut)
    run.failure = program + QStringLiteral(" did not end within %1 s")
                                .arg(std::chrono::duration_cast<std::chrono::seconds>(spec.timeout).count());
  else if (result.keeperLost)
    run.failure = program + QStringLiteral(" lost the process that ran it");
  else if (!result.exited())
    run.failure = program + QStringLiteral(" was ended by ") + signalName(result.termSignal());
  else
    run.exitCode = result.exitCode();
  return run;
}

}  // namespace tlr::test

namespace tlr::test {

LinkedDocument::LinkedDocument(const QString& linkPath, QByteArray content)
    : link_(linkPath), document_(dir_.path() + QStringLiteral("/my-notes.txt")), content_(std::move(content)) {
  writeBytes(document_, content_);
  QDir().mkpath(QFileInfo(linkPath).path());
  if (!QFile::link(document_, linkPath)) ADD_FAILURE() << "cannot link " << linkPath.toStdString();
}

bool LinkedDocument::untouched() const {
  const QFileInfo info(document_);
  return info.isFile() && !info.isSymLink() && readBytes(document_) == content_;
}

bool LinkedDocument::replacedByAFile() const {
  const QFileInfo info(link_);
  return !info.isSymLink() && info.isFile();
}

}  // namespace tlr::test
