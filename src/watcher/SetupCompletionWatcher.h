#pragma once

#include <QObject>
#include <QSet>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

namespace tlr {

struct SetupWatchTiming {
  // Between two looks for the sentinel; the first look comes one interval
  // after the start.
  std::chrono::milliseconds pollInterval{std::chrono::seconds(3)};
};

// Notices that an agent's first-time setup, running in a terminal window, has
// finished: the setup's command line ends by touching a sentinel file, which
// is polled for until a time-out. At most one watch per agent. Main thread
// only; the polls are timer turns, never sleeps.
class SetupCompletionWatcher final : public QObject {
  Q_OBJECT

 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  using Timing = SetupWatchTiming;

  // The process-wide watcher, created on first use (on the main thread).
  static SetupCompletionWatcher& shared();

  explicit SetupCompletionWatcher(Timing timing = {}, Clock clock = &std::chrono::steady_clock::now,
                                  QObject* parent = nullptr);

  // Whether a file already at the sentinel's path is an earlier run's
  // (removed) or may be this run's (its caller removed the old one).
  enum class Old { removed, kept };
  // Deletes any file at `sentinelPath` (unless `old` says it is kept), then
  // looks for it every poll interval. When it appears: deletes it and calls
  // `onCompleted` once. After `timeoutSec` without it: gives up without
  // calling. While the agent is being watched another call for it changes
  // nothing.
  void watch(const QString& agentId, const QString& sentinelPath, int timeoutSec,
             std::function<void()> onCompleted, Old old = Old::removed);

  const QSet<QString>& activeWatchers() const { return activeWatchers_; }

 private:
  struct Watch {
    QString agentId;
    QString sentinelPath;
    std::chrono::steady_clock::time_point deadline;
    std::function<void()> onCompleted;
  };

  // One turn of a watch: give up past the deadline, else look again after
  // the interval.
  void continueWatch(const std::shared_ptr<Watch>& watch);
  void look(const std::shared_ptr<Watch>& watch);

  const Timing timing_;
  const Clock clock_;
  QSet<QString> activeWatchers_;
};

}  // namespace tlr
