#include "SpawnedChild.h"

#include "platform/ChildReaper.h"

#include <QFile>

#include <cerrno>
#include <ctime>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char** environ;

namespace tlr::test {

SpawnedChild::SpawnedChild(const QString& program, const QStringList& arguments) {
  int inPipe[2], outPipe[2];
  if (::pipe2(inPipe, O_CLOEXEC) != 0) return;
  if (::pipe2(outPipe, O_CLOEXEC) != 0) {
    ::close(inPipe[0]);
    ::close(inPipe[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  std::vector<QByteArray> store{QFile::encodeName(program)};
  for (const QString& a : arguments) store.push_back(a.toLocal8Bit());
  std::vector<char*> argv;
  for (QByteArray& s : store) argv.push_back(s.data());
  argv.push_back(nullptr);
  // Its own process group, so that whatever it starts goes with it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  {
    // The test reaps it itself: where the process adopts orphans (as the
    // application does), the reaper must leave this child alone.
    const ChildReaper::Starting starting;
    if (::posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), environ) != 0) pid_ = -1;
    if (pid_ > 0) ChildReaper::hold(pid_);
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(inPipe[0]);
  ::close(outPipe[1]);
  in_ = inPipe[1];
  out_ = outPipe[0];
}

SpawnedChild::~SpawnedChild() {
  if (in_ >= 0) ::close(in_);
  if (out_ >= 0) ::close(out_);
  if (pid_ <= 0) return;
  // The group: the child and what it started. Once the child is reaped its
  // number is free, and a process that took it may lead a group of its own
  // under the same number: then nothing of ours is left in that group.
  if (!reaped_ || ::kill(pid_, 0) != 0) ::kill(-pid_, SIGKILL);
  // Also a child that has left its group for another one.
  if (!reaped_) ::kill(pid_, SIGKILL);
  if (!reaped_) {
    ::waitpid(pid_, nullptr, 0);
    ChildReaper::release(pid_);
  }
}

bool SpawnedChild::writeLine(const QByteArray& line) {
  const QByteArray text = line + '\n';
  // SIGPIPE held back on this thread for the write: a child that has ended
  // fails it with EPIPE, and the signal it raised is taken back.
  sigset_t pipe, before;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipe, &before);
  const char* data = text.constData();
  qsizetype left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(in_, data, static_cast<size_t>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    data += n;
    left -= n;
  }
  if (left > 0 && errno == EPIPE && !sigismember(&before, SIGPIPE)) {
    const timespec now{};
    while (::sigtimedwait(&pipe, nullptr, &now) < 0 && errno == EINTR) {
    }
  }
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return left == 0;
}

QByteArray SpawnedChild::readLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!buffered_.contains('\n')) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return {};
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char chunk[16384];
    const ssize_t n = ::read(out_, chunk, sizeof chunk);
    if (n <= 0) return {};
    buffered_.append(chunk, n);
  }
  const qsizetype end = buffered_.indexOf('\n');
  const QByteArray line = buffered_.left(end);
  buffered_.remove(0, end + 1);
  return line;
}

bool SpawnedChild::signal(int sig) const { return pid_ > 0 && ::kill(pid_, sig) == 0; }

int SpawnedChild::wait() {
  int status = 0;
  if (pid_ <= 0 || reaped_) return -1;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, 0);
  } while (r < 0 && errno == EINTR);
  reaped_ = true;
  ChildReaper::release(pid_);
  return status;
}

}  // namespace tlr::test
