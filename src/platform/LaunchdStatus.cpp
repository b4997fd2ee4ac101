#include "platform/LaunchdStatus.h"

#include "platform/Log.h"
#include "platform/MainThread.h"
#include "platform/OffMain.h"
#include "platform/ServiceManager.h"

#include <QHash>
#include <QSet>

#include <atomic>
#include <chrono>
#include <mutex>

namespace tlr::LaunchdStatus {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kLaunchdCacheLife = std::chrono::seconds(30);

struct LaunchdAnswer {
  bool managed = false;
  Clock::time_point expiresAt;
};

// One cache for the whole process. `query` is held across each systemctl
// run, so checks of any labels run one at a time; `lock` guards the answers
// only briefly, so a reader never waits for a running systemctl.
// Never destroyed: a refresh may still run while the process ends.
struct LaunchdCache {
  std::mutex query;
  std::mutex lock;
  QHash<QString, LaunchdAnswer> answers;
  QSet<QString> refreshing;

  static LaunchdCache& instance() {
    static LaunchdCache* cache = new LaunchdCache;
    return *cache;
  }
};

std::atomic<bool> mainThreadMayWait{true};

// Asks systemctl (one run at a time) and keeps the answer for 30 seconds.
bool askUserManager(const QString& label) {
  LaunchdCache& cache = LaunchdCache::instance();
  std::lock_guard running(cache.query);
  {
    // Another caller may have asked while this one waited for its turn.
    std::lock_guard guard(cache.lock);
    if (const auto it = cache.answers.constFind(label); it != cache.answers.cend() && it->expiresAt > Clock::now())
      return it->managed;
  }
  const auto state = ServiceManager::list(label);
  const bool managed = state && state->running();
  // One-pass insertion: a label is registry text and may hold "%1".
  log("[launchctl list ", QStringLiteral("%1] stdout.count=%2 managed=%3")
                              .arg(label, QString::number(state ? state->output.size() : 0),
                                   managed ? QStringLiteral("true") : QStringLiteral("false")));
  std::lock_guard guard(cache.lock);
  cache.answers.insert(label, {managed, Clock::now() + kLaunchdCacheLife});
  return managed;
}

// Asks again on a thread of its own, once at a time per label.
void refreshInBackground(const QString& label) {
  LaunchdCache& cache = LaunchdCache::instance();
  {
    std::lock_guard guard(cache.lock);
    if (cache.refreshing.contains(label)) return;
    cache.refreshing.insert(label);
  }
  const bool started = startOffMain(nullptr, [label] {
    askUserManager(label);
    LaunchdCache& cache = LaunchdCache::instance();
    std::lock_guard guard(cache.lock);
    cache.refreshing.remove(label);
  });
  if (!started) {
    std::lock_guard guard(cache.lock);
    cache.refreshing.remove(label);
  }
}

}  // namespace

bool isManaged(const QString& label) {
  // Without a user manager nothing is managed, and there is nobody to ask.
  if (!ServiceManager::userManagerAvailable()) return false;
  LaunchdCache& cache = LaunchdCache::instance();
  const bool mayWait = !isMainThread() || mainThreadMayWait.load();
  bool known = false;
  {
    std::lock_guard guard(cache.lock);
    const auto it = cache.answers.constFind(label);
    if (it != cache.answers.cend() && it->expiresAt > Clock::now()) return it->managed;
    known = it != cache.answers.cend() && it->managed;
  }
  if (mayWait) return askUserManager(label);
  // The main thread answers from what it knows (an unknown job is not
  // managed) and never waits for systemctl; the answer follows shortly.
  refreshInBackground(label);
  return known;
}

void setMainThreadMayWait(bool mayWait) { mainThreadMayWait.store(mayWait); }

void invalidate(const QString& label) {
  LaunchdCache& cache = LaunchdCache::instance();
  std::lock_guard guard(cache.lock);
  cache.answers.remove(label);
}

}  // namespace tlr::LaunchdStatus
