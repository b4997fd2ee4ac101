#include "platform/DirectoryWatcher.h"

#include "platform/MainThread.h"

#include <QFile>

#include <cerrno>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace tlr {

struct DirectoryWatcher::Shared {
  std::function<void()> onChange;
};

DirectoryWatcher::~DirectoryWatcher() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopFd_, &one, sizeof one);
    thread_.join();
  }
  if (inotifyFd_ >= 0) ::close(inotifyFd_);
  if (stopFd_ >= 0) ::close(stopFd_);
  shared_.reset();  // notices still queued for the main thread find nothing
}

bool DirectoryWatcher::start(const QString& folder, std::function<void()> onChange) {
  if (thread_.joinable()) return false;
  const int inotifyFd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (inotifyFd < 0) return false;
  constexpr std::uint32_t kMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR;
  if (::inotify_add_watch(inotifyFd, QFile::encodeName(folder).constData(), kMask) < 0) {
    ::close(inotifyFd);
    return false;
  }
  const int stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd < 0) {
    ::close(inotifyFd);
    return false;
  }
  inotifyFd_ = inotifyFd;
  stopFd_ = stopFd;
  shared_ = std::make_shared<Shared>(Shared{std::move(onChange)});
  thread_ = std::thread([this, inotifyFd, stopFd] { run(inotifyFd, stopFd); });
  return true;
}

void DirectoryWatcher::run(int inotifyFd, int stopFd) {
  ::pthread_setname_np(::pthread_self(), "TLR.dirwatch");
  const std::weak_ptr<Shared> weak = shared_;
  alignas(struct inotify_event) char buffer[16384];
  while (true) {
    pollfd fds[2] = {{inotifyFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    bool changed = false;
    while (::read(inotifyFd, buffer, sizeof buffer) > 0) changed = true;
    if (!changed) continue;
    runOnMain([weak] {
      if (const auto shared = weak.lock()) shared->onChange();
    });
  }
}

}  // namespace tlr
