#include "platform/DirectoryWatcher.h"

#include "platform/MainThread.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

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

namespace {

constexpr std::uint32_t kFolderMask =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// What may bring the folder back, or take away the ancestor watched.
constexpr std::uint32_t kAncestorMask = IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

QString parentOf(const QString& path) {
  const qsizetype cut = path.lastIndexOf('/');
  return cut <= 0 ? QStringLiteral("/") : path.left(cut);
}

}  // namespace

bool DirectoryWatcher::start(const QString& folder, std::function<void()> onChange) {
  if (thread_.joinable()) return false;
  const int inotifyFd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (inotifyFd < 0) return false;
  const int stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd < 0) {
    ::close(inotifyFd);
    return false;
  }
  inotifyFd_ = inotifyFd;
  stopFd_ = stopFd;
  folder_ = folder;
  while (folder_.size() > 1 && folder_.endsWith('/')) folder_.chop(1);
  // Armed before the thread runs, so nothing that happens meanwhile is missed.
  if (!arm()) {
    ::close(inotifyFd);
    ::close(stopFd);
    inotifyFd_ = stopFd_ = -1;
    ancestorWatch_ = -1;
    return false;
  }
  shared_ = std::make_shared<Shared>(Shared{std::move(onChange)});
  thread_ = std::thread([this, inotifyFd, stopFd] { run(inotifyFd, stopFd); });
  return true;
}

bool DirectoryWatcher::arm() {
  const int before = folderWatch_;
  // Each pass watches the folder, or else its nearest existing ancestor. A
  // folder on the way made between the two looks (mkdir -p is quick) told
  // of itself before anything watched it: then look again, nearer, at most
  // once for each level of the path.
  for (qsizetype passes = folder_.count('/') + 1; passes > 0; --passes) {
    folderWatch_ = ::inotify_add_watch(inotifyFd_, QFile::encodeName(folder_).constData(), kFolderMask);
    QString up = folder_;
    int found = -1;
    while (found < 0 && up != QLatin1String("/")) {
      up = parentOf(up);
      found = ::inotify_add_watch(inotifyFd_, QFile::encodeName(up).constData(), kAncestorMask);
    }
    if (ancestorWatch_ >= 0 && ancestorWatch_ != found) ::inotify_rm_watch(inotifyFd_, ancestorWatch_);
    ancestorWatch_ = found;
    if (folderWatch_ >= 0 || found < 0) break;
    const qsizetype cut = folder_.indexOf('/', up == QLatin1String("/") ? 1 : up.size() + 1);
    if (!QFileInfo(cut < 0 ? folder_ : folder_.left(cut)).isDir()) break;
  }
  return folderWatch_ >= 0 && folderWatch_ != before;
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
    bool rearm = false;
    ssize_t n;
    while ((n = ::read(inotifyFd, buffer, sizeof buffer)) > 0) {
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if (event->wd == ancestorWatch_) {
          rearm = true;
        } else if (event->wd == folderWatch_) {
          if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
            // Gone from its path: the watch would follow a renamed folder.
            if (!(event->mask & IN_IGNORED)) ::inotify_rm_watch(inotifyFd, folderWatch_);
            folderWatch_ = -1;
            rearm = true;
          }
          changed = true;
        }
      }
    }
    if (rearm && arm()) changed = true;  // made again: what is in it now counts
    if (!changed) continue;
    runOnMain([weak] {
      if (const auto shared = weak.lock()) shared->onChange();
    });
  }
}

}  // namespace tlr
