#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <thread>

namespace tlr {

// Watches one folder (inotify) on a background thread and tells the main
// thread when entries arrive complete (closed after writing, or moved in) or
// leave. Changes that come together are told once. The folder's parent (or,
// while that is gone too, its nearest existing ancestor) is watched as well:
// when the folder is removed or renamed and later made again, watching
// resumes on the new folder by itself, and that is told as a change. Destroy
// on the main thread: after destruction no queued notice runs.
class DirectoryWatcher final {
 public:
  DirectoryWatcher() = default;
  ~DirectoryWatcher();
  DirectoryWatcher(const DirectoryWatcher&) = delete;
  DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

  // Starts watching `folder`; `onChange` runs on the main thread. False when
  // the folder cannot be watched (or this watcher already watches).
  [[nodiscard]] bool start(const QString& folder, std::function<void()> onChange);
  bool isWatching() const { return thread_.joinable(); }

 private:
  struct Shared;
  void run(int inotifyFd, int stopFd);
  // Watches the folder (when it exists) and the nearest existing ancestor
  // above it. True when the folder is watched anew.
  [[nodiscard]] bool arm();

  QString folder_;
  // Set up by start(), then used only by the thread.
  int folderWatch_ = -1;
  int ancestorWatch_ = -1;
  std::shared_ptr<Shared> shared_;
  int inotifyFd_ = -1;
  int stopFd_ = -1;
  std::thread thread_;
};

}  // namespace tlr
