#include "watcher/SetupCompletionWatcher.h"

#include "platform/FileOps.h"
#include "platform/Log.h"

#include <QFile>
#include <QTimer>

namespace tlr {

SetupCompletionWatcher& SetupCompletionWatcher::shared() {
  static SetupCompletionWatcher watcher;
  return watcher;
}

SetupCompletionWatcher::SetupCompletionWatcher(Timing timing, Clock clock, QObject* parent)
    : QObject(parent), timing_(timing), clock_(std::move(clock)) {}

void SetupCompletionWatcher::watch(const QString& agentId, const QString& sentinelPath, int timeoutSec,
                                   std::function<void()> onCompleted, Old old) {
  if (activeWatchers_.contains(agentId)) return;
  activeWatchers_.insert(agentId);
  // A file left from an earlier run must not count as this run's end.
  if (old == Old::removed) QFile::remove(sentinelPath);
  log("[SetupWatcher] ", agentId + QStringLiteral(" 开始 poll sentinel: ") + sentinelPath);

  auto watch = std::make_shared<Watch>();
  watch->agentId = agentId;
  watch->sentinelPath = sentinelPath;
  watch->deadline = clock_() + std::chrono::seconds(timeoutSec);
  watch->onCompleted = std::move(onCompleted);
  continueWatch(watch);
}

void SetupCompletionWatcher::continueWatch(const std::shared_ptr<Watch>& watch) {
  if (clock_() >= watch->deadline) {
    log("[SetupWatcher] ", watch->agentId + QStringLiteral(" sentinel 超时 30 分钟未出现 → 放弃"));
    activeWatchers_.remove(watch->agentId);
    return;
  }
  QTimer::singleShot(timing_.pollInterval, this, [this, watch] { look(watch); });
}

void SetupCompletionWatcher::look(const std::shared_ptr<Watch>& watch) {
  // The sentinel lies in a folder that everyone can write to, under a name
  // anyone can guess: only a plain file of our own is the one the setup
  // touched.
  const std::optional<FileOps::ItemInfo> sentinel = FileOps::itemInfo(watch->sentinelPath);
  if (!sentinel || sentinel->isSymLink || sentinel->isDirectory || !sentinel->ownedByUs) {
    continueWatch(watch);
    return;
  }
  log("[SetupWatcher] ", watch->agentId + QStringLiteral(" sentinel 出现 → 触发 onCompleted"));
  QFile::remove(watch->sentinelPath);
  activeWatchers_.remove(watch->agentId);
  if (watch->onCompleted) watch->onCompleted();
}

}  // namespace tlr
